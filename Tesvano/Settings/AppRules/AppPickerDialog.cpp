#include "Tesvano/Settings/AppRules/AppPickerDialog.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "Platform/Updater/StartJudgement.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/AppRules/InstalledAppsModel.h"
#include "Tesvano/Settings/Components/AppRowLabel.h"
#include "Tesvano/Settings/Components/OverlayScrollerSweep.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "TesvanoKit/Apps/AppPickerQuery.h"

namespace tesvano {

namespace {

constexpr int iconSize = 32;

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// Draws a row as an application label draws it: icon, name, identity underneath. One painter
// for every row instead of a widget per row keeps a list of thousands cheap.
class AppRowDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        const int text = QFontMetrics(option.font).height() +
                         QFontMetrics(SettingsStyle::caption2(option.widget)).height() + 2;
        return {option.rect.width(), std::max(iconSize, text) + 12};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem base = option;
        initStyleOption(&base, index);
        base.text.clear();
        base.icon = QIcon();
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &base, painter, widget);

        const QRect area = option.rect.adjusted(12, 0, -12, 0);
        const QRect iconRect(area.left(), area.center().y() - iconSize / 2 + 1, iconSize, iconSize);
        const QVariant icon = index.data(Qt::DecorationRole);
        if (icon.canConvert<QIcon>() && !icon.value<QIcon>().isNull()) {
            icon.value<QIcon>().paint(painter, iconRect);
        } else {
            painter->drawPixmap(iconRect.topLeft(), AppRowLabel::placeholder(widget, iconSize));
        }

        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorRole textRole = selected ? QPalette::HighlightedText : QPalette::Text;
        const QFont captionFont = SettingsStyle::caption2(widget);
        const int titleHeight = QFontMetrics(option.font).height();
        const int captionHeight = QFontMetrics(captionFont).height();
        const int top = area.center().y() - (titleHeight + 2 + captionHeight) / 2 + 1;
        const int left = iconRect.right() + 1 + 12;
        const QRect titleRect(left, top, area.right() - left, titleHeight);
        const QRect captionRect(left, top + titleHeight + 2, area.right() - left, captionHeight);

        painter->save();
        painter->setFont(option.font);
        painter->setPen(option.palette.color(textRole));
        painter->drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(option.font)
                              .elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                          titleRect.width()));
        QColor secondary = option.palette.color(textRole);
        secondary.setAlphaF(0.62f);
        painter->setFont(captionFont);
        painter->setPen(secondary);
        painter->drawText(captionRect, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(captionFont)
                              .elidedText(index.data(InstalledAppsModel::IdentityRole).toString(),
                                          Qt::ElideMiddle, captionRect.width()));
        painter->restore();
    }
};

// A symbol above a line of text, centred: what a view shows when it has no content.
QWidget* unavailableView(const QString& symbol, QLabel* title, QLabel* description,
                         QWidget* parent) {
    auto* view = new QWidget(parent);
    auto* column = new QVBoxLayout(view);
    column->addStretch(1);
    auto* image = new QLabel(view);
    image->setAlignment(Qt::AlignCenter);
    image->setPixmap(Symbols::pixmap(symbol.toStdString(), 40,
                                     SettingsStyle::color(view, SettingsStyle::Level::secondary),
                                     view->devicePixelRatioF()));
    column->addWidget(image);
    title->setParent(view);
    title->setAlignment(Qt::AlignCenter);
    title->setWordWrap(true);
    title->setTextFormat(Qt::PlainText);
    title->setFont(SettingsStyle::title(view));
    SettingsStyle::setTextLevel(title, SettingsStyle::Level::secondary);
    column->addWidget(title);
    if (description != nullptr) {
        description->setParent(view);
        description->setAlignment(Qt::AlignCenter);
        description->setWordWrap(true);
        SettingsStyle::setTextLevel(description, SettingsStyle::Level::secondary);
        column->addWidget(description);
    }
    column->addStretch(1);
    return view;
}

}  // namespace

AppPickerDialog::AppPickerDialog(AppState& state, OnSelect onSelect, QWidget* parent, Scan scan)
    : QDialog(parent), state_(state), onSelect_(std::move(onSelect)), scan_(std::move(scan)) {
    setObjectName(QStringLiteral("appPicker"));
    setWindowTitle(state_.text("Choose an App"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(width, height);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    auto* heading = new QLabel(state_.text("Choose an App"), this);
    heading->setFont(SettingsStyle::headline(this));
    header->addWidget(heading);
    header->addStretch(1);
    cancel_ = new QPushButton(state_.text("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);  // Escape does the same
    header->addWidget(cancel_);
    layout->addLayout(header);
    layout->addWidget(divider(this));

    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(12, 8, 12, 8);
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("search"));
    search_->setPlaceholderText(state_.text("Search"));
    search_->setClearButtonEnabled(true);
    search_->addAction(Symbols::icon("magnifyingglass"), QLineEdit::LeadingPosition);
    toolbar->addWidget(search_);
    layout->addLayout(toolbar);

    model_ = new InstalledAppsModel(
        [&state = state_](const std::string& identity) { return state.display().icon(identity); },
        this);
    filter_ = new InstalledAppsFilter(this);
    filter_->setSourceModel(model_);

    stack_ = new QStackedWidget(this);
    stack_->addWidget(unavailableView(QStringLiteral("hourglass"),
                                      new QLabel(state_.text("Loading apps…")), nullptr, stack_));
    list_ = new QListView(stack_);
    list_->setObjectName(QStringLiteral("apps"));
    list_->setModel(filter_);
    list_->setItemDelegate(new AppRowDelegate(list_));
    list_->setUniformItemSizes(true);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    stack_->addWidget(list_);
    noResults_ = new QLabel;
    // Shows what was typed.
    noResults_->setTextFormat(Qt::PlainText);
    stack_->addWidget(unavailableView(QStringLiteral("magnifyingglass"), noResults_,
                                      new QLabel(state_.text("Check the spelling or try a new "
                                                             "search.")),
                                      stack_));
    layout->addWidget(stack_, 1);
    layout->addWidget(divider(this));

    auto* manualRow = new QWidget(this);
    manualRow->setToolTip(state_.text("Add an app that isn't in the list by its app id."));
    auto* manual = new QHBoxLayout(manualRow);
    manual->setContentsMargins(16, 16, 16, 16);
    manual->setSpacing(8);
    manual_ = new QLineEdit(manualRow);
    manual_->setObjectName(QStringLiteral("manualAppId"));
    manual_->setPlaceholderText(state_.text("Application ID"));
    manual->addWidget(manual_, 1);
    add_ = new QPushButton(state_.text("Add"), manualRow);
    add_->setObjectName(QStringLiteral("add"));
    add_->setAutoDefault(false);
    add_->setEnabled(false);
    manual->addWidget(add_);
    layout->addWidget(manualRow);

    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        filter_->setQuery(text);
        refreshContent();
    });
    connect(manual_, &QLineEdit::textChanged, this, [this](const QString& text) {
        add_->setEnabled(!AppPickerQuery::normalizedManualAppId(text.toStdString()).empty());
    });
    connect(manual_, &QLineEdit::returnPressed, this, &AppPickerDialog::submitManualEntry);
    connect(add_, &QPushButton::clicked, this, &AppPickerDialog::submitManualEntry);
    connect(list_, &QListView::clicked, this,
            [this](const QModelIndex& index) { select(index.row()); });
    connect(list_, &QListView::activated, this,
            [this](const QModelIndex& index) { select(index.row()); });
    connect(&watcher_, &QFutureWatcher<std::vector<InstalledApp>>::finished, this,
            [this] { showApps(watcher_.future().result()); });

    new OverlayScrollerSweep(this);
    refreshContent();
    // Typing starts a search: the field has the focus when the dialog opens, not the Cancel
    // button that comes first in the tab order.
    search_->setFocus(Qt::OtherFocusReason);
}

AppPickerDialog::~AppPickerDialog() {
    // The worker keeps running to its end; its result then goes nowhere.
    watcher_.disconnect();
}

void AppPickerDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    startScan();
}

void AppPickerDialog::startScan() {
    if (scanStarted_) {
        return;
    }
    scanStarted_ = true;
    // What only the main thread may read is read here; the worker gets copies.
    InstalledAppsScanner::Environment environment{
        InstalledAppsScanner::searchFolders(), platform::DesktopEntryIndex::currentDesktops(),
        state_.display().runningApplications(), state_.effectiveLanguage()};
    watcher_.setFuture(QtConcurrent::run([scan = scan_, environment = std::move(environment)] {
        const platform::ThreadSignalStack signalStack;
        return scan(environment);
    }));
}

void AppPickerDialog::waitForScan() {
    startScan();
    // Not the future's own wait: that may run a task not yet started on this thread.
    QThreadPool::globalInstance()->waitForDone();
    // The watcher reports through the event loop.
    for (int i = 0; i < 100 && !delivered_; ++i) {
        QCoreApplication::processEvents();
    }
}

void AppPickerDialog::showApps(std::vector<InstalledApp> apps) {
    delivered_ = true;
    model_->setApps(std::move(apps));
    refreshContent();
}

AppPickerDialog::Content AppPickerDialog::content() const {
    if (model_->rowCount() == 0) {
        return Content::loading;
    }
    return filter_->rowCount() > 0 ? Content::list : Content::noResults;
}

void AppPickerDialog::refreshContent() {
    const Content shown = content();
    if (shown == Content::noResults) {
        noResults_->setText(
            state_.text("No Results for “%@”").replace(QStringLiteral("%@"), search_->text()));
    }
    stack_->setCurrentIndex(static_cast<int>(shown));
}

void AppPickerDialog::select(int row) {
    const QModelIndex index = filter_->index(row, 0);
    if (!index.isValid()) {
        return;
    }
    choose(model_->app(filter_->mapToSource(index).row()));
}

void AppPickerDialog::submitManualEntry() {
    const auto identity = AppPickerQuery::normalizedManualAppId(manual_->text().toStdString());
    if (identity.empty()) {
        return;
    }
    choose({identity, identity, ""});
}

void AppPickerDialog::choose(const InstalledApp& app) {
    // A double click is a click and an activation: one choice.
    if (chosen_) {
        return;
    }
    chosen_ = true;
    if (onSelect_) {
        onSelect_(app);
    }
    accept();
}

}  // namespace tesvano

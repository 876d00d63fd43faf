#include "Tesvano/Settings/Log/ActivationLogPane.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Log/ActivationLogModel.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "TesvanoKit/Languages/LocaleFormat.h"

namespace tesvano {

namespace {

// Draws the reason with its detail line under it, and the app and duration columns in the
// secondary style; everything else as usual.
class LogCellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const auto* view = qobject_cast<const QWidget*>(parent());
        const bool selected = opt.state.testFlag(QStyle::State_Selected);
        const QColor secondary = selected
                                     ? opt.palette.color(QPalette::HighlightedText)
                                     : SettingsStyle::color(view, SettingsStyle::Level::secondary);
        if (index.column() == ActivationLogModel::app ||
            index.column() == ActivationLogModel::duration) {
            opt.palette.setColor(QPalette::Text, secondary);
        }
        const QString detail = index.data(ActivationLogModel::detailRole).toString();
        if (index.column() != ActivationLogModel::reason || detail.isEmpty()) {
            QStyledItemDelegate::paint(painter, opt, index);
            return;
        }
        const QString reason = opt.text;
        opt.text.clear();
        QStyle* style = view != nullptr ? view->style() : nullptr;
        if (style != nullptr) {
            style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, view);
        }
        const QRect area = opt.rect.adjusted(4, 2, -4, -2);
        const QFontMetrics bodyMetrics(opt.font);
        const QFont small = SettingsStyle::caption(view);
        const QFontMetrics smallMetrics(small);
        // One point between the two lines, both centred as a block.
        const int block = bodyMetrics.height() + 1 + smallMetrics.height();
        const int top = area.top() + std::max(0, (area.height() - block) / 2);
        painter->save();
        painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(opt.font);
        painter->drawText(QRect(area.left(), top, area.width(), bodyMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          bodyMetrics.elidedText(reason, Qt::ElideRight, area.width()));
        painter->setPen(secondary);
        painter->setFont(small);
        painter->drawText(
            QRect(area.left(), top + bodyMetrics.height() + 1, area.width(), smallMetrics.height()),
            Qt::AlignLeft | Qt::AlignVCenter,
            smallMetrics.elidedText(detail, Qt::ElideRight, area.width()));
        painter->restore();
    }
};

}  // namespace

ActivationLogPane::ActivationLogPane(AppState& state, QWidget* parent)
    : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("activationLogPane"));
    setWindowTitle(state_.text("Activation Log"));
    model_ =
        new ActivationLogModel(state_.logStore(), state_.effectiveLanguage(), std::nullopt, this);
    // Layouts as the interface language names them, whatever language the entry was made in.
    model_->setSourceNames(
        [&state = state_](std::string_view name) { return state.displaySourceName(name); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    pages_ = new QStackedWidget(this);
    placeholder_ = makePlaceholder();
    pages_->addWidget(placeholder_);
    table_ = new QTableView(pages_);
    table_->setObjectName(QStringLiteral("activationLogTable"));
    table_->setModel(model_);
    configureTable();
    pages_->addWidget(table_);
    layout->addWidget(pages_);

    connect(model_, &QAbstractItemModel::modelReset, this, [this] { syncPage(); });
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] { syncPage(); });
    // The rows are read when the pane is shown: the window builds every pane at once.
}

QWidget* ActivationLogPane::makePlaceholder() {
    auto* view = new QWidget(this);
    view->setObjectName(QStringLiteral("noActivity"));
    auto* column = new QVBoxLayout(view);
    column->setSpacing(8);
    column->addStretch(1);
    auto* symbol = new QLabel(view);
    symbol->setPixmap(Symbols::pixmap("list.bullet.rectangle", 44,
                                      SettingsStyle::color(view, SettingsStyle::Level::secondary),
                                      view->devicePixelRatioF()));
    symbol->setAlignment(Qt::AlignCenter);
    column->addWidget(symbol);
    auto* title = new QLabel(state_.text("No activity yet"), view);
    title->setObjectName(QStringLiteral("noActivityTitle"));
    title->setFont(SettingsStyle::title(view));
    title->setAlignment(Qt::AlignCenter);
    column->addWidget(title);
    auto* description = new QLabel(
        state_.text("Forced input-source switches from the last 24 hours appear here."), view);
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignCenter);
    SettingsStyle::setTextLevel(description, SettingsStyle::Level::secondary);
    column->addWidget(description);
    column->addStretch(1);
    return view;
}

void ActivationLogPane::configureTable() {
    table_->setItemDelegate(new LogCellDelegate(table_));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setShowGrid(false);
    table_->setAlternatingRowColors(true);
    // A long pair of source names or an application's name takes a second line rather than
    // pushing the columns after it out of view.
    table_->setWordWrap(true);
    table_->setCornerButtonEnabled(false);
    table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    table_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    // Every row has room for a reason and its detail line; all rows are alike, so the view
    // never measures them.
    auto* rows = table_->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    const int lines = std::max(
        table_->fontMetrics().height() + 1 + QFontMetrics(SettingsStyle::caption(table_)).height(),
        2 * table_->fontMetrics().lineSpacing());
    rows->setDefaultSectionSize(lines + 8);

    // Widths from sample texts rather than from the rows, which would mean reading them all.
    auto* columns = table_->horizontalHeader();
    columns->setHighlightSections(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setStretchLastSection(false);
    const QFontMetrics metrics = table_->fontMetrics();
    const auto& sample = model_->rows();
    // The widest hour of a day, whatever the zone.
    const LocaleFormat format(state_.effectiveLanguageCode());
    int timeWidth = 0;
    for (int hour = 0; hour < 24; ++hour) {
        const platform::WallTime at{platform::Seconds(hour * 3600.0 + 3599.0)};
        timeWidth = std::max(
            timeWidth, metrics.horizontalAdvance(QString::fromStdString(format.timeOfDay(at))));
    }
    timeWidth += 24;
    const int durationWidth =
        metrics.horizontalAdvance(QString::fromStdString(sample.durationText(9999.9))) + 24;
    // Every reason and every detail line under it, as the interface language words them.
    int reasonWidth = 0;
    for (auto key : ActivationLogText::reasonKeys()) {
        reasonWidth = std::max(reasonWidth, metrics.horizontalAdvance(state_.text(key)));
    }
    const QFontMetrics captionMetrics(SettingsStyle::caption(table_));
    for (auto key : ActivationLogText::detailKeys()) {
        reasonWidth = std::max(reasonWidth, captionMetrics.horizontalAdvance(state_.text(key)));
    }
    // The delegate's inset on both sides, and some air.
    reasonWidth += 8 + 16;
    // A switch between the two widest names of the sources there are, as the interface
    // language names them.
    int widestName = metrics.horizontalAdvance(QStringLiteral("\u2014"));
    for (const InputSource& source : state_.availableSources()) {
        widestName = std::max(
            widestName, metrics.horizontalAdvance(QString::fromStdString(source.localizedName)));
    }
    // Room for the widest name and the arrow on a line: a switch between two long names
    // takes two lines, each name whole.
    const int sourceWidth = widestName + metrics.horizontalAdvance(QStringLiteral(" \u2192")) + 16;
    // No column narrower than its title.
    const QFontMetrics headerMetrics(columns->font());
    const auto fitTitle = [&](int column, int width) {
        const QString title = model_->headerData(column, Qt::Horizontal).toString();
        return std::max(width, headerMetrics.horizontalAdvance(title) + 16);
    };
    columns->setSectionResizeMode(QHeaderView::Interactive);
    // The application column stretches: never narrower than its title, however narrow the
    // window (the table scrolls sideways instead).
    columns->setMinimumSectionSize(fitTitle(ActivationLogModel::app, 60));
    columns->resizeSection(ActivationLogModel::time,
                           fitTitle(ActivationLogModel::time, std::max(timeWidth, 80)));
    columns->resizeSection(ActivationLogModel::source,
                           fitTitle(ActivationLogModel::source, std::max(sourceWidth, 160)));
    // Application names are short: that column gives up room first.
    columns->setSectionResizeMode(ActivationLogModel::app, QHeaderView::Stretch);

    columns->resizeSection(ActivationLogModel::reason,
                           fitTitle(ActivationLogModel::reason, reasonWidth));
    columns->resizeSection(ActivationLogModel::duration,
                           fitTitle(ActivationLogModel::duration, std::max(durationWidth, 70)));
}

QSize ActivationLogPane::minimumSizeHint() const {
    // Every column in view: the window grows to this width rather than hide the last ones.
    const QHeaderView* columns = table_->horizontalHeader();
    int width = 2 * table_->frameWidth();
    for (int column = 0; column < columns->count(); ++column) {
        width += column == ActivationLogModel::app ? columns->minimumSectionSize()
                                                   : columns->sectionSize(column);
    }
    return QSize(width, QWidget::minimumSizeHint().height());
}

void ActivationLogPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    const auto now = state_.runtime().now();
    state_.logStore().purgeExpired(now, platform::Seconds(AppState::logRetention));
    model_->reload(now);
}

bool ActivationLogPane::showsPlaceholder() const {
    return pages_->currentWidget() == placeholder_;
}

void ActivationLogPane::syncPage() {
    pages_->setCurrentWidget(model_->rowCount() == 0 ? placeholder_
                                                     : static_cast<QWidget*>(table_));
}

}  // namespace tesvano

#include "Tesvano/Settings/Backup/ImportReviewDialog.h"

#include <algorithm>
#include <iterator>

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Backup/SegmentedPicker.h"
#include "Tesvano/Settings/Components/AppRowLabel.h"
#include "Tesvano/Settings/Components/LinkButton.h"
#include "Tesvano/Settings/Components/OverlayScrollerSweep.h"
#include "Tesvano/Settings/Components/ScreenFit.h"
#include "Tesvano/Settings/Components/SectionFooter.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "TesvanoKit/Backup/ImportReviewText.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano {

namespace {

using Level = SettingsStyle::Level;

// Warnings read in orange on light and dark panels alike.
const QColor warningOrange(0xE0, 0x7A, 0x10);

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString objectID(std::string_view prefix, const std::string& id) {
    return QString::fromUtf8(prefix.data(), qsizetype(prefix.size())) + qs(id);
}

QLabel* symbolLabel(std::string_view name, int size, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::pixmap(name, size, color, parent->devicePixelRatioF()));
    return label;
}

QLabel* styledLabel(const QString& text, const QFont& font, Level level, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    SettingsStyle::setTextLevel(label, level);
    return label;
}

QHBoxLayout* rowLayout(QWidget* row, int spacing, int verticalPadding = 0) {
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, verticalPadding, 0, verticalPadding);
    layout->setSpacing(spacing);
    return layout;
}

// A section of the form: its header row, a framed box of rows, and an optional footer.
struct Section {
    QWidget* widget;
    QVBoxLayout* rows;
};

Section makeSection(const QString& name, QWidget* header, QWidget* parent) {
    auto* section = new QWidget(parent);
    section->setObjectName(name);
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    if (header != nullptr) {
        header->setParent(section);
        column->addWidget(header);
    }
    auto* box = new QFrame(section);
    box->setFrameShape(QFrame::StyledPanel);
    auto* rows = new QVBoxLayout(box);
    rows->setContentsMargins(12, 8, 12, 8);
    rows->setSpacing(6);
    column->addWidget(box);
    return {section, rows};
}

void addFooter(const Section& section, const AppState& state, std::string_view key) {
    section.widget->layout()->addWidget(new SectionFooter(state, key, section.widget));
}

QWidget* headerWithPicker(const QString& title, SegmentedPicker* picker, QWidget* parent) {
    auto* header = new QWidget(parent);
    auto* row = rowLayout(header, 6);
    row->addWidget(styledLabel(title, SettingsStyle::footnote(header), Level::secondary, header));
    row->addStretch(1);
    picker->setParent(header);
    row->addWidget(picker);
    return header;
}

// Shown while the row follows its section's choice; hidden, it keeps its room, so that the
// row's buttons stay where they were clicked.
QLabel* defaultMarker(const AppState& state, const std::string& id, bool shown, QWidget* parent) {
    auto* marker = styledLabel(state.text("(default)"), SettingsStyle::caption2(parent),
                               Level::tertiary, parent);
    marker->setObjectName(objectID("default:", id));
    QSizePolicy policy = marker->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    marker->setSizePolicy(policy);
    marker->setVisible(shown);
    return marker;
}

// A section's picker: the second choice when every row has it, the first when none has, and
// neither while the rows differ.
int sectionChoice(const std::vector<ImportItem>& items, bool (*second)(const ImportItem&)) {
    const auto chosen = std::ranges::count_if(items, second);
    if (chosen == 0) {
        return 0;
    }
    return chosen == std::ssize(items) ? 1 : SegmentedPicker::none;
}

}  // namespace

ImportReviewDialog::ImportReviewDialog(AppState& state, std::shared_ptr<ImportReviewModel> model,
                                       std::function<void(const ImportOutcome&)> onApplied,
                                       QWidget* parent)
    : QDialog(parent), state_(state), model_(std::move(model)), onApplied_(std::move(onApplied)) {
    setObjectName(QStringLiteral("importReviewDialog"));
    setWindowTitle(text("Review Import"));
    setWindowModality(Qt::WindowModal);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QWidget(this);
    auto* headerColumn = new QVBoxLayout(header);
    headerColumn->setContentsMargins(16, 16, 16, 16);
    headerColumn->setSpacing(4);
    auto* title = new QLabel(text("Review Import"), header);
    QFont titleFont = SettingsStyle::title(header);
    titleFont.setBold(true);
    title->setFont(titleFont);
    headerColumn->addWidget(title);
    headerColumn->addWidget(styledLabel(text("Nothing is changed until you apply."),
                                        SettingsStyle::callout(header), Level::secondary, header));
    column->addWidget(header);

    auto divider = [this] {
        auto* line = new QFrame(this);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        return line;
    };
    column->addWidget(divider());
    scroller_ = new QScrollArea(this);
    scroller_->setWidgetResizable(true);
    scroller_->setFrameShape(QFrame::NoFrame);
    // Rows below the fold show a bar that says so, not one that shows only while scrolling.
    OverlayScrollerSweep::keepSteadyScrollers(scroller_);
    column->addWidget(scroller_, 1);
    column->addWidget(divider());

    // The footer: why Apply is off, as wide as the dialog (a sentence squeezed beside the
    // buttons breaks into many lines in the longer languages), above the counters and buttons.
    auto* footer = new QWidget(this);
    auto* footerColumn = new QVBoxLayout(footer);
    footerColumn->setContentsMargins(16, 12, 16, 16);
    footerColumn->setSpacing(8);
    auto* footerRow = new QHBoxLayout;
    footerRow->setSpacing(12);
    auto* countersRow = new QHBoxLayout;
    countersRow->setSpacing(8);
    const std::array<std::string_view, 4> counterKeys = {N_("Added"), N_("Updated"), N_("Kept"),
                                                         N_("Removed")};
    const std::array<const char*, 4> counterNames = {"counter.added", "counter.updated",
                                                     "counter.kept", "counter.removed"};
    for (std::size_t i = 0; i < counterKeys.size(); ++i) {
        auto* counter = new QHBoxLayout;
        counter->setSpacing(4);
        counter->addWidget(styledLabel(text(counterKeys[i]), SettingsStyle::caption2(footer),
                                       Level::secondary, footer));
        counters_[i] =
            styledLabel(QString(), SettingsStyle::caption2(footer), Level::primary, footer);
        counters_[i]->setObjectName(QString::fromLatin1(counterNames[i]));
        counter->addWidget(counters_[i]);
        countersRow->addLayout(counter);
    }
    footerRow->addLayout(countersRow);
    footerRow->addStretch(1);
    applyReason_ = styledLabel(text("Nothing to apply: the file changes none of your rules."),
                               SettingsStyle::footnote(footer), Level::secondary, footer);
    applyReason_->setObjectName(QStringLiteral("applyReason"));
    applyReason_->setWordWrap(true);
    footerColumn->addWidget(applyReason_);
    footerColumn->addLayout(footerRow);
    cancel_ = new QPushButton(text("Cancel"), footer);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    apply_ = new QPushButton(text("Apply"), footer);
    apply_->setObjectName(QStringLiteral("apply"));
    apply_->setDefault(true);  // Return; Escape rejects the dialog
    footerRow->addWidget(cancel_);
    footerRow->addWidget(apply_);
    column->addWidget(footer);
    new OverlayScrollerSweep(this);

    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(apply_, &QPushButton::clicked, this, [this] { applyReview(); });
    model_->onPlanChange = [this] { scheduleRebuild(); };
    model_->onOverridesChange = [this] { scheduleRebuild(); };
    rebuild();
}

ImportReviewDialog::~ImportReviewDialog() {
    // The model may outlive the dialog.
    model_->onPlanChange = nullptr;
    model_->onOverridesChange = nullptr;
}

QString ImportReviewDialog::text(std::string_view key) const {
    return state_.text(key);
}

QString ImportReviewDialog::countText(std::string_view key, std::int64_t count) const {
    return qs(ImportReviewText::withCount(key, count, state_.effectiveLanguage()));
}

QString ImportReviewDialog::ruleText(const ImportItem& item, bool fileSide) const {
    return qs(ImportReviewText::ruleText(
        item, fileSide ? ImportReviewText::Side::file : ImportReviewText::Side::local,
        model_->plan(), state_.effectiveLanguage()));
}

void ImportReviewDialog::scheduleRebuild() {
    if (rebuildPending_) {
        return;
    }
    rebuildPending_ = true;
    // Later: the edit may come from a control of the form that is about to be replaced.
    QTimer::singleShot(0, this, [this] {
        if (rebuildPending_) {
            rebuild();
        }
    });
}

void ImportReviewDialog::rebuild() {
    rebuildPending_ = false;
    const int scrolled = scroller_->verticalScrollBar()->value();
    QWidget* old = scroller_->takeWidget();
    scroller_->setWidget(buildForm());
    if (old != nullptr) {
        old->hide();
        old->deleteLater();
    }

    const ImportSummary summary = model_->plan().summary();
    refreshCounters(summary);
    const bool changes = summary.added >= 1 || summary.updated >= 1 || summary.removed >= 1;
    apply_->setEnabled(changes);
    // A greyed Apply says why.
    applyReason_->setVisible(!changes);
    apply_->setToolTip(changes ? QString() : applyReason_->text());

    fitSize();
    scroller_->widget()->adjustSize();
    scroller_->verticalScrollBar()->setValue(scrolled);
}

void ImportReviewDialog::fitSize() {
    // As wide as the rows need in the interface language (never narrower than usual), so no
    // row is cut or scrolls sideways, and as tall as the rows, so none hides below the fold
    // while the screen has room; within the work area, where the rows scroll and the buttons
    // stay in view.
    const QSize room = ScreenFit::room(this, parentWidget());
    const int frame = 2 * scroller_->frameWidth();
    const int bar = scroller_->verticalScrollBar()->sizeHint().width();
    QWidget* form = scroller_->widget();
    const int wanted = std::max({int(dialogWidth), form->minimumSizeHint().width() + frame + bar,
                                 layout()->minimumSize().width()});
    const int width = std::min(wanted, room.width());
    int chrome = 0;
    for (int i = 0; i < layout()->count(); ++i) {
        QLayoutItem* item = layout()->itemAt(i);
        if (item->widget() == scroller_ || (item->widget() && item->widget()->isHidden())) {
            continue;
        }
        chrome +=
            item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height();
    }
    const int rows =
        form->hasHeightForWidth() ? form->heightForWidth(width - frame) : form->sizeHint().height();
    const int height = std::min(chrome + rows + frame, room.height());
    setMinimumSize(width, std::min(chrome + leastFormHeight, height));
    // Only growing once shown: a review does not jump smaller as its rows change.
    if (!fitted_) {
        fitted_ = true;
        resize(width, height);
    } else if (width > this->width() || height > this->height()) {
        resize(std::max(width, this->width()), std::max(height, this->height()));
    }
}

void ImportReviewDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ScreenFit::keepInside(this, parentWidget());
}

void ImportReviewDialog::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    // Placed by the window manager, its frame now known.
    ScreenFit::keepInside(this, parentWidget());
}

void ImportReviewDialog::refreshCounters(const ImportSummary& summary) {
    const QLocale locale(QString::fromStdString(state_.effectiveLanguageCode()));
    const std::array<std::int64_t, 4> values = {summary.added, summary.updated, summary.kept,
                                                summary.removed};
    for (std::size_t i = 0; i < values.size(); ++i) {
        counters_[i]->setText(locale.toString(static_cast<qlonglong>(values[i])));
        SettingsStyle::setTextLevel(counters_[i],
                                    values[i] >= 1 ? Level::primary : Level::tertiary);
    }
}

void ImportReviewDialog::applyReview() {
    if (!apply_->isEnabled()) {
        return;
    }
    // Whatever the callbacks do with theirs, the model stays until this returns.
    const std::shared_ptr<ImportReviewModel> model = model_;
    const ImportPlan plan = model->plan();
    const ImportOutcome outcome = model->apply() ? model->apply()(plan) : ImportOutcome{};
    if (onApplied_) {
        onApplied_(outcome);
    }
    accept();
}

QWidget* ImportReviewDialog::buildForm() {
    const ImportPlan& plan = model_->plan();
    const bool merge = plan.mode == ImportMode::merge;
    auto* form = new QWidget;
    form->setObjectName(QStringLiteral("importForm"));
    auto* sections = new QVBoxLayout(form);
    sections->setContentsMargins(16, 12, 16, 16);
    sections->setSpacing(18);

    sections->addWidget(modeSection(form));

    if (merge && plan.urlOrderDiffers) {
        auto* picker = new SegmentedPicker({text("Keep Local"), text("Use File")});
        picker->setObjectName(QStringLiteral("urlOrderPicker"));
        picker->setCurrent(plan.urlOrderUseFile.value_or(false) ? 1 : 0);
        picker->onChoose = [this](int index) { model_->setURLOrderUseFile(index == 1); };
        auto section = makeSection(QStringLiteral("section.urlOrder"), nullptr, form);
        auto* row = new QWidget(section.widget);
        auto* layout = rowLayout(row, 8);
        layout->addWidget(new QLabel(text("URL rule order"), row));
        layout->addStretch(1);
        picker->setParent(row);
        layout->addWidget(picker);
        section.rows->addWidget(row);
        addFooter(section, state_,
                  N_("The backup lists your URL rules in a different priority order. Order is "
                     "priority — the first matching rule wins."));
        sections->addWidget(section.widget);
    }

    const struct {
        std::vector<ImportItem> items;
        std::string_view key;
        const char* name;
    } newSections[] = {{model_->newAppItems(), N_("New app rules (%d)"), "apps"},
                       {model_->newURLItems(), N_("New URL rules (%d)"), "urls"}};
    for (const auto& entry : newSections) {
        if (entry.items.empty()) {
            continue;
        }
        const QString name = QString::fromLatin1(entry.name);
        auto section = makeSection(QStringLiteral("section.new.") + name,
                                   newItemsHeader(entry.key, entry.items, name, form), form);
        addRows(section.rows, entry.items, name, &ImportReviewDialog::newItemRow, section.widget);
        sections->addWidget(section.widget);
    }

    const auto conflicts = plan.conflictItems();
    if (merge && !conflicts.empty()) {
        auto* picker = new SegmentedPicker({text("Keep Local"), text("Use File")});
        picker->setObjectName(QStringLiteral("conflictsPicker"));
        picker->setCurrent(sectionChoice(conflicts, [](const ImportItem& item) {
            return item.resolution == ConflictResolution::useFile;
        }));
        picker->onChoose = [this](int index) {
            model_->setAllResolutions(index == 1 ? ConflictResolution::useFile
                                                 : ConflictResolution::keepLocal);
        };
        auto section = makeSection(
            QStringLiteral("section.conflicts"),
            headerWithPicker(countText("Conflicts (%d)", std::int64_t(conflicts.size())), picker,
                             form),
            form);
        addRows(section.rows, conflicts, QStringLiteral("conflicts"),
                &ImportReviewDialog::conflictRow, section.widget);
        addFooter(section, state_, N_("Your rules are kept unless you choose the file's."));
        sections->addWidget(section.widget);
    }

    // What the file overwrites, read-only: Replace decides every conflict for the file. Those
    // whose source is missing here are listed with the missing sources instead.
    std::vector<ImportItem> replaced;
    if (!merge) {
        std::ranges::copy_if(
            conflicts, std::back_inserter(replaced),
            [&plan](const ImportItem& item) { return !plan.isMissingSource(item); });
    }
    if (!replaced.empty()) {
        auto section = makeSection(
            QStringLiteral("section.replaced"),
            styledLabel(countText("Changed by the file (%d)", std::int64_t(replaced.size())),
                        SettingsStyle::footnote(form), Level::secondary, form),
            form);
        addRows(section.rows, replaced, QStringLiteral("replaced"),
                &ImportReviewDialog::replacedRow, section.widget);
        sections->addWidget(section.widget);
    }

    // What Replace removes, by name.
    if (!merge && !plan.localOnlyItems.empty()) {
        auto section =
            makeSection(QStringLiteral("section.removed"),
                        styledLabel(countText("Removed, not in the file (%d)",
                                              std::int64_t(plan.localOnlyItems.size())),
                                    SettingsStyle::footnote(form), Level::secondary, form),
                        form);
        addRows(section.rows, plan.localOnlyItems, QStringLiteral("removed"),
                &ImportReviewDialog::removedRow, section.widget);
        sections->addWidget(section.widget);
    }

    const auto missing = plan.missingSourceItems();
    if (!missing.empty()) {
        auto* picker = new SegmentedPicker({text("Keep"), text("Remove All")});
        picker->setObjectName(QStringLiteral("missingPicker"));
        picker->setCurrent(sectionChoice(missing, [](const ImportItem& item) {
            return item.missingDisposition == MissingSourceDisposition::remove;
        }));
        picker->onChoose = [this](int index) {
            model_->setAllMissingDispositions(index == 1 ? MissingSourceDisposition::remove
                                                         : MissingSourceDisposition::keep);
        };
        auto section = makeSection(QStringLiteral("section.missing"),
                                   headerWithPicker(countText("Input source not installed (%d)",
                                                              std::int64_t(missing.size())),
                                                    picker, form),
                                   form);
        addRows(section.rows, missing, QStringLiteral("missing"), &ImportReviewDialog::missingRow,
                section.widget);
        addFooter(section, state_,
                  N_("Rules aren't lost — they resume automatically once you install the matching "
                     "input source."));
        sections->addWidget(section.widget);
    }

    // Read-only: a file's value this version did not know, though the rule ends up as it is.
    const auto asRead = plan.unchangedAsReadItems();
    if (!asRead.empty()) {
        auto section = makeSection(
            QStringLiteral("section.asRead"),
            styledLabel(
                countText("Unchanged as this version reads them (%d)", std::int64_t(asRead.size())),
                SettingsStyle::footnote(form), Level::secondary, form),
            form);
        addRows(section.rows, asRead, QStringLiteral("asRead"), &ImportReviewDialog::asReadRow,
                section.widget);
        sections->addWidget(section.widget);
    }
    sections->addStretch(1);
    return form;
}

void ImportReviewDialog::addRows(QVBoxLayout* rows, const std::vector<ImportItem>& items,
                                 const QString& section,
                                 QWidget* (ImportReviewDialog::*row)(const ImportItem&, QWidget*),
                                 QWidget* parent) {
    const auto shown = shownRows_.try_emplace(section, rowsPerPage).first->second;
    const std::size_t count = std::min(items.size(), shown);
    for (std::size_t i = 0; i < count; ++i) {
        rows->addWidget((this->*row)(items[i], parent));
    }
    if (count == items.size()) {
        return;
    }
    const std::size_t next = std::min(items.size() - count, rowsPerPage);
    auto* more = new LinkButton(countText("Show %d More", std::int64_t(next)), parent);
    more->setObjectName(QStringLiteral("showMore.") + section);
    more->setFont(SettingsStyle::footnote(parent));
    more->setAutoDefault(false);
    connect(more, &QPushButton::clicked, this, [this, section] {
        shownRows_[section] += rowsPerPage;
        scheduleRebuild();
    });
    rows->addWidget(more, 0, Qt::AlignLeft);
}

QWidget* ImportReviewDialog::modeSection(QWidget* parent) {
    const ImportPlan& plan = model_->plan();
    const bool replace = plan.mode == ImportMode::replace;
    auto* header = styledLabel(text("How to import"), SettingsStyle::footnote(parent),
                               Level::secondary, parent);
    auto section = makeSection(QStringLiteral("section.mode"), header, parent);
    auto* picker = new SegmentedPicker({text("Merge"), text("Replace")}, section.widget);
    picker->setObjectName(QStringLiteral("modePicker"));
    picker->setCurrent(replace ? 1 : 0);
    picker->onChoose = [this](int index) {
        model_->setMode(index == 1 ? ImportMode::replace : ImportMode::merge);
    };
    section.rows->addWidget(picker);
    auto* explanation = styledLabel(
        text(replace ? "Makes your rules match the file. The file wins every conflict."
                     : N_("Keeps your current rules and adds the file's. You decide each conflict "
                          "below.")),
        SettingsStyle::footnote(section.widget), Level::secondary, section.widget);
    explanation->setObjectName(QStringLiteral("modeExplanation"));
    explanation->setWordWrap(true);
    section.rows->addWidget(explanation);

    if (plan.leftOutRuleCount > 0) {
        auto* leftOut = styledLabel(
            countText("%d rules in the file aren't valid and are left out.", plan.leftOutRuleCount),
            SettingsStyle::footnote(section.widget), Level::secondary, section.widget);
        leftOut->setObjectName(QStringLiteral("leftOut"));
        leftOut->setWordWrap(true);
        section.rows->addWidget(leftOut);
    }

    const std::int64_t localOnly = plan.localOnlyAppRuleCount + plan.localOnlyURLRuleCount;
    if (replace && localOnly > 0) {
        auto* warning = new QWidget(section.widget);
        warning->setObjectName(QStringLiteral("replaceWarning"));
        auto* row = rowLayout(warning, 6);
        row->addWidget(symbolLabel("trash", 13, warningOrange, warning));
        auto* label = new QLabel(
            countText("Replace removes %d of your rules that aren't in the file.", localOnly),
            warning);
        label->setFont(SettingsStyle::footnote(warning));
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, warningOrange);
        label->setPalette(palette);
        row->addWidget(label, 1);
        section.rows->addWidget(warning);
    }
    return section.widget;
}

QWidget* ImportReviewDialog::subjectLabel(const ImportItem& item, QWidget* parent) const {
    if (const auto* app = std::get_if<ImportItem::App>(&item.subject)) {
        // An application not installed here shows a placeholder icon and its id as the name.
        return new AppRowLabel(state_, app->appId, std::nullopt, std::nullopt, 22, parent);
    }
    auto* label = new QWidget(parent);
    auto* row = rowLayout(label, 6);
    const bool isURL = item.isURL();
    row->addWidget(
        symbolLabel(isURL ? "globe" : "keyboard", 16,
                    SettingsStyle::color(label, isURL ? Level::secondary : Level::primary), label));
    auto* title = new QLabel(
        isURL ? qs(std::get<ImportItem::URL>(item.subject).hostPattern) : text("Global default"),
        label);
    title->setTextFormat(Qt::PlainText);
    row->addWidget(title, 1);
    return label;
}

QWidget* ImportReviewDialog::subjectWithAssumptions(const ImportItem& item, QWidget* parent) const {
    const auto lines = ImportReviewText::assumptions(item, state_.effectiveLanguage());
    QWidget* subject = subjectLabel(item, parent);
    if (lines.empty()) {
        return subject;
    }
    // What the file said that this version reads otherwise, right under the rule.
    auto* block = new QWidget(parent);
    block->setObjectName(objectID("assumed:", item.id));
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    subject->setParent(block);
    column->addWidget(subject);
    for (const auto& line : lines) {
        auto* label = styledLabel(qs(line), SettingsStyle::caption2(block), Level::primary, block);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, warningOrange);
        label->setPalette(palette);
        label->setWordWrap(true);
        column->addWidget(label);
    }
    return block;
}

QWidget* ImportReviewDialog::newItemsHeader(std::string_view key,
                                            const std::vector<ImportItem>& items,
                                            const QString& name, QWidget* parent) {
    auto* header = new QWidget(parent);
    auto* row = rowLayout(header, 6);
    row->addWidget(styledLabel(countText(key, std::int64_t(items.size())),
                               SettingsStyle::footnote(header), Level::secondary, header));
    row->addStretch(1);
    // The rows of this section as drawn now: the buttons change exactly these.
    std::vector<std::string> ids;
    for (const ImportItem& item : items) {
        ids.push_back(item.id);
    }
    for (const bool include : {true, false}) {
        auto* button = new LinkButton(text(include ? "Select All" : N_("Select None")), header);
        button->setObjectName(
            (include ? QStringLiteral("selectAll.") : QStringLiteral("selectNone.")) + name);
        button->setFont(SettingsStyle::footnote(header));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this,
                [this, include, ids] { model_->setIncludeForItems(include, ids); });
        row->addWidget(button);
    }
    return header;
}

QWidget* ImportReviewDialog::newItemRow(const ImportItem& item, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(objectID("row:", item.id));
    auto* layout = rowLayout(row, 12, 2);
    auto* toggle = new QCheckBox(row);
    toggle->setObjectName(objectID("include:", item.id));
    toggle->setChecked(item.include);
    const std::string id = item.id;
    connect(toggle, &QCheckBox::toggled, this, [this, id](bool on) { model_->setInclude(id, on); });
    layout->addWidget(toggle);
    layout->addWidget(subjectWithAssumptions(item, row), 1);
    layout->addSpacing(8);
    layout->addWidget(
        symbolLabel("arrow.right", 11, SettingsStyle::color(row, Level::tertiary), row));
    auto* fileText = styledLabel(ruleText(item, true), row->font(), Level::secondary, row);
    fileText->setObjectName(objectID("file:", item.id));
    layout->addWidget(fileText);
    return row;
}

QWidget* ImportReviewDialog::conflictRow(const ImportItem& item, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(objectID("row:", item.id));
    auto* layout = rowLayout(row, 12, 2);
    auto* details = new QVBoxLayout;
    details->setSpacing(2);
    details->addWidget(subjectWithAssumptions(item, row));
    auto* sides = new QHBoxLayout;
    sides->setSpacing(4);
    const QFont small = SettingsStyle::caption2(row);
    sides->addWidget(styledLabel(text("Local:"), small, Level::secondary, row));
    sides->addWidget(styledLabel(ruleText(item, false), small, Level::primary, row));
    sides->addWidget(styledLabel(QStringLiteral("\u00B7"), small, Level::tertiary, row));
    sides->addWidget(styledLabel(text("File:"), small, Level::secondary, row));
    auto* fileText = styledLabel(ruleText(item, true), small, Level::primary, row);
    fileText->setObjectName(objectID("file:", item.id));
    sides->addWidget(fileText);
    sides->addStretch(1);
    details->addLayout(sides);
    if (model_->plan().isMissingSource(item)) {
        auto* warning = new QWidget(row);
        warning->setObjectName(objectID("notInstalled:", item.id));
        auto* warningRow = rowLayout(warning, 4);
        warningRow->addWidget(symbolLabel("exclamationmark.triangle", 11, warningOrange, warning));
        warningRow->addWidget(
            styledLabel(text("Input source not installed"), small, Level::secondary, warning));
        warningRow->addStretch(1);
        details->addWidget(warning);
    }
    layout->addLayout(details, 1);
    layout->addSpacing(8);

    auto* choice = new QVBoxLayout;
    choice->setSpacing(2);
    auto* picker = new SegmentedPicker({text("Keep Local"), text("Use File")}, row);
    picker->setObjectName(objectID("resolution:", item.id));
    const auto current = model_->item(item.id);
    picker->setCurrent(current && current->resolution == ConflictResolution::useFile ? 1 : 0);
    const std::string id = item.id;
    picker->onChoose = [this, id](int index) {
        model_->overrideResolution(
            id, index == 1 ? ConflictResolution::useFile : ConflictResolution::keepLocal);
    };
    choice->addWidget(picker, 0, Qt::AlignRight);
    choice->addWidget(
        defaultMarker(state_, item.id, !model_->conflictOverrides().contains(item.id), row), 0,
        Qt::AlignRight);
    layout->addLayout(choice);
    return row;
}

QWidget* ImportReviewDialog::replacedRow(const ImportItem& item, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(objectID("row:", item.id));
    auto* layout = rowLayout(row, 8, 2);
    layout->addWidget(subjectWithAssumptions(item, row), 1);
    const QFont small = SettingsStyle::caption2(row);
    layout->addWidget(styledLabel(ruleText(item, false), small, Level::tertiary, row));
    layout->addWidget(
        symbolLabel("arrow.right", 11, SettingsStyle::color(row, Level::tertiary), row));
    auto* fileText = styledLabel(ruleText(item, true), small, Level::primary, row);
    fileText->setObjectName(objectID("file:", item.id));
    layout->addWidget(fileText);
    return row;
}

QWidget* ImportReviewDialog::asReadRow(const ImportItem& item, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(objectID("row:", item.id));
    auto* layout = rowLayout(row, 8, 2);
    layout->addWidget(subjectWithAssumptions(item, row), 1);
    auto* fileText =
        styledLabel(ruleText(item, true), SettingsStyle::caption2(row), Level::tertiary, row);
    fileText->setObjectName(objectID("file:", item.id));
    layout->addWidget(fileText, 0, Qt::AlignTop);
    return row;
}

QWidget* ImportReviewDialog::removedRow(const ImportItem& item, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(objectID("removed:", item.id));
    auto* layout = rowLayout(row, 8, 2);
    layout->addWidget(symbolLabel("trash", 13, warningOrange, row));
    layout->addWidget(subjectLabel(item, row), 1);
    layout->addWidget(
        styledLabel(ruleText(item, false), SettingsStyle::caption2(row), Level::tertiary, row));
    return row;
}

QWidget* ImportReviewDialog::missingRow(const ImportItem& item, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(objectID("row:", item.id));
    auto* layout = rowLayout(row, 12, 2);
    layout->addWidget(symbolLabel("exclamationmark.triangle", 16, warningOrange, row));
    auto* details = new QVBoxLayout;
    details->setSpacing(2);
    QWidget* subject = subjectWithAssumptions(item, row);
    SettingsStyle::setTextLevel(subject, Level::secondary);
    details->addWidget(subject);
    auto* line = new QHBoxLayout;
    line->setSpacing(4);
    const QFont small = SettingsStyle::caption2(row);
    auto* fileText = styledLabel(ruleText(item, true), small, Level::secondary, row);
    fileText->setObjectName(objectID("file:", item.id));
    line->addWidget(fileText);
    line->addWidget(styledLabel(QStringLiteral("\u00B7"), small, Level::tertiary, row));
    line->addWidget(styledLabel(text("Input source not installed"), small, Level::secondary, row));
    line->addStretch(1);
    details->addLayout(line);
    layout->addLayout(details, 1);
    layout->addSpacing(8);

    auto* choice = new QVBoxLayout;
    choice->setSpacing(2);
    auto* picker = new SegmentedPicker({text("Keep"), text("Remove")}, row);
    picker->setObjectName(objectID("disposition:", item.id));
    const auto current = model_->item(item.id);
    picker->setCurrent(
        current && current->missingDisposition == MissingSourceDisposition::remove ? 1 : 0);
    const std::string id = item.id;
    picker->onChoose = [this, id](int index) {
        model_->overrideMissingDisposition(
            id, index == 1 ? MissingSourceDisposition::remove : MissingSourceDisposition::keep);
    };
    choice->addWidget(picker, 0, Qt::AlignRight);
    choice->addWidget(
        defaultMarker(state_, item.id, !model_->missingOverrides().contains(item.id), row), 0,
        Qt::AlignRight);
    layout->addLayout(choice);
    return row;
}

}  // namespace tesvano

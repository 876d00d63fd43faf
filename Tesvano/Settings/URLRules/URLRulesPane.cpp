#include "Tesvano/Settings/URLRules/URLRulesPane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Components/AccessibilityRequiredNote.h"
#include "Tesvano/Settings/Components/SectionFooter.h"
#include "Tesvano/Settings/Components/WarningLabel.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "Tesvano/Settings/URLRules/RuleEditorDialog.h"
#include "Tesvano/Settings/URLRules/URLRuleListModel.h"
#include "Tesvano/Settings/URLRules/URLRuleListView.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano {

namespace {

using Level = SettingsStyle::Level;

// A symbol beside a line of secondary text; the notes and empty states of the list.
QWidget* noteRow(const AppState& state, const char* name, std::string_view symbol,
                 std::string_view key, bool footnote, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(QString::fromUtf8(name));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(8);
    auto* image = new QLabel(row);
    image->setPixmap(Symbols::pixmap(symbol, footnote ? 13 : 16,
                                     SettingsStyle::color(row, Level::secondary),
                                     row->devicePixelRatioF()));
    layout->addWidget(image, 0, Qt::AlignVCenter);
    auto* text = new QLabel(state.text(key), row);
    text->setWordWrap(true);
    if (footnote) {
        text->setFont(SettingsStyle::footnote(row));
    }
    SettingsStyle::setTextLevel(text, Level::secondary);
    layout->addWidget(text, 1, Qt::AlignVCenter);
    return row;
}

QGroupBox* section(const AppState& state, std::string_view header, QWidget* parent) {
    auto* box = new QGroupBox(state.text(header), parent);
    auto* rows = new QVBoxLayout(box);
    rows->setSpacing(8);
    return box;
}

}  // namespace

URLRulesPane::URLRulesPane(AppState& state, QWidget* parent)
    : QWidget(parent), state_(state), model_(new URLRuleListModel(state, this)) {
    setObjectName(QStringLiteral("urlRulesPane"));
    setWindowTitle(state.text("URL Rules"));
    // A drop between the sections still ends the drag of a row.
    setAcceptDrops(true);
    confirmRemoveAll = [this] {
        return QMessageBox::question(this, state_.text("Remove All Rules"),
                                     state_.text("Remove every URL rule?")) == QMessageBox::Yes;
    };

    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(6);
    form->addWidget(buildEnhancedSection());
    form->addWidget(
        new SectionFooter(state,
                          N_("Enhanced mode reads the active browser URL via "
                             "Accessibility to apply per-URL rules. The core lock needs "
                             "no permissions."),
                          this));
    form->addSpacing(12);
    form->addWidget(buildRulesSection());
    form->addWidget(new SectionFooter(
        state,
        N_("Per-URL rules work in Firefox and Chromium-based browsers (Chromium, Chrome, Edge, "
           "Brave, Vivaldi, Opera)."),
        this));
    form->addSpacing(12);
    form->addWidget(buildAddressBarSection());
    form->addWidget(new SectionFooter(
        state,
        N_("While a browser's address bar is focused, Tesvano sets your chosen input source so you "
           "can type web addresses. \u201cLock\u201d keeps it fixed; \u201cSwitch\u201d sets it "
           "once "
           "and lets you change it. \u201cPriority\u201d decides which wins when a URL rule also "
           "matches the page."),
        this));
    form->addStretch(1);

    refreshSources();
    refresh();
    connect(&state_, &AppState::configChanged, this, [this] { refresh(); });
    connect(&state_, &AppState::accessibilityGrantedChanged, this, [this] { refresh(); });
    connect(&state_, &AppState::availableSourcesChanged, this, [this] {
        refreshSources();
        refresh();
    });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState applicationState) {
                if (applicationState == Qt::ApplicationActive && isVisible()) {
                    state_.refreshAccessibilityStatus();
                }
            });
}

QWidget* URLRulesPane::buildEnhancedSection() {
    auto* box = section(state_, N_("Enhanced mode"), this);
    auto* rows = static_cast<QVBoxLayout*>(box->layout());
    enhancedToggle_ = new QCheckBox(state_.text("Enhanced mode (per-URL rules)"), box);
    enhancedToggle_->setObjectName(QStringLiteral("enhancedMode"));
    rows->addWidget(enhancedToggle_);
    connect(enhancedToggle_, &QCheckBox::toggled, this, [this](bool on) {
        LockConfiguration changed = state_.config();
        changed.enhancedModeEnabled = on;
        state_.setConfig(changed);
        state_.commitConfiguration(ActivationReason::configChanged);
    });
    enhancedNote_ =
        new AccessibilityRequiredNote(state_, N_("Enhanced mode requires Accessibility"), box);
    rows->addWidget(enhancedNote_);
    enhancedOffNote_ = noteRow(state_, "enhancedModeOffNote", "info.circle",
                               N_("Enhanced mode is off, so your URL rules aren't active yet. Turn "
                                  "it on for them to take effect."),
                               true, box);
    rows->addWidget(enhancedOffNote_);
    return box;
}

QWidget* URLRulesPane::buildRulesSection() {
    auto* box = section(state_, N_("URL rules"), this);
    auto* rows = static_cast<QVBoxLayout*>(box->layout());
    orderHint_ = noteRow(state_, "ruleOrderHint", "arrow.up.arrow.down",
                         N_("Checked top to bottom \u2014 the first match wins. Drag to reorder."),
                         true, box);
    rows->addWidget(orderHint_);
    list_ = new URLRuleListView(model_, box);
    list_->setTexts(state_.text("Drag to reorder"), state_.text("Too slow to match"));
    list_->onEdit = [this](int row) { openEditor(model_->rule(row)); };
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = list_->indexAt(at);
        if (!index.isValid()) {
            return;
        }
        QMenu* menu = makeRowMenu(index.row());
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(list_->viewport()->mapToGlobal(at));
    });
    rows->addWidget(list_);
    emptyOn_ = noteRow(state_, "noRulesYet", "globe", N_("No URL rules yet."), false, box);
    rows->addWidget(emptyOn_);
    emptyOff_ = noteRow(state_, "enableEnhancedMode", "lock",
                        N_("Enable enhanced mode to add per-URL rules."), false, box);
    rows->addWidget(emptyOff_);
    addButton_ = new QPushButton(Symbols::icon("plus"), state_.text("Add Rule\u2026"), box);
    addButton_->setObjectName(QStringLiteral("addRule"));
    connect(addButton_, &QPushButton::clicked, this, [this] { openEditor(std::nullopt); });
    rows->addWidget(addButton_, 0, Qt::AlignLeft);
    return box;
}

QWidget* URLRulesPane::buildAddressBarSection() {
    auto* box = section(state_, N_("Address bar"), this);
    auto* rows = static_cast<QVBoxLayout*>(box->layout());
    addressToggle_ = new QCheckBox(state_.text("Set the input source in the address bar"), box);
    addressToggle_->setObjectName(QStringLiteral("addressBarFocus"));
    rows->addWidget(addressToggle_);
    connect(addressToggle_, &QCheckBox::toggled, this,
            [this](bool on) { state_.setAddressBarFocusEnabled(on); });
    addressNote_ = new AccessibilityRequiredNote(
        state_, N_("The address-bar rule requires Accessibility"), box);
    rows->addWidget(addressNote_);

    addressRows_ = new QWidget(box);
    addressRows_->setObjectName(QStringLiteral("addressBarRows"));
    auto* pickers = new QFormLayout(addressRows_);
    pickers->setContentsMargins(0, 0, 0, 0);
    pickers->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    behavior_ = new QComboBox(addressRows_);
    behavior_->setObjectName(QStringLiteral("addressBarBehavior"));
    behavior_->addItem(state_.text("Lock to"), static_cast<int>(RuleAction::lock));
    behavior_->addItem(state_.text("Switch to"), static_cast<int>(RuleAction::switchOnce));
    pickers->addRow(state_.text("Behavior"), behavior_);
    connect(behavior_, &QComboBox::activated, this, [this](int index) {
        LockConfiguration changed = state_.config();
        changed.addressBarAction = static_cast<RuleAction>(behavior_->itemData(index).toInt());
        state_.setConfig(changed);
        state_.commitConfiguration(ActivationReason::configChanged);
    });
    source_ = new QComboBox(addressRows_);
    source_->setObjectName(QStringLiteral("addressBarSource"));
    source_->setMinimumContentsLength(14);
    pickers->addRow(state_.text("Input source"), source_);
    connect(source_, &QComboBox::activated, this, [this](int index) {
        state_.setAddressBarSourceID(
            InputSourceID(source_->itemData(index).toString().toStdString()));
    });
    missingSource_ =
        new WarningLabel(state_, N_("Choose an input source for the address bar."), addressRows_);
    missingSource_->setObjectName(QStringLiteral("addressBarSourceMissing"));
    pickers->addRow(QString(), missingSource_);
    priority_ = new QComboBox(addressRows_);
    priority_->setObjectName(QStringLiteral("addressBarPriority"));
    priority_->addItem(state_.text("URL rules first"), false);
    priority_->addItem(state_.text("Address bar first"), true);
    pickers->addRow(state_.text("Priority"), priority_);
    connect(priority_, &QComboBox::activated, this, [this](int index) {
        LockConfiguration changed = state_.config();
        changed.addressBarOutranksURLRules = priority_->itemData(index).toBool();
        state_.setConfig(changed);
        state_.commitConfiguration(ActivationReason::configChanged);
    });
    rows->addWidget(addressRows_);
    return box;
}

void URLRulesPane::refreshSources() {
    const QSignalBlocker blocker(source_);
    source_->clear();
    for (const InputSource& available : state_.availableSources()) {
        source_->addItem(QString::fromStdString(available.localizedName),
                         QString::fromStdString(available.id.rawValue));
    }
}

void URLRulesPane::refresh() {
    const LockConfiguration& config = state_.config();
    const bool granted = state_.accessibilityGranted();
    const bool enhanced = config.enhancedModeEnabled;
    const std::size_t ruleCount = config.urlRules.size();

    {
        const QSignalBlocker blocker(enhancedToggle_);
        enhancedToggle_->setChecked(enhanced);
    }
    enhancedToggle_->setEnabled(granted);
    enhancedNote_->setVisible(!granted);
    enhancedOffNote_->setVisible(!enhanced && ruleCount > 0);

    orderHint_->setVisible(ruleCount >= 2);
    list_->setVisible(ruleCount > 0);
    emptyOn_->setVisible(ruleCount == 0 && enhanced);
    emptyOff_->setVisible(ruleCount == 0 && !enhanced);
    addButton_->setVisible(enhanced);

    {
        const QSignalBlocker blocker(addressToggle_);
        addressToggle_->setChecked(config.addressBarFocusEnabled);
    }
    addressToggle_->setEnabled(granted);
    addressNote_->setVisible(!granted);
    // Hidden rows keep their stored choices for when the rule is turned on again.
    addressRows_->setVisible(config.addressBarFocusEnabled);
    {
        const QSignalBlocker blocker(behavior_);
        behavior_->setCurrentIndex(behavior_->findData(static_cast<int>(config.addressBarAction)));
    }
    {
        const QSignalBlocker blocker(source_);
        // No "None" item: a source that is not available shows no choice.
        source_->setCurrentIndex(
            config.addressBarSourceID
                ? source_->findData(QString::fromStdString(config.addressBarSourceID->rawValue))
                : -1);
    }
    missingSource_->setVisible(!config.addressBarSourceID);
    {
        const QSignalBlocker blocker(priority_);
        priority_->setCurrentIndex(config.addressBarOutranksURLRules ? 1 : 0);
    }
}

void URLRulesPane::openEditor(const std::optional<URLRule>& rule) {
    // The dialog and a drag never overlap.
    model_->endDrag();
    closeEditor();
    auto* editor = new RuleEditorDialog(state_, rule, this);
    editor->setWindowModality(Qt::WindowModal);
    editor->onCommit = [this](const URLRule& done) {
        state_.upsertURLRule(done);
        closeEditor();
    };
    if (rule) {
        editor->onRemove = [this, id = rule->id] {
            state_.removeURLRule(id);
            closeEditor();
        };
    }
    editor->onClose = [this] { closeEditor(); };
    editor_ = editor;
    editor->open();
}

void URLRulesPane::closeEditor() {
    if (editor_) {
        RuleEditorDialog* editor = editor_;
        editor_ = nullptr;
        editor->onClose = nullptr;
        // Not close(): this may run inside the dialog's own close event.
        editor->done(QDialog::Rejected);
        editor->deleteLater();
    }
}

QMenu* URLRulesPane::makeRowMenu(int row) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("urlRuleMenu"));
    const URLRule rule = model_->rule(row);
    const int count = model_->rowCount();
    QAction* edit =
        menu->addAction(state_.text("Edit\u2026"), this, [this, rule] { openEditor(rule); });
    edit->setObjectName(QStringLiteral("edit"));
    menu->addSeparator();
    QAction* up = menu->addAction(state_.text("Move Up"), this,
                                  [this, row] { model_->moveRows({}, row, 1, {}, row - 1); });
    up->setObjectName(QStringLiteral("moveUp"));
    up->setEnabled(row > 0);
    QAction* down = menu->addAction(state_.text("Move Down"), this,
                                    [this, row] { model_->moveRows({}, row, 1, {}, row + 2); });
    down->setObjectName(QStringLiteral("moveDown"));
    down->setEnabled(row + 1 < count);
    menu->addSeparator();
    QAction* remove = menu->addAction(state_.text("Remove"), this,
                                      [this, id = rule.id] { state_.removeURLRule(id); });
    remove->setObjectName(QStringLiteral("remove"));
    QAction* removeAll = menu->addAction(state_.text("Remove All Rules\u2026"), this, [this] {
        if (!confirmRemoveAll || confirmRemoveAll()) {
            state_.removeAllURLRules();
        }
    });
    removeAll->setObjectName(QStringLiteral("removeAll"));
    return menu;
}

void URLRulesPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    state_.refreshAccessibilityStatus();
}

void URLRulesPane::dragEnterEvent(QDragEnterEvent* event) {
    // Only the drag of one of our rows: nothing else may be dropped here.
    if (model_->acceptsDrop(event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void URLRulesPane::dragMoveEvent(QDragMoveEvent* event) {
    if (model_->acceptsDrop(event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void URLRulesPane::dropEvent(QDropEvent* event) {
    if (model_->dropMimeData(event->mimeData(), Qt::MoveAction, -1, -1, {})) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace tesvano

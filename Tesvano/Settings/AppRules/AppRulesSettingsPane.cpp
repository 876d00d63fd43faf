#include "Tesvano/Settings/AppRules/AppRulesSettingsPane.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/AppRules/AppRulesModel.h"
#include "Tesvano/Settings/AppRules/SourceMenus.h"
#include "Tesvano/Settings/Components/AccessibilityRequiredNote.h"
#include "Tesvano/Settings/Components/SectionFooter.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "TesvanoKit/Languages/TextKey.h"
#include "TesvanoKit/Monitors/LauncherOverlayCatalog.h"

namespace tesvano {

namespace {

QGroupBox* section(const AppState& state, std::string_view header, QWidget* parent) {
    auto* group = new QGroupBox(state.text(header), parent);
    return group;
}

// "No app rules yet." beside the window symbol, dimmed.
QWidget* emptyStateLine(const AppState& state, QWidget* parent) {
    auto* line = new QWidget(parent);
    line->setObjectName(QStringLiteral("noAppRules"));
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 4, 0, 4);
    row->setSpacing(8);
    auto* symbol = new QLabel(line);
    symbol->setPixmap(Symbols::pixmap("macwindow", 16,
                                      SettingsStyle::color(line, SettingsStyle::Level::secondary),
                                      line->devicePixelRatioF()));
    row->addWidget(symbol, 0, Qt::AlignVCenter);
    auto* text = new QLabel(state.text("No app rules yet."), line);
    SettingsStyle::setTextLevel(text, SettingsStyle::Level::secondary);
    row->addWidget(text, 0, Qt::AlignVCenter);
    row->addStretch(1);
    return line;
}

}  // namespace

AppRulesSettingsPane::AppRulesSettingsPane(AppState& state, QWidget* parent,
                                           AppPickerDialog::Scan scan)
    : QWidget(parent), state_(state), scan_(std::move(scan)) {
    setObjectName(QStringLiteral("appRulesPane"));
    setWindowTitle(QString::fromStdString(
        AppDisplay::localizedString("App Rules", state_.effectiveLanguage())));
    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);

    // The global default.
    auto* global = section(state_, "Global default", this);
    defaultForm_ = new QFormLayout(global);
    defaultForm_->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    defaultSource_ = new QComboBox(global);
    defaultSource_->setObjectName(QStringLiteral("defaultSource"));
    defaultSource_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    defaultForm_->addRow(state_.text("Input source"), defaultSource_);
    defaultBehavior_ = new QComboBox(global);
    defaultBehavior_->setObjectName(QStringLiteral("defaultBehavior"));
    defaultBehavior_->addItem(state_.text("Lock to"), static_cast<int>(RuleAction::lock));
    defaultBehavior_->addItem(state_.text("Switch to"), static_cast<int>(RuleAction::switchOnce));
    defaultForm_->addRow(state_.text("Behavior"), defaultBehavior_);
    form->addWidget(global);
    form->addWidget(new SectionFooter(
        state_, N_("Used whenever the app of the active window has no rule of its own."), this));

    // The mode new rules start with.
    auto* fresh = section(state_, N_("New app rules"), this);
    auto* freshForm = new QFormLayout(fresh);
    freshForm->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    newRuleMode_ = new QComboBox(fresh);
    newRuleMode_->setObjectName(QStringLiteral("newAppRuleMode"));
    SourceMenus::fillModes(newRuleMode_, state_);
    freshForm->addRow(state_.text("Default behavior"), newRuleMode_);
    form->addWidget(fresh);
    form->addWidget(new SectionFooter(state_,
                                      N_("The behavior a newly added app rule starts with. You can "
                                         "change any rule afterward."),
                                      this));

    // The rules.
    auto* rules = section(state_, N_("Rules by app"), this);
    auto* rulesColumn = new QVBoxLayout(rules);
    empty_ = emptyStateLine(state_, rules);
    rulesColumn->addWidget(empty_);
    model_ = new AppRulesModel(state_, this);
    list_ = new QListView(rules);
    list_->setObjectName(QStringLiteral("appRules"));
    list_->setModel(model_);
    delegate_ = new AppRuleDelegate(
        list_, [this](const QModelIndex& index, AppRuleDelegate::Control control,
                      const QRect& rect) { controlClicked(index, control, rect); });
    list_->setItemDelegate(delegate_);
    list_->setUniformItemSizes(true);
    list_->setMouseTracking(true);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->viewport()->setAutoFillBackground(false);
    list_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    rulesColumn->addWidget(list_);
    addApp_ = new QPushButton(Symbols::icon("plus"), state_.text("Add App…"), rules);
    addApp_->setObjectName(QStringLiteral("addApp"));
    rulesColumn->addWidget(addApp_, 0, Qt::AlignLeft);
    launcherNote_ = new AccessibilityRequiredNote(
        state_, N_("Detecting launchers like KRunner requires Accessibility"), rules);
    rulesColumn->addWidget(launcherNote_);
    form->addWidget(rules);
    form->addWidget(
        new SectionFooter(state_,
                          N_("Lock an app to its own input source, switch to one on "
                             "activation, ignore it, or fall back to the global default."),
                          this));
    form->addStretch(1);

    refreshSources();
    SourceMenus::selectMode(newRuleMode_, state_.newAppRuleMode());
    showRules();

    connect(defaultSource_, &QComboBox::activated, this, [this](int index) {
        state_.setDefaultSourceID(SourceMenus::sourceAt(defaultSource_, index));
    });
    connect(defaultBehavior_, &QComboBox::activated, this, [this](int index) {
        state_.setDefaultSource(state_.config().defaultSourceID,
                                static_cast<RuleAction>(defaultBehavior_->itemData(index).toInt()));
    });
    connect(newRuleMode_, &QComboBox::activated, this, [this](int index) {
        state_.setNewAppRuleMode(SourceMenus::modeAt(newRuleMode_, index));
    });
    connect(addApp_, &QPushButton::clicked, this, &AppRulesSettingsPane::pickApp);
    connect(list_, &QListView::customContextMenuRequested, this,
            &AppRulesSettingsPane::showRowMenu);

    connect(&state_, &AppState::configChanged, this, [this] {
        showGlobalDefault();
        fitMenus();
        showRules();
    });
    connect(&state_, &AppState::availableSourcesChanged, this,
            &AppRulesSettingsPane::refreshSources);
    connect(&state_, &AppState::newAppRuleModeChanged, this,
            [this] { SourceMenus::selectMode(newRuleMode_, state_.newAppRuleMode()); });
    connect(&state_, &AppState::accessibilityGrantedChanged, this,
            &AppRulesSettingsPane::showLauncherNote);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState applicationState) {
                if (applicationState == Qt::ApplicationActive && isVisible()) {
                    state_.refreshAccessibilityStatus();
                }
            });
}

void AppRulesSettingsPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    state_.refreshAccessibilityStatus();
}

void AppRulesSettingsPane::refreshSources() {
    showGlobalDefault();
    fitMenus();
    model_->refreshSourceNames();
}

// The drawn menus are as wide as their widest item, the same in every row.
void AppRulesSettingsPane::fitMenus() {
    QStringList modes;
    for (const auto& item : SourceMenus::modeItems) {
        modes << state_.text(item.key);
    }
    QStringList sources{state_.text("Default")};
    for (const auto& source : state_.availableSources()) {
        sources << QString::fromStdString(source.localizedName);
    }
    for (const auto& rule : state_.config().appRules) {
        if (rule.lockedSourceID && !state_.sourceName(*rule.lockedSourceID)) {
            sources << QString::fromStdString(rule.lockedSourceID->rawValue);
        }
    }
    delegate_->setMenuTexts(modes, sources);
    fitList();
}

void AppRulesSettingsPane::showGlobalDefault() {
    const auto& config = state_.config();
    SourceMenus::fillSources(defaultSource_, state_, N_("None"), config.defaultSourceID);
    {
        const QSignalBlocker quiet(defaultBehavior_);
        defaultBehavior_->setCurrentIndex(
            defaultBehavior_->findData(static_cast<int>(config.defaultAction)));
    }
    defaultForm_->setRowVisible(defaultBehavior_, config.defaultSourceID.has_value());
}

void AppRulesSettingsPane::showRules() {
    model_->refresh();
    const bool empty = state_.config().appRules.empty();
    empty_->setVisible(empty);
    list_->setVisible(!empty);
    fitList();
    showLauncherNote();
}

// The list grows with its rules: the pane scrolls, not the list.
void AppRulesSettingsPane::fitList() {
    list_->setFixedHeight(model_->rowCount() * delegate_->rowHeight() + 2 * list_->frameWidth());
}

bool AppRulesSettingsPane::hasLauncherRule() const {
    return std::ranges::any_of(state_.config().appRules, [](const AppRule& rule) {
        return LauncherOverlayCatalog::contains(rule.appId);
    });
}

void AppRulesSettingsPane::showLauncherNote() {
    launcherNote_->setVisible(hasLauncherRule() && !state_.accessibilityGranted());
}

// The current choice carries a check mark; the others nothing, as in a desktop's pop-up list.
void AppRulesSettingsPane::markCurrent(QAction* action, bool current) {
    action->setProperty("current", current);
    if (current) {
        action->setIcon(Symbols::icon("checkmark"));
        QFont font = action->font();
        font.setBold(true);
        action->setFont(font);
    }
}

QMenu* AppRulesSettingsPane::menuFor(int row, AppRuleDelegate::Control control) {
    if (row < 0 || row >= model_->rowCount()) {
        return nullptr;
    }
    const AppRule rule = model_->rule(row);
    auto* menu = new QMenu(list_);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const bool all = control == AppRuleDelegate::Control::none;
    if (all || control == AppRuleDelegate::Control::mode) {
        // Each choice is a whole new rule; the stored source stays while a mode does not use
        // it, so it comes back with a mode that does.
        for (const auto& item : SourceMenus::modeItems) {
            QAction* action = menu->addAction(state_.text(item.key));
            markCurrent(action, item.mode == rule.mode);
            connect(action, &QAction::triggered, this, [this, rule, mode = item.mode] {
                state_.upsertAppRule({rule.appId, mode, rule.lockedSourceID});
            });
        }
    }
    if ((all && requiresSource(rule.mode)) || control == AppRuleDelegate::Control::source) {
        if (all) {
            menu->addSeparator();
        }
        // Installed sources only: the default has its own mode, "Use default".
        std::vector<std::pair<QString, std::optional<InputSourceID>>> items;
        bool known = !rule.lockedSourceID;
        for (const auto& source : state_.availableSources()) {
            known = known || source.id == *rule.lockedSourceID;
            items.emplace_back(QString::fromStdString(source.localizedName), source.id);
        }
        if (!known) {
            items.emplace_back(QString::fromStdString(rule.lockedSourceID->rawValue),
                               rule.lockedSourceID);
        }
        if (items.empty()) {
            menu->addAction(state_.text("None"))->setEnabled(false);
        }
        for (const auto& [text, source] : items) {
            QAction* action = menu->addAction(text);
            markCurrent(action, source == rule.lockedSourceID);
            connect(action, &QAction::triggered, this, [this, rule, chosen = source] {
                state_.upsertAppRule({rule.appId, rule.mode, chosen});
            });
        }
    }
    if (all) {
        menu->addSeparator();
        QAction* remove = menu->addAction(Symbols::icon("trash"), state_.text("Remove rule"));
        connect(remove, &QAction::triggered, this,
                [this, id = rule.appId] { state_.removeAppRule(id); });
    }
    return menu;
}

QRect AppRulesSettingsPane::controlRect(int row, AppRuleDelegate::Control control) const {
    QStyleOptionViewItem option;
    option.initFrom(list_);
    option.widget = list_;
    option.rect = list_->visualRect(model_->index(row));
    const auto parts = delegate_->layout(option, model_->index(row));
    switch (control) {
        case AppRuleDelegate::Control::mode:
            return parts.mode;
        case AppRuleDelegate::Control::source:
            return parts.source;
        case AppRuleDelegate::Control::remove:
            return parts.remove;
        case AppRuleDelegate::Control::none:
            break;
    }
    return {};
}

void AppRulesSettingsPane::controlClicked(const QModelIndex& index,
                                          AppRuleDelegate::Control control, const QRect& rect) {
    if (control == AppRuleDelegate::Control::remove) {
        // After the click has been handled: the row goes with the rule.
        QMetaObject::invokeMethod(
            this, [this, id = model_->rule(index.row()).appId] { state_.removeAppRule(id); },
            Qt::QueuedConnection);
        return;
    }
    if (QMenu* menu = menuFor(index.row(), control)) {
        openMenu_ = menu;
        menu->popup(list_->viewport()->mapToGlobal(rect.bottomLeft()));
    }
}

void AppRulesSettingsPane::showRowMenu(const QPoint& position) {
    const QModelIndex index = list_->indexAt(position);
    if (!index.isValid()) {
        return;
    }
    if (QMenu* menu = menuFor(index.row(), AppRuleDelegate::Control::none)) {
        openMenu_ = menu;
        menu->popup(list_->viewport()->mapToGlobal(position));
    }
}

void AppRulesSettingsPane::pickApp() {
    if (picker_) {
        picker_->raise();
        return;
    }
    picker_ = new AppPickerDialog(
        state_, [this](const InstalledApp& app) { addRule(app); }, this, scan_);
    picker_->setAttribute(Qt::WA_DeleteOnClose);
    picker_->open();
}

void AppRulesSettingsPane::addRule(const InstalledApp& app) {
    state_.upsertAppRule({app.appId, state_.newAppRuleMode(), state_.config().defaultSourceID});
}

}  // namespace tesvano

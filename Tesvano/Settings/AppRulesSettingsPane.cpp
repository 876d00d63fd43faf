#include "Tesvano/Settings/AppRulesSettingsPane.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/AppRuleRow.h"
#include "Tesvano/Settings/Components/AccessibilityRequiredNote.h"
#include "Tesvano/Settings/Components/SectionFooter.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "Tesvano/Settings/SourceMenus.h"
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
                                           AppPickerSheet::Scan scan)
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
    form->addWidget(
        new SectionFooter(state_, "Used whenever the frontmost app has no rule of its own.", this));

    // The mode new rules start with.
    auto* fresh = section(state_, "New app rules", this);
    auto* freshForm = new QFormLayout(fresh);
    freshForm->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    newRuleMode_ = new QComboBox(fresh);
    newRuleMode_->setObjectName(QStringLiteral("newAppRuleMode"));
    SourceMenus::fillModes(newRuleMode_, state_);
    freshForm->addRow(state_.text("Default behavior"), newRuleMode_);
    form->addWidget(fresh);
    form->addWidget(new SectionFooter(state_,
                                      "The behavior a newly added app rule starts with. You can "
                                      "change any rule afterward.",
                                      this));

    // The rules.
    auto* rules = section(state_, "Rules by app", this);
    auto* rulesColumn = new QVBoxLayout(rules);
    empty_ = emptyStateLine(state_, rules);
    rulesColumn->addWidget(empty_);
    rowsLayout_ = new QVBoxLayout;
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(4);
    rulesColumn->addLayout(rowsLayout_);
    addApp_ = new QPushButton(Symbols::icon("plus"), state_.text("Add App…"), rules);
    addApp_->setObjectName(QStringLiteral("addApp"));
    rulesColumn->addWidget(addApp_, 0, Qt::AlignLeft);
    launcherNote_ = new AccessibilityRequiredNote(
        state_, "Detecting launchers like Spotlight requires Accessibility", rules);
    rulesColumn->addWidget(launcherNote_);
    form->addWidget(rules);
    form->addWidget(new SectionFooter(state_,
                                      "Lock an app to its own input source, switch to one on "
                                      "activation, ignore it, or fall back to the global default.",
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

    connect(&state_, &AppState::configChanged, this, [this] {
        showGlobalDefault();
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
    for (auto& [id, row] : rows_) {
        row->refreshSources();
    }
}

void AppRulesSettingsPane::showGlobalDefault() {
    const auto& config = state_.config();
    SourceMenus::fillSources(defaultSource_, state_, "None", config.defaultSourceID);
    {
        const QSignalBlocker quiet(defaultBehavior_);
        defaultBehavior_->setCurrentIndex(
            defaultBehavior_->findData(static_cast<int>(config.defaultAction)));
    }
    defaultForm_->setRowVisible(defaultBehavior_, config.defaultSourceID.has_value());
}

void AppRulesSettingsPane::showRules() {
    const auto& rules = state_.config().appRules;
    // Rows of rules that went; deleted later, as the click that removed one is still running.
    for (auto it = rows_.begin(); it != rows_.end();) {
        const bool kept = std::ranges::any_of(
            rules, [&](const AppRule& rule) { return rule.bundleID == it->first; });
        if (kept) {
            ++it;
            continue;
        }
        rowsLayout_->removeWidget(it->second);
        it->second->hide();
        it->second->deleteLater();
        it = rows_.erase(it);
    }
    // The state keeps the rules sorted, so rows that stay keep their order among themselves.
    for (int i = 0; i < static_cast<int>(rules.size()); ++i) {
        const auto& rule = rules[static_cast<std::size_t>(i)];
        auto found = rows_.find(rule.bundleID);
        AppRuleRow* row = nullptr;
        if (found == rows_.end()) {
            row = new AppRuleRow(state_, rule, rowsLayout_->parentWidget());
            rows_.emplace(rule.bundleID, row);
        } else {
            row = found->second;
            row->setRule(rule);
        }
        if (rowsLayout_->indexOf(row) != i) {
            rowsLayout_->removeWidget(row);
            rowsLayout_->insertWidget(i, row);
        }
    }
    empty_->setVisible(rules.empty());
    showLauncherNote();
}

bool AppRulesSettingsPane::hasLauncherRule() const {
    return std::ranges::any_of(state_.config().appRules, [](const AppRule& rule) {
        return LauncherOverlayCatalog::contains(rule.bundleID);
    });
}

void AppRulesSettingsPane::showLauncherNote() {
    launcherNote_->setVisible(hasLauncherRule() && !state_.accessibilityGranted());
}

std::vector<AppRuleRow*> AppRulesSettingsPane::rows() const {
    std::vector<AppRuleRow*> out;
    for (int i = 0; i < rowsLayout_->count(); ++i) {
        if (auto* row = dynamic_cast<AppRuleRow*>(rowsLayout_->itemAt(i)->widget())) {
            out.push_back(row);
        }
    }
    return out;
}

void AppRulesSettingsPane::pickApp() {
    if (picker_) {
        picker_->raise();
        return;
    }
    picker_ = new AppPickerSheet(
        state_, [this](const InstalledApp& app) { addRule(app); }, this, scan_);
    picker_->setAttribute(Qt::WA_DeleteOnClose);
    picker_->open();
}

void AppRulesSettingsPane::addRule(const InstalledApp& app) {
    state_.upsertAppRule({app.bundleID, state_.newAppRuleMode(), state_.config().defaultSourceID});
}

}  // namespace tesvano

#include "Tesvano/Settings/AppRuleRow.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QToolButton>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Components/AppRowLabel.h"
#include "Tesvano/Settings/SourceMenus.h"

namespace tesvano {

AppRuleRow::AppRuleRow(AppState& state, AppRule rule, QWidget* parent)
    : QWidget(parent), state_(state), rule_(std::move(rule)) {
    setObjectName(QString::fromStdString(rule_.bundleID));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 2, 0, 2);
    row->setSpacing(12);
    row->addWidget(new AppRowLabel(state_, rule_.bundleID, std::nullopt, std::nullopt, 22, this),
                   1);
    row->addSpacing(8);

    mode_ = new QComboBox(this);
    mode_->setObjectName(QStringLiteral("mode"));
    mode_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    SourceMenus::fillModes(mode_, state_);
    row->addWidget(mode_);

    source_ = new QComboBox(this);
    source_->setObjectName(QStringLiteral("source"));
    source_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    row->addWidget(source_);

    remove_ = new QToolButton(this);
    remove_->setObjectName(QStringLiteral("remove"));
    remove_->setAutoRaise(true);
    remove_->setIcon(Symbols::icon("trash"));
    remove_->setToolTip(state_.text("Remove rule"));
    remove_->setAccessibleName(state_.text("Remove rule"));
    row->addWidget(remove_);

    refreshSources();
    showRule();

    // Each edit is a whole new rule; the stored source stays while a mode does not use it, so
    // it comes back with a mode that does.
    connect(mode_, &QComboBox::activated, this, [this](int index) {
        state_.upsertAppRule(
            {rule_.bundleID, SourceMenus::modeAt(mode_, index), rule_.lockedSourceID});
    });
    connect(source_, &QComboBox::activated, this, [this](int index) {
        state_.upsertAppRule({rule_.bundleID, rule_.mode, SourceMenus::sourceAt(source_, index)});
    });
    connect(remove_, &QToolButton::clicked, this,
            [this] { state_.removeAppRule(std::string(rule_.bundleID)); });
}

void AppRuleRow::setRule(const AppRule& rule) {
    if (rule == rule_) {
        return;
    }
    const bool sourceChanged = rule.lockedSourceID != rule_.lockedSourceID;
    rule_ = rule;
    if (sourceChanged) {
        refreshSources();
    }
    showRule();
}

void AppRuleRow::refreshSources() {
    SourceMenus::fillSources(source_, state_, "Default", rule_.lockedSourceID);
}

void AppRuleRow::showRule() {
    SourceMenus::selectMode(mode_, rule_.mode);
    source_->setVisible(requiresSource(rule_.mode));
}

}  // namespace tesvano

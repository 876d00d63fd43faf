#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

#include "Tesvano/Settings/URLRules/RuleEditorDialog.h"
#include "TesvanoKit/Rules/LockConfiguration.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;

namespace tesvano {

class AccessibilityRequiredNote;
class AppState;
class URLRuleListModel;
class URLRuleListView;
class WarningLabel;

// The URL Rules tab: enhanced mode, the ordered URL rules with drag reordering and the rule
// editor, and the address-bar rule. Every control shows the live configuration and writes
// through AppState at once. Controls that need Accessibility are greyed while it is missing,
// with a note that leads to the Permissions tab.
class URLRulesPane final : public QWidget {
public:
    explicit URLRulesPane(AppState& state, QWidget* parent = nullptr);

    URLRuleListModel* ruleModel() const { return model_; }
    URLRuleListView* ruleList() const { return list_; }
    // The open editor, if any.
    RuleEditorDialog* editor() const { return editor_; }
    // Opens the editor for a new rule (none) or for a copy of a rule.
    void openEditor(const std::optional<URLRule>& rule);
    // The row menu of a rule: edit, move, remove.
    QMenu* makeRowMenu(int row);

    // Asked before every rule is removed; a question box unless replaced (tests).
    std::function<bool()> confirmRemoveAll;

    QCheckBox* enhancedToggle() const { return enhancedToggle_; }
    QCheckBox* addressBarToggle() const { return addressToggle_; }
    QComboBox* addressBarBehavior() const { return behavior_; }
    QComboBox* addressBarSource() const { return source_; }
    QComboBox* addressBarPriority() const { return priority_; }
    QPushButton* addRuleButton() const { return addButton_; }

protected:
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* buildEnhancedSection();
    QWidget* buildRulesSection();
    QWidget* buildAddressBarSection();
    void refresh();
    void refreshSources();
    void closeEditor();

    AppState& state_;
    URLRuleListModel* model_;
    QCheckBox* enhancedToggle_ = nullptr;
    AccessibilityRequiredNote* enhancedNote_ = nullptr;
    QWidget* enhancedOffNote_ = nullptr;
    QWidget* orderHint_ = nullptr;
    URLRuleListView* list_ = nullptr;
    QWidget* emptyOn_ = nullptr;
    QWidget* emptyOff_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QCheckBox* addressToggle_ = nullptr;
    AccessibilityRequiredNote* addressNote_ = nullptr;
    QWidget* addressRows_ = nullptr;
    QComboBox* behavior_ = nullptr;
    QComboBox* source_ = nullptr;
    WarningLabel* missingSource_ = nullptr;
    QComboBox* priority_ = nullptr;
    QPointer<RuleEditorDialog> editor_;
};

}  // namespace tesvano

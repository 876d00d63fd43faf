#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include "TesvanoKit/Rules/URLRuleDraft.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tesvano {

class AppState;
class WarningLabel;

// The dialog in which a URL rule is added, edited or removed. It checks the pattern at every
// keystroke (one warning at most, the save button enabled only for a rule that can be
// stored) and hands the finished rule to its owner, which stores it and closes the dialog.
class RuleEditorDialog final : public QDialog {
public:
    // `editing` none: a new rule.
    RuleEditorDialog(AppState& state, std::optional<URLRule> editing, QWidget* parent = nullptr);

    bool isAdd() const { return isAdd_; }
    const URLRuleDraft& draft() const { return draft_; }

    // Called with the rule to store; present only when editing: the remove button's action.
    std::function<void(const URLRule&)> onCommit;
    std::function<void()> onRemove;
    std::function<void()> onClose;

    QLineEdit* patternField() const { return pattern_; }
    QComboBox* matchTypePicker() const { return matchType_; }
    QComboBox* sourcePicker() const { return source_; }
    QPushButton* lockButton() const { return lock_; }
    QPushButton* switchButton() const { return switch_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* removeButton() const { return remove_; }
    // The warning shown under the pattern, empty when there is none.
    QString warning() const;
    QString helpText() const;

    // Saves when the draft allows it (the save button, Return).
    void save();

protected:
    void reject() override;

private:
    void recheck();
    URLRuleDraftContext context() const;

    AppState& state_;
    bool isAdd_;
    URLRuleDraft draft_;
    QComboBox* matchType_;
    QLineEdit* pattern_;
    WarningLabel* warning_;
    QLabel* help_;
    QButtonGroup* actions_;
    QPushButton* lock_;
    QPushButton* switch_;
    QComboBox* source_;
    QPushButton* remove_ = nullptr;
    QPushButton* cancel_;
    QPushButton* save_;
};

}  // namespace tesvano

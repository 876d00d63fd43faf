#pragma once

#include <QWidget>

#include "TesvanoKit/Rules/LockConfiguration.h"

class QComboBox;
class QToolButton;

namespace tesvano {

class AppState;

// One application rule in the App Rules pane: the application, its mode, its source (for the
// modes that carry one) and a remove button. Every change goes to the state as a whole new
// rule; the row shows what the state holds.
class AppRuleRow final : public QWidget {
public:
    AppRuleRow(AppState& state, AppRule rule, QWidget* parent = nullptr);

    const AppRule& rule() const { return rule_; }
    // Shows another value of the same application's rule.
    void setRule(const AppRule& rule);
    // The selectable sources changed.
    void refreshSources();

    QComboBox* modeMenu() const { return mode_; }
    QComboBox* sourceMenu() const { return source_; }
    QToolButton* removeButton() const { return remove_; }

private:
    void showRule();

    AppState& state_;
    AppRule rule_;
    QComboBox* mode_;
    QComboBox* source_;
    QToolButton* remove_;
};

}  // namespace tesvano

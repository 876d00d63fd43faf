#pragma once

#include <QMenu>
#include <QPointer>
#include <QWidget>

#include "Tesvano/Settings/AppRules/AppPickerDialog.h"
#include "Tesvano/Settings/AppRules/AppRuleDelegate.h"

class QAction;
class QComboBox;
class QFormLayout;
class QLabel;
class QListView;
class QPushButton;
class QVBoxLayout;

namespace tesvano {

class AccessibilityRequiredNote;
class AppRulesModel;
class AppState;

// The App Rules tab: the global default source and its behaviour, the mode new rules start
// with, and the per-application rules, added through the application picker. It keeps no copy
// of the configuration: it shows the state and writes through its actions.
class AppRulesSettingsPane final : public QWidget {
public:
    explicit AppRulesSettingsPane(AppState& state, QWidget* parent = nullptr,
                                  AppPickerDialog::Scan scan = &InstalledAppsScanner::scan);

    // Opens the picker ("Add App…").
    void pickApp();
    // What the picker's choice does: a rule in the starting mode with the global default
    // source, replacing any rule the application had.
    void addRule(const InstalledApp& app);
    // Whether a rule names a launcher overlay.
    bool hasLauncherRule() const;

    AppPickerDialog* picker() const { return picker_; }
    QComboBox* defaultSourceMenu() const { return defaultSource_; }
    QComboBox* defaultBehaviorMenu() const { return defaultBehavior_; }
    QComboBox* newRuleModeMenu() const { return newRuleMode_; }
    QPushButton* addAppButton() const { return addApp_; }
    QWidget* emptyLine() const { return empty_; }
    AccessibilityRequiredNote* launcherNote() const { return launcherNote_; }
    QListView* ruleList() const { return list_; }
    const AppRulesModel& rules() const { return *model_; }

    // The menu a click on a row's control opens (built, not shown), and the one open now.
    QMenu* menuFor(int row, AppRuleDelegate::Control control);
    QMenu* openMenu() const { return openMenu_; }
    // Where a row's control is drawn, in the list's viewport.
    QRect controlRect(int row, AppRuleDelegate::Control control) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    static void markCurrent(QAction* action, bool current);
    void showGlobalDefault();
    void showRules();
    void showLauncherNote();
    void refreshSources();
    void fitList();
    void fitMenus();
    void controlClicked(const QModelIndex& index, AppRuleDelegate::Control control,
                        const QRect& rect);
    void showRowMenu(const QPoint& position);

    AppState& state_;
    AppPickerDialog::Scan scan_;
    QComboBox* defaultSource_;
    QComboBox* defaultBehavior_;
    QFormLayout* defaultForm_;
    QComboBox* newRuleMode_;
    QWidget* empty_;
    QListView* list_;
    AppRulesModel* model_;
    AppRuleDelegate* delegate_;
    QPointer<QMenu> openMenu_;
    QPushButton* addApp_;
    AccessibilityRequiredNote* launcherNote_;
    QPointer<AppPickerDialog> picker_;
};

}  // namespace tesvano

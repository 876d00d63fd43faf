#pragma once

#include <QPointer>
#include <QWidget>
#include <map>
#include <string>

#include "Tesvano/Settings/AppPickerSheet.h"

class QComboBox;
class QFormLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace tesvano {

class AccessibilityRequiredNote;
class AppRuleRow;
class AppState;

// The App Rules tab: the global default source and its behaviour, the mode new rules start
// with, and the per-application rules, added through the application picker. It keeps no copy
// of the configuration: it shows the state and writes through its actions.
class AppRulesSettingsPane final : public QWidget {
public:
    explicit AppRulesSettingsPane(AppState& state, QWidget* parent = nullptr,
                                  AppPickerSheet::Scan scan = &InstalledAppsScanner::scan);

    // Opens the picker ("Add App…").
    void pickApp();
    // What the picker's choice does: a rule in the starting mode with the global default
    // source, replacing any rule the application had.
    void addRule(const InstalledApp& app);
    // Whether a rule names a launcher overlay.
    bool hasLauncherRule() const;

    AppPickerSheet* picker() const { return picker_; }
    QComboBox* defaultSourceMenu() const { return defaultSource_; }
    QComboBox* defaultBehaviorMenu() const { return defaultBehavior_; }
    QComboBox* newRuleModeMenu() const { return newRuleMode_; }
    QPushButton* addAppButton() const { return addApp_; }
    QWidget* emptyLine() const { return empty_; }
    AccessibilityRequiredNote* launcherNote() const { return launcherNote_; }
    // The rows in display order.
    std::vector<AppRuleRow*> rows() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showGlobalDefault();
    void showRules();
    void showLauncherNote();
    void refreshSources();

    AppState& state_;
    AppPickerSheet::Scan scan_;
    QComboBox* defaultSource_;
    QComboBox* defaultBehavior_;
    QFormLayout* defaultForm_;
    QComboBox* newRuleMode_;
    QWidget* empty_;
    QVBoxLayout* rowsLayout_;
    std::map<std::string, AppRuleRow*, std::less<>> rows_;
    QPushButton* addApp_;
    AccessibilityRequiredNote* launcherNote_;
    QPointer<AppPickerSheet> picker_;
};

}  // namespace tesvano

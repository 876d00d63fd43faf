#pragma once

#include <array>
#include <string_view>

namespace tesvano {

// The panes of the Settings window, in display order.
enum class SettingsTab {
    general,
    appRules,
    urlRules,
    shortcuts,
    permissions,
    updates,
    log,
    backup
};

struct SettingsTabInfo {
    SettingsTab tab;
    std::string_view title;     // a text key, looked up in the interface language
    std::string_view iconName;  // a freedesktop icon-theme name
};

inline constexpr std::array<SettingsTabInfo, 8> settingsTabs{{
    {SettingsTab::general, "General", "preferences-system"},
    {SettingsTab::appRules, "App Rules", "preferences-desktop-default-applications"},
    {SettingsTab::urlRules, "URL Rules", "applications-internet"},
    {SettingsTab::shortcuts, "Shortcuts", "preferences-desktop-keyboard-shortcuts"},
    {SettingsTab::permissions, "Permissions", "security-medium"},
    {SettingsTab::updates, "Updates", "system-software-update"},
    {SettingsTab::log, "Log", "view-list-details"},
    {SettingsTab::backup, "Backup", "document-save"},
}};

}  // namespace tesvano

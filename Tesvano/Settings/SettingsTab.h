#pragma once

#include <array>
#include <string_view>
#include "TesvanoKit/Languages/TextKey.h"

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
    {SettingsTab::general, N_("General"), "preferences-system"},
    {SettingsTab::appRules, N_("App Rules"), "preferences-desktop-default-applications"},
    {SettingsTab::urlRules, N_("URL Rules"), "applications-internet"},
    {SettingsTab::shortcuts, N_("Shortcuts"), "preferences-desktop-keyboard-shortcuts"},
    {SettingsTab::permissions, N_("Permissions"), "security-medium"},
    {SettingsTab::updates, N_("Updates"), "system-software-update"},
    {SettingsTab::log, N_("Log"), "view-list-details"},
    {SettingsTab::backup, N_("Backup"), "document-save"},
}};

}  // namespace tesvano

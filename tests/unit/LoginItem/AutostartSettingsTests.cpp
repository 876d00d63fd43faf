#include <gtest/gtest.h>

#include <set>

#include "TesvanoKit/LoginItem/AutostartSettings.h"

namespace tesvano {
namespace {

using Command = std::vector<std::string>;

TEST(AutostartSettings, TheFirstKnownDesktopDecidesAndOnlyInstalledProgramsCount) {
    const std::set<std::string_view> installed{"systemsettings5", "xfce4-session-settings",
                                               "cinnamon-settings"};
    auto isInstalled = [&](std::string_view program) { return installed.contains(program); };
    const std::pair<std::string_view, std::optional<Command>> cases[] = {
        {"KDE", Command{"systemsettings5", "kcm_autostart"}},
        {"XFCE", Command{"xfce4-session-settings"}},
        {"xfce", Command{"xfce4-session-settings"}},
        {"X-Cinnamon", Command{"cinnamon-settings", "startup"}},
        {"ubuntu:GNOME", std::nullopt},
        {"GNOME:KDE", std::nullopt},  // GNOME is known and has none
        {"Unity:XFCE", Command{"xfce4-session-settings"}},
        {"MATE", std::nullopt},  // not installed here
        {"", std::nullopt},
        {"::", std::nullopt},
    };
    for (const auto& [desktop, expected] : cases) {
        EXPECT_EQ(AutostartSettings::command(desktop, isInstalled), expected) << desktop;
    }
}

}  // namespace
}  // namespace tesvano

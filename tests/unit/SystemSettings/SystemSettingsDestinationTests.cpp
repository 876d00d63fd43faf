#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <string>

#include "system-settings-links/SettingsNavigator.h"
#include "system-settings-links/SystemSettingsDestination.h"

namespace SystemSettings {
namespace {

TEST(SystemSettingsDesktop, ReadsTheFirstKnownDesktopOfTheList) {
    const std::pair<const char*, Desktop> cases[] = {
        {"GNOME", Desktop::gnome},
        {"ubuntu:GNOME", Desktop::gnome},
        {"GNOME-Classic:GNOME", Desktop::gnome},
        {"KDE", Desktop::kde},
        {"X-Cinnamon", Desktop::cinnamon},
        {"XFCE", Desktop::xfce},
        {"MATE", Desktop::mate},
        {"Unity:KDE", Desktop::kde},
        {"", Desktop::unknown},
        {"i3", Desktop::unknown},
        {"gnomeish", Desktop::unknown},
    };
    for (const auto& [value, desktop] : cases) {
        EXPECT_EQ(desktopFromEnvironment(value), desktop) << value;
    }
}

TEST(SystemSettingsCatalogue, NamesEachDesktopsProgramAndPanelOrNone) {
    struct Case {
        Desktop desktop;
        PrivacyAnchor anchor;
        std::vector<std::string> command;  // empty: the desktop has no such place
    };
    using A = PrivacyAnchor;
    const Case cases[] = {
        {Desktop::gnome, A::accessibility, {"gnome-control-center", "universal-access"}},
        {Desktop::gnome, A::microphone, {"gnome-control-center", "microphone"}},
        {Desktop::kde, A::accessibility, {"systemsettings", "kcmaccess"}},
        {Desktop::kde, A::camera, {}},
        {Desktop::cinnamon, A::accessibility, {"cinnamon-settings", "universal-access"}},
        {Desktop::cinnamon, A::microphone, {}},
        {Desktop::xfce, A::accessibility, {"xfce4-accessibility-settings"}},
        {Desktop::mate, A::accessibility, {"mate-at-properties"}},
        {Desktop::unknown, A::accessibility, {}},
    };
    for (const auto& c : cases) {
        const auto destination = Catalogue(c.desktop).privacy(c.anchor);
        SCOPED_TRACE(std::string(desktopName(c.desktop)) + " " +
                     std::to_string(static_cast<int>(c.anchor)));
        if (c.command.empty()) {
            EXPECT_FALSE(destination.has_value());
        } else {
            ASSERT_TRUE(destination.has_value());
            EXPECT_EQ(destination->commandLine(), c.command);
            EXPECT_EQ(destination->anchor, c.anchor);
        }
    }
    auto accessibility = *Catalogue(Desktop::gnome).privacy(A::accessibility);
    EXPECT_EQ(accessibility.paneIdentifier, "universal-access");
    EXPECT_EQ(accessibility.application.appId, "org.gnome.Settings");
    // Same command, other anchor: two destinations.
    auto other = accessibility;
    other.anchor = A::camera;
    EXPECT_NE(accessibility, other);
}

TEST(SettingsNavigator, ReportsAProgramThatCannotStartAndStillActivates) {
    EXPECT_TRUE(launchDetached({"true"}).has_value());
    auto missing = launchDetached({"tesvano-no-such-settings-program"});
    ASSERT_FALSE(missing.has_value());
    EXPECT_NE(missing.error().find("tesvano-no-such-settings-program"), std::string::npos);
    EXPECT_FALSE(launchDetached({}).has_value());

    std::vector<std::vector<std::string>> launched;
    int activations = 0;
    SettingsNavigator navigator(
        [&](const std::vector<std::string>& argv) -> std::expected<std::int32_t, std::string> {
            launched.push_back(argv);
            return std::unexpected("missing");
        },
        [&](const SettingsApplication&) { return ++activations > 0; });
    auto destination = *Catalogue(Desktop::kde).privacy(PrivacyAnchor::accessibility);
    EXPECT_FALSE(navigator.open(destination).has_value());
    EXPECT_EQ(launched, (std::vector<std::vector<std::string>>{{"systemsettings", "kcmaccess"}}));
    EXPECT_EQ(activations, 1);
}

TEST(SettingsNavigator, TellsTheProcessItStarted) {
    // Its windows carry that id, whatever the program's executable turns out to be.
    auto started = launchDetached({"sleep", "30"});
    ASSERT_TRUE(started.has_value()) << started.error();
    ASSERT_GT(*started, 0);
    std::string command;
    std::getline(std::ifstream("/proc/" + std::to_string(*started) + "/cmdline"), command, '\0');
    EXPECT_EQ(command, "sleep");
    ::kill(*started, SIGKILL);
}

}  // namespace
}  // namespace SystemSettings

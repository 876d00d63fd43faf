#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <map>
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

using Member = std::optional<SystemSettingsDestination> (Catalogue::*)() const;

TEST(SystemSettingsCatalogue, NamesEachDesktopsProgramAndPanelOrNone) {
    struct Case {
        Desktop desktop;
        const char* member;
        std::vector<std::string> command;  // empty: the desktop has no such place
    };
    const std::map<std::string, Member> members{
        {"accessibility", &Catalogue::accessibility},
        {"wallpaper", &Catalogue::wallpaper},
        {"displays", &Catalogue::displays},
        {"bluetooth", &Catalogue::bluetooth},
        {"loginItems", &Catalogue::loginItems},
        {"wifi", &Catalogue::wifi},
        {"vpn", &Catalogue::vpn},
        {"privacySecurity", &Catalogue::privacySecurity},
    };
    const Case cases[] = {
        {Desktop::gnome, "accessibility", {"gnome-control-center", "universal-access"}},
        {Desktop::gnome, "wallpaper", {"gnome-control-center", "background"}},
        {Desktop::gnome, "loginItems", {}},
        {Desktop::gnome, "vpn", {"gnome-control-center", "network"}},
        {Desktop::kde, "accessibility", {"systemsettings", "kcmaccess"}},
        {Desktop::kde, "loginItems", {"systemsettings", "kcm_autostart"}},
        {Desktop::kde, "wallpaper", {}},
        {Desktop::kde, "privacySecurity", {}},
        {Desktop::cinnamon, "accessibility", {"cinnamon-settings", "universal-access"}},
        {Desktop::cinnamon, "loginItems", {"cinnamon-settings", "startup"}},
        {Desktop::cinnamon, "bluetooth", {}},
        {Desktop::xfce, "accessibility", {"xfce4-accessibility-settings"}},
        {Desktop::xfce, "displays", {"xfce4-display-settings"}},
        {Desktop::xfce, "wifi", {}},
        {Desktop::mate, "accessibility", {"mate-at-properties"}},
        {Desktop::mate, "wallpaper", {"mate-appearance-properties", "--show-page=background"}},
        {Desktop::unknown, "accessibility", {}},
        {Desktop::unknown, "displays", {}},
    };
    for (const auto& c : cases) {
        const auto destination = (Catalogue(c.desktop).*members.at(c.member))();
        SCOPED_TRACE(std::string(desktopName(c.desktop)) + " " + c.member);
        if (c.command.empty()) {
            EXPECT_FALSE(destination.has_value());
        } else {
            ASSERT_TRUE(destination.has_value());
            EXPECT_EQ(destination->commandLine(), c.command);
            EXPECT_FALSE(destination->anchor.has_value());
        }
    }
}

TEST(SystemSettingsCatalogue, PrivacyListsKeepTheirAnchorAndOnlyExistWhereShown) {
    const Catalogue gnome(Desktop::gnome);
    auto accessibility = gnome.privacySecurity(PrivacySecurityAnchor::privacyAccessibility);
    ASSERT_TRUE(accessibility);
    EXPECT_EQ(accessibility->anchor, "Privacy_Accessibility");
    EXPECT_EQ(accessibility->paneIdentifier, "universal-access");
    EXPECT_EQ(accessibility->application.appId, "org.gnome.Settings");
    EXPECT_EQ(gnome.privacySecurity(PrivacySecurityAnchor::privacyMicrophone)->commandLine(),
              (std::vector<std::string>{"gnome-control-center", "microphone"}));
    EXPECT_FALSE(gnome.privacySecurity(PrivacySecurityAnchor::privacyAllFiles));
    EXPECT_FALSE(Catalogue(Desktop::kde).privacySecurity(PrivacySecurityAnchor::privacyCamera));
    // Same command, other anchor: two destinations.
    auto a = *accessibility;
    auto b = a;
    b.anchor = "Other";
    EXPECT_NE(a, b);
}

TEST(SystemSettingsAnchors, RawValuesRoundTripExactly) {
    EXPECT_EQ(allPrivacySecurityAnchors().size(), 34U);
    for (auto anchor : allPrivacySecurityAnchors()) {
        EXPECT_EQ(privacySecurityAnchor(rawValue(anchor)), anchor) << rawValue(anchor);
    }
    EXPECT_FALSE(privacySecurityAnchor("privacy_accessibility"));
    EXPECT_FALSE(privacySecurityAnchor(""));
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
    auto destination = *Catalogue(Desktop::kde).accessibility();
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

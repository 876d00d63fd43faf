#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
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

using Command = std::vector<std::string>;
using Member = std::optional<SystemSettingsDestination> (Catalogue::*)() const;

const std::map<std::string, Member>& namedPlaces() {
    static const std::map<std::string, Member> members{
        {"privacyOverview", &Catalogue::privacyOverview},
        {"wallpaper", &Catalogue::wallpaper},
        {"displays", &Catalogue::displays},
        {"bluetooth", &Catalogue::bluetooth},
        {"loginItems", &Catalogue::loginItems},
        {"extensions", &Catalogue::extensions},
        {"wifi", &Catalogue::wifi},
        {"vpn", &Catalogue::vpn},
        {"accessibility", &Catalogue::accessibility},
    };
    return members;
}

// Every place of one desktop, named ("wifi") or anchored ("privacy:camera"), with the command
// that opens it; a place left out must be none.
struct DesktopTable {
    Desktop desktop;
    std::map<std::string, Command> places;
};

void PrintTo(const DesktopTable& table, std::ostream* out) {
    *out << desktopName(table.desktop);
}

class SystemSettingsCatalogueTable : public testing::TestWithParam<DesktopTable> {};

TEST_P(SystemSettingsCatalogueTable, OpensEachPlaceTheDesktopHasAndNoneElse) {
    const auto& [desktop, places] = GetParam();
    const Catalogue catalogue(desktop);
    std::map<std::string, std::optional<SystemSettingsDestination>> found;
    for (const auto& [name, member] : namedPlaces()) {
        found[name] = (catalogue.*member)();
    }
    for (auto anchor : allPrivacyAnchors) {
        found["privacy:" + std::string(anchorName(anchor))] = catalogue.privacy(anchor);
    }
    for (const auto& [name, command] : places) {
        EXPECT_TRUE(found.contains(name)) << "no such place in the test: " << name;
    }
    for (const auto& [name, destination] : found) {
        SCOPED_TRACE(name);
        const auto expected = places.find(name);
        if (expected == places.end()) {
            EXPECT_FALSE(destination.has_value()) << destination->commandLine().front();
            continue;
        }
        ASSERT_TRUE(destination.has_value());
        EXPECT_EQ(destination->commandLine(), expected->second);
        EXPECT_FALSE(destination->application.appId.empty());
        // The panel is the first argument; a tool of its own has none.
        EXPECT_EQ(destination->paneIdentifier.has_value(), !destination->arguments.empty());
        if (name.starts_with("privacy:")) {
            ASSERT_TRUE(destination->anchor.has_value());
            EXPECT_EQ("privacy:" + std::string(anchorName(*destination->anchor)), name);
        } else {
            EXPECT_FALSE(destination->anchor.has_value());
        }
    }
    // The flow's text and the assistive-technology switch follow the grant: only a tool that
    // has the switch says so.
    const bool hasSwitch = desktop == Desktop::xfce || desktop == Desktop::mate;
    for (const auto& destination :
         {catalogue.privacy(PrivacyAnchor::accessibility), catalogue.accessibility()}) {
        if (destination) {
            EXPECT_EQ(destination->grant,
                      hasSwitch ? AccessGrant::assistiveTechnologies : AccessGrant::none);
        }
    }
}

Command gnome(std::string panel) {
    return {"gnome-control-center", std::move(panel)};
}
Command kde(std::string module) {
    return {"systemsettings", std::move(module)};
}
Command cinnamon(std::string module) {
    return {"cinnamon-settings", std::move(module)};
}

INSTANTIATE_TEST_SUITE_P(
    EachDesktop, SystemSettingsCatalogueTable,
    testing::Values(DesktopTable{Desktop::gnome,
                                 {{"privacy:accessibility", gnome("universal-access")},
                                  {"privacy:camera", gnome("camera")},
                                  {"privacy:microphone", gnome("microphone")},
                                  {"privacy:location", gnome("location")},
                                  {"privacy:screenLock", gnome("lock")},
                                  {"privacy:fileHistory", gnome("usage")},
                                  {"privacy:diagnostics", gnome("diagnostics")},
                                  {"privacy:thunderbolt", gnome("thunderbolt")},
                                  {"privacy:connectivity", gnome("connectivity")},
                                  {"wallpaper", gnome("background")},
                                  {"displays", gnome("display")},
                                  {"bluetooth", gnome("bluetooth")},
                                  {"extensions", {"gnome-extensions-app"}},
                                  {"wifi", gnome("wifi")},
                                  {"vpn", gnome("network")},
                                  {"accessibility", gnome("universal-access")}}},
                    DesktopTable{Desktop::kde,
                                 {{"privacy:accessibility", kde("kcm_access")},
                                  {"privacy:screenLock", kde("kcm_screenlocker")},
                                  {"privacy:fileHistory", kde("kcm_recentFiles")},
                                  {"privacy:diagnostics", kde("kcm_feedback")},
                                  {"privacy:thunderbolt", kde("kcm_bolt")},
                                  {"displays", kde("kcm_kscreen")},
                                  {"bluetooth", kde("kcm_bluetooth")},
                                  {"loginItems", kde("kcm_autostart")},
                                  {"wifi", kde("kcm_networkmanagement")},
                                  {"vpn", kde("kcm_networkmanagement")},
                                  {"accessibility", kde("kcm_access")}}},
                    DesktopTable{Desktop::cinnamon,
                                 {{"privacy:accessibility", cinnamon("universal-access")},
                                  {"privacy:screenLock", cinnamon("screensaver")},
                                  {"privacy:fileHistory", cinnamon("privacy")},
                                  {"privacy:connectivity", cinnamon("privacy")},
                                  {"privacyOverview", cinnamon("privacy")},
                                  {"wallpaper", cinnamon("backgrounds")},
                                  {"displays", cinnamon("display")},
                                  {"bluetooth", cinnamon("bluetooth")},
                                  {"loginItems", cinnamon("startup")},
                                  {"extensions", cinnamon("extensions")},
                                  {"wifi", cinnamon("network")},
                                  {"vpn", cinnamon("network")},
                                  {"accessibility", cinnamon("universal-access")}}},
                    DesktopTable{Desktop::xfce,
                                 {{"privacy:accessibility", {"xfce4-accessibility-settings"}},
                                  {"wallpaper", {"xfdesktop-settings"}},
                                  {"displays", {"xfce4-display-settings"}},
                                  {"bluetooth", {"blueman-manager"}},
                                  {"loginItems", {"xfce4-session-settings"}},
                                  {"wifi", {"nm-connection-editor"}},
                                  {"vpn", {"nm-connection-editor"}},
                                  {"accessibility", {"xfce4-accessibility-settings"}}}},
                    DesktopTable{
                        Desktop::mate,
                        {{"privacy:accessibility", {"mate-at-properties"}},
                         {"privacy:screenLock", {"mate-screensaver-preferences"}},
                         {"wallpaper", {"mate-appearance-properties", "--show-page=background"}},
                         {"displays", {"mate-display-properties"}},
                         {"bluetooth", {"blueman-manager"}},
                         {"loginItems", {"mate-session-properties"}},
                         {"wifi", {"nm-connection-editor"}},
                         {"vpn", {"nm-connection-editor"}},
                         {"accessibility", {"mate-at-properties"}}}},
                    DesktopTable{Desktop::unknown, {}}),
    [](const testing::TestParamInfo<DesktopTable>& param) {
        return std::string(desktopName(param.param.desktop));
    });

// The modules named for the desktops installed here exist under those names (a renamed
// module opens the settings' start page instead). Modules of packages a desktop installs
// apart (displays, Bluetooth, networks, the screen locker, Thunderbolt) are checked where
// they are installed.
TEST(SystemSettingsCatalogue, NamesModulesTheInstalledDesktopsHave) {
    namespace fs = std::filesystem;
    const fs::path kcms = "/usr/lib/x86_64-linux-gnu/qt5/plugins/plasma/kcms";
    const fs::path cinnamonModules = "/usr/share/cinnamon/cinnamon-settings/modules";
    int checked = 0;
    const auto check = [&](Desktop desktop, auto&& exists) {
        const Catalogue catalogue(desktop);
        std::vector<std::optional<SystemSettingsDestination>> all;
        for (const auto& [name, member] : namedPlaces()) {
            all.push_back((catalogue.*member)());
        }
        for (auto anchor : allPrivacyAnchors) {
            all.push_back(catalogue.privacy(anchor));
        }
        for (const auto& destination : all) {
            if (destination && destination->paneIdentifier) {
                ++checked;
                EXPECT_TRUE(exists(*destination->paneIdentifier))
                    << desktopName(desktop) << ": " << *destination->paneIdentifier;
            }
        }
    };
    if (fs::exists(kcms)) {
        const std::set<std::string> apart{"kcm_kscreen", "kcm_bluetooth", "kcm_networkmanagement",
                                          "kcm_screenlocker", "kcm_bolt"};
        check(Desktop::kde, [&](const std::string& module) {
            for (const auto* folder : {"systemsettings", "systemsettings_qwidgets"}) {
                if (fs::exists(kcms / folder / (module + ".so"))) {
                    return true;
                }
            }
            return apart.contains(module);
        });
    }
    if (fs::exists(cinnamonModules)) {
        // cinnamon-settings takes a module's name, or a name it rewrites to one (its
        // desktop entries use those), or a panel of its control centre.
        check(Desktop::cinnamon, [&](const std::string& module) {
            std::string underscored = module;
            std::ranges::replace(underscored, '-', '_');
            return fs::exists(cinnamonModules / ("cs_" + underscored + ".py")) ||
                   fs::exists("/usr/share/applications/cinnamon-settings-" + module + ".desktop") ||
                   fs::exists("/usr/share/applications/cinnamon-" + module + "-panel.desktop") ||
                   module == "bluetooth";  // rewritten to the Bluetooth tool's own program
        });
    }
    if (checked == 0) {
        GTEST_SKIP() << "neither Plasma nor Cinnamon is installed";
    }
}

TEST(SystemSettingsCatalogue, TwoAnchorsOfOneCommandAreTwoDestinations) {
    auto accessibility = *Catalogue(Desktop::gnome).privacy(PrivacyAnchor::accessibility);
    EXPECT_EQ(accessibility.paneIdentifier, "universal-access");
    EXPECT_EQ(accessibility.application.appId, "org.gnome.Settings");
    EXPECT_EQ(accessibility.commandLine(),
              Catalogue(Desktop::gnome).accessibility()->commandLine());
    EXPECT_NE(accessibility, *Catalogue(Desktop::gnome).accessibility());
    auto other = accessibility;
    other.anchor = PrivacyAnchor::camera;
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
    EXPECT_EQ(launched, (std::vector<std::vector<std::string>>{{"systemsettings", "kcm_access"}}));
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

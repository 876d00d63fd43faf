#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "system-settings-links/SettingsNavigator.h"
#include "system-settings-links/SystemSettingsDestination.h"

namespace SystemSettings {
namespace {

namespace fs = std::filesystem;

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
                                  {"privacy:screenLock", gnome("screen")},
                                  {"privacy:fileHistory", gnome("usage")},
                                  {"privacy:diagnostics", gnome("diagnostics")},
                                  {"privacy:thunderbolt", gnome("thunderbolt")},
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
                                  {"bluetooth", {"blueman-manager"}},
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

// What the desktops installed on this machine say they have, read from their own files under
// TESVANO_TEST_DESKTOP_ROOT (default /): the command lines of their desktop entries, their
// settings modules, the programs installed.
class InstalledDesktops {
public:
    InstalledDesktops() {
        const char* root = std::getenv("TESVANO_TEST_DESKTOP_ROOT");
        root_ = root != nullptr && *root != '\0' ? root : "/";
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(root_ / "usr/share/applications", ec)) {
            if (entry.path().extension() == ".desktop") {
                readEntry(entry.path());
            }
        }
    }

    bool installed(std::string_view program) const {
        for (const char* folder : {"usr/bin", "bin", "usr/sbin", "usr/games"}) {
            if (fs::exists(root_ / folder / program)) {
                return true;
            }
        }
        return false;
    }
    // Whether one of the desktop entries starts exactly this command line.
    bool hasEntryFor(const Command& command) const { return commands_.contains(command); }
    bool exists(const fs::path& relative) const { return fs::exists(root_ / relative); }
    std::string read(const fs::path& relative) const {
        std::ifstream in(root_ / relative);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    void readEntry(const fs::path& path) {
        std::ifstream in(path);
        bool inMainGroup = false;
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("[")) {
                inMainGroup = line == "[Desktop Entry]";
            } else if (inMainGroup && line.starts_with("Exec=")) {
                Command command;
                std::istringstream words(line.substr(5));
                for (std::string word; words >> word;) {
                    if (!word.starts_with("%")) {  // a field code the launcher fills in
                        command.push_back(word);
                    }
                }
                commands_.insert(command);
            }
        }
    }

    fs::path root_;
    std::set<Command> commands_;
};

// Every place the catalogue names for one desktop, with where it came from.
std::vector<std::pair<std::string, SystemSettingsDestination>> placesOf(Desktop desktop) {
    const Catalogue catalogue(desktop);
    std::vector<std::pair<std::string, SystemSettingsDestination>> all;
    for (const auto& [name, member] : namedPlaces()) {
        if (auto destination = (catalogue.*member)()) {
            all.emplace_back(name, *destination);
        }
    }
    for (auto anchor : allPrivacyAnchors) {
        if (auto destination = catalogue.privacy(anchor)) {
            all.emplace_back("privacy:" + std::string(anchorName(anchor)), *destination);
        }
    }
    return all;
}

// Each place the catalogue names for a desktop installed here is one that desktop has: a
// renamed panel opens the settings' start page, or nothing. A tool the desktops share
// (Bluetooth's, the network connections') comes in a package of its own and is checked where
// it is installed.
TEST(SystemSettingsCatalogue, NamesOnlyPlacesTheInstalledDesktopsHave) {
    const InstalledDesktops here;
    const std::set<std::string> sharedTools{"blueman-manager", "nm-connection-editor",
                                            "gnome-extensions-app"};
    const fs::path kcms = "usr/lib/x86_64-linux-gnu/qt5/plugins/plasma/kcms";
    // Plasma's own modules come with it; these with packages a desktop installs apart.
    const std::set<std::string> kcmsApart{"kcm_kscreen", "kcm_bluetooth", "kcm_networkmanagement",
                                          "kcm_screenlocker", "kcm_bolt"};
    const std::string cinnamonSettings =
        here.read("usr/share/cinnamon/cinnamon-settings/cinnamon-settings.py");
    int checked = 0;
    std::vector<std::string> unchecked;
    for (const Desktop desktop :
         {Desktop::gnome, Desktop::kde, Desktop::cinnamon, Desktop::xfce, Desktop::mate}) {
        const auto settings = Catalogue(desktop).settingsApplication();
        ASSERT_TRUE(settings);
        const bool isInstalled =
            desktop == Desktop::kde ? here.exists(kcms) : here.installed(settings->executable);
        if (!isInstalled) {
            continue;
        }
        for (const auto& [name, destination] : placesOf(desktop)) {
            SCOPED_TRACE(std::string(desktopName(desktop)) + " " + name);
            const auto command = destination.commandLine();
            const std::string& program = command.front();
            ++checked;
            if (sharedTools.contains(program)) {
                if (!here.installed(program)) {
                    unchecked.push_back(std::string(desktopName(desktop)) + " " + name);
                    --checked;
                }
                // Cinnamon's settings open it as their page for the place.
                if (desktop == Desktop::cinnamon) {
                    EXPECT_NE(cinnamonSettings.find('"' + program + '"'), std::string::npos);
                }
                continue;
            }
            if (desktop == Desktop::kde) {
                ASSERT_EQ(command.size(), 2u);
                const std::string& module = command[1];
                EXPECT_TRUE(here.exists("usr/share/applications/" + module + ".desktop") ||
                            here.exists(kcms / "systemsettings" / (module + ".so")) ||
                            here.exists(kcms / "systemsettings_qwidgets" / (module + ".so")) ||
                            kcmsApart.contains(module))
                    << module;
                continue;
            }
            EXPECT_TRUE(here.installed(program)) << program;
            // A panel of the settings program: one of its own entries opens it so.
            if (command.size() > 1 && program == settings->executable) {
                EXPECT_TRUE(here.hasEntryFor(command)) << command[1];
            }
        }
    }
    for (const auto& place : unchecked) {
        std::cout << "not installed, not checked: " << place << "\n";
    }
    if (checked == 0) {
        GTEST_SKIP() << "none of the desktops is installed";
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

#include <gtest/gtest.h>

#include <algorithm>

#include "TesvanoKit/Apps/AppPickerQuery.h"
#include "TesvanoKit/Apps/InstalledAppsScanner.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using platform::DesktopEntryIndex;
using platform::RunningApplication;
using test::TempDir;
using test::writeFile;

std::string entry(const std::string& name, const std::string& extra = {}) {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=run\n" + extra + "\n";
}

std::vector<std::string> ids(const std::vector<InstalledApp>& apps) {
    std::vector<std::string> out;
    for (const auto& app : apps) {
        out.push_back(app.appId);
    }
    return out;
}

std::vector<std::string> names(const std::vector<InstalledApp>& apps) {
    std::vector<std::string> out;
    for (const auto& app : apps) {
        out.push_back(app.name);
    }
    return out;
}

class ScannerTree : public ::testing::Test {
protected:
    ScannerTree() {
        writeFile(home / "org.example.Editor.desktop", entry("Editor (mine)"));
        writeFile(system / "org.example.Editor.desktop", entry("Editor"));
        writeFile(system / "calc.desktop", entry("Calculator", "Name[de]=Rechner"));
        writeFile(system / "daemon.desktop", entry("Daemon", "NoDisplay=true"));
        writeFile(home / "removed.desktop", "[Desktop Entry]\nType=Application\nHidden=true\n");
        writeFile(system / "removed.desktop", entry("Removed"));
        writeFile(system / "gnome-only.desktop", entry("Gnome Tool", "OnlyShowIn=GNOME;"));
        writeFile(system / "not-in-kde.desktop", entry("Not In KDE", "NotShowIn=KDE;Unity;"));
        writeFile(system / "org.kde.krunner.desktop", entry("KRunner", "NoDisplay=true"));
        writeFile(system / "kde" / "konsole.desktop", entry("Konsole"));
        // Broken files: each is skipped and costs nothing else.
        writeFile(system / "garbage.desktop", std::string("\0\xff\xfe[Desktop", 10));
        writeFile(system / "nogroup.desktop", "Type=Application\nName=Lost\n");
        std::filesystem::create_directories(system / "folder.desktop");
    }

    InstalledAppsScanner::Environment environment(std::vector<std::string> desktops = {"KDE"}) {
        return {
            {home, system, dir / "missing"}, std::move(desktops), {}, SupportedLanguage::english};
    }

    TempDir dir;
    std::filesystem::path home = dir / "home";
    std::filesystem::path system = dir / "system";
};

TEST_F(ScannerTree, ListsWhatTheMenuShowsOncePerIdAndTheLaunchers) {
    const auto apps = InstalledAppsScanner::scan(environment());
    EXPECT_EQ(names(apps),
              (std::vector<std::string>{"Calculator", "Editor (mine)", "Konsole", "KRunner"}));
    const auto editor = std::ranges::find(apps, "org.example.Editor", &InstalledApp::appId);
    ASSERT_NE(editor, apps.end());
    EXPECT_EQ(editor->path, (home / "org.example.Editor.desktop").string());
    EXPECT_NE(std::ranges::find(apps, "kde-konsole", &InstalledApp::appId), apps.end());
}

TEST_F(ScannerTree, TheCurrentDesktopDecidesOnlyShowInAndNotShowIn) {
    struct Case {
        std::vector<std::string> desktops;
        bool gnomeTool;
        bool notInKDE;
    };
    const Case cases[] = {
        {{"KDE"}, false, false},
        {{"GNOME"}, true, true},
        {{"ubuntu", "GNOME"}, true, true},
        {{"Unity", "GNOME"}, true, false},  // the first listed name decides
        {{}, false, true},
    };
    for (const auto& c : cases) {
        const auto found = ids(InstalledAppsScanner::scan(environment(c.desktops)));
        auto has = [&](std::string_view id) { return std::ranges::find(found, id) != found.end(); };
        EXPECT_EQ(has("gnome-only"), c.gnomeTool) << ::testing::PrintToString(c.desktops);
        EXPECT_EQ(has("not-in-kde"), c.notInKDE) << ::testing::PrintToString(c.desktops);
    }
}

TEST_F(ScannerTree, RunningProgramsAreAddedOnceAndKeptOutEntriesShowWhileTheyRun) {
    auto env = environment();
    env.language = SupportedLanguage::german;
    env.running = {
        {10, std::nullopt, "/usr/bin/htop"},
        {11, "daemon", "/usr/libexec/daemon"},
        {12, "org.example.Editor", "/usr/bin/editor"},  // installed: not again
        {13, std::nullopt, "/opt/other/htop"},          // same key as the first
        {14, std::nullopt, std::nullopt},               // no identity at all
        {15, "org.kde.krunner", "/usr/bin/krunner"},    // the launcher, found running
        {16, "org.gone.App", "/usr/bin/gone"},          // its entry went since it started
    };
    const auto apps = InstalledAppsScanner::scan(env);
    EXPECT_EQ(
        apps,
        (std::vector<InstalledApp>{
            {"daemon", "Daemon", (system / "daemon.desktop").string()},
            {"org.example.Editor", "Editor (mine)", (home / "org.example.Editor.desktop").string()},
            {"process:htop", "htop", "/usr/bin/htop"},
            {"kde-konsole", "Konsole", (system / "kde/konsole.desktop").string()},
            {"org.kde.krunner", "KRunner", (system / "org.kde.krunner.desktop").string()},
            {"org.gone.App", "org.gone.App", "/usr/bin/gone"},
            {"calc", "Rechner", (system / "calc.desktop").string()},
        }));
}

TEST(InstalledAppsScanner, SortsByNameInTheInterfaceLanguage) {
    struct Case {
        SupportedLanguage language;
        std::vector<std::string> given;
        std::vector<std::string> sorted;
    };
    const Case cases[] = {
        // Case is ignored, accents count after the letters, umlauts sort with their base.
        {SupportedLanguage::english,
         {"zebra", "Émacs", "emacs", "Äpfel", "apple", "Zed", "zed"},
         {"Äpfel", "apple", "emacs", "Émacs", "zebra", "Zed", "zed"}},
        // Names equal but for case keep the order they were found in.
        {SupportedLanguage::english, {"zed", "Zed"}, {"zed", "Zed"}},
        // Han characters: after Latin and by code point where the language has no order of
        // its own; first and by pinyin in Chinese.
        {SupportedLanguage::english, {"阿里", "微信", "Mail"}, {"Mail", "微信", "阿里"}},
        {SupportedLanguage::simplifiedChinese, {"Mail", "微信", "阿里"}, {"阿里", "微信", "Mail"}},
        // Russian puts Cyrillic before Latin.
        {SupportedLanguage::english,
         {"Яндекс", "Firefox", "Блокнот"},
         {"Firefox", "Блокнот", "Яндекс"}},
        {SupportedLanguage::russian,
         {"Яндекс", "Firefox", "Блокнот"},
         {"Блокнот", "Яндекс", "Firefox"}},
    };
    for (const auto& c : cases) {
        std::vector<InstalledApp> apps;
        for (const auto& name : c.given) {
            apps.push_back({"id." + name, name, ""});
        }
        InstalledAppsScanner::sortByName(apps, c.language);
        EXPECT_EQ(names(apps), c.sorted) << rawValue(c.language);
    }
}

TEST(InstalledAppsScanner, DisplayNamePrefersTheLanguageThenNameThenFileName) {
    auto entry = *DesktopEntryIndex::parse(
        "x",
        "[Desktop Entry]\nType=Application\nName=Files\nName[de_DE]=Dateien\nName[ja]=ファイル\n");
    entry.path = "/usr/share/applications/org.gnome.Nautilus.desktop";
    EXPECT_EQ(InstalledAppsScanner::displayName(entry, SupportedLanguage::german), "Dateien");
    EXPECT_EQ(InstalledAppsScanner::displayName(entry, SupportedLanguage::japanese), "ファイル");
    EXPECT_EQ(InstalledAppsScanner::displayName(entry, SupportedLanguage::french), "Files");
    entry.name.clear();
    EXPECT_EQ(InstalledAppsScanner::displayName(entry, SupportedLanguage::french),
              "org.gnome.Nautilus");
}

TEST(AppPickerQuery, SearchMatchesNameOrIdentityIgnoringCase) {
    const InstalledApp editor{"org.gnome.TextEditor", "Text Editor", ""};
    const InstalledApp cafe{"cafe", "Café Über", ""};
    struct Case {
        std::string query;
        bool editor;
        bool cafe;
    };
    const Case cases[] = {
        {"", true, true},           {"edit", true, false},       {"EDITOR", true, false},
        {"org.gnome", true, false}, {"texteditor", true, false}, {" ", true, true},
        {"  ", false, false},       {"ÜBER", false, true},       {"cafe", false, true},
        {"café", false, true},      {"cafè", false, false},      {"zzz", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AppPickerQuery::matches(editor, c.query), c.editor) << '"' << c.query << '"';
        EXPECT_EQ(AppPickerQuery::matches(cafe, c.query), c.cafe) << '"' << c.query << '"';
    }
    EXPECT_EQ(AppPickerQuery::filtered({editor, cafe}, "e").size(), 2u);
    EXPECT_EQ(AppPickerQuery::filtered({cafe, editor}, "gnome"), std::vector{editor});
}

TEST(AppPickerQuery, TypedIdentitiesAreTrimmedAndMayHoldNoInnerSpace) {
    struct Case {
        std::string typed;
        std::string accepted;
    };
    const Case cases[] = {
        {"org.example.App", "org.example.App"},
        {"  org.example.App \n", "org.example.App"},
        {"\u00a0firefox-esr\u2003", "firefox-esr"},
        {"org example", ""},
        {"org.example\tApp", ""},
        {"process:My Tool", "process:My Tool"},
        {" process:My Tool\n", "process:My Tool"},
        {"process:", "process:"},
        {"process:   ", "process:"},
        {"", ""},
        {" \n\t", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AppPickerQuery::normalizedManualAppId(c.typed), c.accepted)
            << '"' << c.typed << '"';
    }
}

}  // namespace
}  // namespace tesvano

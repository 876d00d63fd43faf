#include <gtest/gtest.h>

#include "Platform/Workspace/ApplicationIdentity.h"
#include "Platform/Workspace/DesktopEntryIndex.h"
#include "tests/support/TempDir.h"

namespace tesvano::platform {
namespace {

using test::TempDir;
using test::writeFile;

std::string entry(const std::string& extra) {
    return "[Desktop Entry]\nType=Application\nName=Test\n" + extra + "\n";
}

TEST(DesktopEntryIndexTest, EarlierFoldersWinAndHiddenEntriesRemoveTheId) {
    TempDir dir;
    const auto home = dir / "home";
    const auto system = dir / "system";
    writeFile(home / "org.example.Editor.desktop", entry("Exec=editor-home %F"));
    writeFile(system / "org.example.Editor.desktop", entry("Exec=editor-system"));
    writeFile(home / "removed.desktop", "[Desktop Entry]\nType=Application\nHidden=true\n");
    writeFile(system / "removed.desktop", entry("Exec=removed"));
    writeFile(system / "kde" / "konsole.desktop", entry("Exec=konsole"));
    writeFile(system / "link.desktop", "[Desktop Entry]\nType=Link\nURL=https://example.org\n");
    writeFile(system / "notes.txt", "not an entry");

    auto index = DesktopEntryIndex::scan({home, system, dir / "missing"});
    std::vector<std::string> ids;
    for (const auto& e : index.entries()) {
        ids.push_back(e.id);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"org.example.Editor", "kde-konsole"}));
    EXPECT_EQ(index.entry("org.example.Editor")->executable, "editor-home");
}

TEST(DesktopEntryIndexTest, ParsesTheEntryGroupOnly) {
    auto parsed = DesktopEntryIndex::parse("a", R"(# comment
[Desktop Entry]
Name = Alpha Editor
Name[de]=Alpha-Editor
Type=Application
StartupWMClass=AlphaEd
NoDisplay=true
Icon=alpha-editor
Exec="/opt/alpha app/bin/alpha" --new-window %U

[Desktop Action new]
Exec=other
Name=Other
)");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->name, "Alpha Editor");
    EXPECT_EQ(parsed->startupWMClass, "AlphaEd");
    EXPECT_EQ(parsed->executable, "alpha");
    EXPECT_TRUE(parsed->noDisplay);
    EXPECT_EQ(parsed->icon, "alpha-editor");
    EXPECT_EQ(parsed->localizedNames.at("de"), "Alpha-Editor");
    EXPECT_EQ(parsed->localizedNames.size(), 1u) << "the action group's names are not the entry's";
    EXPECT_FALSE(DesktopEntryIndex::parse("b", "[Other]\nType=Application\n"));

    EXPECT_EQ(DesktopEntryIndex::executableOfExec("env GTK_THEME=Adwaita -u X /usr/bin/gedit %U"),
              "gedit");
    EXPECT_EQ(DesktopEntryIndex::executableOfExec(
                  "/usr/bin/flatpak run --branch=stable org.mozilla.firefox @@u %u @@"),
              std::nullopt);
    EXPECT_EQ(DesktopEntryIndex::executableOfExec("python3 /usr/share/tool/tool.py"), std::nullopt);
    EXPECT_EQ(DesktopEntryIndex::executableOfExec(""), std::nullopt);
}

TEST(ApplicationIdentityTest, GtkIdThenStartupClassThenEntryIdThenExecutable) {
    DesktopEntryIndex index({
        {"org.gnome.TextEditor",
         {},
         "Text Editor",
         std::nullopt,
         "gnome-text-editor",
         false,
         {},
         std::nullopt,
         {},
         {}},
        {"org.mozilla.firefox",
         {},
         "Firefox",
         "firefox",
         std::nullopt,
         false,
         {},
         std::nullopt,
         {},
         {}},
        {"chromium", {}, "Chromium", std::nullopt, "chromium", false, {}, std::nullopt, {}, {}},
        {"firefox-esr",
         {},
         "Firefox ESR",
         std::nullopt,
         "firefox-esr",
         false,
         {},
         std::nullopt,
         {},
         {}},
    });
    auto id = [&](WindowIdentityHints hints) { return desktopEntryIdentifier(hints, index); };

    EXPECT_EQ(id({"org.gnome.TextEditor", "gnome-text-editor", "Gnome-text-editor", {}}),
              "org.gnome.TextEditor");
    // An application id without an entry is no identity; the other hints still count.
    EXPECT_EQ(id({"org.example.Unknown", "chromium", "Chromium", {}}), "chromium");
    EXPECT_EQ(id({{}, "Navigator", "firefox", "/app/lib/firefox/firefox"}), "org.mozilla.firefox");
    EXPECT_EQ(id({{}, "firefox-esr", "Firefox-esr", {}}), "firefox-esr");
    EXPECT_EQ(id({{}, "Chromium-Browser", "CHROMIUM", {}}), "chromium");
    EXPECT_EQ(id({{}, "x", "y", "/usr/lib/chromium/chromium"}), "chromium");
    EXPECT_EQ(id({{}, "x", "y", "/usr/bin/unknown"}), std::nullopt);
    EXPECT_EQ(id({}), std::nullopt);
    // The desktop file a KDE window names: an entry first, whatever the class says; one that
    // is no installed application still names it, after every other hint.
    EXPECT_EQ(id({{}, "chromium", "Chromium", {}, "firefox-esr"}), "firefox-esr");
    EXPECT_EQ(id({{}, "krunner", "krunner", "/usr/bin/krunner", "org.kde.krunner"}),
              "org.kde.krunner");
    EXPECT_EQ(id({{}, {}, {}, {}, "/usr/share/kglobalaccel/org.kde.krunner.desktop"}),
              "org.kde.krunner");
    EXPECT_EQ(id({{}, "chromium", {}, {}, "org.example.Unknown"}), "chromium");
    EXPECT_EQ(id({{}, {}, {}, {}, "bad id"}), std::nullopt);
}

}  // namespace
}  // namespace tesvano::platform

#include <gtest/gtest.h>

#include "Platform/Workspace/FakeWorkspace.h"
#include "Tesvano/App/AppDisplay.h"

namespace tesvano {
namespace {

TEST(AppDisplay, NamesFallBackFromTheEntryToTheProcessToTheIdentity) {
    platform::FakeWorkspace workspace;
    workspace.addRunning({7, std::nullopt, "/usr/local/bin/mytool"});
    auto editor = platform::DesktopEntryIndex::parse(
        "org.example.Editor",
        "[Desktop Entry]\nType=Application\nName=Editor\nName[de]=Bearbeiter\nExec=editor\n");
    auto unnamed = platform::DesktopEntryIndex::parse(
        "org.example.Unnamed", "[Desktop Entry]\nType=Application\nExec=unnamed\n");
    ASSERT_TRUE(editor && unnamed);
    unnamed->path = "/usr/share/applications/org.example.Unnamed.desktop";
    platform::DesktopEntryIndex entries({*editor, *unnamed});
    AppDisplay display(workspace, entries);

    EXPECT_EQ(display.displayName("org.example.Editor", SupportedLanguage::german), "Bearbeiter");
    EXPECT_EQ(display.displayName("org.example.Editor", SupportedLanguage::french), "Editor");
    EXPECT_EQ(display.displayName("org.example.Unnamed", SupportedLanguage::english),
              "org.example.Unnamed");
    EXPECT_EQ(display.displayName("process:mytool", SupportedLanguage::english), "mytool");
    EXPECT_EQ(display.displayName("process:", SupportedLanguage::english), "process:");
    EXPECT_EQ(display.displayName("com.example.Gone", SupportedLanguage::english),
              "com.example.Gone");

    ASSERT_TRUE(display.runningApplication("process:mytool"));
    EXPECT_EQ(display.runningApplication("process:mytool")->processIdentifier, 7);
    EXPECT_FALSE(display.runningApplication("org.example.Editor"));
    EXPECT_TRUE(display.icon("com.example.Gone").isNull());
}

TEST(AppDisplay, TextsComeFromTheLanguageTableOrShowTheKey) {
    EXPECT_EQ(AppDisplay::localizedString("Some key nobody translated", SupportedLanguage::russian),
              "Some key nobody translated");
    EXPECT_FALSE(ProgramInfo::version().empty());
    EXPECT_FALSE(ProgramInfo::build().empty());
}

}  // namespace
}  // namespace tesvano

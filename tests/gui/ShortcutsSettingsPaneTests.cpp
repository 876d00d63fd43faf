#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>

#include "GuiApplication.h"
#include "KeyboardShortcuts/Library.h"
#include "KeyboardShortcuts/Recorder/Recorder.h"
#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/FakeHotKeys.h"
#include "Platform/LoginItems/LoginItemService.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/TextInput/FakeTextInputSources.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "Tesvano/AppState.h"
#include "Tesvano/ShortcutsSettingsPane.h"
#include "TesvanoKit/Localization.h"

namespace tesvano {
namespace {

class ShortcutsSettingsPaneTest : public ::testing::Test {
protected:
    ShortcutsSettingsPaneTest() = default;
    ~ShortcutsSettingsPaneTest() override { LanguageOverride::apply(SupportedLanguage::english); }

    AppState& makeState() {
        AppServices services(loop, defaults, system, workspace, accessibility, entries, loginItems);
        services.logInMemory = true;
        state = std::make_unique<AppState>(services);
        state->setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
        return *state;
    }

    QApplication& application = tesvano::guitest::guiApplication();
    platform::ManualRunLoop loop;
    platform::MemoryDefaults defaults;
    platform::FakeTextInputSources system;
    platform::FakeWorkspace workspace;
    platform::FakeAccessibility accessibility;
    platform::DesktopEntryIndex entries;
    platform::FakeLoginItemService loginItems;
    platform::FakeHotKeys hotKeys;
    KeyboardShortcuts::Library library{defaults, hotKeys, hotKeys};
    std::unique_ptr<AppState> state;
};

TEST_F(ShortcutsSettingsPaneTest, SixRecordersInTwoSectionsThatFollowTheInterfaceLanguage) {
    auto& appState = makeState();
    ShortcutsSettingsPane pane(appState);

    std::vector<std::string> names;
    for (const auto* recorder : pane.recorders()) {
        names.push_back(recorder->objectName().toStdString());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"toggleLock", "globalPreviousSource",
                                               "globalNextSource", "appPreviousSource",
                                               "appNextSource", "removeFrontmostAppRule"}));
    const auto groups = pane.findChildren<QGroupBox*>();
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(groups[0]->title(), QStringLiteral("Global shortcuts"));
    EXPECT_EQ(groups[1]->title(), QStringLiteral("Current app"));
    EXPECT_EQ(groups[0]->findChildren<KeyboardShortcuts::Recorder*>().size(), 3);
    EXPECT_EQ(pane.windowTitle(), QStringLiteral("Shortcuts"));

    auto* recorder = pane.recorders().front();
    const QString english = recorder->placeholderText();
    EXPECT_EQ(english, QStringLiteral("Record Shortcut"));

    appState.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::german));
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->placeholderText().toStdString(),
              Localization::text("record_shortcut", SupportedLanguage::german));
    EXPECT_NE(recorder->placeholderText(), english);

    appState.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->placeholderText(), english);
}

}  // namespace
}  // namespace tesvano

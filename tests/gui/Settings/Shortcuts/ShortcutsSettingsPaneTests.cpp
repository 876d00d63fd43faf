#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>

#include "KeyboardShortcuts/Library.h"
#include "KeyboardShortcuts/Recorder/Recorder.h"
#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/FakeHotKeys.h"
#include "Platform/LoginItems/LoginItemService.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/TextInput/Fake/FakeTextInputSources.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/Settings/Shortcuts/ShortcutsSettingsPane.h"
#include "TesvanoKit/Languages/Localization.h"
#include "tests/gui/AppFixture.h"
#include "tests/gui/GuiApplication.h"

namespace tesvano {
namespace {

class ShortcutsSettingsPaneTest : public test::AppFixture {
protected:
    ShortcutsSettingsPaneTest() = default;
    ~ShortcutsSettingsPaneTest() override { LanguageOverride::apply(SupportedLanguage::english); }

    AppState& makeEnglishState() {
        auto& made = makeState();
        made.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
        return made;
    }

    QApplication& application = tesvano::guitest::guiApplication();
};

TEST_F(ShortcutsSettingsPaneTest, SixRecordersInTwoSectionsThatFollowTheInterfaceLanguage) {
    auto& appState = makeEnglishState();
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

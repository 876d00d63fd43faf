#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "KeyboardShortcuts/KeyCodeTable.h"
#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Library.h"
#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/FakeHotKeys.h"
#include "Platform/LoginItems/LoginItemService.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/TextInput/Fake/FakeTextInputSources.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/ShortcutNames.h"
#include "tests/gui/AppFixture.h"

namespace tesvano {
namespace {

using platform::FakeTextInputSources;
using platform::Seconds;
using R = ActivationReason;

class AppStateTest : public test::AppFixture {
protected:
    AppStateTest() {
        workspace.addRunning({100, std::nullopt, "/usr/bin/foo"});
        workspace.addRunning({200, "org.gnome.TextEditor", "/usr/bin/gnome-text-editor"});
        workspace.setActive(200);
    }

    ActivationEvent event(ActivationReason reason, std::optional<std::string> appId) {
        return ActivationEvent{loop.now(),  "xkb:de",       "German",         reason,
                               1.0,         "English (US)", std::move(appId), RuleSource::appRule,
                               std::nullopt};
    }
};

TEST_F(AppStateTest, FirstRunTakesTheCurrentSourceAsDefaultButAStoredEmptyDefaultStays) {
    auto& s = makeState();
    EXPECT_EQ(s.currentSourceName(), "\u2014");
    s.start();
    EXPECT_EQ(s.config().defaultSourceID, InputSourceID("xkb:us"));
    EXPECT_EQ(RuleStore(defaults, "lockConfiguration").load().defaultSourceID,
              InputSourceID("xkb:us"));
    EXPECT_EQ(s.currentSourceName(), "English (US)");
    EXPECT_EQ(s.availableSources().size(), 2u);

    platform::MemoryDefaults stored;
    RuleStore(stored, "lockConfiguration").save(LockConfiguration{});
    AppServices other(loop, stored, system, workspace, accessibility, entries, loginItems);
    other.logInMemory = true;
    AppState second(other);
    state.reset();  // one engine at a time on the shared fakes
    second.start();
    EXPECT_FALSE(second.config().defaultSourceID);
}

TEST_F(AppStateTest, UnreadableRulesSurviveAStart) {
    defaults.set("lockConfiguration", platform::DefaultsValue::data("{\"isEnabled\":\"yes\"}"));
    auto& s = makeState();
    s.start();
    EXPECT_EQ(defaults.data("lockConfiguration.unreadable"),
              *platform::DefaultsValue::data("{\"isEnabled\":\"yes\"}").asData());
    EXPECT_TRUE(RuleStore(defaults, "lockConfiguration").load() == s.config());
}

TEST_F(AppStateTest, StartTwiceRegistersOnceAndStopEndsThePurges) {
    const KeyboardShortcuts::Shortcut shortcut(0x00, 0x100);  // Command-A
    KeyboardShortcuts::setShortcut(shortcut, ShortcutNames::toggleLock());
    auto& s = makeState();
    s.start();
    auto* engine = s.engine();
    s.start();
    EXPECT_EQ(s.engine(), engine);
    EXPECT_EQ(s.toggleLockShortcut(), shortcut);

    const auto combination = *KeyboardShortcuts::xCombination(shortcut);
    ASSERT_TRUE(hotKeys.press(combination));
    ASSERT_TRUE(hotKeys.release(combination));
    EXPECT_TRUE(s.config().isEnabled) << "one handler, one toggle";

    // One purge task: an entry that ages past a day is gone after the next hourly purge.
    s.handleActivation(event(R::appActivated, std::nullopt));
    loop.advance(Seconds(86400 + 3600));
    EXPECT_TRUE(s.logStore().recentEntries(loop.now(), std::nullopt, Seconds(1e9)).empty());
    s.handleActivation(event(R::appActivated, std::nullopt));
    const KeyboardShortcuts::Shortcut other(0x01, 0x100);
    KeyboardShortcuts::setShortcut(other, ShortcutNames::toggleLock());
    EXPECT_EQ(s.toggleLockShortcut(), other) << "followed without a restart";
    KeyboardShortcuts::setShortcut(std::nullopt, ShortcutNames::toggleLock());
    EXPECT_EQ(s.toggleLockShortcut(), std::nullopt);
    KeyboardShortcuts::setShortcut(shortcut, ShortcutNames::toggleLock());
    s.stop();
    loop.advance(Seconds(86400 + 7200));
    EXPECT_EQ(s.logStore().recentEntries(loop.now(), std::nullopt, Seconds(1e9)).size(), 1u)
        << "no purge after stop";

    KeyboardShortcuts::setShortcut(std::nullopt, ShortcutNames::toggleLock());
    EXPECT_EQ(s.toggleLockShortcut(), shortcut) << "observer removed by stop";
}

TEST_F(AppStateTest, ConflictPausesAreLoggedButNotCountedAndProcessNamesShow) {
    auto& s = makeState();
    s.start();
    s.handleActivation(event(R::conflictPaused, "process:foo"));
    EXPECT_EQ(s.activationCount(), 0);
    s.handleActivation(event(R::appActivated, "process:foo"));
    EXPECT_EQ(s.activationCount(), 1);
    const auto logged = s.logStore().recentEntries(loop.now(), std::nullopt, Seconds(60));
    ASSERT_EQ(logged.size(), 2u);
    for (const auto& entry : logged)
        EXPECT_EQ(entry.triggeringAppName, "foo");
    EXPECT_EQ(defaults.integer("activationCount"), 1);
}

TEST_F(AppStateTest, RuleActionsKeepAppRulesSortedAndCycleAsSpecified) {
    auto& s = makeState();
    s.start();
    int changes = 0;
    QObject::connect(&s, &AppState::configChanged, [&] { ++changes; });
    s.upsertAppRule({"b", AppRuleMode::locked, InputSourceID("xkb:us")});
    s.upsertAppRule({"a", AppRuleMode::locked, InputSourceID("xkb:us")});
    s.upsertAppRule({"b", AppRuleMode::switched, InputSourceID("xkb:de")});
    ASSERT_EQ(s.config().appRules.size(), 2u);
    EXPECT_EQ(s.config().appRules[0].appId, "a");
    EXPECT_EQ(s.config().appRules[1],
              (AppRule{"b", AppRuleMode::switched, InputSourceID("xkb:de")}));
    EXPECT_EQ(changes, 3);

    s.upsertAppRule({"ignored", AppRuleMode::ignored, std::nullopt});
    EXPECT_TRUE(s.cycleAppSource("ignored", CycleDirection::next));
    EXPECT_EQ(*s.config().appRule("ignored"),
              (AppRule{"ignored", AppRuleMode::locked, InputSourceID("xkb:de")}));
    EXPECT_TRUE(s.cycleAppSource("b", CycleDirection::next));
    EXPECT_EQ(s.config().appRule("b")->mode, AppRuleMode::switched);
    EXPECT_FALSE(s.cycleAppSource("nobody", CycleDirection::next));

    // The active application's rule is found by its identity.
    s.upsertAppRule({"org.gnome.TextEditor", AppRuleMode::locked, InputSourceID("xkb:us")});
    s.cycleActiveAppSource(CycleDirection::previous);
    EXPECT_EQ(s.config().appRule("org.gnome.TextEditor")->lockedSourceID, InputSourceID("xkb:de"));
    s.removeActiveAppRule();
    EXPECT_EQ(s.config().appRule("org.gnome.TextEditor"), nullptr);
}

TEST_F(AppStateTest, CyclingTheDefaultNeedsTwoSourcesAndEngagesTheLock) {
    system.installed.pop_back();
    auto& s = makeState();
    s.start();
    const auto before = s.config();
    int changes = 0;
    QObject::connect(&s, &AppState::configChanged, [&] { ++changes; });
    s.cycleDefaultSource(CycleDirection::next);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(s.config(), before);

    system.installed.push_back(FakeTextInputSources::keyboard("xkb:de", "German", {"de"}));
    system.sendEnabledSourcesChanged();
    ASSERT_EQ(s.availableSources().size(), 2u);
    s.cycleDefaultSource(CycleDirection::next);
    EXPECT_TRUE(s.config().isEnabled);
    EXPECT_EQ(s.config().defaultSourceID, InputSourceID("xkb:de"));
    EXPECT_EQ(system.currentID, "xkb:de") << "applied with the lock engaged";
    const auto logged = s.logStore().recentEntries(loop.now(), std::nullopt, Seconds(60));
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front().reason(), R::lockEngaged);
}

TEST_F(AppStateTest, CommitBeforeStartStoresAndSettingsAreWrittenAtOnce) {
    auto& s = makeState();
    s.setDefaultSource(InputSourceID("xkb:de"), RuleAction::switchOnce);
    EXPECT_EQ(RuleStore(defaults, "lockConfiguration").load().defaultSourceID,
              InputSourceID("xkb:de"));
    s.setDefaultSource(std::nullopt, RuleAction::lock);
    EXPECT_EQ(s.config().defaultAction, RuleAction::switchOnce) << "no id: action kept";

    s.setAddressBarFocusEnabled(true);
    EXPECT_FALSE(s.config().addressBarSourceID);
    s.setDefaultSourceID(InputSourceID("xkb:us"));
    s.setAddressBarFocusEnabled(false);
    s.setAddressBarFocusEnabled(true);
    EXPECT_EQ(s.config().addressBarSourceID, InputSourceID("xkb:us"));

    s.setApiEnabled(true);
    s.setTrayIconHidden(true);
    s.setNewAppRuleMode(AppRuleMode::useDefault);
    EXPECT_EQ(defaults.boolean("apiEnabled"), true);
    EXPECT_EQ(defaults.boolean("menuBarIconHidden"), true);
    EXPECT_EQ(defaults.string("newAppRuleMode"), "useDefault");
    AppState reread(services());
    EXPECT_TRUE(reread.apiEnabled());
    EXPECT_EQ(reread.newAppRuleMode(), AppRuleMode::useDefault);
}

TEST_F(AppStateTest, SourcesResolveByIDExactlyAndByNameIgnoringCase) {
    auto& s = makeState();
    s.start();
    EXPECT_EQ(s.resolveSource(SourceSelector::byName("german"))->id, InputSourceID("xkb:de"));
    EXPECT_FALSE(s.resolveSource(SourceSelector::byID("XKB:DE")));
    EXPECT_EQ(s.sourceName("xkb:us"), "English (US)");
    EXPECT_FALSE(s.sourceName("xkb:fr"));
}

TEST_F(AppStateTest, UpdateOutcomesBecomeAlertsInTheInterfaceLanguage) {
    auto& s = makeState();
    std::vector<AppState::Alert> alerts;
    s.presentAlert = [&](const AppState::Alert& a) { alerts.push_back(a); };
    s.presentUpdateCheckResult(UpdateCheckOutcome::isUpToDate());
    s.presentUpdateCheckResult(UpdateCheckOutcome::failed(UpdateFailure::verificationFailed));
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[0].message, QStringLiteral("You're up to date."));
    EXPECT_TRUE(alerts[0].informativeText.startsWith(QStringLiteral("Tesvano ")));
    EXPECT_FALSE(alerts[0].informativeText.contains(QStringLiteral("%@")));
    EXPECT_TRUE(alerts[1].warning);
    EXPECT_EQ(alerts[1].informativeText,
              QStringLiteral("The update couldn't be verified. Please try again later."));
}

TEST_F(AppStateTest, AccessibilityGrantStopsTheFlowAndRefreshesTheMonitors) {
    accessibility.setTrusted(false);
    auto& s = makeState();
    s.start();
    EXPECT_FALSE(s.accessibilityGranted());
    accessibility.setTrusted(true);
    s.refreshAccessibilityStatus();
    EXPECT_TRUE(s.accessibilityGranted());
    auto& flow = dynamic_cast<PermissionFlowStandIn&>(s.permissionFlow());
    EXPECT_EQ(flow.stops, 1);
    EXPECT_TRUE(flow.lastRestorePrevious);

    accessibility.setTrusted(false);  // revoked: the flow is left alone
    s.refreshAccessibilityStatus();
    EXPECT_FALSE(s.accessibilityGranted());
    EXPECT_EQ(flow.stops, 1);
}

TEST_F(AppStateTest, LayoutNamesFollowTheInterfaceLanguageAndEnglishNamesStillResolve) {
    const auto root = platform::XkbNameTranslations::standardLocaleRoot();
    if (!std::filesystem::exists(root / "ru" / "LC_MESSAGES" / "xkeyboard-config.mo")) {
        GTEST_SKIP() << "the XKB data's translations are not installed";
    }
    system.installed.push_back(
        platform::FakeTextInputSources::keyboard("xkb:ru", "Russian", {"ru"}));
    system.installed.push_back(
        platform::FakeTextInputSources::keyboard("ibus:mozc-jp", "Mozc", {"ja"}));
    auto services = this->services();
    services.localeRoot = root;
    state = std::make_unique<AppState>(services);
    auto& s = *state;
    s.start();
    s.lockToSource(InputSourceID("xkb:ru"));
    const auto names = [&] {
        std::vector<std::string> out;
        for (const auto& source : s.availableSources()) {
            out.push_back(source.localizedName);
        }
        return out;
    };
    const std::tuple<SupportedLanguage, const char*, const char*> cases[] = {
        {SupportedLanguage::russian, "Русская", "Немецкая"},
        {SupportedLanguage::german, "Russisch", "Deutsch"},
        {SupportedLanguage::english, "Russian", "German"},
    };
    for (const auto& [language, russian, german] : cases) {
        s.setLanguagePreference(LanguagePreference::specific(language));
        const auto shown = names();
        EXPECT_NE(std::ranges::find(shown, russian), shown.end()) << rawValue(language);
        EXPECT_NE(std::ranges::find(shown, german), shown.end()) << rawValue(language);
        EXPECT_NE(std::ranges::find(shown, "Mozc"), shown.end()) << "not a layout: as it is";
        EXPECT_EQ(s.currentSourceName(), russian);
        EXPECT_EQ(s.sourceName(InputSourceID("xkb:ru")), russian);
        EXPECT_EQ(s.displaySourceName("Russian"), russian);
        // Commands name sources in English or in the words shown.
        for (const char* name : {"Russian", russian}) {
            auto found = s.resolveSource(SourceSelector::byName(name));
            ASSERT_TRUE(found) << name;
            EXPECT_EQ(found->id, InputSourceID("xkb:ru"));
        }
    }
}

TEST_F(AppStateTest, AssistiveTechnologiesSwitchedElsewhereReachTheStateAtOnce) {
    auto& s = makeState();
    s.start();
    int changes = 0;
    QObject::connect(&s, &AppState::accessibilityGrantedChanged, [&] { ++changes; });
    // No pane is shown and nobody asks: the switch alone tells.
    for (bool granted : {true, false, true}) {
        accessibility.setTrusted(granted);
        EXPECT_EQ(s.accessibilityGranted(), granted);
    }
    EXPECT_EQ(changes, 3);
    s.stop();
    accessibility.setTrusted(false);
    EXPECT_TRUE(s.accessibilityGranted()) << "a stopped state follows nothing";
}

}  // namespace
}  // namespace tesvano

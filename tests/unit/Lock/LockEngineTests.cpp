#include <gtest/gtest.h>

#include <algorithm>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/TextInput/Fake/FakeTextInputSources.h"
#include "TesvanoKit/Lock/LockEngine.h"
#include "TesvanoKit/Sources/TextInputSourceProvider.h"

namespace tesvano {
namespace {

using platform::FakeTextInputSources;
using platform::ManualRunLoop;
using platform::Seconds;
using R = ActivationReason;

class StubActiveApp final : public ActiveAppMonitoring {
public:
    std::optional<std::string> current;
    Handler handler;
    NoticeHandler noticed;
    void onActivationNoticed(NoticeHandler h) override { noticed = std::move(h); }
    // The activation notification itself, ahead of the report.
    void notice(std::optional<std::string> id) {
        if (noticed)
            noticed(id);
    }
    std::optional<std::string> activeAppId() override { return current; }
    std::optional<std::string> focused;
    std::optional<std::string> focusedAppId() override { return focused; }
    void start(Handler h) override {
        if (!handler)
            handler = std::move(h);
    }
    void stop() override { handler = nullptr; }
    void report(std::optional<std::string> id) {
        current = id;
        if (handler)
            handler(id);
    }
};

class StubLauncher final : public FloatingAppMonitoring {
public:
    Handler handler;
    int refreshes = 0;
    void start(Handler h) override { handler = std::move(h); }
    void refresh() override { ++refreshes; }
    void stop() override { handler = nullptr; }
    void report(std::optional<std::string> id) {
        if (handler)
            handler(id);
    }
};

class StubAddressBar final : public AddressBarFocusMonitoring {
public:
    Handler handler;
    std::optional<std::string> observed;
    std::vector<std::optional<std::string>> observeCalls;
    void start(Handler h) override { handler = std::move(h); }
    void observe(const std::optional<std::string>& id) override {
        observed = id;
        observeCalls.push_back(id);
    }
    int refreshes = 0;
    void refresh() override { ++refreshes; }
    void stop() override { handler = nullptr; }
    void report(bool focused) {
        if (handler)
            handler(focused);
    }
};

class StubURLs final : public BrowserURLProviding {
public:
    std::optional<std::string> url;
    bool unanswered = false;
    std::vector<std::optional<std::string>> reads;
    std::optional<std::string> readURL(const std::optional<std::string>& id) override {
        reads.push_back(id);
        return unanswered ? std::nullopt : url;
    }
    bool lastReadUnanswered() const override { return unanswered; }
};

constexpr const char* kBrowser = "org.mozilla.firefox";

class LockEngineTest : public ::testing::Test {
protected:
    LockEngineTest() {
        system.installed = {FakeTextInputSources::keyboard("xkb:us", "English (US)", {"en"}),
                            FakeTextInputSources::keyboard("xkb:de", "German", {"de"}),
                            FakeTextInputSources::keyboard("xkb:ru", "Russian", {"ru"})};
        system.currentID = "xkb:us";
        LockEngine::Parts parts;
        parts.provider = std::make_unique<TextInputSourceProvider>(system);
        parts.appMonitor = std::unique_ptr<ActiveAppMonitoring>(app);
        parts.floatingAppMonitor = std::unique_ptr<FloatingAppMonitoring>(launcher);
        parts.addressBarMonitor = std::unique_ptr<AddressBarFocusMonitoring>(bar);
        parts.urlProvider = std::unique_ptr<BrowserURLProviding>(urls);
        engine = std::make_unique<LockEngine>(std::move(parts), loop, system);
        engine->onActivation = [this](const ActivationEvent& e) { events.push_back(e); };
        engine->onCurrentSourceChange = [this](const std::string& name) { names.push_back(name); };
        engine->start();
    }

    void commit(ActivationReason reason = R::configChanged) { engine->apply(config, reason); }
    // The user (or another program) switches the source; the notification follows.
    void userSwitches(const char* id) {
        system.currentID = id;
        system.sendSelectionChanged();
    }
    URLRule urlRule(std::string pattern, InputSourceID source, RuleAction action) {
        return URLRule{Uuid::random(), std::move(pattern), std::move(source), action,
                       URLMatchType::domainSuffix};
    }

    ManualRunLoop loop;
    FakeTextInputSources system;
    StubActiveApp* app = new StubActiveApp;
    StubLauncher* launcher = new StubLauncher;
    StubAddressBar* bar = new StubAddressBar;
    StubURLs* urls = new StubURLs;
    std::unique_ptr<LockEngine> engine;
    LockConfiguration config;
    std::vector<ActivationEvent> events;
    std::vector<std::string> names;
};

TEST_F(LockEngineTest, SwitchOnceRulesFireOncePerApplicationContext) {
    config.isEnabled = true;
    config.appRules = {AppRule{"a", AppRuleMode::switched, InputSourceID("xkb:ru")},
                       AppRule{"b", AppRuleMode::switched, InputSourceID("xkb:ru")},
                       AppRule{"locked", AppRuleMode::locked, InputSourceID("xkb:de")}};
    commit();
    app->report("a");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].reason, R::appActivated);
    EXPECT_EQ(events[0].triggeringAppId, "a");
    userSwitches("xkb:us");  // the user's own change in a stays
    loop.advance(Seconds(1));
    EXPECT_EQ(system.currentID, "xkb:us");

    app->report("a");  // same context: no second fire
    EXPECT_EQ(system.currentID, "xkb:us");
    app->report("b");  // another application: fires
    EXPECT_EQ(system.currentID, "xkb:ru");
    EXPECT_EQ(events.size(), 2u);
    app->report("a");  // back to a, the source is already current: nothing selected
    EXPECT_EQ(events.size(), 2u);

    // After a lock the slot is cleared, so returning fires again.
    app->report("locked");
    EXPECT_EQ(system.currentID, "xkb:de");
    app->report("a");
    EXPECT_EQ(system.currentID, "xkb:ru");
    app->report("unknown");  // no target (no default)
    userSwitches("xkb:us");
    app->report("a");
    EXPECT_EQ(system.currentID, "xkb:ru");
}

// IBus right after it starts reports nothing current; the rule still fires, and only once.
TEST_F(LockEngineTest, ASwitchOnceRuleFiresOnceWhileNothingIsCurrent) {
    config.isEnabled = true;
    config.appRules = {AppRule{"a", AppRuleMode::switched, InputSourceID("xkb:ru")}};
    commit();
    for (const bool takes : {true, false}) {
        SCOPED_TRACE(takes ? "the selection takes" : "nothing becomes current");
        events.clear();
        system.selectCalls.clear();
        system.currentID.reset();
        system.selectionTakesEffect = takes;
        app->report("other");
        app->report("a");
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].inputSource, InputSourceID("xkb:ru"));
        EXPECT_EQ(events[0].fromSourceName, std::nullopt);
        loop.advance(Seconds(1));
        app->report("a");  // the same context: it has fired
        loop.advance(Seconds(1));
        EXPECT_EQ(events.size(), 1u);
        EXPECT_EQ(system.currentID, takes ? std::optional<std::string>("xkb:ru") : std::nullopt);
        // The quiet retry of a selection that did not take, and nothing after it.
        EXPECT_EQ(system.selectCalls.size(), takes ? 1u : 2u);
    }
}

// A framework's panel that rewrites the keymap with every engine it switches to announces the
// same sources again each time: the fight goes on counting and backs off. Sources that really
// change apply the rule afresh, with no fight counted from before.
TEST_F(LockEngineTest, OnlyAChangedSourceListEndsTheFightsCount) {
    config.isEnabled = true;
    config.appRules = {AppRule{"a", AppRuleMode::locked, InputSourceID("xkb:de")}};
    commit();
    app->report("a");
    ASSERT_EQ(system.currentID, "xkb:de");
    const auto fight = [&](int switches) {
        for (int i = 0; i < switches; ++i) {
            loop.advance(Seconds(0.8));
            userSwitches("xkb:ru");
            system.sendEnabledSourcesChanged();
        }
    };
    fight(5);
    EXPECT_EQ(std::ranges::count(events, R::conflictPaused, &ActivationEvent::reason), 1);
    EXPECT_EQ(system.currentID, "xkb:ru") << "paused";

    // A source added ends the pause: the rule applies afresh.
    system.installed.push_back(FakeTextInputSources::keyboard("xkb:fr", "French", {"fr"}));
    system.sendEnabledSourcesChanged();
    EXPECT_EQ(system.currentID, "xkb:de");
    fight(3);
    EXPECT_EQ(system.currentID, "xkb:de") << "the count starts afresh";
    EXPECT_EQ(std::ranges::count(events, R::conflictPaused, &ActivationEvent::reason), 1);
}

TEST_F(LockEngineTest, LockRulesAndTheGlobalDefaultAreEnforced) {
    config.isEnabled = true;
    config.defaultSourceID = InputSourceID("xkb:us");
    config.appRules = {AppRule{"alpha", AppRuleMode::locked, InputSourceID("xkb:de")},
                       AppRule{"quiet", AppRuleMode::ignored, std::nullopt}};
    commit(R::startupApplied);
    app->report("alpha");
    EXPECT_EQ(system.currentID, "xkb:de");
    EXPECT_EQ(events.back().ruleSource, RuleSource::appRule);
    loop.advance(Seconds(1));
    userSwitches("xkb:us");
    EXPECT_EQ(system.currentID, "xkb:de");
    EXPECT_EQ(events.back().reason, R::revertedSwitch);

    app->report("other");
    EXPECT_EQ(system.currentID, "xkb:us");
    EXPECT_EQ(events.back().ruleSource, RuleSource::globalDefault);
    app->report("quiet");
    userSwitches("xkb:ru");
    loop.advance(Seconds(1));
    EXPECT_EQ(system.currentID, "xkb:ru") << "ignored application is left alone";
    EXPECT_EQ(names.back(), "Russian");

    // Locking off: nothing is enforced.
    config.isEnabled = false;
    commit(R::lockEngaged);
    app->report("alpha");
    EXPECT_EQ(system.currentID, "xkb:ru");
}

TEST_F(LockEngineTest, LauncherOneShotDoesNotSuppressTheSameOneShotAfterDismissal) {
    config.isEnabled = true;
    config.appRules = {AppRule{"org.kde.krunner", AppRuleMode::switched, InputSourceID("xkb:ru")}};
    commit();
    app->report("other");
    launcher->report("org.kde.krunner");
    EXPECT_EQ(system.currentID, "xkb:ru");
    EXPECT_EQ(events.back().reason, R::launcherFocused);
    EXPECT_EQ(events.back().triggeringAppId, "org.kde.krunner");
    userSwitches("xkb:us");
    launcher->report("org.kde.krunner");  // no change: nothing
    EXPECT_EQ(system.currentID, "xkb:us");

    launcher->report(std::nullopt);
    EXPECT_EQ(system.currentID, "xkb:us");
    app->report("org.kde.krunner");
    EXPECT_EQ(system.currentID, "xkb:ru") << "the launcher's firing is kept in its own slot";
    EXPECT_EQ(events.back().reason, R::appActivated);

    app->report("other");
    userSwitches("xkb:us");
    launcher->report("org.kde.krunner");
    EXPECT_EQ(system.currentID, "xkb:ru") << "the launcher slot is cleared once it is gone";
}

TEST_F(LockEngineTest, URLRulesAreReportedAsMatchesExceptRightAfterAnEdit) {
    config.isEnabled = true;
    config.enhancedModeEnabled = true;
    config.defaultSourceID = InputSourceID("xkb:us");
    config.urlRules = {urlRule("example.ru", "xkb:ru", RuleAction::lock)};
    commit();
    urls->url = "https://mail.example.ru/inbox";
    app->report(kBrowser);
    EXPECT_EQ(system.currentID, "xkb:ru");
    EXPECT_EQ(events.back().reason, R::urlMatched);
    EXPECT_EQ(events.back().matchedHost, "example.ru");
    EXPECT_EQ(events.back().ruleSource, RuleSource::urlRule);

    urls->url = "https://example.com/";
    loop.advance(Seconds(1.5));  // the poll finds another page
    EXPECT_EQ(system.currentID, "xkb:us");
    EXPECT_EQ(events.back().reason, R::urlPolled);

    urls->url = "https://example.ru/";
    commit(R::configChanged);
    EXPECT_EQ(system.currentID, "xkb:ru");
    EXPECT_EQ(events.back().reason, R::configChanged);
    urls->url = "https://example.com/";
    loop.advance(Seconds(1.5));
    urls->url = "https://example.ru/";
    loop.advance(Seconds(1.5));
    EXPECT_EQ(events.back().reason, R::urlMatched) << "found by the poll";
}

TEST_F(LockEngineTest, ABrowserThatDoesNotAnswerKeepsItsPageAndHasItsFocusReadAgain) {
    config.isEnabled = true;
    config.enhancedModeEnabled = true;
    config.defaultSourceID = InputSourceID("xkb:us");
    config.urlRules = {urlRule("example.ru", "xkb:ru", RuleAction::lock)};
    commit();
    urls->url = "https://example.ru/";
    app->report(kBrowser);
    ASSERT_EQ(system.currentID, "xkb:ru");
    const auto logged = events.size();

    urls->unanswered = true;
    bar->refreshes = 0;
    loop.advance(Seconds(4.5));
    EXPECT_EQ(system.currentID, "xkb:ru");
    EXPECT_EQ(events.size(), logged) << "a busy browser changes nothing";
    EXPECT_EQ(bar->refreshes, 3) << "each poll asks again about the address bar";

    // Another browser does not inherit the page; nor does one that answers with no page.
    app->report("chromium");
    EXPECT_EQ(system.currentID, "xkb:us");
    app->report(kBrowser);
    EXPECT_EQ(system.currentID, "xkb:us");
    urls->unanswered = false;
    loop.advance(Seconds(1.5));
    EXPECT_EQ(system.currentID, "xkb:ru");
    urls->url.reset();
    loop.advance(Seconds(1.5));
    EXPECT_EQ(system.currentID, "xkb:us");
    urls->unanswered = true;
    loop.advance(Seconds(1.5));
    EXPECT_EQ(system.currentID, "xkb:us") << "nothing remembered once the page was gone";
}

TEST_F(LockEngineTest, URLPollingRunsOnlyForABrowserWithRulesAndLockingOn) {
    config.isEnabled = true;
    config.enhancedModeEnabled = true;
    config.urlRules = {urlRule("example.ru", "xkb:ru", RuleAction::switchOnce)};
    commit();
    app->report(kBrowser);
    urls->reads.clear();
    loop.advance(Seconds(6));
    EXPECT_EQ(urls->reads.size(), 4u);

    urls->reads.clear();
    app->report("org.gnome.Terminal");
    loop.advance(Seconds(6));
    EXPECT_EQ(urls->reads.size(), 1u) << "read once for the activation, never polled";
    EXPECT_FALSE(engine->isPollingURL());

    app->report(kBrowser);
    config.isEnabled = false;
    commit();
    urls->reads.clear();
    loop.advance(Seconds(6));
    EXPECT_TRUE(urls->reads.empty());
    EXPECT_FALSE(engine->isPollingURL());
}

TEST_F(LockEngineTest, DisablingClearsTheSlotSoReEnablingFiresAgain) {
    config.isEnabled = true;
    config.appRules = {AppRule{"a", AppRuleMode::switched, InputSourceID("xkb:de")}};
    commit();
    app->report("a");
    EXPECT_EQ(system.currentID, "xkb:de");
    userSwitches("xkb:us");
    config.isEnabled = false;
    commit(R::lockEngaged);
    config.isEnabled = true;
    commit(R::lockEngaged);
    EXPECT_EQ(system.currentID, "xkb:de");
    EXPECT_EQ(events.back().reason, R::lockEngaged);
}

TEST_F(LockEngineTest, AddressBarMonitorFollowsAKnownBrowserWithoutEnhancedMode) {
    config.isEnabled = true;
    config.enhancedModeEnabled = false;
    config.addressBarFocusEnabled = true;
    config.addressBarSourceID = InputSourceID("xkb:us");
    config.addressBarAction = RuleAction::lock;
    config.appRules = {AppRule{kBrowser, AppRuleMode::locked, InputSourceID("xkb:de")}};
    commit();
    app->report(kBrowser);
    EXPECT_EQ(bar->observed, kBrowser);
    EXPECT_EQ(system.currentID, "xkb:de");
    bar->report(true);
    EXPECT_EQ(system.currentID, "xkb:us");
    EXPECT_EQ(events.back().reason, R::addressBarFocused);
    EXPECT_EQ(events.back().ruleSource, RuleSource::addressBarRule);
    bar->report(false);
    loop.advance(Seconds(0.5));
    EXPECT_EQ(system.currentID, "xkb:de");

    app->report("org.gnome.Terminal");
    EXPECT_EQ(bar->observed, std::nullopt);
    config.addressBarSourceID.reset();
    commit();
    app->report(kBrowser);
    EXPECT_EQ(bar->observed, std::nullopt) << "no source: nothing to follow";
}

TEST_F(LockEngineTest, ReactivatingTheSameBrowserRestartsTheAddressBarMonitor) {
    config.isEnabled = true;
    config.addressBarFocusEnabled = true;
    config.addressBarSourceID = InputSourceID("xkb:us");
    commit();
    app->report(kBrowser);
    bar->report(true);
    bar->observeCalls.clear();
    app->report(kBrowser);
    // The engine forgot the focus; the monitor is made to forget it too and look again.
    EXPECT_EQ(bar->observeCalls,
              (std::vector<std::optional<std::string>>{std::nullopt, std::string(kBrowser)}));
}

TEST_F(LockEngineTest, StopSilencesEveryHandlerAndTheCurrentNameHasAPlaceholder) {
    config.isEnabled = true;
    config.enhancedModeEnabled = true;
    config.urlRules = {urlRule("example.ru", "xkb:ru", RuleAction::lock)};
    commit();
    app->report(kBrowser);
    engine->stop();
    EXPECT_FALSE(app->handler);
    EXPECT_EQ(system.selectionObservers(), 0u);
    urls->reads.clear();
    loop.advance(Seconds(5));
    EXPECT_TRUE(urls->reads.empty());

    system.currentID.reset();
    EXPECT_EQ(engine->currentSourceName(), "\u2014");
    system.currentID = "xkb:unknown";
    EXPECT_EQ(engine->currentSourceName(), "xkb:unknown");
}

}  // namespace
}  // namespace tesvano

namespace tesvano {
namespace {

// A desktop that remembers a layout per window restores the new window's layout between the
// activation notification and the engine's report of the new application.
struct PerWindowCase {
    const char* name;
    const char* from;                     // active before
    const char* to;                       // activated
    std::optional<const char*> restored;  // what the desktop restores for `to`
    const char* expectedCurrent;
    int expectedSelections;  // by the engine, during this activation
    int expectedReverts;
    enum When {
        afterNotice,
        beforeNotice,        // the window manager has announced it, the notice is on its way
        beforeAnnouncement,  // the focus has moved; the announcement follows
    } restoredAt = afterNotice;
};

class LockEnginePerWindowTest : public LockEngineTest,
                                public ::testing::WithParamInterface<PerWindowCase> {};

TEST_P(LockEnginePerWindowTest, TheDesktopsRestorationIsNotThePreviousLocksToRevert) {
    const auto& c = GetParam();
    config.isEnabled = true;
    config.appRules = {AppRule{"de-app", AppRuleMode::locked, InputSourceID("xkb:de")},
                       AppRule{"ru-app", AppRuleMode::locked, InputSourceID("xkb:ru")},
                       AppRule{"ignored", AppRuleMode::ignored, InputSourceID("xkb:us")}};
    commit();
    app->report(c.from);
    loop.advance(Seconds(1));
    const std::string before = system.currentID.value_or("");
    events.clear();
    const auto selectionsBefore = system.selectCalls.size();

    app->focused = c.to;
    if (c.restoredAt == PerWindowCase::beforeNotice) {
        app->current = c.to;  // in front already, not yet announced
    } else if (c.restoredAt == PerWindowCase::afterNotice) {
        app->notice(c.to);
    }
    loop.advance(Seconds(0.01));
    if (c.restored) {
        userSwitches(*c.restored);
    }
    loop.advance(Seconds(0.03));
    if (c.restoredAt != PerWindowCase::afterNotice) {
        app->notice(c.to);
    }
    loop.advance(Seconds(0.03));
    app->report(c.to);
    loop.advance(Seconds(1));

    EXPECT_EQ(system.currentID, c.expectedCurrent) << "was " << before;
    EXPECT_EQ(static_cast<int>(system.selectCalls.size() - selectionsBefore), c.expectedSelections);
    EXPECT_EQ(std::ranges::count(events, R::revertedSwitch, &ActivationEvent::reason),
              c.expectedReverts);
    for (const auto& e : events) {
        EXPECT_EQ(e.triggeringAppId, c.to) << "an entry must name the application in front";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Activations, LockEnginePerWindowTest,
    ::testing::Values(
        PerWindowCase{"RestoredLayoutIsTheRule", "de-app", "ru-app", "xkb:ru", "xkb:ru", 0, 0},
        PerWindowCase{"RestoredLayoutIsCorrectedOnce", "de-app", "ru-app", "xkb:us", "xkb:ru", 1,
                      0},
        PerWindowCase{"NothingRestoredRuleApplied", "de-app", "ru-app", std::nullopt, "xkb:ru", 1,
                      0},
        PerWindowCase{"IgnoredKeepsWhatTheDesktopRestored", "de-app", "ignored", "xkb:ru", "xkb:ru",
                      0, 0},
        PerWindowCase{"IgnoredKeepsTheLayoutItFound", "ru-app", "ignored", std::nullopt, "xkb:ru",
                      0, 0},
        PerWindowCase{"RestoredBeforeTheNoticeIsNotReverted", "de-app", "ru-app", "xkb:us",
                      "xkb:ru", 1, 0, PerWindowCase::beforeNotice},
        PerWindowCase{"IgnoredRestoredBeforeTheNotice", "de-app", "ignored", "xkb:ru", "xkb:ru", 0,
                      0, PerWindowCase::beforeNotice},
        PerWindowCase{"RestoredBeforeTheAnnouncementIsNotReverted", "de-app", "ru-app", "xkb:us",
                      "xkb:ru", 1, 0, PerWindowCase::beforeAnnouncement},
        PerWindowCase{"IgnoredRestoredBeforeTheAnnouncement", "de-app", "ignored", "xkb:ru",
                      "xkb:ru", 0, 0, PerWindowCase::beforeAnnouncement},
        PerWindowCase{"FromIgnoredTheRuleApplies", "ignored", "de-app", "xkb:us", "xkb:de", 1, 0},
        // Another window of the locked application: still its lock, so the switch is undone.
        PerWindowCase{"SameApplicationsWindowStaysLocked", "de-app", "de-app", "xkb:us", "xkb:de",
                      1, 1}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// The focus moved to another application's window and no activation followed: the lock
// holds again once the wait for it is over.
TEST_F(LockEngineTest, AFocusWithoutAnnouncementHoldsTheLockOnlyForAMoment) {
    config.isEnabled = true;
    config.appRules = {AppRule{"de-app", AppRuleMode::locked, InputSourceID("xkb:de")}};
    commit();
    app->report("de-app");
    loop.advance(Seconds(1));
    events.clear();

    app->focused = "panel";
    userSwitches("xkb:ru");
    loop.advance(Seconds(LockController::unannouncedHoldLimit - 0.01));
    EXPECT_EQ(system.currentID, "xkb:ru");
    loop.advance(Seconds(0.02));
    EXPECT_EQ(system.currentID, "xkb:de");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].reason, R::revertedSwitch);
}

TEST_F(LockEngineTest, AStoppedEngineHearsNoActivationNotice) {
    engine->stop();
    EXPECT_FALSE(app->noticed);
}

}  // namespace
}  // namespace tesvano

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>

#include "Platform/Runtime/ManualRunLoop.h"
#include "TesvanoKit/Lock/LockController.h"
#include "tests/support/LogCapture.h"

namespace tesvano {
namespace {

using platform::ManualRunLoop;
using platform::Seconds;
using R = ActivationReason;

// Sources A, B and C; selection succeeds unless a failure is queued for it.
class ScriptedProvider final : public InputSourceProviding {
public:
    std::optional<InputSourceID> current = InputSourceID("A");
    std::map<std::string, std::deque<bool>> scriptedResults;
    bool alwaysFail = false;
    bool selectable = true;
    bool frameworkGone = false;  // no source is listed
    std::vector<std::string> selections;
    // Runs after every selection, whether it succeeded or not.
    std::function<void()> afterSelect;

    bool canSelect(const InputSource&) override { return selectable; }

    std::optional<InputSource> currentSource() override {
        if (!current) {
            return std::nullopt;
        }
        return source(*current).value_or(InputSource{*current, current->rawValue});
    }
    std::vector<InputSource> selectableSources() override {
        return {{"A", "Alpha", false}, {"B", "Beta", false}, {"C", "Gamma", false}};
    }
    std::optional<InputSource> source(const InputSourceID& id) override {
        for (auto& s : frameworkGone ? std::vector<InputSource>{} : selectableSources()) {
            if (s.id == id)
                return s;
        }
        return std::nullopt;
    }
    bool select(const InputSource& source) override {
        const InputSourceID& id = source.id;
        selections.push_back(id.rawValue);
        bool ok = !alwaysFail;
        auto& queue = scriptedResults[id.rawValue];
        if (!queue.empty()) {
            ok = queue.front();
            queue.pop_front();
        }
        if (ok)
            current = id;
        if (afterSelect)
            afterSelect();
        return ok;
    }
};

class LockControllerTest : public ::testing::Test {
protected:
    LockControllerTest() {
        controller.onActivation = [this](const ActivationEvent& e) { events.push_back(e); };
    }

    // Another program switches the source, and the change notification arrives.
    void foreignSwitch(const char* to) {
        provider.current = InputSourceID(to);
        controller.sourceDidChange();
    }
    int count(R reason) const {
        return static_cast<int>(std::count_if(events.begin(), events.end(),
                                              [&](const auto& e) { return e.reason == reason; }));
    }
    void lockOn(const char* target) {
        controller.setEnabled(true, R::lockEngaged);
        controller.setTarget(InputSourceID(target), R::appActivated, "app", RuleSource::appRule);
    }

    ManualRunLoop loop;
    ScriptedProvider provider;
    bool secureInput = false;
    LockController controller{provider, loop, false, false, [this] { return secureInput; }};
    std::vector<ActivationEvent> events;
};

TEST_F(LockControllerTest, SwitchCarriesContextNamesAndDuration) {
    controller.setEnabled(true, R::lockEngaged);
    controller.setTarget(InputSourceID("B"), R::urlMatched, "org.mozilla.firefox",
                         RuleSource::urlRule, "example.com");
    ASSERT_EQ(events.size(), 1u);
    const auto& e = events[0];
    EXPECT_EQ(e.inputSource, InputSourceID("B"));
    EXPECT_EQ(e.inputSourceName, "Beta");
    EXPECT_EQ(e.fromSourceName, "Alpha");
    EXPECT_EQ(e.reason, R::urlMatched);
    EXPECT_EQ(e.triggeringAppId, "org.mozilla.firefox");
    EXPECT_EQ(e.ruleSource, RuleSource::urlRule);
    EXPECT_EQ(e.matchedHost, "example.com");
    EXPECT_EQ(e.timestamp, loop.now());
    EXPECT_GE(e.durationMs, 0.0);
    EXPECT_EQ(controller.activationCount(), 1);

    // Disabled: targets are recorded but nothing is enforced.
    controller.setEnabled(false, R::lockEngaged);
    foreignSwitch("C");
    loop.advance(Seconds(2));
    EXPECT_EQ(provider.current, InputSourceID("C"));
    controller.setEnabled(true, R::lockEngaged);
    EXPECT_EQ(provider.current, InputSourceID("B"));
    EXPECT_EQ(events.back().reason, R::lockEngaged);
}

// A desktop that keeps the selection to itself (GNOME Shell before our extension runs): its
// switches are neither put back nor counted as a fight; the lock acts once it can select.
TEST_F(LockControllerTest, NothingIsSelectedOrFoughtWhileTheSystemKeepsTheSelection) {
    provider.selectable = false;
    lockOn("B");
    for (const char* to : {"C", "A", "C", "A", "C", "A"}) {
        foreignSwitch(to);
        loop.advance(Seconds(0.5));
    }
    EXPECT_TRUE(provider.selections.empty());
    EXPECT_TRUE(events.empty());
    provider.selectable = true;
    controller.setEnabled(true, R::revertedSwitch);
    EXPECT_EQ(provider.current, InputSourceID("B"));
}

TEST_F(LockControllerTest, ConflictBacksOffAndTheSeriesDoublesThenResets) {
    lockOn("A");
    auto fightOnce = [&] {
        foreignSwitch("B");
        loop.advance(Seconds(0.5));
    };
    for (int i = 0; i < 4; ++i)
        fightOnce();
    EXPECT_EQ(count(R::revertedSwitch), 4);
    EXPECT_EQ(provider.current, InputSourceID("A"));

    fightOnce();  // the fifth within 5 s
    EXPECT_EQ(count(R::conflictPaused), 1);
    EXPECT_EQ(events.back().durationMs, 0.0);
    EXPECT_FALSE(events.back().fromSourceName);
    EXPECT_EQ(provider.current, InputSourceID("B"));
    const double pausedAt = loop.uptime().count() - 0.5;

    // Paused: foreign switches are left alone until the 10 s back-off ends.
    foreignSwitch("C");
    loop.advance(Seconds(pausedAt + 10.0 - loop.uptime().count()));
    EXPECT_EQ(provider.current, InputSourceID("C"));
    loop.advance(Seconds(0.03));
    EXPECT_EQ(provider.current, InputSourceID("A")) << "expiry check re-asserts the lock";
    EXPECT_EQ(count(R::revertedSwitch), 5);

    // A new conflict right away pauses for 20 s.
    for (int i = 0; i < 4; ++i)
        fightOnce();
    EXPECT_EQ(count(R::conflictPaused), 2);
    loop.advance(Seconds(19.0));
    EXPECT_EQ(provider.current, InputSourceID("B"));
    loop.advance(Seconds(1.5));
    EXPECT_EQ(provider.current, InputSourceID("A"));

    // More than 5 s after that pause ended, the series starts again at 10 s.
    loop.advance(Seconds(6));
    for (int i = 0; i < 5; ++i)
        fightOnce();
    EXPECT_EQ(count(R::conflictPaused), 3);
    loop.advance(Seconds(9.6));
    EXPECT_EQ(provider.current, InputSourceID("A"));
}

TEST_F(LockControllerTest, ARevertExactlyFiveSecondsOldStillCounts) {
    lockOn("A");
    loop.advance(Seconds(1.0));
    for (int i = 0; i < 4; ++i) {
        foreignSwitch("B");  // at 1, 2, 3 and 4 s
        loop.advance(Seconds(1.0));
    }
    loop.advance(Seconds(1.0));
    foreignSwitch("B");  // at 6 s: the revert at 1 s is exactly 5 s old
    EXPECT_EQ(count(R::conflictPaused), 1);

    ManualRunLoop other;
    ScriptedProvider p2;
    LockController c2(p2, other, true);
    int pauses = 0;
    c2.onActivation = [&](const ActivationEvent& e) { pauses += e.reason == R::conflictPaused; };
    c2.setTarget(InputSourceID("A"), R::appActivated);
    other.advance(Seconds(1.0));
    for (int i = 0; i < 4; ++i) {
        p2.current = InputSourceID("B");
        c2.sourceDidChange();
        other.advance(Seconds(1.0));
    }
    other.advance(Seconds(1.0) + Seconds(1.0 / 1024));
    p2.current = InputSourceID("B");
    c2.sourceDidChange();
    EXPECT_EQ(pauses, 0) << "a revert older than 5 s is forgotten";
}

TEST_F(LockControllerTest, MismatchInsideTheSettleWindowIsCorrectedByTheRecheck) {
    lockOn("B");
    ASSERT_EQ(events.size(), 1u);
    loop.advance(Seconds(0.1));
    foreignSwitch("C");
    EXPECT_EQ(provider.current, InputSourceID("C")) << "settling: ignored";
    loop.advance(Seconds(0.25));  // past the 0.32 s recheck
    EXPECT_EQ(provider.current, InputSourceID("B"));
    EXPECT_EQ(events.back().reason, R::revertedSwitch);
}

// Another program switches away 0.1 s after each of the lock's switches, inside its settle
// window, for `fights` switches: by the fourth the verification retries are spent, and the
// change seen then must still be looked at. Every burst ends held or paused, and the log
// never ends on a revert while the foreign source is current. With `during`, the other
// program's switch lands while the lock selects (a desktop that confirms the selection then
// reports it failed), and only its notification comes 0.1 s later: no failed revert is logged.
TEST_F(LockControllerTest, ASwitchSeenWhileSettlingIsLookedAtWhateverRetriesAreSpent) {
    struct Case {
        int fights;
        bool during;
        bool paused;
    };
    for (const Case c : {Case{4, false, false}, Case{5, false, true}, Case{1000, false, true},
                         Case{4, true, false}}) {
        SCOPED_TRACE(testing::Message() << c.fights << (c.during ? " during" : " after"));
        ManualRunLoop clock;
        ScriptedProvider system;
        system.current = InputSourceID("C");
        LockController lock{system, clock, true};
        std::vector<ActivationEvent> seen;
        lock.onActivation = [&](const ActivationEvent& e) { seen.push_back(e); };
        if (c.during) {
            system.scriptedResults["A"].assign(c.fights, false);
        }
        int fought = 0;
        system.afterSelect = [&] {
            if (fought++ >= c.fights) {
                return;
            }
            if (c.during) {
                system.current = InputSourceID("B");
            }
            clock.post(Seconds(0.1), [&] {
                system.current = InputSourceID("B");
                lock.sourceDidChange();
            });
        };
        lock.setTarget(InputSourceID("A"), R::appActivated, "app", RuleSource::appRule);
        clock.advance(Seconds(4));
        const bool paused =
            std::ranges::any_of(seen, [](const auto& e) { return e.reason == R::conflictPaused; });
        EXPECT_EQ(paused, c.paused);
        ASSERT_FALSE(seen.empty());
        if (!paused) {
            EXPECT_EQ(system.current, InputSourceID("A"));
            EXPECT_EQ(seen.back().reason, R::revertedSwitch);
        }
        if (c.during) {
            EXPECT_EQ(seen.size(), 1u) << "only the revert that held";
        }
        // The fifth fight within 5 s pauses: the initial switch plus four reverts at most.
        EXPECT_LE(system.selections.size(), 5u);
    }
}

TEST_F(LockControllerTest, FailingSelectionIsTriedOncePlusThreeRechecks) {
    provider.alwaysFail = true;
    lockOn("B");
    loop.advance(Seconds(10));
    EXPECT_EQ(provider.selections.size(), 4u);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(controller.activationCount(), 0);
    // A notification starts a new attempt.
    provider.alwaysFail = false;
    controller.sourceDidChange();
    EXPECT_EQ(provider.current, InputSourceID("B"));
}

TEST_F(LockControllerTest, ATargetChangeRightAfterASwitchStillGetsItsVerification) {
    lockOn("B");  // switch at 0 s, its recheck due at 0.32 s
    loop.advance(Seconds(0.1));
    provider.scriptedResults["C"] = {false};  // the next switch does not take at first
    controller.setTarget(InputSourceID("C"), R::addressBarFocused, "app",
                         RuleSource::addressBarRule);
    EXPECT_EQ(provider.current, InputSourceID("B"));
    loop.advance(Seconds(1));
    EXPECT_EQ(provider.current, InputSourceID("C"));
    EXPECT_EQ(provider.selections, (std::vector<std::string>{"B", "C", "C"}));
    // The verification came 0.32 s after the second switch, not inside its settle window.
    EXPECT_NEAR((events.back().timestamp - events.front().timestamp).count(), 0.42, 1e-6);
}

TEST_F(LockControllerTest, SecureInputHoldsEnforcementWithOneRecheckAtATime) {
    int scheduled = 0;
    LockController counted(
        provider, true, false, [this] { return loop.uptime().count(); },
        [this] { return loop.now(); }, [this] { return secureInput; },
        [&](double delay, std::function<void()> action) {
            ++scheduled;
            loop.post(Seconds(delay), std::move(action));
        });
    int reverts = 0;
    counted.onActivation = [&](const ActivationEvent& e) {
        reverts += e.reason == R::revertedSwitch;
    };
    secureInput = true;
    counted.setTarget(InputSourceID("B"), R::appActivated);
    counted.sourceDidChange();
    counted.reconcile(R::configChanged);
    EXPECT_EQ(scheduled, 1);
    loop.advance(Seconds(2.0));
    EXPECT_EQ(scheduled, 5) << "one recheck every 0.5 s";
    EXPECT_TRUE(provider.selections.empty());
    secureInput = false;
    loop.advance(Seconds(0.5));
    EXPECT_EQ(provider.current, InputSourceID("B"));
    EXPECT_EQ(reverts, 1);

    // Told to enforce in secure input too, it switches at once.
    secureInput = true;
    counted.revertsInSecureInput = true;
    loop.advance(Seconds(1));
    foreignSwitch("C");
    counted.sourceDidChange();
    EXPECT_EQ(provider.current, InputSourceID("B"));
}

TEST_F(LockControllerTest, SameTargetForAnotherApplicationClearsOnlyConflictHistory) {
    lockOn("A");
    for (int i = 0; i < 4; ++i) {
        foreignSwitch("B");
        loop.advance(Seconds(0.5));
    }
    controller.setTarget(InputSourceID("A"), R::appActivated, "app", RuleSource::appRule);
    foreignSwitch("B");
    EXPECT_EQ(count(R::conflictPaused), 1) << "same app keeps the history";

    controller.setTarget(InputSourceID("A"), R::appActivated, "app", RuleSource::appRule);
    loop.advance(Seconds(17));  // pause over, and its re-assertion forgotten
    for (int i = 0; i < 4; ++i) {
        foreignSwitch("B");
        loop.advance(Seconds(0.5));
    }
    controller.setTarget(InputSourceID("A"), R::appActivated, "other", RuleSource::appRule);
    foreignSwitch("B");
    EXPECT_EQ(count(R::conflictPaused), 1) << "another app starts a fresh history";
    EXPECT_EQ(provider.current, InputSourceID("A"));
}

TEST_F(LockControllerTest, OneShotSwitchesOnceAndRetriesAQuietFallback) {
    controller.setEnabled(true, R::lockEngaged);
    controller.switchOnce(InputSourceID("A"), R::appActivated, "app", RuleSource::appRule,
                          std::nullopt);
    EXPECT_TRUE(events.empty()) << "already current";

    controller.switchOnce(InputSourceID("B"), R::appActivated, "app", RuleSource::appRule,
                          std::nullopt);
    ASSERT_EQ(events.size(), 1u);
    provider.current = InputSourceID("A");  // fell back without a notification
    loop.advance(Seconds(0.32));
    EXPECT_EQ(provider.current, InputSourceID("B"));
    EXPECT_EQ(events.size(), 1u) << "the quiet retry emits nothing";

    // The user switches away afterwards: a one-shot does not fight.
    foreignSwitch("C");
    loop.advance(Seconds(5));
    EXPECT_EQ(provider.current, InputSourceID("C"));

    // A change notification within 0.32 s voids the check.
    controller.switchOnce(InputSourceID("B"), R::appActivated, "app", RuleSource::appRule,
                          std::nullopt);
    provider.current = InputSourceID("C");
    controller.sourceDidChange();
    loop.advance(Seconds(1));
    EXPECT_EQ(provider.current, InputSourceID("C"));

    // The source is no longer listed when the retry comes: it is not selected again.
    controller.switchOnce(InputSourceID("B"), R::appActivated, "app", RuleSource::appRule,
                          std::nullopt);
    const auto selections = provider.selections.size();
    provider.current = InputSourceID("C");
    provider.frameworkGone = true;
    loop.advance(Seconds(0.32));
    EXPECT_EQ(provider.selections.size(), selections);
}

// A framework that has just started has nothing current: a one-shot selects from nothing,
// as a lock and a manual pick do, and counts as applied; only a refused selection leaves it
// for the next activation.
TEST_F(LockControllerTest, OneShotSelectsWhileNothingIsCurrent) {
    controller.setEnabled(true, R::lockEngaged);
    provider.current.reset();
    EXPECT_TRUE(controller.switchOnce(InputSourceID("B"), R::appActivated, "app",
                                      RuleSource::appRule, std::nullopt));
    EXPECT_EQ(provider.selections, std::vector<std::string>{"B"});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].inputSource, InputSourceID("B"));
    EXPECT_EQ(events[0].fromSourceName, std::nullopt);
    EXPECT_EQ(events[0].triggeringAppId, "app");

    // Still nothing current 0.32 s later (no input context had the focus): once more, quietly.
    provider.current.reset();
    loop.advance(Seconds(0.32));
    EXPECT_EQ(provider.selections, (std::vector<std::string>{"B", "B"}));
    loop.advance(Seconds(5));
    EXPECT_EQ(provider.selections.size(), 2u) << "a one-shot does not go on trying";
    EXPECT_EQ(events.size(), 1u);

    provider.current.reset();
    provider.scriptedResults["C"] = {false};
    EXPECT_FALSE(controller.switchOnce(InputSourceID("C"), R::appActivated, "app",
                                       RuleSource::appRule, std::nullopt));
    EXPECT_TRUE(controller.switchOnce(InputSourceID("C"), R::appActivated, "app",
                                      RuleSource::appRule, std::nullopt));
    EXPECT_EQ(provider.current, InputSourceID("C"));
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(LockControllerTest, ManualSelectionReportsAnApiCommandAndTheLockWinsLater) {
    lockOn("A");
    controller.selectManually(InputSourceID("C"));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].reason, R::apiCommand);
    EXPECT_FALSE(events[0].triggeringAppId);
    EXPECT_FALSE(events[0].ruleSource);
    EXPECT_EQ(provider.current, InputSourceID("C"));
    controller.sourceDidChange();
    EXPECT_EQ(provider.current, InputSourceID("A"));
}

TEST(LockControllerLifetime, DurationsAreNeverNegativeAndPendingWorkOutlivesTheController) {
    ManualRunLoop loop;
    ScriptedProvider provider;
    double clock = 100.0;
    std::vector<ActivationEvent> events;
    {
        LockController c(
            provider, true, false, [&] { return clock -= 1.0; }, [&] { return loop.now(); },
            [] { return false; },
            [&](double d, std::function<void()> a) { loop.post(Seconds(d), std::move(a)); });
        c.onActivation = [&](const ActivationEvent& e) { events.push_back(e); };
        c.setTarget(InputSourceID("B"), R::appActivated);
        c.selectManually(InputSourceID("C"));
    }
    ASSERT_EQ(events.size(), 2u);
    for (const auto& e : events)
        EXPECT_GE(e.durationMs, 0.0);
    EXPECT_GT(loop.runUntilIdle(), 0);  // stale actions run and do nothing
}

}  // namespace
}  // namespace tesvano

namespace tesvano {
namespace {

using platform::LogLevel;

// Reverts and pauses reach the journal too: one debug line per revert, one info line per
// pause, each naming the sources and the application.
TEST_F(LockControllerTest, ConflictsAreWrittenToTheLog) {
    ::setenv("TESVANO_DEBUG", "1", 1);  // debugging on, as the user turns it on
    test::LogCapture log;
    lockOn("A");
    for (int i = 0; i < 5; ++i) {
        foreignSwitch("B");
        loop.advance(Seconds(0.5));
    }
    std::vector<std::pair<LogLevel, std::string>> lines;
    for (const auto& record : log.sink().records) {
        if (record.category == "LockController") {
            lines.emplace_back(record.level, record.message);
        }
    }
    const std::string revert = "Reverting a switch to B; the lock for app holds A";
    const std::string pause =
        "Another program keeps switching away from A; the lock for app pauses for 10 s";
    EXPECT_EQ(lines, (std::vector<std::pair<LogLevel, std::string>>{{LogLevel::debug, revert},
                                                                    {LogLevel::debug, revert},
                                                                    {LogLevel::debug, revert},
                                                                    {LogLevel::debug, revert},
                                                                    {LogLevel::info, pause}}));
    ::unsetenv("TESVANO_DEBUG");
}

// While the rule of a newly activated application is pending, nothing is enforced, not even
// the verification of the previous switch; the next target ends the hold.
TEST_F(LockControllerTest, HoldForAnotherApplicationEndsWithItsTarget) {
    struct Step {
        const char* heldFor;  // application noticed
        bool held;
    };
    for (const Step step : {Step{"other", true}, Step{"app", false}}) {
        SCOPED_TRACE(step.heldFor);
        lockOn("A");
        events.clear();
        controller.holdForActivation(std::string(step.heldFor));
        EXPECT_EQ(controller.isHeldForActivation(), step.held);
        foreignSwitch("B");
        loop.advance(Seconds(1));
        EXPECT_EQ(provider.current, InputSourceID(step.held ? "B" : "A"));
        controller.setTarget(InputSourceID("C"), R::appActivated, "other", RuleSource::appRule);
        EXPECT_FALSE(controller.isHeldForActivation());
        EXPECT_EQ(provider.current, InputSourceID("C"));
        controller.releaseTarget();
    }
}

// A framework that stops right after a switch is waited for, without a fight and with one log
// line; back with nothing current, its source is selected again.
TEST_F(LockControllerTest, AStoppedFrameworkIsWaitedForAndSelectedOnItsReturn) {
    test::LogCapture log;
    lockOn("B");
    provider.frameworkGone = true;
    for (int i = 0; i < 6; ++i) {
        foreignSwitch("A");
        loop.advance(Seconds(0.2));
    }
    EXPECT_EQ(provider.selections, std::vector<std::string>{"B"});
    EXPECT_EQ(count(R::conflictPaused), 0);
    EXPECT_EQ(std::ranges::count_if(log.sink().records,
                                    [](const auto& r) { return r.category == "LockController"; }),
              1);
    provider.frameworkGone = false;
    provider.current.reset();
    controller.setEnabled(true, R::revertedSwitch);
    EXPECT_EQ(provider.current, InputSourceID("B"));
}

}  // namespace
}  // namespace tesvano

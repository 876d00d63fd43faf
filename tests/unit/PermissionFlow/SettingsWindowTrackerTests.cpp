#include <gtest/gtest.h>

#include "PermissionFlow/SettingsWindowTracker.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/Workspace/FakeWindowList.h"
#include "Platform/Workspace/FakeWorkspace.h"

namespace PermissionFlow {
namespace {

using namespace tesvano::platform;

const SystemSettings::SettingsApplication settingsApp{"org.gnome.Settings", "gnome-control-center"};

RunningApplication settingsProcess(std::int32_t pid) {
    return {pid, "org.gnome.Settings", "/usr/bin/gnome-control-center"};
}

class SettingsWindowTrackerTest : public ::testing::Test {
protected:
    SettingsWindowTrackerTest() {
        tracker.onFrameChange = [this](const Rect& r) { frames.push_back(r); };
        tracker.onTrackingEnded = [this] { ++ended; };
        // No real process stands behind the ids of these tests.
        tracker.processTree = [](std::int32_t pid) { return std::vector<std::int32_t>{pid}; };
    }
    void poll(int n = 1) {
        for (int i = 0; i < n; ++i) {
            loop.advance(tracker.pollInterval);
        }
    }

    ManualRunLoop loop;
    FakeWorkspace workspace;
    FakeWindowList windows;
    SettingsWindowTracker tracker{loop, workspace, windows};
    std::vector<Rect> frames;
    int ended = 0;
};

TEST_F(SettingsWindowTrackerTest, WaitsWithoutCountingUntilTheProgramRuns) {
    tracker.start(settingsApp);
    poll(40);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(ended, 0);
    workspace.launch(settingsProcess(50));
    windows.list = {{7, 50, {10, 20, 800, 600}, true}};
    poll();
    EXPECT_EQ(frames, (std::vector<Rect>{{10, 20, 800, 600}}));
    poll(5);
    EXPECT_EQ(frames.size(), 1U) << "an unchanged frame is reported once";
}

TEST_F(SettingsWindowTrackerTest, PicksTheLargestQualifyingWindowOfTheProgram) {
    struct Case {
        const char* what;
        std::vector<ListedWindow> list;
        std::optional<Rect> expected;
    };
    const Case cases[] = {
        {"too narrow", {{1, 50, {0, 0, 320, 500}, true}}, std::nullopt},
        {"too low", {{1, 50, {0, 0, 600, 240}, true}}, std::nullopt},
        {"just large enough", {{1, 50, {0, 0, 321, 241}, true}}, Rect{0, 0, 321, 241}},
        {"equal areas: the front one",
         {{1, 50, {0, 0, 400, 300}, true}, {2, 50, {5, 5, 300, 400}, true}},
         Rect{0, 0, 400, 300}},
        {"the largest",
         {{1, 50, {0, 0, 400, 300}, true}, {2, 50, {5, 5, 800, 600}, true}},
         Rect{5, 5, 800, 600}},
        {"hidden or another process's",
         {{1, 50, {0, 0, 800, 600}, false}, {2, 51, {0, 0, 800, 600}, true}},
         std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(settingsWindowFrame(c.list, {50}), c.expected) << c.what;
    }
}

TEST_F(SettingsWindowTrackerTest, FollowsMovesThroughTheWindowsOwnEvents) {
    workspace.launch(settingsProcess(50));
    windows.list = {{7, 50, {10, 20, 800, 600}, true}};
    tracker.start(settingsApp);
    EXPECT_EQ(tracker.observedWindow(), 7UL);
    windows.list[0].frame.x = 300;
    windows.notify(7);
    loop.runDue();
    EXPECT_EQ(frames.back(), (Rect{300, 20, 800, 600}));
    EXPECT_EQ(windows.observeCalls, 1) << "one watch for an unchanged window";
}

TEST_F(SettingsWindowTrackerTest, RetriesAWatchThatFailedAndOnlyThenRemembersTheWindow) {
    workspace.launch(settingsProcess(50));
    windows.list = {{7, 50, {10, 20, 800, 600}, true}};
    windows.failObserveTimes = 1;
    tracker.start(settingsApp);
    EXPECT_FALSE(tracker.observedWindow().has_value());
    EXPECT_EQ(windows.observerCount(7), 0);
    poll();
    EXPECT_EQ(windows.observeCalls, 2);
    EXPECT_EQ(tracker.observedWindow(), 7UL);
    EXPECT_EQ(windows.observerCount(7), 1);
}

TEST_F(SettingsWindowTrackerTest, EndsOnceAfterTwelvePollsWithoutTheProgram) {
    workspace.launch(settingsProcess(50));
    windows.list = {{7, 50, {10, 20, 800, 600}, true}};
    tracker.start(settingsApp);
    workspace.terminate(50);
    windows.list.clear();
    poll(11);
    EXPECT_EQ(ended, 0);
    poll();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(tracker.currentFrame().has_value());
    EXPECT_FALSE(tracker.isPolling());
    EXPECT_EQ(windows.observerCount(7), 0);
    poll(30);
    EXPECT_EQ(ended, 1);
}

TEST_F(SettingsWindowTrackerTest, KeepsTrackingWhenTheProgramComesBackInTime) {
    workspace.launch(settingsProcess(50));
    windows.list = {{7, 50, {10, 20, 800, 600}, true}};
    tracker.start(settingsApp);
    workspace.terminate(50);
    windows.list.clear();
    poll(11);
    workspace.launch(settingsProcess(60));
    windows.list = {{9, 60, {40, 40, 800, 600}, true}};
    poll();
    EXPECT_EQ(tracker.observedWindow(), 9UL);
    poll(20);
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(frames.back(), (Rect{40, 40, 800, 600}));
}

TEST_F(SettingsWindowTrackerTest, FindsTheWindowsOfTheStartedProcessItsChildrenAndTheClass) {
    // cinnamon-settings runs under python3: neither its entry nor its executable matches.
    const SystemSettings::SettingsApplication cinnamon{"cinnamon-settings", "cinnamon-settings"};
    tracker.processTree = [](std::int32_t pid) { return std::vector<std::int32_t>{pid, 71}; };
    workspace.launch({70, std::nullopt, "/usr/bin/python3.11"});
    const Rect frame{10, 20, 800, 600};
    struct Case {
        const char* what;
        ListedWindow window;
        bool found;
    };
    const Case cases[] = {
        {"the started process", {7, 70, frame, true, "python3", "Python3"}, true},
        {"its child", {7, 71, frame, true}, true},
        {"a copy that ran already, by class", {7, 99, frame, true, "x", "Cinnamon-settings"}, true},
        {"by instance name", {7, 99, frame, true, "cinnamon-settings", "X"}, true},
        {"another program's", {7, 99, frame, true, "python3", "Python3"}, false},
    };
    for (const auto& c : cases) {
        frames.clear();
        windows.list = {c.window};
        tracker.start(cinnamon, 70);
        EXPECT_EQ(frames.size(), c.found ? 1U : 0U) << c.what;
        EXPECT_EQ(tracker.isSettingsProcess(c.window.processIdentifier), c.found) << c.what;
    }
}

TEST_F(SettingsWindowTrackerTest, GivesUpOnceWhenNoWindowShowsInTime) {
    int timedOut = 0;
    tracker.onWindowTimeout = [&] { ++timedOut; };
    tracker.start(settingsApp, 70);
    // The program runs, but shows nothing usable.
    workspace.launch(settingsProcess(70));
    windows.list = {{7, 70, {0, 0, 200, 100}, true}};
    loop.advance(tracker.windowTimeout - Seconds(0.1));
    EXPECT_EQ(timedOut, 0);
    poll(5);
    EXPECT_EQ(timedOut, 1);
    EXPECT_EQ(ended, 0);
    EXPECT_FALSE(tracker.isPolling());
    poll(40);
    EXPECT_EQ(timedOut, 1);
}

TEST_F(SettingsWindowTrackerTest, EndsWhenTheWindowHasGoneThoughItsProcessRuns) {
    workspace.launch({70, std::nullopt, "/usr/bin/python3.11"});
    windows.list = {{7, 70, {10, 20, 800, 600}, true}};
    tracker.start(settingsApp, 70);
    ASSERT_EQ(frames.size(), 1U);
    // Minimised for a while: still there.
    windows.list[0].onScreen = false;
    poll(30);
    EXPECT_EQ(ended, 0);
    windows.list.clear();
    poll(11);
    EXPECT_EQ(ended, 0);
    poll();
    EXPECT_EQ(ended, 1);
}

TEST_F(SettingsWindowTrackerTest, RecognisesTheProgramByEntryOrExecutable) {
    const std::tuple<RunningApplication, bool> cases[] = {
        {{1, "org.gnome.Settings", "/usr/bin/python3"}, true},
        {{1, std::nullopt, "/opt/bin/gnome-control-center"}, true},
        {{1, "org.gnome.Nautilus", "/usr/bin/nautilus"}, false},
        {{1, std::nullopt, std::nullopt}, false},
    };
    for (const auto& [running, expected] : cases) {
        EXPECT_EQ(isSettingsApplication(running, settingsApp), expected);
    }
}

}  // namespace
}  // namespace PermissionFlow

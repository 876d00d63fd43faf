#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "TesvanoKit/Monitors/AppActivationMonitor.h"

namespace tesvano {
namespace {

using platform::FakeWorkspace;
using platform::ManualRunLoop;
using platform::RunningApplication;
using platform::Seconds;
using Reports = std::vector<std::optional<std::string>>;

class AppActivationMonitorTest : public ::testing::Test {
protected:
    AppActivationMonitorTest() {
        workspace.addRunning({101, "org.example.Alpha", "/usr/bin/alpha"});
        workspace.addRunning({102, "org.example.Beta", "/usr/bin/beta"});
        workspace.addRunning({103, std::nullopt, "/opt/tools/bin/gamma"});
        workspace.addRunning({104, std::nullopt, std::nullopt});
    }

    void startRecording() {
        monitor.start([this](const std::optional<std::string>& id) { reports.push_back(id); });
    }

    ManualRunLoop loop;
    FakeWorkspace workspace;
    AppActivationMonitor monitor{workspace, loop};
    Reports reports;
};

TEST_F(AppActivationMonitorTest, EachNotificationGivesOneReportNamingWhoeverIsActiveThen) {
    startRecording();
    workspace.activate(101);
    loop.advance(Seconds(0.010));
    workspace.activate(102);

    loop.advance(Seconds(0.029));  // 39 ms after the first notification
    EXPECT_TRUE(reports.empty());
    loop.advance(Seconds(0.001));
    EXPECT_EQ(reports, (Reports{"org.example.Beta"}));

    // The second notification is taken once the first report is made, and waits its own turn.
    loop.advance(Seconds(0.039));
    EXPECT_EQ(reports.size(), 1u);
    loop.advance(Seconds(0.001));
    EXPECT_EQ(reports, (Reports{"org.example.Beta", "org.example.Beta"}));

    loop.runUntilIdle();
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(AppActivationMonitorTest, TheWaitCountsFromWhenTheActivationReachedUs) {
    startRecording();
    const struct {
        double arrivedAgo;  // when the backend says the event came in
        double waits;
    } cases[] = {{0.015, 0.025}, {0.0, 0.040}, {0.5, 0.0}, {-0.01, 0.040}};
    for (const auto& c : cases) {
        reports.clear();
        workspace.arrivedAt = loop.uptime() - Seconds(c.arrivedAgo);
        workspace.activate(101);
        if (c.waits > 0) {
            // Half a millisecond either side, clear of rounding.
            loop.advance(Seconds(c.waits - 0.0005));
            EXPECT_TRUE(reports.empty()) << c.arrivedAgo;
            loop.advance(Seconds(0.001));
        } else {
            loop.runDue();
        }
        EXPECT_EQ(reports, (Reports{"org.example.Alpha"})) << c.arrivedAgo;
    }
    // A notification taken after a report waits the whole debounce, as before.
    workspace.arrivedAt = loop.uptime() - Seconds(0.03125);
    workspace.activate(101);
    workspace.activate(102);
    reports.clear();
    loop.advance(Seconds(0.009));
    EXPECT_EQ(reports.size(), 1u);
    loop.advance(Seconds(0.039));
    EXPECT_EQ(reports.size(), 1u);
    loop.advance(Seconds(0.001));
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(AppActivationMonitorTest, IdentityFallsBackToTheExecutableName) {
    startRecording();
    workspace.activate(103);
    loop.runUntilIdle();
    workspace.activate(104);
    loop.runUntilIdle();
    EXPECT_EQ(reports, (Reports{"process:gamma", std::nullopt}));

    workspace.setActive(103);
    EXPECT_EQ(monitor.activeAppId(), "process:gamma");
    workspace.setActive(std::nullopt);
    EXPECT_EQ(monitor.activeAppId(), std::nullopt);
}

TEST_F(AppActivationMonitorTest, StopDuringTheWaitGivesNoReport) {
    startRecording();
    workspace.activate(101);
    workspace.activate(102);
    loop.advance(Seconds(0.02));
    monitor.stop();
    loop.runUntilIdle();
    workspace.activate(101);
    loop.runUntilIdle();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(workspace.observerCount(platform::WorkspaceNotification::applicationActivated), 0);

    // A new start listens afresh; nothing buffered before the stop comes back.
    startRecording();
    workspace.activate(102);
    loop.runUntilIdle();
    EXPECT_EQ(reports, (Reports{"org.example.Beta"}));
}

TEST_F(AppActivationMonitorTest, SecondStartKeepsTheFirstHandler) {
    startRecording();
    Reports second;
    monitor.start([&](const std::optional<std::string>& id) { second.push_back(id); });
    workspace.activate(101);
    loop.runUntilIdle();
    EXPECT_EQ(reports, (Reports{"org.example.Alpha"}));
    EXPECT_TRUE(second.empty());
    EXPECT_EQ(workspace.observerCount(platform::WorkspaceNotification::applicationActivated), 1);
}

TEST_F(AppActivationMonitorTest, DestructionDuringTheWaitLeavesNothingBehind) {
    auto owned = std::make_unique<AppActivationMonitor>(workspace, loop);
    int calls = 0;
    owned->start([&](const std::optional<std::string>&) { ++calls; });
    workspace.activate(101);
    owned.reset();
    loop.runUntilIdle();
    workspace.activate(102);
    loop.runUntilIdle();
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace tesvano

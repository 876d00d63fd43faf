#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "TesvanoKit/Monitors/FloatingAppMonitor.h"

namespace tesvano {
namespace {

using platform::AccessibleElement;
using platform::FakeAccessibility;
using platform::FakeWorkspace;
using platform::WorkspaceNotification;
using Reports = std::vector<std::optional<std::string>>;

constexpr std::int32_t launcherPID = 100;
constexpr std::int32_t editorPID = 200;
constexpr std::string_view focusChanged = platform::a11y::focusEvent;

class FloatingAppMonitorTest : public ::testing::Test {
protected:
    FloatingAppMonitorTest() {
        workspace.addRunning({editorPID, "org.example.Editor", "/usr/bin/editor"});
        editorField = ax.addElement(ax.addElement(ax.addApplication(editorPID), "frame"), "entry");
    }

    // The launcher process starts and shows its search field.
    AccessibleElement launchLauncher(bool notify) {
        auto window = ax.addElement(ax.addApplication(launcherPID), "frame");
        platform::RunningApplication app{launcherPID, "ulauncher", "/usr/bin/ulauncher"};
        notify ? workspace.launch(app) : workspace.addRunning(app);
        return ax.addElement(window, "entry");
    }

    void startRecording() {
        monitor.start([this](const std::optional<std::string>& id) { reports.push_back(id); });
    }

    FakeWorkspace workspace;
    FakeAccessibility ax;
    FloatingAppMonitor monitor{workspace, ax};
    AccessibleElement editorField;
    Reports reports;
};

TEST_F(FloatingAppMonitorTest, ObservesRunningLaunchersWithTheSixEvents) {
    auto field = launchLauncher(false);
    ax.setFocusedElement(field);
    startRecording();
    EXPECT_EQ(ax.observerCount(launcherPID), 1);
    EXPECT_EQ(ax.observerCount(editorPID), 0);
    EXPECT_EQ(ax.registeredEvents(launcherPID),
              (std::vector<std::string>{"window:create", "focus", "window:activate",
                                        "window:destroy", "window:resize", "window:deactivate"}));
    EXPECT_EQ(ax.callTimeout(ax.desktopElement()), 0.25);
    EXPECT_TRUE(reports.empty()) << "start does not evaluate";

    ax.post(launcherPID, focusChanged, field);
    EXPECT_EQ(reports, (Reports{"ulauncher"}));
}

TEST_F(FloatingAppMonitorTest, UntrustedLauncherGetsNoObserverUntilRefreshAfterTrust) {
    ax.setTrusted(false);
    startRecording();
    auto field = launchLauncher(true);
    EXPECT_EQ(ax.observerCount(), 0);

    ax.setTrusted(true);
    ax.setFocusedElement(field);
    monitor.refresh();
    EXPECT_EQ(ax.observerCount(launcherPID), 1);
    EXPECT_EQ(reports, (Reports{"ulauncher"}));

    // Trust withdrawn: the observers go, and the focus can no longer be read.
    ax.setTrusted(false);
    monitor.refresh();
    EXPECT_EQ(ax.observerCount(), 0);
    EXPECT_EQ(reports, (Reports{"ulauncher", std::nullopt}));
}

TEST_F(FloatingAppMonitorTest, FocusLeavingTheLaunchersReportsNoneExactlyOnce) {
    auto field = launchLauncher(true);
    startRecording();  // attached by the scan at start
    ASSERT_EQ(ax.observerCount(launcherPID), 1);
    ax.setFocusedElement(field);
    ax.post(launcherPID, focusChanged, field);

    ax.setFocusedElement(editorField);
    ax.post(launcherPID, "window:deactivate", ax.applicationElement(launcherPID));
    ax.post(launcherPID, "window:destroy", field);
    ax.setFocusedElement(std::nullopt);
    ax.post(launcherPID, "window:create", field);
    EXPECT_EQ(reports, (Reports{"ulauncher", std::nullopt}));
}

// A focus report the hidden launcher sends after another window got the keyboard is past.
TEST_F(FloatingAppMonitorTest, ALauncherFocusReportedAfterAnotherWindowTookTheKeyboardIsPast) {
    auto field = launchLauncher(true);
    startRecording();
    workspace.focusedPID = editorPID;
    ax.setFocusedElement(field);
    ax.post(launcherPID, focusChanged, field);
    EXPECT_TRUE(reports.empty());

    workspace.focusedPID = launcherPID;
    ax.post(launcherPID, focusChanged, field);
    workspace.focusedPID = editorPID;
    ax.post(launcherPID, "window:deactivate", ax.applicationElement(launcherPID));
    EXPECT_EQ(reports, (Reports{"ulauncher", std::nullopt}));
}

TEST_F(FloatingAppMonitorTest, TerminatingTheFocusedLauncherReportsNone) {
    startRecording();
    auto field = launchLauncher(true);  // attached on launch, without evaluation
    EXPECT_EQ(ax.observerCount(launcherPID), 1);
    EXPECT_TRUE(reports.empty());
    ax.setFocusedElement(field);
    ax.post(launcherPID, focusChanged, field);
    ASSERT_EQ(reports, (Reports{"ulauncher"}));

    workspace.terminate(launcherPID);
    EXPECT_EQ(ax.observerCount(), 0);
    EXPECT_EQ(reports, (Reports{"ulauncher", std::nullopt}));
}

TEST_F(FloatingAppMonitorTest, SecondStartKeepsTheHandlerAndAddsNoObservers) {
    auto field = launchLauncher(false);
    startRecording();
    Reports second;
    monitor.start([&](const std::optional<std::string>& id) { second.push_back(id); });
    EXPECT_EQ(workspace.observerCount(WorkspaceNotification::applicationLaunched), 1);
    EXPECT_EQ(workspace.observerCount(WorkspaceNotification::applicationExited), 1);
    EXPECT_EQ(ax.observerCount(), 1);

    ax.setFocusedElement(field);
    ax.post(launcherPID, focusChanged, field);
    EXPECT_EQ(reports, (Reports{"ulauncher"}));
    EXPECT_TRUE(second.empty());
}

TEST_F(FloatingAppMonitorTest, FailedRegistrationsLeaveNoObserver) {
    ax.unsupportedEvents = {"window:create",  "focus",         "window:activate",
                            "window:destroy", "window:resize", "window:deactivate"};
    launchLauncher(false);
    startRecording();
    EXPECT_EQ(ax.observerCount(), 0);

    // One registration that takes is enough.
    ax.unsupportedEvents.erase("window:resize");
    monitor.refresh();
    EXPECT_EQ(ax.registeredEvents(launcherPID), (std::vector<std::string>{"window:resize"}));
}

TEST_F(FloatingAppMonitorTest, StopAndDestructionLeaveNothingBehind) {
    auto field = launchLauncher(false);
    ax.setFocusedElement(field);
    startRecording();
    monitor.stop();
    EXPECT_EQ(ax.observerCount(), 0);
    EXPECT_EQ(workspace.observerCount(WorkspaceNotification::applicationLaunched), 0);
    ax.post(launcherPID, focusChanged, field);
    monitor.refresh();  // no handler: nothing
    EXPECT_TRUE(reports.empty());

    int calls = 0;
    {
        FloatingAppMonitor scoped(workspace, ax);
        scoped.start([&](const std::optional<std::string>&) { ++calls; });
        ASSERT_EQ(ax.observerCount(launcherPID), 1);
    }
    // Callbacks after destruction would reach a dead object.
    EXPECT_EQ(ax.observerCount(), 0);
    EXPECT_EQ(workspace.observerCount(WorkspaceNotification::applicationExited), 0);
    ax.post(launcherPID, focusChanged, field);
    workspace.terminate(launcherPID);
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace tesvano

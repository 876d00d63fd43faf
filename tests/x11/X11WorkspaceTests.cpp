#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/Workspace/X11Workspace.h"
#include "TesvanoKit/Monitors/AppActivationMonitor.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/X11Test.h"

// Last: Xlib's macros (None, Bool) would break the test framework's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace tesvano {
namespace {

using namespace std::chrono_literals;
using platform::RunningApplication;
using platform::WorkspaceNotification;
using platform::X11Workspace;

class X11WorkspaceTest : public test::X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        ASSERT_GT(child.pid(), 0);
        other = openClient();
        ASSERT_NE(other, nullptr);
        root = XDefaultRootWindow(other);
        alpha = makeWindow("alpha", getpid());
        beta = makeWindow("beta", child.pid());
        setRootWindows("_NET_CLIENT_LIST", {alpha});

        test::writeFile(entries / "org.example.Alpha.desktop",
                        "[Desktop Entry]\nType=Application\nName=Alpha\nExec=alpha-app\n"
                        "StartupWMClass=alpha\n");
        auto opened = X11Workspace::open(loop, platform::DesktopEntryIndex::scan({entries.path()}),
                                         display());
        ASSERT_TRUE(opened.has_value()) << opened.error();
        workspace = std::move(*opened);
    }

    void TearDown() override {
        workspace.reset();
        X11Test::TearDown();
    }

    Window makeWindow(const char* wmClass, pid_t pid) {
        Window w = XCreateSimpleWindow(other, root, 0, 0, 10, 10, 0, 0, 0);
        std::string name(wmClass);
        XClassHint hint{name.data(), name.data()};
        XSetClassHint(other, w, &hint);
        long value = pid;
        XChangeProperty(other, w, XInternAtom(other, "_NET_WM_PID", False),
                        XInternAtom(other, "CARDINAL", False), 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&value), 1);
        return w;
    }

    // Another client changes a window list on the root window, as a window manager would.
    void setRootWindows(const char* property, const std::vector<Window>& windows) {
        std::vector<long> values(windows.begin(), windows.end());
        XChangeProperty(other, root, XInternAtom(other, property, False),
                        XInternAtom(other, "WINDOW", False), 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(values.data()),
                        static_cast<int>(values.size()));
        XFlush(other);
    }

    bool pumpUntil(const std::function<bool()>& done) {
        return test::waitUntil(
            [this] {
                loop.pumpFds(20ms);
                loop.runDue();
            },
            done);
    }

    // Activates `window` and lets the monitor's wait run out.
    void activate(Window window) {
        setRootWindows("_NET_ACTIVE_WINDOW", {window});
        ASSERT_TRUE(pumpUntil([this] { return loop.hasPending(); }));
        loop.advance(AppActivationMonitor::defaultDebounce);
    }

    test::StandInProcess child;
    test::TempDir entries;
    platform::ManualRunLoop loop;
    Display* other = nullptr;
    Window root = 0;
    Window alpha = 0;
    Window beta = 0;
    std::unique_ptr<X11Workspace> workspace;
};

TEST_F(X11WorkspaceTest, ReportsActivatedApplicationsInOrder) {
    AppActivationMonitor monitor(*workspace, loop);
    std::vector<std::optional<std::string>> reports;
    monitor.start([&](const std::optional<std::string>& id) { reports.push_back(id); });

    activate(alpha);
    activate(beta);
    // Nothing has the focus, then the first window again.
    setRootWindows("_NET_ACTIVE_WINDOW", {0});
    activate(alpha);

    EXPECT_EQ(reports, (std::vector<std::optional<std::string>>{
                           "org.example.Alpha", "process:sleep", "org.example.Alpha"}));
    EXPECT_EQ(monitor.activeAppId(), "org.example.Alpha");
}

TEST_F(X11WorkspaceTest, ActiveApplicationFollowsAChangeNotYetDispatched) {
    // The loop is not run: each answer must not come from what was read before the change.
    auto activePid = [this] {
        auto app = workspace->activeApplication();
        return app ? app->processIdentifier : 0;
    };
    setRootWindows("_NET_ACTIVE_WINDOW", {alpha});
    XSync(other, False);
    ASSERT_TRUE(test::waitUntil([] {}, [&] { return activePid() == getpid(); }));
    setRootWindows("_NET_ACTIVE_WINDOW", {beta});
    XSync(other, False);
    EXPECT_TRUE(test::waitUntil([] {}, [&] { return activePid() == child.pid(); }));
    setRootWindows("_NET_ACTIVE_WINDOW", {0});
    XSync(other, False);
    EXPECT_TRUE(test::waitUntil([] {}, [&] { return activePid() == 0; }));
}

TEST_F(X11WorkspaceTest, ClientListChangesAreLaunchesAndTerminations) {
    std::vector<RunningApplication> launched;
    std::vector<RunningApplication> terminated;
    auto onLaunch =
        workspace->addObserver(WorkspaceNotification::applicationLaunched,
                               [&](const RunningApplication& app) { launched.push_back(app); });
    auto onTerminate =
        workspace->addObserver(WorkspaceNotification::applicationExited,
                               [&](const RunningApplication& app) { terminated.push_back(app); });

    auto running = workspace->runningApplications();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].processIdentifier, getpid());
    EXPECT_EQ(running[0].appId, "org.example.Alpha");

    setRootWindows("_NET_CLIENT_LIST", {alpha, beta});
    ASSERT_TRUE(pumpUntil([&] { return !launched.empty(); }));
    EXPECT_EQ(launched[0].processIdentifier, child.pid());
    EXPECT_EQ(launched[0].appId, std::nullopt);
    ASSERT_TRUE(launched[0].executablePath);
    EXPECT_TRUE(launched[0].executablePath->ends_with("/sleep"));
    EXPECT_EQ(workspace->runningApplications().size(), 2u);

    // The window goes away: its application has terminated.
    XDestroyWindow(other, beta);
    setRootWindows("_NET_CLIENT_LIST", {alpha});
    ASSERT_TRUE(pumpUntil([&] { return !terminated.empty(); }));
    EXPECT_EQ(terminated[0].processIdentifier, child.pid());
    EXPECT_EQ(launched.size(), 1u);
    EXPECT_EQ(workspace->runningApplications(std::string("org.example.Alpha")).size(), 1u);
}

}  // namespace
}  // namespace tesvano

#include <gtest/gtest.h>

#include "PermissionFlow/PermissionFlowController.h"
#include "Platform/Accessibility/FakeAssistiveTechnologyStatus.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/Workspace/FakeWindowList.h"
#include "Platform/Workspace/FakeWorkspace.h"

namespace PermissionFlow {
namespace {

using namespace tesvano::platform;

// Records what the controller asks of its panel.
class RecordingPanel final : public FloatingPanel {
public:
    explicit RecordingPanel(std::vector<std::string>& log) : log_(log) {}
    void refreshContent() override { log_.push_back("refresh"); }
    void launchWhileAwaiting(const std::optional<Rect>& source) override {
        log_.push_back(source ? "await from button" : "await centred");
    }
    void launch(const Rect& source, const Rect& s) override {
        log_.push_back("launch " + std::to_string(int(source.x)) + " to " +
                       std::to_string(int(s.x)));
    }
    void place(const Rect& s) override { log_.push_back("place " + std::to_string(int(s.x))); }
    void setLocaleIdentifier(const std::optional<std::string>& id) override {
        log_.push_back("locale " + id.value_or("none"));
    }
    void orderFrontRegardless() override { log_.push_back("front"); }
    void close() override { log_.push_back("close"); }

private:
    std::vector<std::string>& log_;
};

class PermissionFlowControllerTest : public ::testing::Test {
protected:
    PermissionFlowControllerTest() {
        workspace.addRunning(editor);
        workspace.setActive(editor.processIdentifier);
        windows.list = {{3, editor.processIdentifier, {0, 0, 500, 500}, true}};
    }

    std::unique_ptr<PermissionFlowController> make(
        SystemSettings::Desktop desktop = SystemSettings::Desktop::gnome) {
        PermissionFlowEnvironment env{loop, workspace, windows, SystemSettings::Catalogue(desktop)};
        env.launcher =
            [this](
                const std::vector<std::string>& argv) -> std::expected<std::int32_t, std::string> {
            launched.push_back(argv);
            if (!launchSucceeds) {
                return std::unexpected("not installed");
            }
            return launchedPid;
        };
        env.assistiveTechnologies = bus;
        env.mainApplicationEntry = "/usr/share/applications/tesvano.desktop";
        auto flow = std::make_unique<PermissionFlowController>(
            env, PermissionFlowConfiguration{}, [this](PermissionFlowController&) {
                return std::make_unique<RecordingPanel>(panelLog);
            });
        flow->tracker().processTree = [this](std::int32_t pid) {
            auto tree = std::vector<std::int32_t>{pid};
            tree.insert(tree.end(), children.begin(), children.end());
            return tree;
        };
        return flow;
    }
    void settingsAppears(Rect frame = {100, 100, 900, 600}) {
        workspace.launch(settings);
        windows.list.insert(windows.list.begin(), {8, settings.processIdentifier, frame, true});
        workspace.activate(settings.processIdentifier);
        loop.advance(Seconds(0.05));
    }

    ManualRunLoop loop;
    FakeWorkspace workspace;
    FakeWindowList windows;
    std::shared_ptr<FakeAssistiveTechnologyStatus> bus =
        std::make_shared<FakeAssistiveTechnologyStatus>();
    RunningApplication editor{40, "org.gnome.TextEditor", "/usr/bin/gnome-text-editor"};
    RunningApplication settings{50, "org.gnome.Settings", "/usr/bin/gnome-control-center"};
    std::vector<std::vector<std::string>> launched;
    bool launchSucceeds = true;
    std::int32_t launchedPid = 90;
    std::vector<std::int32_t> children;
    std::vector<std::string> panelLog;
};

TEST_F(PermissionFlowControllerTest, APaneWithoutAListOpensSettingsOnly) {
    auto flow = make();
    flow->open(PermissionFlowPane::camera, {});
    EXPECT_EQ(launched,
              (std::vector<std::vector<std::string>>{{"gnome-control-center", "camera"}}));
    EXPECT_EQ(flow->currentPane(), PermissionFlowPane::camera);
    EXPECT_EQ(flow->previousActiveApplicationPID(), 40);
    EXPECT_FALSE(flow->tracker().isPolling());
    EXPECT_EQ(flow->panel(), nullptr);
    EXPECT_EQ(PermissionFlowController::current(), nullptr);
}

TEST_F(PermissionFlowControllerTest, LaunchesFromTheButtonOnceTheWindowIsFoundThenFollows) {
    auto flow = make();
    flow->open(PermissionFlowPane::accessibility, {}, Rect{5, 5, 32, 32});
    EXPECT_EQ(launched.front(),
              (std::vector<std::string>{"gnome-control-center", "universal-access"}));
    EXPECT_TRUE(flow->isAwaitingSettingsWindow());
    EXPECT_EQ(panelLog, (std::vector<std::string>{"refresh", "await from button"}));
    settingsAppears();
    EXPECT_FALSE(flow->isAwaitingSettingsWindow());
    EXPECT_TRUE(flow->isSettingsActive());
    windows.list[0].frame.x = 400;
    windows.notify(8);
    loop.advance(Seconds(0.01));
    EXPECT_EQ(panelLog, (std::vector<std::string>{"refresh", "await from button", "refresh",
                                                  "launch 5 to 100", "place 400"}));
}

TEST_F(PermissionFlowControllerTest, EndsWhenTheSettingsProgramHasGone) {
    auto flow = make();
    flow->open(PermissionFlowPane::accessibility, {});
    settingsAppears();
    workspace.terminate(settings.processIdentifier);
    windows.list.erase(windows.list.begin());
    loop.advance(Seconds(1));
    EXPECT_EQ(panelLog.back(), "close");
    EXPECT_EQ(flow->panel(), nullptr);
    EXPECT_EQ(PermissionFlowController::current(), nullptr);
    EXPECT_TRUE(windows.activated.empty()) << "the previous application is not brought back";
}

TEST_F(PermissionFlowControllerTest, StopBringsBackTheApplicationFromBeforeTheFlow) {
    auto flow = make();
    flow->open(PermissionFlowPane::accessibility, {});
    settingsAppears();
    // Opening again while the settings program is in front keeps the first one remembered.
    flow->open(PermissionFlowPane::accessibility, {});
    EXPECT_EQ(flow->previousActiveApplicationPID(), 40);
    EXPECT_EQ(windows.activated, (std::vector<unsigned long>{8})) << "the settings raised";
    flow->stop(true);
    EXPECT_EQ(windows.activated, (std::vector<unsigned long>{8, 3}));
    EXPECT_FALSE(flow->previousActiveApplicationPID().has_value());
}

TEST_F(PermissionFlowControllerTest, AnotherFlowClosesTheFirstWithoutRestoring) {
    auto first = make();
    auto second = make();
    first->open(PermissionFlowPane::accessibility, {});
    ASSERT_NE(first->panel(), nullptr);
    second->open(PermissionFlowPane::screenRecording, {});
    EXPECT_EQ(first->panel(), nullptr);
    EXPECT_EQ(PermissionFlowController::current(), second.get());
    EXPECT_TRUE(windows.activated.empty());
}

TEST_F(PermissionFlowControllerTest, WithoutASettingsProgramThePanelStandsAloneCentred) {
    for (bool knownDesktop : {false, true}) {
        panelLog.clear();
        launchSucceeds = knownDesktop ? false : true;
        auto flow =
            make(knownDesktop ? SystemSettings::Desktop::gnome : SystemSettings::Desktop::unknown);
        flow->open(PermissionFlowPane::accessibility, {}, Rect{5, 5, 32, 32});
        EXPECT_FALSE(flow->hasSettingsWindow());
        EXPECT_FALSE(flow->isAwaitingSettingsWindow());
        EXPECT_FALSE(flow->tracker().isPolling());
        EXPECT_EQ(panelLog, (std::vector<std::string>{"refresh", "await centred"}));
        EXPECT_TRUE(flow->offersAssistiveTechnologySwitch());
    }
}

TEST_F(PermissionFlowControllerTest, FollowsASettingsProgramRunByAnInterpreterUntilItsWindowGoes) {
    // A python program: its process is the interpreter's, named after no settings program.
    launchedPid = 70;
    children = {71};
    auto flow = make(SystemSettings::Desktop::cinnamon);
    flow->open(PermissionFlowPane::accessibility, {});
    EXPECT_EQ(launched.front(),
              (std::vector<std::string>{"cinnamon-settings", "universal-access"}));
    const RunningApplication python{71, std::nullopt, "/usr/bin/python3.11"};
    workspace.launch(python);
    windows.list.insert(windows.list.begin(), {8, 71, {100, 100, 900, 600}, true});
    workspace.activate(71);
    loop.advance(Seconds(0.05));
    EXPECT_FALSE(flow->isAwaitingSettingsWindow());
    EXPECT_TRUE(flow->isSettingsActive());
    EXPECT_EQ(panelLog,
              (std::vector<std::string>{"refresh", "await centred", "refresh", "place 100"}));
    EXPECT_TRUE(flow->activateSettings());
    EXPECT_EQ(windows.activated.back(), 8UL);

    // The window is closed; the interpreter lingers a while.
    windows.list.erase(windows.list.begin());
    loop.advance(Seconds(1));
    EXPECT_EQ(panelLog.back(), "close");
    EXPECT_EQ(flow->panel(), nullptr);
}

TEST_F(PermissionFlowControllerTest, WithoutASettingsWindowInTimeThePanelGoesOnAlone) {
    auto flow = make(SystemSettings::Desktop::cinnamon);
    flow->open(PermissionFlowPane::accessibility, {});
    loop.advance(flow->tracker().windowTimeout - Seconds(0.5));
    EXPECT_TRUE(flow->isAwaitingSettingsWindow());
    EXPECT_TRUE(flow->hasSettingsWindow());
    loop.advance(Seconds(1));
    EXPECT_FALSE(flow->isAwaitingSettingsWindow());
    EXPECT_FALSE(flow->hasSettingsWindow());
    EXPECT_FALSE(flow->tracker().isPolling());
    EXPECT_EQ(panelLog,
              (std::vector<std::string>{"refresh", "await centred", "refresh", "await centred"}));
    EXPECT_TRUE(flow->offersAssistiveTechnologySwitch());
    EXPECT_NE(flow->panel(), nullptr);
}

TEST_F(PermissionFlowControllerTest, OffersEachApplicationEntryOnce) {
    auto flow = make();
    std::vector<std::filesystem::path> dropped;
    flow->onDrop = [&](const std::filesystem::path& p) { dropped.push_back(p); };
    EXPECT_EQ(flow->primaryAppURL(), "/usr/share/applications/tesvano.desktop");
    flow->open(PermissionFlowPane::accessibility,
               {"/apps/a.desktop", "/apps/a.desktop", "/apps/B.DESKTOP", "/usr/bin/tesvano"});
    flow->addDroppedApp("/apps/a.desktop");
    flow->addDroppedApp("/apps/plugin.so");
    EXPECT_EQ(dropped, (std::vector<std::filesystem::path>{"/apps/a.desktop", "/apps/B.DESKTOP"}));
    EXPECT_EQ(flow->primaryAppURL(), "/apps/a.desktop");
    flow->resetDroppedApps();
    EXPECT_TRUE(flow->droppedApps().empty());
}

TEST_F(PermissionFlowControllerTest, AnnouncesLocaleChangesOnlyAndPassesThemToThePanel) {
    auto flow = make();
    int announcements = 0;
    auto observer = flow->addObserver([&] { ++announcements; });
    flow->setLocaleIdentifier(std::nullopt);
    EXPECT_EQ(announcements, 0);
    flow->open(PermissionFlowPane::accessibility, {});
    announcements = 0;
    flow->setLocaleIdentifier("de");
    flow->setLocaleIdentifier("de");
    EXPECT_EQ(announcements, 1);
    EXPECT_EQ(panelLog.back(), "locale de");
}

TEST_F(PermissionFlowControllerTest, TurnsAssistiveTechnologiesOnOrSaysWhyNot) {
    auto flow = make();
    EXPECT_TRUE(flow->turnOnAssistiveTechnologies().has_value());
    EXPECT_EQ(bus->value, true);
    bus->failSet = true;
    auto refused = flow->turnOnAssistiveTechnologies();
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), "refused");
}

}  // namespace
}  // namespace PermissionFlow

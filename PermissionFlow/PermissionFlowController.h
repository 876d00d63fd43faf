#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PermissionFlow/PermissionFlowPane.h"
#include "PermissionFlow/SettingsWindowTracker.h"
#include "system-settings-links/SettingsNavigator.h"

namespace tesvano::platform {
class AssistiveTechnologyStatus;
}

namespace PermissionFlow {

struct PermissionFlowConfiguration {
    // Applications (desktop entries) offered from the start.
    std::vector<std::filesystem::path> requiredAppURLs;
    bool promptForAccessibilityTrust = false;
    std::optional<std::string> localeIdentifier;
};

// The floating panel as the controller drives it; the Qt panel implements it.
class FloatingPanel {
public:
    virtual ~FloatingPanel() = default;
    virtual void refreshContent() = 0;
    // Shown before the settings window is known, centred on `source` or on the screen.
    virtual void launchWhileAwaiting(const std::optional<Rect>& source) = 0;
    // Flies from `source` to its place below the settings window.
    virtual void launch(const Rect& source, const Rect& settingsFrame) = 0;
    virtual void place(const Rect& settingsFrame) = 0;
    virtual void setLocaleIdentifier(const std::optional<std::string>& identifier) = 0;
    virtual void orderFrontRegardless() = 0;
    virtual void close() = 0;
};

// What a controller runs on; the program passes the real ones, tests fakes.
struct PermissionFlowEnvironment {
    tesvano::platform::Runtime& runtime;
    tesvano::platform::Workspace& workspace;
    tesvano::platform::WindowList& windows;
    SystemSettings::Catalogue catalogue;
    SystemSettings::ProcessLauncher launcher = SystemSettings::launchDetached;
    // Turns assistive technologies on from the panel; none: the panel offers no switch.
    std::shared_ptr<tesvano::platform::AssistiveTechnologyStatus> assistiveTechnologies{};
    // The program's own desktop entry, offered when nothing else was suggested.
    std::optional<std::filesystem::path> mainApplicationEntry{};
};

// Runs one guided grant: opens the settings program at the permission, follows its window
// and floats the panel below it, and brings back the application that was in front when it
// ends. Observers hear of every change of the published fields. Main thread only; one flow
// with a panel is active in the program at a time.
class PermissionFlowController {
public:
    using PanelFactory = std::function<std::unique_ptr<FloatingPanel>(PermissionFlowController&)>;

    PermissionFlowController(PermissionFlowEnvironment environment,
                             PermissionFlowConfiguration configuration, PanelFactory makePanel);
    ~PermissionFlowController();
    PermissionFlowController(const PermissionFlowController&) = delete;
    PermissionFlowController& operator=(const PermissionFlowController&) = delete;

    void open(PermissionFlowPane pane, const std::vector<std::filesystem::path>& suggested,
              const std::optional<Rect>& launchSource = {});
    void stop(bool restorePrevious);
    void setLocaleIdentifier(const std::optional<std::string>& identifier);
    void addDroppedApp(const std::filesystem::path& url);
    void resetDroppedApps();
    std::optional<std::filesystem::path> primaryAppURL() const;
    void reopenSettings();
    // Brings the running settings program forward (a click on the panel does), without
    // starting it; false when it has no window.
    bool activateSettings();
    void setDraggingApp(bool dragging);
    // Whether the panel offers to turn assistive technologies on, and doing it.
    bool offersAssistiveTechnologySwitch() const;
    // What the open place of the desktop's settings offers for the permission; the drag card
    // is offered only where a list there takes it.
    SystemSettings::AccessGrant settingsGrant() const;
    bool offersAppDrag() const;
    SystemSettings::Desktop desktop() const { return env_.catalogue.desktop(); }
    std::expected<void, std::string> turnOnAssistiveTechnologies();

    // Published fields.
    const std::vector<std::filesystem::path>& droppedApps() const { return droppedApps_; }
    const std::optional<PermissionFlowPane>& currentPane() const { return currentPane_; }
    bool isSettingsActive() const { return isSettingsActive_; }
    bool isDraggingApp() const { return isDraggingApp_; }
    bool isAwaitingSettingsWindow() const { return isAwaitingSettingsWindow_; }
    const std::optional<std::string>& localeIdentifier() const { return localeIdentifier_; }
    // False while the panel stands alone because no settings program could be opened.
    bool hasSettingsWindow() const { return hasSettingsWindow_; }

    // Called after each assignment of a published field.
    tesvano::platform::Registration addObserver(std::function<void()> observer);
    std::function<void(const std::filesystem::path&)> onDrop;

    SettingsWindowTracker& tracker() { return tracker_; }
    FloatingPanel* panel() { return panel_.get(); }
    const std::optional<std::int32_t>& previousActiveApplicationPID() const { return previousPID_; }
    const std::optional<SystemSettings::SettingsApplication>& settingsApplication() const {
        return settingsApplication_;
    }
    static PermissionFlowController* current();

private:
    SystemSettings::SettingsNavigator navigator();
    // Where this desktop's settings show the pane; none where they do not.
    std::optional<SystemSettings::SystemSettingsDestination> destinationOf(
        PermissionFlowPane pane) const;
    void registerApps(const std::vector<std::filesystem::path>& suggested);
    // The settings program by its entry or executable, or a process whose window is followed.
    bool isSettings(const tesvano::platform::RunningApplication& running) const;
    void rememberActiveApplication();
    void restorePreviousApplication();
    void updateSettingsActive();
    void showPanel();
    void showPanelAlone();
    void settingsFrameChanged(const Rect& frame);
    void placeBeside(const Rect& frame);
    void announce();
    template <typename T>
    void publish(T& field, const T& value) {
        field = value;
        announce();
    }

    PermissionFlowEnvironment env_;
    PermissionFlowConfiguration configuration_;
    PanelFactory makePanel_;
    SettingsWindowTracker tracker_;
    std::unique_ptr<FloatingPanel> panel_;
    std::vector<std::filesystem::path> droppedApps_;
    std::optional<PermissionFlowPane> currentPane_;
    bool isSettingsActive_ = false;
    bool isDraggingApp_ = false;
    bool isAwaitingSettingsWindow_ = false;
    bool hasSettingsWindow_ = true;
    std::optional<std::string> localeIdentifier_;
    std::optional<SystemSettings::SettingsApplication> settingsApplication_;
    std::optional<Rect> pendingLaunchSourceFrame_;
    std::optional<std::int32_t> previousPID_;
    std::optional<std::string> previousAppId_;
    struct Observer {
        std::shared_ptr<tesvano::platform::Registration::State> state;
        std::function<void()> call;
    };
    std::vector<Observer> observers_;
    tesvano::platform::Registration activationObserver_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace PermissionFlow

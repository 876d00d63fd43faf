#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Workspace/WindowList.h"
#include "Platform/Workspace/Workspace.h"
#include "system-settings-links/SystemSettingsDestination.h"

namespace PermissionFlow {

using tesvano::platform::Rect;

// Whether a running application is the settings program: by its desktop entry, or by the
// file name of its executable.
bool isSettingsApplication(const tesvano::platform::RunningApplication& running,
                           const SystemSettings::SettingsApplication& application);

// The frame of the largest on-screen window (over 320 × 240) of these processes; the one
// further front wins a tie.
std::optional<Rect> settingsWindowFrame(const std::vector<tesvano::platform::ListedWindow>& list,
                                        const std::vector<std::int32_t>& pids);

// Follows the frame of the settings program's window while a flow is open, from the window
// list on every poll and from the window's own move and close events in between, and says
// when the program has gone. Main thread only.
class SettingsWindowTracker {
public:
    SettingsWindowTracker(tesvano::platform::Runtime& runtime,
                          tesvano::platform::Workspace& workspace,
                          tesvano::platform::WindowList& windows);
    ~SettingsWindowTracker();
    SettingsWindowTracker(const SettingsWindowTracker&) = delete;
    SettingsWindowTracker& operator=(const SettingsWindowTracker&) = delete;

    tesvano::platform::Seconds pollInterval{1.0 / 30.0};
    int missingAppThreshold = 12;
    // Told each new frame, and once when tracking ends because the program has gone.
    std::function<void(const Rect&)> onFrameChange;
    std::function<void()> onTrackingEnded;

    void start(const SystemSettings::SettingsApplication& application);
    // Safe when not started; the callbacks stay.
    void stop();
    void pollStep();

    const std::optional<Rect>& currentFrame() const { return currentFrame_; }
    bool isPolling() const { return pollTimer_.active(); }
    const std::optional<unsigned long>& observedWindow() const { return observedWindow_; }

private:
    void schedulePoll();
    void missingAppStep();
    void report(const Rect& frame);

    tesvano::platform::Runtime& runtime_;
    tesvano::platform::Workspace& workspace_;
    tesvano::platform::WindowList& windows_;
    SystemSettings::SettingsApplication application_;
    std::optional<Rect> currentFrame_;
    std::optional<unsigned long> observedWindow_;
    tesvano::platform::Registration windowObserver_;
    tesvano::platform::Registration pollTimer_;
    bool hasActiveTrackingTarget_ = false;
    int missingAppPollCount_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace PermissionFlow

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// The WM_CLASS names the settings program's windows carry: its executable's name and its
// desktop-entry id. They hold where the executable is an interpreter (python3 running
// cinnamon-settings) and where the program hands over to a copy that was running already.
std::vector<std::string> settingsWindowClasses(const SystemSettings::SettingsApplication& app);

// The process and the processes it started, from /proc.
std::vector<std::int32_t> processWithDescendants(std::int32_t pid);

// The frame of the largest on-screen window (over 320 × 240) of these processes or classes;
// the one further front wins a tie.
std::optional<Rect> settingsWindowFrame(const std::vector<tesvano::platform::ListedWindow>& list,
                                        const std::vector<std::int32_t>& pids,
                                        const std::vector<std::string>& classes = {});

// Follows the frame of the settings program's window while a flow is open, from the window
// list on every poll and from the window's own move and close events in between. Its windows
// are those of the process started for the flow and of its children, of processes that are
// the program, and those of the program's window class. Says when no window showed within the
// time limit, and when the window has gone. Main thread only.
class SettingsWindowTracker {
public:
    SettingsWindowTracker(tesvano::platform::Runtime& runtime,
                          tesvano::platform::Workspace& workspace,
                          tesvano::platform::WindowList& windows);
    ~SettingsWindowTracker();
    SettingsWindowTracker(const SettingsWindowTracker&) = delete;
    SettingsWindowTracker& operator=(const SettingsWindowTracker&) = delete;

    tesvano::platform::Seconds pollInterval{1.0 / 30.0};
    // Polls without any window of the program, once one was seen, before it counts as gone.
    int missingAppThreshold = 12;
    // How long the program may take to show its first window.
    tesvano::platform::Seconds windowTimeout{15.0};
    // Told each new frame; once when tracking ends because the window has gone; once when no
    // window showed within the time limit (tracking has stopped then).
    std::function<void(const Rect&)> onFrameChange;
    std::function<void()> onTrackingEnded;
    std::function<void()> onWindowTimeout;
    // The process and its descendants; /proc by default, read at most every `treeInterval`.
    std::function<std::vector<std::int32_t>(std::int32_t)> processTree = processWithDescendants;
    tesvano::platform::Seconds treeInterval{0.5};

    // `launched`: the process started to show the program, when one was.
    void start(const SystemSettings::SettingsApplication& application,
               std::optional<std::int32_t> launched = std::nullopt);
    // Safe when not started; the callbacks stay.
    void stop();
    void pollStep();

    const std::optional<Rect>& currentFrame() const { return currentFrame_; }
    bool isPolling() const { return pollTimer_.active(); }
    const std::optional<unsigned long>& observedWindow() const { return observedWindow_; }
    // Whether the process is one whose windows were taken for the program's on the last poll.
    bool isSettingsProcess(std::int32_t pid) const;

private:
    void schedulePoll();
    void missingAppStep(bool noWindow);
    void report(const Rect& frame);
    std::vector<std::int32_t> settingsProcesses();

    tesvano::platform::Runtime& runtime_;
    tesvano::platform::Workspace& workspace_;
    tesvano::platform::WindowList& windows_;
    SystemSettings::SettingsApplication application_;
    std::vector<std::string> classes_;
    std::optional<std::int32_t> launched_;
    std::vector<std::int32_t> windowProcesses_;
    std::vector<std::int32_t> tree_;
    std::optional<tesvano::platform::Seconds> treeReadAt_;
    tesvano::platform::Seconds startedAt_{0};
    std::optional<Rect> currentFrame_;
    std::optional<unsigned long> observedWindow_;
    tesvano::platform::Registration windowObserver_;
    tesvano::platform::Registration pollTimer_;
    bool sawWindow_ = false;
    int missingAppPollCount_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace PermissionFlow

#pragma once

#include <expected>
#include <memory>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Workspace/DesktopEntryIndex.h"
#include "Platform/Workspace/Workspace.h"

namespace tesvano::platform {

// The workspace of an X11 desktop with an EWMH window manager: the active application owns
// _NET_ACTIVE_WINDOW, the running ones own the windows of _NET_CLIENT_LIST. A window's process
// comes from _NET_WM_PID (or the X-Resource extension), its identity from the desktop entries.
// Changes of the two root-window properties become the activation, launch and termination
// notifications; the connection's fd is watched through the runtime, so they arrive on the
// main thread.
class X11Workspace final : public Workspace {
public:
    // Opens a connection of its own to `displayName` (the $DISPLAY when empty).
    static std::expected<std::unique_ptr<X11Workspace>, std::string> open(
        Runtime& runtime, DesktopEntryIndex entries, const std::string& displayName = {});
    ~X11Workspace() override;
    X11Workspace(const X11Workspace&) = delete;
    X11Workspace& operator=(const X11Workspace&) = delete;

    std::optional<RunningApplication> activeApplication() override;
    // Asks the server where the focus is: a round trip or two.
    std::optional<RunningApplication> focusedApplication() override;
    std::vector<RunningApplication> runningApplications() override;
    using Workspace::runningApplications;
    Registration addObserver(WorkspaceNotification notification, Observer observer) override;
    std::optional<Seconds> activationArrivedAt() const override;
    // Identifies windows by these entries from now on: the applications installed meanwhile.
    void setDesktopEntries(DesktopEntryIndex entries);

    struct Impl;

private:
    explicit X11Workspace(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tesvano::platform

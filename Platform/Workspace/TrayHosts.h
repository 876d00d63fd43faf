#pragma once

#include <optional>

namespace tesvano::platform {

// What shows tray icons on this session.
struct TrayHosts {
    // A status-notifier watcher on the session bus: whether a host that shows its items has
    // registered with it and holds a host's bus name. None when there is no watcher.
    std::optional<bool> statusNotifierHost;
    // An XEmbed system tray owns its selection on the display's screen.
    bool xembedTray = false;
};

// Reads the session bus and $DISPLAY; each question has a short timeout.
TrayHosts probeTrayHosts();

// Whether a StatusNotifierWatcher holds its name on the session bus (asked of the bus itself,
// so a busy watcher still counts).
bool statusNotifierWatcherRuns();

}  // namespace tesvano::platform

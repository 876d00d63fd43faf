#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Runtime/Runtime.h"

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

// Tells whenever what shows tray icons may have changed, for whoever shows the answer of
// probeTrayHosts: a status-notifier watcher that comes or goes, a host that registers with it or
// leaves, an XEmbed tray that takes its selection or whose window goes. `changed` runs on the
// runtime's loop.
class TrayHostWatcher {
public:
    // Fails with a readable reason when neither the session bus nor the display can be watched.
    static std::expected<std::unique_ptr<TrayHostWatcher>, std::string> open(
        Runtime& runtime, std::function<void()> changed);
    ~TrayHostWatcher();
    TrayHostWatcher(const TrayHostWatcher&) = delete;
    TrayHostWatcher& operator=(const TrayHostWatcher&) = delete;

private:
    struct Impl;
    explicit TrayHostWatcher(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tesvano::platform

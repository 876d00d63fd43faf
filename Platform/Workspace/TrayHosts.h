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

// An 8-bit colour.
struct TrayColour {
    int red = 0;
    int green = 0;
    int blue = 0;
    bool operator==(const TrayColour&) const = default;
};

// The foreground an XEmbed tray asks its icons to draw in (the first colour of its
// _NET_SYSTEM_TRAY_COLORS, which Xfce's and Cinnamon's trays set from their panel's style);
// none without such a tray or where it says nothing.
std::optional<TrayColour> readTrayForeground();

// The same from a property's twelve 16-bit values (foreground, error, warning, success; red,
// green and blue each), as the tray writes them; none for fewer than three.
std::optional<TrayColour> trayForegroundOf(const unsigned long* values, unsigned long count);

// Whether an XEmbed system tray owns its selection on $DISPLAY's screen.
bool xembedTrayRuns();

// Whether a StatusNotifierWatcher holds its name on the session bus (asked of the bus itself,
// so a busy watcher still counts).
bool statusNotifierWatcherRuns();

// Tells whenever what shows tray icons may have changed, for whoever shows the answer of
// probeTrayHosts: a status-notifier watcher that comes or goes, a host that registers with it or
// leaves, an XEmbed tray that takes its selection or whose window goes, or one that changes the
// colours it asks for. `changed` runs on the runtime's loop.
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

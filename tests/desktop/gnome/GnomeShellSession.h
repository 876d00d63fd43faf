#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/PrivateSession.h"

namespace tesvano::test {

// What a GNOME session sets for its programs.
inline const std::vector<std::string> gnomeEnvironment = {
    "XDG_CURRENT_DESKTOP=GNOME", "XDG_SESSION_DESKTOP=gnome", "DESKTOP_SESSION=gnome"};

// Starts GNOME Shell 43 in X11 mode in `session`, with our extension installed and enabled in
// the session's home before the shell starts (when `extensions` to enable lists it), `layouts` as
// its sources, as ('xkb', layout); with `perWindow` the shell keeps a source per window. Returns
// once the extension answers, or without it once the shell's own IBus runs the shell's engine.
// Called again, it replaces the running shell, as a restart of the shell does.
std::expected<void, std::string> startGnomeShell(
    PrivateSession& session, const std::vector<std::string>& layouts, bool perWindow,
    std::chrono::milliseconds timeout = std::chrono::seconds(60),
    const std::vector<std::string>& extensions = {"tesvano@quorvel.com"});
// The shell's own view of its input sources, asked with gdbus (not through the code under
// test): its current source in our ids ("xkb:de"), none when it cannot be asked.
std::optional<std::string> gnomeShellCurrent(const PrivateSession& session);
// Makes a source current through the extension, as another program would.
bool gnomeShellActivate(const PrivateSession& session, const std::string& type,
                        const std::string& id);
// Whether the shell shows its overview (it starts in it); none when it cannot be asked.
std::optional<bool> gnomeShellOverviewActive(const PrivateSession& session);
// Presses Escape (through `pressEscape`) until the shell has left its overview for good: the
// shell may show it a while after it answers. False when it is still shown after `timeout`.
bool leaveGnomeShellOverview(const PrivateSession& session,
                             const std::function<void()>& pressEscape,
                             std::chrono::milliseconds timeout);

// GNOME Shell on a desktop session of its own (see startGnomeShell), sources global, counting
// the shell's source changes.
class GnomeShellSession {
public:
    // What a test needs installed; the first missing program otherwise.
    static std::expected<void, std::string> available();
    // `layouts` become org.gnome.desktop.input-sources sources, as ('xkb', layout).
    static std::expected<std::unique_ptr<GnomeShellSession>, std::string> start(
        const std::vector<std::string>& layouts, bool ourExtension = true,
        std::chrono::milliseconds timeout = std::chrono::seconds(60));
    ~GnomeShellSession();

    PrivateSession& session() { return *session_; }

    // The shell's current source in our ids ("xkb:de"); none when it cannot be asked.
    std::optional<std::string> current();
    // Waits at most `timeout` for the shell's current source to be `id`.
    bool waitForCurrent(const std::string& id, std::chrono::milliseconds timeout);
    // Makes a source current through the extension, as another program would.
    bool activate(const std::string& type, const std::string& id);
    // How many times the shell's current source changed since the session started.
    int switches();

private:
    GnomeShellSession() = default;
    void readMonitor();

    std::unique_ptr<PrivateSession> session_;
    int monitorFd_ = -1;
    std::string monitorText_;
    int switches_ = 0;
};

}  // namespace tesvano::test

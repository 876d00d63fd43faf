#pragma once

#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/desktop/support/DesktopSession.h"

namespace tesvano::test {

// GNOME Shell 43 in X11 mode on a desktop session of its own, with our extension installed
// and enabled in the session's home before the shell starts, and the shell's own view of its
// input sources asked with gdbus (not through the code under test).
class GnomeShellSession {
public:
    // What a test needs installed; the first missing program otherwise.
    static std::expected<void, std::string> available();
    // `layouts` become org.gnome.desktop.input-sources sources, as ('xkb', layout).
    static std::expected<std::unique_ptr<GnomeShellSession>, std::string> start(
        const std::vector<std::string>& layouts,
        std::chrono::milliseconds timeout = std::chrono::seconds(60));
    ~GnomeShellSession();

    DesktopSession& session() { return *session_; }

    // The shell's current source in our ids ("xkb:de"); none when it cannot be asked.
    std::optional<std::string> current();
    // Waits at most `timeout` for the shell's current source to be `id`.
    bool waitForCurrent(const std::string& id, std::chrono::milliseconds timeout);
    // Makes a source current through the extension, as another program would.
    bool activate(const std::string& type, const std::string& id);
    // Whether the shell shows its overview (it starts in it); none when it cannot be asked.
    std::optional<bool> overviewActive();
    // How many times the shell's current source changed since the session started.
    int switches();

private:
    GnomeShellSession() = default;
    void readMonitor();

    std::unique_ptr<DesktopSession> session_;
    int monitorFd_ = -1;
    std::string monitorText_;
    int switches_ = 0;
};

}  // namespace tesvano::test

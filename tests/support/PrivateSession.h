#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/browser/BrowserHarness.h"
#include "tests/support/TempDir.h"
#include "tests/support/XvfbServer.h"

namespace tesvano::test {

// A desktop session of a test's own, as a login would set it up: a private Xvfb of
// 1280x800, a private session bus, a stand-in system bus (desktop shells stop at start-up
// without one), and private HOME, XDG and runtime folders. Programs run in it get its
// environment; everything started in it stops with it.
class DesktopSession {
public:
    // `environment` ("NAME=value": XDG_CURRENT_DESKTOP and the like) is added for every program
    // of the session.
    static std::expected<std::unique_ptr<DesktopSession>, std::string> start(
        const std::vector<std::string>& environment = {});
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    const std::string& display() const { return server_->display(); }
    const std::filesystem::path& home() const { return folders_.path(); }
    // $XDG_DATA_HOME of the session.
    std::filesystem::path dataHome() const { return home() / ".local/share"; }
    const std::string& sessionBusAddress() const { return sessionBus_->address(); }
    // The session's environment entries, `extra` added (replacing same-named ones).
    std::vector<std::string> environment(const std::vector<std::string>& extra = {}) const;

    // Runs a program of the session to its end; true when it exited with 0.
    bool run(const std::vector<std::string>& argv,
             std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Runs a program of the session to its end and answers its standard output; none when it
    // did not exit with 0 in time.
    std::optional<std::string> output(
        const std::vector<std::string>& argv,
        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Starts a long-running program of the session (a window manager, a shell); it is stopped
    // with the session at the latest. Its standard output goes to `outputFd` when given.
    std::expected<ProcessGroup*, std::string> launch(const std::vector<std::string>& argv,
                                                     int outputFd = -1);
    // Stops what was launched, the latest first.
    void stopPrograms();

private:
    DesktopSession() = default;

    TempDir folders_;
    std::unique_ptr<XvfbServer> server_;
    std::unique_ptr<SessionBus> sessionBus_;
    std::unique_ptr<SessionBus> systemBus_;
    std::vector<std::string> environment_;
    std::vector<std::unique_ptr<ProcessGroup>> programs_;
};

// Whether every program is on PATH; the first missing one otherwise.
std::expected<void, std::string> programsInstalled(const std::vector<std::string>& programs);

}  // namespace tesvano::test

#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/XvfbServer.h"

namespace tesvano::test {

// A process that is still running (not a zombie) and what it runs.
struct SessionProcess {
    pid_t pid = 0;
    std::string commandLine;
};
// Every running process but this one whose environment holds one of `entries` ("NAME=value")
// exactly. A program a session starts keeps the session's environment wherever it moves
// (a process group or a session of its own, a new parent), so this finds it where process
// groups do not.
std::vector<SessionProcess> processesWithEnvironment(const std::vector<std::string>& entries);
// Asks the processes to end (SIGTERM), and kills those still running after `grace`.
void endProcesses(const std::vector<SessionProcess>& processes,
                  std::chrono::milliseconds grace = std::chrono::seconds(3));
// The variable that names the test suite a process was started for; the test runner sets it
// for each suite, every program a test starts inherits it, and the check after a suite looks
// for processes that still carry it.
inline constexpr const char* suiteVariable = "TESVANO_TEST_SUITE";

// A private session bus: services activated on it (the AT-SPI bus launcher and registry, dconf)
// inherit `environment` ("NAME=value", as for ProcessGroup) and go with it. Give them the
// test's DISPLAY and a runtime folder of its own, or the accessibility bus launcher puts its
// socket where the launchers of tests running beside it put theirs.
class SessionBus {
public:
    // With `configFile`, the daemon reads it instead of the session bus's own (which it may
    // include, to change a limit).
    static std::expected<std::unique_ptr<SessionBus>, std::string> start(
        const std::vector<std::string>& environment = {}, const std::string& configFile = {});
    const std::string& address() const { return address_; }

    // Kills the daemon, as a bus that crashes: every connection to it is dropped without a
    // word (no name changes hands first), and nobody can connect until it restarts.
    void stop();
    // A new daemon at the same address (stopping the running one first), as a bus that
    // restarts: clients connect again where they did, to a bus that knows nothing of them.
    std::expected<void, std::string> restart();

private:
    static std::expected<std::unique_ptr<ProcessGroup>, std::string> launch(
        const std::vector<std::string>& argv, const std::vector<std::string>& environment,
        std::string& address);

    std::unique_ptr<ProcessGroup> daemon_;
    std::vector<std::string> environment_;
    std::string address_;
    // --session, or the configuration file it was started with.
    std::string configuration_;
};

struct SessionOptions {
    // Added for every program of the session ("NAME=value": XDG_CURRENT_DESKTOP and the like).
    std::vector<std::string> environment;
    // Xvfb's WIDTHxHEIGHTxDEPTH.
    std::string screen = "1280x800x24";
    // A stand-in system bus: desktop shells stop at start-up without one.
    bool systemBus = false;
};

// A desktop session of a test's own, as a login would set it up: a private Xvfb, a private
// session bus, and private HOME, XDG and runtime folders. Programs run in it get its
// environment; everything started in it stops with it, including what its programs started
// in process groups of their own (GNOME Shell's IBus): every process whose environment names
// the session's home, runtime folder or bus.
class PrivateSession {
public:
    static std::expected<std::unique_ptr<PrivateSession>, std::string> start(
        const SessionOptions& options = {});
    ~PrivateSession();
    PrivateSession(const PrivateSession&) = delete;
    PrivateSession& operator=(const PrivateSession&) = delete;

    const std::string& display() const { return server_->display(); }
    const std::filesystem::path& home() const { return folders_.path(); }
    // $XDG_CONFIG_HOME and $XDG_DATA_HOME of the session.
    std::filesystem::path configHome() const { return home() / ".config"; }
    std::filesystem::path dataHome() const { return home() / ".local/share"; }
    const std::string& sessionBusAddress() const { return sessionBus_->address(); }
    // The session's environment entries, `extra` added (replacing same-named ones).
    std::vector<std::string> environment(const std::vector<std::string>& extra = {}) const;
    // Sets the session's environment in this process too, for code under test that reads it.
    void adoptEnvironment() const;

    // Runs a program of the session to its end; true when it exited with 0.
    bool run(const std::vector<std::string>& argv,
             std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Runs a program of the session to its end and answers its standard output without the
    // line breaks at its end; none when it did not exit with 0 in time.
    std::optional<std::string> output(
        const std::vector<std::string>& argv,
        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Starts a long-running program of the session (a window manager, a shell); it is stopped
    // with the session at the latest. Its standard output goes to `outputFd` when given.
    std::expected<ProcessGroup*, std::string> launch(const std::vector<std::string>& argv,
                                                     int outputFd = -1);
    // Launches a window manager and waits at most `timeout` until it has announced itself.
    std::expected<ProcessGroup*, std::string> startWindowManager(
        const std::vector<std::string>& argv = {"openbox"},
        std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Stops what was launched, the latest first.
    void stopPrograms();
    // Ends every other process that carries the session's environment.
    void endSessionProcesses();

private:
    PrivateSession() = default;

    TempDir folders_;
    std::unique_ptr<XvfbServer> server_;
    std::unique_ptr<SessionBus> sessionBus_;
    std::unique_ptr<SessionBus> systemBus_;
    std::vector<std::string> environment_;
    std::vector<std::unique_ptr<ProcessGroup>> programs_;
};

}  // namespace tesvano::test

#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <expected>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tesvano::test {

// A process group of our own (a browser and its helpers, a window manager, a bus): stopped
// with SIGTERM to the whole group, then SIGKILL after a short wait, when the object goes.
class ProcessGroup {
public:
    // `environment` entries ("NAME=value") replace or add to ours. Standard output goes to
    // `outputFd` when given (the child gets a copy), else to /dev/null like standard error.
    static std::expected<std::unique_ptr<ProcessGroup>, std::string> start(
        const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
        int outputFd = -1);
    ~ProcessGroup();
    ProcessGroup(const ProcessGroup&) = delete;
    ProcessGroup& operator=(const ProcessGroup&) = delete;
    pid_t pid() const { return pid_; }
    void stop(std::chrono::milliseconds grace = std::chrono::seconds(3));

private:
    explicit ProcessGroup(pid_t pid) : pid_(pid) {}
    pid_t pid_;
    bool stopped_ = false;
};

// A private session bus: the AT-SPI bus launcher and registry are activated on it on demand
// and go with it. They inherit `environment` ("NAME=value", as for ProcessGroup): give them
// the test's DISPLAY and a runtime folder of its own, or the launcher puts the accessibility
// bus's socket where the launchers of tests running beside it put theirs.
class SessionBus {
public:
    static std::expected<std::unique_ptr<SessionBus>, std::string> start(
        const std::vector<std::string>& environment = {});
    const std::string& address() const { return address_; }

private:
    std::unique_ptr<ProcessGroup> daemon_;
    std::string address_;
};

// Serves fixed pages on 127.0.0.1 at a port of its own, by path; any host name.
class LoopbackHTTPServer {
public:
    static std::expected<std::unique_ptr<LoopbackHTTPServer>, std::string> start(
        std::map<std::string, std::string> pages);
    ~LoopbackHTTPServer();
    LoopbackHTTPServer(const LoopbackHTTPServer&) = delete;
    LoopbackHTTPServer& operator=(const LoopbackHTTPServer&) = delete;
    int port() const { return port_; }

private:
    LoopbackHTTPServer(int fd, int port, std::map<std::string, std::string> pages);
    void serve();
    int fd_;
    int port_;
    std::map<std::string, std::string> pages_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Runs a program to its end, at most `timeout`; true when it exited with 0. `environment` as
// for ProcessGroup::start.
bool runQuietly(const std::vector<std::string>& argv,
                std::chrono::milliseconds timeout = std::chrono::seconds(10),
                const std::vector<std::string>& environment = {});

}  // namespace tesvano::test

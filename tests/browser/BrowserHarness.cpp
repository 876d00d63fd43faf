#include "tests/browser/BrowserHarness.h"

#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

extern char** environ;

namespace tesvano::test {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `pid` at most `timeout`; true when it was reaped.
bool reap(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace

std::expected<std::unique_ptr<ProcessGroup>, std::string> ProcessGroup::start(
    const std::vector<std::string>& argv, const std::vector<std::string>& environment,
    int outputFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    auto args = argv;
    auto env = mergedEnvironment(environment);
    auto argp = pointers(args);
    auto envp = pointers(env);
    pid_t pid = -1;
    const int failed =
        ::posix_spawnp(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        return std::unexpected("cannot start " + argv[0] + ": " + std::strerror(failed));
    }
    return std::unique_ptr<ProcessGroup>(new ProcessGroup(pid));
}

ProcessGroup::~ProcessGroup() {
    stop();
}

void ProcessGroup::stop(std::chrono::milliseconds grace) {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    ::kill(-pid_, SIGTERM);
    if (!reap(pid_, grace)) {
        ::kill(-pid_, SIGKILL);
        reap(pid_, std::chrono::seconds(5));
    }
    // Helpers of the leader that outlived it.
    ::kill(-pid_, SIGKILL);
}

std::expected<std::unique_ptr<SessionBus>, std::string> SessionBus::start(
    const std::vector<std::string>& environment) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return std::unexpected("cannot create a pipe");
    }
    auto daemon = ProcessGroup::start(
        {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, environment,
        fds[1]);
    ::close(fds[1]);
    if (!daemon) {
        ::close(fds[0]);
        return std::unexpected(daemon.error());
    }
    std::string address;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (address.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buffer[512];
        const auto n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        address.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (address.find('\n') == std::string::npos) {
        return std::unexpected("the session bus did not tell its address");
    }
    auto bus = std::make_unique<SessionBus>();
    bus->daemon_ = std::move(*daemon);
    bus->address_ = address.substr(0, address.find('\n'));
    return bus;
}

std::expected<std::unique_ptr<LoopbackHTTPServer>, std::string> LoopbackHTTPServer::start(
    std::map<std::string, std::string> pages) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return std::unexpected("cannot listen on 127.0.0.1");
    }
    return std::unique_ptr<LoopbackHTTPServer>(
        new LoopbackHTTPServer(fd, ntohs(address.sin_port), std::move(pages)));
}

LoopbackHTTPServer::LoopbackHTTPServer(int fd, int port, std::map<std::string, std::string> pages)
    : fd_(fd), port_(port), pages_(std::move(pages)) {
    thread_ = std::thread([this] { serve(); });
}

LoopbackHTTPServer::~LoopbackHTTPServer() {
    stopping_ = true;
    thread_.join();
    ::close(fd_);
}

void LoopbackHTTPServer::serve() {
    while (!stopping_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        std::string request;
        char buffer[2048];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            pollfd c{client, POLLIN, 0};
            if (::poll(&c, 1, 2000) <= 0) {
                break;
            }
            const auto n = ::read(client, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            request.append(buffer, static_cast<std::size_t>(n));
        }
        // "GET /path HTTP/1.1"
        const auto first = request.find(' ');
        const auto second = request.find(' ', first + 1);
        const std::string path = first == std::string::npos || second == std::string::npos
                                     ? ""
                                     : request.substr(first + 1, second - first - 1);
        const auto page = pages_.find(path);
        const std::string body = page == pages_.end() ? "not found" : page->second;
        const std::string response =
            std::string(page == pages_.end() ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK") +
            "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
            "Connection: close\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body;
        std::size_t sent = 0;
        while (sent < response.size()) {
            const auto n =
                ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        ::close(client);
    }
}

bool runQuietly(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                const std::vector<std::string>& environment) {
    auto child = ProcessGroup::start(argv, environment);
    if (!child) {
        return false;
    }
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid((*child)->pid(), &status, WNOHANG) == (*child)->pid()) {
            (*child)->stop();
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace tesvano::test

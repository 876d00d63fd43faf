#include "tests/support/XvfbServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

namespace tesvano::test {

namespace {

// Waits for the child to end, at most `timeout`; answers whether it was reaped.
bool reap(pid_t pid, std::chrono::milliseconds timeout) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(timeout.count()));
        ::close(pidfd);
    }
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

void stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    if (!reap(pid, std::chrono::seconds(5))) {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
}

}  // namespace

std::string XvfbServer::executable() {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        const std::filesystem::path candidate =
            std::filesystem::path(dirs.substr(0, colon)) / "Xvfb";
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    }
    return {};
}

std::expected<std::unique_ptr<XvfbServer>, std::string> XvfbServer::start(
    std::chrono::milliseconds timeout, const std::string& screen) {
    const std::string program = executable();
    if (program.empty()) {
        return std::unexpected("Xvfb is not installed");
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return std::unexpected("pipe failed");
    }
    const std::string displayFd = std::to_string(fds[1]);
    // Xvfb writes the display number it chose to -displayfd once it accepts connections.
    std::vector<std::string> args = {program,    "-displayfd", displayFd, "-nolisten", "tcp",
                                     "-noreset", "-screen",    "0",       screen};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return std::unexpected("fork failed");
    }
    if (pid == 0) {
        ::fcntl(fds[1], F_SETFD, 0);
        const int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);

    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool complete = false;
    while (!complete) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[32];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;  // Xvfb ended before it reported a display
        }
        number.append(buffer, static_cast<std::size_t>(n));
        complete = number.find('\n') != std::string::npos;
    }
    ::close(fds[0]);
    if (!complete) {
        stop(pid);
        return std::unexpected("Xvfb did not report a display");
    }
    number.erase(number.find('\n'));
    return std::unique_ptr<XvfbServer>(new XvfbServer(pid, ":" + number));
}

XvfbServer::~XvfbServer() {
    stop(pid_);
}

bool waitUntil(const std::function<void()>& pump, const std::function<bool()>& done,
               std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        pump();
    }
    return true;
}

bool windowManagerRuns(const std::string& displayName, std::chrono::milliseconds timeout) {
    Display* display = XOpenDisplay(displayName.c_str());
    if (!display) {
        return false;
    }
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool found = false;
    while (!found && std::chrono::steady_clock::now() < deadline) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False,
                                   AnyPropertyType, &type, &format, &count, &remaining,
                                   &data) == Success &&
                count > 0;
        if (data) {
            XFree(data);
        }
        if (!found) {
            ::poll(nullptr, 0, 50);
        }
    }
    XCloseDisplay(display);
    return found;
}

}  // namespace tesvano::test

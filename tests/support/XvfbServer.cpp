#include "tests/support/XvfbServer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <vector>

#include "tests/support/ChildProcess.h"

namespace tesvano::test {

std::string XvfbServer::executable() {
    return programPath("Xvfb");
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
        terminateAndReap(pid);
        return std::unexpected("Xvfb did not report a display");
    }
    number.erase(number.find('\n'));
    return std::unique_ptr<XvfbServer>(new XvfbServer(pid, ":" + number));
}

XvfbServer::~XvfbServer() {
    terminateAndReap(pid_);
}

bool windowManagerRuns(const std::string& displayName, std::chrono::milliseconds timeout) {
    Display* display = XOpenDisplay(displayName.c_str());
    if (!display) {
        return false;
    }
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    const bool found = waitUntil(
        every(std::chrono::milliseconds(50)),
        [&] {
            Atom type = 0;
            int format = 0;
            unsigned long count = 0;
            unsigned long remaining = 0;
            unsigned char* data = nullptr;
            const bool announced = XGetWindowProperty(display, DefaultRootWindow(display), check, 0,
                                                      1, False, AnyPropertyType, &type, &format,
                                                      &count, &remaining, &data) == Success &&
                                   count > 0;
            if (data) {
                XFree(data);
            }
            return announced;
        },
        timeout);
    XCloseDisplay(display);
    return found;
}

}  // namespace tesvano::test

#include "Tesvano/App/BackgroundLaunch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tesvano {

namespace {

// How long the started process waits for the child before it gives up on it.
constexpr int kWaitMilliseconds = 60'000;

// Waits for the child's byte; the started process's exit status.
int waitForChild(int fd) {
    pollfd p{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&p, 1, kWaitMilliseconds);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        std::fputs("tesvano: Tesvano did not take the commands in time\n", stderr);
        return 1;
    }
    char byte = 0;
    ssize_t n = 0;
    do {
        n = ::read(fd, &byte, 1);
    } while (n < 0 && errno == EINTR);
    // Nothing read: the child ended first, and said why on standard error.
    return n == 1 ? 0 : 1;
}

}  // namespace

BackgroundLaunch BackgroundLaunch::detach() {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return BackgroundLaunch(-1);
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipe[0]);
        ::close(pipe[1]);
        return BackgroundLaunch(-1);
    }
    if (child > 0) {
        ::close(pipe[1]);
        std::fflush(stdout);
        // No destructor runs here: the locks and the socket folder are the child's now.
        ::_exit(waitForChild(pipe[0]));
    }
    ::close(pipe[0]);
    // The opener's terminal or session ending does not end us.
    ::setsid();
    if (const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC); in >= 0) {
        ::dup2(in, STDIN_FILENO);
        ::close(in);
    }
    return BackgroundLaunch(pipe[1]);
}

BackgroundLaunch::~BackgroundLaunch() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void BackgroundLaunch::taken() {
    if (fd_ < 0) {
        return;
    }
    // A caller that reads our output to its end would wait for us otherwise.
    std::fflush(stdout);
    std::fflush(stderr);
    if (const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC); null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        const char* sink = std::getenv("TESVANO_LOG");
        if (!sink || std::string_view(sink) != "stderr") {
            ::dup2(null, STDERR_FILENO);
        }
        ::close(null);
    }
    const char byte = 1;
    (void)!::write(fd_, &byte, 1);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace tesvano

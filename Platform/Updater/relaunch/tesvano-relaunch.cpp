// The relaunch step of an update, started detached by the version that installed it:
//   tesvano-relaunch ROOT PID PROBATION-SECONDS -- ARGUMENTS...
// Waits for process PID (the old version) to end, then starts ROOT/current/bin/tesvano with
// ARGUMENTS and watches that start. Only one step acts at a time; another waits its turn.
//
// The new version failed, and is rolled back (`current` points at the previous version again,
// the failed build is noted and the previous version is started with the same arguments),
// when it cannot be executed, when it ends before it confirmed its start with a non-zero
// status or by a signal of its own fault (a crash or an abort) while its display is still
// there, or when it does not confirm within PROBATION-SECONDS. It did not fail when it ends
// with status 0 (it handed its arguments to a copy that already runs, or was quit), when it is
// ended from outside (SIGTERM, SIGKILL, SIGHUP, SIGINT…), or when its X display went away (a
// log-out: the server hung up this step's own connection, or takes none): then its start is not
// counted against it and the pending switch waits for the version's next start, which confirms or
// rolls back by itself. The version judges its own end the same way (judgeStartEnd) when no step
// watches it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Log/Log.h"
#include "Platform/Updater/Installation.h"

// Last: Xlib's macros (Bool, Status) would break what comes after.
#include <X11/Xlib.h>

extern char** environ;

namespace {

using tesvano::platform::Installation;
using Clock = std::chrono::steady_clock;

const tesvano::platform::Logger& log() {
    static const tesvano::platform::Logger logger("Updater");
    return logger;
}

void nap() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// Until `pid` has ended (it is not our child). Gives up after `limit`.
bool waitForEnd(pid_t pid, std::chrono::seconds limit) {
    const auto until = Clock::now() + limit;
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd fd{pidfd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        const int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        ::close(pidfd);
        return ready > 0;
    }
    while (::kill(pid, 0) == 0 || errno == EPERM) {
        if (Clock::now() > until) {
            return false;
        }
        nap();
    }
    return true;
}

// A program and its arguments as execve takes them.
struct Command {
    Command(const std::string& executable, const std::vector<std::string>& arguments)
        : words{executable} {
        words.insert(words.end(), arguments.begin(), arguments.end());
        for (auto& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
    }
    std::vector<std::string> words;
    std::vector<char*> argv;
};

// Starts `executable`; an exec failure comes back through a close-on-exec pipe.
pid_t start(const std::string& executable, const std::vector<std::string>& arguments,
            std::string& failure) {
    Command command(executable, arguments);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        failure = std::strerror(errno);
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::execve(command.argv[0], command.argv.data(), environ);
        const int error = errno;
        [[maybe_unused]] const auto written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int error = 0;
    ssize_t n = 0;
    while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (child < 0) {
        failure = std::strerror(errno);
        return -1;
    }
    if (n == static_cast<ssize_t>(sizeof error)) {
        ::waitpid(child, nullptr, 0);
        failure = std::strerror(error);
        return -1;
    }
    return child;
}

[[noreturn]] void startInstead(const std::string& executable,
                               const std::vector<std::string>& arguments) {
    std::vector<std::string> words{executable};
    words.insert(words.end(), arguments.begin(), arguments.end());
    tesvano::platform::execInstead(executable, std::move(words));
    log().error("Cannot start %{public}s: %{public}s", executable, std::strerror(errno));
    std::_Exit(1);
}

volatile std::sig_atomic_t asked_to_end = 0;

[[noreturn]] void rollBack(Installation& installation, const std::string& version,
                           const std::string& why, const std::vector<std::string>& arguments) {
    log().error("Version %{public}s %{public}s; going back to the previous version", version, why);
    const auto previous = installation.rollBack(why);
    if (!previous && installation.pendingVersion() != version) {
        // Its normal end (our SIGTERM after the probation) confirmed it: it runs on.
        log().info("Version %{public}s confirmed its start as it ended", version);
        startInstead(installation.currentExecutable().string(), arguments);
    }
    if (!previous) {
        log().error("Cannot go back: %{public}s", previous.error());
        std::_Exit(1);
    }
    startInstead(installation.currentExecutable().string(), arguments);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5 || std::strcmp(argv[4], "--") != 0) {
        std::fprintf(stderr, "usage: tesvano-relaunch ROOT PID PROBATION-SECONDS -- ARGS...\n");
        return 2;
    }
    Installation installation{std::filesystem::path(argv[1])};
    const pid_t waitFor = static_cast<pid_t>(std::atol(argv[2]));
    const auto probation = std::chrono::seconds(std::max(1L, std::atol(argv[3])));
    const std::vector<std::string> arguments(argv + 5, argv + argc);
    // The session ends: no verdict; the new version's next start decides.
    struct sigaction ending {};
    ending.sa_handler = [](int) { asked_to_end = 1; };
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        ::sigaction(signal, &ending, nullptr);
    }

    if (waitFor > 0 && !waitForEnd(waitFor, std::chrono::minutes(10))) {
        log().error("The running version did not end; the new one is started at its next launch");
        return 1;
    }
    if (installation.holdRelaunchLock() < 0) {
        log().error("Cannot take the relaunch lock in %{public}s", installation.root().string());
    }
    const auto version = installation.pendingVersion();
    if (!version) {
        startInstead(installation.currentExecutable().string(), arguments);
    }
    // A connection of its own to the display: the end of the session hangs it up, which a
    // connect made once the start has ended cannot tell (a server that shuts down still takes
    // connections for a while). Closed on exec.
    if (Display* display = XOpenDisplay(nullptr)) {
        tesvano::platform::watchDisplayConnection(XConnectionNumber(display));
    }
    std::string failure;
    const pid_t child = start(installation.currentExecutable().string(), arguments, failure);
    if (child < 0) {
        rollBack(installation, *version, "cannot be started: " + failure, arguments);
    }
    const auto until = Clock::now() + probation;
    for (;;) {
        if (installation.pendingVersion() != version || asked_to_end) {
            return 0;  // confirmed, or decided elsewhere, or the session ends
        }
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            if (installation.pendingVersion() != version) {
                return 0;
            }
            // The same judgement the version makes of its own end when nothing watches it.
            const auto end = tesvano::platform::ProcessEnding::fromWaitStatus(status);
            const bool displayThere =
                !tesvano::platform::displayLost() && tesvano::platform::displayReachable();
            switch (tesvano::platform::judgeStartEnd(end, displayThere)) {
                case tesvano::platform::StartEnd::clean:
                    log().info("Version %{public}s ended before confirming, without a fault",
                               *version);
                    return 0;
                case tesvano::platform::StartEnd::fromOutside:
                    log().info(
                        "Version %{public}s %{public}s, from outside or as its session "
                        "ended; its start is not counted",
                        *version, end.describe());
                    installation.forgetStart(*version);
                    return 0;
                case tesvano::platform::StartEnd::fault:
                    break;
            }
            rollBack(installation, *version, end.describe() + " before it confirmed its start",
                     arguments);
        }
        if (Clock::now() > until) {
            ::kill(child, SIGTERM);
            bool ended = false;
            for (int i = 0; i < 100 && !ended; ++i) {
                ended = ::waitpid(child, nullptr, WNOHANG) == child;
                nap();
            }
            if (!ended) {
                ::kill(child, SIGKILL);
                ::waitpid(child, nullptr, 0);
            }
            rollBack(installation, *version, "did not confirm its start in time", arguments);
        }
        nap();
    }
}

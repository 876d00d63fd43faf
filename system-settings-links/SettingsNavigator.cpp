#include "system-settings-links/SettingsNavigator.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace SystemSettings {

std::expected<std::int32_t, std::string> launchDetached(const std::vector<std::string>& argv) {
    if (argv.empty() || argv.front().empty()) {
        return std::unexpected("no program to start");
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    // The middle process tells the grandchild's id through one pipe; the grandchild reports a
    // failed exec through the other, which a successful exec closes.
    int report[2];
    int launched[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return std::unexpected(std::string("cannot start ") + argv.front() + ": " +
                               std::strerror(errno));
    }
    if (pipe2(launched, O_CLOEXEC) != 0) {
        const int error = errno;
        close(report[0]);
        close(report[1]);
        return std::unexpected(std::string("cannot start ") + argv.front() + ": " +
                               std::strerror(error));
    }
    const pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        for (int fd : {report[0], report[1], launched[0], launched[1]}) {
            close(fd);
        }
        return std::unexpected(std::string("cannot start ") + argv.front() + ": " +
                               std::strerror(error));
    }
    if (child == 0) {
        // Its own session, and reparented to init once the middle process exits: no zombie of
        // ours, and our end does not end it.
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            execvp(args[0], args.data());
            const int error = errno;
            (void)!write(report[1], &error, sizeof error);
            _exit(127);
        }
        (void)!write(launched[1], &grandchild, sizeof grandchild);
        _exit(0);
    }
    close(report[1]);
    close(launched[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const auto readWhole = [](int fd, auto& value) {
        ssize_t n = 0;
        do {
            n = read(fd, &value, sizeof value);
        } while (n < 0 && errno == EINTR);
        close(fd);
        return n == static_cast<ssize_t>(sizeof value);
    };
    pid_t pid = -1;
    const bool told = readWhole(launched[0], pid);
    int error = 0;
    if (readWhole(report[0], error)) {
        return std::unexpected("cannot start " + argv.front() + ": " + std::strerror(error));
    }
    if (!told || pid <= 0) {
        return std::unexpected("cannot start " + argv.front() + ": the process did not start");
    }
    return static_cast<std::int32_t>(pid);
}

std::expected<std::int32_t, std::string> SettingsNavigator::open(
    const SystemSettingsDestination& destination) {
    auto started = launcher_(destination.commandLine());
    activateSystemSettings(destination.application);
    return started;
}

bool SettingsNavigator::activateSystemSettings(const SettingsApplication& application) {
    return activator_ && activator_(application);
}

}  // namespace SystemSettings

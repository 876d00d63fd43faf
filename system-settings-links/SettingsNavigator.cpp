#include "system-settings-links/SettingsNavigator.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace SystemSettings {

std::expected<void, std::string> launchDetached(const std::vector<std::string>& argv) {
    if (argv.empty() || argv.front().empty()) {
        return std::unexpected("no program to start");
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    // The grandchild reports a failed exec through this pipe; a successful exec closes it.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return std::unexpected(std::string("cannot start ") + argv.front() + ": " +
                               std::strerror(errno));
    }
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return std::unexpected(std::string("cannot start ") + argv.front() + ": " +
                               std::strerror(errno));
    }
    if (child == 0) {
        // Its own session, and reparented to init once the middle process exits: no zombie of
        // ours, and our end does not end it.
        setsid();
        if (fork() == 0) {
            execvp(args[0], args.data());
            const int error = errno;
            (void)!write(report[1], &error, sizeof error);
            _exit(127);
        }
        _exit(0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n = 0;
    do {
        n = read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    if (n == static_cast<ssize_t>(sizeof error)) {
        return std::unexpected("cannot start " + argv.front() + ": " + std::strerror(error));
    }
    return {};
}

std::expected<void, std::string> SettingsNavigator::open(
    const SystemSettingsDestination& destination) {
    auto started = launcher_(destination.commandLine());
    activateSystemSettings(destination.application);
    return started;
}

bool SettingsNavigator::activateSystemSettings(const SettingsApplication& application) {
    return activator_ && activator_(application);
}

}  // namespace SystemSettings

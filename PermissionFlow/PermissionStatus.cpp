#include "PermissionFlow/PermissionStatus.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <mutex>

#include "Platform/Accessibility/AssistiveTechnologyStatus.h"

extern char** environ;

namespace PermissionFlow {

PermissionAuthorizationState AccessibilityPermissionStatusProvider::status() const {
    const auto enabled = status_ ? status_->isEnabled() : std::nullopt;
    if (!enabled) {
        return PermissionAuthorizationState::unknown;
    }
    return *enabled ? PermissionAuthorizationState::granted
                    : PermissionAuthorizationState::notGranted;
}

PermissionAuthorizationState DevicePrivacyStatusProvider::status() const {
    const std::string key = device_ == Device::camera ? "disable-camera" : "disable-microphone";
    const auto value = reader_ ? reader_("org.gnome.desktop.privacy", key) : std::nullopt;
    if (value == "true") {
        return PermissionAuthorizationState::notGranted;
    }
    if (value == "false") {
        return PermissionAuthorizationState::granted;
    }
    return PermissionAuthorizationState::unknown;
}

std::optional<std::string> readGSetting(const std::string& schema, const std::string& key) {
    int out[2];
    if (pipe(out) != 0) {
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", 0, 0);
    std::string program = "gsettings";
    std::string get = "get";
    char* argv[] = {program.data(), get.data(), const_cast<char*>(schema.c_str()),
                    const_cast<char*>(key.c_str()), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "gsettings", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return std::nullopt;
    }
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            timedOut = true;
            break;
        }
        char buffer[256];
        const auto n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (timedOut) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

namespace PermissionStatusRegistry {

namespace {

std::mutex& lock() {
    static std::mutex m;
    return m;
}

std::map<PermissionFlowPane, std::shared_ptr<const PermissionStatusProviding>>& table() {
    static std::map<PermissionFlowPane, std::shared_ptr<const PermissionStatusProviding>> t;
    return t;
}

}  // namespace

std::shared_ptr<const PermissionStatusProviding> provider(PermissionFlowPane pane) {
    std::lock_guard guard(lock());
    if (auto it = table().find(pane); it != table().end()) {
        return it->second;
    }
    return std::make_shared<UnsupportedPermissionStatusProvider>();
}

void registerProvider(std::shared_ptr<const PermissionStatusProviding> provider,
                      PermissionFlowPane pane) {
    std::lock_guard guard(lock());
    if (provider) {
        table()[pane] = std::move(provider);
    } else {
        table().erase(pane);
    }
}

void registerAll(
    const std::map<PermissionFlowPane, std::shared_ptr<const PermissionStatusProviding>>& t) {
    for (const auto& [pane, p] : t) {
        registerProvider(p, pane);
    }
}

std::map<PermissionFlowPane, std::shared_ptr<const PermissionStatusProviding>> standardTable(
    std::shared_ptr<tesvano::platform::AssistiveTechnologyStatus> status,
    DesktopSettingReader reader) {
    auto open = std::make_shared<UnrestrictedPermissionStatusProvider>();
    using Device = DevicePrivacyStatusProvider::Device;
    return {
        {PermissionFlowPane::accessibility,
         std::make_shared<AccessibilityPermissionStatusProvider>(std::move(status))},
        {PermissionFlowPane::calendars, open},
        {PermissionFlowPane::reminders, open},
        {PermissionFlowPane::fullDiskAccess, open},
        // Every X11 client may read the keyboard and the screen.
        {PermissionFlowPane::inputMonitoring, open},
        {PermissionFlowPane::screenRecording, open},
        {PermissionFlowPane::mediaAppleMusic, open},
        {PermissionFlowPane::camera,
         std::make_shared<DevicePrivacyStatusProvider>(Device::camera, reader)},
        {PermissionFlowPane::microphone,
         std::make_shared<DevicePrivacyStatusProvider>(Device::microphone, reader)},
    };
}

}  // namespace PermissionStatusRegistry

}  // namespace PermissionFlow

#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <vector>

#include "system-settings-links/SystemSettingsDestination.h"

namespace SystemSettings {

// Starts a program that outlives us and is no child of ours: its process id, or an error text
// when it cannot be started (not installed, not executable).
using ProcessLauncher =
    std::function<std::expected<std::int32_t, std::string>(const std::vector<std::string>& argv)>;

// The real launcher: a detached process found on PATH.
std::expected<std::int32_t, std::string> launchDetached(const std::vector<std::string>& argv);

// Opens destinations in the desktop's settings program and brings it to the front.
class SettingsNavigator {
public:
    // Brings the running program's window forward; false when none runs.
    using Activator = std::function<bool(const SettingsApplication& application)>;

    explicit SettingsNavigator(ProcessLauncher launcher = launchDetached, Activator activator = {})
        : launcher_(std::move(launcher)), activator_(std::move(activator)) {}

    // Starts the program at the destination (a running one switches to it), then raises it
    // when it already has a window. The process started.
    std::expected<std::int32_t, std::string> open(const SystemSettingsDestination& destination);
    bool activateSystemSettings(const SettingsApplication& application);

private:
    ProcessLauncher launcher_;
    Activator activator_;
};

}  // namespace SystemSettings

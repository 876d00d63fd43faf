#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tesvano {

// The desktop's own list of programs started at login, where the desktop has one that a
// command opens.
namespace AutostartSettings {

// The command (program and arguments) for the first desktop of `currentDesktop` (the
// colon-separated XDG_CURRENT_DESKTOP) that this table knows, trying that desktop's programs
// in order and taking the first that `isInstalled`. None when the first known desktop has no
// such settings (GNOME), none of its programs is installed, or no desktop is known.
std::optional<std::vector<std::string>> command(
    std::string_view currentDesktop, const std::function<bool(std::string_view)>& isInstalled);

// Whether an executable of that name is found on $PATH.
bool isOnPath(std::string_view program);

}  // namespace AutostartSettings

}  // namespace tesvano

#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tesvano::LauncherOverlayCatalog {

// Launcher overlays: floating search panels that take keyboard focus without becoming the
// active application, by desktop-entry id. Their rules are filed under that id.
const std::set<std::string, std::less<>>& launcherAppIds();

// Exact, case-sensitive membership in `launcherAppIds`; a missing id gives false.
bool contains(std::optional<std::string_view> appId);

}  // namespace tesvano::LauncherOverlayCatalog

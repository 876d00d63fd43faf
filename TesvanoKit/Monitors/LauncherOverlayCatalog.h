#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tesvano::LauncherOverlayCatalog {

// Launcher overlays: floating search panels that take keyboard focus without becoming the
// frontmost application. macOS bundle identifiers and Linux desktop-entry ids.
const std::set<std::string, std::less<>>& launcherBundleIDs();

// Overlays whose rules are filed under another application's id.
const std::map<std::string, std::string, std::less<>>& overlayOwners();

// Exact, case-sensitive membership in `launcherBundleIDs`; a missing id gives false.
bool contains(std::optional<std::string_view> bundleID);

// The id under which rules are looked up while `launcher` has focus: its owner's, unless it
// has none or is itself the frontmost application.
std::string ruleBundleID(std::string_view launcher, std::optional<std::string_view> frontmost);

}  // namespace tesvano::LauncherOverlayCatalog

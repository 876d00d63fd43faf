#include "TesvanoKit/Monitors/LauncherOverlayCatalog.h"

namespace tesvano::LauncherOverlayCatalog {

const std::set<std::string, std::less<>>& launcherBundleIDs() {
    static const std::set<std::string, std::less<>> ids{
        // macOS
        "com.apple.Spotlight",
        "com.apple.campo",
        "com.raycast.macos",
        "com.runningwithcrayons.Alfred",
        "at.obdev.LaunchBar",
        // Linux desktop entries
        "org.kde.krunner",
        "ulauncher",
        "albert",
    };
    return ids;
}

const std::map<std::string, std::string, std::less<>>& overlayOwners() {
    static const std::map<std::string, std::string, std::less<>> owners{
        {"com.apple.campo", "com.apple.Spotlight"},
    };
    return owners;
}

bool contains(std::optional<std::string_view> bundleID) {
    return bundleID && launcherBundleIDs().contains(*bundleID);
}

std::string ruleBundleID(std::string_view launcher, std::optional<std::string_view> frontmost) {
    const auto owner = overlayOwners().find(launcher);
    if (owner == overlayOwners().end() || frontmost == launcher) {
        return std::string(launcher);
    }
    return owner->second;
}

}  // namespace tesvano::LauncherOverlayCatalog

#include "TesvanoKit/Monitors/LauncherOverlayCatalog.h"

namespace tesvano::LauncherOverlayCatalog {

const std::set<std::string, std::less<>>& launcherAppIds() {
    static const std::set<std::string, std::less<>> ids{
        "org.kde.krunner",
        "ulauncher",
        "albert",
    };
    return ids;
}

bool contains(std::optional<std::string_view> appId) {
    return appId && launcherAppIds().contains(*appId);
}

}  // namespace tesvano::LauncherOverlayCatalog

#include "TesvanoKit/LoginItem/AutostartSettings.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tesvano::AutostartSettings {

namespace {

struct Desktop {
    std::string_view name;  // upper case, as XDG_CURRENT_DESKTOP spells it but for case
    std::vector<std::vector<std::string>> commands;
};

const std::vector<Desktop>& desktops() {
    static const std::vector<Desktop> table{
        // Plasma 6 names its settings program systemsettings, Plasma 5 also systemsettings5.
        {"KDE", {{"systemsettings", "kcm_autostart"}, {"systemsettings5", "kcm_autostart"}}},
        {"XFCE", {{"xfce4-session-settings"}}},
        {"LXQT", {{"lxqt-config-session"}}},
        {"MATE", {{"mate-session-properties"}}},
        {"X-CINNAMON", {{"cinnamon-settings", "startup"}}},
        {"CINNAMON", {{"cinnamon-settings", "startup"}}},
        // GNOME's settings have no panel for it.
        {"GNOME", {}},
    };
    return table;
}

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

}  // namespace

std::optional<std::vector<std::string>> command(
    std::string_view currentDesktop, const std::function<bool(std::string_view)>& isInstalled) {
    std::size_t start = 0;
    while (start <= currentDesktop.size()) {
        const std::size_t end = std::min(currentDesktop.find(':', start), currentDesktop.size());
        const std::string name = upper(currentDesktop.substr(start, end - start));
        start = end + 1;
        const auto known = std::find_if(desktops().begin(), desktops().end(),
                                        [&](const Desktop& d) { return d.name == name; });
        if (known == desktops().end()) {
            continue;
        }
        for (const auto& candidate : known->commands) {
            if (isInstalled && isInstalled(candidate.front())) {
                return candidate;
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

bool isOnPath(std::string_view program) {
    if (program.empty() || program.find('/') != std::string_view::npos) {
        return false;
    }
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
        return false;
    }
    std::string_view rest(path);
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (folder.empty()) {
            continue;
        }
        const auto file = std::filesystem::path(folder) / program;
        std::error_code error;
        if (::access(file.c_str(), X_OK) == 0 && !std::filesystem::is_directory(file, error)) {
            return true;
        }
    }
    return false;
}

}  // namespace tesvano::AutostartSettings

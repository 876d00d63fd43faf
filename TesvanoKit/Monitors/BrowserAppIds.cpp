#include "TesvanoKit/Monitors/BrowserAppIds.h"

namespace tesvano::BrowserAppIds {

const IDSet& chromium() {
    static const IDSet ids{
        // Linux desktop entries: distribution and vendor packages, then Flatpak
        "chromium",
        "chromium-browser",
        "org.chromium.Chromium",
        "com.google.Chrome",
        "com.brave.Browser",
        "com.vivaldi.Vivaldi",
        "google-chrome",
        "brave-browser",
        "vivaldi-stable",
        "microsoft-edge",
        "com.microsoft.Edge",
        "opera",
        "com.opera.Opera",
        // Snap
        "chromium_chromium",
        "brave_brave",
    };
    return ids;
}

const IDSet& gecko() {
    static const IDSet ids{
        // Linux desktop entries: distribution packages, then Flatpak
        "firefox",
        "firefox-esr",
        "org.mozilla.firefox",
        // Snap (Ubuntu's default Firefox)
        "firefox_firefox",
    };
    return ids;
}

const IDSet& all() {
    static const IDSet ids = [] {
        IDSet merged = chromium();
        merged.insert(gecko().begin(), gecko().end());
        return merged;
    }();
    return ids;
}

namespace {
bool contains(const IDSet& set, std::optional<std::string_view> id) {
    return id && set.contains(*id);
}
}  // namespace

bool isBrowser(std::optional<std::string_view> appId) {
    return contains(all(), appId);
}

bool isChromium(std::optional<std::string_view> appId) {
    return contains(chromium(), appId);
}

bool isGecko(std::optional<std::string_view> appId) {
    return contains(gecko(), appId);
}

}  // namespace tesvano::BrowserAppIds

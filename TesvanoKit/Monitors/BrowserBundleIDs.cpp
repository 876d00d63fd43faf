#include "TesvanoKit/Monitors/BrowserBundleIDs.h"

namespace tesvano::BrowserBundleIDs {

const IDSet& chromium() {
    static const IDSet ids{
        // macOS
        "com.google.Chrome",
        "com.google.Chrome.canary",
        "com.microsoft.edgemac",
        "company.thebrowser.Browser",
        "com.brave.Browser",  // also Brave's Flatpak id
        "com.operasoftware.Opera",
        "com.vivaldi.Vivaldi",  // also Vivaldi's Flatpak id
        // Linux desktop entries: distribution and vendor packages, then Flatpak
        "chromium",
        "chromium-browser",
        "org.chromium.Chromium",
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
        // macOS
        "org.mozilla.firefox",  // also Firefox's Flatpak id
        "org.mozilla.firefoxdeveloperedition",
        "org.mozilla.nightly",
        "app.zen-browser.zen",
        "app.floorp.Floorp",
        "net.waterfox.waterfox",
        "io.gitlab.librewolf-community.librewolf",
        "org.torproject.torbrowser",
        "net.mullvad.mullvadbrowser",
        // Linux desktop entries
        "firefox",
        "firefox-esr",
        // Snap (Ubuntu's default Firefox)
        "firefox_firefox",
    };
    return ids;
}

const IDSet& all() {
    static const IDSet ids = [] {
        IDSet merged = chromium();
        merged.insert(gecko().begin(), gecko().end());
        merged.insert("com.apple.Safari");
        merged.insert("com.apple.SafariTechnologyPreview");
        return merged;
    }();
    return ids;
}

namespace {
bool contains(const IDSet& set, std::optional<std::string_view> id) {
    return id && set.contains(*id);
}
}  // namespace

bool isBrowser(std::optional<std::string_view> bundleID) {
    return contains(all(), bundleID);
}

bool isChromium(std::optional<std::string_view> bundleID) {
    return contains(chromium(), bundleID);
}

bool isGecko(std::optional<std::string_view> bundleID) {
    return contains(gecko(), bundleID);
}

}  // namespace tesvano::BrowserBundleIDs

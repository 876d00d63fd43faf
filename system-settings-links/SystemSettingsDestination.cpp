#include "system-settings-links/SystemSettingsDestination.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace SystemSettings {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The places of a desktop other than its privacy lists.
enum class Place {
    privacyList,  // the list of the row's anchor
    privacyOverview,
    wallpaper,
    displays,
    bluetooth,
    loginItems,
    extensions,
    wifi,
    vpn,
    accessibility,
};

struct Row {
    Desktop desktop;
    Place place;
    std::optional<PrivacyAnchor> anchor;
    SettingsApplication application;
    std::vector<std::string> arguments;
    AccessGrant grant = AccessGrant::none;
};

const SettingsApplication gnomeSettings{"org.gnome.Settings", "gnome-control-center"};
const SettingsApplication gnomeExtensions{"org.gnome.Extensions", "gnome-extensions-app"};
const SettingsApplication kdeSettings{"systemsettings", "systemsettings"};
const SettingsApplication cinnamonSettings{"cinnamon-settings", "cinnamon-settings"};
const SettingsApplication xfceAccessibility{"xfce4-accessibility-settings",
                                            "xfce4-accessibility-settings"};
const SettingsApplication mateAccessibility{"mate-at-properties", "mate-at-properties"};
// Xfce's and MATE's settings list the tools of Bluetooth and NetworkManager as their own;
// Cinnamon's opens Blueman's for Bluetooth (its "bluetooth" module is Mint's tool, which
// Debian does not ship).
const SettingsApplication bluetoothManager{"blueman-manager", "blueman-manager"};
const SettingsApplication networkConnections{"nm-connection-editor", "nm-connection-editor"};

// Each desktop's settings program and the argument that opens a panel of it, as Debian 12
// ships them: gnome-control-center 43 (whose privacy panels stand in a list of their own,
// with no overview page and no connectivity check; the lock is on its Screen panel), Plasma
// 5.27's modules, Cinnamon 5.6's modules, Xfce 4.18's and MATE 1.26's tools. A place a
// desktop does not show has no row.
//
// No desktop keeps a list of applications allowed to read others: GNOME's, KDE's and
// Cinnamon's accessibility panels have features (a screen reader, zoom) but no switch for
// assistive technologies as such; Xfce's and MATE's have one, read at login.
const std::vector<Row>& rows() {
    using A = PrivacyAnchor;
    using D = Desktop;
    using P = Place;
    constexpr auto AT = AccessGrant::assistiveTechnologies;
    static const std::vector<Row> table{
        {D::gnome, P::privacyList, A::accessibility, gnomeSettings, {"universal-access"}},
        {D::gnome, P::privacyList, A::camera, gnomeSettings, {"camera"}},
        {D::gnome, P::privacyList, A::microphone, gnomeSettings, {"microphone"}},
        {D::gnome, P::privacyList, A::location, gnomeSettings, {"location"}},
        {D::gnome, P::privacyList, A::screenLock, gnomeSettings, {"screen"}},
        {D::gnome, P::privacyList, A::fileHistory, gnomeSettings, {"usage"}},
        {D::gnome, P::privacyList, A::diagnostics, gnomeSettings, {"diagnostics"}},
        {D::gnome, P::privacyList, A::thunderbolt, gnomeSettings, {"thunderbolt"}},
        {D::gnome, P::wallpaper, {}, gnomeSettings, {"background"}},
        {D::gnome, P::displays, {}, gnomeSettings, {"display"}},
        {D::gnome, P::bluetooth, {}, gnomeSettings, {"bluetooth"}},
        {D::gnome, P::extensions, {}, gnomeExtensions, {}},
        {D::gnome, P::wifi, {}, gnomeSettings, {"wifi"}},
        {D::gnome, P::vpn, {}, gnomeSettings, {"network"}},
        {D::gnome, P::accessibility, {}, gnomeSettings, {"universal-access"}},

        {D::kde, P::privacyList, A::accessibility, kdeSettings, {"kcm_access"}},
        {D::kde, P::privacyList, A::screenLock, kdeSettings, {"kcm_screenlocker"}},
        {D::kde, P::privacyList, A::fileHistory, kdeSettings, {"kcm_recentFiles"}},
        {D::kde, P::privacyList, A::diagnostics, kdeSettings, {"kcm_feedback"}},
        {D::kde, P::privacyList, A::thunderbolt, kdeSettings, {"kcm_bolt"}},
        {D::kde, P::displays, {}, kdeSettings, {"kcm_kscreen"}},
        {D::kde, P::bluetooth, {}, kdeSettings, {"kcm_bluetooth"}},
        {D::kde, P::loginItems, {}, kdeSettings, {"kcm_autostart"}},
        {D::kde, P::wifi, {}, kdeSettings, {"kcm_networkmanagement"}},
        {D::kde, P::vpn, {}, kdeSettings, {"kcm_networkmanagement"}},
        {D::kde, P::accessibility, {}, kdeSettings, {"kcm_access"}},

        // Cinnamon's privacy module holds both the recent files and the connectivity check;
        // the lock is in its screensaver module.
        {D::cinnamon, P::privacyList, A::accessibility, cinnamonSettings, {"universal-access"}},
        {D::cinnamon, P::privacyList, A::screenLock, cinnamonSettings, {"screensaver"}},
        {D::cinnamon, P::privacyList, A::fileHistory, cinnamonSettings, {"privacy"}},
        {D::cinnamon, P::privacyList, A::connectivity, cinnamonSettings, {"privacy"}},
        {D::cinnamon, P::privacyOverview, {}, cinnamonSettings, {"privacy"}},
        {D::cinnamon, P::wallpaper, {}, cinnamonSettings, {"backgrounds"}},
        {D::cinnamon, P::displays, {}, cinnamonSettings, {"display"}},
        {D::cinnamon, P::bluetooth, {}, bluetoothManager, {}},
        {D::cinnamon, P::loginItems, {}, cinnamonSettings, {"startup"}},
        {D::cinnamon, P::extensions, {}, cinnamonSettings, {"extensions"}},
        {D::cinnamon, P::wifi, {}, cinnamonSettings, {"network"}},
        {D::cinnamon, P::vpn, {}, cinnamonSettings, {"network"}},
        {D::cinnamon, P::accessibility, {}, cinnamonSettings, {"universal-access"}},

        {D::xfce, P::privacyList, A::accessibility, xfceAccessibility, {}, AT},
        {D::xfce, P::wallpaper, {}, {"xfce-backdrop-settings", "xfdesktop-settings"}, {}},
        {D::xfce, P::displays, {}, {"xfce-display-settings", "xfce4-display-settings"}, {}},
        {D::xfce, P::bluetooth, {}, bluetoothManager, {}},
        {D::xfce, P::loginItems, {}, {"xfce-session-settings", "xfce4-session-settings"}, {}},
        {D::xfce, P::wifi, {}, networkConnections, {}},
        {D::xfce, P::vpn, {}, networkConnections, {}},
        {D::xfce, P::accessibility, {}, xfceAccessibility, {}, AT},

        {D::mate, P::privacyList, A::accessibility, mateAccessibility, {}, AT},
        {D::mate,
         P::privacyList,
         A::screenLock,
         {"mate-screensaver-preferences", "mate-screensaver-preferences"},
         {}},
        {D::mate,
         P::wallpaper,
         {},
         {"mate-appearance-properties", "mate-appearance-properties"},
         {"--show-page=background"}},
        {D::mate, P::displays, {}, {"mate-display-properties", "mate-display-properties"}, {}},
        {D::mate, P::bluetooth, {}, bluetoothManager, {}},
        {D::mate, P::loginItems, {}, {"mate-session-properties", "mate-session-properties"}, {}},
        {D::mate, P::wifi, {}, networkConnections, {}},
        {D::mate, P::vpn, {}, networkConnections, {}},
        {D::mate, P::accessibility, {}, mateAccessibility, {}, AT},
    };
    return table;
}

std::optional<SystemSettingsDestination> lookup(Desktop desktop, Place place,
                                                std::optional<PrivacyAnchor> anchor = {}) {
    for (const auto& row : rows()) {
        if (row.desktop == desktop && row.place == place && row.anchor == anchor) {
            std::optional<std::string> pane;
            if (!row.arguments.empty()) {
                pane = row.arguments.front();
            }
            return SystemSettingsDestination{row.application, row.arguments, pane, anchor,
                                             row.grant};
        }
    }
    return std::nullopt;
}

}  // namespace

Desktop desktopFromEnvironment(std::string_view xdgCurrentDesktop) {
    std::string_view rest = xdgCurrentDesktop;
    while (!rest.empty()) {
        auto colon = rest.find(':');
        auto name = lower(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        if (name == "gnome" || name == "gnome-classic" || name == "gnome-flashback") {
            return Desktop::gnome;
        }
        if (name == "kde") {
            return Desktop::kde;
        }
        if (name == "x-cinnamon" || name == "cinnamon") {
            return Desktop::cinnamon;
        }
        if (name == "xfce") {
            return Desktop::xfce;
        }
        if (name == "mate") {
            return Desktop::mate;
        }
    }
    return Desktop::unknown;
}

std::string_view desktopName(Desktop desktop) {
    switch (desktop) {
        case Desktop::gnome:
            return "GNOME";
        case Desktop::kde:
            return "KDE";
        case Desktop::cinnamon:
            return "Cinnamon";
        case Desktop::xfce:
            return "Xfce";
        case Desktop::mate:
            return "MATE";
        case Desktop::unknown:
            break;
    }
    return "unknown";
}

std::string_view anchorName(PrivacyAnchor anchor) {
    switch (anchor) {
        case PrivacyAnchor::accessibility:
            return "accessibility";
        case PrivacyAnchor::camera:
            return "camera";
        case PrivacyAnchor::microphone:
            return "microphone";
        case PrivacyAnchor::location:
            return "location";
        case PrivacyAnchor::screenLock:
            return "screenLock";
        case PrivacyAnchor::fileHistory:
            return "fileHistory";
        case PrivacyAnchor::diagnostics:
            return "diagnostics";
        case PrivacyAnchor::thunderbolt:
            return "thunderbolt";
        case PrivacyAnchor::connectivity:
            return "connectivity";
    }
    return "unknown";
}

std::vector<std::string> SystemSettingsDestination::commandLine() const {
    std::vector<std::string> line{application.executable};
    line.insert(line.end(), arguments.begin(), arguments.end());
    return line;
}

Catalogue Catalogue::current() {
    const char* value = std::getenv("XDG_CURRENT_DESKTOP");
    return Catalogue(desktopFromEnvironment(value ? value : ""));
}

std::optional<SettingsApplication> Catalogue::settingsApplication() const {
    switch (desktop_) {
        case Desktop::gnome:
            return gnomeSettings;
        case Desktop::kde:
            return kdeSettings;
        case Desktop::cinnamon:
            return cinnamonSettings;
        case Desktop::xfce:
            return SettingsApplication{"xfce-settings-manager", "xfce4-settings-manager"};
        case Desktop::mate:
            return SettingsApplication{"matecc", "mate-control-center"};
        case Desktop::unknown:
            break;
    }
    return std::nullopt;
}

std::optional<SystemSettingsDestination> Catalogue::privacy(PrivacyAnchor anchor) const {
    return lookup(desktop_, Place::privacyList, anchor);
}

std::optional<SystemSettingsDestination> Catalogue::privacyOverview() const {
    return lookup(desktop_, Place::privacyOverview);
}
std::optional<SystemSettingsDestination> Catalogue::wallpaper() const {
    return lookup(desktop_, Place::wallpaper);
}
std::optional<SystemSettingsDestination> Catalogue::displays() const {
    return lookup(desktop_, Place::displays);
}
std::optional<SystemSettingsDestination> Catalogue::bluetooth() const {
    return lookup(desktop_, Place::bluetooth);
}
std::optional<SystemSettingsDestination> Catalogue::loginItems() const {
    return lookup(desktop_, Place::loginItems);
}
std::optional<SystemSettingsDestination> Catalogue::extensions() const {
    return lookup(desktop_, Place::extensions);
}
std::optional<SystemSettingsDestination> Catalogue::wifi() const {
    return lookup(desktop_, Place::wifi);
}
std::optional<SystemSettingsDestination> Catalogue::vpn() const {
    return lookup(desktop_, Place::vpn);
}
std::optional<SystemSettingsDestination> Catalogue::accessibility() const {
    return lookup(desktop_, Place::accessibility);
}

}  // namespace SystemSettings

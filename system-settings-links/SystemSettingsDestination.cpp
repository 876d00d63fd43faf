#include "system-settings-links/SystemSettingsDestination.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

namespace SystemSettings {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

constexpr std::array<std::pair<PrivacySecurityAnchor, std::string_view>, 34> anchorNames{{
    {PrivacySecurityAnchor::advanced, "Advanced"},
    {PrivacySecurityAnchor::fileVault, "FileVault"},
    {PrivacySecurityAnchor::locationAccessReport, "Location_Access_Report"},
    {PrivacySecurityAnchor::lockdownMode, "LockdownMode"},
    {PrivacySecurityAnchor::privacyAccessibility, "Privacy_Accessibility"},
    {PrivacySecurityAnchor::privacyAdvertising, "Privacy_Advertising"},
    {PrivacySecurityAnchor::privacyAllFiles, "Privacy_AllFiles"},
    {PrivacySecurityAnchor::privacyAnalytics, "Privacy_Analytics"},
    {PrivacySecurityAnchor::privacyAppBundles, "Privacy_AppBundles"},
    {PrivacySecurityAnchor::privacyAudioCapture, "Privacy_AudioCapture"},
    {PrivacySecurityAnchor::privacyAutomation, "Privacy_Automation"},
    {PrivacySecurityAnchor::privacyBluetooth, "Privacy_Bluetooth"},
    {PrivacySecurityAnchor::privacyCalendars, "Privacy_Calendars"},
    {PrivacySecurityAnchor::privacyCamera, "Privacy_Camera"},
    {PrivacySecurityAnchor::privacyContacts, "Privacy_Contacts"},
    {PrivacySecurityAnchor::privacyDevTools, "Privacy_DevTools"},
    {PrivacySecurityAnchor::privacyFilesAndFolders, "Privacy_FilesAndFolders"},
    {PrivacySecurityAnchor::privacyFocus, "Privacy_Focus"},
    {PrivacySecurityAnchor::privacyHomeKit, "Privacy_HomeKit"},
    {PrivacySecurityAnchor::privacyListenEvent, "Privacy_ListenEvent"},
    {PrivacySecurityAnchor::privacyLocationServices, "Privacy_LocationServices"},
    {PrivacySecurityAnchor::privacyMedia, "Privacy_Media"},
    {PrivacySecurityAnchor::privacyMicrophone, "Privacy_Microphone"},
    {PrivacySecurityAnchor::privacyMotion, "Privacy_Motion"},
    {PrivacySecurityAnchor::privacyNudityDetection, "Privacy_NudityDetection"},
    {PrivacySecurityAnchor::privacyPasskeyAccess, "Privacy_PasskeyAccess"},
    {PrivacySecurityAnchor::privacyPhotos, "Privacy_Photos"},
    {PrivacySecurityAnchor::privacyReminders, "Privacy_Reminders"},
    {PrivacySecurityAnchor::privacyRemoteDesktop, "Privacy_RemoteDesktop"},
    {PrivacySecurityAnchor::privacyScreenCapture, "Privacy_ScreenCapture"},
    {PrivacySecurityAnchor::privacySpeechRecognition, "Privacy_SpeechRecognition"},
    {PrivacySecurityAnchor::privacySystemServices, "Privacy_SystemServices"},
    {PrivacySecurityAnchor::security, "Security"},
    {PrivacySecurityAnchor::securityImprovements, "SecurityImprovements"},
}};

// The places a desktop can show. `privacy` is the privacy overview; the anchored places are
// the privacy lists a permission lives in.
enum class Place {
    privacy,
    privacyAccessibility,
    privacyCamera,
    privacyMicrophone,
    privacyLocation,
    wallpaper,
    displays,
    bluetooth,
    loginItems,
    wifi,
    vpn,
    accessibility,
};

struct Row {
    Desktop desktop;
    Place place;
    SettingsApplication application;
    std::vector<std::string> arguments;
    AccessGrant grant = AccessGrant::none;
};

const SettingsApplication gnomeSettings{"org.gnome.Settings", "gnome-control-center"};
const SettingsApplication kdeSettings{"systemsettings", "systemsettings"};
const SettingsApplication cinnamonSettings{"cinnamon-settings", "cinnamon-settings"};

// Each desktop's settings program and the argument that opens a panel of it. Xfce and MATE
// show each place in a tool of its own.
const std::vector<Row>& rows() {
    static const std::vector<Row> table = [] {
        std::vector<Row> t;
        auto add = [&t](Desktop d, Place p, const SettingsApplication& a,
                        std::vector<std::string> args) {
            t.push_back({d, p, a, std::move(args), AccessGrant::none});
        };
        using D = Desktop;
        using P = Place;
        for (auto [place, panel] : std::initializer_list<std::pair<Place, const char*>>{
                 {P::privacy, "privacy"},
                 {P::privacyAccessibility, "universal-access"},
                 {P::privacyCamera, "camera"},
                 {P::privacyMicrophone, "microphone"},
                 {P::privacyLocation, "location"},
                 {P::wallpaper, "background"},
                 {P::displays, "display"},
                 {P::bluetooth, "bluetooth"},
                 {P::wifi, "wifi"},
                 {P::vpn, "network"},
                 {P::accessibility, "universal-access"}}) {
            add(D::gnome, place, gnomeSettings, {panel});
        }
        for (auto [place, module] : std::initializer_list<std::pair<Place, const char*>>{
                 {P::privacyAccessibility, "kcmaccess"},
                 {P::displays, "kcm_kscreen"},
                 {P::bluetooth, "kcm_bluetooth"},
                 {P::loginItems, "kcm_autostart"},
                 {P::wifi, "kcm_networkmanagement"},
                 {P::vpn, "kcm_networkmanagement"},
                 {P::accessibility, "kcmaccess"}}) {
            add(D::kde, place, kdeSettings, {module});
        }
        for (auto [place, module] : std::initializer_list<std::pair<Place, const char*>>{
                 {P::privacy, "privacy"},
                 {P::privacyAccessibility, "universal-access"},
                 {P::wallpaper, "backgrounds"},
                 {P::displays, "display"},
                 {P::loginItems, "startup"},
                 {P::wifi, "network"},
                 {P::vpn, "network"},
                 {P::accessibility, "universal-access"}}) {
            add(D::cinnamon, place, cinnamonSettings, {module});
        }
        const SettingsApplication xfceAccessibility{"xfce4-accessibility-settings",
                                                    "xfce4-accessibility-settings"};
        add(D::xfce, P::privacyAccessibility, xfceAccessibility, {});
        add(D::xfce, P::accessibility, xfceAccessibility, {});
        add(D::xfce, P::displays, {"xfce-display-settings", "xfce4-display-settings"}, {});
        add(D::xfce, P::wallpaper, {"xfce-backdrop-settings", "xfdesktop-settings"}, {});
        add(D::xfce, P::loginItems, {"xfce-session-settings", "xfce4-session-settings"}, {});
        // MATE's assistive-technology tool has the switch that turns them on.
        const SettingsApplication mateAccessibility{"mate-at-properties", "mate-at-properties"};
        add(D::mate, P::privacyAccessibility, mateAccessibility, {});
        add(D::mate, P::accessibility, mateAccessibility, {});
        // No desktop keeps a list of applications allowed to read others: GNOME's, KDE's and
        // Cinnamon's accessibility panels have features (a screen reader, zoom) but no switch
        // for assistive technologies as such; Xfce's and MATE's have one, read at login.
        for (auto& row : t) {
            const bool accessibility =
                row.place == P::privacyAccessibility || row.place == P::accessibility;
            if (accessibility && (row.desktop == D::xfce || row.desktop == D::mate)) {
                row.grant = AccessGrant::assistiveTechnologies;
            }
        }
        add(D::mate, P::displays, {"mate-display-properties", "mate-display-properties"}, {});
        add(D::mate, P::wallpaper, {"mate-appearance-properties", "mate-appearance-properties"},
            {"--show-page=background"});
        add(D::mate, P::loginItems, {"mate-session-properties", "mate-session-properties"}, {});
        return t;
    }();
    return table;
}

std::optional<SystemSettingsDestination> lookup(Desktop desktop, Place place,
                                                std::optional<std::string> anchor = {}) {
    for (const auto& row : rows()) {
        if (row.desktop == desktop && row.place == place) {
            std::optional<std::string> pane;
            if (!row.arguments.empty()) {
                pane = row.arguments.front();
            }
            return SystemSettingsDestination{row.application, row.arguments, pane,
                                             std::move(anchor), row.grant};
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

std::vector<std::string> SystemSettingsDestination::commandLine() const {
    std::vector<std::string> line{application.executable};
    line.insert(line.end(), arguments.begin(), arguments.end());
    return line;
}

std::string_view rawValue(PrivacySecurityAnchor anchor) {
    for (const auto& [a, name] : anchorNames) {
        if (a == anchor) {
            return name;
        }
    }
    return {};
}

std::optional<PrivacySecurityAnchor> privacySecurityAnchor(std::string_view raw) {
    for (const auto& [a, name] : anchorNames) {
        if (name == raw) {
            return a;
        }
    }
    return std::nullopt;
}

const std::array<PrivacySecurityAnchor, 34>& allPrivacySecurityAnchors() {
    static const auto all = [] {
        std::array<PrivacySecurityAnchor, 34> out{};
        for (std::size_t i = 0; i < anchorNames.size(); ++i) {
            out[i] = anchorNames[i].first;
        }
        return out;
    }();
    return all;
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

std::optional<SystemSettingsDestination> Catalogue::privacySecurity() const {
    return lookup(desktop_, Place::privacy);
}

std::optional<SystemSettingsDestination> Catalogue::privacySecurity(
    PrivacySecurityAnchor anchor) const {
    std::optional<Place> place;
    switch (anchor) {
        case PrivacySecurityAnchor::privacyAccessibility:
            place = Place::privacyAccessibility;
            break;
        case PrivacySecurityAnchor::privacyCamera:
            place = Place::privacyCamera;
            break;
        case PrivacySecurityAnchor::privacyMicrophone:
        case PrivacySecurityAnchor::privacyAudioCapture:
            place = Place::privacyMicrophone;
            break;
        case PrivacySecurityAnchor::privacyLocationServices:
            place = Place::privacyLocation;
            break;
        default:
            break;
    }
    // A list the desktop does not have: none, rather than a page that does not show it.
    if (!place) {
        return std::nullopt;
    }
    return lookup(desktop_, *place, std::string(rawValue(anchor)));
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

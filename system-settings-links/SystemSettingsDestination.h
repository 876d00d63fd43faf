#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace SystemSettings {

// The desktops whose settings programs we know, read from XDG_CURRENT_DESKTOP.
enum class Desktop { gnome, kde, cinnamon, xfce, mate, unknown };

// The first desktop of the colon-separated list that we know ("ubuntu:GNOME" is GNOME).
Desktop desktopFromEnvironment(std::string_view xdgCurrentDesktop);
std::string_view desktopName(Desktop desktop);

// Who shows a destination: the program started and the desktop entry that names it, so its
// windows can be found among the running applications.
struct SettingsApplication {
    std::string appId;       // desktop-entry id
    std::string executable;  // file name of the program

    friend bool operator==(const SettingsApplication&, const SettingsApplication&) = default;
};

// What a place offers for letting a program read the windows of others.
enum class AccessGrant {
    none,                   // nothing: assistive technologies are turned on some other way
    assistiveTechnologies,  // a switch for assistive technologies, from the next login on
    applicationList,        // a list of allowed applications that takes a dropped entry
};

// A place in the desktop's settings program: the command line that opens it, and the panel
// and anchor it was built from (kept as given).
struct SystemSettingsDestination {
    SettingsApplication application;
    std::vector<std::string> arguments;
    std::optional<std::string> paneIdentifier;
    std::optional<std::string> anchor;
    AccessGrant grant = AccessGrant::none;

    // Program first, then its arguments.
    std::vector<std::string> commandLine() const;

    friend bool operator==(const SystemSettingsDestination&,
                           const SystemSettingsDestination&) = default;
};

// The privacy lists a permission can live in; the raw values name them in stored data.
enum class PrivacySecurityAnchor {
    advanced,
    fileVault,
    locationAccessReport,
    lockdownMode,
    privacyAccessibility,
    privacyAdvertising,
    privacyAllFiles,
    privacyAnalytics,
    privacyAppBundles,
    privacyAudioCapture,
    privacyAutomation,
    privacyBluetooth,
    privacyCalendars,
    privacyCamera,
    privacyContacts,
    privacyDevTools,
    privacyFilesAndFolders,
    privacyFocus,
    privacyHomeKit,
    privacyListenEvent,
    privacyLocationServices,
    privacyMedia,
    privacyMicrophone,
    privacyMotion,
    privacyNudityDetection,
    privacyPasskeyAccess,
    privacyPhotos,
    privacyReminders,
    privacyRemoteDesktop,
    privacyScreenCapture,
    privacySpeechRecognition,
    privacySystemServices,
    security,
    securityImprovements,
};

std::string_view rawValue(PrivacySecurityAnchor anchor);
// Only an exact raw value converts.
std::optional<PrivacySecurityAnchor> privacySecurityAnchor(std::string_view raw);
const std::array<PrivacySecurityAnchor, 34>& allPrivacySecurityAnchors();

// The named destinations of one desktop. A place the desktop's settings program does not
// have is none.
class Catalogue {
public:
    explicit Catalogue(Desktop desktop) : desktop_(desktop) {}
    static Catalogue current();  // from XDG_CURRENT_DESKTOP

    Desktop desktop() const { return desktop_; }
    // The program that shows most places; none on a desktop we do not know.
    std::optional<SettingsApplication> settingsApplication() const;

    std::optional<SystemSettingsDestination> privacySecurity() const;
    std::optional<SystemSettingsDestination> privacySecurity(PrivacySecurityAnchor anchor) const;
    std::optional<SystemSettingsDestination> wallpaper() const;
    std::optional<SystemSettingsDestination> displays() const;
    std::optional<SystemSettingsDestination> bluetooth() const;
    std::optional<SystemSettingsDestination> loginItems() const;
    std::optional<SystemSettingsDestination> wifi() const;
    std::optional<SystemSettingsDestination> vpn() const;
    std::optional<SystemSettingsDestination> accessibility() const;

private:
    Desktop desktop_;
};

}  // namespace SystemSettings

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

// The privacy settings a permission or a privacy question can live in, where a desktop's
// settings program shows them.
enum class PrivacyAnchor {
    accessibility,
    camera,
    microphone,
    location,
    screenLock,
    fileHistory,  // recent files and the trash kept for later
    diagnostics,  // problem reports and usage feedback sent out
    thunderbolt,
    connectivity,  // checks that the network reaches the Internet
};
inline constexpr std::array allPrivacyAnchors{
    PrivacyAnchor::accessibility, PrivacyAnchor::camera,      PrivacyAnchor::microphone,
    PrivacyAnchor::location,      PrivacyAnchor::screenLock,  PrivacyAnchor::fileHistory,
    PrivacyAnchor::diagnostics,   PrivacyAnchor::thunderbolt, PrivacyAnchor::connectivity,
};
// Its name in code, for messages.
std::string_view anchorName(PrivacyAnchor anchor);

// A place in the desktop's settings program: the command line that opens it, and the panel
// and anchor it was built from (kept as given).
struct SystemSettingsDestination {
    SettingsApplication application;
    std::vector<std::string> arguments;
    std::optional<std::string> paneIdentifier;
    std::optional<PrivacyAnchor> anchor;
    AccessGrant grant = AccessGrant::none;

    // Program first, then its arguments.
    std::vector<std::string> commandLine() const;

    friend bool operator==(const SystemSettingsDestination&,
                           const SystemSettingsDestination&) = default;
};

// The places of one desktop's settings: the privacy lists the permission guide opens, and the
// desktop's general places.
class Catalogue {
public:
    explicit Catalogue(Desktop desktop) : desktop_(desktop) {}
    static Catalogue current();  // from XDG_CURRENT_DESKTOP

    Desktop desktop() const { return desktop_; }
    // The program that shows most places; none on a desktop we do not know.
    std::optional<SettingsApplication> settingsApplication() const;
    // Where the anchor's setting is shown; none where the desktop's settings have no such
    // place.
    std::optional<SystemSettingsDestination> privacy(PrivacyAnchor anchor) const;

    // The desktop's own places, without an anchor; none where its settings have no such place.
    std::optional<SystemSettingsDestination> privacyOverview() const;
    std::optional<SystemSettingsDestination> wallpaper() const;
    std::optional<SystemSettingsDestination> displays() const;
    std::optional<SystemSettingsDestination> bluetooth() const;
    std::optional<SystemSettingsDestination> loginItems() const;  // programs started at login
    std::optional<SystemSettingsDestination> extensions() const;  // the shell's extensions
    std::optional<SystemSettingsDestination> wifi() const;
    std::optional<SystemSettingsDestination> vpn() const;
    std::optional<SystemSettingsDestination> accessibility() const;

private:
    Desktop desktop_;
};

}  // namespace SystemSettings

#pragma once

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

// The privacy settings a permission can live in, where a desktop's settings program shows
// them.
enum class PrivacyAnchor { accessibility, camera, microphone };

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

// The places of one desktop's settings that the permission guide opens.
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

private:
    Desktop desktop_;
};

}  // namespace SystemSettings

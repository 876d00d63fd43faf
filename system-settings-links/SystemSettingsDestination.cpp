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

struct Row {
    Desktop desktop;
    PrivacyAnchor anchor;
    SettingsApplication application;
    std::vector<std::string> arguments;
    AccessGrant grant = AccessGrant::none;
};

const SettingsApplication gnomeSettings{"org.gnome.Settings", "gnome-control-center"};
const SettingsApplication kdeSettings{"systemsettings", "systemsettings"};
const SettingsApplication cinnamonSettings{"cinnamon-settings", "cinnamon-settings"};
const SettingsApplication xfceAccessibility{"xfce4-accessibility-settings",
                                            "xfce4-accessibility-settings"};
const SettingsApplication mateAccessibility{"mate-at-properties", "mate-at-properties"};

// Each desktop's settings program and the argument that opens a panel of it. Xfce and MATE
// show accessibility in a tool of its own. No desktop keeps a list of applications allowed
// to read others: GNOME's, KDE's and Cinnamon's accessibility panels have features (a screen
// reader, zoom) but no switch for assistive technologies as such; Xfce's and MATE's have one,
// read at login.
const std::vector<Row>& rows() {
    using A = PrivacyAnchor;
    using D = Desktop;
    static const std::vector<Row> table{
        {D::gnome, A::accessibility, gnomeSettings, {"universal-access"}},
        {D::gnome, A::camera, gnomeSettings, {"camera"}},
        {D::gnome, A::microphone, gnomeSettings, {"microphone"}},
        {D::kde, A::accessibility, kdeSettings, {"kcmaccess"}},
        {D::cinnamon, A::accessibility, cinnamonSettings, {"universal-access"}},
        {D::xfce, A::accessibility, xfceAccessibility, {}, AccessGrant::assistiveTechnologies},
        {D::mate, A::accessibility, mateAccessibility, {}, AccessGrant::assistiveTechnologies},
    };
    return table;
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
    for (const auto& row : rows()) {
        if (row.desktop == desktop_ && row.anchor == anchor) {
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

}  // namespace SystemSettings

#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tesvano::platform {

// One installed application, as its desktop entry describes it.
struct DesktopEntry {
    // The desktop-file id: the path below the applications folder, "/" turned into "-",
    // without ".desktop" ("org.mozilla.firefox", "firefox-esr").
    std::string id;
    std::filesystem::path path;
    std::string name;
    std::optional<std::string> startupWMClass;
    // File name of the program that Exec= starts; none when Exec= starts a wrapper (a shell,
    // an interpreter, a sandbox launcher) whose name says nothing about the application.
    std::optional<std::string> executable;
    bool noDisplay = false;
    // Name[locale] values by locale ("de", "pt_BR", "sr@latin").
    std::map<std::string, std::string> localizedNames;
    // Icon= as written: a theme icon name or an absolute path.
    std::optional<std::string> icon;
    // OnlyShowIn= and NotShowIn=: desktop names ("GNOME", "KDE", "XFCE").
    std::vector<std::string> onlyShowIn;
    std::vector<std::string> notShowIn;

    // Whether a menu of a desktop known by these names ($XDG_CURRENT_DESKTOP, in order) lists
    // the entry: the first name found in OnlyShowIn= or NotShowIn= decides; when none is, an
    // entry limited by OnlyShowIn= stays out.
    bool isShownIn(const std::vector<std::string>& currentDesktops) const;
};

// The installed desktop entries, in lookup order: $XDG_DATA_HOME first, then each folder of
// $XDG_DATA_DIRS; an id found earlier hides the same id later, and a hidden entry removes it.
class DesktopEntryIndex {
public:
    DesktopEntryIndex() = default;
    explicit DesktopEntryIndex(std::vector<DesktopEntry> entries) : entries_(std::move(entries)) {}

    // The names of the running desktop, from $XDG_CURRENT_DESKTOP (colon-separated).
    static std::vector<std::string> currentDesktops();
    // The "applications" folders of the XDG data directories, in precedence order.
    static std::vector<std::filesystem::path> standardApplicationFolders();
    // Reads every *.desktop file below the folders. Unreadable files and folders are skipped.
    static DesktopEntryIndex scan(const std::vector<std::filesystem::path>& folders);
    static DesktopEntryIndex scanStandardFolders() { return scan(standardApplicationFolders()); }

    // The entry in `text`, or none when it is no application entry or it is hidden.
    static std::optional<DesktopEntry> parse(std::string id, std::string_view text);
    // The program file name that an Exec= value starts, or none for a wrapper.
    static std::optional<std::string> executableOfExec(std::string_view exec);

    const std::vector<DesktopEntry>& entries() const { return entries_; }
    const DesktopEntry* entry(std::string_view id) const;

private:
    std::vector<DesktopEntry> entries_;
};

}  // namespace tesvano::platform

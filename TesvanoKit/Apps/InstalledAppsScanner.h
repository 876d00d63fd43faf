#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "Platform/Workspace/DesktopEntryIndex.h"
#include "Platform/Workspace/Workspace.h"
#include "TesvanoKit/Apps/InstalledApp.h"
#include "TesvanoKit/Languages/SupportedLanguage.h"

// The applications offered when a rule is added: the desktop entries a menu of the current
// desktop lists, the running programs, and the launchers of the catalogue wherever their entry
// lies; one per identity, sorted by name in the interface language. Holds no state: each scan
// reads the folders afresh. Safe to run on any thread: it touches no shared object.
namespace tesvano::InstalledAppsScanner {

// Everything a scan reads besides the folders' files, gathered where it is allowed to be read
// (the running programs come from the workspace, which lives on the main thread).
struct Environment {
    std::vector<std::filesystem::path> folders;
    std::vector<std::string> currentDesktops;
    std::vector<platform::RunningApplication> running;
    SupportedLanguage language = SupportedLanguage::english;
};

// The XDG application folders, in precedence order.
std::vector<std::filesystem::path> searchFolders();

// The entry's Name[…] for the interface language, else Name=, else its file name without
// ".desktop".
std::string displayName(const platform::DesktopEntry& entry, SupportedLanguage language);

// Reads the folders and lists what the user can choose.
std::vector<InstalledApp> scan(const Environment& environment);

// The same from entries already read.
std::vector<InstalledApp> list(const platform::DesktopEntryIndex& entries,
                               const Environment& environment);

// Stable sort by name: case-insensitive, accents and script order as the language collates.
void sortByName(std::vector<InstalledApp>& apps, SupportedLanguage language);

}  // namespace tesvano::InstalledAppsScanner

#pragma once

#include <optional>
#include <string>

#include "Platform/Workspace/DesktopEntryIndex.h"

namespace tesvano::platform {

// What a window tells about the application that owns it.
struct WindowIdentityHints {
    std::optional<std::string> gtkApplicationID;     // _GTK_APPLICATION_ID
    std::optional<std::string> wmClassInstance;      // WM_CLASS, first string
    std::optional<std::string> wmClassName;          // WM_CLASS, second string
    std::optional<std::string> executablePath;       // /proc/<pid>/exe
    std::optional<std::string> kdeDesktopFile = {};  // _KDE_NET_WM_DESKTOP_FILE
};

// The desktop-entry id that stands for an application, its app id.
// The one place that decides it: by _GTK_APPLICATION_ID or _KDE_NET_WM_DESKTOP_FILE naming an
// entry, then WM_CLASS equal to an entry's StartupWMClass, then WM_CLASS equal to an entry's
// id (ignoring case), then the executable's file name equal to the program an entry's Exec=
// starts, and last the desktop file the window names even where it is not installed as an
// application (KRunner's lies among the shortcut daemon's files). None when nothing matches;
// such an application is then known by its executable's name.
std::optional<std::string> desktopEntryIdentifier(const WindowIdentityHints& hints,
                                                  const DesktopEntryIndex& entries);

}  // namespace tesvano::platform

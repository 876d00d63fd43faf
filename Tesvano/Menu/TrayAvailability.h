#pragma once

#include "Platform/Workspace/TrayHosts.h"

namespace tesvano {

// Whether a tray icon of ours would be seen. Qt counts a status-notifier watcher as a tray
// even when no host that shows items has registered with it (KDE's kded5 runs one without
// Plasma's shell): such a watcher is no tray unless an XEmbed tray is there.
bool isTrayAvailable(bool qtReportsTray, const platform::TrayHosts& hosts);

// The same with Qt's answer and the session's trays read now.
bool isTrayAvailable();

}  // namespace tesvano

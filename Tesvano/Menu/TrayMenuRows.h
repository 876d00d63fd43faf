#pragma once

#include <QKeySequence>
#include <QPointer>
#include <string>
#include <vector>

#include "Platform/Workspace/StatusNotifierItem.h"

class QAction;
class QMenu;

namespace tesvano {

// The Qt menu's visible rows as a StatusNotifier host draws them, taken from the same actions:
// label, state, check mark, key hint and icon. `actions` gets the action behind each row.
std::vector<platform::TrayMenuRow> trayMenuRows(const QMenu& menu,
                                                std::vector<QPointer<QAction>>& actions);

// The first key press of `sequence` in dbusmenu's words: the modifiers, then the key's X keysym
// name. Empty for a key that has no such name.
std::vector<std::string> dbusMenuKeys(const QKeySequence& sequence);

}  // namespace tesvano

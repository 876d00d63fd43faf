#pragma once

#include <QColor>
#include <QKeySequence>
#include <QPointer>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Workspace/StatusNotifierItem.h"

class QAction;
class QMenu;

namespace tesvano {

// The Qt menu's visible rows as a StatusNotifier host draws them, taken from the same actions:
// label, state, check mark, key hint and icon. `actions` gets the action behind each row. With
// `ink`, the icons (our one-colour symbols) are drawn in it, for a host's menu whose colours are
// not the application's.
std::vector<platform::TrayMenuRow> trayMenuRows(const QMenu& menu,
                                                std::vector<QPointer<QAction>>& actions,
                                                const std::optional<QColor>& ink = std::nullopt);

// The first key press of `sequence` in dbusmenu's words: the modifiers, then the key's X keysym
// name. Empty for a key that has no such name.
std::vector<std::string> dbusMenuKeys(const QKeySequence& sequence);

}  // namespace tesvano

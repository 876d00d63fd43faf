#pragma once

#include <QKeySequence>
#include <optional>

#include "KeyboardShortcuts/Name.h"
#include "KeyboardShortcuts/Shortcut.h"

class QAction;

namespace KeyboardShortcuts {

// The key sequence a menu item shows and takes for a shortcut: the key as the current layout
// types it (named keys such as F5, Space or Esc as themselves), with Super as Qt's Meta. An
// empty sequence when the layout gives the key no single character and it has no name.
QKeySequence keySequence(const Shortcut& shortcut);

// Binds a menu item to a name: the item shows the name's stored shortcut and follows every
// change of it until it is bound to another name, unbound (none) or destroyed. Needs an
// installed Library.
void setShortcut(QAction& item, const std::optional<Name>& name);
// Sets the item's shortcut once; none clears it. Safe from any thread: the change is made on
// the item's own thread.
void setShortcut(QAction& item, const std::optional<Shortcut>& shortcut);

}  // namespace KeyboardShortcuts

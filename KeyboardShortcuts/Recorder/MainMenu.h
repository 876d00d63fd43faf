#pragma once

#include <functional>
#include <vector>

#include "KeyboardShortcuts/ShortcutDisplay.h"

class QMenu;

namespace KeyboardShortcuts {

// The program's own menu tree, which the recorder searches for an item that already uses a
// combination. A program without one sets nothing, and the check is skipped.
using MainMenuProvider = std::function<std::vector<MenuItem>()>;
void setMainMenuProvider(MainMenuProvider provider);
// The tree now; empty without a provider.
std::vector<MenuItem> mainMenu();

// A Qt menu as the conflict search sees it: each action with its text (mnemonic markers
// removed) and, per shortcut of one key, the character the key types in lower case with
// Control, Alt (Option), Shift and Meta (Command). Keys that type no character get an empty
// key equivalent, so they never match. Submenus are read depth first; separators are left out.
std::vector<MenuItem> menuItems(const QMenu& menu);

}  // namespace KeyboardShortcuts

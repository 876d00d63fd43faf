#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KeyboardShortcuts/Modifiers.h"
#include "KeyboardShortcuts/Shortcut.h"
#include "Platform/HotKeys/HotKeys.h"

namespace KeyboardShortcuts {

// How a shortcut is shown, as Linux desktops show them: the modifiers, then the key, joined by
// "+" ("Ctrl+Alt+K", "Super+Space", "Shift+F6"). Keys that type nothing visible have fixed
// names (Return, Backspace, Esc, F5, Space, keypad keys as "Num+5"); the others show what
// they type on the current layout, or on the first Latin one when the current layout is not.

// The key's text; none when the layout cannot translate it.
std::optional<std::string> keyToCharacter(std::int64_t keyCode,
                                          tesvano::platform::KeyTranslator& layout);

// The modifiers as present ("Ctrl+Alt+Shift+Super"), then the key's text capitalised, or
// U+FFFD when it has none.
std::string description(const Shortcut& shortcut, tesvano::platform::KeyTranslator& layout);

// The key equivalent a menu item would carry: the key's text when it is a single character,
// else the menu's own character for Space and F1–F20, else empty.
std::string keyEquivalent(const Shortcut& shortcut, tesvano::platform::KeyTranslator& layout);

// A menu item as the conflict search sees it.
struct MenuItem {
    std::string title;
    std::string keyEquivalent;
    Modifiers modifierMask;
    std::vector<MenuItem> submenu;
};

// The first item of the menu tree, depth first, whose key equivalent and modifiers are the
// shortcut's. An upper-case key equivalent counts as its lower case with Shift.
const MenuItem* takenByMainMenu(const Shortcut& shortcut, const std::vector<MenuItem>& menu,
                                tesvano::platform::KeyTranslator& layout);

// User-perceived characters (grapheme clusters) of UTF-8 text.
std::size_t graphemeCount(const std::string& text);

}  // namespace KeyboardShortcuts

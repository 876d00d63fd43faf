#pragma once

#include <cstdint>
#include <optional>

#include "KeyboardShortcuts/InputEvent.h"
#include "KeyboardShortcuts/Modifiers.h"
#include "KeyboardShortcuts/Shortcut.h"
#include "Platform/HotKeys/HotKeys.h"

namespace KeyboardShortcuts {

// The one translation between stored key codes and what the X server speaks: key codes are
// the evdev codes plus 8 (the same physical key), and Command is Super (Mod4), Option is Alt
// (Mod1), Control and Shift are themselves.

// The X keycode of a stored key code; none for codes without a PC key.
std::optional<std::uint32_t> xKeycode(std::int64_t keyCode);
// The stored key code of an X keycode; none for keys the stored numbering does not have.
std::optional<std::int64_t> storedKeyCode(std::uint32_t xKeycode);

std::uint32_t xModifiers(std::int64_t modifierBits);
// Shift, Control, Alt and Super, plus Caps Lock when it is lit.
Modifiers modifiersFromX(std::uint32_t xState);

// None when the key has no X keycode, in which case nothing can be grabbed for it.
std::optional<tesvano::platform::KeyCombination> xCombination(const Shortcut& shortcut);

// A key event of the program's own windows. Presses of modifier keys are flag changes, as
// they never start a shortcut.
InputEvent keyEventFromX(bool pressed, std::uint32_t xKeycode, std::uint32_t xState);

}  // namespace KeyboardShortcuts

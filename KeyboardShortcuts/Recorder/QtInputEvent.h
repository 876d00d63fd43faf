#pragma once

#include <optional>

#include "KeyboardShortcuts/InputEvent.h"
#include "KeyboardShortcuts/Modifiers.h"

class QKeyEvent;

namespace KeyboardShortcuts {

// A Qt key press or release as the library reads key events. On X11 the event's own keycode
// and modifier state are used, so the key is the physical one whatever the layout types;
// elsewhere (the offscreen platform of the tests, say) the Qt key is mapped to the key that
// types it on a US layout.
InputEvent inputEventFromQt(const QKeyEvent& event);

// The stored key code of a Qt key, for platforms without X keycodes. Keypad keys need the
// keypad flag; modifier keys have codes too. None for keys the stored numbering
// does not have.
std::optional<std::int64_t> keyCodeFromQt(int qtKey, bool keypad);

// The Qt key of a stored key code that types no character of its own (function keys, Space,
// Return, arrows, keypad keys with the keypad flag); none for the others.
struct QtKey {
    int key;
    bool keypad;
};
std::optional<QtKey> qtKeyFromKeyCode(std::int64_t keyCode);

// Shift, Control, Alt (Option), Meta (Command, the Super key) and the keypad flag.
Modifiers modifiersFromQt(int qtModifiers);

}  // namespace KeyboardShortcuts

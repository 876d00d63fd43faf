#pragma once

#include <cstdint>
#include <optional>

#include "KeyboardShortcuts/Modifiers.h"

namespace KeyboardShortcuts {

// A key or mouse event of the program's own windows, as the recorder and the shortcut
// constructors read it.
struct InputEvent {
    enum class Type { keyDown, keyUp, flagsChanged, leftMouseUp, rightMouseUp, other };

    Type type = Type::other;
    // The key's stored key code (see Key.h); none for keys that have none, and for mouse events.
    std::optional<std::int64_t> keyCode;
    Modifiers modifierFlags;
    // Where a mouse button went up, in the receiving control's coordinates.
    double x = 0;
    double y = 0;
};

}  // namespace KeyboardShortcuts

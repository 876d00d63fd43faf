#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "KeyboardShortcuts/InputEvent.h"
#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/Modifiers.h"

namespace KeyboardShortcuts {

// One key combination: a key code in the stored numbering (see Key.h) and the stored modifier
// bits (ModifierBits).
struct Shortcut {
    std::int64_t keyCode = 0;
    std::int64_t modifierBits = 0;

    // The modifiers are reduced to super, shift, alt and control.
    explicit Shortcut(std::int64_t code, std::int64_t bits = 0);
    explicit Shortcut(Key key, Modifiers modifiers = {});

    // Only key-down and key-up events with a key code make a shortcut; lock, numeric-pad and
    // function flags never reach it.
    static std::optional<Shortcut> fromEvent(const InputEvent& event);

    // The stored form {"carbonKeyCode":…,"carbonModifiers":…}: keyCode and modifierBits under
    // the names stored shortcuts have always had. Decoding takes both integers
    // as they are, without reducing the modifiers; anything else gives none.
    static std::optional<Shortcut> decode(std::string_view json);
    std::string encode() const;

    Key key() const { return Key(keyCode); }
    Modifiers modifiers() const { return modifiersFromBits(modifierBits); }

    // Modifier symbols and the key's text on the current layout (see ShortcutDisplay.h),
    // through the installed Library's keyboard layout.
    std::string description() const;

    bool operator==(const Shortcut&) const = default;

private:
    Shortcut() = default;
};

}  // namespace KeyboardShortcuts

template <>
struct std::hash<KeyboardShortcuts::Shortcut> {
    std::size_t operator()(const KeyboardShortcuts::Shortcut& s) const noexcept {
        const std::size_t h = std::hash<std::int64_t>{}(s.keyCode);
        return h ^ (std::hash<std::int64_t>{}(s.modifierBits) + 0x9e3779b97f4a7c15ULL + (h << 6) +
                    (h >> 2));
    }
};

#pragma once

#include <cstdint>
#include <string>

namespace KeyboardShortcuts {

// Modifier flags of a key event, with the bit values the classic desktop event model gives
// them. A shortcut keeps only shift, control, alt and super; the rest describe events.
struct Modifiers {
    std::uint64_t rawValue = 0;

    constexpr Modifiers() = default;
    constexpr explicit Modifiers(std::uint64_t raw) : rawValue(raw) {}

    static const Modifiers capsLock;
    static const Modifiers shift;
    static const Modifiers control;
    static const Modifiers alt;
    static const Modifiers super;
    static const Modifiers numericPad;
    static const Modifiers help;
    static const Modifiers function;

    constexpr bool contains(Modifiers other) const {
        return (rawValue & other.rawValue) == other.rawValue;
    }
    constexpr bool isEmpty() const { return rawValue == 0; }
    constexpr bool operator==(const Modifiers&) const = default;
    friend constexpr Modifiers operator|(Modifiers a, Modifiers b) {
        return Modifiers(a.rawValue | b.rawValue);
    }
    friend constexpr Modifiers operator&(Modifiers a, Modifiers b) {
        return Modifiers(a.rawValue & b.rawValue);
    }
};

inline constexpr Modifiers Modifiers::capsLock{1ULL << 16};
inline constexpr Modifiers Modifiers::shift{1ULL << 17};
inline constexpr Modifiers Modifiers::control{1ULL << 18};
inline constexpr Modifiers Modifiers::alt{1ULL << 19};
inline constexpr Modifiers Modifiers::super{1ULL << 20};
inline constexpr Modifiers Modifiers::numericPad{1ULL << 21};
inline constexpr Modifiers Modifiers::help{1ULL << 22};
inline constexpr Modifiers Modifiers::function{1ULL << 23};

// The modifier word of stored shortcuts: these bits, whatever the platform.
namespace ModifierBits {
inline constexpr std::int64_t superKey = 0x0100;
inline constexpr std::int64_t shiftKey = 0x0200;
inline constexpr std::int64_t capsLock = 0x0400;
inline constexpr std::int64_t altKey = 0x0800;
inline constexpr std::int64_t controlKey = 0x1000;
}  // namespace ModifierBits

// Both conversions carry exactly super, shift, alt and control and drop every other bit.
constexpr Modifiers modifiersFromBits(std::int64_t bits) {
    Modifiers out;
    if ((bits & ModifierBits::superKey) != 0) {
        out = out | Modifiers::super;
    }
    if ((bits & ModifierBits::shiftKey) != 0) {
        out = out | Modifiers::shift;
    }
    if ((bits & ModifierBits::altKey) != 0) {
        out = out | Modifiers::alt;
    }
    if ((bits & ModifierBits::controlKey) != 0) {
        out = out | Modifiers::control;
    }
    return out;
}

constexpr std::int64_t bitsFromModifiers(Modifiers modifiers) {
    std::int64_t out = 0;
    if (modifiers.contains(Modifiers::super)) {
        out |= ModifierBits::superKey;
    }
    if (modifiers.contains(Modifiers::shift)) {
        out |= ModifierBits::shiftKey;
    }
    if (modifiers.contains(Modifiers::alt)) {
        out |= ModifierBits::altKey;
    }
    if (modifiers.contains(Modifiers::control)) {
        out |= ModifierBits::controlKey;
    }
    return out;
}

// The names of the flags present as Linux desktops write them, in the order control, alt,
// shift, super, function, joined by "+": "Ctrl+Alt+Shift+Super+Fn"; empty for none.
std::string modifierSymbols(Modifiers modifiers);

}  // namespace KeyboardShortcuts

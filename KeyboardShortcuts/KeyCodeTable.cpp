#include "KeyboardShortcuts/KeyCodeTable.h"

#include <array>
#include <utility>

#include "KeyboardShortcuts/Key.h"

namespace KeyboardShortcuts {

namespace {

using tesvano::platform::KeyCombination;

// Stored key code → Linux evdev code (linux/input-event-codes.h), by physical position.
constexpr std::array<std::pair<std::int64_t, std::uint32_t>, 112> kTable{{
    // letters
    {0, 30},
    {11, 48},
    {8, 46},
    {2, 32},
    {14, 18},
    {3, 33},
    {5, 34},
    {4, 35},
    {34, 23},
    {38, 36},
    {40, 37},
    {37, 38},
    {46, 50},
    {45, 49},
    {31, 24},
    {35, 25},
    {12, 16},
    {15, 19},
    {1, 31},
    {17, 20},
    {32, 22},
    {9, 47},
    {13, 17},
    {7, 45},
    {16, 21},
    {6, 44},
    // digits
    {29, 11},
    {18, 2},
    {19, 3},
    {20, 4},
    {21, 5},
    {23, 6},
    {22, 7},
    {26, 8},
    {28, 9},
    {25, 10},
    // modifier keys: Super (Meta), Alt
    {57, 58},
    {56, 42},
    {59, 29},
    {58, 56},
    {55, 125},
    {54, 126},
    {61, 100},
    {62, 97},
    {60, 54},
    // text and punctuation; the ISO key beside the left Shift is the stored numbering's section key
    {36, 28},
    {42, 43},
    {50, 41},
    {43, 51},
    {24, 13},
    {27, 12},
    {47, 52},
    {39, 40},
    {41, 39},
    {44, 53},
    {49, 57},
    {48, 15},
    {33, 26},
    {30, 27},
    {10, 86},
    // navigation and editing: Delete is Backspace, Forward Delete is Delete, Help is Insert
    {116, 104},
    {121, 109},
    {115, 102},
    {119, 107},
    {126, 103},
    {124, 106},
    {125, 108},
    {123, 105},
    {53, 1},
    {51, 14},
    {117, 111},
    {114, 110},
    // media
    {74, 113},
    {72, 115},
    {73, 114},
    // function keys
    {122, 59},
    {120, 60},
    {99, 61},
    {118, 62},
    {96, 63},
    {97, 64},
    {98, 65},
    {100, 66},
    {101, 67},
    {109, 68},
    {103, 87},
    {111, 88},
    {105, 183},
    {107, 184},
    {113, 185},
    {106, 186},
    {64, 187},
    {79, 188},
    {80, 189},
    {90, 190},
    // keypad
    {82, 82},
    {83, 79},
    {84, 80},
    {85, 81},
    {86, 75},
    {87, 76},
    {88, 77},
    {89, 71},
    {91, 72},
    {92, 73},
    {65, 83},
    {75, 98},
    {76, 96},
    {81, 117},
    {78, 74},
    {67, 55},
    {69, 78},
}};
// Not in the table: Function (63) and keypad Clear (71) have no key of their own on a PC
// keyboard, nor do the JIS keys.

constexpr std::uint32_t kEvdevToX = 8;
constexpr std::uint32_t kLockMask = 1U << 1;

}  // namespace

std::optional<std::uint32_t> xKeycode(std::int64_t keyCode) {
    for (const auto& [stored, evdev] : kTable) {
        if (stored == keyCode) {
            return evdev + kEvdevToX;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> storedKeyCode(std::uint32_t xKeycode) {
    for (const auto& [stored, evdev] : kTable) {
        if (evdev + kEvdevToX == xKeycode) {
            return stored;
        }
    }
    return std::nullopt;
}

std::uint32_t xModifiers(std::int64_t modifierBits) {
    std::uint32_t out = 0;
    if ((modifierBits & ModifierBits::superKey) != 0) {
        out |= KeyCombination::mod4Mask;
    }
    if ((modifierBits & ModifierBits::shiftKey) != 0) {
        out |= KeyCombination::shiftMask;
    }
    if ((modifierBits & ModifierBits::altKey) != 0) {
        out |= KeyCombination::mod1Mask;
    }
    if ((modifierBits & ModifierBits::controlKey) != 0) {
        out |= KeyCombination::controlMask;
    }
    return out;
}

Modifiers modifiersFromX(std::uint32_t xState) {
    Modifiers out;
    if ((xState & KeyCombination::shiftMask) != 0) {
        out = out | Modifiers::shift;
    }
    if ((xState & KeyCombination::controlMask) != 0) {
        out = out | Modifiers::control;
    }
    if ((xState & KeyCombination::mod1Mask) != 0) {
        out = out | Modifiers::alt;
    }
    if ((xState & KeyCombination::mod4Mask) != 0) {
        out = out | Modifiers::super;
    }
    if ((xState & kLockMask) != 0) {
        out = out | Modifiers::capsLock;
    }
    return out;
}

std::optional<KeyCombination> xCombination(const Shortcut& shortcut) {
    const auto keycode = xKeycode(shortcut.keyCode);
    if (!keycode) {
        return std::nullopt;
    }
    return KeyCombination{*keycode, xModifiers(shortcut.modifierBits)};
}

InputEvent keyEventFromX(bool pressed, std::uint32_t xKeycode, std::uint32_t xState) {
    InputEvent event;
    event.keyCode = storedKeyCode(xKeycode);
    event.modifierFlags = modifiersFromX(xState);
    const bool modifierKey = event.keyCode && *event.keyCode >= Key::rightSuper.rawValue &&
                             *event.keyCode <= Key::function.rawValue;
    if (modifierKey) {
        event.type = InputEvent::Type::flagsChanged;
    } else {
        event.type = pressed ? InputEvent::Type::keyDown : InputEvent::Type::keyUp;
    }
    return event;
}

}  // namespace KeyboardShortcuts

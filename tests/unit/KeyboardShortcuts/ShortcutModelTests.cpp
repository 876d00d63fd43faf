#include <gtest/gtest.h>

#include <functional>

#include "KeyboardShortcuts/KeyCodeTable.h"
#include "KeyboardShortcuts/Shortcut.h"
#include "KeyboardShortcuts/ShortcutDisplay.h"
#include "Platform/HotKeys/FakeHotKeys.h"

namespace KeyboardShortcuts {
namespace {

using tesvano::platform::FakeHotKeys;
using tesvano::platform::KeyCombination;
using Type = InputEvent::Type;

InputEvent keyEvent(Type type, std::int64_t keyCode, Modifiers modifiers = {}) {
    return InputEvent{type, keyCode, modifiers};
}

TEST(ShortcutModel, EventsMakeShortcutsWithOnlyTheFourModifiers) {
    const Modifiers noisy =
        Modifiers::super | Modifiers::capsLock | Modifiers::numericPad | Modifiers::function;
    const auto down = Shortcut::fromEvent(keyEvent(Type::keyDown, 0, noisy));
    ASSERT_TRUE(down);
    EXPECT_EQ(down->modifierBits, ModifierBits::superKey);
    EXPECT_EQ(Shortcut::fromEvent(keyEvent(Type::keyUp, 0, noisy)), down);
    EXPECT_FALSE(Shortcut::fromEvent(keyEvent(Type::flagsChanged, 55, Modifiers::super)));
    EXPECT_FALSE(Shortcut::fromEvent(InputEvent{Type::leftMouseUp, std::nullopt, {}}));
    EXPECT_FALSE(Shortcut::fromEvent(InputEvent{Type::keyDown, std::nullopt, Modifiers::super}));

    const Modifiers all = Modifiers::super | Modifiers::shift | Modifiers::alt | Modifiers::control;
    EXPECT_EQ(modifiersFromBits(0x1F00 | 0x4000), all);  // right-side bits dropped
    EXPECT_EQ(bitsFromModifiers(all | Modifiers::capsLock), 0x1B00);

    const std::hash<Shortcut> hash;
    EXPECT_EQ(hash(Shortcut(Key::a, Modifiers::super)), hash(Shortcut(0, 0x100)));
    EXPECT_NE(hash(Shortcut(Key::a, Modifiers::super)), hash(Shortcut(Key::a, Modifiers::shift)));
    EXPECT_EQ(Shortcut(Key::f6).encode(), R"({"carbonKeyCode":97,"carbonModifiers":0})");
}

TEST(KeyCodeTable, MapsPhysicalKeysAndModifiersBothWays) {
    EXPECT_EQ(xKeycode(Key::a.rawValue), 38u);
    EXPECT_EQ(xKeycode(Key::f6.rawValue), 72u);
    EXPECT_EQ(xKeycode(Key::super.rawValue), 133u);  // Super_L
    EXPECT_EQ(xKeycode(Key::deleteBackward.rawValue), 22u);
    EXPECT_FALSE(xKeycode(Key::function.rawValue));
    EXPECT_FALSE(xKeycode(-1));
    for (std::int64_t code = 0; code < 128; ++code) {
        if (auto x = xKeycode(code)) {
            EXPECT_EQ(storedKeyCode(*x), code) << code;
        }
    }
    EXPECT_FALSE(storedKeyCode(107));  // Print Screen has no stored key code

    EXPECT_EQ(xCombination(Shortcut(Key::l, Modifiers::control | Modifiers::super | Modifiers::alt |
                                                Modifiers::shift)),
              (KeyCombination{46, KeyCombination::controlMask | KeyCombination::mod4Mask |
                                      KeyCombination::mod1Mask | KeyCombination::shiftMask}));
    // Lock (2), Num Lock (Mod2) and AltGr (Mod5) are no shortcut modifiers.
    EXPECT_EQ(modifiersFromX(0x4 | 0x2 | 0x10 | 0x80), Modifiers::control | Modifiers::capsLock);

    const auto controlDown = keyEventFromX(true, 37, 0);
    EXPECT_EQ(controlDown.type, Type::flagsChanged);
    const auto a = keyEventFromX(true, 38, 0x4);
    EXPECT_EQ(a.type, Type::keyDown);
    EXPECT_EQ(a.keyCode, 0);
    EXPECT_EQ(a.modifierFlags, Modifiers::control);
    EXPECT_FALSE(keyEventFromX(false, 107, 0).keyCode);
}

TEST(ShortcutDisplay, ModifiersThenTheKeyAsLinuxDesktopsWriteThem) {
    FakeHotKeys layout;
    const Modifiers commandShift = Modifiers::super | Modifiers::shift;
    const Modifiers all = Modifiers::control | Modifiers::alt | Modifiers::shift | Modifiers::super;
    const struct {
        Shortcut shortcut;
        const char* expected;
    } cases[] = {
        {Shortcut(Key::k, Modifiers::control | Modifiers::alt), "Ctrl+Alt+K"},
        {Shortcut(Key::a, all), "Ctrl+Alt+Shift+Super+A"},
        {Shortcut(Key::space, Modifiers::super), "Super+Space"},
        {Shortcut(Key::f6, Modifiers::shift), "Shift+F6"},
        {Shortcut(Key::f5), "F5"},
        {Shortcut(Key::escape, Modifiers::control), "Ctrl+Esc"},
        {Shortcut(Key::tab, Modifiers::alt), "Alt+Tab"},
        {Shortcut(Key::deleteBackward, Modifiers::control), "Ctrl+Backspace"},
        {Shortcut(Key::deleteForward, Modifiers::control), "Ctrl+Del"},
        {Shortcut(Key::returnKey, Modifiers::control), "Ctrl+Return"},
        {Shortcut(Key::help, Modifiers::control), "Ctrl+Ins"},
        {Shortcut(Key::upArrow, Modifiers::alt), "Alt+Up"},
        {Shortcut(Key::pageDown, Modifiers::alt), "Alt+PgDown"},
        {Shortcut(Key::keypad5, Modifiers::control), "Ctrl+Num+5"},
        {Shortcut(Key::keypadEnter), "Num+Enter"},
        // Keys the layout cannot translate.
        {Shortcut(Key::volumeUp, Modifiers::super), "Super+\uFFFD"},
        {Shortcut(Key::function), "\uFFFD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(description(c.shortcut, layout), c.expected);
    }
    layout.layout[38] = "q";  // AZERTY: the A position types q
    EXPECT_EQ(description(Shortcut(Key::a, commandShift), layout), "Shift+Super+Q");
    EXPECT_EQ(modifierSymbols(Modifiers::function | Modifiers::control), "Ctrl+Fn");
    EXPECT_EQ(modifierSymbols(Modifiers()), "");

    // Menu key equivalents: one character, or the menu's own for Space and F1–F20.
    EXPECT_EQ(keyEquivalent(Shortcut(Key::f5), layout), "\uF708");
    EXPECT_EQ(keyEquivalent(Shortcut(Key::space, Modifiers::super), layout), " ");
    EXPECT_EQ(keyEquivalent(Shortcut(Key::a, commandShift), layout), "q");
    EXPECT_EQ(keyEquivalent(Shortcut(Key::keypad5), layout), "");
    EXPECT_EQ(keyEquivalent(Shortcut(Key::upArrow), layout), "");
    EXPECT_EQ(keyEquivalent(Shortcut(Key::volumeUp), layout), "");
}

TEST(ShortcutDisplay, MenuConflictsMatchKeyAndExactModifiers) {
    FakeHotKeys layout;
    const std::vector<MenuItem> menu{
        {"Settings", "", {}, {{"Other", "q", Modifiers::super | Modifiers::alt, {}}}},
        {"Quit", "Q", Modifiers::super, {}},
        {"Lock", "l", Modifiers::control, {}},
    };
    const MenuItem* found =
        takenByMainMenu(Shortcut(Key::q, Modifiers::super | Modifiers::shift), menu, layout);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->title, "Quit");
    EXPECT_EQ(takenByMainMenu(Shortcut(Key::q, Modifiers::super), menu, layout), nullptr);
    found = takenByMainMenu(Shortcut(Key::q, Modifiers::super | Modifiers::alt), menu, layout);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->title, "Other");
    EXPECT_EQ(takenByMainMenu(Shortcut(Key::l, Modifiers::control), menu, layout)->title, "Lock");
    EXPECT_EQ(takenByMainMenu(Shortcut(Key::returnKey, Modifiers::control), menu, layout), nullptr);
}

}  // namespace
}  // namespace KeyboardShortcuts

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
        Modifiers::command | Modifiers::capsLock | Modifiers::numericPad | Modifiers::function;
    const auto down = Shortcut::fromEvent(keyEvent(Type::keyDown, 0, noisy));
    ASSERT_TRUE(down);
    EXPECT_EQ(down->carbonModifiers, Carbon::cmdKey);
    EXPECT_EQ(Shortcut::fromEvent(keyEvent(Type::keyUp, 0, noisy)), down);
    EXPECT_FALSE(Shortcut::fromEvent(keyEvent(Type::flagsChanged, 55, Modifiers::command)));
    EXPECT_FALSE(Shortcut::fromEvent(InputEvent{Type::leftMouseUp, std::nullopt, {}}));
    EXPECT_FALSE(Shortcut::fromEvent(InputEvent{Type::keyDown, std::nullopt, Modifiers::command}));

    const Modifiers all =
        Modifiers::command | Modifiers::shift | Modifiers::option | Modifiers::control;
    EXPECT_EQ(modifiersFromCarbon(0x1F00 | 0x4000), all);  // right-side bits dropped
    EXPECT_EQ(carbonFromModifiers(all | Modifiers::capsLock), 0x1B00);

    const std::hash<Shortcut> hash;
    EXPECT_EQ(hash(Shortcut(Key::a, Modifiers::command)), hash(Shortcut(0, 0x100)));
    EXPECT_NE(hash(Shortcut(Key::a, Modifiers::command)), hash(Shortcut(Key::a, Modifiers::shift)));
    EXPECT_EQ(Shortcut(Key::f6).encode(), R"({"carbonKeyCode":97,"carbonModifiers":0})");
}

TEST(KeyCodeTable, MapsPhysicalKeysAndModifiersBothWays) {
    EXPECT_EQ(xKeycode(Key::a.rawValue), 38u);
    EXPECT_EQ(xKeycode(Key::f6.rawValue), 72u);
    EXPECT_EQ(xKeycode(Key::command.rawValue), 133u);  // Super_L
    EXPECT_EQ(xKeycode(Key::deleteBackward.rawValue), 22u);
    EXPECT_FALSE(xKeycode(Key::function.rawValue));
    EXPECT_FALSE(xKeycode(-1));
    for (std::int64_t code = 0; code < 128; ++code) {
        if (auto x = xKeycode(code)) {
            EXPECT_EQ(carbonKeyCode(*x), code) << code;
        }
    }
    EXPECT_FALSE(carbonKeyCode(107));  // Print Screen has no Carbon key

    EXPECT_EQ(xCombination(Shortcut(Key::l, Modifiers::control | Modifiers::command |
                                                Modifiers::option | Modifiers::shift)),
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

TEST(ShortcutDisplay, SymbolsThenTheKeyOfTheLayout) {
    FakeHotKeys layout;
    const Modifiers commandShift = Modifiers::command | Modifiers::shift;
    EXPECT_EQ(description(Shortcut(Key::a, commandShift), layout), "⇧⌘A");
    EXPECT_EQ(
        description(Shortcut(Key::a, Modifiers::control | Modifiers::option | Modifiers::command),
                    layout),
        "⌃⌥⌘A");
    layout.layout[38] = "q";  // AZERTY: the A position types q
    EXPECT_EQ(description(Shortcut(Key::a, commandShift), layout), "⇧⌘Q");
    EXPECT_EQ(modifierSymbols(Modifiers::function | Modifiers::control), "⌃\U0001F310\uFE0E");

    EXPECT_EQ(description(Shortcut(Key::f5), layout), "F5");
    EXPECT_EQ(keyEquivalent(Shortcut(Key::f5), layout), "\uF708");
    EXPECT_EQ(description(Shortcut(Key::space, Modifiers::command), layout), "⌘Space");
    EXPECT_EQ(keyEquivalent(Shortcut(Key::space, Modifiers::command), layout), " ");
    EXPECT_EQ(description(Shortcut(Key::keypad5), layout), "5\u20E3");
    EXPECT_EQ(keyEquivalent(Shortcut(Key::keypad5), layout), "5\u20E3");
    EXPECT_EQ(keyEquivalent(Shortcut(Key::help), layout), "?\u20DD");
    EXPECT_EQ(keyEquivalent(Shortcut(Key::upArrow), layout), "\u2191");

    // Keys the layout cannot translate.
    EXPECT_EQ(description(Shortcut(Key::volumeUp, Modifiers::command), layout), "⌘\uFFFD");
    EXPECT_EQ(keyEquivalent(Shortcut(Key::volumeUp), layout), "");
    EXPECT_EQ(description(Shortcut(Key::function), layout), "\uFFFD");
}

TEST(ShortcutDisplay, MenuConflictsMatchKeyAndExactModifiers) {
    FakeHotKeys layout;
    const std::vector<MenuItem> menu{
        {"Settings", "", {}, {{"Other", "q", Modifiers::command | Modifiers::option, {}}}},
        {"Quit", "Q", Modifiers::command, {}},
        {"Lock", "l", Modifiers::control, {}},
    };
    const MenuItem* found =
        takenByMainMenu(Shortcut(Key::q, Modifiers::command | Modifiers::shift), menu, layout);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->title, "Quit");
    EXPECT_EQ(takenByMainMenu(Shortcut(Key::q, Modifiers::command), menu, layout), nullptr);
    found = takenByMainMenu(Shortcut(Key::q, Modifiers::command | Modifiers::option), menu, layout);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->title, "Other");
    EXPECT_EQ(takenByMainMenu(Shortcut(Key::l, Modifiers::control), menu, layout)->title, "Lock");
    EXPECT_EQ(takenByMainMenu(Shortcut(Key::returnKey, Modifiers::control), menu, layout), nullptr);
}

}  // namespace
}  // namespace KeyboardShortcuts

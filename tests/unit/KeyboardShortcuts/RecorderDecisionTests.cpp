#include <gtest/gtest.h>

#include "KeyboardShortcuts/RecorderDecision.h"

namespace KeyboardShortcuts {
namespace {

using Action = RecorderDecision::Action;
using Type = InputEvent::Type;

class RecorderDecisionTest : public ::testing::Test {
protected:
    RecorderDecisionTest() {
        context.width = 130;
        context.height = 22;
        context.menuItemUsing = [this](const Shortcut& s) -> std::optional<std::string> {
            if (s == Shortcut(Key::q, Modifiers::super)) {
                return "Quit Tesvano";
            }
            return std::nullopt;
        };
        context.isReservedBySystem = [this](const Shortcut& s) { return s == reserved; };
    }

    RecorderDecision key(std::int64_t keyCode, Modifiers modifiers = {}) {
        return decideRecorderEvent(InputEvent{Type::keyDown, keyCode, modifiers}, context);
    }
    RecorderDecision mouseUp(double x, double y) {
        return decideRecorderEvent(InputEvent{Type::leftMouseUp, std::nullopt, {}, x, y}, context);
    }

    RecorderContext context;
    Shortcut reserved{Key::tab, Modifiers::super};
};

TEST_F(RecorderDecisionTest, KeysThatControlTheRecorder) {
    EXPECT_EQ(key(Key::escape.rawValue).action, Action::endAndSwallow);
    EXPECT_EQ(key(Key::tab.rawValue).action, Action::endAndPassOn);
    EXPECT_EQ(key(Key::tab.rawValue, Modifiers::capsLock).action, Action::endAndPassOn);

    EXPECT_EQ(key(Key::deleteBackward.rawValue).action, Action::swallow);  // nothing to clear
    context.cancelButtonShown = true;
    EXPECT_EQ(key(Key::deleteBackward.rawValue).action, Action::clear);
    EXPECT_EQ(key(Key::deleteForward.rawValue).action, Action::clear);

    EXPECT_EQ(
        decideRecorderEvent(InputEvent{Type::flagsChanged, 59, Modifiers::control}, context).action,
        Action::passOn);
}

TEST_F(RecorderDecisionTest, CombinationsWithoutARealModifierBeepUnlessFunctionKeys) {
    EXPECT_EQ(key(Key::a.rawValue).action, Action::beep);
    EXPECT_EQ(key(Key::a.rawValue, Modifiers::shift).action, Action::beep);
    EXPECT_EQ(key(Key::a.rawValue, Modifiers::capsLock | Modifiers::numericPad).action,
              Action::beep);
    // A key without a stored key code cannot be a shortcut, modifiers or not.
    EXPECT_EQ(
        decideRecorderEvent(InputEvent{Type::keyDown, std::nullopt, Modifiers::control}, context)
            .action,
        Action::beep);

    auto f6 = key(Key::f6.rawValue);
    EXPECT_EQ(f6.action, Action::accept);
    EXPECT_EQ(f6.shortcut, Shortcut(Key::f6));
    EXPECT_EQ(f6.shortcut->encode(), R"({"carbonKeyCode":97,"carbonModifiers":0})");
    EXPECT_EQ(key(Key::f6.rawValue, Modifiers::shift).shortcut,
              Shortcut(Key::f6, Modifiers::shift));

    auto commandA = key(Key::a.rawValue, Modifiers::super | Modifiers::capsLock);
    EXPECT_EQ(commandA.action, Action::accept);
    EXPECT_EQ(commandA.shortcut, Shortcut(Key::a, Modifiers::super));
}

TEST_F(RecorderDecisionTest, ConflictsWithTheMenuAndTheSystem) {
    auto quit = key(Key::q.rawValue, Modifiers::super);
    EXPECT_EQ(quit.action, Action::menuConflict);
    EXPECT_EQ(quit.menuItemTitle, "Quit Tesvano");
    EXPECT_FALSE(quit.shortcut);

    auto commandTab = key(Key::tab.rawValue, Modifiers::super);
    EXPECT_EQ(commandTab.action, Action::systemConflict);
    EXPECT_EQ(commandTab.shortcut, reserved);

    reserved = Shortcut(Key::f12);
    EXPECT_EQ(key(Key::f12.rawValue).action, Action::accept);
    reserved = Shortcut(Key::f12, Modifiers::control);
    EXPECT_EQ(key(Key::f12.rawValue, Modifiers::control).action, Action::systemConflict);
}

TEST_F(RecorderDecisionTest, ClicksEndRecordingOnlyBeyondThreePointsOfSlack) {
    EXPECT_EQ(mouseUp(60, 10).action, Action::swallow);
    EXPECT_EQ(mouseUp(-2, 10).action, Action::swallow);
    EXPECT_EQ(mouseUp(132, 24).action, Action::swallow);
    EXPECT_EQ(mouseUp(-4, 10).action, Action::endAndPassOn);
    EXPECT_EQ(mouseUp(60, 26).action, Action::endAndPassOn);
    EXPECT_EQ(decideRecorderEvent(InputEvent{Type::rightMouseUp, std::nullopt, {}, 200, 0}, context)
                  .action,
              Action::endAndPassOn);
    EXPECT_EQ(decideRecorderEvent(InputEvent{Type::other, std::nullopt, {}}, context).action,
              Action::swallow);
}

}  // namespace
}  // namespace KeyboardShortcuts

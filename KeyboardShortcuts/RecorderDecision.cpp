#include "KeyboardShortcuts/RecorderDecision.h"

#include "KeyboardShortcuts/Key.h"

namespace KeyboardShortcuts {

namespace {

using Action = RecorderDecision::Action;
using Type = InputEvent::Type;

// The event's modifiers without Caps Lock, numeric pad and function.
constexpr std::uint64_t kMeaningfulModifiers = 0xFF5E0000;
// The same without Shift: what is left must be Control, Option or Command.
constexpr std::uint64_t kModifiersBesidesShift = 0xFF5C0000;
constexpr double kClickSlop = 3;

bool isFunctionKey(std::int64_t keyCode) {
    static constexpr Key keys[] = {Key::f1,  Key::f2,  Key::f3,  Key::f4,  Key::f5,
                                   Key::f6,  Key::f7,  Key::f8,  Key::f9,  Key::f10,
                                   Key::f11, Key::f12, Key::f13, Key::f14, Key::f15,
                                   Key::f16, Key::f17, Key::f18, Key::f19, Key::f20};
    for (const Key& key : keys) {
        if (key.rawValue == keyCode) {
            return true;
        }
    }
    return false;
}

RecorderDecision decide(Action action) {
    return RecorderDecision{action, std::nullopt, {}};
}

}  // namespace

RecorderDecision decideRecorderEvent(const InputEvent& event, const RecorderContext& context) {
    if (event.type == Type::leftMouseUp || event.type == Type::rightMouseUp) {
        const bool inside = event.x >= -kClickSlop && event.x < context.width + kClickSlop &&
                            event.y >= -kClickSlop && event.y < context.height + kClickSlop;
        return decide(inside ? Action::swallow : Action::endAndPassOn);
    }
    if (event.type == Type::flagsChanged) {
        return decide(Action::passOn);
    }
    if (event.type != Type::keyDown && event.type != Type::keyUp) {
        return decide(Action::swallow);
    }

    const std::uint64_t modifiers = event.modifierFlags.rawValue & kMeaningfulModifiers;
    const std::int64_t keyCode = event.keyCode.value_or(-1);
    if (modifiers == 0) {
        if (keyCode == Key::tab.rawValue) {
            return decide(Action::endAndPassOn);
        }
        if (keyCode == Key::escape.rawValue) {
            return decide(Action::endAndSwallow);
        }
        if (keyCode == Key::deleteBackward.rawValue || keyCode == Key::deleteForward.rawValue) {
            return decide(context.cancelButtonShown ? Action::clear : Action::swallow);
        }
    }
    if ((event.modifierFlags.rawValue & kModifiersBesidesShift) == 0 && !isFunctionKey(keyCode)) {
        return decide(Action::beep);
    }

    const auto shortcut = Shortcut::fromEvent(event);
    if (!shortcut) {
        return decide(Action::beep);
    }
    if (context.menuItemUsing) {
        if (auto title = context.menuItemUsing(*shortcut)) {
            return RecorderDecision{Action::menuConflict, std::nullopt, std::move(*title)};
        }
    }
    // Bare F12 is never reported as taken by the system.
    const bool bareF12 = shortcut->keyCode == Key::f12.rawValue && shortcut->modifierBits == 0;
    if (!bareF12 && context.isReservedBySystem && context.isReservedBySystem(*shortcut)) {
        return RecorderDecision{Action::systemConflict, shortcut, {}};
    }
    return RecorderDecision{Action::accept, shortcut, {}};
}

}  // namespace KeyboardShortcuts

#include "KeyboardShortcuts/Recorder/QtInputEvent.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <array>
#include <utility>

#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/KeyCodeTable.h"

namespace KeyboardShortcuts {

namespace {

// Qt keys that are the same key with or without the keypad flag.
constexpr std::array<std::pair<int, Key>, 48> kMainKeys{{
    {Qt::Key_0, Key::zero},
    {Qt::Key_1, Key::one},
    {Qt::Key_2, Key::two},
    {Qt::Key_3, Key::three},
    {Qt::Key_4, Key::four},
    {Qt::Key_5, Key::five},
    {Qt::Key_6, Key::six},
    {Qt::Key_7, Key::seven},
    {Qt::Key_8, Key::eight},
    {Qt::Key_9, Key::nine},
    {Qt::Key_Comma, Key::comma},
    {Qt::Key_Period, Key::period},
    {Qt::Key_Slash, Key::slash},
    {Qt::Key_Semicolon, Key::semicolon},
    {Qt::Key_Apostrophe, Key::quote},
    {Qt::Key_BracketLeft, Key::leftBracket},
    {Qt::Key_BracketRight, Key::rightBracket},
    {Qt::Key_Backslash, Key::backslash},
    {Qt::Key_Minus, Key::minus},
    {Qt::Key_Equal, Key::equal},
    {Qt::Key_QuoteLeft, Key::backtick},
    {Qt::Key_Space, Key::space},
    {Qt::Key_Tab, Key::tab},
    {Qt::Key_Backtab, Key::tab},
    {Qt::Key_Return, Key::returnKey},
    {Qt::Key_Enter, Key::keypadEnter},
    {Qt::Key_Backspace, Key::deleteBackward},
    {Qt::Key_Delete, Key::deleteForward},
    {Qt::Key_Escape, Key::escape},
    {Qt::Key_Home, Key::home},
    {Qt::Key_End, Key::end},
    {Qt::Key_PageUp, Key::pageUp},
    {Qt::Key_PageDown, Key::pageDown},
    {Qt::Key_Up, Key::upArrow},
    {Qt::Key_Down, Key::downArrow},
    {Qt::Key_Left, Key::leftArrow},
    {Qt::Key_Right, Key::rightArrow},
    {Qt::Key_Insert, Key::help},
    {Qt::Key_Help, Key::help},
    {Qt::Key_VolumeMute, Key::mute},
    {Qt::Key_VolumeUp, Key::volumeUp},
    {Qt::Key_VolumeDown, Key::volumeDown},
    {Qt::Key_Shift, Key::shift},
    {Qt::Key_Control, Key::control},
    {Qt::Key_Alt, Key::alt},
    {Qt::Key_Meta, Key::super},
    {Qt::Key_Super_L, Key::super},
    {Qt::Key_Super_R, Key::rightSuper},
}};

constexpr std::array<std::pair<int, Key>, 18> kKeypadKeys{{
    {Qt::Key_0, Key::keypad0},
    {Qt::Key_1, Key::keypad1},
    {Qt::Key_2, Key::keypad2},
    {Qt::Key_3, Key::keypad3},
    {Qt::Key_4, Key::keypad4},
    {Qt::Key_5, Key::keypad5},
    {Qt::Key_6, Key::keypad6},
    {Qt::Key_7, Key::keypad7},
    {Qt::Key_8, Key::keypad8},
    {Qt::Key_9, Key::keypad9},
    {Qt::Key_Clear, Key::keypadClear},
    {Qt::Key_Period, Key::keypadDecimal},
    {Qt::Key_Slash, Key::keypadDivide},
    {Qt::Key_Enter, Key::keypadEnter},
    {Qt::Key_Equal, Key::keypadEquals},
    {Qt::Key_Minus, Key::keypadMinus},
    {Qt::Key_Asterisk, Key::keypadMultiply},
    {Qt::Key_Plus, Key::keypadPlus},
}};

constexpr std::array<Key, 20> kFunctionKeys{
    Key::f1,  Key::f2,  Key::f3,  Key::f4,  Key::f5,  Key::f6,  Key::f7,
    Key::f8,  Key::f9,  Key::f10, Key::f11, Key::f12, Key::f13, Key::f14,
    Key::f15, Key::f16, Key::f17, Key::f18, Key::f19, Key::f20,
};

constexpr std::array<Key, 26> kLetters{
    Key::a, Key::b, Key::c, Key::d, Key::e, Key::f, Key::g, Key::h, Key::i,
    Key::j, Key::k, Key::l, Key::m, Key::n, Key::o, Key::p, Key::q, Key::r,
    Key::s, Key::t, Key::u, Key::v, Key::w, Key::x, Key::y, Key::z,
};

bool isModifierKey(std::int64_t keyCode) {
    return keyCode >= Key::rightSuper.rawValue && keyCode <= Key::function.rawValue;
}

}  // namespace

std::optional<std::int64_t> keyCodeFromQt(int qtKey, bool keypad) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        return kLetters[static_cast<std::size_t>(qtKey - Qt::Key_A)].rawValue;
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F20) {
        return kFunctionKeys[static_cast<std::size_t>(qtKey - Qt::Key_F1)].rawValue;
    }
    if (keypad) {
        for (const auto& [key, code] : kKeypadKeys) {
            if (key == qtKey) {
                return code.rawValue;
            }
        }
    }
    for (const auto& [key, code] : kMainKeys) {
        if (key == qtKey) {
            return code.rawValue;
        }
    }
    return std::nullopt;
}

std::optional<QtKey> qtKeyFromKeyCode(std::int64_t keyCode) {
    for (std::size_t i = 0; i < kFunctionKeys.size(); ++i) {
        if (kFunctionKeys[i].rawValue == keyCode) {
            return QtKey{Qt::Key_F1 + static_cast<int>(i), false};
        }
    }
    for (const auto& [key, code] : kKeypadKeys) {
        if (code.rawValue == keyCode) {
            return QtKey{key, true};
        }
    }
    for (const auto& [key, code] : kMainKeys) {
        // Digits and punctuation are what the layout types there, not what a US one would.
        const bool printable = key > Qt::Key_Space && key <= Qt::Key_AsciiTilde;
        if (code.rawValue == keyCode && !printable && !isModifierKey(keyCode)) {
            return QtKey{key, false};
        }
    }
    return std::nullopt;
}

Modifiers modifiersFromQt(int qtModifiers) {
    Modifiers out;
    if ((qtModifiers & Qt::ShiftModifier) != 0) {
        out = out | Modifiers::shift;
    }
    if ((qtModifiers & Qt::ControlModifier) != 0) {
        out = out | Modifiers::control;
    }
    if ((qtModifiers & Qt::AltModifier) != 0) {
        out = out | Modifiers::alt;
    }
    if ((qtModifiers & Qt::MetaModifier) != 0) {
        out = out | Modifiers::super;
    }
    if ((qtModifiers & Qt::KeypadModifier) != 0) {
        out = out | Modifiers::numericPad;
    }
    return out;
}

InputEvent inputEventFromQt(const QKeyEvent& event) {
    const bool pressed = event.type() != QEvent::KeyRelease;
    // On X11 the scan code is the X keycode and the native modifiers are the X state.
    if (event.nativeScanCode() != 0 && QGuiApplication::platformName() == QLatin1String("xcb")) {
        return keyEventFromX(pressed, event.nativeScanCode(), event.nativeModifiers());
    }
    const int modifiers = static_cast<int>(event.modifiers().toInt());
    InputEvent out;
    out.keyCode = keyCodeFromQt(event.key(), (modifiers & Qt::KeypadModifier) != 0);
    out.modifierFlags = modifiersFromQt(modifiers);
    if (out.keyCode && isModifierKey(*out.keyCode)) {
        out.type = InputEvent::Type::flagsChanged;
    } else {
        out.type = pressed ? InputEvent::Type::keyDown : InputEvent::Type::keyUp;
    }
    return out;
}

}  // namespace KeyboardShortcuts

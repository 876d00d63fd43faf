#include "KeyboardShortcuts/ShortcutDisplay.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <map>
#include <memory>
#include <string_view>
#include <utility>

#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/KeyCodeTable.h"
#include "KeyboardShortcuts/KeyboardShortcuts.h"

namespace KeyboardShortcuts {

namespace {

std::string toUTF8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// Word capitalisation: "a" → "A", "Space" and "F5" unchanged.
std::string capitalized(const std::string& text) {
    auto unicode = icu::UnicodeString::fromUTF8(text);
    unicode.toTitle(nullptr, icu::Locale::getRoot());
    return toUTF8(unicode);
}

std::string lowercased(const std::string& text) {
    auto unicode = icu::UnicodeString::fromUTF8(text);
    unicode.toLower(icu::Locale::getRoot());
    return toUTF8(unicode);
}

// Keys that type nothing visible, named as Linux desktops name them in shortcuts.
const std::map<std::int64_t, std::string>& keySymbols() {
    static const std::map<std::int64_t, std::string> table = [] {
        std::map<std::int64_t, std::string> t{
            {Key::returnKey.rawValue, "Return"},
            {Key::deleteBackward.rawValue, "Backspace"},
            {Key::deleteForward.rawValue, "Del"},
            {Key::end.rawValue, "End"},
            {Key::escape.rawValue, "Esc"},
            // The key in Help's place on a PC keyboard is Insert.
            {Key::help.rawValue, "Ins"},
            {Key::home.rawValue, "Home"},
            {Key::space.rawValue, "Space"},
            {Key::tab.rawValue, "Tab"},
            {Key::pageUp.rawValue, "PgUp"},
            {Key::pageDown.rawValue, "PgDown"},
            {Key::upArrow.rawValue, "Up"},
            {Key::rightArrow.rawValue, "Right"},
            {Key::downArrow.rawValue, "Down"},
            {Key::leftArrow.rawValue, "Left"},
            {Key::keypadClear.rawValue, "Num+Clear"},
            {Key::keypadDecimal.rawValue, "Num+."},
            {Key::keypadDivide.rawValue, "Num+/"},
            {Key::keypadEquals.rawValue, "Num+="},
            {Key::keypadMinus.rawValue, "Num+-"},
            {Key::keypadMultiply.rawValue, "Num+*"},
            {Key::keypadPlus.rawValue, "Num++"},
            {Key::keypadEnter.rawValue, "Num+Enter"},
        };
        const Key functionKeys[] = {Key::f1,  Key::f2,  Key::f3,  Key::f4,  Key::f5,
                                    Key::f6,  Key::f7,  Key::f8,  Key::f9,  Key::f10,
                                    Key::f11, Key::f12, Key::f13, Key::f14, Key::f15,
                                    Key::f16, Key::f17, Key::f18, Key::f19, Key::f20};
        for (int i = 0; i < 20; ++i) {
            t[functionKeys[i].rawValue] = std::string("F").append(std::to_string(i + 1));
        }
        const Key keypad[] = {Key::keypad0, Key::keypad1, Key::keypad2, Key::keypad3, Key::keypad4,
                              Key::keypad5, Key::keypad6, Key::keypad7, Key::keypad8, Key::keypad9};
        for (int i = 0; i < 10; ++i) {
            t[keypad[i].rawValue] = "Num+" + std::to_string(i);
        }
        return t;
    }();
    return table;
}

// Space, and F1–F20 as the private-use characters U+F704…U+F717.
const std::map<std::int64_t, std::string>& menuKeyEquivalents() {
    static const std::map<std::int64_t, std::string> table = [] {
        std::map<std::int64_t, std::string> t{{Key::space.rawValue, " "}};
        const Key functionKeys[] = {Key::f1,  Key::f2,  Key::f3,  Key::f4,  Key::f5,
                                    Key::f6,  Key::f7,  Key::f8,  Key::f9,  Key::f10,
                                    Key::f11, Key::f12, Key::f13, Key::f14, Key::f15,
                                    Key::f16, Key::f17, Key::f18, Key::f19, Key::f20};
        for (int i = 0; i < 20; ++i) {
            t[functionKeys[i].rawValue] =
                toUTF8(icu::UnicodeString(static_cast<UChar32>(0xF704 + i)));
        }
        return t;
    }();
    return table;
}

}  // namespace

std::string modifierSymbols(Modifiers modifiers) {
    static constexpr std::pair<Modifiers, std::string_view> names[] = {
        {Modifiers::control, "Ctrl"}, {Modifiers::alt, "Alt"},     {Modifiers::shift, "Shift"},
        {Modifiers::super, "Super"},  {Modifiers::function, "Fn"},
    };
    std::string out;
    for (const auto& [flag, name] : names) {
        if (modifiers.contains(flag)) {
            if (!out.empty()) {
                out += '+';
            }
            out += name;
        }
    }
    return out;
}

std::optional<std::string> keyToCharacter(std::int64_t keyCode,
                                          tesvano::platform::KeyTranslator& layout) {
    const auto& symbols = keySymbols();
    if (auto it = symbols.find(keyCode); it != symbols.end()) {
        return it->second;
    }
    const auto keycode = xKeycode(keyCode);
    if (!keycode) {
        return std::nullopt;
    }
    return layout.keyText(*keycode);
}

std::string description(const Shortcut& shortcut, tesvano::platform::KeyTranslator& layout) {
    const auto text = keyToCharacter(shortcut.keyCode, layout);
    const std::string modifiers = modifierSymbols(shortcut.modifiers());
    // Named keys stay as written ("PgDown"); what the layout types is capitalised.
    const bool named = keySymbols().contains(shortcut.keyCode);
    const std::string key = !text ? "\uFFFD" : named ? *text : capitalized(*text);
    return modifiers.empty() ? key : modifiers + "+" + key;
}

std::string keyEquivalent(const Shortcut& shortcut, tesvano::platform::KeyTranslator& layout) {
    const std::string text = keyToCharacter(shortcut.keyCode, layout).value_or("");
    if (graphemeCount(text) < 2) {
        return text;
    }
    const auto& table = menuKeyEquivalents();
    auto it = table.find(shortcut.keyCode);
    return it != table.end() ? it->second : std::string();
}

namespace {

const MenuItem* search(const Shortcut& shortcut, const std::optional<std::string>& keyText,
                       const std::vector<MenuItem>& menu) {
    const Modifiers wanted = shortcut.modifiers();
    for (const MenuItem& item : menu) {
        std::string equivalent = item.keyEquivalent;
        Modifiers mask = item.modifierMask;
        if (wanted.contains(Modifiers::shift)) {
            std::string lower = lowercased(equivalent);
            if (lower != equivalent) {
                equivalent = std::move(lower);
                mask = mask | Modifiers::shift;
            }
        }
        if (keyText && *keyText == equivalent && mask == wanted) {
            return &item;
        }
        if (const MenuItem* found = search(shortcut, keyText, item.submenu)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

const MenuItem* takenByMainMenu(const Shortcut& shortcut, const std::vector<MenuItem>& menu,
                                tesvano::platform::KeyTranslator& layout) {
    return search(shortcut, keyToCharacter(shortcut.keyCode, layout), menu);
}

std::size_t graphemeCount(const std::string& text) {
    const auto unicode = icu::UnicodeString::fromUTF8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) {
        return static_cast<std::size_t>(unicode.countChar32());
    }
    it->setText(unicode);
    std::size_t count = 0;
    for (std::int32_t end = it->next(); end != icu::BreakIterator::DONE; end = it->next()) {
        ++count;
    }
    return count;
}

std::string Shortcut::description() const {
    return KeyboardShortcuts::description(*this, keyboardLayout());
}

}  // namespace KeyboardShortcuts

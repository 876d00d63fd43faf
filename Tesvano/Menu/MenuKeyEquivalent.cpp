#include "Tesvano/Menu/MenuKeyEquivalent.h"

#include <array>
#include <cctype>

namespace tesvano {

using KeyboardShortcuts::Modifiers;

namespace {

// Control, option, shift, command, caps lock and the globe key.
constexpr std::array<std::string_view, 6> modifierSymbols{"\u2303", "\u2325", "\u21E7",
                                                          "\u2318", "\u21EA", "\U0001F310"};

}  // namespace

std::optional<MenuKeyEquivalent> MenuKeyEquivalent::from(std::string_view description,
                                                         Modifiers modifiers) {
    bool stripped = true;
    while (stripped) {
        stripped = false;
        for (std::string_view symbol : modifierSymbols) {
            if (description.starts_with(symbol)) {
                description.remove_prefix(symbol.size());
                stripped = true;
            }
        }
    }
    if (description.size() != 1) {
        return std::nullopt;
    }
    const auto c = static_cast<unsigned char>(description.front());
    if (c >= 0x80 || (std::isalnum(c) == 0 && std::ispunct(c) == 0)) {
        return std::nullopt;
    }
    Modifiers kept;
    for (Modifiers flag :
         {Modifiers::command, Modifiers::option, Modifiers::control, Modifiers::shift}) {
        if (modifiers.contains(flag)) {
            kept = kept | flag;
        }
    }
    return MenuKeyEquivalent{static_cast<char>(c), kept};
}

std::optional<MenuKeyEquivalent> MenuKeyEquivalent::from(
    const KeyboardShortcuts::Shortcut& shortcut) {
    return from(shortcut.description(), shortcut.modifiers());
}

QKeySequence MenuKeyEquivalent::keySequence() const {
    Qt::KeyboardModifiers qtModifiers;
    if (modifiers.contains(Modifiers::command)) {
        qtModifiers |= Qt::MetaModifier;
    }
    if (modifiers.contains(Modifiers::option)) {
        qtModifiers |= Qt::AltModifier;
    }
    if (modifiers.contains(Modifiers::control)) {
        qtModifiers |= Qt::ControlModifier;
    }
    if (modifiers.contains(Modifiers::shift)) {
        qtModifiers |= Qt::ShiftModifier;
    }
    // Qt names printable keys by their upper-case ASCII code.
    const auto key = static_cast<Qt::Key>(std::toupper(static_cast<unsigned char>(character)));
    return QKeySequence(QKeyCombination(qtModifiers, key));
}

}  // namespace tesvano

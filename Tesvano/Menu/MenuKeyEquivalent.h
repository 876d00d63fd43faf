#pragma once

#include <QKeySequence>
#include <optional>
#include <string_view>

#include "KeyboardShortcuts/Modifiers.h"
#include "KeyboardShortcuts/Shortcut.h"

namespace tesvano {

// The key equivalent a menu item can show for a global shortcut: one printable ASCII
// character with the shortcut's modifiers. Named keys (Space, arrows, F-keys) have none.
struct MenuKeyEquivalent {
    char character;
    KeyboardShortcuts::Modifiers modifiers;

    // Command is the Super key, as the hot keys grab it.
    QKeySequence keySequence() const;

    // From a shortcut's display text ("⌃⌥L"): the modifier symbols are skipped, and what is
    // left must be one ASCII letter, digit, punctuation mark or symbol.
    static std::optional<MenuKeyEquivalent> from(std::string_view description,
                                                 KeyboardShortcuts::Modifiers modifiers);
    // Through the shortcut library's display text (needs the installed library).
    static std::optional<MenuKeyEquivalent> from(const KeyboardShortcuts::Shortcut& shortcut);
};

}  // namespace tesvano

#pragma once

#include <functional>
#include <optional>
#include <string>

#include "KeyboardShortcuts/Shortcut.h"

namespace KeyboardShortcuts {

// A named global shortcut. Its combination is kept in the user's defaults under
// "KeyboardShortcuts_" followed by the name; names are equal when their texts are.
struct Name {
    std::string rawValue;
    std::optional<Shortcut> defaultShortcut;

    // With a default and nothing stored yet, stores the default (which needs an installed
    // Library). A cleared name keeps its stored false, so the default is not stored again.
    explicit Name(std::string rawValue, std::optional<Shortcut> defaultShortcut = std::nullopt);

    std::string storageKey() const { return "KeyboardShortcuts_" + rawValue; }

    // getShortcut / setShortcut of this name.
    std::optional<Shortcut> shortcut() const;
    void setShortcut(const std::optional<Shortcut>& shortcut) const;

    bool operator==(const Name& other) const { return rawValue == other.rawValue; }
};

}  // namespace KeyboardShortcuts

template <>
struct std::hash<KeyboardShortcuts::Name> {
    std::size_t operator()(const KeyboardShortcuts::Name& name) const noexcept {
        return std::hash<std::string>{}(name.rawValue);
    }
};

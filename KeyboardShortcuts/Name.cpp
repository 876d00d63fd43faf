#include "KeyboardShortcuts/Name.h"

#include "KeyboardShortcuts/KeyboardShortcuts.h"

namespace KeyboardShortcuts {

Name::Name(std::string raw, std::optional<Shortcut> defaultValue)
    : rawValue(std::move(raw)), defaultShortcut(defaultValue) {
    if (defaultShortcut && !userDefaultsContains(*this)) {
        userDefaultsSet(*this, *defaultShortcut);
    }
}

std::optional<Shortcut> Name::shortcut() const {
    return getShortcut(*this);
}

void Name::setShortcut(const std::optional<Shortcut>& shortcut) const {
    KeyboardShortcuts::setShortcut(shortcut, *this);
}

}  // namespace KeyboardShortcuts

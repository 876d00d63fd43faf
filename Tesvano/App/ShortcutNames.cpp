#include "Tesvano/App/ShortcutNames.h"

namespace tesvano::ShortcutNames {

#define TESVANO_SHORTCUT_NAME(function, raw)            \
    const KeyboardShortcuts::Name& function() {         \
        static const KeyboardShortcuts::Name name{raw}; \
        return name;                                    \
    }

TESVANO_SHORTCUT_NAME(toggleLock, "toggleLock")
TESVANO_SHORTCUT_NAME(globalPreviousSource, "globalPreviousSource")
TESVANO_SHORTCUT_NAME(globalNextSource, "globalNextSource")
TESVANO_SHORTCUT_NAME(appPreviousSource, "appPreviousSource")
TESVANO_SHORTCUT_NAME(appNextSource, "appNextSource")
// Stored settings name the shortcut by its first name.
TESVANO_SHORTCUT_NAME(removeActiveAppRule, "removeFrontmostAppRule")

#undef TESVANO_SHORTCUT_NAME

}  // namespace tesvano::ShortcutNames

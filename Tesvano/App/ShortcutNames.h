#pragma once

#include "KeyboardShortcuts/Name.h"

namespace tesvano {

// The six global shortcuts, made once on first use with no default combination.
namespace ShortcutNames {
const KeyboardShortcuts::Name& toggleLock();
const KeyboardShortcuts::Name& globalPreviousSource();
const KeyboardShortcuts::Name& globalNextSource();
const KeyboardShortcuts::Name& appPreviousSource();
const KeyboardShortcuts::Name& appNextSource();
const KeyboardShortcuts::Name& removeActiveAppRule();
}  // namespace ShortcutNames

}  // namespace tesvano

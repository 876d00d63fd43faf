#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "KeyboardShortcuts/HotKeyRegistrar.h"
#include "KeyboardShortcuts/Library.h"
#include "KeyboardShortcuts/Name.h"
#include "KeyboardShortcuts/Shortcut.h"
#include "Platform/HotKeys/HotKeys.h"
#include "Platform/Runtime/Runtime.h"

// Named global shortcuts. Everything runs on the main thread and needs an installed Library;
// calling without one throws std::logic_error.
namespace KeyboardShortcuts {

// --- Storage. The stored entry is the only truth: every read, dispatch included, reads it
// again. A stored text that is not a shortcut's JSON reads as none.

std::optional<Shortcut> getShortcut(const Name& name);
// A shortcut: stored, registered at once, announced. None: the clearing path (the entry is
// removed, or set to false for a name with a default; the hot key is given back unless another
// name with handlers holds it; announced). Clearing a name without a shortcut does nothing.
void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name);
// Each name back to its default, or cleared when it has none.
void reset(const std::vector<Name>& names);
// Gives back or takes again the hot keys of the names' stored shortcuts; entries, handlers
// and observers are left alone.
void disable(const std::vector<Name>& names);
void enable(const std::vector<Name>& names);

std::optional<Shortcut> userDefaultsGet(const Name& name);
// Gives back the name's old hot key (unless another name with handlers holds it), registers
// the new one whether or not the name has handlers, stores it and announces the change.
void userDefaultsSet(const Name& name, const Shortcut& shortcut);
// True when anything is stored under the name's key, a cleared false included.
bool userDefaultsContains(const Name& name);

// --- Change notification ("KeyboardShortcuts_shortcutByNameDidChange"): told of every name
// whose entry was set or cleared, synchronously, until the registration is dropped.
[[nodiscard]] tesvano::platform::Registration observeShortcutByNameDidChange(
    std::function<void(const Name&)> observer);
void postShortcutByNameDidChange(const Name& name);

// --- Handlers. Attaching one registers the name's stored shortcut if it is not registered.
// On a press (or release) every name whose stored shortcut is the fired one runs its closures
// in the order they were attached, names in the order they first got one.
void onKeyDown(const Name& name, std::function<void()> handler);
void onKeyUp(const Name& name, std::function<void()> handler);
// Gives back the hot keys of every name with closures or subscriptions and drops all closures.
void removeAllHandlers();

// --- Subscriptions. Every key-down and key-up of a name's shortcut, in order, until the
// registration is dropped (or cancelled). Making one registers the name's stored shortcut if
// needed; ending one gives the hot key back unless a name with closures or subscriptions
// still holds it. Subscriptions outlive removeAllHandlers.
enum class EventType { keyDown, keyUp };
[[nodiscard]] tesvano::platform::Registration events(const Name& name,
                                                     std::function<void(EventType)> handler);
// The same for one type of event.
[[nodiscard]] tesvano::platform::Registration eventStream(EventType type, const Name& name,
                                                          std::function<void()> handler);

// The dispatch entry points the hot-key layer calls.
void handleOnKeyDown(const Shortcut& shortcut);
void handleOnKeyUp(const Shortcut& shortcut);

// --- Modes.
// All hot keys on or off; off withdraws every grab.
bool isEnabled();
void setEnabled(bool enabled);
// A menu of the program is open: grabs are withdrawn and the menu's key events must be fed to
// hotKeyRegistrar().handleRawKeyEvent instead.
bool isMenuOpen();
void setMenuOpen(bool open);
// Set by the recorder while it records: nothing is dispatched.
bool isPaused();
void setPaused(bool paused);

// The hot-key layer and the keyboard layout of the installed Library.
HotKeyRegistrar& hotKeyRegistrar();
tesvano::platform::KeyTranslator& keyboardLayout();

}  // namespace KeyboardShortcuts

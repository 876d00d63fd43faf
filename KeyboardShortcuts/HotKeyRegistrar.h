#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "KeyboardShortcuts/Shortcut.h"
#include "Platform/HotKeys/HotKeys.h"

namespace KeyboardShortcuts {

// The hot-key layer: registers each shortcut with the system through the hot-key backend and
// turns its presses and releases into calls of the closures given at registration. While a
// menu of the program is open, or while hot keys are switched off, the grabs are withdrawn but
// remembered; with a menu open the program's own key events come in through handleRawKeyEvent.
class HotKeyRegistrar {
public:
    using Handler = std::function<void(const Shortcut&)>;

    explicit HotKeyRegistrar(tesvano::platform::HotKeys& hotKeys);
    HotKeyRegistrar(const HotKeyRegistrar&) = delete;
    HotKeyRegistrar& operator=(const HotKeyRegistrar&) = delete;

    // Grabs the combination and keeps it under a new id. A refused grab, or a key without a
    // PC key, keeps nothing and is not reported; the id is spent either way. While withdrawn
    // the record is kept without a grab, to be grabbed when the mode returns to normal.
    void registerShortcut(const Shortcut& shortcut, Handler onKeyDown, Handler onKeyUp);
    // Releases and forgets every kept hot key with that key code and modifiers.
    void unregisterShortcut(const Shortcut& shortcut);

    // Normal mode grabs; menu mode and disabled withdraw every grab. Grabs that fail on the
    // way back to normal are forgotten.
    void updateEventHandler(bool isEnabled, bool isMenuOpen);

    enum class RawKeyKind { keyDown, autoRepeat, keyUp };
    // A key event of the program's own windows while a menu is open: calls the first kept hot
    // key with that key and modifiers (reduced to the four shortcut bits). False when none
    // matches or for auto-repeat, so the caller passes the event on.
    bool handleRawKeyEvent(RawKeyKind kind, std::int64_t keyCode, std::int64_t modifierBits);

    // Whether another program holds the combination (the desktop's own shortcuts among them).
    bool isReservedBySystem(const Shortcut& shortcut) const;

    // Kept hot keys in id order, and whether each is grabbed now.
    struct Entry {
        Shortcut shortcut;
        std::int64_t id;
        bool grabbed;
    };
    std::vector<Entry> entries() const;

private:
    struct HotKey {
        Shortcut shortcut;
        std::int64_t id;
        tesvano::platform::HotKeyGrab grab;
        Handler onKeyDown;
        Handler onKeyUp;
    };
    enum class Mode { normal, menu, disabled };

    tesvano::platform::HotKeyGrab grab(const Shortcut& shortcut, std::int64_t id);
    void fire(std::int64_t id, bool keyDown);

    tesvano::platform::HotKeys& hotKeys_;
    std::map<std::int64_t, HotKey> table_;
    std::int64_t lastId_ = 0;
    Mode mode_ = Mode::normal;
};

}  // namespace KeyboardShortcuts

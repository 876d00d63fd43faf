#pragma once

#include <functional>
#include <optional>
#include <string>

#include "KeyboardShortcuts/InputEvent.h"
#include "KeyboardShortcuts/Shortcut.h"

namespace KeyboardShortcuts {

// What the recorder knows besides the event.
struct RecorderContext {
    // The control's size; mouse-ups within 3 points of it count as inside.
    double width = 0;
    double height = 0;
    // The field shows a shortcut, so its clear button is there to press.
    bool cancelButtonShown = false;
    // The title of the program's own menu item that already uses the shortcut, if any.
    std::function<std::optional<std::string>(const Shortcut&)> menuItemUsing;
    // Whether another program (the desktop, say) holds the shortcut.
    std::function<bool(const Shortcut&)> isReservedBySystem;
};

struct RecorderDecision {
    enum class Action {
        passOn,          // not the recorder's business (modifier keys going down or up)
        swallow,         // consumed, nothing else happens
        endAndPassOn,    // recording ends and the event goes on (a click elsewhere, Tab)
        endAndSwallow,   // recording ends (Escape)
        clear,           // the stored shortcut is cleared and recording goes on (Delete)
        beep,            // not a usable shortcut
        menuConflict,    // alert naming `menuItemTitle`; nothing stored; recording restarts
        systemConflict,  // alert; `shortcut` is stored only when the user insists
        accept,          // `shortcut` is stored and reported; recording ends
    };

    Action action = Action::swallow;
    std::optional<Shortcut> shortcut;
    std::string menuItemTitle;
};

// The recorder's answer to one event while it records: key-downs make shortcuts, a few keys
// control the recorder, and combinations without Control, Option or Command are refused
// unless they are function keys.
RecorderDecision decideRecorderEvent(const InputEvent& event, const RecorderContext& context);

}  // namespace KeyboardShortcuts

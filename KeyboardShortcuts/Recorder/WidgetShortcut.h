#pragma once

#include <functional>

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Name.h"

class QWidget;

namespace KeyboardShortcuts {

// Runs the handler for every key-down and key-up of the name's shortcut while the widget is
// shown: the subscription starts when it is shown (or at once when it already is) and ends
// when it is hidden or destroyed. Needs an installed Library.
void onKeyboardShortcut(QWidget& widget, const Name& name, std::function<void(EventType)> handler);
// The same for one type of event.
void onKeyboardShortcut(QWidget& widget, const Name& name, EventType type,
                        std::function<void()> handler);

}  // namespace KeyboardShortcuts

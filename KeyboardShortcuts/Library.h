#pragma once

#include <memory>

#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/HotKeys.h"

namespace KeyboardShortcuts {

namespace detail {
struct State;
}

// The shortcut library's process-wide state: stored entries, handlers, the registration set
// and the hot-key layer. The composition root makes one with the program's defaults, hot-key
// backend and keyboard layout; the functions of KeyboardShortcuts.h act on it. One at a time;
// destroying it gives every hot key back and drops every handler.
class Library {
public:
    Library(tesvano::platform::Defaults& defaults, tesvano::platform::HotKeys& hotKeys,
            tesvano::platform::KeyTranslator& layout);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    static bool isInstalled();

private:
    std::unique_ptr<detail::State> state_;
};

}  // namespace KeyboardShortcuts

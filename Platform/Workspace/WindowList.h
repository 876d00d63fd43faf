#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// A rectangle in the X root window's coordinates (origin top left, y growing downwards).
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    bool isEmpty() const { return width <= 0 || height <= 0; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// One top-level window of the desktop's window list.
struct ListedWindow {
    unsigned long id = 0;
    std::int32_t processIdentifier = -1;
    // The outer frame: the client area with the window manager's decoration around it.
    Rect frame;
    // Mapped and not minimised.
    bool onScreen = true;
    // WM_CLASS: the instance and the class name; empty when the window has none.
    std::string instanceName{};
    std::string className{};
    friend bool operator==(const ListedWindow&, const ListedWindow&) = default;
};

// The desktop's top-level windows, front to back, and what happens to one of them.
class WindowList {
public:
    virtual ~WindowList() = default;
    // The windows of these processes (all when none is named), front to back. A window's
    // geometry costs round trips to the server; naming the processes spares the others'.
    virtual std::vector<ListedWindow> windows(std::span<const std::int32_t> processes) = 0;
    std::vector<ListedWindow> windows() { return windows({}); }
    // The windows of these processes and those whose WM_CLASS instance or class name is one
    // of `classes` (ignoring case), front to back; none when both lists are empty.
    virtual std::vector<ListedWindow> windowsMatching(std::span<const std::int32_t> processes,
                                                      std::span<const std::string> classes);
    // Calls `changed` on the main thread whenever the window moves, is resized, hidden or
    // destroyed, until the handle goes. An error when the window cannot be watched.
    virtual std::expected<Registration, std::string> observe(unsigned long window,
                                                             std::function<void()> changed) = 0;
    // Asks the window manager to bring the window to the front and focus it.
    virtual bool activate(unsigned long window) = 0;
};

// Whether the window's WM_CLASS instance or class name is one of `classes`, ignoring case.
bool windowHasClass(const ListedWindow& window, std::span<const std::string> classes);

// Brings the topmost on-screen window of a process forward; false when it has none.
bool activateProcess(WindowList& list, std::int32_t pid);

}  // namespace tesvano::platform

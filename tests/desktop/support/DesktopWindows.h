#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace tesvano::test {

// Stand-in application windows under a real window manager, and the user's keyboard, over a
// connection of its own. Unlike TestDesktop it plays no window manager: windows are mapped
// and activation is asked of the window manager the way a pager asks for it.
class DesktopWindows {
public:
    static std::expected<std::unique_ptr<DesktopWindows>, std::string> open(
        const std::string& display);
    ~DesktopWindows();
    DesktopWindows(const DesktopWindows&) = delete;
    DesktopWindows& operator=(const DesktopWindows&) = delete;

    // A mapped top-level window with this WM_CLASS (instance and class), title and
    // _NET_WM_PID.
    unsigned long addWindow(const std::string& wmClass, pid_t pid);
    // Asks the window manager to activate the window (_NET_ACTIVE_WINDOW from a pager).
    void requestActivation(unsigned long window);
    // _NET_ACTIVE_WINDOW as the window manager published it.
    std::optional<unsigned long> activeWindow();
    bool waitForActive(unsigned long window, std::chrono::milliseconds timeout);
    // Waits until the window manager lists every one of the windows in _NET_CLIENT_LIST (it
    // has taken them on, and focusing a new window is behind it).
    bool waitForManaged(const std::vector<unsigned long>& windows,
                        std::chrono::milliseconds timeout);

    // Presses the keys in order and releases them in reverse, through XTest by key code: a
    // tool that types by key symbol changes the keyboard group to find one.
    void pressChord(const std::vector<std::string>& keysyms);

private:
    explicit DesktopWindows(_XDisplay* display) : display_(display) {}
    _XDisplay* display_;
};

}  // namespace tesvano::test

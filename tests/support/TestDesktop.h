#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace tesvano::test {

// Plays the window manager and the other programs of a test's X server over a connection of
// its own: makes windows for stand-in applications, publishes the client list and the active
// window as an EWMH window manager would, and locks keyboard groups as another program would.
// It follows the locked group through the server's state notifications, in order, so a
// change that a reply overtook is never mistaken for the latest state.
class TestDesktop {
public:
    static std::expected<std::unique_ptr<TestDesktop>, std::string> open(
        const std::string& display);
    ~TestDesktop();
    TestDesktop(const TestDesktop&) = delete;
    TestDesktop& operator=(const TestDesktop&) = delete;

    _XDisplay* connection() const { return display_; }
    int fd() const;

    // A top-level window with this WM_CLASS (instance and class) and _NET_WM_PID, added to
    // _NET_CLIENT_LIST.
    unsigned long addWindow(const std::string& wmClass, pid_t pid);
    // Sets _NET_ACTIVE_WINDOW on the root window.
    void activate(unsigned long window);
    // Locks a keyboard group, as a layout switcher would.
    void lockGroup(unsigned group);

    // Reads every notification that has arrived, without waiting.
    void pump();
    // The locked group as of the last notification read (or the start).
    std::optional<unsigned> lockedGroup() const { return group_; }
    // Waits at most `timeout` for the locked group to be `group`.
    bool waitForLockedGroup(unsigned group, std::chrono::milliseconds timeout);
    // Called for each change of the locked group, with the new group, while pumping.
    std::function<void(unsigned)> onGroupChange;

private:
    TestDesktop(_XDisplay* display, int xkbEventBase);
    void publishClientList();

    _XDisplay* display_;
    int xkbEventBase_;
    std::optional<unsigned> group_;
    std::vector<unsigned long> windows_;
};

}  // namespace tesvano::test

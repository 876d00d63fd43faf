#include "tests/support/TestDesktop.h"

// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/XKBlib.h>
// clang-format on
#include <poll.h>

#include <algorithm>

namespace tesvano::test {

std::expected<std::unique_ptr<TestDesktop>, std::string> TestDesktop::open(
    const std::string& display) {
    int eventBase = 0;
    int errorBase = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    int reason = 0;
    std::string name = display;
    Display* connection =
        XkbOpenDisplay(name.data(), &eventBase, &errorBase, &major, &minor, &reason);
    if (connection == nullptr) {
        return std::unexpected("cannot open display " + display + " with XKB");
    }
    std::unique_ptr<TestDesktop> desktop(new TestDesktop(connection, eventBase));
    XkbSelectEventDetails(connection, XkbUseCoreKbd, XkbStateNotify, XkbGroupLockMask,
                          XkbGroupLockMask);
    XkbStateRec state{};
    if (XkbGetState(connection, XkbUseCoreKbd, &state) == Success) {
        desktop->group_ = state.locked_group;
    }
    return desktop;
}

TestDesktop::TestDesktop(_XDisplay* display, int xkbEventBase)
    : display_(display), xkbEventBase_(xkbEventBase) {}

TestDesktop::~TestDesktop() {
    XCloseDisplay(display_);
}

int TestDesktop::fd() const {
    return ConnectionNumber(display_);
}

unsigned long TestDesktop::addWindow(const std::string& wmClass, pid_t pid) {
    const Window root = DefaultRootWindow(display_);
    const Window window = XCreateSimpleWindow(display_, root, 0, 0, 10, 10, 0, 0, 0);
    std::string name = wmClass;
    XClassHint hint{name.data(), name.data()};
    XSetClassHint(display_, window, &hint);
    long value = pid;
    XChangeProperty(display_, window, XInternAtom(display_, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&value), 1);
    windows_.push_back(window);
    publishClientList();
    return window;
}

void TestDesktop::publishClientList() {
    std::vector<long> values(windows_.begin(), windows_.end());
    XChangeProperty(display_, DefaultRootWindow(display_),
                    XInternAtom(display_, "_NET_CLIENT_LIST", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(values.data()),
                    static_cast<int>(values.size()));
    XFlush(display_);
}

void TestDesktop::activate(unsigned long window) {
    long value = static_cast<long>(window);
    XChangeProperty(display_, DefaultRootWindow(display_),
                    XInternAtom(display_, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&value), 1);
    XFlush(display_);
}

void TestDesktop::lockGroup(unsigned group) {
    XkbLockGroup(display_, XkbUseCoreKbd, group);
    XFlush(display_);
}

void TestDesktop::pump() {
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type != xkbEventBase_) {
            continue;
        }
        const auto* xkb = reinterpret_cast<const XkbEvent*>(&event);
        if (xkb->any.xkb_type != XkbStateNotify || (xkb->state.changed & XkbGroupLockMask) == 0) {
            continue;
        }
        group_ = static_cast<unsigned>(xkb->state.locked_group);
        if (onGroupChange) {
            onGroupChange(*group_);
        }
    }
}

bool TestDesktop::waitForLockedGroup(unsigned group, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        pump();
        if (group_ == group) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return false;
        }
        pollfd p{fd(), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::max<long long>(1, left)));
    }
}

}  // namespace tesvano::test

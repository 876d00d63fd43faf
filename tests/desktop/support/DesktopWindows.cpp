#include "tests/desktop/support/DesktopWindows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <ranges>

#include "tests/support/Wait.h"

namespace tesvano::test {

std::expected<std::unique_ptr<DesktopWindows>, std::string> DesktopWindows::open(
    const std::string& display) {
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection) {
        return std::unexpected("cannot open display " + display);
    }
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(connection, &event, &error, &major, &minor)) {
        XCloseDisplay(connection);
        return std::unexpected("display " + display + " has no XTest");
    }
    return std::unique_ptr<DesktopWindows>(new DesktopWindows(connection));
}

DesktopWindows::~DesktopWindows() {
    XCloseDisplay(display_);
}

unsigned long DesktopWindows::addWindow(const std::string& wmClass, pid_t pid) {
    const Window root = DefaultRootWindow(display_);
    const Window window = XCreateSimpleWindow(display_, root, 100, 100, 320, 200, 0, 0,
                                              WhitePixel(display_, DefaultScreen(display_)));
    std::string name = wmClass;
    XClassHint hint{name.data(), name.data()};
    XSetClassHint(display_, window, &hint);
    XStoreName(display_, window, name.c_str());
    long value = pid;
    XChangeProperty(display_, window, XInternAtom(display_, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&value), 1);
    XMapWindow(display_, window);
    XFlush(display_);
    return window;
}

void DesktopWindows::requestActivation(unsigned long window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // from a pager: window managers do not second-guess it
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, DefaultRootWindow(display_), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display_);
}

namespace {

// A window list property of the root window.
std::vector<unsigned long> rootWindows(Display* display, const char* name) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status =
        XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, name, False),
                           0, 1024, False, XA_WINDOW, &type, &format, &count, &remaining, &data);
    std::vector<unsigned long> out;
    if (status == Success && data && format == 32) {
        const auto* values = reinterpret_cast<unsigned long*>(data);
        out.assign(values, values + count);
    }
    if (data) {
        XFree(data);
    }
    return out;
}

}  // namespace

std::optional<unsigned long> DesktopWindows::activeWindow() {
    const auto windows = rootWindows(display_, "_NET_ACTIVE_WINDOW");
    return windows.empty() ? std::nullopt : std::optional(windows.front());
}

bool DesktopWindows::waitForManaged(const std::vector<unsigned long>& windows,
                                    std::chrono::milliseconds timeout) {
    const auto managed = [&] {
        const auto listed = rootWindows(display_, "_NET_CLIENT_LIST");
        return std::ranges::all_of(windows, [&listed](unsigned long w) {
            return std::ranges::find(listed, w) != listed.end();
        });
    };
    return waitUntil(every(std::chrono::milliseconds(20)), managed, timeout);
}

bool DesktopWindows::waitForActive(unsigned long window, std::chrono::milliseconds timeout) {
    return waitUntil(
        every(std::chrono::milliseconds(10)), [&] { return activeWindow() == window; }, timeout);
}

void DesktopWindows::pressChord(const std::vector<std::string>& keysyms) {
    std::vector<KeyCode> codes;
    for (const auto& name : keysyms) {
        codes.push_back(XKeysymToKeycode(display_, XStringToKeysym(name.c_str())));
    }
    for (const KeyCode code : codes) {
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
    }
    for (const KeyCode code : std::views::reverse(codes)) {
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
    }
    XFlush(display_);
}

}  // namespace tesvano::test

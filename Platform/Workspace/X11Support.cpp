#include "Platform/Workspace/X11Support.h"

#include <X11/Xatom.h>

#include <climits>
#include <cstring>
#include <set>

namespace tesvano::platform::x11 {

namespace {

std::set<Display*>& ownDisplays() {
    static std::set<Display*> displays;
    return displays;
}
XErrorHandler previousHandler = nullptr;
bool handlerInstalled = false;
bool lastRequestFailed = false;

int recordOwnErrors(Display* display, XErrorEvent* event) {
    if (ownDisplays().contains(display)) {
        lastRequestFailed = true;
        return 0;
    }
    return previousHandler ? previousHandler(display, event) : 0;
}

}  // namespace

std::expected<Display*, std::string> openDisplay(const std::string& displayName) {
    Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!display) {
        return std::unexpected("cannot open display " +
                               (displayName.empty() ? std::string("$DISPLAY") : displayName));
    }
    if (!handlerInstalled) {
        previousHandler = XSetErrorHandler(recordOwnErrors);
        handlerInstalled = true;
    }
    ownDisplays().insert(display);
    return display;
}

void closeDisplay(Display* display) {
    if (display) {
        ownDisplays().erase(display);
        XCloseDisplay(display);
    }
}

void clearRequestFailure() {
    lastRequestFailed = false;
}

bool syncFailed(Display* display) {
    XSync(display, False);
    return lastRequestFailed;
}

std::vector<unsigned long> property32(Display* display, Window window, Atom property, Atom type) {
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, False, type, &actualType,
                           &actualFormat, &count, &remaining, &data) == Success &&
        data && actualType == type && actualFormat == 32 && count > 0) {
        // Format 32 items come as longs on the client side.
        values.resize(count);
        std::memcpy(values.data(), data, count * sizeof(unsigned long));
    }
    if (data) {
        XFree(data);
    }
    return values;
}

std::int32_t windowPidProperty(Display* display, Window window, Atom pidAtom) {
    auto values = property32(display, window, pidAtom, XA_CARDINAL);
    if (!values.empty() && values.front() > 0 && values.front() <= INT32_MAX) {
        return static_cast<std::int32_t>(values.front());
    }
    return -1;
}

}  // namespace tesvano::platform::x11

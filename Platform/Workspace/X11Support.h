#pragma once

// Xlib helpers shared by the workspace backends; internal to Platform/Workspace.

#include <X11/Xlib.h>

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

namespace tesvano::platform::x11 {

// Opens a connection whose protocol errors are recorded rather than fatal: windows vanish
// between a list and a read. Errors of every other connection still go to the handler that
// was installed before ours. An empty name means $DISPLAY.
std::expected<Display*, std::string> openDisplay(const std::string& displayName);
void closeDisplay(Display* display);

// Forgets the errors recorded so far; syncFailed then flushes the requests made since, waits
// for the server and says whether any of them failed.
void clearRequestFailure();
bool syncFailed(Display* display);

// A format-32 property of the given type; empty when absent or of another type.
std::vector<unsigned long> property32(Display* display, Window window, Atom property, Atom type);

// The process a window names in _NET_WM_PID, or -1.
std::int32_t windowPidProperty(Display* display, Window window, Atom pidAtom);

}  // namespace tesvano::platform::x11

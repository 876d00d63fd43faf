#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <memory>
#include <string>

#include "tests/support/Wait.h"

namespace tesvano::test {

// A private Xvfb on a display number it picks itself; stopped with the object.
class XvfbServer {
public:
    // The Xvfb program on PATH, or empty when it is not installed.
    static std::string executable();
    // Starts the server and waits (at most `timeout`) until it accepts connections. `screen`
    // is Xvfb's WIDTHxHEIGHTxDEPTH.
    static std::expected<std::unique_ptr<XvfbServer>, std::string> start(
        std::chrono::milliseconds timeout = std::chrono::seconds(10),
        const std::string& screen = "640x480x24");
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N", for XOpenDisplay.
    const std::string& display() const { return display_; }
    // The server's process, for a test that ends it as a session's end does.
    pid_t pid() const { return pid_; }

private:
    XvfbServer(pid_t pid, std::string display) : pid_(pid), display_(std::move(display)) {}

    pid_t pid_;
    std::string display_;
};

// Whether a window manager has announced itself on `display` (_NET_SUPPORTING_WM_CHECK),
// waiting at most `timeout`.
bool windowManagerRuns(const std::string& display, std::chrono::milliseconds timeout);

}  // namespace tesvano::test

#include "tests/support/FakeXEmbedTray.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>

namespace tesvano::test {

std::expected<std::unique_ptr<FakeXEmbedTray>, std::string> FakeXEmbedTray::start() {
    if (XvfbServer::executable().empty()) {
        return std::unexpected("Xvfb is not installed (scripts/deps installs it)");
    }
    auto server = XvfbServer::start();
    if (!server) {
        return std::unexpected(server.error());
    }
    std::unique_ptr<FakeXEmbedTray> tray(new FakeXEmbedTray());
    tray->server_ = std::move(*server);
    tray->display_ = XOpenDisplay(tray->server_->display().c_str());
    if (tray->display_ == nullptr) {
        return std::unexpected("cannot open " + tray->server_->display());
    }
    Display* d = tray->display_;
    tray->window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(d, XInternAtom(d, "_NET_SYSTEM_TRAY_S0", False), tray->window_, CurrentTime);
    XSync(d, False);
    if (const char* display = std::getenv("DISPLAY")) {
        tray->savedDisplay_ = display;
    }
    ::setenv("DISPLAY", tray->server_->display().c_str(), 1);
    return tray;
}

FakeXEmbedTray::~FakeXEmbedTray() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
    if (savedDisplay_) {
        ::setenv("DISPLAY", savedDisplay_->c_str(), 1);
    } else {
        ::unsetenv("DISPLAY");
    }
}

void FakeXEmbedTray::setForeground(std::optional<unsigned> rgb) {
    const Atom colours = XInternAtom(display_, "_NET_SYSTEM_TRAY_COLORS", False);
    if (!rgb) {
        XDeleteProperty(display_, window_, colours);
    } else {
        // Foreground, error, warning, success: only the first matters to a plain icon.
        long values[12] = {};
        for (int i = 0; i < 3; ++i) {
            values[i] = static_cast<long>((*rgb >> (16 - 8 * i)) & 0xFF) * 257;
        }
        XChangeProperty(display_, window_, colours, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(values), 12);
    }
    XSync(display_, False);
}

}  // namespace tesvano::test

#include "Platform/Workspace/TrayHosts.h"

#if TESVANO_HAVE_SYSTEMD
#include <systemd/sd-bus.h>
#endif

// clang-format off
#include <X11/Xlib.h>
// clang-format on

#include <cstdint>
#include <string>

namespace tesvano::platform {

namespace {

std::optional<bool> readStatusNotifierHost() {
#if TESVANO_HAVE_SYSTEMD
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) {
        return std::nullopt;
    }
    sd_bus_set_method_call_timeout(bus, 250U * 1000U);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int registered = 0;
    const int r =
        sd_bus_get_property_trivial(bus, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                    "org.kde.StatusNotifierWatcher",
                                    "IsStatusNotifierHostRegistered", &error, 'b', &registered);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    if (r < 0) {
        return std::nullopt;
    }
    return registered != 0;
#else
    return std::nullopt;
#endif
}

bool readXEmbedTray() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.c_str(), False);
    const bool owned = XGetSelectionOwner(display, selection) != 0;
    XCloseDisplay(display);
    return owned;
}

}  // namespace

TrayHosts probeTrayHosts() {
    return TrayHosts{readStatusNotifierHost(), readXEmbedTray()};
}

}  // namespace tesvano::platform

#include "Platform/Workspace/TrayHosts.h"

#if TESVANO_HAVE_SYSTEMD
#include <systemd/sd-bus.h>
#endif

// clang-format off
#include <X11/Xlib.h>
// clang-format on

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tesvano::platform {

namespace {

#if TESVANO_HAVE_SYSTEMD
// Hosts take a bus name of this form by convention; KDE's kded5 watcher answers true to
// IsStatusNotifierHostRegistered with none of them on the bus.
bool anyHostName(sd_bus* bus) {
    char** names = nullptr;
    if (sd_bus_list_names(bus, &names, nullptr) < 0 || names == nullptr) {
        return false;
    }
    bool found = false;
    for (char** name = names; *name != nullptr; ++name) {
        const std::string_view text(*name);
        found = found || text.starts_with("org.kde.StatusNotifierHost") ||
                text.starts_with("org.freedesktop.StatusNotifierHost");
        std::free(*name);
    }
    std::free(names);
    return found;
}

std::string nameOwner(sd_bus* bus, const char* name) {
    sd_bus_message* reply = nullptr;
    const char* owner = nullptr;
    std::string out;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetNameOwner", nullptr, &reply, "s",
                           name) >= 0 &&
        sd_bus_message_read(reply, "s", &owner) > 0 && owner) {
        out = owner;
    }
    sd_bus_message_unref(reply);
    return out;
}

// GNOME's AppIndicator extension is watcher and host at once, in the shell's own process, and
// takes no host name.
bool watcherInShell(sd_bus* bus) {
    const std::string watcher = nameOwner(bus, "org.kde.StatusNotifierWatcher");
    return !watcher.empty() && watcher == nameOwner(bus, "org.gnome.Shell");
}
#endif

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
    const bool host = r >= 0 && registered != 0 && (anyHostName(bus) || watcherInShell(bus));
    sd_bus_flush_close_unref(bus);
    if (r < 0) {
        return std::nullopt;
    }
    return host;
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

bool statusNotifierWatcherRuns() {
#if TESVANO_HAVE_SYSTEMD
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) {
        return false;
    }
    const bool runs = !nameOwner(bus, "org.kde.StatusNotifierWatcher").empty();
    sd_bus_flush_close_unref(bus);
    return runs;
#else
    return false;
#endif
}

TrayHosts probeTrayHosts() {
    return TrayHosts{readStatusNotifierHost(), readXEmbedTray()};
}

}  // namespace tesvano::platform

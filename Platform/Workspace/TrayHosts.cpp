#include "Platform/Workspace/TrayHosts.h"

#include "Platform/DBus/SessionBus.h"

// clang-format off
#include <X11/Xlib.h>
// clang-format on

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tesvano::platform {

namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";

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

// GNOME's AppIndicator extension is watcher and host at once, in the shell's own process, and
// takes no host name.
bool watcherInShell(dbus::Connection& bus) {
    const auto watcher = bus.nameOwner(kWatcher);
    return watcher && watcher == bus.nameOwner("org.gnome.Shell");
}

std::optional<bool> readStatusNotifierHost() {
    // A watcher the bus starts on demand is asked too: one that nobody had started has no host.
    auto bus = dbus::Connection::open({}, dbus::CallOptions{dbus::callTimeout, true});
    if (!bus) {
        return std::nullopt;
    }
    const auto registered =
        bus->readBool(dbus::Object{kWatcher, "/StatusNotifierWatcher", kWatcher},
                      "IsStatusNotifierHostRegistered");
    if (!registered) {
        return std::nullopt;
    }
    return *registered && (anyHostName(bus->get()) || watcherInShell(*bus));
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
    auto bus = dbus::Connection::open();
    return bus && bus->nameOwner(kWatcher).has_value();
}

TrayHosts probeTrayHosts() {
    return TrayHosts{readStatusNotifierHost(), readXEmbedTray()};
}

}  // namespace tesvano::platform

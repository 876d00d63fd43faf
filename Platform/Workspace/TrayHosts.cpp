#include "Platform/Workspace/TrayHosts.h"

#include "Platform/DBus/SessionBus.h"
#include "Platform/Workspace/X11Support.h"

// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tesvano::platform {

namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";

std::string traySelectionName(Display* display) {
    return "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display));
}

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
    const std::string name = traySelectionName(display);
    const Atom selection = XInternAtom(display, name.c_str(), False);
    const bool owned = XGetSelectionOwner(display, selection) != 0;
    XCloseDisplay(display);
    return owned;
}

}  // namespace

std::optional<TrayColour> trayForegroundOf(const unsigned long* values, unsigned long count) {
    if (values == nullptr || count < 3) {
        return std::nullopt;
    }
    const auto eight = [](unsigned long value) {
        return static_cast<int>(std::min<unsigned long>(value, 0xFFFF) * 255 / 0xFFFF);
    };
    return TrayColour{eight(values[0]), eight(values[1]), eight(values[2])};
}

std::optional<TrayColour> readTrayForeground() {
    // Errors recorded, not fatal: the tray may go between the two requests.
    auto opened = x11::openDisplay({});
    if (!opened) {
        return std::nullopt;
    }
    Display* display = *opened;
    const std::string name = traySelectionName(display);
    const Window tray = XGetSelectionOwner(display, XInternAtom(display, name.c_str(), False));
    std::vector<unsigned long> values;
    if (tray != 0) {
        values = x11::property32(
            display, tray, XInternAtom(display, "_NET_SYSTEM_TRAY_COLORS", False), XA_CARDINAL);
    }
    x11::closeDisplay(display);
    return trayForegroundOf(values.data(), values.size());
}

bool xembedTrayRuns() {
    return readXEmbedTray();
}

bool statusNotifierWatcherRuns() {
    auto bus = dbus::Connection::open();
    return bus && bus->nameOwner(kWatcher).has_value();
}

TrayHosts probeTrayHosts() {
    return TrayHosts{readStatusNotifierHost(), readXEmbedTray()};
}

struct TrayHostWatcher::Impl {
    Runtime& runtime;
    std::function<void()> changed;
    dbus::Lifetime lifetime;

    std::optional<dbus::Connection> bus;
    dbus::NameWatcher watcher{kWatcher, [this](const std::string&) { tell(); }};
    dbus::Slot registered;
    dbus::Slot unregistered;
    std::optional<dbus::BusLoop> busLoop;

    Display* display = nullptr;
    Atom selection = 0;
    Atom manager = 0;
    Atom colours = 0;
    Window tray = 0;
    Registration readable;

    Impl(Runtime& rt, std::function<void()> c) : runtime(rt), changed(std::move(c)) {}
    ~Impl() {
        readable = {};
        if (display != nullptr) {
            x11::closeDisplay(display);
        }
    }

    // After the bus's or the display's dispatch, where the listener may probe the bus again.
    void tell() {
        lifetime.later(runtime, [this] {
            if (changed) {
                changed();
            }
        });
    }

    static int onHostSignal(sd_bus_message*, void* data, sd_bus_error*) {
        static_cast<Impl*>(data)->tell();
        return 0;
    }

    int watchBus() {
        auto connection = dbus::Connection::open();
        if (!connection) {
            return -ENOTCONN;
        }
        bus.emplace(std::move(*connection));
        int r = watcher.start(*bus);
        for (auto [slot, member] : {std::pair{&registered, "StatusNotifierHostRegistered"},
                                    std::pair{&unregistered, "StatusNotifierHostUnregistered"}}) {
            r = r >= 0 ? sd_bus_match_signal(bus->get(), slot->out(), nullptr,
                                             "/StatusNotifierWatcher", kWatcher, member,
                                             onHostSignal, this)
                       : r;
        }
        if (r >= 0) {
            busLoop.emplace(runtime, *bus);
        }
        return r;
    }

    // The tray's window, its end watched; 0 when no tray owns the selection.
    void followTray() {
        x11::clearRequestFailure();
        tray = XGetSelectionOwner(display, selection);
        if (tray != 0) {
            XSelectInput(display, tray, StructureNotifyMask | PropertyChangeMask);
        }
        if (x11::syncFailed(display)) {
            tray = 0;  // gone between the two requests; its successor announces itself
        }
    }

    bool watchDisplay() {
        auto opened = x11::openDisplay({});
        if (!opened) {
            return false;
        }
        display = *opened;
        const std::string name = traySelectionName(display);
        selection = XInternAtom(display, name.c_str(), False);
        manager = XInternAtom(display, "MANAGER", False);
        colours = XInternAtom(display, "_NET_SYSTEM_TRAY_COLORS", False);
        // A new tray announces itself to the root window's clients.
        XSelectInput(display, DefaultRootWindow(display), StructureNotifyMask);
        followTray();
        readable = runtime.watchReadable(ConnectionNumber(display), [this] { readDisplay(); });
        return true;
    }

    void readDisplay() {
        bool news = false;
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            const bool announced = event.type == ClientMessage &&
                                   event.xclient.message_type == manager &&
                                   static_cast<Atom>(event.xclient.data.l[1]) == selection;
            const bool gone =
                event.type == DestroyNotify && tray != 0 && event.xdestroywindow.window == tray;
            if (announced || gone) {
                followTray();
                news = true;
            }
            news = news || (event.type == PropertyNotify && event.xproperty.window == tray &&
                            event.xproperty.atom == colours);
        }
        if (news) {
            tell();
        }
    }
};

std::expected<std::unique_ptr<TrayHostWatcher>, std::string> TrayHostWatcher::open(
    Runtime& runtime, std::function<void()> changed) {
    auto impl = std::make_unique<Impl>(runtime, std::move(changed));
    const int r = impl->watchBus();
    const bool display = impl->watchDisplay();
    if (r < 0 && !display) {
        return std::unexpected("cannot follow the trays: " + std::string(std::strerror(-r)) +
                               ", and no display");
    }
    return std::unique_ptr<TrayHostWatcher>(new TrayHostWatcher(std::move(impl)));
}

TrayHostWatcher::TrayHostWatcher(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TrayHostWatcher::~TrayHostWatcher() = default;

}  // namespace tesvano::platform

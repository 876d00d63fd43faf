#include "Platform/Workspace/X11Workspace.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <utility>

#include "Platform/Log/Log.h"
#include "Platform/Workspace/ApplicationIdentity.h"
#include "Platform/Workspace/X11Support.h"

namespace tesvano::platform {

namespace {

const Logger& logger() {
    static const Logger log("workspace");
    return log;
}

std::optional<std::string> executableOf(std::int32_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    std::error_code ec;
    auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    if (ec || target.empty()) {
        return std::nullopt;
    }
    auto path = target.string();
    // The binary was replaced (an upgrade) while the process runs.
    constexpr std::string_view deleted = " (deleted)";
    if (path.ends_with(deleted)) {
        path.resize(path.size() - deleted.size());
    }
    return path;
}

}  // namespace

struct X11Workspace::Impl {
    Runtime& runtime;
    DesktopEntryIndex entries;
    Display* display = nullptr;
    Window root = 0;
    bool hasXRes = false;
    Atom activeWindowAtom = 0;
    Atom clientListAtom = 0;
    Atom wmPidAtom = 0;
    Atom gtkApplicationIDAtom = 0;
    Atom kdeDesktopFileAtom = 0;
    Atom utf8StringAtom = 0;
    Atom windowAtom = 0;

    WorkspaceObserverList observers;
    Registration fdWatch;
    Registration pendingDrain;
    // What each known window says about its application; windows leave with the client list.
    std::map<Window, RunningApplication> windowApplications;
    std::optional<RunningApplication> lastActive;
    // The active window as of the last read. Every change of it is announced to us, so it is
    // read again only when such an announcement has arrived since: the lock asks for the
    // active application on every activation, and a round trip costs more than the rest.
    std::optional<std::optional<Window>> knownActiveWindow;
    std::vector<RunningApplication> lastRunning;

    Impl(Runtime& r, DesktopEntryIndex e) : runtime(r), entries(std::move(e)) {}

    // When the events being drained woke us, and when the latest activation's did.
    Seconds wokeAt{0};
    std::optional<Seconds> activationArrival;

    ~Impl() {
        fdWatch.cancel();
        pendingDrain.cancel();
        x11::closeDisplay(display);
    }

    std::vector<unsigned long> property32(Window window, Atom property, Atom type) {
        return x11::property32(display, window, property, type);
    }

    std::optional<std::string> utf8Property(Window window, Atom property) {
        Atom actualType = 0;
        int actualFormat = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        std::optional<std::string> value;
        if (XGetWindowProperty(display, window, property, 0, 1024, False, utf8StringAtom,
                               &actualType, &actualFormat, &count, &remaining, &data) == Success &&
            data && actualType == utf8StringAtom && actualFormat == 8 && count > 0) {
            value.emplace(reinterpret_cast<const char*>(data), count);
        }
        if (data) {
            XFree(data);
        }
        return value;
    }

    std::int32_t processOf(Window window) {
        if (auto pid = x11::windowPidProperty(display, window, wmPidAtom); pid > 0) {
            return pid;
        }
        if (!hasXRes) {
            return -1;
        }
        // The process of the client that made the window; known for local clients only.
        XResClientIdSpec spec{window, XRES_CLIENT_ID_PID_MASK};
        long count = 0;
        XResClientIdValue* values = nullptr;
        std::int32_t pid = -1;
        if (XResQueryClientIds(display, 1, &spec, &count, &values) == Success) {
            for (long i = 0; i < count && pid <= 0; ++i) {
                pid = static_cast<std::int32_t>(XResGetClientPid(&values[i]));
            }
            XResClientIdsDestroy(count, values);
        }
        return pid > 0 ? pid : -1;
    }

    RunningApplication applicationOf(Window window) {
        if (auto it = windowApplications.find(window); it != windowApplications.end()) {
            return it->second;
        }
        WindowIdentityHints hints;
        hints.gtkApplicationID = utf8Property(window, gtkApplicationIDAtom);
        hints.kdeDesktopFile = utf8Property(window, kdeDesktopFileAtom);
        XClassHint classHint{nullptr, nullptr};
        if (XGetClassHint(display, window, &classHint) != 0) {
            if (classHint.res_name) {
                hints.wmClassInstance = classHint.res_name;
                XFree(classHint.res_name);
            }
            if (classHint.res_class) {
                hints.wmClassName = classHint.res_class;
                XFree(classHint.res_class);
            }
        }
        RunningApplication app;
        app.processIdentifier = processOf(window);
        app.executablePath = executableOf(app.processIdentifier);
        hints.executablePath = app.executablePath;
        app.appId = desktopEntryIdentifier(hints, entries);
        windowApplications.emplace(window, app);
        return app;
    }

    std::optional<Window> readActiveWindow() {
        auto windows = property32(root, activeWindowAtom, windowAtom);
        std::optional<Window> window;
        if (!windows.empty() && windows.front() != 0) {
            window = static_cast<Window>(windows.front());
        }
        knownActiveWindow = window;
        return window;
    }

    // Whether a change of the active window has arrived and waits to be drained; reads what
    // the server has sent, without waiting and without a round trip.
    bool activeWindowChangePending() {
        if (XEventsQueued(display, QueuedAfterReading) == 0) {
            return false;
        }
        struct Scan {
            Window root;
            Atom atom;
            bool found;
        } scan{root, activeWindowAtom, false};
        XEvent unused;
        // The predicate never matches, so nothing leaves the queue.
        XCheckIfEvent(
            display, &unused,
            [](Display*, XEvent* event, XPointer arg) -> Bool {
                auto* s = reinterpret_cast<Scan*>(arg);
                s->found = s->found ||
                           (event->type == PropertyNotify && event->xproperty.window == s->root &&
                            event->xproperty.atom == s->atom);
                return False;
            },
            reinterpret_cast<XPointer>(&scan));
        return scan.found;
    }

    std::optional<Window> activeWindow() {
        if (knownActiveWindow && !activeWindowChangePending()) {
            return *knownActiveWindow;
        }
        return readActiveWindow();
    }

    // The managed window that holds the keyboard focus or contains the window that does;
    // none when the focus is on no such window (the root, a panel, a menu of the desktop).
    std::optional<Window> focusedClient() {
        Window focus = None;
        int revertTo = 0;
        XGetInputFocus(display, &focus, &revertTo);
        if (focus == None || focus == PointerRoot) {
            return std::nullopt;
        }
        const auto clients = clientList();
        for (Window window = focus; window != None && window != root;) {
            if (std::ranges::find(clients, window) != clients.end()) {
                return window;
            }
            Window rootReturn = None;
            Window parent = None;
            Window* children = nullptr;
            unsigned count = 0;
            if (XQueryTree(display, window, &rootReturn, &parent, &children, &count) == 0) {
                return std::nullopt;  // gone meanwhile
            }
            if (children) {
                XFree(children);
            }
            window = parent;
        }
        return std::nullopt;
    }

    std::vector<Window> clientList() {
        auto values = property32(root, clientListAtom, windowAtom);
        return {values.begin(), values.end()};
    }

    std::vector<RunningApplication> readRunning() {
        const auto windows = clientList();
        // Forget windows that have left, so a reused window id is read afresh.
        std::erase_if(windowApplications, [&](const auto& item) {
            return std::ranges::find(windows, item.first) == windows.end();
        });
        std::vector<RunningApplication> running;
        for (auto window : windows) {
            auto app = applicationOf(window);
            if (app.processIdentifier <= 0) {
                continue;
            }
            if (std::ranges::find(running, app.processIdentifier,
                                  &RunningApplication::processIdentifier) == running.end()) {
                running.push_back(std::move(app));
            }
        }
        return running;
    }

    std::optional<RunningApplication> applicationOf(const std::optional<Window>& window) {
        if (!window) {
            return std::nullopt;
        }
        return applicationOf(*window);
    }

    static bool sameApplication(const RunningApplication& a, const RunningApplication& b) {
        if (a.processIdentifier > 0 || b.processIdentifier > 0) {
            return a.processIdentifier == b.processIdentifier;
        }
        return a == b;
    }

    void activeWindowChanged() {
        // Announced by the event being handled: read it afresh.
        auto app = applicationOf(readActiveWindow());
        if (!app) {
            // Nothing has the focus; whatever gets it next is an activation.
            lastActive.reset();
            return;
        }
        if (lastActive && sameApplication(*lastActive, *app)) {
            return;
        }
        lastActive = app;
        activationArrival = wokeAt;
        observers.post(WorkspaceNotification::applicationActivated, *app);
    }

    void clientListChanged() {
        auto running = readRunning();
        auto contains = [](const std::vector<RunningApplication>& list, std::int32_t pid) {
            return std::ranges::find(list, pid, &RunningApplication::processIdentifier) !=
                   list.end();
        };
        auto previous = std::exchange(lastRunning, running);
        for (const auto& app : previous) {
            if (!contains(running, app.processIdentifier)) {
                observers.post(WorkspaceNotification::applicationExited, app);
            }
        }
        for (const auto& app : running) {
            if (!contains(previous, app.processIdentifier)) {
                observers.post(WorkspaceNotification::applicationLaunched, app);
            }
        }
    }

    void drain() {
        wokeAt = runtime.uptime();
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != PropertyNotify || event.xproperty.window != root) {
                continue;
            }
            if (event.xproperty.atom == clientListAtom) {
                clientListChanged();
            } else if (event.xproperty.atom == activeWindowAtom) {
                activeWindowChanged();
            }
        }
    }

    // A reply read during a request may have pulled events into Xlib's queue, where the fd
    // watch would not see them; hand them to the main loop.
    void drainQueuedSoon() {
        if (XEventsQueued(display, QueuedAlready) > 0 && !pendingDrain.active()) {
            pendingDrain = runtime.after(Seconds(0), [this] {
                pendingDrain.detach();
                drain();
            });
        }
    }
};

std::expected<std::unique_ptr<X11Workspace>, std::string> X11Workspace::open(
    Runtime& runtime, DesktopEntryIndex entries, const std::string& displayName) {
    auto impl = std::make_unique<Impl>(runtime, std::move(entries));
    auto opened = x11::openDisplay(displayName);
    if (!opened) {
        return std::unexpected(opened.error());
    }
    impl->display = *opened;

    Display* display = impl->display;
    impl->root = XDefaultRootWindow(display);
    impl->activeWindowAtom = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    impl->clientListAtom = XInternAtom(display, "_NET_CLIENT_LIST", False);
    impl->wmPidAtom = XInternAtom(display, "_NET_WM_PID", False);
    impl->gtkApplicationIDAtom = XInternAtom(display, "_GTK_APPLICATION_ID", False);
    impl->kdeDesktopFileAtom = XInternAtom(display, "_KDE_NET_WM_DESKTOP_FILE", False);
    impl->utf8StringAtom = XInternAtom(display, "UTF8_STRING", False);
    impl->windowAtom = XInternAtom(display, "WINDOW", False);
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    impl->hasXRes = XResQueryExtension(display, &eventBase, &errorBase) != 0 &&
                    XResQueryVersion(display, &major, &minor) != 0 &&
                    (major > 1 || (major == 1 && minor >= 2));
    XSelectInput(display, impl->root, PropertyChangeMask);

    impl->lastRunning = impl->readRunning();
    impl->lastActive = impl->applicationOf(impl->readActiveWindow());
    Impl* raw = impl.get();
    impl->fdWatch = runtime.watchReadable(XConnectionNumber(display), [raw] { raw->drain(); });
    raw->drainQueuedSoon();
    logger().debug("Following the X display; desktop entries: %d",
                   static_cast<int>(raw->entries.entries().size()));
    return std::unique_ptr<X11Workspace>(new X11Workspace(std::move(impl)));
}

X11Workspace::X11Workspace(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

X11Workspace::~X11Workspace() = default;

std::optional<RunningApplication> X11Workspace::activeApplication() {
    auto app = impl_->applicationOf(impl_->activeWindow());
    impl_->drainQueuedSoon();
    return app;
}

std::optional<RunningApplication> X11Workspace::focusedApplication() {
    auto app = impl_->applicationOf(impl_->focusedClient());
    impl_->drainQueuedSoon();
    return app;
}

std::vector<RunningApplication> X11Workspace::runningApplications() {
    auto running = impl_->readRunning();
    impl_->drainQueuedSoon();
    return running;
}

void X11Workspace::setDesktopEntries(DesktopEntryIndex entries) {
    impl_->entries = std::move(entries);
}

std::optional<Seconds> X11Workspace::activationArrivedAt() const {
    return impl_->activationArrival;
}

Registration X11Workspace::addObserver(WorkspaceNotification notification, Observer observer) {
    return impl_->observers.add(notification, std::move(observer));
}

}  // namespace tesvano::platform

#include "Platform/Workspace/X11WindowList.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <map>
#include <optional>

#include "Platform/Workspace/X11Support.h"

namespace tesvano::platform {

struct X11WindowList::Impl {
    Runtime& runtime;
    Display* display = nullptr;
    Window root = 0;
    Atom stackingAtom = 0;
    Atom clientListAtom = 0;
    Atom pidAtom = 0;
    Atom frameExtentsAtom = 0;
    Atom stateAtom = 0;
    Atom hiddenAtom = 0;
    Atom activeAtom = 0;
    Registration fdWatch;
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    struct Watch {
        Window window;
        std::shared_ptr<Registration::State> state;
        std::shared_ptr<std::function<void()>> changed;
    };
    std::vector<Watch> watches;

    explicit Impl(Runtime& r) : runtime(r) {}
    ~Impl() {
        fdWatch.cancel();
        x11::closeDisplay(display);
    }

    std::vector<unsigned long> property32(Window window, Atom property, Atom type) {
        return x11::property32(display, window, property, type);
    }

    // A window keeps its process and its class for life; asked once per window.
    struct Identity {
        std::int32_t pid = -1;
        std::string instanceName;
        std::string className;
    };
    std::map<Window, Identity> identities;

    const Identity& identityOf(Window window) {
        if (auto it = identities.find(window); it != identities.end()) {
            return it->second;
        }
        Identity identity;
        identity.pid = x11::windowPidProperty(display, window, pidAtom);
        XClassHint hint{};
        if (XGetClassHint(display, window, &hint) != 0) {
            identity.instanceName = hint.res_name != nullptr ? hint.res_name : "";
            identity.className = hint.res_class != nullptr ? hint.res_class : "";
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        return identities.emplace(window, std::move(identity)).first->second;
    }

    std::optional<ListedWindow> read(Window window, const Identity& identity) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, window, &attributes) == 0) {
            return std::nullopt;
        }
        int x = 0;
        int y = 0;
        Window child = 0;
        if (XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child) == 0) {
            return std::nullopt;
        }
        ListedWindow listed;
        listed.id = window;
        listed.processIdentifier = identity.pid;
        listed.instanceName = identity.instanceName;
        listed.className = identity.className;
        // left, right, top, bottom
        auto extents = property32(window, frameExtentsAtom, XA_CARDINAL);
        double left = 0, right = 0, top = 0, bottom = 0;
        if (extents.size() == 4) {
            left = static_cast<double>(extents[0]);
            right = static_cast<double>(extents[1]);
            top = static_cast<double>(extents[2]);
            bottom = static_cast<double>(extents[3]);
        }
        listed.frame = Rect{x - left, y - top, attributes.width + left + right,
                            attributes.height + top + bottom};
        auto states = property32(window, stateAtom, XA_ATOM);
        const bool hidden = std::ranges::find(states, hiddenAtom) != states.end();
        listed.onScreen = attributes.map_state == IsViewable && !hidden;
        return listed;
    }

    void drain() {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            Window window = 0;
            switch (event.type) {
                case ConfigureNotify:
                    window = event.xconfigure.window;
                    break;
                case DestroyNotify:
                    window = event.xdestroywindow.window;
                    break;
                case UnmapNotify:
                    window = event.xunmap.window;
                    break;
                case MapNotify:
                    window = event.xmap.window;
                    break;
                case PropertyNotify:
                    window = event.xproperty.window;
                    // A window id comes back with the next client: forget the identities once
                    // the list changes.
                    if (window == root && event.xproperty.atom == clientListAtom) {
                        identities.clear();
                    }
                    break;
                default:
                    continue;
            }
            std::erase_if(watches, [](const Watch& w) { return w.state->cancelled; });
            auto copy = watches;
            for (const auto& w : copy) {
                if (w.window == window && !w.state->cancelled) {
                    (*w.changed)();
                }
            }
        }
    }
};

std::expected<std::unique_ptr<X11WindowList>, std::string> X11WindowList::open(
    Runtime& runtime, const std::string& displayName) {
    auto impl = std::make_unique<Impl>(runtime);
    auto opened = x11::openDisplay(displayName);
    if (!opened) {
        return std::unexpected(opened.error());
    }
    impl->display = *opened;
    Display* d = impl->display;
    impl->root = XDefaultRootWindow(d);
    impl->stackingAtom = XInternAtom(d, "_NET_CLIENT_LIST_STACKING", False);
    impl->clientListAtom = XInternAtom(d, "_NET_CLIENT_LIST", False);
    impl->pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    impl->frameExtentsAtom = XInternAtom(d, "_NET_FRAME_EXTENTS", False);
    impl->stateAtom = XInternAtom(d, "_NET_WM_STATE", False);
    impl->hiddenAtom = XInternAtom(d, "_NET_WM_STATE_HIDDEN", False);
    impl->activeAtom = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    XSelectInput(d, impl->root, PropertyChangeMask);
    Impl* raw = impl.get();
    impl->fdWatch = runtime.watchReadable(XConnectionNumber(d), [raw] { raw->drain(); });
    return std::unique_ptr<X11WindowList>(new X11WindowList(std::move(impl)));
}

namespace {

// The listed windows, front to back, of those whose identity is wanted.
std::vector<ListedWindow> listWindows(
    X11WindowList::Impl& i,
    const std::function<bool(const X11WindowList::Impl::Identity&)>& wanted) {
    // Bottom to top; a manager without the stacking list still has the plain one.
    auto ids = i.property32(i.root, i.stackingAtom, XA_WINDOW);
    if (ids.empty()) {
        ids = i.property32(i.root, i.clientListAtom, XA_WINDOW);
    }
    // Changes of the list announced before our read are queued by now.
    i.drain();
    std::erase_if(i.identities, [&](const auto& item) {
        return std::ranges::find(ids, item.first) == ids.end();
    });
    std::vector<ListedWindow> list;
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        const auto window = static_cast<Window>(*it);
        const auto& identity = i.identityOf(window);
        if (!wanted(identity)) {
            continue;
        }
        if (auto w = i.read(window, identity)) {
            list.push_back(*w);
        }
    }
    // Replies may have pulled events into Xlib's queue, where the fd watch does not see them.
    if (XEventsQueued(i.display, QueuedAlready) > 0) {
        i.runtime.post(Seconds(0), [raw = &i, alive = std::weak_ptr<int>(i.alive)] {
            if (!alive.expired()) {
                raw->drain();
            }
        });
    }
    return list;
}

}  // namespace

X11WindowList::X11WindowList(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
X11WindowList::~X11WindowList() = default;

std::vector<ListedWindow> X11WindowList::windows(std::span<const std::int32_t> processes) {
    if (processes.empty()) {
        return listWindows(*impl_, [](const Impl::Identity&) { return true; });
    }
    return listWindows(*impl_, [&](const Impl::Identity& identity) {
        return std::ranges::find(processes, identity.pid) != processes.end();
    });
}

std::vector<ListedWindow> X11WindowList::windowsMatching(std::span<const std::int32_t> processes,
                                                         std::span<const std::string> classes) {
    if (processes.empty() && classes.empty()) {
        return {};
    }
    return listWindows(*impl_, [&](const Impl::Identity& identity) {
        ListedWindow probe;
        probe.instanceName = identity.instanceName;
        probe.className = identity.className;
        return std::ranges::find(processes, identity.pid) != processes.end() ||
               windowHasClass(probe, classes);
    });
}

std::expected<Registration, std::string> X11WindowList::observe(unsigned long window,
                                                                std::function<void()> changed) {
    auto& i = *impl_;
    x11::clearRequestFailure();
    XSelectInput(i.display, static_cast<Window>(window), StructureNotifyMask | PropertyChangeMask);
    if (x11::syncFailed(i.display)) {
        return std::unexpected("the window is gone");
    }
    auto state = std::make_shared<Registration::State>();
    i.watches.push_back({static_cast<Window>(window), state,
                         std::make_shared<std::function<void()>>(std::move(changed))});
    return Registration(state);
}

bool X11WindowList::activate(unsigned long window) {
    auto& i = *impl_;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = static_cast<Window>(window);
    event.xclient.message_type = i.activeAtom;
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // a pager-like request, which managers honour
    event.xclient.data.l[1] = CurrentTime;
    x11::clearRequestFailure();
    XSendEvent(i.display, i.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    return !x11::syncFailed(i.display);
}

}  // namespace tesvano::platform

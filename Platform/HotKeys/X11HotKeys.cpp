#include "Platform/HotKeys/X11HotKeys.h"

// clang-format off
#include <X11/Xlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/XKBlib.h>
#include <X11/keysym.h>
// clang-format on
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <map>
#include <vector>

#include "Platform/Log/Log.h"

namespace tesvano::platform {

namespace {

const Logger& log() {
    static const Logger logger("HotKeys");
    return logger;
}

// Catches the errors of the requests sent while it lives on one display, so that a refused
// grab is a result instead of the default handler's exit. Errors of other displays go on to
// the handler that was installed before.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display_(display) {
        XSync(display_, False);  // earlier errors belong to the previous handler
        trapped_ = display_;
        errors_ = 0;
        previous_ = XSetErrorHandler(&ErrorTrap::handle);
    }
    ~ErrorTrap() { finish(); }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the server to answer everything sent so far; returns the number of errors.
    int finish() {
        if (trapped_ == display_) {
            XSync(display_, False);
            XSetErrorHandler(previous_);
            trapped_ = nullptr;
        }
        return errors_;
    }

private:
    static int handle(Display* display, XErrorEvent* error) {
        if (display == trapped_) {
            ++errors_;
            return 0;
        }
        return previous_ != nullptr ? previous_(display, error) : 0;
    }

    Display* display_;
    static inline Display* trapped_ = nullptr;
    static inline int errors_ = 0;
    static inline XErrorHandler previous_ = nullptr;
};

}  // namespace

struct X11HotKeys::Core : std::enable_shared_from_this<Core> {
    struct Grab {
        KeyCombination combination;
        std::shared_ptr<Handler> handler;
        bool held = true;
    };

    Core(Runtime& rt, Display* d, int xkbBase) : runtime(rt), display(d), xkbEventBase(xkbBase) {}

    Runtime& runtime;
    Display* display;
    Window root = 0;
    int xkbEventBase;
    int minKeycode = 8;
    int maxKeycode = 255;
    // Lock-modifier states grabbed for each combination; the first is "no lock".
    std::vector<std::uint32_t> lockVariants{0};
    std::map<std::uint64_t, Grab> grabs;
    std::uint64_t nextId = 1;
    // Keys whose press was reported, by keycode, with the combination it fired.
    std::map<std::uint32_t, KeyCombination> pressed;
    Registration watch;
    Registration pendingDrain;
    bool draining = false;
    bool keyboardChanged = false;
    int repeatsIgnored = 0;

    xkb_context* xkbContext = nullptr;
    xkb_keymap* keymap = nullptr;
    std::vector<bool> latinLayouts;  // per layout of `keymap`: types every letter a–z

    void start() {
        root = XDefaultRootWindow(display);
        XDisplayKeycodes(display, &minKeycode, &maxKeycode);
        Bool supported = False;
        XkbSetDetectableAutoRepeat(display, True, &supported);
        if (!supported) {
            log().warning("The X server cannot report held keys without releases");
        }
        const unsigned int events = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
        XkbSelectEvents(display, XkbUseCoreKbd, events, events);
        lockVariants = computeLockVariants();
        std::weak_ptr<Core> weak = shared_from_this();
        watch = runtime.watchReadable(XConnectionNumber(display), [weak] {
            if (auto core = weak.lock()) {
                core->drain();
            }
        });
        scheduleDrain();
    }

    void close() {
        watch.cancel();
        pendingDrain.cancel();
        if (display == nullptr) {
            return;
        }
        for (auto& [id, g] : grabs) {
            if (g.held) {
                serverUngrab(g.combination);
            }
        }
        grabs.clear();
        dropKeymap();
        if (xkbContext != nullptr) {
            xkb_context_unref(xkbContext);
            xkbContext = nullptr;
        }
        XCloseDisplay(display);
        display = nullptr;
    }

    // The modifier bits that Num Lock and Scroll Lock are mapped to, read fresh from the
    // server, and every combination of them with Caps Lock.
    std::vector<std::uint32_t> computeLockVariants() {
        std::uint32_t numLock = 0;
        std::uint32_t scrollLock = 0;
        XModifierKeymap* modmap = XGetModifierMapping(display);
        int perKeycode = 0;
        const int count = maxKeycode - minKeycode + 1;
        KeySym* syms =
            XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode), count, &perKeycode);
        if (modmap != nullptr && syms != nullptr) {
            for (int mod = 0; mod < 8; ++mod) {
                for (int k = 0; k < modmap->max_keypermod; ++k) {
                    const int keycode = modmap->modifiermap[mod * modmap->max_keypermod + k];
                    if (keycode < minKeycode || keycode > maxKeycode) {
                        continue;
                    }
                    for (int j = 0; j < perKeycode; ++j) {
                        const KeySym sym = syms[(keycode - minKeycode) * perKeycode + j];
                        if (sym == XK_Num_Lock) {
                            numLock |= 1U << mod;
                        } else if (sym == XK_Scroll_Lock) {
                            scrollLock |= 1U << mod;
                        }
                    }
                }
            }
        }
        if (syms != nullptr) {
            XFree(syms);
        }
        if (modmap != nullptr) {
            XFreeModifiermap(modmap);
        }
        const std::array<std::uint32_t, 3> locks{LockMask, numLock, scrollLock};
        std::vector<std::uint32_t> variants;
        for (unsigned subset = 0; subset < 8; ++subset) {
            std::uint32_t mask = 0;
            for (unsigned i = 0; i < 3; ++i) {
                if ((subset & (1U << i)) != 0) {
                    mask |= locks[i];
                }
            }
            // A lock sharing a bit with a shortcut modifier would change the combination.
            if ((mask & KeyCombination::shortcutModifiers) != 0) {
                continue;
            }
            if (std::find(variants.begin(), variants.end(), mask) == variants.end()) {
                variants.push_back(mask);
            }
        }
        return variants;
    }

    bool serverGrab(KeyCombination c) {
        ErrorTrap trap(display);
        for (std::uint32_t lock : lockVariants) {
            XGrabKey(display, static_cast<int>(c.keycode), c.modifiers | lock, root, False,
                     GrabModeAsync, GrabModeAsync);
        }
        if (trap.finish() == 0) {
            return true;
        }
        // All or nothing: ungrabbing only gives back what this connection got.
        serverUngrab(c);
        return false;
    }

    void serverUngrab(KeyCombination c) {
        // Trapped too: an error here must not reach the default handler, which exits.
        ErrorTrap trap(display);
        for (std::uint32_t lock : lockVariants) {
            XUngrabKey(display, static_cast<int>(c.keycode), c.modifiers | lock, root);
        }
    }

    bool validKeycode(std::uint32_t keycode) const {
        return keycode >= static_cast<std::uint32_t>(minKeycode) &&
               keycode <= static_cast<std::uint32_t>(maxKeycode);
    }

    const Grab* find(KeyCombination c) const {
        for (const auto& [id, g] : grabs) {
            if (g.combination == c) {
                return &g;
            }
        }
        return nullptr;
    }

    HotKeyGrab grab(KeyCombination c, Handler handler) {
        c.modifiers &= KeyCombination::shortcutModifiers;
        if (display == nullptr || !validKeycode(c.keycode) || find(c) != nullptr) {
            return {};
        }
        const bool ok = serverGrab(c);
        scheduleDrain();
        if (!ok) {
            log().info("Key %u with modifiers %u is held by another program", c.keycode,
                       c.modifiers);
            return {};
        }
        const std::uint64_t id = nextId++;
        grabs.emplace(id, Grab{c, std::make_shared<Handler>(std::move(handler))});
        return HotKeyGrab([weak = weak_from_this(), id] {
            if (auto core = weak.lock()) {
                core->release(id);
            }
        });
    }

    void release(std::uint64_t id) {
        auto it = grabs.find(id);
        if (it == grabs.end()) {
            return;
        }
        if (it->second.held && display != nullptr) {
            serverUngrab(it->second.combination);
        }
        grabs.erase(it);
    }

    bool heldElsewhere(KeyCombination c) {
        c.modifiers &= KeyCombination::shortcutModifiers;
        if (display == nullptr || !validKeycode(c.keycode) || find(c) != nullptr) {
            return false;
        }
        const bool free = serverGrab(c);
        if (free) {
            serverUngrab(c);
        }
        scheduleDrain();
        return !free;
    }

    void deliver(KeyCombination c, HotKeyEvent event) {
        const Grab* g = find(c);
        if (g == nullptr || !g->held) {
            return;
        }
        auto handler = g->handler;  // the handler may give its own grab back
        (*handler)(event);
    }

    void handle(XEvent& event) {
        if (event.type == KeyPress) {
            const auto keycode = static_cast<std::uint32_t>(event.xkey.keycode);
            if (pressed.contains(keycode)) {
                ++repeatsIgnored;  // the key is held and repeats
                return;
            }
            const KeyCombination c{keycode, event.xkey.state & KeyCombination::shortcutModifiers};
            if (find(c) == nullptr) {
                return;
            }
            pressed[keycode] = c;
            deliver(c, HotKeyEvent::pressed);
        } else if (event.type == KeyRelease) {
            // The release belongs to the key that was pressed, whatever modifiers are down now.
            auto it = pressed.find(static_cast<std::uint32_t>(event.xkey.keycode));
            if (it == pressed.end()) {
                return;
            }
            const KeyCombination c = it->second;
            pressed.erase(it);
            deliver(c, HotKeyEvent::released);
        } else if (event.type == MappingNotify) {
            if (event.xmapping.request != MappingPointer) {
                XRefreshKeyboardMapping(&event.xmapping);
                keyboardDidChange();
            }
        } else if (event.type == xkbEventBase) {
            const auto* xkb = reinterpret_cast<const XkbEvent*>(&event);
            if (xkb->any.xkb_type == XkbNewKeyboardNotify || xkb->any.xkb_type == XkbMapNotify) {
                keyboardDidChange();
            }
        }
    }

    void keyboardDidChange() {
        keyboardChanged = true;
        dropKeymap();
    }

    // After a mapping change the lock modifiers may sit on other bits: grab again with them.
    void regrab() {
        XDisplayKeycodes(display, &minKeycode, &maxKeycode);
        auto variants = computeLockVariants();
        if (variants == lockVariants) {
            return;
        }
        for (auto& [id, g] : grabs) {
            if (g.held) {
                serverUngrab(g.combination);
            }
        }
        lockVariants = std::move(variants);
        for (auto& [id, g] : grabs) {
            g.held = validKeycode(g.combination.keycode) && serverGrab(g.combination);
            if (!g.held) {
                log().warning("Key %u with modifiers %u could not be grabbed again",
                              g.combination.keycode, g.combination.modifiers);
            }
        }
    }

    void drain() {
        if (draining) {
            return;  // the outer loop picks up what arrives meanwhile
        }
        auto keepAlive = shared_from_this();
        draining = true;
        while (display != nullptr) {
            while (display != nullptr && XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                handle(event);
            }
            if (display == nullptr || !keyboardChanged) {
                break;
            }
            keyboardChanged = false;
            regrab();
        }
        draining = false;
    }

    // Round trips move events from the socket into Xlib's queue, where the fd watch cannot
    // see them; hand them to the main loop.
    void scheduleDrain() {
        if (display == nullptr || draining || pendingDrain.active()) {
            return;
        }
        if (XEventsQueued(display, QueuedAfterReading) == 0) {
            return;
        }
        pendingDrain = runtime.after(Seconds(0), [weak = weak_from_this()] {
            if (auto core = weak.lock()) {
                core->pendingDrain.detach();
                core->drain();
            }
        });
    }

    void dropKeymap() {
        if (keymap != nullptr) {
            xkb_keymap_unref(keymap);
            keymap = nullptr;
        }
        latinLayouts.clear();
    }

    bool loadKeymap() {
        if (keymap != nullptr) {
            return true;
        }
        xcb_connection_t* connection = XGetXCBConnection(display);
        const std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
        if (device < 0) {
            return false;
        }
        keymap = xkb_x11_keymap_new_from_device(xkbContext, connection, device,
                                                XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (keymap == nullptr) {
            return false;
        }
        const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap);
        latinLayouts.assign(layouts, false);
        for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
            std::bitset<26> letters;
            const xkb_keycode_t min = xkb_keymap_min_keycode(keymap);
            const xkb_keycode_t max = xkb_keymap_max_keycode(keymap);
            for (xkb_keycode_t keycode = min; keycode <= max; ++keycode) {
                const xkb_keysym_t* syms = nullptr;
                const int n = symsAtFirstLevel(keycode, layout, &syms);
                for (int i = 0; i < n; ++i) {
                    if (syms[i] >= XKB_KEY_a && syms[i] <= XKB_KEY_z) {
                        letters.set(syms[i] - XKB_KEY_a);
                    }
                }
            }
            latinLayouts[layout] = letters.all();
        }
        return true;
    }

    // Keys with fewer layouts than the keymap wrap around, as the server does by default.
    int symsAtFirstLevel(xkb_keycode_t keycode, xkb_layout_index_t layout,
                         const xkb_keysym_t** syms) const {
        const xkb_layout_index_t forKey = xkb_keymap_num_layouts_for_key(keymap, keycode);
        if (forKey == 0) {
            return 0;
        }
        return xkb_keymap_key_get_syms_by_level(keymap, keycode, layout % forKey, 0, syms);
    }

    std::optional<std::string> keyText(std::uint32_t keycode) {
        if (display == nullptr || !loadKeymap()) {
            scheduleDrain();
            return std::nullopt;
        }
        XkbStateRec state{};
        const Status status = XkbGetState(display, XkbUseCoreKbd, &state);
        scheduleDrain();
        if (status != Success) {
            return std::nullopt;
        }
        std::optional<xkb_layout_index_t> layout;
        const auto current = static_cast<xkb_layout_index_t>(state.group);
        if (current < latinLayouts.size() && latinLayouts[current]) {
            layout = current;
        } else {
            for (xkb_layout_index_t i = 0; i < latinLayouts.size(); ++i) {
                if (latinLayouts[i]) {
                    layout = i;
                    break;
                }
            }
        }
        if (!layout) {
            return std::nullopt;
        }
        const xkb_keysym_t* syms = nullptr;
        if (symsAtFirstLevel(keycode, *layout, &syms) <= 0) {
            return std::nullopt;
        }
        std::array<char, 64> buffer{};
        const int written = xkb_keysym_to_utf8(syms[0], buffer.data(), buffer.size());
        if (written <= 0) {
            return std::string();  // a key that types nothing, such as a dead key
        }
        return std::string(buffer.data(), static_cast<std::size_t>(written - 1));
    }
};

std::expected<std::unique_ptr<X11HotKeys>, std::string> X11HotKeys::open(
    Runtime& runtime, const std::string& displayName) {
    int eventBase = 0;
    int errorBase = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    int reason = 0;
    Display* display = XkbOpenDisplay(displayName.empty() ? nullptr : displayName.c_str(),
                                      &eventBase, &errorBase, &major, &minor, &reason);
    if (display == nullptr) {
        const std::string shown = displayName.empty() ? "$DISPLAY" : displayName;
        if (reason == XkbOD_ConnectionRefused) {
            return std::unexpected("cannot connect to display " + shown);
        }
        return std::unexpected("display " + shown + " has no usable keyboard extension");
    }
    if (!xkb_x11_setup_xkb_extension(XGetXCBConnection(display), XKB_X11_MIN_MAJOR_XKB_VERSION,
                                     XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr,
                                     nullptr, nullptr)) {
        XCloseDisplay(display);
        return std::unexpected("the X server's keyboard extension is too old");
    }
    auto core = std::make_shared<Core>(runtime, display, eventBase);
    core->xkbContext = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    core->start();
    return std::unique_ptr<X11HotKeys>(new X11HotKeys(std::move(core)));
}

X11HotKeys::X11HotKeys(std::shared_ptr<Core> core) : core_(std::move(core)) {}

X11HotKeys::~X11HotKeys() {
    core_->close();
}

HotKeyGrab X11HotKeys::grab(KeyCombination combination, Handler handler) {
    return core_->grab(combination, std::move(handler));
}

bool X11HotKeys::heldElsewhere(KeyCombination combination) {
    return core_->heldElsewhere(combination);
}

std::optional<std::string> X11HotKeys::keyText(std::uint32_t keycode) {
    return core_->keyText(keycode);
}

int X11HotKeys::repeatsIgnored() const {
    return core_->repeatsIgnored;
}

void X11HotKeys::sync() {
    if (core_->display != nullptr) {
        XSync(core_->display, False);
        core_->drain();
    }
}

}  // namespace tesvano::platform

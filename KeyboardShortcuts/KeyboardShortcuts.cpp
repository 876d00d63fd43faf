#include "KeyboardShortcuts/KeyboardShortcuts.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>

#include "KeyboardShortcuts/ShortcutDisplay.h"

namespace KeyboardShortcuts {

using tesvano::platform::Registration;

namespace detail {

struct State {
    using Closures = std::vector<std::function<void()>>;
    // Names in the order they first got a closure, so dispatch order is predictable.
    using HandlerTable = std::vector<std::pair<Name, Closures>>;

    struct Observer {
        std::shared_ptr<Registration::State> registration;
        std::shared_ptr<std::function<void(const Name&)>> callback;
    };

    State(tesvano::platform::Defaults& d, tesvano::platform::HotKeys& h,
          tesvano::platform::KeyTranslator& l)
        : defaults(d), layout(l), registrar(h) {}

    tesvano::platform::Defaults& defaults;
    tesvano::platform::KeyTranslator& layout;
    HotKeyRegistrar registrar;
    HandlerTable keyDownHandlers;
    HandlerTable keyUpHandlers;
    // Shortcuts registered through the hot-key layer; each at most once, however many names
    // hold it.
    std::unordered_set<Shortcut> registered;
    struct Stream {
        Name name;
        std::optional<EventType> only;
        std::shared_ptr<Registration::State> registration;
        std::shared_ptr<std::function<void(EventType)>> handler;
    };
    // Live subscriptions in the order they were made.
    std::vector<Stream> streams;
    std::vector<Observer> observers;
    bool enabled = true;
    bool menuOpen = false;
    bool paused = false;
};

}  // namespace detail

namespace {

detail::State* current = nullptr;

detail::State& state() {
    if (current == nullptr) {
        throw std::logic_error("KeyboardShortcuts: no Library is installed");
    }
    return *current;
}

void registerShortcut(const Shortcut& shortcut) {
    auto& s = state();
    if (s.registered.contains(shortcut)) {
        return;
    }
    s.registrar.registerShortcut(shortcut, handleOnKeyDown, handleOnKeyUp);
    s.registered.insert(shortcut);
}

void unregisterShortcut(const Shortcut& shortcut) {
    auto& s = state();
    s.registrar.unregisterShortcut(shortcut);
    s.registered.erase(shortcut);
}

// A name's old shortcut is given back only when no other name with handlers still holds it;
// otherwise changing one name would silently switch off the other.
bool heldByOtherName(const Shortcut& shortcut, const Name& changing) {
    auto& s = state();
    for (const auto* table : {&s.keyDownHandlers, &s.keyUpHandlers}) {
        for (const auto& [name, closures] : *table) {
            if (!(name == changing) && userDefaultsGet(name) == shortcut) {
                return true;
            }
        }
    }
    for (const auto& stream : s.streams) {
        if (!stream.registration->cancelled && !(stream.name == changing) &&
            userDefaultsGet(stream.name) == shortcut) {
            return true;
        }
    }
    return false;
}

void releaseUnlessShared(const Shortcut& shortcut, const Name& changing) {
    if (!heldByOtherName(shortcut, changing)) {
        unregisterShortcut(shortcut);
    }
}

Registration subscribe(const Name& name, std::optional<EventType> only,
                       std::function<void(EventType)> handler) {
    auto& s = state();
    auto registration = std::make_shared<Registration::State>();
    s.streams.push_back({name, only, registration,
                         std::make_shared<std::function<void(EventType)>>(std::move(handler))});
    if (auto shortcut = userDefaultsGet(name)) {
        registerShortcut(*shortcut);
    }
    const detail::State* owner = &s;
    const std::weak_ptr<Registration::State> weak = registration;
    registration->onCancel = [owner, name, weak] {
        // The library may be gone (or replaced) before the subscription ends.
        if (current != owner) {
            return;
        }
        std::erase_if(current->streams, [&](const auto& stream) {
            return stream.registration->cancelled || stream.registration == weak.lock();
        });
        // Another subscription of this very name still counts: only other names are asked.
        const bool sameNameLeft =
            std::any_of(current->streams.begin(), current->streams.end(),
                        [&](const auto& stream) { return stream.name == name; }) ||
            std::any_of(current->keyDownHandlers.begin(), current->keyDownHandlers.end(),
                        [&](const auto& entry) { return entry.first == name; }) ||
            std::any_of(current->keyUpHandlers.begin(), current->keyUpHandlers.end(),
                        [&](const auto& entry) { return entry.first == name; });
        if (auto shortcut = userDefaultsGet(name); shortcut && !sameNameLeft) {
            releaseUnlessShared(*shortcut, name);
        }
    };
    return Registration(std::move(registration));
}

void attach(detail::State::HandlerTable& table, const Name& name, std::function<void()> handler) {
    auto it = std::find_if(table.begin(), table.end(),
                           [&](const auto& entry) { return entry.first == name; });
    if (it == table.end()) {
        table.emplace_back(name, detail::State::Closures{});
        it = std::prev(table.end());
    }
    it->second.push_back(std::move(handler));
    if (auto shortcut = userDefaultsGet(name)) {
        registerShortcut(*shortcut);
    }
}

void handleEvent(const Shortcut& fired, const detail::State::HandlerTable& table, EventType type) {
    if (state().paused) {
        return;
    }
    // Copies: closures may attach handlers, end subscriptions or change shortcuts meanwhile.
    const auto snapshot = table;
    const auto streams = state().streams;
    for (const auto& [name, closures] : snapshot) {
        if (userDefaultsGet(name) != fired) {
            continue;
        }
        for (const auto& closure : closures) {
            closure();
        }
    }
    for (const auto& stream : streams) {
        if (stream.registration->cancelled || (stream.only && *stream.only != type) ||
            userDefaultsGet(stream.name) != fired) {
            continue;
        }
        (*stream.handler)(type);
    }
}

}  // namespace

Library::Library(tesvano::platform::Defaults& defaults, tesvano::platform::HotKeys& hotKeys,
                 tesvano::platform::KeyTranslator& layout) {
    if (current != nullptr) {
        throw std::logic_error("KeyboardShortcuts: a Library is already installed");
    }
    state_ = std::make_unique<detail::State>(defaults, hotKeys, layout);
    current = state_.get();
}

Library::~Library() {
    current = nullptr;
}

bool Library::isInstalled() {
    return current != nullptr;
}

std::optional<Shortcut> getShortcut(const Name& name) {
    return userDefaultsGet(name);
}

void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name) {
    if (shortcut) {
        userDefaultsSet(name, *shortcut);
        return;
    }
    const auto old = userDefaultsGet(name);
    if (!old) {
        return;
    }
    auto& s = state();
    if (name.defaultShortcut) {
        s.defaults.set(name.storageKey(), false);  // keeps the default from coming back
    } else {
        s.defaults.remove(name.storageKey());
    }
    releaseUnlessShared(*old, name);
    postShortcutByNameDidChange(name);
}

void reset(const std::vector<Name>& names) {
    for (const Name& name : names) {
        if (name.defaultShortcut) {
            userDefaultsSet(name, *name.defaultShortcut);
        } else {
            setShortcut(std::nullopt, name);
        }
    }
}

void disable(const std::vector<Name>& names) {
    for (const Name& name : names) {
        if (auto shortcut = userDefaultsGet(name)) {
            unregisterShortcut(*shortcut);
        }
    }
}

void enable(const std::vector<Name>& names) {
    for (const Name& name : names) {
        if (auto shortcut = userDefaultsGet(name)) {
            registerShortcut(*shortcut);
        }
    }
}

std::optional<Shortcut> userDefaultsGet(const Name& name) {
    const auto text = state().defaults.string(name.storageKey());
    if (!text) {
        return std::nullopt;
    }
    return Shortcut::decode(*text);
}

void userDefaultsSet(const Name& name, const Shortcut& shortcut) {
    if (auto old = userDefaultsGet(name)) {
        releaseUnlessShared(*old, name);
    }
    registerShortcut(shortcut);
    state().defaults.set(name.storageKey(), shortcut.encode());
    postShortcutByNameDidChange(name);
}

bool userDefaultsContains(const Name& name) {
    return state().defaults.value(name.storageKey()).has_value();
}

Registration observeShortcutByNameDidChange(std::function<void(const Name&)> observer) {
    auto& s = state();
    std::erase_if(s.observers, [](const auto& o) { return o.registration->cancelled; });
    auto registration = std::make_shared<Registration::State>();
    s.observers.push_back(
        {registration, std::make_shared<std::function<void(const Name&)>>(std::move(observer))});
    return Registration(std::move(registration));
}

void postShortcutByNameDidChange(const Name& name) {
    const auto snapshot = state().observers;
    for (const auto& o : snapshot) {
        if (!o.registration->cancelled) {  // an earlier observer may have dropped this one
            (*o.callback)(name);
        }
    }
}

void onKeyDown(const Name& name, std::function<void()> handler) {
    attach(state().keyDownHandlers, name, std::move(handler));
}

void onKeyUp(const Name& name, std::function<void()> handler) {
    attach(state().keyUpHandlers, name, std::move(handler));
}

void removeAllHandlers() {
    auto& s = state();
    for (auto* table : {&s.keyDownHandlers, &s.keyUpHandlers}) {
        for (const auto& [name, closures] : *table) {
            if (auto shortcut = userDefaultsGet(name)) {
                unregisterShortcut(*shortcut);
            }
        }
    }
    for (const auto& stream : s.streams) {
        if (auto shortcut = userDefaultsGet(stream.name)) {
            unregisterShortcut(*shortcut);
        }
    }
    s.keyDownHandlers.clear();
    s.keyUpHandlers.clear();
}

Registration events(const Name& name, std::function<void(EventType)> handler) {
    return subscribe(name, std::nullopt, std::move(handler));
}

Registration eventStream(EventType type, const Name& name, std::function<void()> handler) {
    return subscribe(name, type, [handler = std::move(handler)](EventType) { handler(); });
}

void handleOnKeyDown(const Shortcut& shortcut) {
    handleEvent(shortcut, state().keyDownHandlers, EventType::keyDown);
}

void handleOnKeyUp(const Shortcut& shortcut) {
    handleEvent(shortcut, state().keyUpHandlers, EventType::keyUp);
}

bool isEnabled() {
    return state().enabled;
}

void setEnabled(bool enabled) {
    auto& s = state();
    if (s.enabled != enabled) {
        s.enabled = enabled;
        s.registrar.updateEventHandler(s.enabled, s.menuOpen);
    }
}

bool isMenuOpen() {
    return state().menuOpen;
}

void setMenuOpen(bool open) {
    auto& s = state();
    if (s.menuOpen != open) {
        s.menuOpen = open;
        s.registrar.updateEventHandler(s.enabled, s.menuOpen);
    }
}

bool isPaused() {
    return state().paused;
}

void setPaused(bool paused) {
    state().paused = paused;
}

HotKeyRegistrar& hotKeyRegistrar() {
    return state().registrar;
}

tesvano::platform::KeyTranslator& keyboardLayout() {
    return state().layout;
}

}  // namespace KeyboardShortcuts

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
        : defaults(d), layout(l), carbon(h) {}

    tesvano::platform::Defaults& defaults;
    tesvano::platform::KeyTranslator& layout;
    CarbonKeyboardShortcuts carbon;
    HandlerTable keyDownHandlers;
    HandlerTable keyUpHandlers;
    // Shortcuts registered through the hot-key layer; each at most once, however many names
    // hold it.
    std::unordered_set<Shortcut> registered;
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
    s.carbon.registerShortcut(shortcut, handleOnKeyDown, handleOnKeyUp);
    s.registered.insert(shortcut);
}

void unregisterShortcut(const Shortcut& shortcut) {
    auto& s = state();
    s.carbon.unregisterShortcut(shortcut);
    s.registered.erase(shortcut);
}

// A name's old shortcut is given back only when no other name with handlers still holds it;
// otherwise changing one name would silently switch off the other.
void releaseUnlessShared(const Shortcut& shortcut, const Name& changing) {
    auto& s = state();
    for (const auto* table : {&s.keyDownHandlers, &s.keyUpHandlers}) {
        for (const auto& [name, closures] : *table) {
            if (!(name == changing) && userDefaultsGet(name) == shortcut) {
                return;
            }
        }
    }
    unregisterShortcut(shortcut);
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

void handleEvent(const Shortcut& fired, const detail::State::HandlerTable& table) {
    if (state().paused) {
        return;
    }
    // A copy: closures may attach handlers or change shortcuts while this runs.
    const auto snapshot = table;
    for (const auto& [name, closures] : snapshot) {
        if (userDefaultsGet(name) != fired) {
            continue;
        }
        for (const auto& closure : closures) {
            closure();
        }
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
    s.keyDownHandlers.clear();
    s.keyUpHandlers.clear();
}

void handleOnKeyDown(const Shortcut& shortcut) {
    handleEvent(shortcut, state().keyDownHandlers);
}

void handleOnKeyUp(const Shortcut& shortcut) {
    handleEvent(shortcut, state().keyUpHandlers);
}

bool isEnabled() {
    return state().enabled;
}

void setEnabled(bool enabled) {
    auto& s = state();
    if (s.enabled != enabled) {
        s.enabled = enabled;
        s.carbon.updateEventHandler(s.enabled, s.menuOpen);
    }
}

bool isMenuOpen() {
    return state().menuOpen;
}

void setMenuOpen(bool open) {
    auto& s = state();
    if (s.menuOpen != open) {
        s.menuOpen = open;
        s.carbon.updateEventHandler(s.enabled, s.menuOpen);
    }
}

bool isPaused() {
    return state().paused;
}

void setPaused(bool paused) {
    state().paused = paused;
}

CarbonKeyboardShortcuts& carbonKeyboardShortcuts() {
    return state().carbon;
}

tesvano::platform::KeyTranslator& keyboardLayout() {
    return state().layout;
}

}  // namespace KeyboardShortcuts

#include "KeyboardShortcuts/HotKeyRegistrar.h"

#include "KeyboardShortcuts/KeyCodeTable.h"

namespace KeyboardShortcuts {

using tesvano::platform::HotKeyEvent;
using tesvano::platform::HotKeyGrab;

HotKeyRegistrar::HotKeyRegistrar(tesvano::platform::HotKeys& hotKeys) : hotKeys_(hotKeys) {}

HotKeyGrab HotKeyRegistrar::grab(const Shortcut& shortcut, std::int64_t id) {
    const auto combination = xCombination(shortcut);
    if (!combination) {
        return {};
    }
    // The grab lives in this object's table, so `this` outlives it.
    return hotKeys_.grab(
        *combination, [this, id](HotKeyEvent event) { fire(id, event == HotKeyEvent::pressed); });
}

void HotKeyRegistrar::registerShortcut(const Shortcut& shortcut, Handler onKeyDown,
                                       Handler onKeyUp) {
    const std::int64_t id = ++lastId_;
    if (!xCombination(shortcut)) {
        return;
    }
    HotKeyGrab handle;
    if (mode_ == Mode::normal) {
        handle = grab(shortcut, id);
        if (!handle) {
            return;
        }
    }
    table_.emplace(
        id, HotKey{shortcut, id, std::move(handle), std::move(onKeyDown), std::move(onKeyUp)});
}

void HotKeyRegistrar::unregisterShortcut(const Shortcut& shortcut) {
    std::erase_if(table_, [&](const auto& entry) { return entry.second.shortcut == shortcut; });
}

void HotKeyRegistrar::updateEventHandler(bool isEnabled, bool isMenuOpen) {
    const Mode mode = !isEnabled ? Mode::disabled : (isMenuOpen ? Mode::menu : Mode::normal);
    if (mode == Mode::normal) {
        mode_ = mode;
        for (auto it = table_.begin(); it != table_.end();) {
            if (!it->second.grab) {
                it->second.grab = grab(it->second.shortcut, it->first);
                if (!it->second.grab) {
                    it = table_.erase(it);
                    continue;
                }
            }
            ++it;
        }
        return;
    }
    for (auto& [id, hotKey] : table_) {
        hotKey.grab.reset();
    }
    mode_ = mode;
}

void HotKeyRegistrar::fire(std::int64_t id, bool keyDown) {
    auto it = table_.find(id);
    if (it == table_.end() || mode_ != Mode::normal) {
        return;
    }
    // Copies: the handler may unregister this very hot key.
    const Shortcut shortcut = it->second.shortcut;
    const Handler handler = keyDown ? it->second.onKeyDown : it->second.onKeyUp;
    if (handler) {
        handler(shortcut);
    }
}

bool HotKeyRegistrar::handleRawKeyEvent(RawKeyKind kind, std::int64_t keyCode,
                                        std::int64_t modifierBits) {
    const Shortcut pressed(keyCode, modifierBits);
    for (const auto& [id, hotKey] : table_) {
        if (hotKey.shortcut != pressed) {
            continue;
        }
        if (kind == RawKeyKind::autoRepeat) {
            return false;
        }
        const Handler handler = kind == RawKeyKind::keyDown ? hotKey.onKeyDown : hotKey.onKeyUp;
        const Shortcut shortcut = hotKey.shortcut;
        if (handler) {
            handler(shortcut);
        }
        return true;
    }
    return false;
}

bool HotKeyRegistrar::isReservedBySystem(const Shortcut& shortcut) const {
    const auto combination = xCombination(shortcut);
    return combination && hotKeys_.heldElsewhere(*combination);
}

std::vector<HotKeyRegistrar::Entry> HotKeyRegistrar::entries() const {
    std::vector<Entry> out;
    for (const auto& [id, hotKey] : table_) {
        out.push_back(Entry{hotKey.shortcut, id, hotKey.grab.active()});
    }
    return out;
}

}  // namespace KeyboardShortcuts

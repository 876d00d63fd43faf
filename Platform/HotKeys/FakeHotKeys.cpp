#include "Platform/HotKeys/FakeHotKeys.h"

namespace tesvano::platform {

struct FakeHotKeys::State {
    struct Grab {
        KeyCombination combination;
        std::shared_ptr<Handler> handler;
    };
    std::map<std::uint64_t, Grab> grabs;
    std::uint64_t nextId = 1;
    std::set<KeyCombination> elsewhere;
    int requests = 0;

    const Grab* find(KeyCombination combination) const {
        for (const auto& [id, g] : grabs) {
            if (g.combination == combination) {
                return &g;
            }
        }
        return nullptr;
    }

    bool deliver(KeyCombination combination, HotKeyEvent event) {
        const Grab* g = find(combination);
        if (g == nullptr) {
            return false;
        }
        auto handler = g->handler;  // the handler may release its own grab
        (*handler)(event);
        return true;
    }
};

FakeHotKeys::FakeHotKeys() : layout(usLayout()), state_(std::make_shared<State>()) {}

FakeHotKeys::~FakeHotKeys() = default;

HotKeyGrab FakeHotKeys::grab(KeyCombination combination, Handler handler) {
    ++state_->requests;
    combination.modifiers &= KeyCombination::shortcutModifiers;
    if (combination.keycode < 8 || combination.keycode > 255 ||
        state_->elsewhere.contains(combination) || state_->find(combination) != nullptr) {
        return {};
    }
    const std::uint64_t id = state_->nextId++;
    state_->grabs.emplace(id,
                          State::Grab{combination, std::make_shared<Handler>(std::move(handler))});
    return HotKeyGrab([weak = std::weak_ptr<State>(state_), id] {
        if (auto state = weak.lock()) {
            state->grabs.erase(id);
        }
    });
}

bool FakeHotKeys::heldElsewhere(KeyCombination combination) {
    combination.modifiers &= KeyCombination::shortcutModifiers;
    return state_->elsewhere.contains(combination);
}

std::optional<std::string> FakeHotKeys::keyText(std::uint32_t keycode) {
    auto it = layout.find(keycode);
    if (it == layout.end()) {
        return std::nullopt;
    }
    return it->second;
}

void FakeHotKeys::holdElsewhere(KeyCombination combination, bool held) {
    if (held) {
        state_->elsewhere.insert(combination);
    } else {
        state_->elsewhere.erase(combination);
    }
}

bool FakeHotKeys::isGrabbed(KeyCombination combination) const {
    return state_->find(combination) != nullptr;
}

std::vector<KeyCombination> FakeHotKeys::grabbed() const {
    std::vector<KeyCombination> out;
    for (const auto& [id, g] : state_->grabs) {
        out.push_back(g.combination);
    }
    return out;
}

int FakeHotKeys::grabRequests() const {
    return state_->requests;
}

bool FakeHotKeys::press(KeyCombination combination) {
    return state_->deliver(combination, HotKeyEvent::pressed);
}

bool FakeHotKeys::release(KeyCombination combination) {
    return state_->deliver(combination, HotKeyEvent::released);
}

std::map<std::uint32_t, std::string> FakeHotKeys::usLayout() {
    // The rows of a US keyboard by X keycode: digits row, then the three letter rows.
    std::map<std::uint32_t, std::string> map;
    const char* rows[] = {"`1234567890-=", "qwertyuiop[]", "asdfghjkl;'", "zxcvbnm,./"};
    const std::uint32_t starts[] = {49, 24, 38, 52};
    for (int r = 0; r < 4; ++r) {
        // The grave key sits apart from the rest of its row.
        std::uint32_t keycode = starts[r];
        for (const char* c = rows[r]; *c != '\0'; ++c) {
            map[keycode] = std::string(1, *c);
            keycode = (r == 0 && c == rows[r]) ? 10 : keycode + 1;
        }
    }
    map[51] = std::string(1, '\\');
    map[65] = std::string(1, ' ');
    return map;
}

}  // namespace tesvano::platform

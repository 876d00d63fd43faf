#include "Platform/Workspace/FakeWindowList.h"

#include <algorithm>

namespace tesvano::platform {

std::vector<ListedWindow> FakeWindowList::windows(std::span<const std::int32_t> processes) {
    std::vector<ListedWindow> out;
    for (const auto& w : list) {
        if (processes.empty() ||
            std::ranges::find(processes, w.processIdentifier) != processes.end()) {
            out.push_back(w);
        }
    }
    return out;
}

std::expected<Registration, std::string> FakeWindowList::observe(unsigned long window,
                                                                 std::function<void()> changed) {
    ++observeCalls;
    if (failObserveTimes > 0) {
        --failObserveTimes;
        return std::unexpected("the window cannot be watched");
    }
    auto state = std::make_shared<Registration::State>();
    watches_.push_back({window, state, std::move(changed)});
    return Registration(state);
}

bool FakeWindowList::activate(unsigned long window) {
    activated.push_back(window);
    return std::ranges::any_of(list, [&](const auto& w) { return w.id == window; });
}

void FakeWindowList::notify(unsigned long window) {
    std::erase_if(watches_, [](const Watch& w) { return w.state->cancelled; });
    auto copy = watches_;
    for (const auto& w : copy) {
        if (w.window == window && !w.state->cancelled) {
            w.changed();
        }
    }
}

int FakeWindowList::observerCount(unsigned long window) {
    std::erase_if(watches_, [](const Watch& w) { return w.state->cancelled; });
    return static_cast<int>(std::ranges::count(watches_, window, &Watch::window));
}

}  // namespace tesvano::platform

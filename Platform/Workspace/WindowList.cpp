#include "Platform/Workspace/WindowList.h"

#include <algorithm>

namespace tesvano::platform {

namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::ranges::equal(a, b, {}, lower, lower);
}

}  // namespace

bool windowHasClass(const ListedWindow& window, std::span<const std::string> classes) {
    return std::ranges::any_of(classes, [&](const std::string& name) {
        return !name.empty() && (equalIgnoringCase(window.instanceName, name) ||
                                 equalIgnoringCase(window.className, name));
    });
}

std::vector<ListedWindow> WindowList::windowsMatching(std::span<const std::int32_t> processes,
                                                      std::span<const std::string> classes) {
    if (processes.empty() && classes.empty()) {
        return {};
    }
    auto list = classes.empty() ? windows(processes) : windows();
    std::erase_if(list, [&](const ListedWindow& w) {
        return std::ranges::find(processes, w.processIdentifier) == processes.end() &&
               !windowHasClass(w, classes);
    });
    return list;
}

bool activateProcess(WindowList& list, std::int32_t pid) {
    if (pid <= 0) {
        return false;
    }
    const std::int32_t only[] = {pid};
    for (const auto& window : list.windows(only)) {
        if (window.processIdentifier == pid && window.onScreen) {
            return list.activate(window.id);
        }
    }
    return false;
}

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

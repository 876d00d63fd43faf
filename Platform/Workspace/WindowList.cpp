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

}  // namespace tesvano::platform

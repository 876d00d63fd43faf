#include "Platform/Workspace/Workspace.h"

#include <algorithm>

namespace tesvano::platform {

std::vector<RunningApplication> Workspace::runningApplications(std::string_view appId) {
    auto all = runningApplications();
    std::erase_if(all, [&](const RunningApplication& app) { return app.appId != appId; });
    return all;
}

std::optional<RunningApplication> Workspace::runningApplication(std::int32_t pid) {
    for (auto& app : runningApplications()) {
        if (app.processIdentifier == pid) {
            return std::move(app);
        }
    }
    return std::nullopt;
}

Registration WorkspaceObserverList::add(WorkspaceNotification notification,
                                        Workspace::Observer observer) {
    dropCancelled();
    auto state = std::make_shared<Registration::State>();
    entries_.push_back(
        {notification, state, std::make_shared<Workspace::Observer>(std::move(observer))});
    return Registration(state);
}

void WorkspaceObserverList::post(WorkspaceNotification notification,
                                 const RunningApplication& application) {
    dropCancelled();
    auto snapshot = entries_;
    for (const auto& entry : snapshot) {
        if (entry.notification == notification && !entry.state->cancelled && *entry.observer) {
            (*entry.observer)(application);
        }
    }
}

int WorkspaceObserverList::count(WorkspaceNotification notification) {
    dropCancelled();
    return static_cast<int>(std::ranges::count(entries_, notification, &Entry::notification));
}

void WorkspaceObserverList::dropCancelled() {
    // A registration whose handle was destroyed holds the only other reference.
    std::erase_if(entries_, [](const Entry& e) { return e.state->cancelled; });
}

}  // namespace tesvano::platform

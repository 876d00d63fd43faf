#include "Platform/Workspace/FakeWorkspace.h"

#include <algorithm>

namespace tesvano::platform {

void FakeWorkspace::addRunning(RunningApplication application) {
    std::erase_if(running_, [&](const RunningApplication& app) {
        return app.processIdentifier == application.processIdentifier;
    });
    running_.push_back(std::move(application));
}

void FakeWorkspace::launch(RunningApplication application) {
    addRunning(application);
    observers_.post(WorkspaceNotification::applicationLaunched, application);
}

void FakeWorkspace::activate(std::int32_t pid) {
    auto app = runningApplication(pid);
    if (!app) {
        return;
    }
    active_ = pid;
    observers_.post(WorkspaceNotification::applicationActivated, *app);
}

void FakeWorkspace::terminate(std::int32_t pid) {
    auto app = runningApplication(pid);
    if (!app) {
        return;
    }
    std::erase_if(running_,
                  [pid](const RunningApplication& a) { return a.processIdentifier == pid; });
    if (active_ == pid) {
        active_.reset();
    }
    observers_.post(WorkspaceNotification::applicationExited, *app);
}

std::optional<RunningApplication> FakeWorkspace::activeApplication() {
    if (!active_) {
        return std::nullopt;
    }
    return runningApplication(*active_);
}

}  // namespace tesvano::platform

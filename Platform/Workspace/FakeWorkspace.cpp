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
    observers_.post(WorkspaceNotification::didLaunchApplication, application);
}

void FakeWorkspace::activate(std::int32_t pid) {
    auto app = runningApplication(pid);
    if (!app) {
        return;
    }
    frontmost_ = pid;
    observers_.post(WorkspaceNotification::didActivateApplication, *app);
}

void FakeWorkspace::terminate(std::int32_t pid) {
    auto app = runningApplication(pid);
    if (!app) {
        return;
    }
    std::erase_if(running_,
                  [pid](const RunningApplication& a) { return a.processIdentifier == pid; });
    if (frontmost_ == pid) {
        frontmost_.reset();
    }
    observers_.post(WorkspaceNotification::didTerminateApplication, *app);
}

std::optional<RunningApplication> FakeWorkspace::frontmostApplication() {
    if (!frontmost_) {
        return std::nullopt;
    }
    return runningApplication(*frontmost_);
}

}  // namespace tesvano::platform

#pragma once

#include <optional>
#include <vector>

#include "Platform/Workspace/Workspace.h"

namespace tesvano::platform {

// Scripted applications for tests: the test launches, activates and terminates them, and
// each step posts the notification the desktop would.
class FakeWorkspace final : public Workspace {
public:
    // Already running at the start: no notification.
    void addRunning(RunningApplication application);
    // Starts it and posts applicationLaunched.
    void launch(RunningApplication application);
    // Makes it active and posts applicationActivated (for an unknown pid: nothing).
    void activate(std::int32_t pid);
    // Changes what activeApplication answers, without any notification.
    void setActive(std::optional<std::int32_t> pid) { active_ = pid; }
    // Removes it and posts applicationExited; the active one leaves none active.
    void terminate(std::int32_t pid);

    int observerCount(WorkspaceNotification notification) { return observers_.count(notification); }

    std::optional<RunningApplication> activeApplication() override;
    // The running application of `focusedPID`; none when that is unset.
    std::optional<RunningApplication> focusedApplication() override {
        return focusedPID ? runningApplication(*focusedPID) : std::nullopt;
    }
    std::optional<std::int32_t> focusedPID;
    std::vector<RunningApplication> runningApplications() override { return running_; }
    using Workspace::runningApplications;
    std::optional<Seconds> activationArrivedAt() const override { return arrivedAt; }
    // What activationArrivedAt answers.
    std::optional<Seconds> arrivedAt;
    Registration addObserver(WorkspaceNotification notification, Observer observer) override {
        return observers_.add(notification, std::move(observer));
    }

private:
    std::vector<RunningApplication> running_;
    std::optional<std::int32_t> active_;
    WorkspaceObserverList observers_;
};

}  // namespace tesvano::platform

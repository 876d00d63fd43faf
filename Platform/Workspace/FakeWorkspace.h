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
    // Starts it and posts didLaunchApplication.
    void launch(RunningApplication application);
    // Makes it frontmost and posts didActivateApplication (for an unknown pid: nothing).
    void activate(std::int32_t pid);
    // Changes what frontmostApplication answers, without any notification.
    void setFrontmost(std::optional<std::int32_t> pid) { frontmost_ = pid; }
    // Removes it and posts didTerminateApplication; the frontmost one leaves none frontmost.
    void terminate(std::int32_t pid);

    int observerCount(WorkspaceNotification notification) { return observers_.count(notification); }

    std::optional<RunningApplication> frontmostApplication() override;
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
    std::optional<std::int32_t> frontmost_;
    WorkspaceObserverList observers_;
};

}  // namespace tesvano::platform

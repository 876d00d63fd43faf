#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// A running application as the desktop sees it.
struct RunningApplication {
    // -1 when the window's process is unknown.
    std::int32_t processIdentifier = -1;
    // The desktop-entry id that stands for the application (see ApplicationIdentity.h);
    // none when no desktop entry could be matched and the window names none.
    std::optional<std::string> appId;
    // Absolute path of the process's executable; none when it cannot be read.
    std::optional<std::string> executablePath;

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

enum class WorkspaceNotification {
    applicationActivated,
    applicationLaunched,
    applicationExited,
};

// Running applications, the active one and the notifications about them.
// Main thread only; observers are called there.
class Workspace {
public:
    using Observer = std::function<void(const RunningApplication& application)>;

    virtual ~Workspace() = default;

    virtual std::optional<RunningApplication> activeApplication() = 0;
    // The application whose window has the keyboard focus. A window manager may move the
    // focus a moment before it announces the new active window, and a desktop that keeps a
    // layout per window acts on the focus. None when the backend cannot tell.
    virtual std::optional<RunningApplication> focusedApplication() { return std::nullopt; }
    // One entry per process, in a stable order.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    // The observer is called for each notification of this kind until the handle goes.
    virtual Registration addObserver(WorkspaceNotification notification, Observer observer) = 0;
    // The runtime's uptime at which the event behind the latest activation notification
    // reached us, when the backend knows it; reading what it announced takes a little while
    // before the notification is posted.
    virtual std::optional<Seconds> activationArrivedAt() const { return std::nullopt; }

    std::vector<RunningApplication> runningApplications(std::string_view appId);
    std::optional<RunningApplication> runningApplication(std::int32_t pid);
};

// The observers of one workspace, shared by the backends.
class WorkspaceObserverList {
public:
    Registration add(WorkspaceNotification notification, Workspace::Observer observer);
    // Calls every observer of `notification` that is registered when the post begins and
    // still registered when its turn comes.
    void post(WorkspaceNotification notification, const RunningApplication& application);
    int count(WorkspaceNotification notification);

private:
    struct Entry {
        WorkspaceNotification notification;
        std::shared_ptr<Registration::State> state;
        std::shared_ptr<Workspace::Observer> observer;
    };
    void dropCancelled();

    std::vector<Entry> entries_;
};

}  // namespace tesvano::platform

#include "TesvanoKit/Monitors/FloatingAppMonitor.h"

#include <array>
#include <string_view>

#include "TesvanoKit/Monitors/LauncherOverlayCatalog.h"

namespace tesvano {

namespace {

namespace a11y = platform::a11y;

constexpr std::array<std::string_view, 6> launcherEvents = {
    a11y::windowCreateEvent,  a11y::focusEvent,        a11y::windowActivateEvent,
    a11y::windowDestroyEvent, a11y::windowResizeEvent, a11y::windowDeactivateEvent,
};

bool isLauncher(const platform::RunningApplication& application) {
    return application.appId && LauncherOverlayCatalog::contains(*application.appId);
}

}  // namespace

FloatingAppMonitor::FloatingAppMonitor(platform::Workspace& workspace,
                                       platform::Accessibility& accessibility)
    : workspace_(workspace),
      accessibility_(accessibility),
      desktop_(accessibility.desktopElement()) {
    (void)accessibility_.setCallTimeout(desktop_, callTimeout);
}

FloatingAppMonitor::~FloatingAppMonitor() {
    stop();
}

void FloatingAppMonitor::start(Handler handler) {
    if (onChange_) {
        return;
    }
    onChange_ = std::move(handler);
    std::weak_ptr<int> alive = lifetime_;
    workspaceTokens_.push_back(
        workspace_.addObserver(platform::WorkspaceNotification::applicationLaunched,
                               [this, alive](const platform::RunningApplication& app) {
                                   if (!alive.expired()) {
                                       applicationLaunched(app);
                                   }
                               }));
    workspaceTokens_.push_back(
        workspace_.addObserver(platform::WorkspaceNotification::applicationExited,
                               [this, alive](const platform::RunningApplication& app) {
                                   if (!alive.expired()) {
                                       applicationTerminated(app);
                                   }
                               }));
    scan();
}

void FloatingAppMonitor::refresh() {
    if (!onChange_) {
        return;
    }
    if (accessibility_.isProcessTrusted()) {
        scan();
    } else {
        while (!observers_.empty()) {
            detach(observers_.begin()->first);
        }
    }
    evaluate();
}

void FloatingAppMonitor::stop() {
    workspaceTokens_.clear();
    observers_.clear();
    onChange_ = nullptr;
    current_.reset();
}

void FloatingAppMonitor::scan() {
    for (const auto& app : workspace_.runningApplications()) {
        if (isLauncher(app)) {
            attach(app.processIdentifier);
        }
    }
}

void FloatingAppMonitor::attach(std::int32_t pid) {
    if (observers_.contains(pid) || !accessibility_.isProcessTrusted()) {
        return;
    }
    std::weak_ptr<int> alive = lifetime_;
    auto observer = accessibility_.createObserver(
        pid, [this, alive](const platform::AccessibleElement&, const std::string&) {
            if (!alive.expired()) {
                evaluate();
            }
        });
    if (!observer) {
        return;
    }
    const auto application = accessibility_.applicationElement(pid);
    bool registered = false;
    for (auto event : launcherEvents) {
        registered = (*observer)->listen(application, event).has_value() || registered;
    }
    if (registered) {
        observers_.emplace(pid, std::move(*observer));
    }
}

void FloatingAppMonitor::detach(std::int32_t pid) {
    observers_.erase(pid);
}

void FloatingAppMonitor::applicationLaunched(const platform::RunningApplication& application) {
    if (isLauncher(application)) {
        attach(application.processIdentifier);
    }
}

void FloatingAppMonitor::applicationTerminated(const platform::RunningApplication& application) {
    if (isLauncher(application)) {
        detach(application.processIdentifier);
        evaluate();
    }
}

std::optional<std::string> FloatingAppMonitor::focusedLauncher() {
    auto focused = accessibility_.elementAttribute(desktop_, a11y::focusedElement);
    if (!focused) {
        return std::nullopt;
    }
    auto pid = accessibility_.processIdentifier(*focused);
    if (!pid) {
        return std::nullopt;
    }
    auto app = workspace_.runningApplication(*pid);
    if (!app || !isLauncher(*app)) {
        return std::nullopt;
    }
    // The accessibility bus tells of focus late: once the window manager has given the
    // keyboard to another application's window, what the hidden launcher says is past.
    if (auto holder = workspace_.focusedApplication();
        holder && holder->processIdentifier != *pid) {
        return std::nullopt;
    }
    return app->appId;
}

void FloatingAppMonitor::evaluate() {
    auto launcher = focusedLauncher();
    if (launcher == current_) {
        return;
    }
    current_ = launcher;
    if (auto handler = onChange_) {
        handler(launcher);
    }
}

}  // namespace tesvano

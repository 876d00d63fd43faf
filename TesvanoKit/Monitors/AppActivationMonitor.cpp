#include "TesvanoKit/Monitors/AppActivationMonitor.h"

#include "TesvanoKit/Monitors/ProcessIdentity.h"

#include <algorithm>

namespace tesvano {

AppActivationMonitor::AppActivationMonitor(platform::Workspace& workspace,
                                           platform::Runtime& runtime, platform::Seconds debounce)
    : workspace_(workspace), runtime_(runtime), debounce_(debounce) {}

AppActivationMonitor::~AppActivationMonitor() {
    stop();
}

namespace {

std::optional<std::string> identityOf(const std::optional<platform::RunningApplication>& app) {
    if (!app) {
        return std::nullopt;
    }
    return ProcessIdentity::identifier({app->appId, app->executablePath});
}

}  // namespace

std::optional<std::string> AppActivationMonitor::activeAppId() {
    return identityOf(workspace_.activeApplication());
}

std::optional<std::string> AppActivationMonitor::focusedAppId() {
    return identityOf(workspace_.focusedApplication());
}

void AppActivationMonitor::start(Handler handler) {
    if (running_) {
        return;
    }
    running_ = true;
    ++generation_;
    buffered_ = 0;
    handler_ = std::move(handler);
    subscription_ = workspace_.addObserver(
        platform::WorkspaceNotification::applicationActivated,
        [this](const platform::RunningApplication& app) { notificationArrived(app); });
}

void AppActivationMonitor::stop() {
    if (!running_) {
        return;
    }
    running_ = false;
    ++generation_;
    subscription_.cancel();
    sleep_.cancel();
    buffered_ = 0;
    handler_ = nullptr;
}

void AppActivationMonitor::notificationArrived(const platform::RunningApplication& app) {
    if (noticed_) {
        const int generation = generation_;
        auto noticed = noticed_;
        noticed(ProcessIdentity::identifier({app.appId, app.executablePath}));
        if (!running_ || generation != generation_) {
            return;
        }
    }
    if (sleep_.active()) {
        ++buffered_;
        return;
    }
    // The wait counts from when the activation reached us, not from when the backend had
    // read and resolved what it announced: that work falls inside the wait.
    platform::Seconds elapsed{0};
    if (auto arrived = workspace_.activationArrivedAt()) {
        elapsed = std::clamp(runtime_.uptime() - *arrived, platform::Seconds(0), debounce_);
    }
    wait(debounce_ - elapsed);
}

void AppActivationMonitor::wait(platform::Seconds delay) {
    const int generation = generation_;
    sleep_ = runtime_.after(delay, [this, generation] { waited(generation); });
}

void AppActivationMonitor::waited(int generation) {
    sleep_.detach();
    if (!running_ || generation != generation_) {
        return;
    }
    // The application active now, not the one the notification named.
    auto identity = activeAppId();
    auto handler = handler_;
    if (handler) {
        handler(identity);
    }
    // The handler may have stopped (or restarted) the monitor.
    if (running_ && generation == generation_ && buffered_ > 0 && !sleep_.active()) {
        --buffered_;
        wait(debounce_);
    }
}

}  // namespace tesvano

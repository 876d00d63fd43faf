#pragma once

#include "Platform/Runtime/Runtime.h"
#include "Platform/Workspace/Workspace.h"
#include "TesvanoKit/Monitors/ActiveAppMonitoring.h"

namespace tesvano {

// Follows the workspace's activation notifications. Each notification leads to exactly one
// report, made `debounce` after the notification is taken (after its event reached us, where
// the workspace knows when) and naming whichever application is active at that moment;
// notifications that arrive during a wait are taken one after another, each with its own wait.
class AppActivationMonitor final : public ActiveAppMonitoring {
public:
    static constexpr platform::Seconds defaultDebounce{0.04};

    AppActivationMonitor(platform::Workspace& workspace, platform::Runtime& runtime,
                         platform::Seconds debounce = defaultDebounce);
    ~AppActivationMonitor() override;
    AppActivationMonitor(const AppActivationMonitor&) = delete;
    AppActivationMonitor& operator=(const AppActivationMonitor&) = delete;

    std::optional<std::string> activeAppId() override;
    std::optional<std::string> focusedAppId() override;
    void start(Handler handler) override;
    void stop() override;
    void onActivationNoticed(NoticeHandler handler) override { noticed_ = std::move(handler); }

    bool isRunning() const { return running_; }
    platform::Seconds debounce() const { return debounce_; }

private:
    void notificationArrived(const platform::RunningApplication& app);
    void wait(platform::Seconds delay);
    void waited(int generation);

    platform::Workspace& workspace_;
    platform::Runtime& runtime_;
    platform::Seconds debounce_;

    bool running_ = false;
    // Advanced by every start and stop, so a wait of an earlier run does nothing.
    int generation_ = 0;
    Handler handler_;
    NoticeHandler noticed_;
    platform::Registration subscription_;
    platform::Registration sleep_;
    // Notifications that arrived during a wait and have not been taken yet.
    int buffered_ = 0;
};

}  // namespace tesvano

#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "Platform/Accessibility/Accessibility.h"
#include "Platform/Runtime/Runtime.h"
#include "Platform/Workspace/Workspace.h"
#include "TesvanoKit/Monitors/FloatingAppMonitoring.h"

namespace tesvano {

// Watches the running launchers of LauncherOverlayCatalog through Accessibility and reports
// the launcher that owns the focused element, or none, whenever that changes.
class FloatingAppMonitor final : public FloatingAppMonitoring {
public:
    static constexpr double callTimeout = 0.25;

    FloatingAppMonitor(platform::Workspace& workspace, platform::Accessibility& accessibility);
    // Stops: no observer or workspace registration outlives the monitor.
    ~FloatingAppMonitor() override;
    FloatingAppMonitor(const FloatingAppMonitor&) = delete;
    FloatingAppMonitor& operator=(const FloatingAppMonitor&) = delete;

    void start(Handler handler) override;
    void refresh() override;
    void stop() override;

    const std::optional<std::string>& current() const { return current_; }
    std::size_t observerCount() const { return observers_.size(); }

private:
    void scan();
    void attach(std::int32_t pid);
    void detach(std::int32_t pid);
    void applicationLaunched(const platform::RunningApplication& application);
    void applicationTerminated(const platform::RunningApplication& application);
    std::optional<std::string> focusedLauncher();
    void evaluate();

    platform::Workspace& workspace_;
    platform::Accessibility& accessibility_;

    Handler onChange_;
    std::map<std::int32_t, std::unique_ptr<platform::AccessibilityObserver>> observers_;
    std::vector<platform::Registration> workspaceTokens_;
    std::optional<std::string> current_;
    platform::AccessibleElement desktop_;
    // Callbacks hold this weakly and do nothing once the monitor is gone.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tesvano

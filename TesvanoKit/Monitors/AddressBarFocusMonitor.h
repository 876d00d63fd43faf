#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Accessibility/Accessibility.h"
#include "Platform/Workspace/Workspace.h"
#include "TesvanoKit/Monitors/AddressBarFocusMonitoring.h"

namespace tesvano {

// Follows one browser through Accessibility and reports, on every change, whether its focused
// element is the address bar (AddressBarHeuristic).
class AddressBarFocusMonitor final : public AddressBarFocusMonitoring {
public:
    static constexpr double callTimeout = 0.25;
    static constexpr int defaultAncestorDepth = 12;

    AddressBarFocusMonitor(platform::Workspace& workspace, platform::Accessibility& accessibility,
                           int ancestorDepth = defaultAncestorDepth);
    // Stops: the observer does not outlive the monitor.
    ~AddressBarFocusMonitor() override;
    AddressBarFocusMonitor(const AddressBarFocusMonitor&) = delete;
    AddressBarFocusMonitor& operator=(const AddressBarFocusMonitor&) = delete;

    void start(Handler handler) override;
    void observe(const std::optional<std::string>& appId) override;
    // Also checks again now; the engine calls it on every URL poll.
    void refresh() override;
    void stop() override;

    bool current() const { return current_; }
    bool isAttached() const { return observer_ != nullptr; }
    const std::optional<std::string>& observedAppId() const { return observedAppId_; }
    int ancestorDepth() const { return ancestorDepth_; }

    // The roles of up to `depth` ancestors of `element`, nearest first; a role that does not
    // read is skipped but its element still counts.
    static std::vector<std::string> ancestorRoles(platform::Accessibility& accessibility,
                                                  const platform::AccessibleElement& element,
                                                  int depth);

private:
    void attach(std::int32_t pid);
    void detach();
    // Whether the focused element is the address bar; none when the browser did not answer.
    std::optional<bool> evaluate();
    void reportIfChanged(bool focused);

    platform::Workspace& workspace_;
    platform::Accessibility& accessibility_;

    Handler onChange_;
    std::unique_ptr<platform::AccessibilityObserver> observer_;
    std::optional<std::string> observedAppId_;
    std::optional<std::int32_t> observedPID_;
    bool current_ = false;
    platform::AccessibleElement desktop_;
    int ancestorDepth_;
    // The observer's callback holds this weakly and does nothing once the monitor is gone.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tesvano

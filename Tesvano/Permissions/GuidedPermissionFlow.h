#pragma once

#include <memory>

#include "PermissionFlow/PermissionFlowController.h"
#include "Tesvano/Permissions/PermissionFlowController.h"

namespace tesvano {

// The permission guide with its floating panel, as the program's state drives it.
class GuidedPermissionFlow final : public PermissionFlowController {
public:
    explicit GuidedPermissionFlow(PermissionFlow::PermissionFlowEnvironment environment);

    void setLocaleIdentifier(const std::optional<std::string>& identifier) override;
    void open(PermissionFlowPane pane, const std::vector<std::string>& suggestedApps,
              const std::optional<platform::Rect>& launchFrom) override;
    void stop(bool restorePrevious) override;

    PermissionFlow::PermissionFlowController& controller() { return *controller_; }

private:
    std::unique_ptr<PermissionFlow::PermissionFlowController> controller_;
};

}  // namespace tesvano

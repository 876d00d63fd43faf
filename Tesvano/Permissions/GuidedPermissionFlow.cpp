#include "Tesvano/Permissions/GuidedPermissionFlow.h"

#include "PermissionFlow/Panels/FloatingDropPanel.h"
#include "Tesvano/App/Symbols.h"

namespace tesvano {

GuidedPermissionFlow::GuidedPermissionFlow(PermissionFlow::PermissionFlowEnvironment environment)
    : controller_(std::make_unique<PermissionFlow::PermissionFlowController>(
          std::move(environment), PermissionFlow::PermissionFlowConfiguration{},
          [](PermissionFlow::PermissionFlowController& c) {
              return PermissionFlow::makeFloatingDropPanel(c, Symbols::icon);
          })) {}

void GuidedPermissionFlow::setLocaleIdentifier(const std::optional<std::string>& identifier) {
    controller_->setLocaleIdentifier(identifier);
}

void GuidedPermissionFlow::open(PermissionFlowPane pane,
                                const std::vector<std::string>& suggestedApps,
                                const std::optional<platform::Rect>& launchFrom) {
    controller_->open(pane, {suggestedApps.begin(), suggestedApps.end()}, launchFrom);
}

void GuidedPermissionFlow::stop(bool restorePrevious) {
    controller_->stop(restorePrevious);
}

}  // namespace tesvano

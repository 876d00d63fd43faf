#include "Platform/Workspace/DesktopEntryIndex.h"
#include "Tesvano/App/AppState.h"

namespace tesvano {

PermissionFlowController& AppState::permissionFlow() {
    if (!permissionFlow_) {
        permissionFlow_ = services_.makePermissionFlow ? services_.makePermissionFlow()
                                                       : std::make_unique<PermissionFlowStandIn>();
    }
    return *permissionFlow_;
}

std::vector<std::string> AppState::ownApplicationEntries() const {
    if (const auto* entry = services_.desktopEntries.entry("tesvano")) {
        return {entry->path.string()};
    }
    return {};
}

}  // namespace tesvano

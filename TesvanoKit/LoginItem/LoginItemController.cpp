#include "TesvanoKit/LoginItem/LoginItemController.h"

namespace tesvano {

LoginItemState loginItemStateFromStatus(int rawStatus) {
    switch (rawStatus) {
        case platform::LoginItemService::notRegistered:
            return LoginItemState::disabled;
        case platform::LoginItemService::enabled:
            return LoginItemState::enabled;
        case platform::LoginItemService::requiresApproval:
            return LoginItemState::requiresApproval;
        case platform::LoginItemService::notFound:
            return LoginItemState::notFound;
        default:
            return LoginItemState::unknown;
    }
}

std::expected<void, LoginItemError> LoginItemController::setEnabled(bool enabled) {
    const bool registered = service_.status() == platform::LoginItemService::enabled;
    if (enabled == registered) {
        return {};
    }
    auto result = enabled ? service_.registerItem() : service_.unregisterItem();
    if (!result) {
        return std::unexpected(LoginItemError{result.error()});
    }
    return {};
}

}  // namespace tesvano

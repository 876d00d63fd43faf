#include "Platform/LoginItems/FakeLoginItemService.h"

namespace tesvano::platform {

std::expected<void, std::string> FakeLoginItemService::registerItem() {
    ++registerCalls;
    if (!failure.empty())
        return std::unexpected(failure);
    rawStatus = enabled;
    return {};
}

std::expected<void, std::string> FakeLoginItemService::unregisterItem() {
    ++unregisterCalls;
    if (!failure.empty())
        return std::unexpected(failure);
    rawStatus = notRegistered;
    return {};
}

}  // namespace tesvano::platform

#pragma once

#include <string>

#include "Platform/LoginItems/LoginItemService.h"

namespace tesvano::platform {

// In memory, for tests.
class FakeLoginItemService final : public LoginItemService {
public:
    int rawStatus = notRegistered;
    std::string failure;  // when set, register and unregister fail with it
    int registerCalls = 0;
    int unregisterCalls = 0;

    int status() const override { return rawStatus; }
    std::expected<void, std::string> registerItem() override;
    std::expected<void, std::string> unregisterItem() override;
};

}  // namespace tesvano::platform

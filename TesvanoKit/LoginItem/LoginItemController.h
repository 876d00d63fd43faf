#pragma once

#include <expected>
#include <string>

#include "Platform/LoginItems/LoginItemService.h"
#include "TesvanoKit/Rules/EnumCoding.h"

namespace tesvano {

enum class LoginItemState { enabled, disabled, requiresApproval, notFound, unknown };

// The service status number mapped onto the states the program shows.
LoginItemState loginItemStateFromStatus(int rawStatus);
constexpr bool isEnabled(LoginItemState state) {
    return state == LoginItemState::enabled;
}

struct LoginItemError {
    std::string message;
};

// The one place that registers the program to start at login. It keeps no state: every
// call asks the service again.
class LoginItemController {
public:
    explicit LoginItemController(platform::LoginItemService& service) : service_(service) {}

    LoginItemState state() const { return loginItemStateFromStatus(service_.status()); }
    bool isEnabled() const { return state() == LoginItemState::enabled; }
    // Does nothing when the registration already is as wanted.
    std::expected<void, LoginItemError> setEnabled(bool enabled);

private:
    platform::LoginItemService& service_;
};

}  // namespace tesvano

#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/DBus/Interface.h"
#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// Whether assistive technologies are enabled on this session: the IsEnabled property of
// org.a11y.Status on the session bus (served by the AT-SPI bus launcher). Browsers expose
// their accessible trees only while it is true, so it is what "access granted" means here.
class AssistiveTechnologyStatus {
public:
    virtual ~AssistiveTechnologyStatus() = default;
    // The property as read now; nothing when there is no session bus or no AT-SPI launcher.
    virtual std::optional<bool> isEnabled() = 0;
    // Sets the property; false with a reason in lastError() when it could not be set.
    virtual bool setEnabled(bool enabled) = 0;
    virtual std::string lastError() const = 0;
    // Calls `changed` with the new value on the runtime's thread each time the property
    // changes (whoever changed it), until the handle goes; an error when it cannot be followed.
    virtual std::expected<Registration, std::string> observe(Runtime& runtime,
                                                             std::function<void(bool)> changed) = 0;
};

// The real one, over the session bus named by DBUS_SESSION_BUS_ADDRESS. Each call opens the
// bus, waits at most `timeout` for the reply and closes it again.
class SessionBusAssistiveTechnologyStatus final : public AssistiveTechnologyStatus {
public:
    explicit SessionBusAssistiveTechnologyStatus(
        std::chrono::milliseconds timeout = dbus::callTimeout);
    std::optional<bool> isEnabled() override;
    bool setEnabled(bool enabled) override;
    std::string lastError() const override { return lastError_; }
    // On a connection of its own, open while the handle lives.
    std::expected<Registration, std::string> observe(Runtime& runtime,
                                                     std::function<void(bool)> changed) override;

private:
    std::chrono::milliseconds timeout_;
    std::string lastError_;
};

}  // namespace tesvano::platform

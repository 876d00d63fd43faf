#pragma once

#include <chrono>
#include <optional>
#include <string>

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
};

// The real one, over the session bus named by DBUS_SESSION_BUS_ADDRESS. Each call opens the
// bus, waits at most `timeout` for the reply and closes it again.
class SessionBusAssistiveTechnologyStatus final : public AssistiveTechnologyStatus {
public:
    explicit SessionBusAssistiveTechnologyStatus(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(250));
    std::optional<bool> isEnabled() override;
    bool setEnabled(bool enabled) override;
    std::string lastError() const override { return lastError_; }

private:
    std::chrono::milliseconds timeout_;
    std::string lastError_;
};

// For tests: a plain value.
class FakeAssistiveTechnologyStatus final : public AssistiveTechnologyStatus {
public:
    std::optional<bool> value = false;
    bool failSet = false;
    int setCalls = 0;
    std::optional<bool> isEnabled() override { return value; }
    bool setEnabled(bool enabled) override {
        ++setCalls;
        if (failSet || !value)
            return false;
        value = enabled;
        return true;
    }
    std::string lastError() const override { return failSet ? "refused" : ""; }
};

}  // namespace tesvano::platform

#include "Platform/Accessibility/AssistiveTechnologyStatus.h"

#if TESVANO_HAVE_SYSTEMD
#include <systemd/sd-bus.h>
#endif

#include <cstring>

namespace tesvano::platform {

namespace {

constexpr const char* kService = "org.a11y.Bus";
constexpr const char* kPath = "/org/a11y/bus";
constexpr const char* kInterface = "org.a11y.Status";
constexpr const char* kProperty = "IsEnabled";

}  // namespace

SessionBusAssistiveTechnologyStatus::SessionBusAssistiveTechnologyStatus(
    std::chrono::milliseconds timeout)
    : timeout_(timeout) {}

#if TESVANO_HAVE_SYSTEMD

namespace {

struct Bus {
    sd_bus* bus = nullptr;
    ~Bus() { sd_bus_flush_close_unref(bus); }
};

// Opens the session bus with the reply timeout; an error text when it cannot.
std::optional<std::string> open(Bus& bus, std::chrono::milliseconds timeout) {
    int r = sd_bus_open_user(&bus.bus);
    if (r < 0)
        return std::string("no session bus: ") + std::strerror(-r);
    sd_bus_set_method_call_timeout(bus.bus, static_cast<std::uint64_t>(timeout.count()) * 1000U);
    return std::nullopt;
}

}  // namespace

std::optional<bool> SessionBusAssistiveTechnologyStatus::isEnabled() {
    Bus bus;
    if (auto failure = open(bus, timeout_)) {
        lastError_ = *failure;
        return std::nullopt;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int value = 0;
    int r = sd_bus_get_property_trivial(bus.bus, kService, kPath, kInterface, kProperty, &error,
                                        'b', &value);
    if (r < 0) {
        lastError_ = error.message ? error.message : std::strerror(-r);
        sd_bus_error_free(&error);
        return std::nullopt;
    }
    lastError_.clear();
    return value != 0;
}

bool SessionBusAssistiveTechnologyStatus::setEnabled(bool enabled) {
    Bus bus;
    if (auto failure = open(bus, timeout_)) {
        lastError_ = *failure;
        return false;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_set_property(bus.bus, kService, kPath, kInterface, kProperty, &error, "b",
                                static_cast<int>(enabled));
    if (r < 0) {
        lastError_ = error.message ? error.message : std::strerror(-r);
        sd_bus_error_free(&error);
        return false;
    }
    lastError_.clear();
    return true;
}

#else

std::optional<bool> SessionBusAssistiveTechnologyStatus::isEnabled() {
    lastError_ = "built without D-Bus support";
    return std::nullopt;
}

bool SessionBusAssistiveTechnologyStatus::setEnabled(bool) {
    lastError_ = "built without D-Bus support";
    return false;
}

#endif

}  // namespace tesvano::platform

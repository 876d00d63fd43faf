#include "Platform/Accessibility/AssistiveTechnologyStatus.h"

#if TESVANO_HAVE_SYSTEMD
#include <systemd/sd-bus.h>
#endif

#include <cstring>
#include <memory>

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

namespace {

// The connection that follows the property, read whenever the loop finds it readable.
struct StatusWatch {
    Runtime& runtime;
    std::function<void(bool)> changed;
    Bus bus;
    sd_bus_slot* slot = nullptr;
    Registration readable;
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    StatusWatch(Runtime& r, std::function<void(bool)> c) : runtime(r), changed(std::move(c)) {}
    ~StatusWatch() {
        readable.cancel();
        sd_bus_slot_unref(slot);
    }

    void drain() {
        int r = 0;
        while ((r = sd_bus_process(bus.bus, nullptr)) > 0) {
        }
        // The bus went away: its socket would stay readable for ever.
        if (r < 0) {
            readable.cancel();
        }
    }
};

// org.freedesktop.DBus.Properties.PropertiesChanged (s interface, a{sv} changed, as ...).
int propertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* watch = static_cast<StatusWatch*>(userdata);
    const char* interface = nullptr;
    if (sd_bus_message_read(message, "s", &interface) < 0 ||
        std::strcmp(interface, kInterface) != 0 ||
        sd_bus_message_enter_container(message, 'a', "{sv}") < 0) {
        return 0;
    }
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* name = nullptr;
        int value = 0;
        if (sd_bus_message_read(message, "s", &name) < 0) {
            return 0;
        }
        if (std::strcmp(name, kProperty) == 0) {
            if (sd_bus_message_read(message, "v", "b", &value) >= 0) {
                // Told from a turn of the loop of its own: the observer may end the watch.
                watch->runtime.post(Seconds(0), [alive = std::weak_ptr<int>(watch->alive), watch,
                                                 enabled = value != 0] {
                    if (!alive.expired()) {
                        watch->changed(enabled);
                    }
                });
            }
            return 0;
        }
        if (sd_bus_message_skip(message, "v") < 0 || sd_bus_message_exit_container(message) < 0) {
            return 0;
        }
    }
    return 0;
}

}  // namespace

std::expected<Registration, std::string> SessionBusAssistiveTechnologyStatus::observe(
    Runtime& runtime, std::function<void(bool)> changed) {
    auto watch = std::make_shared<StatusWatch>(runtime, std::move(changed));
    if (auto failure = open(watch->bus, timeout_)) {
        return std::unexpected(*failure);
    }
    // Any sender: the launcher answers under its own unique name.
    const int r = sd_bus_match_signal(watch->bus.bus, &watch->slot, nullptr, kPath,
                                      "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                      propertiesChanged, watch.get());
    if (r < 0) {
        return std::unexpected(std::string("cannot follow the accessibility switch: ") +
                               std::strerror(-r));
    }
    const int fd = sd_bus_get_fd(watch->bus.bus);
    if (fd < 0) {
        return std::unexpected(std::string("no session bus: ") + std::strerror(-fd));
    }
    watch->readable = runtime.watchReadable(fd, [raw = watch.get()] { raw->drain(); });
    // What arrived with the match's reply is queued already.
    watch->drain();
    auto state = std::make_shared<Registration::State>();
    state->onCancel = [watch]() mutable { watch.reset(); };
    return Registration(state);
}

#else

std::expected<Registration, std::string> SessionBusAssistiveTechnologyStatus::observe(
    Runtime&, std::function<void(bool)>) {
    return std::unexpected("built without D-Bus support");
}

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

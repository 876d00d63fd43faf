#include "Platform/Accessibility/AssistiveTechnologyStatus.h"

#include <cstring>
#include <memory>

#include "Platform/DBus/SessionBus.h"

namespace tesvano::platform {

namespace {

constexpr dbus::Object kStatus{"org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status"};
constexpr const char* kProperty = "IsEnabled";

}  // namespace

SessionBusAssistiveTechnologyStatus::SessionBusAssistiveTechnologyStatus(
    std::chrono::milliseconds timeout)
    : timeout_(timeout) {}

std::optional<bool> SessionBusAssistiveTechnologyStatus::isEnabled() {
    // The bus starts the launcher in a session that has not run it yet: its switch is asked for.
    auto bus = dbus::Connection::open({}, dbus::CallOptions{timeout_, true});
    if (!bus) {
        lastError_ = bus.error();
        return std::nullopt;
    }
    const auto value = bus->readBool(kStatus, kProperty);
    if (!value) {
        lastError_ = value.error().message;
        return std::nullopt;
    }
    lastError_.clear();
    return *value;
}

bool SessionBusAssistiveTechnologyStatus::setEnabled(bool enabled) {
    auto bus = dbus::Connection::open({}, dbus::CallOptions{timeout_, true});
    if (!bus) {
        lastError_ = bus.error();
        return false;
    }
    if (const auto done = bus->writeBool(kStatus, kProperty, enabled); !done) {
        lastError_ = done.error().message;
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
    dbus::Connection bus;
    dbus::Slot slot;
    std::optional<dbus::BusLoop> loop;
    // The value last told; none before the first change.
    std::optional<bool> told;
    dbus::Lifetime lifetime;

    StatusWatch(Runtime& r, std::function<void(bool)> c, dbus::Connection b)
        : runtime(r), changed(std::move(c)), bus(std::move(b)) {}

    // Told from a turn of the loop of its own: the observer may end the watch.
    void tell(bool enabled) {
        told = enabled;
        lifetime.later(runtime, [this, enabled] { changed(enabled); });
    }

    int attach();
};

// org.freedesktop.DBus.Properties.PropertiesChanged (s interface, a{sv} changed, as ...).
int propertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* watch = static_cast<StatusWatch*>(userdata);
    const char* interface = nullptr;
    if (sd_bus_message_read(message, "s", &interface) < 0 ||
        std::strcmp(interface, kStatus.interface) != 0 ||
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
                watch->tell(value != 0);
            }
            return 0;
        }
        if (sd_bus_message_skip(message, "v") < 0 || sd_bus_message_exit_container(message) < 0) {
            return 0;
        }
    }
    return 0;
}

// Any sender: the launcher answers under its own unique name.
int StatusWatch::attach() {
    return sd_bus_match_signal(bus.get(), slot.out(), nullptr, kStatus.path,
                               "org.freedesktop.DBus.Properties", "PropertiesChanged",
                               propertiesChanged, this);
}

}  // namespace

std::expected<Registration, std::string> SessionBusAssistiveTechnologyStatus::observe(
    Runtime& runtime, std::function<void(bool)> changed) {
    auto bus = dbus::Connection::open();
    if (!bus) {
        return std::unexpected(bus.error());
    }
    auto watch = std::make_shared<StatusWatch>(runtime, std::move(changed), std::move(*bus));
    if (const int r = watch->attach(); r < 0) {
        return std::unexpected(std::string("cannot follow the accessibility switch: ") +
                               std::strerror(-r));
    }
    StatusWatch* self = watch.get();
    watch->loop.emplace(runtime, watch->bus, std::function<void(int)>(), [self] {
        if (const int r = self->attach(); r < 0) {
            return r;
        }
        // A change made while the connection was gone was not heard: the switch as it is now.
        if (const auto now = self->bus.readBool(kStatus, kProperty); now && self->told != *now) {
            self->tell(*now);
        }
        return 0;
    });
    // What arrived with the match's reply is queued already.
    watch->loop->dispatch();
    auto state = std::make_shared<Registration::State>();
    state->onCancel = [watch]() mutable { watch.reset(); };
    return Registration(state);
}

}  // namespace tesvano::platform

#include "Platform/DBus/SessionBus.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Platform/Log/Log.h"

namespace tesvano::platform::dbus {

namespace {

const Logger& logger() {
    static const Logger log("SessionBus");
    return log;
}

constexpr Object kBusDaemon{"org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus"};

struct Error {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~Error() { sd_bus_error_free(&error); }
};

CallError failure(int r, const sd_bus_error* error = nullptr) {
    return CallError{r, error && error->message ? error->message : std::strerror(-r)};
}

// The address without the id of the bus it was made for ("guid="): a bus that restarts at
// the same place has another id, which sd-bus would take for the wrong bus.
std::string withoutServerID(std::string address) {
    for (std::size_t at = address.find("guid="); at != std::string::npos;
         at = address.find("guid=", at)) {
        if (at == 0 || (address[at - 1] != ',' && address[at - 1] != ':')) {
            ++at;
            continue;
        }
        std::size_t end = std::min(address.find_first_of(",;", at), address.size());
        if (address[at - 1] == ',') {
            --at;
        } else if (end < address.size() && address[end] == ',') {
            ++end;
        }
        address.erase(at, end - at);
    }
    return address;
}

Object properties(const Object& object) {
    return Object{object.destination, object.path, "org.freedesktop.DBus.Properties"};
}

}  // namespace

std::expected<Connection, std::string> Connection::open(const std::string& address,
                                                        CallOptions options) {
    Connection connection;
    connection.address_ = address;
    connection.options_ = options;
    if (const int r = connection.start(false); r < 0) {
        return std::unexpected(std::string("no session bus: ") + std::strerror(-r));
    }
    return connection;
}

int Connection::start(bool again) {
    Owned<sd_bus, sd_bus_flush_close_unref> opened;
    sd_bus** bus = opened.out();
    const char* user = address_.empty() ? std::getenv("DBUS_SESSION_BUS_ADDRESS") : nullptr;
    int r = 0;
    if (address_.empty() && (!again || user == nullptr)) {
        r = sd_bus_open_user(bus);
    } else {
        const std::string address = again ? withoutServerID(user ? user : address_) : address_;
        if ((r = sd_bus_new(bus)) >= 0 && (r = sd_bus_set_address(*bus, address.c_str())) >= 0 &&
            (r = sd_bus_set_bus_client(*bus, 1)) >= 0 &&
            // As sd_bus_open_user has it: the user's own bus checks no caller per method.
            (r = sd_bus_set_trusted(*bus, user != nullptr)) >= 0) {
            r = sd_bus_start(*bus);
        }
    }
    if (r < 0) {
        return r;
    }
    // For what sd-bus asks the bus itself (names, matches) as for our calls.
    sd_bus_set_method_call_timeout(*bus, microseconds(options_.timeout));
    bus_ = std::move(opened);
    return 0;
}

int Connection::reopen() {
    return start(true);
}

int Connection::newCall(const Object& object, const Method& method, Reply& request) {
    int r = sd_bus_message_new_method_call(get(), request.out(), object.destination, object.path,
                                           object.interface, method.name);
    // The bus would start a service for a name nobody holds: a session without it, or one
    // whose service just quit.
    if (r >= 0 && !options_.autoStart) {
        r = sd_bus_message_set_auto_start(request.get(), 0);
    }
    return r;
}

std::expected<Reply, CallError> Connection::send(const Method& method, Reply& request, int r) {
    if (r < 0) {
        return std::unexpected(failure(r));
    }
    Error error;
    Reply reply;
    r = sd_bus_call(get(), request.get(), microseconds(options_.timeout), &error.error,
                    reply.out());
    if (afterCall_) {
        afterCall_();
    }
    if (r < 0) {
        return std::unexpected(failure(r, &error.error));
    }
    if (method.reply && sd_bus_message_has_signature(reply.get(), method.reply) <= 0) {
        return std::unexpected(CallError{
            -EBADMSG, std::string(method.name) + " replied " +
                          sd_bus_message_get_signature(reply.get(), 1) + ", not " + method.reply});
    }
    return reply;
}

std::optional<std::string> Connection::nameOwner(const char* name) {
    const auto reply = call(kBusDaemon, Method{"GetNameOwner", "s", "s"}, name);
    const char* unique = nullptr;
    if (!reply || sd_bus_message_read(reply->get(), "s", &unique) <= 0 || !unique) {
        return std::nullopt;
    }
    return std::string(unique);
}

std::expected<bool, CallError> Connection::readBool(const Object& object, const char* property) {
    auto reply = call(properties(object), Method{"Get", "ss", "v"}, object.interface, property);
    if (!reply) {
        return std::unexpected(reply.error());
    }
    int value = 0;
    if (const int r = sd_bus_message_read(reply->get(), "v", "b", &value); r < 0) {
        return std::unexpected(failure(r));
    }
    return value != 0;
}

std::expected<void, CallError> Connection::writeBool(const Object& object, const char* property,
                                                     bool value) {
    const auto reply = call(properties(object), Method{"Set", "ssv"}, object.interface, property,
                            "b", static_cast<int>(value));
    if (!reply) {
        return std::unexpected(reply.error());
    }
    return {};
}

int NameWatcher::start(Connection& bus) {
    const std::string rule =
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
        "member='NameOwnerChanged',arg0='" +
        name_ + "'";
    const int r =
        sd_bus_add_match(bus.get(), slot_.out(), rule.c_str(), &NameWatcher::onOwnerChanged, this);
    // Asked once the match is in place, so no change between the two goes unseen.
    owner_ = r < 0 ? std::string() : bus.nameOwner(name_.c_str()).value_or("");
    return r;
}

int NameWatcher::onOwnerChanged(sd_bus_message* message, void* data, sd_bus_error*) {
    auto* self = static_cast<NameWatcher*>(data);
    const char* name = nullptr;
    const char* before = nullptr;
    const char* after = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &before, &after) < 0 || self->name_ != name) {
        return 0;
    }
    if (*before != '\0' && *after != '\0') {
        self->owner_.clear();
        self->changed_(self->owner_);
    }
    self->owner_ = after;
    self->changed_(self->owner_);
    return 0;
}

BusLoop::BusLoop(Runtime& runtime, Connection& bus, std::function<void(int)> settled,
                 std::function<int()> reattach)
    : runtime_(runtime), bus_(bus), settled_(std::move(settled)), reattach_(std::move(reattach)) {
    watch();
    bus.setAfterCall([this] {
        std::uint64_t timeout = 0;
        // A timeout of zero: messages wait in the queue.
        if (sd_bus_get_timeout(bus_.get(), &timeout) >= 0 && timeout == 0) {
            dispatchLater();
        }
    });
}

void BusLoop::watch() {
    readable_ = runtime_.watchReadable(sd_bus_get_fd(bus_.get()), [this] { dispatch(); });
}

void BusLoop::dispatch() {
    later_.cancel();
    if (lost_) {
        return;
    }
    const Seconds until = runtime_.uptime() + batchTime;
    int r = 0;
    for (int handled = 0; handled < batchMessages; ++handled) {
        r = sd_bus_process(bus_.get(), nullptr);
        if (r <= 0 || runtime_.uptime() >= until) {
            break;
        }
    }
    if (r > 0) {
        // More may wait, in the socket or already in sd-bus's queue (where the socket no
        // longer tells of it): the rest of the program goes first.
        dispatchLater();
    } else if (r < 0) {
        logger().notice("the session bus went away: %{public}s", std::string(std::strerror(-r)));
        lost_ = true;
        readable_.cancel();
        if (reattach_) {
            // One dropped soon after it was made again would be dropped again: keep backing off.
            if (reconnectedAt_ && runtime_.uptime() - *reconnectedAt_ < steadyAfter) {
                ++failures_;
            } else {
                failures_ = 0;
            }
            scheduleReconnect();
        }
    }
    if (settled_) {
        settled_(r);
    }
}

void BusLoop::dispatchLater() {
    if (!later_.active() && !lost_) {
        later_ = runtime_.after(Seconds(0), [this] { dispatch(); });
    }
}

void BusLoop::scheduleReconnect() {
    const Seconds delay = reconnectDelays[std::min(failures_, reconnectDelays.size() - 1)];
    reconnect_ = runtime_.after(delay, [this] { reconnect(); });
}

void BusLoop::reconnect() {
    reconnect_.cancel();
    int r = bus_.reopen();
    if (r >= 0) {
        lost_ = false;
        watch();
        r = reattach_();
    }
    if (r < 0) {
        logger().debug("the session bus cannot be reached again yet: %{public}s",
                       std::string(std::strerror(-r)));
        lost_ = true;
        readable_.cancel();
        ++failures_;
        scheduleReconnect();
        return;
    }
    logger().notice("connected to the session bus again");
    reconnectedAt_ = runtime_.uptime();
    // Whatever came in while the matches were added.
    dispatchLater();
}

void Lifetime::later(Runtime& runtime, std::function<void()> action) const {
    runtime.post(Seconds(0), [alive = std::weak_ptr<int>(token_), action = std::move(action)] {
        if (!alive.expired() && action) {
            action();
        }
    });
}

void Lifetime::tell(std::initializer_list<std::pair<bool, std::function<void()>>> notices) const {
    const std::weak_ptr<int> alive = token_;
    for (const auto& [due, notify] : notices) {
        if (due && !alive.expired()) {
            notify();
        }
    }
}

}  // namespace tesvano::platform::dbus

#pragma once

#include <systemd/sd-bus.h>

#include <array>
#include <expected>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "Platform/DBus/Interface.h"
#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform::dbus {

constexpr std::uint64_t microseconds(std::chrono::milliseconds duration) {
    return static_cast<std::uint64_t>(duration.count()) * 1000U;
}

struct CallOptions {
    std::chrono::milliseconds timeout = callTimeout;
    // A call must not be what starts a service unless the caller means to.
    bool autoStart = false;
};

// Why a call failed: sd-bus's negative errno and the error reply's text (or the errno's).
struct CallError {
    int code = 0;
    std::string message;
};

// One reference to an sd-bus object, dropped with the holder.
template <typename T, T* (*unref)(T*)>
class Owned {
public:
    Owned() = default;
    Owned(Owned&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Owned() { unref(object_); }
    T* get() const { return object_; }
    // For sd-bus to fill in; the reference held before is dropped.
    T** out() {
        reset();
        return &object_;
    }
    void reset() { object_ = unref(object_); }

private:
    T* object_ = nullptr;
};

// A message of our own: a request or a reply.
using Reply = Owned<sd_bus_message, sd_bus_message_unref>;
// A match, an object or a pending call on a connection, dropped with the slot.
using Slot = Owned<sd_bus_slot, sd_bus_slot_unref>;

// A connection of our own to the session bus, flushed and closed with the object.
class Connection {
public:
    // The user's session bus, or the bus at `address`, its calls made as `options` say; a
    // readable reason when there is none.
    static std::expected<Connection, std::string> open(const std::string& address = {},
                                                       CallOptions options = {});

    sd_bus* get() const { return bus_.get(); }
    // Whether the bus still has us: false once it dropped the connection or went away.
    bool isOpen() const { return sd_bus_is_open(get()) > 0; }
    // Connects again to the same bus with the same options, in place of the connection held
    // (whose matches and objects go with it); a negative errno when the bus cannot be reached.
    int reopen();

    // Calls `method` with `arguments` (as its signature says) and waits for the reply.
    template <typename... Arguments>
    std::expected<Reply, CallError> call(const Object& object, const Method& method,
                                         Arguments... arguments) {
        Reply request;
        int r = newCall(object, method, request);
        if constexpr (sizeof...(arguments) > 0) {
            if (r >= 0) {
                r = sd_bus_message_append(request.get(), method.arguments, arguments...);
            }
        }
        return send(method, request, r);
    }

    // The unique name that holds `name`; none when nobody does (or the bus did not answer).
    std::optional<std::string> nameOwner(const char* name);
    std::expected<bool, CallError> readBool(const Object& object, const char* property);
    std::expected<void, CallError> writeBool(const Object& object, const char* property,
                                             bool value);

    // Called after each call returns: it may have read other messages into the queue.
    void setAfterCall(std::function<void()> afterCall) { afterCall_ = std::move(afterCall); }

private:
    Connection() = default;
    // `again`: to the bus at the same place, whatever its id now.
    int start(bool again);
    int newCall(const Object& object, const Method& method, Reply& request);
    std::expected<Reply, CallError> send(const Method& method, Reply& request, int r);

    Owned<sd_bus, sd_bus_flush_close_unref> bus_;
    std::string address_;
    CallOptions options_;
    std::function<void()> afterCall_;
};

// Follows who owns a well-known name: asks once at the start, then tells each change.
class NameWatcher {
public:
    // `changed` gets the new owner, empty when the name lost it; one owner replacing another
    // comes as a loss and then a gain. It runs while the connection dispatches.
    NameWatcher(std::string name, std::function<void(const std::string&)> changed)
        : name_(std::move(name)), changed_(std::move(changed)) {}
    NameWatcher(const NameWatcher&) = delete;
    NameWatcher& operator=(const NameWatcher&) = delete;
    // Follows the name on `bus` from now on; a negative errno when it cannot.
    int start(Connection& bus);
    // The owner as last known; empty for none.
    const std::string& owner() const { return owner_; }

private:
    static int onOwnerChanged(sd_bus_message* message, void* data, sd_bus_error*);

    std::string name_;
    std::function<void(const std::string&)> changed_;
    std::string owner_;
    Slot slot_;
};

// Runs a connection's callbacks on the runtime's loop: whenever its socket is readable, and on
// the next turn after a call that left messages in its queue (a blocking call reads whatever
// else arrives meanwhile, and then the socket no longer wakes the loop for it). Each turn
// handles a bounded batch and leaves the rest to the next one, so a client that floods the
// connection cannot keep timers and other sockets waiting. The connection must outlive the
// loop.
class BusLoop {
public:
    // At most this many messages, and for at most `batchTime`, per turn of the loop.
    static constexpr int batchMessages = 64;
    static constexpr Seconds batchTime{0.004};
    // The pauses before each attempt to connect again, the last one repeated; a connection
    // opened again that the bus drops within `steadyAfter` goes on to the next pause rather
    // than start them afresh.
    static constexpr std::array reconnectDelays{Seconds(0.1), Seconds(0.5), Seconds(1), Seconds(2),
                                                Seconds(5),   Seconds(10),  Seconds(30)};
    static constexpr Seconds steadyAfter{30};

    // `settled` runs after each dispatch with sd_bus_process's last result; it may destroy the
    // loop. A negative one means the bus went away, and its socket is no longer watched.
    // With `reattach`, a connection the bus dropped is opened again (see reconnectDelays) and
    // `reattach` adds the matches and watches to the new one; a negative errno from it counts
    // as a failed attempt. It may call on the bus but must not destroy the loop.
    BusLoop(Runtime& runtime, Connection& bus, std::function<void(int)> settled = {},
            std::function<int()> reattach = {});
    ~BusLoop() { bus_.setAfterCall({}); }
    BusLoop(const BusLoop&) = delete;
    BusLoop& operator=(const BusLoop&) = delete;

    void dispatch();
    // Once, on the next turn of the loop.
    void dispatchLater();
    // Whether the bus dropped the connection and it is not (yet) open again.
    bool lost() const { return lost_; }

private:
    void watch();
    void scheduleReconnect();
    void reconnect();

    Runtime& runtime_;
    Connection& bus_;
    std::function<void(int)> settled_;
    std::function<int()> reattach_;
    Registration readable_;
    Registration later_;
    Registration reconnect_;
    bool lost_ = false;
    // Attempts that failed, or connections dropped soon after they were made, in a row.
    std::size_t failures_ = 0;
    std::optional<Seconds> reconnectedAt_;
};

// News for the observers of a connection's owner is told from the loop, or once a dispatch is
// over, where an observer may destroy the owner: nothing is told once it has.
class Lifetime {
public:
    // Runs `action` on a later turn of the loop unless the holder is gone by then.
    void later(Runtime& runtime, std::function<void()> action) const;

    // Tells the due notices in order, stopping once one has destroyed the holder.
    void tell(std::initializer_list<std::pair<bool, std::function<void()>>> notices) const;

private:
    std::shared_ptr<int> token_ = std::make_shared<int>(0);
};

}  // namespace tesvano::platform::dbus

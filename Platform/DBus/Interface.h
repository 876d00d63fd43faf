#pragma once

#include <chrono>

// What a client says of the services it calls on the session bus (see SessionBus.h).
namespace tesvano::platform::dbus {

// How long a call on the session bus waits for its reply. Every call is made on the main
// thread and holds it, the lock and the interface included, until the answer comes; a service
// that works answers within milliseconds, so this leaves one whose own loop is busy for a
// moment (Fcitx while it loads an engine) time to answer, and costs a hung one a second instead
// of the bus's 25.
inline constexpr std::chrono::milliseconds callTimeout{1000};

// Where a call goes: a service's object and one of its interfaces.
struct Object {
    const char* destination;
    const char* path;
    const char* interface;
};

// A method as a client calls it: the signature of its arguments and of its reply (a reply of
// another signature fails the call; none: not checked).
struct Method {
    const char* name;
    const char* arguments = "";
    const char* reply = nullptr;
};

// A signal as a client reads it.
struct Signal {
    const char* name;
    const char* signature = "";
};

}  // namespace tesvano::platform::dbus

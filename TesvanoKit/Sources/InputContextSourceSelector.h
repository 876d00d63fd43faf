#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "Platform/TextInput/TextInputSources.h"
#include "TesvanoKit/Rules/EnumCoding.h"

namespace tesvano::KeyFocusInputSourceSelector {

// Why asking the focused application to switch its own input source did not work.
struct Failure {
    enum class Kind {
        transport,      // sending the request failed; `code` is the status
        rejected,       // the application answered with a non-zero error; `code` is it
        unavailable,    // the system has no way to send the request
        noFocus,        // no application with key focus, or no usable process ID for it
        ownProcess,     // the focused application is this program
        serialization,  // the source or the request could not be encoded
        noPort,         // the focused application has no text-input port
        invalidReply,   // the reply is missing or not in the expected form
    };

    Kind kind = Kind::unavailable;
    std::int32_t code = 0;  // only for transport and rejected

    static Failure transport(std::int32_t status) { return {Kind::transport, status}; }
    static Failure rejected(std::int32_t errorCode) { return {Kind::rejected, errorCode}; }
    static Failure of(Kind kind) { return {kind, 0}; }

    // The case name, with the code in parentheses for transport and rejected: "rejected(-5)".
    std::string description() const;
    bool operator==(const Failure&) const = default;
};

using Result = std::expected<void, Failure>;

// How long the main thread may wait on the focused application, where a system offers the
// request at all.
inline constexpr platform::Seconds sendTimeout{0.1};
inline constexpr platform::Seconds receiveTimeout{0.3};

// Asks the input context that has the keyboard focus to take `source`, through the request
// its input-method framework offers (Fcitx switches the focused context; IBus switches its
// global engine, which the focused context takes at once). The X server's layout groups have
// no such request: a group applies to every client at once, so for them the answer is
// `unavailable` and the standard selection does the work.
Result select(platform::TextInputSources& system, const platform::TextInputSource& source);

}  // namespace tesvano::KeyFocusInputSourceSelector

namespace tesvano {

template <>
struct EnumTable<KeyFocusInputSourceSelector::Failure::Kind> {
    using K = KeyFocusInputSourceSelector::Failure::Kind;
    static constexpr std::array<std::pair<K, std::string_view>, 8> entries{{
        {K::transport, "transport"},
        {K::rejected, "rejected"},
        {K::unavailable, "unavailable"},
        {K::noFocus, "noFocus"},
        {K::ownProcess, "ownProcess"},
        {K::serialization, "serialization"},
        {K::noPort, "noPort"},
        {K::invalidReply, "invalidReply"},
    }};
};

}  // namespace tesvano

#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "Platform/TextInput/TextInputSources.h"
#include "TesvanoKit/Rules/EnumCoding.h"

namespace tesvano::InputContextSourceSelector {

// Why asking the input context that has the keyboard focus to take a source did not work.
struct Failure {
    enum class Kind {
        transport,      // sending the request failed; `code` is the status
        rejected,       // the framework answered with an error; `code` is it
        unavailable,    // the backend has no such request, or it does not run
        noFocus,        // no input context has the keyboard focus
        serialization,  // the source has no id to ask for
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

// Asks the input context that has the keyboard focus to take `source`, through the request
// its input-method framework offers (Fcitx switches the focused context; IBus switches its
// global engine, which the focused context takes at once). The X server's layout groups have
// no such request: a group applies to every client at once, so for them the answer is
// `unavailable` and the plain selection does the work.
Result select(platform::TextInputSources& system, const platform::TextInputSource& source);

}  // namespace tesvano::InputContextSourceSelector

namespace tesvano {

template <>
struct EnumTable<InputContextSourceSelector::Failure::Kind> {
    using K = InputContextSourceSelector::Failure::Kind;
    static constexpr std::array<std::pair<K, std::string_view>, 6> entries{{
        {K::transport, "transport"},
        {K::rejected, "rejected"},
        {K::unavailable, "unavailable"},
        {K::noFocus, "noFocus"},
        {K::serialization, "serialization"},
        {K::invalidReply, "invalidReply"},
    }};
};

}  // namespace tesvano

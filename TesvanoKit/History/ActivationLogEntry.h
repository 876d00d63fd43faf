#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "TesvanoKit/History/ActivationEvent.h"
#include "TesvanoKit/Rules/RuleResolver.h"

namespace tesvano {

// One activation as the log store keeps it. The reason and the rule source are kept as the
// text that was stored, so an entry written by another version still reads; the accessors
// parse them.
struct ActivationLogEntry {
    // Row id in the store; 0 while the entry has not been saved.
    std::int64_t id = 0;
    platform::WallTime timestamp;
    std::string inputSourceID;
    std::string inputSourceName;
    std::string reasonRaw;
    double durationMs = 0;  // milliseconds
    std::optional<std::string> fromSourceName;
    std::optional<std::string> triggeringAppId;
    std::optional<std::string> triggeringAppName;
    std::optional<std::string> ruleSourceRaw;
    std::optional<std::string> matchedHost;

    ActivationLogEntry() = default;
    ActivationLogEntry(platform::WallTime timestamp, std::string inputSourceID,
                       std::string inputSourceName, std::string reasonRaw, double durationMs,
                       std::optional<std::string> fromSourceName,
                       std::optional<std::string> triggeringAppId,
                       std::optional<std::string> triggeringAppName,
                       std::optional<std::string> ruleSourceRaw,
                       std::optional<std::string> matchedHost);
    // `applicationName` is the display name of the triggering application, which the event
    // does not carry.
    ActivationLogEntry(const ActivationEvent& event, std::optional<std::string> applicationName);

    // None when the stored text names no reason (or rule source) this version knows.
    std::optional<ActivationReason> reason() const;
    std::optional<RuleSource> ruleSource() const;

    bool operator==(const ActivationLogEntry&) const = default;
};

}  // namespace tesvano

#include "TesvanoKit/History/ActivationLogEntry.h"

namespace tesvano {

ActivationLogEntry::ActivationLogEntry(
    platform::WallTime timestamp_, std::string inputSourceID_, std::string inputSourceName_,
    std::string reasonRaw_, double durationMs_, std::optional<std::string> fromSourceName_,
    std::optional<std::string> triggeringAppId_, std::optional<std::string> triggeringAppName_,
    std::optional<std::string> ruleSourceRaw_, std::optional<std::string> matchedHost_)
    : timestamp(timestamp_),
      inputSourceID(std::move(inputSourceID_)),
      inputSourceName(std::move(inputSourceName_)),
      reasonRaw(std::move(reasonRaw_)),
      durationMs(durationMs_),
      fromSourceName(std::move(fromSourceName_)),
      triggeringAppId(std::move(triggeringAppId_)),
      triggeringAppName(std::move(triggeringAppName_)),
      ruleSourceRaw(std::move(ruleSourceRaw_)),
      matchedHost(std::move(matchedHost_)) {}

ActivationLogEntry::ActivationLogEntry(const ActivationEvent& event,
                                       std::optional<std::string> applicationName)
    : ActivationLogEntry(
          event.timestamp, event.inputSource.rawValue, event.inputSourceName,
          std::string(rawValue(event.reason)), event.durationMs, event.fromSourceName,
          event.triggeringAppId, std::move(applicationName),
          event.ruleSource ? std::optional<std::string>(rawValue(*event.ruleSource)) : std::nullopt,
          event.matchedHost) {}

std::optional<ActivationReason> ActivationLogEntry::reason() const {
    return enumFromRawValue<ActivationReason>(reasonRaw);
}

std::optional<RuleSource> ActivationLogEntry::ruleSource() const {
    if (!ruleSourceRaw) {
        return std::nullopt;
    }
    return enumFromRawValue<RuleSource>(*ruleSourceRaw);
}

}  // namespace tesvano

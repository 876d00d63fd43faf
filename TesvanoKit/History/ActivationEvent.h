#pragma once

#include <optional>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "TesvanoKit/Rules/LockConfiguration.h"
#include "TesvanoKit/Rules/RuleResolver.h"

namespace tesvano::platform {
class TextInputSources;
}

namespace tesvano {

// One selectable keyboard input source.
struct InputSource {
    InputSourceID id;
    std::string localizedName;
    bool isCJKV = false;
    // The backend that listed it, where a selection of it goes; none for a source the system
    // did not hand out.
    platform::TextInputSources* backend = nullptr;

    bool operator==(const InputSource&) const = default;
};

// Why a source was selected. Stored by case name, so the names are part of the log format.
enum class ActivationReason {
    revertedSwitch,
    appActivated,
    launcherFocused,
    launcherDismissed,
    urlPolled,
    urlMatched,
    addressBarFocused,
    addressBarBlurred,
    lockEngaged,
    configChanged,
    startupApplied,
    apiCommand,
    conflictPaused,
};

template <>
struct EnumTable<ActivationReason> {
    using R = ActivationReason;
    static constexpr std::array<std::pair<R, std::string_view>, 13> entries{{
        {R::revertedSwitch, "revertedSwitch"},
        {R::appActivated, "appActivated"},
        {R::launcherFocused, "launcherFocused"},
        {R::launcherDismissed, "launcherDismissed"},
        {R::urlPolled, "urlPolled"},
        {R::urlMatched, "urlMatched"},
        {R::addressBarFocused, "addressBarFocused"},
        {R::addressBarBlurred, "addressBarBlurred"},
        {R::lockEngaged, "lockEngaged"},
        {R::configChanged, "configChanged"},
        {R::startupApplied, "startupApplied"},
        {R::apiCommand, "apiCommand"},
        {R::conflictPaused, "conflictPaused"},
    }};
};

// The record of one switch of the input source.
struct ActivationEvent {
    platform::WallTime timestamp;
    InputSourceID inputSource;
    std::string inputSourceName;
    ActivationReason reason = ActivationReason::configChanged;
    double durationMs = 0;  // fractions kept
    std::optional<std::string> fromSourceName;
    std::optional<std::string> triggeringAppId;
    std::optional<RuleSource> ruleSource;
    std::optional<std::string> matchedHost;

    // Field by field; a NaN duration never compares equal.
    bool operator==(const ActivationEvent&) const = default;
};

std::size_t hashValue(const InputSource& source);
std::size_t hashValue(const ActivationEvent& event);

}  // namespace tesvano

template <>
struct std::hash<tesvano::InputSource> {
    std::size_t operator()(const tesvano::InputSource& s) const noexcept {
        return tesvano::hashValue(s);
    }
};

template <>
struct std::hash<tesvano::ActivationEvent> {
    std::size_t operator()(const tesvano::ActivationEvent& e) const noexcept {
        return tesvano::hashValue(e);
    }
};

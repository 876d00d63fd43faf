#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tesvano::ProcessIdentity {

// The key of an application without an app id is this prefix followed by its
// executable's file name (not its path: two executables of the same name share a key).
inline constexpr std::string_view prefix = "process:";

// What the identity of a running application is made from: its app id is its desktop-entry
// id.
struct RunningApplication {
    std::optional<std::string> appId;
    std::optional<std::string> executablePath;
};

// The app id when there is one, else the "process:" key of the executable.
std::optional<std::string> identifier(const RunningApplication& application);

// "process:" + the last path component, when there is a path and it does not end in an empty
// component.
std::optional<std::string> processIdentifier(std::optional<std::string_view> executablePath);

// The "process:" key from the executable alone, ignoring any app id.
std::optional<std::string> executableIdentifier(const RunningApplication& application);

// "process:" + `name`, for a non-empty name.
std::optional<std::string> identifierForExecutableName(std::string_view name);

// Whether `key` is a "process:" key with something after the prefix.
bool isProcessIdentifier(std::string_view key);

// The executable name inside a "process:" key; none for an app id or a bare prefix.
std::optional<std::string> processName(std::string_view key);

}  // namespace tesvano::ProcessIdentity

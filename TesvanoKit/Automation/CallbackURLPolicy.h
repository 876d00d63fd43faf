#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

// Which callback URLs the program may open for a caller.
namespace tesvano::CallbackURLPolicy {

// The program's own URL scheme, refused as a callback whatever else is passed as own schemes,
// so that a caller can never make the program send commands to itself.
inline constexpr std::string_view appScheme = "tesvano";

// Schemes never opened: local files.
const std::set<std::string, std::less<>>& deniedSchemes();

// The program's own schemes, lower-cased: it registers only `appScheme`.
const std::set<std::string, std::less<>>& ownURLSchemes();

// The scheme of `url` as written (letter case kept); none when it has none or is no URL.
std::optional<std::string> scheme(std::string_view url);

// Refused: no scheme, a denied scheme, one of `ownSchemes` (lower-cased names) or `appScheme`,
// in any letter case.
bool isAllowed(std::string_view url, const std::set<std::string, std::less<>>& ownSchemes);

}  // namespace tesvano::CallbackURLPolicy

#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>

// Which callback URLs the program may open for a caller.
namespace tesvano::CallbackURLPolicy {

// The program's own URL scheme, refused as a callback whatever else is passed as own schemes,
// so that a caller can never make the program send commands to itself.
inline constexpr std::string_view appScheme = "tesvano";

// Schemes never opened: local files, and script or inline content the opener would run or
// show as if it came from a page.
const std::set<std::string, std::less<>>& deniedSchemes();

// The longest URL the desktop's opener can be handed: it travels as one program argument,
// which Linux limits to 128 KiB including its terminating byte.
inline constexpr std::size_t maximumURLBytes = 128 * 1024 - 1;

// The program's own schemes, lower-cased: it registers only `appScheme`.
const std::set<std::string, std::less<>>& ownURLSchemes();

// The scheme of `url` as written (letter case kept); none when it has none or is no URL.
std::optional<std::string> scheme(std::string_view url);

// Refused: no scheme or the empty one, a denied scheme, one of `ownSchemes` (lower-cased names)
// or `appScheme`, in any letter case. For a scheme already read off the URL.
bool isAllowedScheme(const std::optional<std::string>& scheme,
                     const std::set<std::string, std::less<>>& ownSchemes);

// Refused: no scheme, a denied scheme, one of `ownSchemes` (lower-cased names) or `appScheme`,
// in any letter case.
bool isAllowed(std::string_view url, const std::set<std::string, std::less<>>& ownSchemes);

}  // namespace tesvano::CallbackURLPolicy

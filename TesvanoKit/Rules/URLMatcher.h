#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano::URLMatcher {

// The longest URL, in UTF-16 code units, that a "url-regex" rule is tried against. Longer URLs
// still meet the host-based rules.
inline constexpr std::size_t maxRegexURLLength = 8192;

// The first rule, in list order, that matches `url`; none when no rule does. The host is
// worked out once per call and the walk stops at the first match.
std::optional<URLRule> firstMatch(std::string_view url, std::span<const URLRule> rules);

// The source of the rule that `firstMatch` would return.
std::optional<InputSourceID> firstMatchSourceID(std::string_view url,
                                                std::span<const URLRule> rules);

// The lower-cased host of `url` (RFC 3986, with a lenient second try for text such as an
// address bar shows: spaces or letters outside ASCII); none for an empty string or a URL
// without a host.
std::optional<std::string> host(std::string_view url);

// Whether the rule is passed over because its pattern ran out of matching time before; it
// stays so until the pattern is edited.
bool isSkipped(const URLRule& rule);

// Whether `pattern` compiles as a regular expression (no options), for the rule editor.
bool isValidPattern(std::string_view pattern);

}  // namespace tesvano::URLMatcher

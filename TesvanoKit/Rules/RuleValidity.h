#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "TesvanoKit/Rules/LockConfiguration.h"

// What makes a rule valid, the same for every way a rule comes in: the URL rule editor, the
// tesvano:// commands and an imported backup.
namespace tesvano::RuleValidity {

// The longest values any real application id or pattern needs.
inline constexpr std::size_t maximumAppIDBytes = 255;
inline constexpr std::size_t maximumPatternCharacters = 8192;

enum class PatternProblem { none, empty, tooLong, invalidRegex };

// The pattern as it is stored: spaces and tabs trimmed, line breaks kept.
std::string normalizedPattern(std::string_view pattern);
// What is wrong with a pattern, normalized as above, for a rule of this match type.
PatternProblem patternProblem(std::string_view pattern, URLMatchType matchType);
// A desktop-entry id, executable name or "process:" identity: not empty, not overlong.
bool isValidAppID(std::string_view id);

std::size_t characterCount(std::string_view text);

// Whether a configuration's rules could all have come in by one of the ways above: valid app
// ids, normalized valid patterns, and no pattern twice in any letter case.
bool rulesAreValid(const LockConfiguration& configuration);

}  // namespace tesvano::RuleValidity

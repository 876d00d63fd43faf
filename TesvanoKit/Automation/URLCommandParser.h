#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TesvanoKit/Automation/URLCommand.h"
#include "TesvanoKit/Automation/URLCommandError.h"
#include "TesvanoKit/Rules/RuleValidity.h"

// Command URLs come in three forms, all with their parameters as query items:
//   tesvano://lock-to-source?name=German         the command as the host
//   tesvano://x-callback-url/lock-to-source?...  the command as the first path piece
//   tesvano:lock-to-source?...  or  tesvano:///lock-to-source?...  no host at all
// Command and parameter names are case-insensitive; "x-success", "x-error", "x-cancel" and
// "x-source" are read in every form. Parsing is pure: whether a named source or rule exists is
// decided when the command runs.
namespace tesvano::URLCommandParser {

// The longest values any real identity or pattern needs; longer ones are refused as invalid
// (and echoed shortened), so that no reply grows past what the desktop can deliver.
inline constexpr std::size_t maximumIdentityBytes = RuleValidity::maximumAppIDBytes;
inline constexpr std::size_t maximumPatternCharacters = RuleValidity::maximumPatternCharacters;
inline constexpr std::size_t maximumLanguageCodeBytes = 35;  // BCP 47 tags in practice
// How much of a refused overlong value an error message repeats.
inline constexpr std::size_t echoedValueBytes = URLCommandError::echoedValueBytes;

// Splits `url` once into what every later step reads; none when it is no URL reference.
std::optional<CommandURL> read(std::string_view url);

// The command a read URL asks for, or the first failure found.
std::expected<URLCommand, URLCommandError> command(const CommandURL& url);

// Both steps: the command and its callback targets, or the first failure found.
std::expected<ParsedURLCommand, URLCommandError> parse(std::string_view url);

// The callback targets alone, as `read` finds them. All absent when the URL does not split.
CallbackTargets callbackTargets(std::string_view url);

// The names of the callback items ("x-success", "x-error") that were given but are no URL and
// so cannot be answered, in that order.
std::vector<std::string> unusableCallbacks(std::string_view url);

}  // namespace tesvano::URLCommandParser

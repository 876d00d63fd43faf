#pragma once

#include <expected>
#include <string_view>

#include "TesvanoKit/Automation/URLCommand.h"
#include "TesvanoKit/Automation/URLCommandError.h"

// Command URLs come in three forms, all with their parameters as query items:
//   tesvano://lock-to-source?name=German         the command as the host
//   tesvano://x-callback-url/lock-to-source?...  the command as the first path piece
//   tesvano:lock-to-source?...  or  tesvano:///lock-to-source?...  no host at all
// Command and parameter names are case-insensitive; "x-success", "x-error", "x-cancel" and
// "x-source" are read in every form. Parsing is pure: whether a named source or rule exists is
// decided when the command runs.
namespace tesvano::URLCommandParser {

// The command and its callback targets, or the first failure found.
std::expected<ParsedURLCommand, URLCommandError> parse(std::string_view url);

// The callback targets alone, read as `parse` reads them, so that a URL that failed to parse
// (or was not parsed at all) can still be answered. All absent when the URL does not split.
CallbackTargets callbackTargets(std::string_view url);

}  // namespace tesvano::URLCommandParser

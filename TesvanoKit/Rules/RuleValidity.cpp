#include "TesvanoKit/Rules/RuleValidity.h"

#include <algorithm>
#include <unordered_set>

#include "TesvanoKit/Rules/TextFolding.h"
#include "TesvanoKit/Rules/URLMatcher.h"
#include "TesvanoKit/Rules/URLRuleList.h"

namespace tesvano::RuleValidity {

std::string normalizedPattern(std::string_view pattern) {
    return TextFolding::trimmed(pattern);
}

std::size_t characterCount(std::string_view text) {
    return static_cast<std::size_t>(std::ranges::count_if(
        text, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

PatternProblem patternProblem(std::string_view pattern, URLMatchType matchType) {
    if (pattern.empty()) {
        return PatternProblem::empty;
    }
    // Counted before the costlier checks: a pattern of megabytes is refused at once.
    if (pattern.size() > maximumPatternCharacters &&
        characterCount(pattern) > maximumPatternCharacters) {
        return PatternProblem::tooLong;
    }
    if (matchType == URLMatchType::urlRegex && !URLMatcher::isValidPattern(pattern)) {
        return PatternProblem::invalidRegex;
    }
    return PatternProblem::none;
}

bool isValidAppID(std::string_view id) {
    return !id.empty() && id.size() <= maximumAppIDBytes;
}

bool rulesAreValid(const LockConfiguration& configuration) {
    if (!std::ranges::all_of(configuration.appRules,
                             [](const AppRule& rule) { return isValidAppID(rule.appId); })) {
        return false;
    }
    std::unordered_set<std::string> keys;
    return std::ranges::all_of(configuration.urlRules, [&](const URLRule& rule) {
        return normalizedPattern(rule.hostPattern) == rule.hostPattern &&
               patternProblem(rule.hostPattern, rule.matchType) == PatternProblem::none &&
               keys.insert(URLRuleList::patternKey(rule.hostPattern)).second;
    });
}

}  // namespace tesvano::RuleValidity

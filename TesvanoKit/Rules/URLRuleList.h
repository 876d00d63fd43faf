#pragma once

#include <optional>
#include <string>
#include <vector>

#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano::URLRuleList {

// Whether two host patterns name the same rule: equal ignoring case, by Unicode case folding
// of the texts as stored (no trimming, no locale).
bool samePattern(const std::string& a, const std::string& b);
// The pattern case-folded as samePattern compares: equal keys for the same rule.
std::string patternKey(const std::string& pattern);

// Adds `rule`, or replaces the rule it edits. Patterns compare equal ignoring letter case;
// when `rule` takes the pattern of another rule, it merges into that rule, which keeps its id
// and place, so that the list never gains a second rule with the same pattern this way.
std::vector<URLRule> upsert(const URLRule& rule, std::vector<URLRule> list);

// `current` in the order of `proposed` (the same rules, rearranged). None when `proposed` is
// not a rearrangement of `current` (a missing, extra or repeated id, another length) or keeps
// the current order. The rules' contents always come from `current`.
std::optional<std::vector<URLRule>> reorder(const std::vector<URLRule>& current,
                                            const std::vector<URLRule>& proposed);

}  // namespace tesvano::URLRuleList

#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {

// What the URL rule editor holds while the user types: the rule it will save, still unchecked.
// `source` none stands for the global default, resolved when saving.
struct URLRuleDraft {
    Uuid ruleID;
    std::string pattern;
    URLMatchType matchType = URLMatchType::domainSuffix;
    RuleAction action = RuleAction::lock;
    std::optional<InputSourceID> source;

    // A new rule: a fresh id, the editor's defaults.
    static URLRuleDraft forNewRule();
    // The fields of an existing rule.
    static URLRuleDraft editing(const URLRule& rule);
};

// Why a draft cannot be saved, most important first; `none` when it can.
enum class URLRuleDraftProblem {
    none,
    patternTooLong,
    invalidRegex,
    duplicatePattern,
    emptyPattern,
    noSource
};

// The other rules and the global default a draft is checked against.
struct URLRuleDraftContext {
    std::span<const URLRule> rules;
    std::optional<InputSourceID> defaultSourceID;
};

namespace URLRuleDraftCheck {

// The pattern as it will be stored: spaces and tabs trimmed, line breaks kept.
std::string trimmedPattern(std::string_view pattern);

URLRuleDraftProblem problem(const URLRuleDraft& draft, const URLRuleDraftContext& context);

// The text key of the warning shown for a problem; none for problems that only disable
// saving (an empty pattern, no source to fall back on).
std::optional<std::string_view> messageKey(URLRuleDraftProblem problem);

// The rule to store, or none when the draft cannot be saved. "Default" becomes the global
// default of this moment.
std::optional<URLRule> save(const URLRuleDraft& draft, const URLRuleDraftContext& context);

}  // namespace URLRuleDraftCheck

}  // namespace tesvano

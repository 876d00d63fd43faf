#include "TesvanoKit/Rules/URLRuleDraft.h"

#include <algorithm>

#include "TesvanoKit/Languages/TextKey.h"
#include "TesvanoKit/Rules/RuleValidity.h"
#include "TesvanoKit/Rules/URLRuleList.h"

namespace tesvano {

URLRuleDraft URLRuleDraft::forNewRule() {
    return URLRuleDraft{Uuid::random(), {}, URLMatchType::domainSuffix, RuleAction::lock, {}};
}

URLRuleDraft URLRuleDraft::editing(const URLRule& rule) {
    return URLRuleDraft{rule.id, rule.hostPattern, rule.matchType, rule.action,
                        rule.lockedSourceID};
}

namespace URLRuleDraftCheck {

std::string trimmedPattern(std::string_view pattern) {
    return RuleValidity::normalizedPattern(pattern);
}

URLRuleDraftProblem problem(const URLRuleDraft& draft, const URLRuleDraftContext& context) {
    const std::string pattern = trimmedPattern(draft.pattern);
    switch (RuleValidity::patternProblem(pattern, draft.matchType)) {
        case RuleValidity::PatternProblem::empty:
            return URLRuleDraftProblem::emptyPattern;
        case RuleValidity::PatternProblem::tooLong:
            return URLRuleDraftProblem::patternTooLong;
        case RuleValidity::PatternProblem::invalidRegex:
            return URLRuleDraftProblem::invalidRegex;
        case RuleValidity::PatternProblem::none:
            break;
    }
    // Any match type: the list keeps one rule per pattern, whatever its letter case.
    const bool duplicate = std::ranges::any_of(context.rules, [&](const URLRule& rule) {
        return rule.id != draft.ruleID && URLRuleList::samePattern(rule.hostPattern, pattern);
    });
    if (duplicate) {
        return URLRuleDraftProblem::duplicatePattern;
    }
    if (!draft.source && !context.defaultSourceID) {
        return URLRuleDraftProblem::noSource;
    }
    return URLRuleDraftProblem::none;
}

std::optional<std::string_view> messageKey(URLRuleDraftProblem problem) {
    switch (problem) {
        case URLRuleDraftProblem::patternTooLong:
            return N_("This pattern is too long.");
        case URLRuleDraftProblem::invalidRegex:
            return N_("Invalid regular expression");
        case URLRuleDraftProblem::duplicatePattern:
            return N_("A rule with this pattern already exists.");
        case URLRuleDraftProblem::none:
        case URLRuleDraftProblem::emptyPattern:
        case URLRuleDraftProblem::noSource:
            break;
    }
    return std::nullopt;
}

std::optional<URLRule> save(const URLRuleDraft& draft, const URLRuleDraftContext& context) {
    if (problem(draft, context) != URLRuleDraftProblem::none) {
        return std::nullopt;
    }
    const InputSourceID source = draft.source ? *draft.source : *context.defaultSourceID;
    return URLRule{draft.ruleID, trimmedPattern(draft.pattern), source, draft.action,
                   draft.matchType};
}

}  // namespace URLRuleDraftCheck

}  // namespace tesvano

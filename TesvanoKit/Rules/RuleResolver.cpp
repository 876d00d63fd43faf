#include "TesvanoKit/Rules/RuleResolver.h"

namespace tesvano::RuleResolver {

namespace {
LockResolution withAction(RuleAction action, const InputSourceID& source, RuleSource ruleSource) {
    return action == RuleAction::switchOnce ? LockResolution::switchOnce(source, ruleSource)
                                            : LockResolution::lock(source, ruleSource);
}
}  // namespace

std::optional<LockResolution> addressBarCandidate(const LockConfiguration& c,
                                                  bool addressBarFocused) {
    if (!addressBarFocused || !c.addressBarFocusEnabled || !c.addressBarSourceID) {
        return std::nullopt;
    }
    return withAction(c.addressBarAction, *c.addressBarSourceID, RuleSource::addressBarRule);
}

LockResolution resolve(const LockConfiguration& c, const std::optional<std::string>& appIdentity,
                       const std::optional<URLRuleMatch>& urlMatch, bool addressBarFocused) {
    std::optional<LockResolution> urlCandidate;
    if (urlMatch) {
        urlCandidate = withAction(urlMatch->action, urlMatch->source, RuleSource::urlRule);
    }
    const auto barCandidate = addressBarCandidate(c, addressBarFocused);
    const auto& first = c.addressBarOutranksURLRules ? barCandidate : urlCandidate;
    const auto& second = c.addressBarOutranksURLRules ? urlCandidate : barCandidate;
    if (first)
        return *first;
    if (second)
        return *second;

    if (appIdentity) {
        if (const AppRule* rule = c.appRule(*appIdentity)) {
            switch (rule->mode) {
                case AppRuleMode::locked:
                    if (rule->lockedSourceID) {
                        return LockResolution::lock(*rule->lockedSourceID, RuleSource::appRule);
                    }
                    break;
                case AppRuleMode::switched:
                    if (rule->lockedSourceID) {
                        return LockResolution::switchOnce(*rule->lockedSourceID,
                                                          RuleSource::appRule);
                    }
                    break;
                case AppRuleMode::ignored:
                    return LockResolution::ignore();
                case AppRuleMode::useDefault:
                    break;
            }
        }
    }

    if (!c.defaultSourceID)
        return LockResolution::noTarget();
    return withAction(c.defaultAction, *c.defaultSourceID, RuleSource::globalDefault);
}

}  // namespace tesvano::RuleResolver

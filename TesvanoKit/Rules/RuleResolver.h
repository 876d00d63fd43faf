#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {

// Which kind of rule produced a target; the raw values are stored in the activation log.
enum class RuleSource { appRule, globalDefault, urlRule, addressBarRule };

template <>
struct EnumTable<RuleSource> {
    static constexpr std::array<std::pair<RuleSource, std::string_view>, 4> entries{{
        {RuleSource::appRule, "appRule"},
        {RuleSource::globalDefault, "globalDefault"},
        {RuleSource::urlRule, "urlRule"},
        {RuleSource::addressBarRule, "addressBarRule"},
    }};
};

// The resolver's verdict: lock or switch once to a source, leave the application alone, or
// nothing to do.
class LockResolution {
public:
    enum class Kind { lock, switchOnce, ignore, noTarget };

    static LockResolution lock(InputSourceID source, RuleSource ruleSource) {
        return LockResolution(Kind::lock, std::move(source), ruleSource);
    }
    static LockResolution switchOnce(InputSourceID source, RuleSource ruleSource) {
        return LockResolution(Kind::switchOnce, std::move(source), ruleSource);
    }
    static LockResolution ignore() { return LockResolution(Kind::ignore, {}, {}); }
    static LockResolution noTarget() { return LockResolution(Kind::noTarget, {}, {}); }

    Kind kind() const { return kind_; }
    bool hasTarget() const { return kind_ == Kind::lock || kind_ == Kind::switchOnce; }
    // Meaningful only for lock and switchOnce.
    const InputSourceID& source() const { return source_; }
    RuleSource ruleSource() const { return ruleSource_; }

    bool operator==(const LockResolution& other) const {
        if (kind_ != other.kind_)
            return false;
        return !hasTarget() || (source_ == other.source_ && ruleSource_ == other.ruleSource_);
    }

private:
    LockResolution(Kind kind, InputSourceID source, RuleSource ruleSource)
        : kind_(kind), source_(std::move(source)), ruleSource_(ruleSource) {}

    Kind kind_;
    InputSourceID source_;
    RuleSource ruleSource_;
};

// The source and action of the first URL rule that matched the browser's page.
struct URLRuleMatch {
    InputSourceID source;
    RuleAction action = RuleAction::lock;
};

namespace RuleResolver {

// The address-bar rule's candidate: present only while the address bar has focus, the rule is
// on and it names a source.
std::optional<LockResolution> addressBarCandidate(const LockConfiguration& configuration,
                                                  bool addressBarFocused);

// URL and address-bar rules first (ordered by addressBarOutranksURLRules), then the
// application's rule, then the global default. Pure: no state, no clock.
LockResolution resolve(const LockConfiguration& configuration,
                       const std::optional<std::string>& appIdentity,
                       const std::optional<URLRuleMatch>& urlMatch, bool addressBarFocused);

}  // namespace RuleResolver

}  // namespace tesvano

#include <gtest/gtest.h>

#include "TesvanoKit/Rules/RuleResolver.h"

namespace tesvano {
namespace {

using R = LockResolution;
const std::optional<std::string> kNoApp;

LockConfiguration withDefault(RuleAction action = RuleAction::lock) {
    LockConfiguration c;
    c.defaultSourceID = InputSourceID("default");
    c.defaultAction = action;
    return c;
}

void addAddressBarRule(LockConfiguration& c, RuleAction action = RuleAction::switchOnce) {
    c.addressBarFocusEnabled = true;
    c.addressBarSourceID = InputSourceID("bar");
    c.addressBarAction = action;
}

TEST(RuleResolver, AddressBarAndURLCandidatesAreOrderedByTheOutranksFlag) {
    auto c = withDefault();
    addAddressBarRule(c);
    const URLRuleMatch match{InputSourceID("url"), RuleAction::lock};

    c.addressBarOutranksURLRules = true;
    EXPECT_EQ(RuleResolver::resolve(c, "app", match, true),
              R::switchOnce("bar", RuleSource::addressBarRule));
    c.addressBarOutranksURLRules = false;
    EXPECT_EQ(RuleResolver::resolve(c, "app", match, true), R::lock("url", RuleSource::urlRule));

    // With only one candidate present it wins whatever the flag says.
    EXPECT_EQ(RuleResolver::resolve(c, "app", std::nullopt, true),
              R::switchOnce("bar", RuleSource::addressBarRule));
    c.addressBarOutranksURLRules = true;
    EXPECT_EQ(RuleResolver::resolve(c, "app", match, false), R::lock("url", RuleSource::urlRule));
    EXPECT_EQ(RuleResolver::resolve(c, "app", URLRuleMatch{"url", RuleAction::switchOnce}, false),
              R::switchOnce("url", RuleSource::urlRule));

    addAddressBarRule(c, RuleAction::lock);
    EXPECT_EQ(RuleResolver::resolve(c, kNoApp, std::nullopt, true),
              R::lock("bar", RuleSource::addressBarRule));
}

TEST(RuleResolver, AddressBarRuleNeedsFocusTheSwitchAndASource) {
    auto c = withDefault();
    c.appRules = {AppRule{"app", AppRuleMode::locked, InputSourceID("app-src")}};
    addAddressBarRule(c);

    c.addressBarSourceID.reset();
    EXPECT_EQ(RuleResolver::resolve(c, "app", std::nullopt, true),
              R::lock("app-src", RuleSource::appRule));
    EXPECT_EQ(RuleResolver::resolve(c, "app", URLRuleMatch{"url", RuleAction::lock}, true),
              R::lock("url", RuleSource::urlRule));

    addAddressBarRule(c);
    c.addressBarFocusEnabled = false;
    EXPECT_EQ(RuleResolver::resolve(c, "app", std::nullopt, true),
              R::lock("app-src", RuleSource::appRule));
    c.addressBarFocusEnabled = true;
    EXPECT_EQ(RuleResolver::resolve(c, "app", std::nullopt, false),
              R::lock("app-src", RuleSource::appRule));
}

TEST(RuleResolver, ApplicationRulesByMode) {
    auto c = withDefault();
    c.appRules = {
        AppRule{"locked", AppRuleMode::locked, InputSourceID("a")},
        AppRule{"switched", AppRuleMode::switched, InputSourceID("b")},
        AppRule{"locked-empty", AppRuleMode::locked, std::nullopt},
        AppRule{"switched-empty", AppRuleMode::switched, std::nullopt},
        AppRule{"ignored", AppRuleMode::ignored, InputSourceID("c")},
        AppRule{"default", AppRuleMode::useDefault, InputSourceID("d")},
        AppRule{"locked", AppRuleMode::locked, InputSourceID("later")},
    };
    const auto globalDefault = R::lock("default", RuleSource::globalDefault);
    EXPECT_EQ(RuleResolver::resolve(c, "locked", std::nullopt, false),
              R::lock("a", RuleSource::appRule));
    EXPECT_EQ(RuleResolver::resolve(c, "switched", std::nullopt, false),
              R::switchOnce("b", RuleSource::appRule));
    EXPECT_EQ(RuleResolver::resolve(c, "locked-empty", std::nullopt, false), globalDefault);
    EXPECT_EQ(RuleResolver::resolve(c, "switched-empty", std::nullopt, false), globalDefault);
    EXPECT_EQ(RuleResolver::resolve(c, "ignored", std::nullopt, false), R::ignore());
    EXPECT_EQ(RuleResolver::resolve(c, "default", std::nullopt, false), globalDefault);
    EXPECT_EQ(RuleResolver::resolve(c, "unknown", std::nullopt, false), globalDefault);
    EXPECT_EQ(RuleResolver::resolve(c, kNoApp, std::nullopt, false), globalDefault);
    EXPECT_EQ(RuleResolver::resolve(c, "LOCKED", std::nullopt, false), globalDefault);

    c.defaultSourceID.reset();
    EXPECT_EQ(RuleResolver::resolve(c, "locked-empty", std::nullopt, false), R::noTarget());
    EXPECT_EQ(RuleResolver::resolve(c, kNoApp, std::nullopt, false), R::noTarget());
}

TEST(RuleResolver, IgnoredApplicationIsStillSubjectToURLAndAddressBarRules) {
    auto c = withDefault();
    c.appRules = {AppRule{"browser", AppRuleMode::ignored, std::nullopt}};
    addAddressBarRule(c);
    EXPECT_EQ(RuleResolver::resolve(c, "browser", URLRuleMatch{"url", RuleAction::lock}, false),
              R::lock("url", RuleSource::urlRule));
    EXPECT_EQ(RuleResolver::resolve(c, "browser", std::nullopt, true),
              R::switchOnce("bar", RuleSource::addressBarRule));
    EXPECT_EQ(RuleResolver::resolve(c, "browser", std::nullopt, false), R::ignore());
}

TEST(RuleResolver, GlobalDefaultActionAndResolutionEquality) {
    EXPECT_EQ(
        RuleResolver::resolve(withDefault(RuleAction::switchOnce), kNoApp, std::nullopt, false),
        R::switchOnce("default", RuleSource::globalDefault));
    EXPECT_NE(R::lock("a", RuleSource::appRule), R::lock("a", RuleSource::globalDefault));
    EXPECT_NE(R::lock("a", RuleSource::appRule), R::switchOnce("a", RuleSource::appRule));
    EXPECT_NE(R::ignore(), R::noTarget());
    EXPECT_EQ(enumFromRawValue<RuleSource>("addressBarRule"), RuleSource::addressBarRule);
    EXPECT_FALSE(enumFromRawValue<RuleSource>("AppRule"));
}

}  // namespace
}  // namespace tesvano

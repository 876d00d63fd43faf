#include <gtest/gtest.h>

#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {
namespace {

constexpr std::string_view kDefaultJSON =
    R"({"isEnabled":false,"defaultAction":"lock","appRules":[],"enhancedModeEnabled":false,)"
    R"("urlRules":[],"addressBarFocusEnabled":false,"addressBarAction":"switchOnce",)"
    R"("addressBarOutranksURLRules":true,"revertsInSecureInput":false})";

LockConfiguration decodeOrFail(std::string_view text) {
    auto decoded = decodeConfiguration(text);
    EXPECT_TRUE(decoded.has_value()) << (decoded ? "" : decoded.error().message);
    return decoded.value_or(LockConfiguration{});
}

URLRule urlRule(std::string pattern, std::string source,
                URLMatchType type = URLMatchType::domainSuffix) {
    return URLRule{Uuid::random(), std::move(pattern), InputSourceID(std::move(source)),
                   RuleAction::lock, type};
}

TEST(LockConfiguration, DefaultEncodesExactlyAndEmptyObjectDecodesToDefault) {
    EXPECT_EQ(encodeConfiguration(LockConfiguration::defaultConfiguration()), kDefaultJSON);
    EXPECT_EQ(decodeOrFail("{}"), LockConfiguration::defaultConfiguration());
    EXPECT_EQ(decodeOrFail(kDefaultJSON), LockConfiguration::defaultConfiguration());
    // Null reads like a missing key.
    EXPECT_EQ(decodeOrFail(R"({"isEnabled":null,"addressBarOutranksURLRules":null})"),
              LockConfiguration::defaultConfiguration());
}

TEST(LockConfiguration, RoundTripKeepsEveryFieldAndWritesKeysInFieldOrder) {
    LockConfiguration c;
    c.isEnabled = true;
    c.defaultSourceID = InputSourceID("xkb:us");
    c.defaultAction = RuleAction::switchOnce;
    c.appRules = {AppRule{"org.mozilla.firefox", AppRuleMode::switched, InputSourceID("xkb:de")},
                  AppRule{"process:xterm", AppRuleMode::ignored, std::nullopt}};
    c.enhancedModeEnabled = true;
    c.urlRules = {urlRule("例え.jp", "xkb:jp"),
                  urlRule("^https://.*\\.ru/", "xkb:ru", URLMatchType::urlRegex)};
    c.urlRules[1].action = RuleAction::switchOnce;
    c.addressBarFocusEnabled = true;
    c.addressBarAction = RuleAction::lock;
    c.addressBarSourceID = InputSourceID("xkb:us");
    c.addressBarOutranksURLRules = false;
    c.revertsInSecureInput = true;

    const std::string text = encodeConfiguration(c);
    EXPECT_EQ(decodeOrFail(text), c);

    const std::vector<std::string> keys = {"isEnabled",
                                           "defaultSourceID",
                                           "defaultAction",
                                           "appRules",
                                           "enhancedModeEnabled",
                                           "urlRules",
                                           "addressBarFocusEnabled",
                                           "addressBarAction",
                                           "addressBarSourceID",
                                           "addressBarOutranksURLRules",
                                           "revertsInSecureInput"};
    std::size_t last = 0;
    for (const auto& key : keys) {
        const auto at = text.find("\"" + key + "\":");
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GE(at, last) << key;
        last = at;
    }
    // UUIDs are written upper-case; lower-case text reads back to the same id.
    EXPECT_NE(text.find(c.urlRules[0].id.string()), std::string::npos);
    std::string lowered = c.urlRules[0].id.string();
    for (auto& ch : lowered)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    auto rule = urlRuleFromJSON(OrderedJSON::parse(R"({"id":")" + lowered +
                                                   R"(","hostPattern":"a","lockedSourceID":"s"})"));
    ASSERT_TRUE(rule.has_value());
    EXPECT_EQ(rule->id, c.urlRules[0].id);
}

TEST(LockConfiguration, AbsentSourcesAreLeftOutOfTheStoredForm) {
    LockConfiguration c;
    c.appRules = {AppRule{"a", AppRuleMode::ignored, std::nullopt}};
    const std::string text = encodeConfiguration(c);
    EXPECT_EQ(text.find("defaultSourceID"), std::string::npos);
    EXPECT_EQ(text.find("addressBarSourceID"), std::string::npos);
    EXPECT_EQ(text.find("lockedSourceID"), std::string::npos);
    EXPECT_EQ(text.find("lockingEnabled"), std::string::npos);
}

TEST(LockConfiguration, UnknownWordsFallBackPerField) {
    auto c = decodeOrFail(R"({"defaultAction":"hold","addressBarAction":"hold",)"
                          R"("appRules":[{"bundleID":"x","mode":"frozen"}],)"
                          R"("urlRules":[{"id":"6F1C3A52-8E6B-4D0B-9C39-2E0A4A1D7B10",)"
                          R"("hostPattern":"a.com","lockedSourceID":"s","action":"Lock",)"
                          R"("matchType":"prefix"}]})");
    EXPECT_EQ(c.defaultAction, RuleAction::lock);
    EXPECT_EQ(c.addressBarAction, RuleAction::switchOnce);
    ASSERT_EQ(c.appRules.size(), 1u);
    EXPECT_EQ(c.appRules[0].mode, AppRuleMode::locked);
    EXPECT_FALSE(c.appRules[0].lockedSourceID);
    ASSERT_EQ(c.urlRules.size(), 1u);
    EXPECT_EQ(c.urlRules[0].action, RuleAction::lock);
    EXPECT_EQ(c.urlRules[0].matchType, URLMatchType::domainSuffix);

    auto minimal = decodeOrFail(R"({"urlRules":[{"id":"6f1c3a52-8e6b-4d0b-9c39-2e0a4a1d7b10",)"
                                R"("hostPattern":"a.com","lockedSourceID":"s"}]})");
    EXPECT_EQ(minimal.urlRules[0].action, RuleAction::lock);
    EXPECT_EQ(minimal.urlRules[0].matchType, URLMatchType::domainSuffix);
    EXPECT_EQ(decodeOrFail(R"({"addressBarAction":"lock"})").addressBarAction, RuleAction::lock);
    EXPECT_EQ(decodeOrFail(R"({"defaultAction":"switchOnce"})").defaultAction,
              RuleAction::switchOnce);
}

TEST(LockConfiguration, WrongTypesAndBadElementsFailTheWholeDecode) {
    const char* bad[] = {
        R"({"isEnabled":"yes"})",
        R"({"isEnabled":1})",  // a number is not a boolean
        R"({"enhancedModeEnabled":0.0})",
        R"({"defaultSourceID":5})",
        R"({"defaultAction":true})",
        R"({"appRules":{}})",
        R"({"appRules":[{"mode":"locked"}]})",  // no appId
        R"({"appRules":[{"bundleID":7}]})",
        R"({"appRules":[{"bundleID":"a","mode":3}]})",
        R"({"appRules":[{"bundleID":"a","lockedSourceID":[]}]})",
        R"({"appRules":["a"]})",
        R"({"urlRules":[{"id":"nope","hostPattern":"a","lockedSourceID":"s"}]})",
        R"({"urlRules":[{"id":"6F1C3A52-8E6B-4D0B-9C39-2E0A4A1D7B1","hostPattern":"a","lockedSourceID":"s"}]})",
        R"({"urlRules":[{"id":"6F1C3A52-8E6B-4D0B-9C39-2E0A4A1D7B10","lockedSourceID":"s"}]})",
        R"({"urlRules":[{"id":"6F1C3A52-8E6B-4D0B-9C39-2E0A4A1D7B10","hostPattern":"a"}]})",
        R"({"lockingEnabled":"no"})",
        R"([])",
        R"("text")",
        R"({"isEnabled":false)",
        "",
    };
    for (const char* text : bad) {
        EXPECT_FALSE(decodeConfiguration(text).has_value()) << text;
    }
    auto error = decodeConfiguration(R"({"appRules":[{"bundleID":"a"},{"mode":"locked"}]})");
    ASSERT_FALSE(error.has_value());
    EXPECT_NE(error.error().message.find("appRules[1]"), std::string::npos)
        << error.error().message;
}

TEST(LockConfiguration, LegacyLockingEnabledFalseClearsOnlyTheDefaultSource) {
    auto off =
        decodeOrFail(R"({"isEnabled":true,"defaultSourceID":"xkb:us","lockingEnabled":false})");
    EXPECT_FALSE(off.defaultSourceID);
    EXPECT_TRUE(off.isEnabled);
    for (const char* keep : {R"({"defaultSourceID":"xkb:us","lockingEnabled":true})",
                             R"({"defaultSourceID":"xkb:us","lockingEnabled":null})",
                             R"({"defaultSourceID":"xkb:us"})"}) {
        EXPECT_EQ(decodeOrFail(keep).defaultSourceID, InputSourceID("xkb:us")) << keep;
    }
}

TEST(LockConfiguration, EqualityIsOrderSensitiveAndAppRuleLookupTakesTheFirstExactMatch) {
    LockConfiguration a;
    a.urlRules = {urlRule("a.com", "s1"), urlRule("b.com", "s2")};
    LockConfiguration b = a;
    std::swap(b.urlRules[0], b.urlRules[1]);
    EXPECT_NE(a, b);

    LockConfiguration c;
    c.appRules = {AppRule{"com.example.App", AppRuleMode::locked, InputSourceID("first")},
                  AppRule{"com.example.App", AppRuleMode::locked, InputSourceID("second")}};
    ASSERT_NE(c.appRule("com.example.App"), nullptr);
    EXPECT_EQ(c.appRule("com.example.App")->lockedSourceID, InputSourceID("first"));
    EXPECT_EQ(c.appRule("com.example.app"), nullptr);
}

TEST(LockConfiguration, EnumsCodeThroughTheirRawValues) {
    EXPECT_EQ(rawValue(URLMatchType::domainSuffix), "domain-suffix");
    EXPECT_EQ(enumFromRawValue<URLMatchType>("url-regex"), URLMatchType::urlRegex);
    EXPECT_FALSE(enumFromRawValue<URLMatchType>("urlRegex"));
    EXPECT_FALSE(enumFromRawValue<AppRuleMode>("Locked"));
    EXPECT_TRUE(requiresSource(AppRuleMode::switched));
    EXPECT_FALSE(requiresSource(AppRuleMode::useDefault));
    EXPECT_EQ(allCases<AppRuleMode>().size(), 4u);
    EXPECT_EQ(allCases<RuleAction>()[1], RuleAction::switchOnce);
}

}  // namespace
}  // namespace tesvano

#include <gtest/gtest.h>

#include "TesvanoKit/Rules/URLRuleList.h"

namespace tesvano {
namespace {

URLRule rule(std::string pattern, std::string source = "xkb:us") {
    return URLRule{Uuid::random(), std::move(pattern), InputSourceID(std::move(source)),
                   RuleAction::lock, URLMatchType::domainSuffix};
}

std::vector<Uuid> ids(const std::vector<URLRule>& rules) {
    std::vector<Uuid> out;
    for (const auto& r : rules) {
        out.push_back(r.id);
    }
    return out;
}

TEST(URLRuleList, UpsertAppendsReplacesInPlaceOrMergesOntoTheSamePattern) {
    const std::vector<URLRule> list{rule("a.com"), rule("b.com"), rule("c.com")};

    const auto fresh = rule("d.com");
    auto result = URLRuleList::upsert(fresh, list);
    ASSERT_EQ(result.size(), 4u);
    EXPECT_EQ(result.back(), fresh);

    auto edited = list[1];
    edited.lockedSourceID = InputSourceID("xkb:de");
    edited.action = RuleAction::switchOnce;
    result = URLRuleList::upsert(edited, list);
    EXPECT_EQ(result, (std::vector{list[0], edited, list[2]}));

    // A new rule with an existing pattern in another case: the holder takes its values.
    auto twin = rule("A.COM", "xkb:ru");
    twin.matchType = URLMatchType::domain;
    result = URLRuleList::upsert(twin, list);
    ASSERT_EQ(result.size(), 3u);
    EXPECT_EQ(result[0].id, list[0].id);
    EXPECT_EQ(result[0].hostPattern, "A.COM");
    EXPECT_EQ(result[0].lockedSourceID, InputSourceID("xkb:ru"));
    EXPECT_EQ(result[0].matchType, URLMatchType::domain);

    // Editing c.com to carry a.com's pattern merges it into a.com's rule at a.com's place.
    auto renamed = list[2];
    renamed.hostPattern = "a.com";
    renamed.lockedSourceID = InputSourceID("xkb:jp");
    result = URLRuleList::upsert(renamed, list);
    EXPECT_EQ(ids(result), (std::vector{list[0].id, list[1].id}));
    EXPECT_EQ(result[0].lockedSourceID, InputSourceID("xkb:jp"));

    // Patterns compare by case folding, not only in ASCII.
    const std::vector<URLRule> unicode{rule("ärger.de")};
    EXPECT_EQ(URLRuleList::upsert(rule("ÄRGER.DE"), unicode).size(), 1u);
}

TEST(URLRuleList, ReorderTakesOnlyTheOrderAndRefusesAnythingElse) {
    const std::vector<URLRule> current{rule("a.com"), rule("b.com"), rule("c.com")};

    // Contents come from the current list even when the proposed copies differ.
    auto proposed = std::vector{current[2], current[0], current[1]};
    proposed[0].hostPattern = "stale.com";
    const auto result = URLRuleList::reorder(current, proposed);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, (std::vector{current[2], current[0], current[1]}));

    EXPECT_EQ(URLRuleList::reorder(current, current), std::nullopt);
    EXPECT_EQ(URLRuleList::reorder(current, {current[1], current[0]}), std::nullopt);
    EXPECT_EQ(URLRuleList::reorder(current, {current[2], current[1], rule("x.com")}), std::nullopt);
    EXPECT_EQ(URLRuleList::reorder(current, {current[2], current[1], current[0], rule("x.com")}),
              std::nullopt);
    EXPECT_EQ(URLRuleList::reorder(current, {current[1], current[1], current[0]}), std::nullopt);
}

}  // namespace
}  // namespace tesvano

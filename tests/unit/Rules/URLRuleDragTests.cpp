#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TesvanoKit/Rules/URLRuleDrag.h"

namespace tesvano {
namespace {

std::vector<URLRule> threeRules() {
    std::vector<URLRule> rules;
    for (const char* pattern : {"a.com", "b.com", "c.com"}) {
        rules.push_back(URLRule{Uuid::random(), pattern, InputSourceID("xkb:us"), RuleAction::lock,
                                URLMatchType::domainSuffix});
    }
    return rules;
}

std::string patterns(std::span<const URLRule> rules) {
    std::string out;
    for (const URLRule& rule : rules) {
        out += rule.hostPattern.substr(0, 1);
    }
    return out;
}

TEST(URLRuleDrag, HoveringMovesTheDraggedRuleIntoTheHoveredPlace) {
    struct Case {
        int dragged;
        std::vector<int> hovered;  // rows of the stored list, hovered in turn
        const char* shown;
        bool changedLast;
    };
    const Case cases[] = {
        {1, {0}, "bac", true},     // up: above the hovered rule
        {0, {2}, "bca", true},     // down: below the hovered rule
        {1, {1}, "abc", false},    // over itself
        {0, {1, 2}, "bca", true},  // step by step down
        {2, {0}, "cab", true},     // last to first
        {2, {0, 0}, "acb", true},  // entering the first rule again, now below: past it
    };
    for (const Case& c : cases) {
        const auto stored = threeRules();
        URLRuleDrag drag;
        const Uuid id = stored[static_cast<std::size_t>(c.dragged)].id;
        drag.begin(stored, id);
        bool changed = false;
        for (int row : c.hovered) {
            changed = drag.reorder(id.string(), stored[static_cast<std::size_t>(row)].id, stored);
        }
        EXPECT_EQ(patterns(drag.displayedRules(stored)), c.shown) << c.dragged;
        EXPECT_EQ(changed, c.changedLast) << c.dragged;
        EXPECT_EQ(patterns(stored), "abc") << "the stored order is untouched";
    }
}

TEST(URLRuleDrag, OnlyADropOfTheDraggedIdHandsBackTheDraft) {
    const auto stored = threeRules();
    URLRuleDrag drag;
    drag.begin(stored, stored[1].id);
    drag.reorder(stored[1].id.string(), stored[0].id, stored);

    // Some other text dropped on the list is not ours: no draft, the drag goes on.
    EXPECT_FALSE(drag.accepts("b.com"));
    EXPECT_FALSE(drag.drop(stored[0].id.string()).has_value());
    EXPECT_TRUE(drag.isDragging());

    const auto draft = drag.drop(stored[1].id.string());
    ASSERT_TRUE(draft.has_value());
    EXPECT_EQ(patterns(*draft), "bac");
    EXPECT_FALSE(drag.isDragging());
    EXPECT_FALSE(drag.draftOrder().has_value());
    EXPECT_FALSE(drag.drop(stored[1].id.string()).has_value()) << "one commit per drag";
}

TEST(URLRuleDrag, AnAbandonedDragShowsTheOrderInForceAndLeavesNothingToCommit) {
    const auto stored = threeRules();
    URLRuleDrag drag;
    drag.begin(stored, stored[0].id);
    drag.reorder(stored[0].id.string(), stored[2].id, stored);
    ASSERT_EQ(patterns(drag.displayedRules(stored)), "bca");

    drag.end();  // Escape, or dropped outside the list
    EXPECT_EQ(patterns(drag.displayedRules(stored)), "abc");
    EXPECT_FALSE(drag.draggingID().has_value());
    EXPECT_FALSE(drag.draftOrder().has_value());
    // The next text dropped anywhere, even the old id, commits nothing.
    EXPECT_FALSE(drag.drop(stored[0].id.string()).has_value());
}

TEST(URLRuleDrag, ADraftThatNoLongerFitsTheStoredRulesIsNeverShown) {
    auto stored = threeRules();
    URLRuleDrag drag;
    drag.begin(stored, stored[2].id);
    drag.reorder(stored[2].id.string(), stored[0].id, stored);
    ASSERT_EQ(patterns(drag.displayedRules(stored)), "cab");

    stored.erase(stored.begin() + 1);  // removed meanwhile by another path
    EXPECT_EQ(patterns(drag.displayedRules(stored)), "ac");
    // A vanished target or dragged rule changes nothing.
    EXPECT_FALSE(drag.reorder(Uuid::random().string(), stored[0].id, stored));
    EXPECT_FALSE(drag.reorder(stored[0].id.string(), Uuid::random(), stored));
}

}  // namespace
}  // namespace tesvano

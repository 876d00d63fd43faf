#include <gtest/gtest.h>

#include <vector>

#include "TesvanoKit/Rules/URLRuleDraft.h"

namespace tesvano {
namespace {

using Problem = URLRuleDraftProblem;

const URLRule existing{Uuid::random(), "GitHub.com", InputSourceID("xkb:us"), RuleAction::lock,
                       URLMatchType::domain};

URLRuleDraft draft(std::string pattern, URLMatchType type = URLMatchType::domainSuffix,
                   std::optional<InputSourceID> source = InputSourceID("xkb:de")) {
    auto made = URLRuleDraft::forNewRule();
    made.pattern = std::move(pattern);
    made.matchType = type;
    made.source = std::move(source);
    return made;
}

TEST(URLRuleDraft, EachProblemAndItsMessage) {
    const std::vector<URLRule> rules{existing};
    const URLRuleDraftContext withDefault{rules, InputSourceID("xkb:us")};
    const URLRuleDraftContext noDefault{rules, std::nullopt};
    struct Case {
        URLRuleDraft input;
        URLRuleDraftContext context;
        Problem expected;
        const char* message;  // null: none shown
    };
    const Case cases[] = {
        {draft("example.org"), withDefault, Problem::none, nullptr},
        {draft(""), withDefault, Problem::emptyPattern, nullptr},
        {draft(" \t "), withDefault, Problem::emptyPattern, nullptr},
        {draft("([", URLMatchType::urlRegex), withDefault, Problem::invalidRegex,
         "Invalid regular expression"},
        // The same text is a plain keyword under another match type.
        {draft("([", URLMatchType::domainKeyword), withDefault, Problem::none, nullptr},
        {draft("/pull/\\d+", URLMatchType::urlRegex), withDefault, Problem::none, nullptr},
        // Another rule's pattern, in another case, with spaces, under another match type.
        {draft("  github.COM\t", URLMatchType::domainKeyword), withDefault,
         Problem::duplicatePattern, "A rule with this pattern already exists."},
        {URLRuleDraft::editing(existing), withDefault, Problem::none, nullptr},
        // "Default" with no global default: no source to save with, and no message.
        {draft("example.org", URLMatchType::domainSuffix, std::nullopt), noDefault,
         Problem::noSource, nullptr},
        {draft("example.org", URLMatchType::domainSuffix, std::nullopt), withDefault, Problem::none,
         nullptr},
        // The regular-expression warning outranks the duplicate one.
        {draft("github.com(", URLMatchType::urlRegex), withDefault, Problem::invalidRegex,
         "Invalid regular expression"},
    };
    for (const Case& c : cases) {
        const Problem found = URLRuleDraftCheck::problem(c.input, c.context);
        EXPECT_EQ(found, c.expected) << c.input.pattern;
        const auto message = URLRuleDraftCheck::messageKey(found);
        EXPECT_EQ(message.has_value(), c.message != nullptr) << c.input.pattern;
        if (message && c.message) {
            EXPECT_EQ(*message, c.message);
        }
        EXPECT_EQ(URLRuleDraftCheck::save(c.input, c.context).has_value(),
                  c.expected == Problem::none)
            << c.input.pattern;
    }
}

TEST(URLRuleDraft, SavingTrimsThePatternAndResolvesDefaultToTheSourceOfThatMoment) {
    const std::vector<URLRule> none;
    auto input = draft("\t example.org  ", URLMatchType::domain, std::nullopt);
    input.action = RuleAction::switchOnce;
    const auto saved = URLRuleDraftCheck::save(input, {none, InputSourceID("xkb:ru")});
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(*saved, (URLRule{input.ruleID, "example.org", InputSourceID("xkb:ru"),
                               RuleAction::switchOnce, URLMatchType::domain}));

    // A line break is not white space to trim.
    EXPECT_EQ(URLRuleDraftCheck::trimmedPattern(" a\n "), "a\n");

    // An edited rule keeps its id and its own (not installed) source.
    auto gone = existing;
    gone.lockedSourceID = InputSourceID("xkb:jp");
    EXPECT_EQ(URLRuleDraftCheck::save(URLRuleDraft::editing(gone), {none, std::nullopt}), gone);
}

}  // namespace
}  // namespace tesvano

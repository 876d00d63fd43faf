#include <gtest/gtest.h>

#include "TesvanoKit/Rules/URLMatcher.h"
#include "TesvanoKit/Rules/URLRegexCache.h"
#include "tests/support/LogCapture.h"

namespace tesvano {
namespace {

URLRule rule(std::string pattern, URLMatchType type, std::string source = "xkb:de") {
    return URLRule{Uuid::random(), std::move(pattern), InputSourceID(std::move(source)),
                   RuleAction::lock, type};
}

bool matches(std::string_view url, URLRule r) {
    return URLMatcher::firstMatch(url, std::vector{r}).has_value();
}

TEST(URLMatcher, HostIsLowerCasedAndExtractedByRFC3986) {
    EXPECT_EQ(URLMatcher::host("https://Mail.Example.COM:8443/inbox?q=1#top"), "mail.example.com");
    EXPECT_EQ(URLMatcher::host("https://user:pw@example.com./"), "example.com.");
    EXPECT_EQ(URLMatcher::host("http://[::1]:8080/"), "::1");
    EXPECT_EQ(URLMatcher::host("https://ex%41mple.com/"), "example.com");
    EXPECT_EQ(URLMatcher::host(""), std::nullopt);
    EXPECT_EQ(URLMatcher::host("example"), std::nullopt);  // a bare word is a path
    EXPECT_EQ(URLMatcher::host("mailto:someone@example.com"), std::nullopt);
    EXPECT_EQ(URLMatcher::host("file:///etc/hosts"), std::nullopt);
    // What an address bar shows rather than what RFC 3986 allows still has a host.
    EXPECT_EQ(URLMatcher::host("https://Bücher.DE/suche?q=ein buch"), "bücher.de");
    EXPECT_EQ(URLMatcher::host("https://example.com/list?a[]=1&b=50%"), "example.com");
    // A percent-encoded host that is not text has none.
    EXPECT_EQ(URLMatcher::host("https://%FF%FE.com/"), std::nullopt);
}

TEST(URLMatcher, HostBasedTypesFollowTheirNormalisedPattern) {
    const std::string url = "https://mail.example.com/inbox";
    EXPECT_TRUE(matches(url, rule("example.com", URLMatchType::domainSuffix)));
    EXPECT_TRUE(matches(url, rule("*.example.com", URLMatchType::domainSuffix)));
    EXPECT_TRUE(matches("https://example.com/", rule("*.example.com", URLMatchType::domainSuffix)));
    EXPECT_FALSE(
        matches("https://notexample.com/", rule("example.com", URLMatchType::domainSuffix)));
    EXPECT_FALSE(matches(url, rule("example.com", URLMatchType::domain)));
    EXPECT_TRUE(matches(url, rule(" \tMAIL.Example.com\u3000 ", URLMatchType::domain)));
    EXPECT_TRUE(matches(url, rule("*.mail.example.com", URLMatchType::domain)));
    EXPECT_FALSE(matches(url, rule("mail.example.com\n", URLMatchType::domain)));  // not trimmed
    EXPECT_TRUE(matches(url, rule("ample.c", URLMatchType::domainKeyword)));
    EXPECT_FALSE(matches(url, rule("*.example", URLMatchType::domainKeyword)));
    EXPECT_FALSE(matches(url, rule(" *. ", URLMatchType::domainSuffix)));  // empty after all
    EXPECT_FALSE(matches(url, rule("", URLMatchType::domainKeyword)));
    // Letters outside ASCII are lower-cased on both sides.
    EXPECT_TRUE(matches("https://ÄRGER.de/", rule("ärger.DE", URLMatchType::domain)));
}

TEST(URLMatcher, RegexRulesUseTheWholeURLAndNeedNoHost) {
    EXPECT_TRUE(matches("https://example.com/WIKI/page", rule("/wiki/", URLMatchType::urlRegex)));
    EXPECT_TRUE(matches("about:blank", rule("^ABOUT:", URLMatchType::urlRegex)));
    EXPECT_FALSE(matches("about:blank", rule("blank", URLMatchType::domainKeyword)));
    EXPECT_FALSE(matches("", rule(".*", URLMatchType::urlRegex)));
    EXPECT_FALSE(matches("https://example.com/", rule("", URLMatchType::urlRegex)));
    // Used exactly as stored: a space is part of the pattern.
    EXPECT_FALSE(matches("https://example.com/", rule(" example", URLMatchType::urlRegex)));
}

TEST(URLMatcher, FirstMatchingRuleWinsAndInvalidPatternsAreSkipped) {
    const std::vector<URLRule> rules{
        rule("other.org", URLMatchType::domainSuffix, "xkb:fr"),
        rule("(unbalanced", URLMatchType::urlRegex, "xkb:ru"),
        rule("example", URLMatchType::domainKeyword, "xkb:de"),
        rule("example.com", URLMatchType::domain, "xkb:jp"),
    };
    const auto match = URLMatcher::firstMatch("https://example.com/", rules);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->id, rules[2].id);
    EXPECT_EQ(URLMatcher::firstMatchSourceID("https://example.com/", rules),
              InputSourceID("xkb:de"));
    EXPECT_EQ(URLMatcher::firstMatch("https://nothing.net/", rules), std::nullopt);
    EXPECT_FALSE(URLMatcher::isValidPattern("(unbalanced"));
    EXPECT_TRUE(URLMatcher::isValidPattern("^https://(www\\.)?example\\.com/"));
}

TEST(URLMatcher, RegexLengthLimitCountsUTF16Units) {
    // Each emoji is one code point, four UTF-8 bytes and two UTF-16 units.
    const std::string prefix = "https://example.com/a";  // 21 units
    std::string atLimit = prefix;
    const std::size_t emojis = (URLMatcher::maxRegexURLLength - prefix.size()) / 2;  // 4085
    for (std::size_t i = 0; i < emojis; ++i) {
        atLimit += "\U0001F600";
    }
    atLimit += "b";  // 21 + 8170 + 1 = 8192 units
    const std::string overLimit = atLimit + "c";

    const auto regex = rule("example", URLMatchType::urlRegex);
    const auto suffix = rule("example.com", URLMatchType::domainSuffix);
    EXPECT_TRUE(matches(atLimit, regex));
    EXPECT_FALSE(matches(overLimit, regex));
    EXPECT_TRUE(matches(overLimit, suffix));
}

TEST(URLMatcher, SharedPatternTextIsCompiledOnce) {
    const std::string pattern = "^https://shared-" + Uuid::random().string() + "\\.test/";
    const std::vector<URLRule> rules{rule(pattern, URLMatchType::urlRegex),
                                     rule(pattern, URLMatchType::urlRegex),
                                     rule("no-match", URLMatchType::domain)};
    auto& cache = URLRegexCache::shared();
    const auto before = cache.compilations();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(URLMatcher::firstMatch("https://elsewhere.test/", rules), std::nullopt);
    }
    EXPECT_EQ(cache.compilations() - before, 1u);
}

TEST(URLRegexCache, EvictionKeepsResultsRight) {
    URLRegexCache cache(2);
    const std::u16string text = u"https://example.com/";
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(cache.search("EXAMPLE", text).result, URLRegexCache::Result::match);
        EXPECT_EQ(cache.search("other", text).result, URLRegexCache::Result::noMatch);
        EXPECT_EQ(cache.search("(", text).result, URLRegexCache::Result::invalidPattern);
        EXPECT_LE(cache.size(), 2u);
    }
}

TEST(URLMatcher, RunawayBacktrackingCountsAsNoMatchAndIsLoggedOnce) {
    test::LogCapture capture;
    // Each start position backtracks exponentially before failing on the final "!": without
    // the time limit this runs for longer than the suite's timeout.
    const std::string url = "https://example.com/" + std::string(5000, 'a') + "!";
    const std::vector<URLRule> rules{rule("(a+)+$", URLMatchType::urlRegex, "xkb:ru"),
                                     rule("example.com", URLMatchType::domain, "xkb:de")};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(URLMatcher::firstMatchSourceID(url, rules), InputSourceID("xkb:de"));
    }
    const auto reports = std::ranges::count_if(capture.sink().records, [&](const auto& r) {
        return r.message.find(rules[0].id.string()) != std::string::npos;
    });
    EXPECT_EQ(reports, 1);

    // It was the limit that ended the search, and it holds for every search of the pattern.
    URLRegexCache cache;
    const std::u16string text = u"https://example.com/" + std::u16string(5000, u'a') + u"!";
    const auto first = cache.search("(a+)+$", text);
    EXPECT_EQ(first.result, URLRegexCache::Result::exhausted);
    EXPECT_TRUE(first.firstExhaustion);
    const auto second = cache.search("(a+)+$", text);
    EXPECT_EQ(second.result, URLRegexCache::Result::exhausted);
    EXPECT_FALSE(second.firstExhaustion);
    // Remembered until it is edited: an easy URL does not bring it back, another text does.
    EXPECT_EQ(cache.search("(a+)+$", u"https://example.com/aaa").result,
              URLRegexCache::Result::exhausted);
    EXPECT_EQ(cache.search("(a+)+$x?", u"https://example.com/aaa").result,
              URLRegexCache::Result::match);
}

TEST(URLRegexCache, OneEvaluationSpendsItsBudgetAcrossPatternsAndRemembersTheSlowOnes) {
    // A clock that moves a millisecond whenever it is read, so that time is counted in
    // matcher steps and the outcome does not depend on the machine.
    double now = 0;
    URLRegexCache cache(64, 0.02, [&now] { return now += 0.001; });
    int reported = 0;
    auto observer = cache.observeExhaustion([&] { ++reported; });
    const std::u16string text = u"https://example.com/" + std::u16string(4000, u'a') + u"!";
    std::vector<std::string> patterns;
    for (int i = 0; i < 5; ++i) {
        patterns.push_back("(a|aa)+(?#" + std::to_string(i) + ")$");
    }
    using R = URLRegexCache::Result;
    struct Round {
        std::vector<R> expected;
    };
    // 20 ms per pattern, 50 ms per evaluation: two run out of their own time, the third of
    // the evaluation's; later evaluations pass over what ran out and go on with the rest.
    const std::vector<Round> rounds{
        {{R::exhausted, R::exhausted, R::outOfBudget, R::outOfBudget, R::outOfBudget}},
        {{R::exhausted, R::exhausted, R::exhausted, R::exhausted, R::outOfBudget}},
        {{R::exhausted, R::exhausted, R::exhausted, R::exhausted, R::exhausted}},
        {{R::exhausted, R::exhausted, R::exhausted, R::exhausted, R::exhausted}},
    };
    for (std::size_t r = 0; r < rounds.size(); ++r) {
        const URLRegexCache::Evaluation evaluation(cache, 0.05);
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            EXPECT_EQ(cache.search(patterns[p], text, &evaluation).result, rounds[r].expected[p])
                << "round " << r << ", pattern " << p;
        }
    }
    EXPECT_EQ(reported, 5);
    const auto searches = cache.searches();
    const URLRegexCache::Evaluation evaluation(cache, 0.05);
    EXPECT_EQ(cache.search(patterns[0], text, &evaluation).result, R::exhausted);
    EXPECT_EQ(cache.searches(), searches) << "a remembered pattern is not run again";
    EXPECT_EQ(cache.search("example", text, &evaluation).result, R::match);
    EXPECT_EQ(cache.search(std::string(URLRegexCache::maximumPatternBytes + 1, 'a'), text).result,
              R::invalidPattern);
}

TEST(URLMatcher, PathologicalPatternsAreSkippedUntilEditedAndLaterRulesStillApply) {
    std::vector<URLRule> rules;
    for (int i = 0; i < 8; ++i) {
        rules.push_back(
            rule("(a|aa)+(?#" + Uuid::random().string() + ")$", URLMatchType::urlRegex, "xkb:ru"));
    }
    rules.push_back(rule("^https://example\\.com/a", URLMatchType::urlRegex, "xkb:de"));
    const std::string url = "https://example.com/" + std::string(4000, 'a') + "!";
    // Every evaluation finds at least one pattern out, so this many always suffice.
    for (int i = 0;
         i < 9 && !std::ranges::all_of(rules.begin(), rules.end() - 1, URLMatcher::isSkipped);
         ++i) {
        URLMatcher::firstMatch(url, rules);
    }
    EXPECT_TRUE(std::ranges::all_of(rules.begin(), rules.end() - 1, URLMatcher::isSkipped));
    EXPECT_FALSE(URLMatcher::isSkipped(rules.back()));
    EXPECT_EQ(URLMatcher::firstMatchSourceID(url, rules), InputSourceID("xkb:de"));

    rules[0].hostPattern = "^https://example\\.com/";
    EXPECT_FALSE(URLMatcher::isSkipped(rules[0])) << "edited";
    EXPECT_EQ(URLMatcher::firstMatchSourceID(url, rules), InputSourceID("xkb:ru"));
}

}  // namespace
}  // namespace tesvano

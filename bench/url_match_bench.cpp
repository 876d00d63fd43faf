// firstMatch over a large mixed rule list: 1,000 rules (a quarter of them regular
// expressions) against 10,000 URLs, some matching early, some late, some not at all.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "TesvanoKit/Rules/URLMatcher.h"

namespace {

using namespace tesvano;

constexpr int kRuleCount = 1000;
constexpr int kURLCount = 10000;

std::vector<URLRule> makeRules() {
    std::vector<URLRule> rules;
    rules.reserve(kRuleCount);
    for (int i = 0; i < kRuleCount; ++i) {
        const std::string n = std::to_string(i);
        URLRule rule{Uuid::random(), {}, InputSourceID("xkb:" + n), RuleAction::lock, {}};
        switch (i % 4) {
            case 0:
                rule.matchType = URLMatchType::urlRegex;
                rule.hostPattern = "^https?://([a-z0-9-]+\\.)*site" + n + "\\.org/(docs|wiki)/";
                break;
            case 1:
                rule.matchType = URLMatchType::domainSuffix;
                rule.hostPattern = "*.Site" + n + ".com";
                break;
            case 2:
                rule.matchType = URLMatchType::domain;
                rule.hostPattern = "www.site" + n + ".net";
                break;
            default:
                rule.matchType = URLMatchType::domainKeyword;
                rule.hostPattern = "site" + n + "-shop";
                break;
        }
        rules.push_back(std::move(rule));
    }
    return rules;
}

// Six in ten URLs match a rule of the kind they are made for, at a random place in the list;
// the rest match nothing, so the whole list is walked.
std::vector<std::string> makeURLs() {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> group(0, kRuleCount / 4 - 1);
    std::uniform_int_distribution<int> kind(0, 9);
    std::vector<std::string> urls;
    urls.reserve(kURLCount);
    for (int i = 0; i < kURLCount; ++i) {
        const auto site = [&](int type) { return std::to_string(group(random) * 4 + type); };
        const std::string tail =
            "/path/" + std::to_string(i) + "?q=term&page=" + std::to_string(i % 7);
        switch (kind(random)) {
            case 0:
            case 1:
                urls.push_back("https://docs.site" + site(0) + ".org/wiki/Article_" +
                               std::to_string(i));
                break;
            case 2:
            case 3:
                urls.push_back("https://mail.site" + site(1) + ".com" + tail);
                break;
            case 4:
                urls.push_back("https://www.site" + site(2) + ".net" + tail);
                break;
            case 5:
                urls.push_back("https://best-site" + site(3) + "-shop.example" + tail);
                break;
            default:
                urls.push_back("https://unknown" + site(0) + ".example.org" + tail);
                break;
        }
    }
    return urls;
}

void BM_FirstMatch(benchmark::State& state) {
    const auto rules = makeRules();
    const auto urls = makeURLs();
    std::size_t matched = 0;
    for (const auto& url : urls) {  // compile the patterns outside the timed loop
        matched += URLMatcher::firstMatch(url, rules).has_value();
    }
    for (auto _ : state) {
        for (const auto& url : urls) {
            auto match = URLMatcher::firstMatch(url, rules);
            benchmark::DoNotOptimize(match);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(urls.size()));
    state.counters["matched_share"] =
        static_cast<double>(matched) / static_cast<double>(urls.size());
}
BENCHMARK(BM_FirstMatch)->Unit(benchmark::kMillisecond);

}  // namespace

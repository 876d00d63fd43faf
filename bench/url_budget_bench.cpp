// The cost of one URL evaluation when the list holds 50 patterns that backtrack without end,
// such as "(a|aa)+$" against a long run of "a". The first evaluations pay for finding them
// out; later ones pass over them.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "TesvanoKit/Rules/URLMatcher.h"

namespace {

using namespace tesvano;

std::vector<URLRule> pathologicalRules() {
    std::vector<URLRule> rules;
    for (int i = 0; i < 50; ++i) {
        // A comment makes each text its own pattern, as rules typed by hand would be.
        rules.push_back(URLRule{Uuid::random(), "(a|aa)+(?#" + std::to_string(i) + ")$",
                                InputSourceID("xkb:us"), RuleAction::lock, URLMatchType::urlRegex});
    }
    rules.push_back(URLRule{Uuid::random(), "example.com", InputSourceID("xkb:de"),
                            RuleAction::lock, URLMatchType::domain});
    return rules;
}

const std::string url = "https://example.com/" + std::string(4000, 'a') + "!";

// One evaluation with every pattern still untried: the worst a single URL poll can cost.
void BM_FirstEvaluation(benchmark::State& state) {
    for (auto _ : state) {
        const auto rules = pathologicalRules();  // new texts: nothing known about them yet
        benchmark::DoNotOptimize(URLMatcher::firstMatch(url, rules));
    }
}
BENCHMARK(BM_FirstEvaluation)->Unit(benchmark::kMillisecond)->Iterations(5);

// Evaluations once the patterns are known to run out of time.
void BM_LaterEvaluation(benchmark::State& state) {
    const auto rules = pathologicalRules();
    for (int i = 0; i < 60; ++i) {
        URLMatcher::firstMatch(url, rules);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(URLMatcher::firstMatch(url, rules));
    }
}
BENCHMARK(BM_LaterEvaluation)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

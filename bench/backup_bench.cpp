// What an import costs on the main thread: reading a backup file, and planning it against the
// current rules with the review's counters (the review recomputes them after every choice).
#include <benchmark/benchmark.h>

#include "TesvanoKit/Backup/ConfigBackup.h"
#include "TesvanoKit/Backup/ImportPlan.h"

namespace {

using namespace tesvano;

// `count` app rules and as many URL rules, every other one also in the local rules with
// another source, so that half the items are conflicts.
struct Sample {
    LockConfiguration local;
    std::string file;
    std::vector<InputSource> sources = {InputSource{InputSourceID("xkb:us"), "English (US)", false},
                                        InputSource{InputSourceID("xkb:de"), "German", false}};

    explicit Sample(int count) {
        LockConfiguration remote;
        remote.defaultSourceID = InputSourceID("xkb:de");
        for (int i = 0; i < count; ++i) {
            const std::string n = std::to_string(i);
            remote.appRules.push_back(
                AppRule{"org.example.App" + n, AppRuleMode::locked, InputSourceID("xkb:de")});
            remote.urlRules.push_back(
                URLRule{Uuid::random(), "site" + n + ".example.org", InputSourceID("xkb:de")});
            if (i % 2 == 0) {
                local.appRules.push_back(
                    AppRule{"org.example.App" + n, AppRuleMode::locked, InputSourceID("xkb:us")});
                local.urlRules.push_back(
                    URLRule{Uuid::random(), "site" + n + ".example.org", InputSourceID("xkb:us")});
            }
        }
        file = ConfigBackup::fromConfiguration(remote, "1", {}).encodedData().value();
    }
};

void readBackup(benchmark::State& state) {
    const Sample sample(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(ConfigBackup::read(sample.file));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(sample.file.size()));
    state.counters["file_KiB"] = double(sample.file.size()) / 1024.0;
}
BENCHMARK(readBackup)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void planAndCount(benchmark::State& state) {
    const Sample sample(static_cast<int>(state.range(0)));
    const auto backup = ConfigBackup::read(sample.file).value();
    for (auto _ : state) {
        auto plan = ImportPlan::make(sample.local, backup, sample.sources, ImportMode::merge);
        benchmark::DoNotOptimize(plan.summary());
    }
}
BENCHMARK(planAndCount)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

// Throughput of recording activations, and the Log pane's query (the last 24 hours) over a
// store holding a million entries.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "TesvanoKit/History/LogStore.h"
#include "tests/support/TempDir.h"

namespace {

using tesvano::ActivationEvent;
using tesvano::LogStore;
using tesvano::platform::Seconds;
using tesvano::platform::WallTime;
namespace fs = std::filesystem;

const WallTime kNow = WallTime(Seconds(1'700'000'000.0));
constexpr Seconds kDay{86400};
constexpr std::int64_t kStoredEntries = 1'000'000;
// A million entries over 30 days: about 33,000 fall in the last 24 hours.
constexpr double kSpacing = 30.0 * 86400.0 / kStoredEntries;

ActivationEvent event(WallTime time, std::int64_t i) {
    ActivationEvent e;
    e.timestamp = time;
    e.inputSource = tesvano::InputSourceID(i % 2 ? "xkb:us" : "xkb:de");
    e.inputSourceName = i % 2 ? "English (US)" : "German";
    e.reason = tesvano::ActivationReason::appActivated;
    e.durationMs = 3.25;
    e.fromSourceName = i % 2 ? "German" : "English (US)";
    e.triggeringAppId = "org.mozilla.firefox";
    e.ruleSource = tesvano::RuleSource::appRule;
    return e;
}

void BM_Record(benchmark::State& state) {
    tesvano::test::TempDir folder;
    LogStore store(false, folder.path());
    std::int64_t i = 0;
    for (auto _ : state) {
        store.record(event(kNow + Seconds(static_cast<double>(i)), i), "Firefox");
        ++i;
    }
    state.SetItemsProcessed(i);
}
BENCHMARK(BM_Record);

void BM_RecordInMemory(benchmark::State& state) {
    LogStore store(true);
    std::int64_t i = 0;
    for (auto _ : state) {
        store.record(event(kNow + Seconds(static_cast<double>(i)), i), "Firefox");
        ++i;
    }
    state.SetItemsProcessed(i);
}
BENCHMARK(BM_RecordInMemory);

// Filled once through record(), then reopened so the query starts from the file.
class MillionEntryStore {
public:
    MillionEntryStore() {
        {
            LogStore filling(false, folder_.path());
            for (std::int64_t i = 0; i < kStoredEntries; ++i) {
                const double age = static_cast<double>(kStoredEntries - i) * kSpacing;
                filling.record(event(kNow - Seconds(age), i), "Firefox");
            }
        }
        store_ = std::make_unique<LogStore>(false, folder_.path());
    }
    LogStore& store() { return *store_; }

private:
    tesvano::test::TempDir folder_;
    std::unique_ptr<LogStore> store_;
};

MillionEntryStore& millionEntryStore() {
    static MillionEntryStore store;
    return store;
}

void BM_RecentEntries24h(benchmark::State& state) {
    auto& store = millionEntryStore().store();
    std::size_t count = 0;
    for (auto _ : state) {
        auto entries = store.recentEntries(kNow, std::nullopt, kDay);
        count = entries.size();
        benchmark::DoNotOptimize(entries);
    }
    state.counters["entries"] = static_cast<double>(count);
}
BENCHMARK(BM_RecentEntries24h)->Unit(benchmark::kMillisecond);

// The automation interface's listing: the newest 200 of the same window.
void BM_RecentEntries24hLimit200(benchmark::State& state) {
    auto& store = millionEntryStore().store();
    for (auto _ : state) {
        auto entries = store.recentEntries(kNow, 200, kDay);
        benchmark::DoNotOptimize(entries);
    }
}
BENCHMARK(BM_RecentEntries24hLimit200)->Unit(benchmark::kMicrosecond);

}  // namespace

// The activation log when its disk is full (writes beyond a file-size limit fail) and when
// another process holds SQLite's write lock: the main thread's cost per recorded activation.
// And on a small disk (files of at most 2 MiB): how large the journal grows and whether every
// entry is saved.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "Platform/Runtime/ManualRunLoop.h"
#include "TesvanoKit/History/LogStore.h"
#include "tests/support/TempDir.h"

namespace {

using tesvano::ActivationEvent;
using tesvano::LogStore;
using tesvano::platform::Seconds;
using tesvano::platform::WallTime;
namespace fs = std::filesystem;

ActivationEvent event(std::int64_t i) {
    ActivationEvent e;
    e.timestamp = WallTime(Seconds(1'800'000'000.0 + static_cast<double>(i)));
    e.inputSource = tesvano::InputSourceID("xkb:de");
    e.inputSourceName = "German";
    e.reason = tesvano::ActivationReason::appActivated;
    e.durationMs = 1.5;
    e.triggeringAppId = "org.gnome.TextEditor";
    return e;
}

// Writes past this many bytes of a file fail as on a full disk.
class FullDisk {
public:
    explicit FullDisk(rlim_t room = 1) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit full = saved_;
        full.rlim_cur = room;
        ::setrlimit(RLIMIT_FSIZE, &full);
    }
    ~FullDisk() { ::setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};

void BM_ThousandActivationsOnAFullDisk(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        tesvano::test::TempDir folder;
        // The program's run loop; no time passes during the burst.
        tesvano::platform::ManualRunLoop loop;
        auto store = std::make_unique<LogStore>(false, folder.path(), &loop);
        state.ResumeTiming();
        {
            FullDisk full;
            for (int i = 0; i < 1000; ++i) {
                store->record(event(i), "Text Editor");
            }
        }
        state.PauseTiming();
        state.counters["kept"] = static_cast<double>(
            store->recentEntries(WallTime(Seconds(1'800'010'000.0)), std::nullopt, Seconds(1e6))
                .size());
        store.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ThousandActivationsOnAFullDisk)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ThreeThousandActivationsOnASmallDisk(benchmark::State& state) {
    for (auto _ : state) {
        tesvano::test::TempDir folder;
        tesvano::platform::ManualRunLoop loop;
        std::uintmax_t journal = 0;
        {
            FullDisk small(2 * 1024 * 1024);
            LogStore store(false, folder.path(), &loop);
            for (int i = 0; i < 3000; ++i) {
                store.record(event(i), "Text Editor");
                loop.advance(Seconds(0.3));
                std::error_code ec;
                const auto size = fs::file_size(folder / "ActivationLog.store-wal", ec);
                journal = std::max(journal, ec ? 0 : size);
            }
        }
        state.counters["largest_journal_KiB"] = static_cast<double>(journal) / 1024.0;
        state.counters["saved"] = static_cast<double>(
            LogStore(false, folder.path())
                .recentEntries(WallTime(Seconds(1'800'010'000.0)), std::nullopt, Seconds(1e6))
                .size());
    }
}
BENCHMARK(BM_ThreeThousandActivationsOnASmallDisk)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ActivationWhileAnotherHoldsTheWriteLock(benchmark::State& state) {
    tesvano::test::TempDir folder;
    tesvano::platform::ManualRunLoop loop;
    LogStore store(false, folder.path(), &loop);
    store.record(event(0), std::nullopt);
    sqlite3* other = nullptr;
    sqlite3_open((folder.path() / LogStore::fileName).c_str(), &other);
    sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    std::int64_t i = 1;
    for (auto _ : state) {
        store.record(event(i++), std::nullopt);
    }
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
}
BENCHMARK(BM_ActivationWhileAnotherHoldsTheWriteLock)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->UseRealTime();

}  // namespace

// Settings-file writes caused by the activation counter: 100 activations as a user makes
// them, in a burst (window switching, 0.1 s apart) and spread out (one every 2 s), with every
// change written at once and with writes coalesced for a second as the program does. Each
// write fsyncs the file; one written at once or by a flush also fsyncs its folder. Run one
// benchmark under `strace -f -c -e trace=fsync` to count the fsyncs.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "Platform/Defaults/Defaults.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "TesvanoKit/History/ActivationCountStore.h"

namespace {

using namespace tesvano;
namespace fs = std::filesystem;

void activations(benchmark::State& state, bool coalesced, double spacing) {
    std::string pattern = (fs::temp_directory_path() / "tesvano-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    const fs::path folder = pattern;
    std::uint64_t writes = 0;
    for (auto _ : state) {
        platform::ManualRunLoop loop;
        platform::FileDefaults defaults(folder / "settings.json");
        if (coalesced) {
            defaults.deferWrites(loop, platform::Seconds(1.0));
        }
        ActivationCountStore counter(defaults, "activationCount");
        for (int i = 0; i < 100; ++i) {
            counter.increment();
            loop.advance(platform::Seconds(spacing));
        }
        defaults.flush();
        writes += defaults.writeCount();
    }
    state.counters["writes_per_100"] =
        static_cast<double>(writes) / static_cast<double>(state.iterations());
    std::error_code ec;
    fs::remove_all(folder, ec);
}

void BM_BurstWrittenAtOnce(benchmark::State& s) {
    activations(s, false, 0.1);
}
void BM_BurstCoalesced(benchmark::State& s) {
    activations(s, true, 0.1);
}
void BM_SpreadWrittenAtOnce(benchmark::State& s) {
    activations(s, false, 2.0);
}
void BM_SpreadCoalesced(benchmark::State& s) {
    activations(s, true, 2.0);
}
BENCHMARK(BM_BurstWrittenAtOnce)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BurstCoalesced)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SpreadWrittenAtOnce)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SpreadCoalesced)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

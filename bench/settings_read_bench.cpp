// Opening a settings file as the program does at start: one of many keys (10,000 to 100,000,
// which once cost the square of their number), one nested 20,000 levels (which once exhausted
// the stack) and one of 200 MB (which once took a minute and 849 MB; now refused unread).
// Then the rules stored in it as the start reads them: one rule of 10,000 to 100,000 keys
// (once 0.57 s to 12 s) and one nested 100,000 levels (once a crash).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Platform/Defaults/Base64.h"
#include "Platform/Defaults/Defaults.h"
#include "TesvanoKit/Rules/RuleStore.h"
#include "tests/support/TempDir.h"

namespace {

using namespace tesvano;
namespace fs = std::filesystem;

void open(benchmark::State& state, const std::string& text, std::uintmax_t size = 0) {
    test::TempDir folder;
    const fs::path path = folder / "settings.json";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder.path());
        fs::create_directories(folder.path());
        std::ofstream(path) << text;
        if (size > 0) {
            fs::resize_file(path, size);
        }
        state.ResumeTiming();
        platform::FileDefaults defaults(path);
        state.counters["keys"] = static_cast<double>(defaults.keys().size());
    }
}

void BM_OpenWithKeys(benchmark::State& state) {
    std::string text = "{";
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        text += (i == 0 ? "\"key" : ", \"key") + std::to_string(i) + "\": " + std::to_string(i);
    }
    open(state, text + "}");
}
BENCHMARK(BM_OpenWithKeys)
    ->Arg(10'000)
    ->Arg(20'000)
    ->Arg(40'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_OpenNested20000Levels(benchmark::State& state) {
    open(state, R"({"a": )" + std::string(20'000, '[') + std::string(20'000, ']') + "}");
}
BENCHMARK(BM_OpenNested20000Levels)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Open200MB(benchmark::State& state) {
    open(state, "{}", 200u * 1024 * 1024);
}
BENCHMARK(BM_Open200MB)->Unit(benchmark::kMillisecond)->Iterations(3);

void loadRules(benchmark::State& state, const std::string& rules) {
    test::TempDir folder;
    const fs::path path = folder / "settings.json";
    platform::FileDefaults(path).set("lockConfiguration", platform::DefaultsValue::data(rules));
    for (auto _ : state) {
        platform::FileDefaults defaults(path);
        RuleStore store(defaults, "lockConfiguration");
        state.counters["appRules"] = static_cast<double>(store.load().appRules.size());
    }
}

void BM_LoadRulesWithKeysInOneRule(benchmark::State& state) {
    std::string rules = R"({"appRules":[{)";
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        rules += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    }
    loadRules(state, rules + R"("bundleID":"org.gnome.Terminal"}]})");
}
BENCHMARK(BM_LoadRulesWithKeysInOneRule)
    ->Arg(10'000)
    ->Arg(50'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_LoadRulesNested100000Levels(benchmark::State& state) {
    loadRules(state,
              R"({"appRules":[)" + std::string(100'000, '[') + std::string(100'000, ']') + "]}");
}
BENCHMARK(BM_LoadRulesNested100000Levels)->Unit(benchmark::kMillisecond)->Iterations(3);

// Files under the bound whose first save would pass it, opened as the program opens them
// (judged by what its start writes back; once read and then never saved again): 650,000
// rules without their mode (15.6 MB), a compact array of 5.2 MB, 280 KB nested 60 deep.
void BM_OpenSavingLarger(benchmark::State& state) {
    std::string text;
    if (state.range(0) == 0) {
        // Written as text: with two-letter ids the file takes 15.6 MB.
        std::string rules = R"({"appRules":[)";
        const std::string letters = "abcdefghijklmnopqrstuvwxyz0123456789";
        for (int i = 0; i < 650'000; ++i) {
            rules += std::string(i ? "," : "") + R"({"bundleID":")" + letters[i % 36] +
                     letters[i / 36 % 36] + "\"}";
        }
        rules += "]}";
        text = R"({"lockConfiguration":{"data":")" +
               platform::base64Encode(std::vector<std::uint8_t>(rules.begin(), rules.end())) +
               "\"}}";
    } else if (state.range(0) == 1) {
        text = R"({"odd":[1)";
        for (int i = 0; i < 2'600'000; ++i) {
            text += ",1";
        }
        text += "]}";
    } else {
        text = R"({"odd":)" + std::string(60, '[') + "1";
        for (int i = 0; i < 140'000; ++i) {
            text += ",1";
        }
        text += std::string(60, ']') + "}";
    }
    test::TempDir folder;
    const fs::path path = folder / "settings.json";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder.path());
        fs::create_directories(folder.path());
        std::ofstream(path) << text;
        state.ResumeTiming();
        platform::FileDefaults defaults(path,
                                        {.startRewrite = RuleStore::rewriteStandardAsStartWould});
        state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
        state.counters["setAside"] = defaults.setAsidePath() ? 1 : 0;
    }
}
BENCHMARK(BM_OpenSavingLarger)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

// One lock switch, as an activation makes it: the lock controller over the provider over the
// combined backends (the layout groups with IBus running input methods only, Fcitx stopped).
// Besides the time, the counters say per switch how often the provider was asked, how often
// the combination worked out which backends are listed, and how often a backend searched its
// sources for an id.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "Platform/TextInput/CombinedTextInputSources.h"
#include "Platform/TextInput/Fake/FakeTextInputSources.h"
#include "TesvanoKit/Lock/LockController.h"
#include "TesvanoKit/Sources/TextInputSourceProvider.h"

namespace {

using namespace tesvano;
using platform::FakeTextInputSources;

class CountingProvider final : public InputSourceProviding {
public:
    explicit CountingProvider(InputSourceProviding& inner) : inner_(inner) {}
    std::optional<InputSource> currentSource() override {
        ++calls;
        return inner_.currentSource();
    }
    std::vector<InputSource> selectableSources() override {
        ++calls;
        return inner_.selectableSources();
    }
    std::optional<InputSource> source(const InputSourceID& id) override {
        ++calls;
        return inner_.source(id);
    }
    bool select(const InputSource& source) override {
        ++selects;
        return inner_.select(source);
    }
    bool canSelect(const InputSource& source) override {
        ++calls;
        return inner_.canSelect(source);
    }
    int calls = 0;
    int selects = 0;

private:
    InputSourceProviding& inner_;
};

void BM_LockSwitch(benchmark::State& state, const char* first, const char* second) {
    auto layouts = std::make_unique<FakeTextInputSources>();
    auto ibus = std::make_unique<FakeTextInputSources>();
    auto fcitx = std::make_unique<FakeTextInputSources>();
    layouts->installed = {FakeTextInputSources::keyboard("xkb:us", "English (US)", {"en"}),
                          FakeTextInputSources::keyboard("xkb:de", "German", {"de"}),
                          FakeTextInputSources::keyboard("xkb:ru", "Russian", {"ru"})};
    layouts->currentID = "xkb:us";
    ibus->installed = {FakeTextInputSources::keyboard("ibus:anthy", "Anthy", {"ja"}),
                       FakeTextInputSources::keyboard("ibus:pinyin", "Pinyin", {"zh"})};
    ibus->focusedSelection = {};
    fcitx->available = false;
    FakeTextInputSources* counted[] = {layouts.get(), ibus.get(), fcitx.get()};
    std::vector<platform::CombinedTextInputSources::Backend> backends;
    backends.push_back({std::move(layouts), platform::CombinedTextInputSources::Role::layouts});
    backends.push_back({std::move(fcitx), platform::CombinedTextInputSources::Role::framework});
    backends.push_back({std::move(ibus), platform::CombinedTextInputSources::Role::framework});
    platform::CombinedTextInputSources combined(std::move(backends));
    TextInputSourceProvider provider(combined);
    CountingProvider counting(provider);
    LockController controller(
        counting, true, false, [] { return 0.0; }, [] { return platform::WallTime{}; }, {},
        [](double, std::function<void()>) {});

    // Each backend's availability is asked once whenever the listed backends are worked out.
    auto builds = [&] { return counted[0]->availabilityChecks; };
    auto lookups = [&] {
        return counted[0]->idLookups + counted[1]->idLookups + counted[2]->idLookups;
    };
    const int buildsBefore = builds();
    const int lookupsBefore = lookups();
    long switches = 0;
    for (auto _ : state) {
        const InputSourceID target(switches % 2 == 0 ? first : second);
        controller.setTarget(target, ActivationReason::appActivated, switches % 2 == 0 ? "a" : "b",
                             RuleSource::appRule);
        ++switches;
    }
    if (controller.activationCount() != switches) {
        state.SkipWithError("a switch did not happen");
    }
    using benchmark::Counter;
    state.counters["provider_calls"] = Counter(counting.calls, Counter::kAvgIterations);
    state.counters["selects"] = Counter(counting.selects, Counter::kAvgIterations);
    state.counters["list_builds"] = Counter(builds() - buildsBefore, Counter::kAvgIterations);
    state.counters["id_lookups"] = Counter(lookups() - lookupsBefore, Counter::kAvgIterations);
}

BENCHMARK_CAPTURE(BM_LockSwitch, layouts, "xkb:de", "xkb:us");
BENCHMARK_CAPTURE(BM_LockSwitch, input_methods, "ibus:anthy", "ibus:pinyin");

}  // namespace

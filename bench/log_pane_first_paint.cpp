// How long the Log pane takes from being made to its first picture with a full day of
// activity (1,000 entries in an on-disk store): reading the window, formatting every row,
// the layout and the paint. Runs on the offscreen Qt platform unless another is asked for.
//   build/dev/bench/log_pane_first_paint
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QPixmap>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Resources.h"
#include "Tesvano/Settings/Log/ActivationLogModel.h"
#include "Tesvano/Settings/Log/ActivationLogPane.h"
#include "tests/support/FakeAppServices.h"

namespace {

using namespace tesvano;
using platform::Seconds;
namespace fs = std::filesystem;

constexpr int kEntries = 1000;

// The program's state on fakes, with a log of kEntries spread over the last day.
struct Fixture : test::FakeAppServices {
    Fixture() {
        std::string pattern = (fs::temp_directory_path() / "tesvano-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        folder = pattern;
        AppServices services = appServices(loop);
        services.logInMemory = false;
        services.logFolder = folder;
        state = std::make_unique<AppState>(std::move(services));
        state->setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
        const ActivationReason reasons[] = {ActivationReason::appActivated,
                                            ActivationReason::urlMatched,
                                            ActivationReason::revertedSwitch};
        const RuleSource rules[] = {RuleSource::appRule, RuleSource::urlRule,
                                    RuleSource::globalDefault};
        for (int i = 0; i < kEntries; ++i) {
            ActivationEvent e;
            e.timestamp = loop.now() - Seconds(86000.0 * i / kEntries);
            e.inputSource = InputSourceID(i % 2 ? "xkb:de" : "xkb:us");
            e.inputSourceName = i % 2 ? "German" : "English (US)";
            e.fromSourceName = i % 2 ? "English (US)" : "German";
            e.reason = reasons[i % 3];
            e.ruleSource = rules[i % 3];
            e.matchedHost = "docs.example.org";
            e.durationMs = 3.0 + i % 17;
            state->logStore().record(e, i % 2 ? "Firefox ESR" : "Text Editor");
        }
    }
    ~Fixture() {
        state.reset();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    fs::path folder;
    platform::ManualRunLoop loop;
    std::unique_ptr<AppState> state;
};

Fixture& fixture() {
    static Fixture made;
    return made;
}

// Made, shown (which purges and reads the window) and painted once, as the tab appears.
void BM_LogPaneFirstPaint(benchmark::State& run) {
    auto& f = fixture();
    for (auto _ : run) {
        ActivationLogPane pane(*f.state);
        pane.resize(660, 520);
        pane.show();
        QPixmap picture = pane.grab();
        benchmark::DoNotOptimize(picture);
        if (pane.model()->rowCount() != kEntries) {
            run.SkipWithError("not every entry was shown");
            break;
        }
    }
    run.counters["rows"] = kEntries;
}
BENCHMARK(BM_LogPaneFirstPaint)->Unit(benchmark::kMillisecond);

// The part of it that reads the store and makes the rows' texts.
void BM_LogModelReload(benchmark::State& run) {
    auto& f = fixture();
    ActivationLogModel model(f.state->logStore(), SupportedLanguage::english);
    for (auto _ : run) {
        model.reload(f.loop.now());
        benchmark::DoNotOptimize(model.rowCount());
    }
}
BENCHMARK(BM_LogModelReload)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    tesvano::initResources();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

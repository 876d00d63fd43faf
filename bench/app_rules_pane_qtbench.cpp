// Opening the App Rules pane with 500 application rules, and one edit of a rule while the pane
// shows 500, offscreen on the state's fakes.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollArea>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/Settings/AppRules/AppRulesSettingsPane.h"
#include "tests/support/FakeAppServices.h"

namespace {

using namespace tesvano;

constexpr int kRules = 500;

struct Fixture : test::FakeAppServicesWithShortcuts {
    Fixture() {
        system.installed = {
            platform::FakeTextInputSources::keyboard("xkb:us", "English (US)", {"en"}),
            platform::FakeTextInputSources::keyboard("xkb:de", "German", {"de"}),
            platform::FakeTextInputSources::keyboard("xkb:ru", "Russian", {"ru"})};
        system.currentID = "xkb:us";
        // Half of the rules name an installed application, so half the rows find an entry.
        std::vector<platform::DesktopEntry> list;
        for (int i = 0; i < kRules / 2; ++i) {
            list.push_back(*platform::DesktopEntryIndex::parse(
                "org.example.App" + std::to_string(i),
                "[Desktop Entry]\nType=Application\nName=App " + std::to_string(i) + "\n"));
        }
        entries = platform::DesktopEntryIndex(std::move(list));
        AppServices services = appServices(loop);
        state = std::make_unique<AppState>(services);
        state->start();
        LockConfiguration config = state->config();
        const char* sources[] = {"xkb:us", "xkb:de", "xkb:ru"};
        const AppRuleMode modes[] = {AppRuleMode::locked, AppRuleMode::switched,
                                     AppRuleMode::ignored, AppRuleMode::useDefault};
        for (int i = 0; i < kRules; ++i) {
            config.appRules.push_back({"org.example.App" + std::to_string(i), modes[i % 4],
                                       InputSourceID(sources[i % 3])});
        }
        std::ranges::sort(config.appRules, {}, &AppRule::appId);
        state->setConfig(config);
    }

    platform::ManualRunLoop loop;
    std::unique_ptr<AppState> state;
};

Fixture& fixture() {
    static Fixture made;
    return made;
}

// The pane as the Settings window holds it: in a scroll area of the window's size.
std::unique_ptr<QScrollArea> openPane(AppState& state) {
    auto scroller = std::make_unique<QScrollArea>();
    scroller->setWidgetResizable(true);
    scroller->resize(700, 600);
    scroller->setWidget(new AppRulesSettingsPane(state));
    scroller->show();
    QApplication::processEvents();
    return scroller;
}

// Building and showing the pane until it is drawn; taking it down again is not counted.
void BM_OpenPaneWith500Rules(benchmark::State& benchState) {
    auto& f = fixture();
    for (auto _ : benchState) {
        auto pane = openPane(*f.state);
        benchState.PauseTiming();
        pane.reset();
        QApplication::processEvents();
        benchState.ResumeTiming();
    }
}
BENCHMARK(BM_OpenPaneWith500Rules)->Unit(benchmark::kMillisecond);

// The same with the pane taken down, as when the Settings window is closed or rebuilt.
void BM_OpenAndClosePaneWith500Rules(benchmark::State& benchState) {
    auto& f = fixture();
    for (auto _ : benchState) {
        openPane(*f.state).reset();
    }
}
BENCHMARK(BM_OpenAndClosePaneWith500Rules)->Unit(benchmark::kMillisecond);

// One rule edited (as from a row's menu) while the pane shows 500: the state commits and
// stores the configuration, and the pane redraws.
void BM_EditOneRuleOf500(benchmark::State& benchState) {
    auto& f = fixture();
    auto pane = openPane(*f.state);
    int i = 0;
    for (auto _ : benchState) {
        f.state->upsertAppRule({"org.example.App250",
                                (i++ % 2) ? AppRuleMode::locked : AppRuleMode::ignored,
                                InputSourceID("xkb:de")});
        QApplication::processEvents();
    }
}
BENCHMARK(BM_EditOneRuleOf500)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// The program's resident memory with the Settings window: before it opens, open on the General
// pane, with every pane shown once, and a few seconds after it closed. Settings builds a pane
// when its tab is first shown and lets all go when it closes, so the window open on General
// costs one pane, and closing it gives the memory back. Runs offscreen; the figures are
// counters in MB (resident set, /proc/self/statm). Aims, for the real program on a desktop:
// at most 45 MB open on General, under 42 MB a few seconds after closing.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <fstream>
#include <memory>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/Settings/SettingsWindow.h"
#include "tests/support/FakeAppServices.h"

namespace {

using namespace tesvano;

double residentMB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Lets the event loop run for a while: deferred deletions, timers of the window.
void settle(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

struct Fixture : test::FakeAppServicesWithShortcuts {
    Fixture() {
        system.installed = {
            platform::FakeTextInputSources::keyboard("xkb:us", "English (US)", {"en"}),
            platform::FakeTextInputSources::keyboard("xkb:de", "German", {"de"})};
        system.currentID = "xkb:us";
        state = std::make_unique<AppState>(appServices(loop));
        state->start();
    }

    platform::ManualRunLoop loop;
    std::unique_ptr<AppState> state;
};

void BM_SettingsMemory(benchmark::State& run) {
    Fixture fixture;
    AppState& state = *fixture.state;
    state.setSettingsTab(SettingsTab::general);
    settle(200);
    double before = 0;
    double openOnGeneral = 0;
    double everyPane = 0;
    double afterClose = 0;
    for (auto _ : run) {
        before = residentMB();
        SettingsWindow window(state);
        window.present();
        settle(300);
        openOnGeneral = residentMB();
        for (const auto& info : settingsTabs) {
            state.setSettingsTab(info.tab);
            settle(50);
        }
        everyPane = residentMB();
        state.setSettingsTab(SettingsTab::general);
        window.close();
        settle(2000);
        afterClose = residentMB();
    }
    run.counters["before_MB"] = before;
    run.counters["open_general_MB"] = openOnGeneral;
    run.counters["every_pane_MB"] = everyPane;
    run.counters["closed_2s_MB"] = afterClose;
}
BENCHMARK(BM_SettingsMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

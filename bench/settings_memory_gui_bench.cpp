// The program's resident memory with the Settings window: before it opens, open on the General
// pane, with every pane shown once, and a few seconds after it closed. Settings builds a pane
// when its tab is first shown and lets all go when it closes, so the window open on General
// costs one pane, and closing it gives the memory back. Runs offscreen; the figures are
// counters in MB: the resident set, and the anonymous part of it (`_heap_MB`). Aims, for the real
// program on a desktop: at most 45 MB open on General, under 42 MB a few seconds after closing.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/Settings/SettingsWindow.h"
#include "tests/support/FakeAppServices.h"

namespace {

using namespace tesvano;

struct Resident {
    double total = 0;  // the resident set
    double heap = 0;   // of it, anonymous memory: what the program itself allocated
};

// From /proc/self/status: the mapped files (libraries' code, fonts) are the rest, shared
// with other programs and dropped by the kernel when memory runs short.
Resident resident() {
    Resident out;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        const auto megabytes = [&line] {
            return std::stod(line.substr(line.find(':') + 1)) / 1024.0;
        };
        if (line.rfind("VmRSS:", 0) == 0) {
            out.total = megabytes();
        } else if (line.rfind("RssAnon:", 0) == 0) {
            out.heap = megabytes();
        }
    }
    return out;
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
    Resident before;
    Resident openOnGeneral;
    Resident everyPane;
    Resident afterClose;
    for (auto _ : run) {
        before = resident();
        SettingsWindow window(state);
        window.present();
        settle(300);
        openOnGeneral = resident();
        for (const auto& info : settingsTabs) {
            state.setSettingsTab(info.tab);
            settle(50);
        }
        everyPane = resident();
        state.setSettingsTab(SettingsTab::general);
        window.close();
        settle(2000);
        afterClose = resident();
    }
    const auto count = [&run](const std::string& name, const Resident& at) {
        run.counters[name + "_MB"] = at.total;
        run.counters[name + "_heap_MB"] = at.heap;
    };
    count("before", before);
    count("open_general", openOnGeneral);
    count("every_pane", everyPane);
    count("closed_2s", afterClose);
}
BENCHMARK(BM_SettingsMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

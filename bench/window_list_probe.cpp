// What following the settings program's window costs: the window list read once per poll
// (30 times a second while the guide is open), on a private Xvfb with 40 client windows of 20
// processes, the settings program's among them. All windows, only the settings program's,
// and a whole poll step of the tracker (running applications plus its windows).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <memory>

#include "PermissionFlow/SettingsWindowTracker.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/Workspace/X11WindowList.h"
#include "Platform/Workspace/X11Workspace.h"
#include "tests/support/TestDesktop.h"
#include "tests/support/XvfbServer.h"

namespace {

using namespace tesvano;

struct Desktop {
    std::unique_ptr<test::XvfbServer> server;
    std::unique_ptr<test::TestDesktop> desktop;
    platform::ManualRunLoop loop;
    std::unique_ptr<platform::X11WindowList> windows;
    std::unique_ptr<platform::X11Workspace> workspace;
    bool ok = false;
};

Desktop& desktop() {
    static Desktop d = [] {
        Desktop out;
        auto server = test::XvfbServer::start();
        if (!server) {
            return out;
        }
        out.server = std::move(*server);
        auto desk = test::TestDesktop::open(out.server->display());
        if (!desk) {
            return out;
        }
        out.desktop = std::move(*desk);
        // The settings program's two windows carry our own process, whose executable is
        // this probe; the others stand for processes that do not exist.
        for (int i = 0; i < 40; ++i) {
            out.desktop->addWindow("app" + std::to_string(i % 20),
                                   i % 20 == 7 ? ::getpid() : 1000 + i % 20);
        }
        out.desktop->pump();
        auto windows = platform::X11WindowList::open(out.loop, out.server->display());
        auto workspace = platform::X11Workspace::open(out.loop, {}, out.server->display());
        if (!windows || !workspace) {
            return out;
        }
        out.windows = std::move(*windows);
        out.workspace = std::move(*workspace);
        out.ok = true;
        return out;
    }();
    return d;
}

void BM_AllWindows(benchmark::State& state) {
    auto& d = desktop();
    if (!d.ok) {
        state.SkipWithError("no Xvfb");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(d.windows->windows());
    }
}
BENCHMARK(BM_AllWindows)->Unit(benchmark::kMicrosecond);

void BM_SettingsProgramWindows(benchmark::State& state) {
    auto& d = desktop();
    if (!d.ok) {
        state.SkipWithError("no Xvfb");
        return;
    }
    const std::int32_t settings[] = {::getpid()};
    for (auto _ : state) {
        benchmark::DoNotOptimize(d.windows->windows(settings));
    }
}
BENCHMARK(BM_SettingsProgramWindows)->Unit(benchmark::kMicrosecond);

void BM_TrackerPollStep(benchmark::State& state) {
    auto& d = desktop();
    if (!d.ok) {
        state.SkipWithError("no Xvfb");
        return;
    }
    PermissionFlow::SettingsWindowTracker tracker(d.loop, *d.workspace, *d.windows);
    // Found by its executable, this probe; its windows are too small to count, so every step
    // reads them afresh.
    tracker.start({"window-list-probe", "window_list_probe"});
    for (auto _ : state) {
        tracker.pollStep();
    }
    tracker.stop();
}
BENCHMARK(BM_TrackerPollStep)->Unit(benchmark::kMicrosecond);

}  // namespace

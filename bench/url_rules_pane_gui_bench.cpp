// The URL Rules pane with 1,000 URL rules: building it (what opening the tab costs), showing
// it, and scrolling its list by a page and painting what comes into view. Runs offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPixmap>
#include <QScrollBar>
#include <cstdio>
#include <memory>
#include <string>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/Settings/URLRules/URLRuleListModel.h"
#include "Tesvano/Settings/URLRules/URLRuleListView.h"
#include "Tesvano/Settings/URLRules/URLRulesPane.h"
#include "tests/support/FakeAppServices.h"

namespace {

using namespace tesvano;

constexpr int kRuleCount = 1000;

// The program's state on fakes, enhanced mode on, with kRuleCount rules of every kind.
struct Fixture : test::FakeAppServicesWithShortcuts {
    Fixture() {
        system.installed = {
            platform::FakeTextInputSources::keyboard("xkb:us", "English (US)", {"en"}),
            platform::FakeTextInputSources::keyboard("xkb:de", "German", {"de"})};
        system.currentID = "xkb:us";
        accessibility.setTrusted(true);
        AppServices services = appServices(loop);
        state = std::make_unique<AppState>(services);
        state->start();
        LockConfiguration config = state->config();
        config.enhancedModeEnabled = true;
        for (int i = 0; i < kRuleCount; ++i) {
            const std::string n = std::to_string(i);
            const auto type = static_cast<URLMatchType>(i % 4);
            config.urlRules.push_back(
                URLRule{Uuid::random(),
                        type == URLMatchType::urlRegex ? "^https://site" + n + "\\.org/(docs|wiki)/"
                                                       : "site" + n + ".example.com",
                        InputSourceID(i % 3 == 0 ? "xkb:de" : "xkb:us"),
                        i % 2 == 0 ? RuleAction::lock : RuleAction::switchOnce, type});
        }
        state->setConfig(config);
    }

    platform::ManualRunLoop loop;
    std::unique_ptr<AppState> state;
};

Fixture& fixture() {
    static Fixture made;
    return made;
}

void BM_BuildPane(benchmark::State& run) {
    AppState& state = *fixture().state;
    for (auto _ : run) {
        URLRulesPane pane(state);
        benchmark::DoNotOptimize(pane.ruleModel()->rowCount());
    }
}
BENCHMARK(BM_BuildPane)->Unit(benchmark::kMillisecond);

void BM_BuildAndShowPane(benchmark::State& run) {
    AppState& state = *fixture().state;
    for (auto _ : run) {
        URLRulesPane pane(state);
        pane.resize(660, 900);
        pane.show();
        QApplication::processEvents();
        // What the first frame draws.
        benchmark::DoNotOptimize(pane.grab());
    }
}
BENCHMARK(BM_BuildAndShowPane)->Unit(benchmark::kMillisecond);

void BM_ScrollListByAPage(benchmark::State& run) {
    URLRulesPane pane(*fixture().state);
    pane.resize(660, 900);
    pane.show();
    QApplication::processEvents();
    QScrollBar* bar = pane.ruleList()->verticalScrollBar();
    for (auto _ : run) {
        const int next = bar->value() + bar->pageStep();
        bar->setValue(next > bar->maximum() ? 0 : next);
        benchmark::DoNotOptimize(pane.ruleList()->viewport()->grab());
    }
}
BENCHMARK(BM_ScrollListByAPage)->Unit(benchmark::kMicrosecond);

}  // namespace

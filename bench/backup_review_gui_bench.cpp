// An import of a backup at the rule cap, as the user meets it: the file read, planned against
// the current rules, and the review dialog built and shown with its first frame drawn; then one
// choice in the review and its redraw. Runs offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <memory>
#include <string>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/Settings/Backup/ImportReviewDialog.h"
#include "TesvanoKit/Backup/ConfigBackup.h"
#include "TesvanoKit/Backup/ImportPlan.h"
#include "tests/support/FakeAppServices.h"

namespace {

using namespace tesvano;

// The program's state on fakes with half the cap's rules of its own; the backup holds the cap,
// every other rule also here with another source (a conflict), some for a missing layout.
struct Fixture : test::FakeAppServicesWithShortcuts {
    Fixture() {
        system.installed = {
            platform::FakeTextInputSources::keyboard("xkb:us", "English (US)", {"en"}),
            platform::FakeTextInputSources::keyboard("xkb:de", "German", {"de"})};
        system.currentID = "xkb:us";
        AppServices services = appServices(loop);
        state = std::make_unique<AppState>(services);
        state->start();
        LockConfiguration local = state->config();
        LockConfiguration remote;
        remote.defaultSourceID = InputSourceID("xkb:de");
        for (std::size_t i = 0; i < ConfigBackup::maximumRules / 2; ++i) {
            const std::string n = std::to_string(i);
            const InputSourceID source(i % 10 == 0 ? "xkb:jp" : "xkb:de");
            remote.appRules.push_back(AppRule{"org.example.App" + n, AppRuleMode::locked, source});
            remote.urlRules.push_back(URLRule{Uuid::random(), "site" + n + ".example.org", source});
            if (i % 2 == 0) {
                local.appRules.push_back(
                    AppRule{"org.example.App" + n, AppRuleMode::locked, InputSourceID("xkb:us")});
                local.urlRules.push_back(
                    URLRule{Uuid::random(), "site" + n + ".example.org", InputSourceID("xkb:us")});
            }
        }
        state->setConfig(local);
        file = ConfigBackup::fromConfiguration(remote, "1", {{InputSourceID("xkb:jp"), "Japanese"}})
                   .encodedData()
                   .value();
        std::fprintf(stderr, "backup: %zu rules, %zu bytes\n",
                     remote.appRules.size() + remote.urlRules.size(), file.size());
    }

    std::unique_ptr<ImportReviewDialog> open() {
        auto backup = ConfigBackup::read(file);
        auto plan = ImportPlan::make(state->config(), *backup, state->availableSources(),
                                     ImportMode::merge);
        auto model = std::make_shared<ImportReviewModel>(
            std::move(plan), [](const ImportPlan& reviewed) { return reviewed.outcome(); });
        auto dialog = std::make_unique<ImportReviewDialog>(*state, model, nullptr);
        dialog->show();
        QApplication::processEvents();
        return dialog;
    }

    platform::ManualRunLoop loop;
    std::unique_ptr<AppState> state;
    std::string file;
};

Fixture& fixture() {
    static Fixture made;
    return made;
}

void BM_ReadPlanAndShowABackupAtTheCap(benchmark::State& run) {
    Fixture& f = fixture();
    for (auto _ : run) {
        auto dialog = f.open();
        // What the first frame draws.
        benchmark::DoNotOptimize(dialog->grab());
    }
}
BENCHMARK(BM_ReadPlanAndShowABackupAtTheCap)->Unit(benchmark::kMillisecond);

void BM_ReadAndPlanOnly(benchmark::State& run) {
    Fixture& f = fixture();
    for (auto _ : run) {
        auto backup = ConfigBackup::read(f.file);
        benchmark::DoNotOptimize(ImportPlan::make(f.state->config(), *backup,
                                                  f.state->availableSources(), ImportMode::merge));
    }
}
BENCHMARK(BM_ReadAndPlanOnly)->Unit(benchmark::kMillisecond);

void BM_OneChoiceAndItsRedraw(benchmark::State& run) {
    auto dialog = fixture().open();
    bool useFile = false;
    for (auto _ : run) {
        useFile = !useFile;
        dialog->model().setAllResolutions(useFile ? ConflictResolution::useFile
                                                  : ConflictResolution::keepLocal);
        dialog->rebuild();
        benchmark::DoNotOptimize(dialog->grab());
    }
}
BENCHMARK(BM_OneChoiceAndItsRedraw)->Unit(benchmark::kMillisecond);

}  // namespace

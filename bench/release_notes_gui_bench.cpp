// Release notes of 200 KB that are nothing but "@name" mentions: parsed (every mention
// linked) and drawn as the update window draws them, with their first layout. The target is
// under 100 ms for the whole. Runs offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <string>

#include "Tesvano/Updates/ReleaseNotesView.h"
#include "TesvanoKit/Updates/ReleaseNotes.h"

namespace {

using namespace tesvano;

std::string mentions(std::size_t bytes, bool paragraphs) {
    std::string text;
    for (int i = 0; text.size() < bytes; ++i) {
        text += "@contributor-" + std::to_string(i) + (paragraphs && i % 20 == 19 ? "\n\n" : " ");
    }
    return text;
}

void BM_ParseMentions(benchmark::State& state) {
    const std::string notes = mentions(200 * 1024, state.range(0) != 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReleaseNotes::parse(notes));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * notes.size()));
}
BENCHMARK(BM_ParseMentions)->Arg(0)->Arg(1)->ArgName("paragraphs")->Unit(benchmark::kMillisecond);

void BM_RenderMentions(benchmark::State& state) {
    const std::string notes = mentions(200 * 1024, state.range(0) != 0);
    for (auto _ : state) {
        ReleaseNotesView view(notes);
        view.resize(500, 400);
        benchmark::DoNotOptimize(view.sizeHint());
        benchmark::DoNotOptimize(view.heightForWidth(500));
    }
}
BENCHMARK(BM_RenderMentions)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("paragraphs")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Release notes of 200 KB that are nothing but "@name" mentions, as one paragraph and as
// paragraphs of twenty: parsed (mentions linked) and drawn as the update window draws them,
// with the first layout (the target: under 100 ms), and until every portion is drawn. Runs
// offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <memory>
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
        auto view = std::make_unique<ReleaseNotesView>(notes);
        view->resize(500, 400);
        benchmark::DoNotOptimize(view->sizeHint());
        benchmark::DoNotOptimize(view->heightForWidth(500));
        state.PauseTiming();
        view.reset();  // what is left to draw goes with it, outside the timing
        state.ResumeTiming();
    }
}

// Every portion, with the events between them: what the interface thread spends in all.
void BM_RenderMentionsToTheEnd(benchmark::State& state) {
    const std::string notes = mentions(200 * 1024, state.range(0) != 0);
    for (auto _ : state) {
        ReleaseNotesView view(notes);
        view.resize(500, 400);
        while (!view.complete()) {
            QApplication::processEvents();
        }
        benchmark::DoNotOptimize(view.heightForWidth(500));
    }
}
BENCHMARK(BM_RenderMentionsToTheEnd)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("paragraphs")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderMentions)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("paragraphs")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace

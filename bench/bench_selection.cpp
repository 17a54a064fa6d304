// Selection cost on a large document: lifting a 2048 x 2048 region of a 4096 x 4096 layer into
// a float (as a rectangle and as a 64-vertex lasso), and committing a moved float back as one
// undo step. Each measured operation ends by reading a pixel back, so queued drawing is paid
// for where it was issued. Putting the pixels back between rounds is not measured.
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "canvas/document.h"
#include "canvas/selection.h"
#include "canvas/undo.h"

#include "bench_support.h"

namespace {

constexpr int SIDE = 4096;
constexpr int REGION = 2048;
constexpr float ORIGIN = 1024.0f; // the region's top-left corner
constexpr int LASSO_VERTICES = 64;

// One translucent layer, so every round starts from the same pixels.
DocumentPtr make_document() {
    return make_filled_document(SIDE, al_map_rgba_f(0.3f * 0.8f, 0.5f * 0.8f, 0.7f * 0.8f, 0.8f));
}

// Waits for the drawing queued on the bitmap.
void sync(ALLEGRO_BITMAP* bitmap) {
    benchmark::DoNotOptimize(al_get_pixel(bitmap, SIDE / 2, SIDE / 2));
}

int lift(SELECTION* sel, DOCUMENT* doc, bool lasso) {
    if (!lasso) {
        selection_begin_marquee(sel, ORIGIN, ORIGIN);
        selection_update_marquee(sel, ORIGIN + REGION, ORIGIN + REGION);
        return selection_end_marquee(sel, doc);
    }
    // A circle inscribed in the region.
    const float r = REGION * 0.5f;
    const float c = ORIGIN + r;
    selection_begin_lasso(sel, c + r, c);
    for (int i = 1; i < LASSO_VERTICES; i++) {
        const float a = 6.2831853f * static_cast<float>(i) / LASSO_VERTICES;
        selection_add_lasso_point(sel, c + r * std::cos(a), c + r * std::sin(a));
    }
    return selection_end_marquee(sel, doc);
}

void run_lift(benchmark::State& state, bool lasso) {
    DocumentPtr doc = make_document();
    if (!doc) {
        state.SkipWithError("could not build the document");
        return;
    }
    SELECTION sel;
    selection_init(&sel);
    for (auto _ : state) {
        if (!lift(&sel, doc.get(), lasso)) {
            state.SkipWithError("lift failed");
            break;
        }
        sync(doc->active_layer->bitmap);
        state.PauseTiming();
        selection_cancel(&sel);
        sync(doc->active_layer->bitmap);
        state.ResumeTiming();
    }
    selection_discard(&sel);
    state.counters["Mpix/s"] = benchmark::Counter(static_cast<double>(REGION) * REGION / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void BM_LiftMarquee(benchmark::State& state) {
    run_lift(state, false);
}
void BM_LiftLasso(benchmark::State& state) {
    run_lift(state, true);
}

// Lifted, moved half the region's size and committed; the step is undone (unmeasured) so the
// next round starts from the same layer and the history holds one step at a time.
void BM_CommitMoved(benchmark::State& state) {
    DocumentPtr doc = make_document();
    if (!doc) {
        state.SkipWithError("could not build the document");
        return;
    }
    SELECTION sel;
    selection_init(&sel);
    for (auto _ : state) {
        state.PauseTiming();
        const int lifted = lift(&sel, doc.get(), false);
        selection_nudge(&sel, REGION * 0.5f, REGION * 0.25f);
        sync(doc->active_layer->bitmap);
        state.ResumeTiming();
        if (!lifted || selection_commit(&sel, doc.get(), nullptr) != 1) {
            state.SkipWithError("commit failed");
            break;
        }
        sync(doc->active_layer->bitmap);
        state.PauseTiming();
        undo_perform(doc.get());
        state.ResumeTiming();
    }
    selection_discard(&sel);
    state.counters["Mpix/s"] = benchmark::Counter(static_cast<double>(REGION) * REGION / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

// Drawing runs on driver threads, so wall time is the honest measure.
BENCHMARK(BM_LiftMarquee)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(bench_min_time(2.0));
BENCHMARK(BM_LiftLasso)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(bench_min_time(2.0));
BENCHMARK(BM_CommitMoved)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(bench_min_time(2.0));

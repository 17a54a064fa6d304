// The undo history on a 4096 x 4096 layer, for a stroke that touches 4 tiles and for a change of
// the whole layer (256 tiles): committing the step, undoing it and redoing it. A stroke's step
// reads its new pixels from the working bitmap; a whole-layer change (fill, gradient, clear)
// hands them over in memory, as those tools do. The first undo of a step also reads its "after"
// pixels back, so every undo measured here is of a freshly committed step. Rates count the
// pixels of the tiles the step holds.
#include <allegro5/allegro.h>
#include <allegro5/allegro_primitives.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bench_support.h"
#include "canvas/fill.h"
#include "canvas/undo.h"

namespace {

constexpr int SIDE = 4096;

enum class Change { stroke, layer };
enum class Measure { commit, undo, redo };

// The stroke's box straddles the corner where tiles (0, 0), (1, 0), (0, 1) and (1, 1) meet.
constexpr float STROKE_BOX[4] = {156.0f, 156.0f, 355.0f, 355.0f};

double tile_mpix(Change change) {
    return change == Change::stroke ? 4 * 256.0 * 256.0 / 1e6 : SIDE * double(SIDE) / 1e6;
}

// Opens a step and changes its pixels in this pass's colour. 0 when the step cannot be opened.
int change_pixels(DOCUMENT* doc, Change change, int pass, std::vector<uint32_t>& pixels) {
    const unsigned char level = static_cast<unsigned char>(40 + 10 * (pass % 16));
    if (!undo_begin(doc)) return 0;
    LAYER* layer = doc->active_layer;
    if (change == Change::stroke) {
        undo_mark_dirty_rect(doc, STROKE_BOX[0], STROKE_BOX[1], STROKE_BOX[2], STROKE_BOX[3]);
        ALLEGRO_BITMAP* previous = al_get_target_bitmap();
        al_set_target_bitmap(layer->bitmap);
        al_draw_filled_rectangle(STROKE_BOX[0], STROKE_BOX[1], STROKE_BOX[2] + 1,
                                 STROKE_BOX[3] + 1, al_map_rgba(level, 20, 20, 255));
        al_set_target_bitmap(previous);
        return 1;
    }
    undo_mark_dirty_rect(doc, 0.0f, 0.0f, SIDE - 1.0f, SIDE - 1.0f);
    std::fill(pixels.begin(), pixels.end(), 0xFF000000u | level);
    return _layer_write_rect(layer, reinterpret_cast<const unsigned char*>(pixels.data()), SIDE, 0,
                             0, SIDE - 1, SIDE - 1);
}

int commit(DOCUMENT* doc, Change change, const std::vector<uint32_t>& pixels) {
    if (change == Change::stroke) return undo_commit(doc);
    return undo_commit_pixels(doc, reinterpret_cast<const unsigned char*>(pixels.data()), SIDE,
                              SIDE);
}

// Everything before the measured operation runs untimed: the change, and for undo and redo its
// commit, and for redo the undo.
void BM_History(benchmark::State& state, Change change, Measure measure) {
    DocumentPtr doc = make_filled_document(SIDE, al_map_rgba(200, 200, 200, 255));
    if (!doc) {
        state.SkipWithError("could not build the document");
        return;
    }
    std::vector<uint32_t> pixels(change == Change::layer ? size_t(SIDE) * SIDE : 0);
    int pass = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bool ok = change_pixels(doc.get(), change, pass++, pixels) == 1;
        if (measure != Measure::commit) ok = ok && commit(doc.get(), change, pixels) == 1;
        if (measure == Measure::redo) ok = ok && undo_perform(doc.get()) == 1;
        state.ResumeTiming();
        ok = ok && (measure == Measure::commit ? commit(doc.get(), change, pixels)
                    : measure == Measure::undo ? undo_perform(doc.get())
                                               : redo_perform(doc.get())) == 1;
        if (!ok) {
            state.SkipWithError("the history refused the step");
            break;
        }
    }
    state.counters["Mpix/s"] =
        benchmark::Counter(tile_mpix(change), benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

#define TAVOLIX_HISTORY(change, measure)                                                          \
    BENCHMARK_CAPTURE(BM_History, change##_##measure, Change::change, Measure::measure)           \
        ->Unit(benchmark::kMillisecond)                                                           \
        ->UseRealTime()
TAVOLIX_HISTORY(stroke, commit);
TAVOLIX_HISTORY(stroke, undo);
TAVOLIX_HISTORY(stroke, redo);
TAVOLIX_HISTORY(layer, commit);
TAVOLIX_HISTORY(layer, undo);
TAVOLIX_HISTORY(layer, redo);

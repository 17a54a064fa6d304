// Brush throughput on a large document: a stroke of 2000 dabs, painting or erasing, with
// symmetry off or 16-fold radial, at a small and a large tip. Reported as dabs per second
// and megapixels of dab area per second (every symmetric copy counted). Ending the stroke
// (the merge into the layer plus the undo commit) is measured on its own.
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "canvas/brush.h"
#include "canvas/document.h"
#include "canvas/undo.h"

#include "bench_support.h"

namespace {

constexpr int SIDE = 4096;
constexpr int DABS = 2000;
constexpr int RADIAL_COPIES = 16;

// One opaque layer, so erasing has something to remove and every undo brings back the same
// starting pixels.
DocumentPtr make_document() { return make_filled_document(SIDE, al_map_rgba(180, 120, 60, 255)); }

// Points exactly one spacing step apart, so each segment lays exactly one dab, running in
// rows across a square around the centre small enough that all 16 radial copies stay on
// the canvas.
std::vector<float> stroke_path(float step) {
    const float lo = SIDE * 0.5f - 940.0f;
    const float hi = SIDE * 0.5f + 940.0f;
    const int per_row = static_cast<int>((hi - lo) / step);
    const int row_steps = static_cast<int>(std::ceil(48.0f / step));
    std::vector<float> xy;
    float x = lo, y = lo, dir = 1.0f;
    int in_row = 0;
    for (int i = 0; i < DABS; i++) {
        xy.push_back(x);
        xy.push_back(y);
        if (in_row < per_row) {
            x += dir * step;
            in_row++;
        } else if (in_row < per_row + row_steps) {
            y += step;
            in_row++;
        }
        if (in_row == per_row + row_steps) {
            in_row = 0;
            dir = -dir;
        }
    }
    return xy;
}

struct Case {
    float size;
    int mode;
    bool radial;
};

Case read_case(benchmark::State& state) {
    Case c{static_cast<float>(state.range(0)), static_cast<int>(state.range(1)),
           state.range(2) != 0};
    state.SetLabel(std::string(c.mode == BRUSH_MODE_ERASE ? "erase" : "paint") +
                   (c.radial ? " radial16" : " sym-off"));
    return c;
}

// Reading one pixel back waits for every queued draw to reach the bitmap, so the time covers
// the blending and not just its submission.
void finish(ALLEGRO_BITMAP* bitmap) {
    benchmark::DoNotOptimize(al_get_pixel(bitmap, 0, 0));
}

// Lays the whole stroke; false when a dab failed or one was skipped.
bool lay_stroke(DOCUMENT* doc, BRUSH_STROKE* stroke, const BRUSH& brush, const SYMMETRY& sym,
                const std::vector<float>& xy) {
    bool ok = brush_stroke_begin(stroke, doc, &brush, xy[0], xy[1], 1.0f, &sym) == 1;
    for (size_t i = 2; i < xy.size(); i += 2)
        ok = brush_stroke_segment(stroke, doc, &brush, xy[i], xy[i + 1], 1.0f) && ok;
    return ok && stroke->last_dab[0] == xy[xy.size() - 2] && stroke->last_dab[1] == xy.back();
}

struct Setup {
    DocumentPtr doc;
    BRUSH brush{};
    SYMMETRY sym{};
    std::vector<float> xy;
    int copies = 1;
};

bool prepare(benchmark::State& state, Setup* s) {
    const Case c = read_case(state);
    s->doc = make_document();
    if (!s->doc) {
        state.SkipWithError("could not build the document");
        return false;
    }
    brush_defaults(&s->brush);
    s->brush.size = c.size;
    s->brush.mode = c.mode;
    symmetry_init(&s->sym, s->doc.get());
    if (c.radial) {
        s->sym.mode = SYMMETRY_RADIAL;
        s->sym.count = RADIAL_COPIES;
        s->copies = RADIAL_COPIES;
    }
    s->xy = stroke_path(s->brush.spacing * s->brush.size);
    return true;
}

void set_rates(benchmark::State& state, const Setup& s) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * DABS);
    const double area = static_cast<double>(s.brush.size) * s.brush.size * DABS * s.copies;
    state.counters["dab_Mpx/s"] =
        benchmark::Counter(area / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["copies"] = s.copies;
}

void BM_BrushStroke(benchmark::State& state) {
    Setup s;
    if (!prepare(state, &s)) return;
    DOCUMENT* doc = s.doc.get();
    BRUSH_STROKE stroke{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = lay_stroke(doc, &stroke, s.brush, s.sym, s.xy);
        finish(s.brush.mode == BRUSH_MODE_ERASE ? doc->active_layer->bitmap
                                                : brush_stroke_buffer());
        const auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
        brush_stroke_abort(&stroke, doc); // puts erased pixels back; not timed
        if (!ok) {
            state.SkipWithError("a dab failed or was skipped");
            break;
        }
    }
    set_rates(state, s);
}

void BM_BrushStrokeEnd(benchmark::State& state) {
    Setup s;
    if (!prepare(state, &s)) return;
    DOCUMENT* doc = s.doc.get();
    BRUSH_STROKE stroke{};
    for (auto _ : state) {
        const bool ok = lay_stroke(doc, &stroke, s.brush, s.sym, s.xy);
        finish(doc->active_layer->bitmap);
        if (brush_stroke_buffer()) finish(brush_stroke_buffer());
        const auto start = std::chrono::steady_clock::now();
        const int committed = brush_stroke_end(&stroke, doc);
        finish(doc->active_layer->bitmap);
        const auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
        // Undoing keeps the history at one step (the next commit drops the redo side) and
        // brings back the starting pixels; not timed.
        if (!ok || !committed || !undo_perform(doc)) {
            state.SkipWithError("stroke, commit or undo failed");
            break;
        }
    }
    state.counters["copies"] = s.copies;
}

void stroke_cases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"size", "mode", "radial"});
    for (int size : {24, 128})
        for (int mode : {BRUSH_MODE_PAINT, BRUSH_MODE_ERASE})
            for (int radial : {0, 1})
                b->Args({size, mode, radial});
}

} // namespace

// Dabs are drawn by the graphics driver, so the manual (wall-clock) time around the stroke,
// ended by a read-back, is the honest figure.
BENCHMARK(BM_BrushStroke)
    ->Apply(stroke_cases)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(bench_min_time(2.0));
BENCHMARK(BM_BrushStrokeEnd)
    ->Apply(stroke_cases)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(bench_min_time(0.5));

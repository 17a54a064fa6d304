// Flattening cost of a large document: the export path blends every visible layer into a new
// bitmap. Reported as megapixels blended per second, counting each layer pass separately.
#include <allegro5/allegro.h>
#include <allegro5/allegro_primitives.h>
#include <benchmark/benchmark.h>

#include <array>
#include <memory>

#include "bench_support.h"
#include "canvas/compositor.h"
#include "canvas/document.h"

namespace {

constexpr int SIDE = 4096;
constexpr int LAYERS = 8;


struct BitmapDeleter {
    void operator()(ALLEGRO_BITMAP* bitmap) const { al_destroy_bitmap(bitmap); }
};
using BitmapPtr = std::unique_ptr<ALLEGRO_BITMAP, BitmapDeleter>;

// Every layer gets a translucent wash and a few opaque discs, so each pass blends real
// coverage with varying alpha over the whole area.
DocumentPtr make_document(const std::array<int, LAYERS>& modes) {
    DocumentPtr doc(document_new(SIDE, SIDE));
    if (!doc) return nullptr;
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    for (int i = 0; i < LAYERS; i++) {
        LAYER* layer = document_add_layer(doc.get(), nullptr);
        if (!layer) return nullptr;
        // Flattening never reads the committed tiles, so none are made.
        al_set_target_bitmap(layer->bitmap);
        const float a = 0.35f + 0.05f * static_cast<float>(i);
        al_clear_to_color(al_map_rgba_f(0.6f * a, 0.3f * a, 0.8f * a, a));
        for (int d = 0; d < 6; d++) {
            const float c = static_cast<float>(d) / 6.0f;
            al_draw_filled_circle(static_cast<float>(SIDE) * (0.1f + 0.15f * static_cast<float>(d)),
                                  static_cast<float>(SIDE) * (0.2f + 0.1f * static_cast<float>(i)),
                                  static_cast<float>(SIDE) * 0.08f,
                                  al_map_rgba_f(c, 1.0f - c, 0.5f, 1.0f));
        }
        layer->needs_clear = false;
        layer->blend = modes[static_cast<size_t>(i)];
        layer->opacity = 0.85f;
    }
    al_set_target_bitmap(previous);
    return doc;
}

void run_flatten(benchmark::State& state, const std::array<int, LAYERS>& modes) {
    DocumentPtr doc = make_document(modes);
    if (!doc) {
        state.SkipWithError("could not build the document");
        return;
    }
    for (auto _ : state) {
        BitmapPtr flat(compositor_flatten_region(doc.get(), 0, 0, SIDE, SIDE, true));
        if (!flat) {
            state.SkipWithError("flatten failed");
            break;
        }
        // Drawing is queued for the graphics driver; reading a pixel back waits for all of it,
        // so the time covers the blending and not just its submission.
        benchmark::DoNotOptimize(al_get_pixel(flat.get(), SIDE / 2, SIDE / 2));
    }
    state.counters["Mpix_per_layer_pass/s"] =
        benchmark::Counter(static_cast<double>(SIDE) * SIDE * LAYERS / 1e6,
                           benchmark::Counter::kIsIterationInvariantRate);
}

void BM_FlattenMixedModes(benchmark::State& state) {
    run_flatten(state,
                {LAYER_BLEND_NORMAL, LAYER_BLEND_MULTIPLY, LAYER_BLEND_SCREEN, LAYER_BLEND_ADD,
                 LAYER_BLEND_NORMAL, LAYER_BLEND_MULTIPLY, LAYER_BLEND_SCREEN, LAYER_BLEND_ADD});
}

void BM_FlattenOneMode(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    state.SetLabel(layer_blend_mode_name(mode));
    std::array<int, LAYERS> modes{};
    modes.fill(mode);
    run_flatten(state, modes);
}

} // namespace

// The blending runs on driver threads, so wall time is the honest measure. One flatten takes
// most of a second on a software renderer; a few seconds per case keep the figure steady.
BENCHMARK(BM_FlattenMixedModes)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(bench_min_time(4.0));
BENCHMARK(BM_FlattenOneMode)
    ->ArgName("mode")
    ->DenseRange(LAYER_BLEND_NORMAL, LAYER_BLEND_ADD)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(bench_min_time(4.0));

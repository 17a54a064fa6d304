// Bucket fill and gradient on a 4096 x 4096 layer. Each fill is measured two ways:
//   Spans  - the scanline fill alone on a buffer in memory;
//   Full   - fill_flood as the canvas calls it, including the undo step.
// Two images: a transparent layer (one span per row) and a maze of one-pixel corridors, where
// nearly every span is short and every row is scanned from both sides. Rates count the whole
// layer's pixels.
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bench_support.h"
#include "canvas/document.h"
#include "canvas/fill.h"
#include "canvas/undo.h"

namespace {

constexpr int SIDE = 4096;
constexpr double LAYER_MPIX = static_cast<double>(SIDE) * SIDE / 1e6;


enum class Image { blank, maze };

const uint32_t WALL = 0xFF000000u; // opaque black in R, G, B, A byte order on little endian

// A perfect maze by randomised depth-first search: cells on even coordinates, walls on odd
// ones, every corridor one pixel wide. A fixed seed keeps the image the same on every run.
std::vector<uint32_t> make_maze() {
    std::vector<uint32_t> px(static_cast<size_t>(SIDE) * SIDE, WALL);
    constexpr int CELLS = SIDE / 2;
    std::vector<uint8_t> seen(static_cast<size_t>(CELLS) * CELLS, 0);
    std::vector<int> path;
    uint32_t rng = 0x9E3779B9u;
    auto next = [&rng] {
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        return rng;
    };
    auto open = [&px](int x, int y) { px[static_cast<size_t>(y) * SIDE + x] = 0; };
    seen[0] = 1;
    open(0, 0);
    path.push_back(0);
    const int step[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    while (!path.empty()) {
        const int cell = path.back();
        const int cx = cell % CELLS, cy = cell / CELLS;
        int options[4], n = 0;
        for (int d = 0; d < 4; d++) {
            const int nx = cx + step[d][0], ny = cy + step[d][1];
            if (nx >= 0 && ny >= 0 && nx < CELLS && ny < CELLS &&
                !seen[static_cast<size_t>(ny) * CELLS + nx])
                options[n++] = d;
        }
        if (n == 0) {
            path.pop_back();
            continue;
        }
        const int d = options[next() % static_cast<uint32_t>(n)];
        const int nx = cx + step[d][0], ny = cy + step[d][1];
        seen[static_cast<size_t>(ny) * CELLS + nx] = 1;
        open(2 * cx + step[d][0], 2 * cy + step[d][1]);
        open(2 * nx, 2 * ny);
        path.push_back(ny * CELLS + nx);
    }
    return px;
}

std::vector<uint32_t> make_image(Image image) {
    if (image == Image::maze) return make_maze();
    return std::vector<uint32_t>(static_cast<size_t>(SIDE) * SIDE, 0);
}

bool write_bitmap(ALLEGRO_BITMAP* bitmap, const std::vector<uint32_t>& px) {
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!region) return false;
    for (int y = 0; y < SIDE; y++)
        memcpy(static_cast<unsigned char*>(region->data) +
                   static_cast<ptrdiff_t>(y) * region->pitch,
               &px[static_cast<size_t>(y) * SIDE], static_cast<size_t>(SIDE) * 4);
    al_unlock_bitmap(bitmap);
    return true;
}

DocumentPtr make_document(Image image) {
    DocumentPtr doc(document_new(SIDE, SIDE));
    if (!doc) return nullptr;
    LAYER* layer = document_add_layer(doc.get(), nullptr);
    if (!layer) return nullptr;
    const std::vector<uint32_t> px = make_image(image);
    if (!write_bitmap(layer->bitmap, px) ||
        !layer_write_committed(layer, 0, 0, SIDE, SIDE, px.data(), SIDE))
        return nullptr;
    layer->needs_clear = false;
    return doc;
}

// Two fill colours used in turn, so every pass refills the same area from its previous colour.
constexpr unsigned char COLOURS[2][4] = {{200, 40, 40, 255}, {40, 40, 200, 255}};
const ALLEGRO_COLOR RED = al_map_rgba(200, 40, 40, 255);

void rate(benchmark::State& state) {
    state.counters["Mpix/s"] =
        benchmark::Counter(LAYER_MPIX, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_FillSpans(benchmark::State& state, Image image) {
    std::vector<uint32_t> px = make_image(image);
    auto* bytes = reinterpret_cast<unsigned char*>(px.data());
    int bounds[4];
    size_t pass = 0;
    for (auto _ : state) {
        if (_fill_spans(bytes, SIDE, SIDE, 0, 0, COLOURS[pass++ & 1], 26, bounds) != 1) {
            state.SkipWithError("fill failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    rate(state);
}

// The whole operation. Undoing between passes (untimed) keeps the history at one step and the
// layer at its starting image.
void BM_FillFull(benchmark::State& state, Image image) {
    DocumentPtr doc = make_document(image);
    if (!doc) {
        state.SkipWithError("could not build the document");
        return;
    }
    for (auto _ : state) {
        if (fill_flood(doc.get(), 0.5f, 0.5f, &RED, 0.1f) != 1) {
            state.SkipWithError("fill failed");
            break;
        }
        state.PauseTiming();
        undo_perform(doc.get());
        state.ResumeTiming();
    }
    rate(state);
}

void BM_Gradient(benchmark::State& state) {
    DocumentPtr doc = make_document(Image::blank);
    if (!doc) {
        state.SkipWithError("could not build the document");
        return;
    }
    for (auto _ : state) {
        if (fill_gradient(doc.get(), 500.0f, 700.0f, 3600.0f, 3000.0f, &RED) != 1) {
            state.SkipWithError("gradient failed");
            break;
        }
        state.PauseTiming();
        undo_perform(doc.get());
        state.ResumeTiming();
    }
    rate(state);
}

} // namespace

// The graphics driver may work on its own threads: wall time is the honest measure.
BENCHMARK_CAPTURE(BM_FillSpans, blank, Image::blank)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FillSpans, maze, Image::maze)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FillFull, blank, Image::blank)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FillFull, maze, Image::maze)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Gradient)->Unit(benchmark::kMillisecond)->UseRealTime();

// OpenRaster files against what they replace, on the drawing the document benchmarks share
// (four 4096-pixel layers of painted strokes).
//   BM_OraSave             ora_save: four layer PNGs on both cores, the flattened picture, the
//                          thumbnail, the archive, written atomically
//   BM_PngLayersOneByOne   the same four layers exported as four PNG files one after the
//                          other with our encoder (what a user without .ora would do)
//   BM_OraLoad             ora_load of the saved file, until the layers are uploaded; compare
//                          with BM_DocumentLoad/noise:0, the .tvl of the same drawing
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "canvas/allegro_state.h"
#include "canvas/ora.h"
#include "canvas/picture.h"
#include "painted_document.h"
#include "platform/platform.h"

namespace {

const int SIDE = bench_quick() ? 256 : 4096;

DOCUMENT* drawing() { return bench_sketch_layers(SIDE); }

int64_t raw_bytes() { return int64_t{SIDE} * SIDE * 4 * static_cast<int64_t>(document_layer_count(drawing())); }

const ScratchFile& saved_ora() {
    static ScratchFile file("painted.ora");
    if (file.bytes() == 0) ora_save(drawing(), file.path.c_str(), nullptr);
    return file;
}

void BM_OraSave(benchmark::State& state) {
    ScratchFile file("save.ora");
    for (auto _ : state)
        if (!ora_save(drawing(), file.path.c_str(), nullptr)) state.SkipWithError("save failed");
    state.SetBytesProcessed(state.iterations() * raw_bytes());
    state.counters["file_MB"] = static_cast<double>(file.bytes()) / 1e6;
}

void BM_PngLayersOneByOne(benchmark::State& state) {
    ScratchFile file("layer.png");
    DOCUMENT* doc = drawing();
    int64_t written = 0;
    for (auto _ : state) {
        written = 0;
        for (size_t i = 0; i < document_layer_count(doc); i++) {
            ALLEGRO_BITMAP* pixels;
            {
                NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
                NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
                pixels = al_create_bitmap(doc->width, doc->height);
            }
            ALLEGRO_LOCKED_REGION* region = al_lock_bitmap(pixels, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY);
            layer_read_committed(document_layer_at(doc, i), 0, 0, doc->width, doc->height,
                                 static_cast<uint32_t*>(region->data), static_cast<size_t>(region->pitch) / 4);
            al_unlock_bitmap(pixels);
            size_t size = 0;
            unsigned char* png = document_png_encode(pixels, &size);
            al_destroy_bitmap(pixels);
            if (!png || !platform_write_file(file.path.c_str(), png, size, nullptr)) state.SkipWithError("export failed");
            free(png);
            written += static_cast<int64_t>(size);
        }
    }
    state.SetBytesProcessed(state.iterations() * raw_bytes());
    state.counters["file_MB"] = static_cast<double>(written) / 1e6;
}

void BM_OraLoad(benchmark::State& state) {
    const ScratchFile& file = saved_ora();
    for (auto _ : state) {
        DOCUMENT* doc = ora_load(file.path.c_str(), PICTURE_DOC_MAX_SIDE, nullptr);
        // Reading back one pixel waits until the layers are uploaded.
        if (doc) al_get_pixel(doc->active_layer->bitmap, 0, 0);
        state.PauseTiming();
        if (!doc) state.SkipWithError("load failed");
        else document_free(&doc);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * raw_bytes());
    state.counters["file_MB"] = static_cast<double>(file.bytes()) / 1e6;
}

} // namespace

BENCHMARK(BM_OraSave)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(bench_min_time(3.0));
BENCHMARK(BM_PngLayersOneByOne)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(bench_min_time(3.0));
BENCHMARK(BM_OraLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(bench_min_time(3.0));

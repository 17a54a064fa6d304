// Saving and opening documents against plain writes and reads of as many bytes as the file
// holds, and PNG encoding against the image library's encoder, on the same cores.
//   BM_DocumentSave/noise:N     document_save of four 4096-pixel layers: painted strokes (0, what
//                               a sketch holds) or opaque noise (1, where run-length coding
//                               cannot help)
//   BM_FwriteFileSize/noise:N   fwrite + fsync of the bytes of the file that save wrote
//   BM_DocumentLoad/noise:N     document_load of that file, until the layers are uploaded
//   BM_FreadFileSize/noise:N    fread of the same file (from the page cache, as the load reads)
//   BM_WrittenLayersSameSize    the floor of any reader: the four layers created and every
//                               pixel of each bitmap written once
//   BM_PngExport                the export as the program runs it: flatten, encode, write
//   BM_PngEncode/encoder:N      the same flattened sketch encoded: ours on both cores (0) and
//                               on one (1), the image library at zlib level 1 (2) and at its
//                               default level 6 (3), both on one core
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>
#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "canvas/compositor.h"
#include "canvas/document.h"
#include "painted_document.h"

namespace {

// A quick run makes do with small layers.
const int SIDE = bench_quick() ? 256 : 4096;
constexpr int LAYERS = 4;
const int64_t RAW_BYTES = int64_t{SIDE} * SIDE * 4 * LAYERS;

// Every layer of the document opaque noise, its saved copy in agreement.
void fill_with_noise(DOCUMENT* doc) {
    uint64_t seed = 88172645463325252ull;
    for (size_t i = 0; i < document_layer_count(doc); i++) {
        LAYER* layer = document_layer_at(doc, i);
        for (ALLEGRO_BITMAP* bitmap : {layer->bitmap}) {
            ALLEGRO_LOCKED_REGION* region =
                al_lock_bitmap(bitmap, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY);
            if (!region) continue;
            for (int y = 0; y < SIDE; y++) {
                auto* row = reinterpret_cast<uint32_t*>(static_cast<char*>(region->data) +
                                                        y * region->pitch);
                for (int x = 0; x < SIDE; x++) {
                    seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
                    row[x] = static_cast<uint32_t>(seed) | 0xff000000u;
                }
            }
            al_unlock_bitmap(bitmap);
        }
        layer->needs_clear = false;
        layer_backup(layer);
    }
}

DOCUMENT* shared_document(bool noise) {
    static DOCUMENT* painted = nullptr;
    static DOCUMENT* noisy = nullptr;
    DOCUMENT*& doc = noise ? noisy : painted;
    if (!doc) {
        doc = noise ? bench_painted_document(SIDE, LAYERS, 0) : bench_sketch_layers(SIDE);
        if (noise) fill_with_noise(doc);
    }
    return doc;
}

// The file each case saves and loads, written once.
const ScratchFile& saved_file(bool noise) {
    static ScratchFile files[2] = {ScratchFile("painted.tvl"), ScratchFile("noise.tvl")};
    const ScratchFile& file = files[noise];
    if (file.bytes() == 0) document_save(shared_document(noise), file.path.c_str());
    return file;
}

void report_file(benchmark::State& state, int64_t bytes) {
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_DocumentSave(benchmark::State& state) {
    ScratchFile file("save.tvl");
    DOCUMENT* doc = shared_document(state.range(0));
    for (auto _ : state)
        if (!document_save(doc, file.path.c_str())) state.SkipWithError("save failed");
    report_file(state, file.bytes());
}

void BM_FwriteFileSize(benchmark::State& state) {
    const int64_t size = saved_file(state.range(0)).bytes();
    ScratchFile file("raw.bin");
    std::vector<unsigned char> bytes(static_cast<size_t>(size), 0x40);
    for (auto _ : state) {
        FILE* out = fopen(file.path.c_str(), "wb");
        if (!out || fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size())
            state.SkipWithError("write failed");
        if (out) {
            fflush(out);
            fsync(fileno(out));
            fclose(out);
        }
    }
    report_file(state, size);
}

void BM_DocumentLoad(benchmark::State& state) {
    const ScratchFile& file = saved_file(state.range(0));
    for (auto _ : state) {
        DOCUMENT* doc = document_load(file.path.c_str());
        // Reading back one pixel waits until the layers are uploaded.
        if (doc) al_get_pixel(doc->active_layer->bitmap, 0, 0);
        state.PauseTiming();
        if (!doc) state.SkipWithError("load failed");
        else document_free(&doc);
        state.ResumeTiming();
    }
    report_file(state, file.bytes());
}

void BM_FreadFileSize(benchmark::State& state) {
    const ScratchFile& file = saved_file(state.range(0));
    std::vector<unsigned char> bytes(static_cast<size_t>(file.bytes()));
    for (auto _ : state) {
        FILE* in = fopen(file.path.c_str(), "rb");
        if (!in || fread(bytes.data(), 1, bytes.size(), in) != bytes.size())
            state.SkipWithError("short read");
        if (in) fclose(in);
    }
    report_file(state, file.bytes());
}

void write_every_pixel(ALLEGRO_BITMAP* bitmap) {
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap(bitmap, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY);
    if (!region) return;
    for (int y = 0; y < al_get_bitmap_height(bitmap); y++)
        memset(static_cast<unsigned char*>(region->data) + y * region->pitch, 0,
               static_cast<size_t>(al_get_bitmap_width(bitmap)) * 4);
    al_unlock_bitmap(bitmap);
}

void BM_WrittenLayersSameSize(benchmark::State& state) {
    for (auto _ : state) {
        DOCUMENT* doc = document_new(SIDE, SIDE);
        for (int i = 0; doc && i < LAYERS; i++) {
            LAYER* layer = document_add_layer(doc, "Layer");
            if (!layer) break;
            // Transparent committed pixels take no tile; only the working bitmap is written.
            write_every_pixel(layer->bitmap);
            // As after a load: one pixel read back waits until the layer is uploaded.
            al_get_pixel(layer->bitmap, 0, 0);
        }
        state.PauseTiming();
        if (!doc) state.SkipWithError("could not create");
        else document_free(&doc);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * RAW_BYTES);
}

// A sketch for the PNG cases: one layer with a dozen strokes.
DOCUMENT* sketch() {
    static DOCUMENT* doc = bench_painted_document(SIDE, 1, 12);
    return doc;
}

void BM_PngExport(benchmark::State& state) {
    ScratchFile file("export.png");
    DOCUMENT* doc = sketch();
    for (auto _ : state)
        if (!document_export_png(doc, file.path.c_str())) state.SkipWithError("export failed");
    state.SetBytesProcessed(state.iterations() * int64_t{SIDE} * SIDE * 4);
    state.counters["file_MB"] = static_cast<double>(file.bytes()) / 1e6;
}

// Keeps the calling thread, and the threads it starts, on the core it runs on.
struct OneCore {
    cpu_set_t before;
    bool pinned = false;
    OneCore() {
        if (sched_getaffinity(0, sizeof before, &before) != 0) return;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        pinned = sched_setaffinity(0, sizeof one, &one) == 0;
    }
    ~OneCore() {
        if (pinned) sched_setaffinity(0, sizeof before, &before);
    }
};

enum PngEncoder { OURS_TWO_CORES, OURS_ONE_CORE, LIBRARY_LEVEL_1, LIBRARY_LEVEL_6 };

void BM_PngEncode(benchmark::State& state) {
    const auto encoder = static_cast<PngEncoder>(state.range(0));
    ALLEGRO_CONFIG* config = al_get_system_config();
    const char* before = al_get_config_value(config, "image", "png_compression_level");
    const std::string kept = before ? before : "";
    al_set_config_value(config, "image", "png_compression_level",
                        encoder == LIBRARY_LEVEL_1 ? "1" : "6");
    ALLEGRO_BITMAP* flat = compositor_flatten_region(sketch(), 0, 0, SIDE, SIDE, true);
    size_t size = 0;
    {
        std::optional<OneCore> one_core;
        if (encoder != OURS_TWO_CORES) one_core.emplace();
        for (auto _ : state) {
            unsigned char* png = encoder <= OURS_ONE_CORE ? document_png_encode(flat, &size)
                                                          : _bitmap_encode(flat, ".png", &size);
            if (!png) state.SkipWithError("encode failed");
            free(png);
        }
    }
    al_destroy_bitmap(flat);
    if (before) al_set_config_value(config, "image", "png_compression_level", kept.c_str());
    else al_remove_config_key(config, "image", "png_compression_level");
    state.SetBytesProcessed(state.iterations() * int64_t{SIDE} * SIDE * 4);
    state.counters["file_MB"] = static_cast<double>(size) / 1e6;
}

} // namespace

// File work and uploads run partly outside this thread: wall time is the honest figure.
BENCHMARK(BM_DocumentSave)->ArgName("noise")->DenseRange(0, 1)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Iterations(bench_iterations(3));
BENCHMARK(BM_FwriteFileSize)->ArgName("noise")->DenseRange(0, 1)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Iterations(bench_iterations(3));
BENCHMARK(BM_DocumentLoad)->ArgName("noise")->DenseRange(0, 1)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Iterations(bench_iterations(3));
BENCHMARK(BM_FreadFileSize)->ArgName("noise")->DenseRange(0, 1)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Iterations(bench_iterations(3));
BENCHMARK(BM_WrittenLayersSameSize)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Iterations(bench_iterations(3));
BENCHMARK(BM_PngExport)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Iterations(bench_iterations(3));
BENCHMARK(BM_PngEncode)->ArgName("encoder")->DenseRange(OURS_TWO_CORES, LIBRARY_LEVEL_6)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(bench_iterations(3));

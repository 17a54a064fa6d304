// Saving and opening documents against plain file writes and reads of the same bytes, and the
// PNG export against an encoder at zlib's default level.
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "painted_document.h"
#include "canvas/compositor.h"
#include "canvas/document.h"

namespace {

constexpr int SIDE = 4096;
constexpr int LAYERS = 4;
constexpr int64_t RAW_BYTES = int64_t{SIDE} * SIDE * 4 * LAYERS;

struct ScratchFile {
    std::string path;
    explicit ScratchFile(const char* name) : path(std::string("/tmp/tavolix-bench-") + name) {}
    ~ScratchFile() {
        remove(path.c_str());
        remove((path + ".tmp").c_str());
    }
    double megabytes() const {
        struct stat info;
        return stat(path.c_str(), &info) == 0 ? static_cast<double>(info.st_size) / 1e6 : 0.0;
    }
};

DOCUMENT* shared_document() {
    static DOCUMENT* doc = bench_painted_document(SIDE, LAYERS, 6);
    return doc;
}

void BM_DocumentSave(benchmark::State& state) {
    ScratchFile file("save.tvl");
    DOCUMENT* doc = shared_document();
    for (auto _ : state)
        if (!document_save(doc, file.path.c_str())) state.SkipWithError("save failed");
    state.SetBytesProcessed(state.iterations() * RAW_BYTES);
    state.counters["file_MB"] = file.megabytes();
}
BENCHMARK(BM_DocumentSave)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_DocumentLoad(benchmark::State& state) {
    ScratchFile file("load.tvl");
    document_save(shared_document(), file.path.c_str());
    for (auto _ : state) {
        DOCUMENT* doc = document_load(file.path.c_str());
        // Reading back one pixel waits until the layers are uploaded.
        if (doc) al_get_pixel(doc->active_layer->bitmap, 0, 0);
        state.PauseTiming();
        if (!doc) state.SkipWithError("load failed");
        else document_free(&doc);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * RAW_BYTES);
}
BENCHMARK(BM_DocumentLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The ceiling: the layers' raw bytes written and synced, or read back, with stdio.
void BM_FwriteSameBytes(benchmark::State& state) {
    ScratchFile file("raw.bin");
    std::vector<unsigned char> bytes(static_cast<size_t>(RAW_BYTES), 0x40);
    for (auto _ : state) {
        FILE* out = fopen(file.path.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), out);
        fflush(out);
        fsync(fileno(out));
        fclose(out);
    }
    state.SetBytesProcessed(state.iterations() * RAW_BYTES);
}
BENCHMARK(BM_FwriteSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_FreadSameBytes(benchmark::State& state) {
    ScratchFile file("raw.bin");
    std::vector<unsigned char> bytes(static_cast<size_t>(RAW_BYTES), 0x40);
    FILE* out = fopen(file.path.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);
    for (auto _ : state) {
        FILE* in = fopen(file.path.c_str(), "rb");
        if (fread(bytes.data(), 1, bytes.size(), in) != bytes.size()) state.SkipWithError("short");
        fclose(in);
    }
    state.SetBytesProcessed(state.iterations() * RAW_BYTES);
}
BENCHMARK(BM_FreadSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The export of a 4096-pixel sketch as the program does it (flatten, then encode and write),
// and the same flattened image through the image library at zlib's default level.
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
    state.counters["file_MB"] = file.megabytes();
}
BENCHMARK(BM_PngExport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_PngAtZlibDefaultLevel(benchmark::State& state) {
    ALLEGRO_CONFIG* config = al_get_system_config();
    const char* before = al_get_config_value(config, "image", "png_compression_level");
    const std::string kept = before ? before : "";
    al_set_config_value(config, "image", "png_compression_level", "default");
    ALLEGRO_BITMAP* flat = compositor_flatten_region(sketch(), 0, 0, SIDE, SIDE, true);
    size_t size = 0;
    for (auto _ : state) {
        unsigned char* png = _bitmap_encode(flat, ".png", &size);
        free(png);
    }
    al_destroy_bitmap(flat);
    if (before) al_set_config_value(config, "image", "png_compression_level", kept.c_str());
    else al_remove_config_key(config, "image", "png_compression_level");
    state.SetBytesProcessed(state.iterations() * int64_t{SIDE} * SIDE * 4);
    state.counters["file_MB"] = static_cast<double>(size) / 1e6;
}
BENCHMARK(BM_PngAtZlibDefaultLevel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

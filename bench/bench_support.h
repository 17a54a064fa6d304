// Helpers shared by the benchmarks: documents that free themselves, filled to a known colour.
#pragma once

#include <allegro5/allegro.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "canvas/brush.h"
#include "canvas/document.h"

struct DocumentDeleter {
    void operator()(DOCUMENT* doc) const {
        brush_engine_flush_cache(); // the stroke buffer is sized to the document
        document_free(&doc);
    }
};
using DocumentPtr = std::unique_ptr<DOCUMENT, DocumentDeleter>;

// A side x side document with one layer cleared to `colour` (premultiplied), its backup in
// agreement, so every round of a benchmark starts from the same committed pixels.
inline DocumentPtr make_filled_document(int side, ALLEGRO_COLOR colour) {
    DocumentPtr doc(document_new(side, side));
    if (!doc) return nullptr;
    LAYER* layer = document_add_layer(doc.get(), nullptr);
    if (!layer) return nullptr;
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(layer->bitmap);
    al_clear_to_color(colour);
    al_set_target_bitmap(previous);
    layer->needs_clear = false;
    if (!layer_backup(layer)) return nullptr;
    return doc;
}

// A quick run (TAVOLIX_BENCH_QUICK set, as the test script does so that no benchmark rots
// unnoticed) gives each benchmark one iteration or the shortest time: it shows that they all
// still run; its figures mean nothing.
inline bool bench_quick() {
    static const bool quick = getenv("TAVOLIX_BENCH_QUICK") != nullptr;
    return quick;
}
inline int64_t bench_iterations(int64_t n) { return bench_quick() ? 1 : n; }
inline double bench_min_time(double seconds) { return bench_quick() ? 0.001 : seconds; }

// A file under /tmp for one benchmark, removed with whatever a writer left beside it.
struct ScratchFile {
    std::string path;
    explicit ScratchFile(const std::string& name) : path("/tmp/tavolix-bench-" + name) {}
    ~ScratchFile() {
        remove(path.c_str());
        remove((path + ".tmp").c_str());
    }
    int64_t bytes() const {
        struct stat info;
        return stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
    }
};

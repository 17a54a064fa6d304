// Feeds arbitrary bytes to the document reader, at full size and scaled down. Runs under a display (xvfb-run), because a
// layer that reads back is rebuilt as a video bitmap.
#include <allegro5/allegro.h>
#include <allegro5/allegro_image.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "canvas/document.h"
#include "q/q_log.h"

namespace {
std::string sample_path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_log_level(-1);
    // No exit hook: tearing the display down at exit would unload the graphics driver before
    // the leak check runs, and its allocations could then no longer be told from ours.
    if (!al_install_system(ALLEGRO_VERSION_INT, nullptr) || !al_init_image_addon()) return 1;
    al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
    if (!al_create_display(64, 64)) {
        fprintf(stderr, "fuzz_document_load: no display (run under xvfb-run)\n");
        _exit(1);
    }
    sample_path = "/tmp/tavolix-fuzz-" + std::to_string(getpid()) + ".tvl";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = fopen(sample_path.c_str(), "wb");
    if (!f) return 0;
    fwrite(data, 1, size, f);
    fclose(f);
    DOCUMENT* doc = document_load(sample_path.c_str());
    if (doc) document_free(&doc);
    // The thumbnail's read takes the other decoding path, into a reduction.
    int error = 0;
    doc = document_load_reduced(sample_path.c_str(), 5, 3, &error);
    if (doc) document_free(&doc);
    return 0;
}

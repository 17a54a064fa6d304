// Feeds arbitrary bytes to the OpenRaster reader, for a document and for a preview. Runs under a display (xvfb-run), because the
// layers it builds get video bitmaps.
#include <allegro5/allegro.h>
#include <allegro5/allegro_image.h>

#include <cstdint>
#include <cstdio>
#include <unistd.h>

#include "canvas/ora.h"
#include "q/q_log.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_log_level(-1);
    // No exit hook: see fuzz_document_load.cpp.
    if (!al_install_system(ALLEGRO_VERSION_INT, nullptr) || !al_init_image_addon()) return 1;
    al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
    if (!al_create_display(64, 64)) {
        fprintf(stderr, "fuzz_ora_load: no display (run under xvfb-run)\n");
        _exit(1);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small pictures only: a thousand full-size layers are legal but would only measure memory.
    ORA_RESULT result{};
    DOCUMENT* doc = ora_load_memory(data, size, 256, &result);
    if (doc) document_free(&doc);
    // A thumbnail reads the flattened pictures instead of the layers.
    doc = ora_load_preview_memory(data, size, 64, &result);
    if (doc) document_free(&doc);
    return 0;
}

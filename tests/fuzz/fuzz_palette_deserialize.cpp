// Feeds arbitrary bytes to the palette file reader, as the shell does at start-up: a cleared
// set, then the bytes. Needs no display.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "palette.h"
#include "q/q_log.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_log_level(-1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PALETTE_SET set;
    palette_set_defaults(&set);
    uint32_t dropped = 0;
    if (!palette_deserialize(&set, data, size, &dropped)) {
        // A refused image must leave the cleared set as it was.
        PALETTE_SET clear;
        palette_set_defaults(&clear);
        if (memcmp(&set, &clear, sizeof set) != 0) abort();
        return 0;
    }
    // Whatever was accepted must describe a usable set, with every palette the file announced
    // either read or counted as dropped.
    uint32_t announced;
    memcpy(&announced, data + 16, 4);
    if (set.user_count > PALETTE_USER_MAX || set.active < 0 || set.active >= palette_count(&set) ||
        set.user_count + dropped != announced)
        abort();
    for (uint32_t i = 0; i < set.user_count; i++)
        if (set.user[i].name[PALETTE_NAME_SIZE - 1] != 0) abort();
    // And it must write back to an image that reads as the same set.
    Q_STR* image = palette_serialize(&set);
    if (!image) return 0;
    PALETTE_SET again;
    palette_set_defaults(&again);
    const int ok = palette_deserialize(&again, image->data, image->used);
    free_qstr(&image);
    if (!ok || memcmp(&set, &again, sizeof set) != 0) abort();
    return 0;
}

#include "settings_v5.h"

#include <algorithm>
#include <cstring>

#include "q/q_common.h"
#include "q/q_log.h"
#include "tavolix_app.h"

namespace {

uint32_t get_u32(const unsigned char* bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

void put_u32(unsigned char* bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; i++) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A field clamped into its range; a value outside it is worth a line in the log, since the
// program never writes one.
int clamped(const unsigned char* bytes, size_t offset, int low, int high, const char* what) {
    const int32_t value = static_cast<int32_t>(get_u32(bytes, offset));
    const int kept = std::clamp(value, low, high);
    if (kept != value) q_log(4, "settings load: %s %d out of range, %d kept", what, value, kept);
    return kept;
}

} // namespace

int recent_colours_push(RECENT_COLOURS* list, const unsigned char rgba[4]) {
    q_assert(list, return 0);
    q_assert(rgba, return 0);
    list->count = std::clamp(list->count, 0, RECENT_COLOUR_COUNT);
    int at = -1; // where the colour is now
    for (int i = 0; i < list->count && at < 0; i++)
        if (memcmp(list->rgba[i], rgba, 4) == 0) at = i;
    if (at == 0) return 0;
    // Everything before its old place (or the whole list, its last one dropping off when
    // full) moves back by one.
    const int moved = at > 0 ? at : std::min(list->count, RECENT_COLOUR_COUNT - 1);
    memmove(list->rgba[1], list->rgba[0], static_cast<size_t>(moved) * 4);
    memcpy(list->rgba[0], rgba, 4);
    if (at < 0 && list->count < RECENT_COLOUR_COUNT) list->count++;
    return 1;
}

void settings_v5_defaults(TAVOLIX_APP* app) {
    q_assert(app, return);
    app->stabilizer = 0;
    app->pen_curve = PEN_CURVE_LINEAR;
    app->pen_size = false;
    app->recent.count = 0;
}

void settings_v5_apply(TAVOLIX_APP* app, const unsigned char* bytes, size_t count) {
    q_assert(app, return);
    q_assert(bytes, return);
    if (count < SETTINGS_V5_SIZE || get_u32(bytes, 4) < SETTINGS_VERSION) return;
    app->stabilizer = clamped(bytes, 124, 0, STABILIZER_MAX, "stabilizer");
    app->pen_curve = clamped(bytes, 128, 0, PEN_CURVE_COUNT - 1, "pen curve");
    app->pen_size = get_u32(bytes, 132) != 0;
    const int n = clamped(bytes, 136, 0, RECENT_COLOUR_COUNT, "recent colour count");
    app->recent.count = 0;
    // Oldest first, so that the newest ends up in front; repeats fold into one.
    for (int i = n; i-- > 0;) {
        const uint32_t c = get_u32(bytes, 140 + 4 * static_cast<size_t>(i));
        const unsigned char rgba[4] = {static_cast<unsigned char>(c >> 24),
                                       static_cast<unsigned char>(c >> 16),
                                       static_cast<unsigned char>(c >> 8),
                                       static_cast<unsigned char>(c)};
        recent_colours_push(&app->recent, rgba);
    }
}

void settings_v5_build(const TAVOLIX_APP* app, unsigned char* out) {
    q_assert(app, return);
    q_assert(out, return);
    memset(out + SETTINGS_V4_SIZE, 0, SETTINGS_V5_SIZE - SETTINGS_V4_SIZE);
    put_u32(out, 124, static_cast<uint32_t>(std::clamp(app->stabilizer, 0, STABILIZER_MAX)));
    put_u32(out, 128, static_cast<uint32_t>(std::clamp(app->pen_curve, 0, PEN_CURVE_COUNT - 1)));
    put_u32(out, 132, app->pen_size ? 1 : 0);
    const int n = std::clamp(app->recent.count, 0, RECENT_COLOUR_COUNT);
    put_u32(out, 136, static_cast<uint32_t>(n));
    for (int i = 0; i < n; i++) {
        const unsigned char* c = app->recent.rgba[i];
        put_u32(out, 140 + 4 * static_cast<size_t>(i),
                static_cast<uint32_t>(c[0]) << 24 | static_cast<uint32_t>(c[1]) << 16 |
                    static_cast<uint32_t>(c[2]) << 8 | c[3]);
    }
}

#include "canvas/symmetry.h"

#include <allegro5/allegro_primitives.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "canvas/allegro_state.h"
#include "q/q_common.h"
#include "q/q_log.h"

namespace {

constexpr std::array<const char*, SYMMETRY_MODE_COUNT> MODE_NAMES = {"Off", "X", "Y", "XY", "Rad"};

// Single-precision π: the radial copies must land where the brush and the guides agree.
constexpr float PI = 3.1415927f;

// Half-length of the centre cross, in screen pixels.
constexpr float CROSS_HALF = 6.0f;

// The guides must stand out from most paintings without hiding them: a translucent magenta.
ALLEGRO_COLOR guide_colour() {
    return al_premul_rgba(200, 60, 160, 180);
}

// Unknown modes, negative ones included, fall back to Off.
int32_t _effective_mode(const SYMMETRY* sym) {
    if (!sym || sym->mode < SYMMETRY_OFF || sym->mode > SYMMETRY_RADIAL) return SYMMETRY_OFF;
    return sym->mode;
}

int32_t _radial_count(const SYMMETRY* sym) {
    return std::clamp(sym->count, SYMMETRY_COUNT_MIN, SYMMETRY_COUNT_MAX);
}

float _radial_angle(int i, int32_t n) {
    return 2.0f * PI * static_cast<float>(i) / static_cast<float>(n);
}

} // namespace

int symmetry_init(SYMMETRY* sym, const DOCUMENT* doc) {
    q_assert(sym, return 0);
    sym->mode = SYMMETRY_OFF;
    sym->center[0] = doc ? static_cast<float>(doc->width) * 0.5f : 0.0f;
    sym->center[1] = doc ? static_cast<float>(doc->height) * 0.5f : 0.0f;
    sym->count = SYMMETRY_COUNT_DEFAULT;
    return 1;
}

int symmetry_mirror(const SYMMETRY* sym, float x, float y, float* out, int max) {
    q_assert(out, return 0);
    if (max <= 0) return 0;
    out[0] = x;
    out[1] = y;
    const int32_t mode = _effective_mode(sym);
    if (mode == SYMMETRY_OFF) return 1;

    const float mx = sym->center[0];
    const float my = sym->center[1];
    if (mode == SYMMETRY_RADIAL) {
        const int32_t n = _radial_count(sym);
        const int k = std::min(max, static_cast<int>(n));
        const float dx = x - mx;
        const float dy = y - my;
        for (int i = 1; i < k; ++i) {
            // The angle divides by n, not k: a short buffer gets the first k of n copies.
            const float theta = _radial_angle(i, n);
            const float c = std::cos(theta);
            const float s = std::sin(theta);
            out[2 * i] = mx + dx * c - dy * s;
            out[2 * i + 1] = my + dx * s + dy * c;
        }
        return k;
    }

    const float rx = 2.0f * mx - x;
    const float ry = 2.0f * my - y;
    std::array<float, 6> extra{};
    int extra_count = 0;
    if (mode == SYMMETRY_X) {
        extra = {rx, y};
        extra_count = 1;
    } else if (mode == SYMMETRY_Y) {
        extra = {x, ry};
        extra_count = 1;
    } else { // SYMMETRY_XY
        extra = {rx, y, x, ry, rx, ry};
        extra_count = 3;
    }
    int written = 1;
    for (int i = 0; i < extra_count && written < max; ++i, ++written) {
        out[2 * written] = extra[2 * i];
        out[2 * written + 1] = extra[2 * i + 1];
    }
    return written;
}

const char* symmetry_mode_name(int mode) {
    if (mode < 0 || mode >= SYMMETRY_MODE_COUNT) return MODE_NAMES[SYMMETRY_OFF];
    return MODE_NAMES[mode];
}

void symmetry_draw(const SYMMETRY* sym, const DOCUMENT* doc, const VIEW* view) {
    const int32_t mode = _effective_mode(sym);
    if (mode == SYMMETRY_OFF) return;
    q_assert(doc, return );
    q_assert(view, return );

    TransformScope keep_transform;
    BlenderScope keep_blender;
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    view_apply(view);

    // One screen pixel wide at any zoom; a broken zoom still draws something visible.
    const float t = view->zoom > 0.0f ? 1.0f / view->zoom : 1.0f;
    const ALLEGRO_COLOR colour = guide_colour();
    const float mx = sym->center[0];
    const float my = sym->center[1];
    const float w = static_cast<float>(doc->width);
    const float h = static_cast<float>(doc->height);

    if (mode == SYMMETRY_X || mode == SYMMETRY_XY) al_draw_line(mx, 0.0f, mx, h, colour, t);
    if (mode == SYMMETRY_Y || mode == SYMMETRY_XY) al_draw_line(0.0f, my, w, my, colour, t);
    if (mode == SYMMETRY_RADIAL) {
        // Spokes as long as the diagonal reach the document's edge from any centre inside it.
        const int32_t n = _radial_count(sym);
        const float reach = std::sqrt(w * w + h * h);
        for (int i = 0; i < n; ++i) {
            const float a = _radial_angle(i, n);
            al_draw_line(mx, my, mx + reach * std::cos(a), my + reach * std::sin(a), colour, t);
        }
    }
    const float half = CROSS_HALF * t;
    al_draw_line(mx - half, my, mx + half, my, colour, t);
    al_draw_line(mx, my - half, mx, my + half, colour, t);
}

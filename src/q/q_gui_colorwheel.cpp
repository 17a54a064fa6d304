// ============================================================================================
// The colour wheel widget
//   [SECTION] Colour conversions
//   [SECTION] Creation and values
//   [SECTION] Geometry and pointer
//   [SECTION] What is kept between draws
//   [SECTION] Drawing
// ============================================================================================
#include <allegro5/allegro_primitives.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "q/q_common.h"
#include "q/q_gui_internal.h"

namespace {

constexpr float TAU = 6.28318531f;

float unit(float v) { return std::clamp(v, 0.0f, 1.0f); }

float wrap_hue(float h) {
    h -= std::floor(h);
    return h >= 1.0f ? 0.0f : h;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Colour conversions
// --------------------------------------------------------------------------------------------

void q_gui_hsv_to_rgb(float h, float s, float v, float* r, float* g, float* b) {
    q_assert(r && g && b, return);
    h = std::isfinite(h) ? wrap_hue(h) * 6.0f : 0.0f;
    s = unit(s);
    v = unit(v);
    const int sector = std::min(static_cast<int>(h), 5);
    const float f = h - static_cast<float>(sector);
    const float p = v * (1.0f - s), q = v * (1.0f - s * f), t = v * (1.0f - s * (1.0f - f));
    const float table[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    *r = table[sector][0];
    *g = table[sector][1];
    *b = table[sector][2];
}

void q_gui_rgb_to_hsv(float r, float g, float b, float* h, float* s, float* v) {
    q_assert(h && s && v, return);
    r = unit(r);
    g = unit(g);
    b = unit(b);
    const float hi = std::max({r, g, b}), lo = std::min({r, g, b}), d = hi - lo;
    *v = hi;
    *s = hi > 0.0f ? d / hi : 0.0f;
    if (!(d > 0.0f)) return; // a grey: the hue stays what it was
    float hue = 0.0f;
    if (hi == r) hue = (g - b) / d;
    else if (hi == g) hue = 2.0f + (b - r) / d;
    else hue = 4.0f + (r - g) / d;
    *h = wrap_hue(hue / 6.0f);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Creation and values
// --------------------------------------------------------------------------------------------

int q_gui_add_colorwheel(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h,
                         Q_GUI_COLORWHEEL_CB cb, void* user) {
    Q_GUI_WIDGET* wgt = _widget_begin(ctx, window_id, Q_GUI_KIND_COLORWHEEL, x, y, w, h);
    if (!wgt) return -1;
    Q_GUI_COLORWHEEL_DATA* cd = NULL;
    q_calloc(cd, Q_GUI_COLORWHEEL_DATA, 1);
    if (cd) {
        cd->v = 1.0f;
        cd->cb = cb;
        cd->user = user;
    }
    return _widget_finish(ctx, wgt, cd);
}

void q_gui_colorwheel_set_hsv(Q_GUI_CTX* ctx, int id, float h, float s, float v) {
    q_assert(ctx, return);
    Q_GUI_WIDGET* w = _widget_of(ctx, id, Q_GUI_KIND_COLORWHEEL);
    if (!w) return;
    if (!std::isfinite(h) || !std::isfinite(s) || !std::isfinite(v)) {
        q_log(4, "q_gui_colorwheel_set_hsv: wheel %d ignores a value that is not a number", id);
        return;
    }
    auto* cd = static_cast<Q_GUI_COLORWHEEL_DATA*>(w->data);
    cd->h = wrap_hue(h);
    cd->s = unit(s);
    cd->v = unit(v);
    ctx->dirty = 1;
}

int q_gui_colorwheel_get_hsv(Q_GUI_CTX* ctx, int id, float* h, float* s, float* v) {
    q_assert(ctx && h && s && v, return 0);
    Q_GUI_WIDGET* w = _widget_of(ctx, id, Q_GUI_KIND_COLORWHEEL);
    if (!w) return 0;
    const auto* cd = static_cast<const Q_GUI_COLORWHEEL_DATA*>(w->data);
    *h = cd->h;
    *s = cd->s;
    *v = cd->v;
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Geometry and pointer
// --------------------------------------------------------------------------------------------

Q_GUI_COLORWHEEL_GEOMETRY _colorwheel_geometry(float x, float y, float w, float h) {
    Q_GUI_COLORWHEEL_GEOMETRY g;
    const float side = std::max(0.0f, std::min(w, h));
    g.cx = x + w * 0.5f;
    g.cy = y + h * 0.5f;
    g.outer = side * 0.5f;
    g.inner = g.outer - std::max(6.0f, side * 0.13f);
    // The square's corners stay a little inside the ring.
    g.half = std::max(0.0f, (g.inner - 3.0f) / std::sqrt(2.0f));
    return g;
}

namespace {

void report(Q_GUI_WIDGET* w, float h, float s, float v) {
    auto* cd = static_cast<Q_GUI_COLORWHEEL_DATA*>(w->data);
    if (h == cd->h && s == cd->s && v == cd->v) return;
    cd->h = h;
    cd->s = s;
    cd->v = v;
    if (cd->cb) cd->cb(w->id, h, s, v, cd->user);
}

void follow(Q_GUI_WIDGET* w, float gx, float gy) {
    auto* cd = static_cast<Q_GUI_COLORWHEEL_DATA*>(w->data);
    const Q_GUI_RECT r = _widget_screen_rect(w);
    const Q_GUI_COLORWHEEL_GEOMETRY g = _colorwheel_geometry(r.x, r.y, r.w, r.h);
    if (cd->drag == 1) {
        const float dx = gx - g.cx, dy = g.cy - gy; // hue turns counter-clockwise on screen
        if (dx == 0.0f && dy == 0.0f) return;
        report(w, wrap_hue(std::atan2(dy, dx) / TAU), cd->s, cd->v);
    } else if (cd->drag == 2 && g.half > 0.0f) {
        const float s = unit((gx - (g.cx - g.half)) / (2.0f * g.half));
        const float v = unit(((g.cy + g.half) - gy) / (2.0f * g.half));
        report(w, cd->h, s, v);
    }
}

} // namespace

void _colorwheel_press(Q_GUI_WIDGET* w, float gx, float gy) {
    auto* cd = static_cast<Q_GUI_COLORWHEEL_DATA*>(w->data);
    const Q_GUI_RECT r = _widget_screen_rect(w);
    const Q_GUI_COLORWHEEL_GEOMETRY g = _colorwheel_geometry(r.x, r.y, r.w, r.h);
    const float dx = gx - g.cx, dy = gy - g.cy;
    const float d = std::sqrt(dx * dx + dy * dy);
    if (std::fabs(dx) <= g.half + 2.0f && std::fabs(dy) <= g.half + 2.0f) cd->drag = 2;
    else if (d >= g.inner - 2.0f && d <= g.outer + 2.0f) cd->drag = 1;
    else cd->drag = 0; // the corners outside the ring
    follow(w, gx, gy);
}

void _colorwheel_drag(Q_GUI_WIDGET* w, float gx, float gy) { follow(w, gx, gy); }

// --------------------------------------------------------------------------------------------
// [SECTION] What is kept between draws
// --------------------------------------------------------------------------------------------
//
// A software renderer pays for every pixel and every triangle edge it fills, and for blending
// each pixel with what lies below. So the ring is a mesh of shaded segments, made once per size
// and scale with just enough segments to look round, and the square is a few texels of its
// colours: its colour at (s, v) is v * ((1 - s) * white + s * hue), which linear filtering
// between samples of it reproduces exactly, so they are written again only when the hue
// changes. Both are opaque and drawn without blending, which gives the same pixels for less.

namespace {

constexpr int SHADE_TEXELS = 16; // a grid of the square's colours, its corners on the corners
constexpr int SHADE_FORMAT = ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE; // bytes R, G, B, A
constexpr int MAX_RING_SEGMENTS = 240;

ALLEGRO_COLOR hue_colour(float h, float s, float v) {
    float r = 0, g = 0, b = 0;
    q_gui_hsv_to_rgb(h, s, v, &r, &g, &b);
    return al_map_rgba_f(r, g, b, 1.0f);
}

// A multiple of 6, so that the pure colours fall on segment ends and the colours between them,
// which change linearly with the hue, are exact; enough that a segment's straight edge stays
// within a quarter of a device pixel of the circle.
int ring_segments(float outer_pixels) {
    const float step = std::acos(1.0f - 0.25f / std::max(outer_pixels, 1.0f));
    const int n = 6 * static_cast<int>(std::ceil(TAU / 2.0f / step / 6.0f));
    return std::clamp(n, 24, MAX_RING_SEGMENTS);
}

// The ring's triangles for radii in GUI units, around (0, 0); false when memory is short.
bool make_ring(Q_GUI_COLORWHEEL_DATA* cd, float outer, float inner, int segments) {
    free(cd->ring);
    cd->ring = NULL;
    cd->ring_count = 0;
    q_calloc(cd->ring, ALLEGRO_VERTEX, 6 * segments);
    if (!cd->ring) return false;
    for (int i = 0; i < segments; i++) {
        const float h0 = static_cast<float>(i) / segments, h1 = static_cast<float>(i + 1) / segments;
        const float c0 = std::cos(h0 * TAU), s0 = std::sin(h0 * TAU);
        const float c1 = std::cos(h1 * TAU), s1 = std::sin(h1 * TAU);
        const ALLEGRO_COLOR k0 = hue_colour(h0, 1, 1), k1 = hue_colour(h1, 1, 1);
        // Hue turns counter-clockwise on screen, where y grows downwards.
        const ALLEGRO_VERTEX o0{c0 * outer, -s0 * outer, 0, 0, 0, k0};
        const ALLEGRO_VERTEX o1{c1 * outer, -s1 * outer, 0, 0, 0, k1};
        const ALLEGRO_VERTEX i0{c0 * inner, -s0 * inner, 0, 0, 0, k0};
        const ALLEGRO_VERTEX i1{c1 * inner, -s1 * inner, 0, 0, 0, k1};
        for (const ALLEGRO_VERTEX& p : {o0, o1, i0, i0, o1, i1}) cd->ring[cd->ring_count++] = p;
    }
    cd->ring_outer = outer;
    cd->ring_inner = inner;
    cd->ring_segments = segments;
    return true;
}

void destroy_shades(Q_GUI_COLORWHEEL_DATA* cd) {
    // After Allegro shut down, its bitmaps went with it.
    if (cd->shades && al_is_system_installed()) al_destroy_bitmap(cd->shades);
    cd->shades = NULL;
}

// Saturation grows to the right and value upwards, texel centres at even steps of both.
bool paint_shades(ALLEGRO_BITMAP* shades, float hue) {
    ALLEGRO_LOCKED_REGION* r = al_lock_bitmap(shades, SHADE_FORMAT, ALLEGRO_LOCK_WRITEONLY);
    if (!r) {
        q_log(3, "colour wheel: could not write the colours of its square");
        return false;
    }
    for (int y = 0; y < SHADE_TEXELS; y++) {
        auto* p = static_cast<unsigned char*>(r->data) + static_cast<ptrdiff_t>(y) * r->pitch;
        const float v = 1.0f - static_cast<float>(y) / (SHADE_TEXELS - 1);
        for (int x = 0; x < SHADE_TEXELS; x++, p += 4) {
            float c[3];
            q_gui_hsv_to_rgb(hue, static_cast<float>(x) / (SHADE_TEXELS - 1), v, &c[0], &c[1], &c[2]);
            for (int k = 0; k < 3; k++) p[k] = static_cast<unsigned char>(c[k] * 255.0f + 0.5f);
            p[3] = 255;
        }
    }
    al_unlock_bitmap(shades);
    return true;
}

// The square's texels for the wheel's hue, made for the current display: a bitmap made for
// another one, or turned into a memory bitmap when its display went away, is made again.
ALLEGRO_BITMAP* shades_for_hue(Q_GUI_COLORWHEEL_DATA* cd) {
    ALLEGRO_DISPLAY* display = al_get_current_display();
    if (cd->shades && (cd->display != display ||
                       (display && (al_get_bitmap_flags(cd->shades) & ALLEGRO_MEMORY_BITMAP))))
        destroy_shades(cd);
    if (cd->shades && cd->shades_hue == cd->h) return cd->shades;
    if (!cd->shades) {
        const int where = display ? ALLEGRO_VIDEO_BITMAP : ALLEGRO_MEMORY_BITMAP;
        Q_GUI_NEW_BITMAP_SCOPE scope(where | ALLEGRO_MIN_LINEAR | ALLEGRO_MAG_LINEAR, SHADE_FORMAT);
        cd->shades = al_create_bitmap(SHADE_TEXELS, SHADE_TEXELS);
        cd->display = display;
        if (!cd->shades) {
            q_log(3, "colour wheel: could not create the colours of its square");
            return NULL;
        }
    }
    if (!paint_shades(cd->shades, cd->h)) destroy_shades(cd);
    cd->shades_hue = cd->h;
    return cd->shades;
}

} // namespace

void _colorwheel_release(Q_GUI_COLORWHEEL_DATA* cd) {
    q_assert(cd, return);
    free(cd->ring);
    cd->ring = NULL;
    cd->ring_count = 0;
    destroy_shades(cd);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Drawing
// --------------------------------------------------------------------------------------------

namespace {

// The mesh moved to the centre; kept between calls so drawing does not allocate.
void draw_ring(Q_GUI_COLORWHEEL_DATA* cd, const Q_GUI_COLORWHEEL_GEOMETRY& g, float scale) {
    const int segments = ring_segments(g.outer * scale);
    if (!cd->ring || cd->ring_outer != g.outer || cd->ring_inner != g.inner ||
        cd->ring_segments != segments)
        if (!make_ring(cd, g.outer, g.inner, segments)) return;
    static std::vector<ALLEGRO_VERTEX> moved;
    moved.assign(cd->ring, cd->ring + cd->ring_count);
    for (ALLEGRO_VERTEX& p : moved) {
        p.x += g.cx;
        p.y += g.cy;
    }
    al_draw_prim(moved.data(), NULL, NULL, 0, cd->ring_count, ALLEGRO_PRIM_TRIANGLE_LIST);
}

void draw_square(Q_GUI_COLORWHEEL_DATA* cd, float left, float top, float side) {
    ALLEGRO_BITMAP* shades = shades_for_hue(cd);
    if (!shades || side <= 0.0f) return;
    const float span = static_cast<float>(SHADE_TEXELS - 1); // from the first centre to the last
    al_draw_scaled_bitmap(shades, 0.5f, 0.5f, span, span, left, top, side, side, 0);
}

void marker(float x, float y, float r) {
    _circle_outline(x, y, r + 1.0f, al_map_rgba(0, 0, 0, 255), 1.5f);
    _circle_outline(x, y, r, al_map_rgba(255, 255, 255, 255), 1.5f);
}

} // namespace

void _draw_colorwheel(Q_GUI_WIDGET* w, float x, float y) {
    auto* cd = static_cast<Q_GUI_COLORWHEEL_DATA*>(w->data);
    const Q_GUI_COLORWHEEL_GEOMETRY g = _colorwheel_geometry(x, y, w->w, w->h);
    const ALLEGRO_TRANSFORM* t = al_get_current_transform();
    if (!t || g.inner <= 0.0f) return;
    const float scale = std::hypot(t->m[0][0], t->m[0][1]);
    const float left = g.cx - g.half, top = g.cy - g.half, side = 2.0f * g.half;
    _paint_flush();
    {
        Q_GUI_BLENDER_SCOPE blender;
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
        draw_ring(cd, g, std::isfinite(scale) ? scale : 1.0f);
        draw_square(cd, left, top, side);
    }
    const float ring = (g.outer - g.inner) * 0.5f;
    const float mid = g.inner + ring, a = cd->h * TAU;
    marker(g.cx + std::cos(a) * mid, g.cy - std::sin(a) * mid, std::max(2.0f, ring - 1.0f));
    marker(left + cd->s * side, top + (1.0f - cd->v) * side, std::max(3.0f, ring * 0.6f));
}

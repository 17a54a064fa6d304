// ============================================================================================
// The colour wheel widget
//   [SECTION] Colour conversions
//   [SECTION] Creation and values
//   [SECTION] Geometry and pointer
//   [SECTION] Drawing
// ============================================================================================
#include <allegro5/allegro_primitives.h>

#include <algorithm>
#include <cmath>

#include "q/q_common.h"
#include "q/q_gui_internal.h"

namespace {

constexpr float TAU = 6.28318531f;
constexpr int RING_SEGMENTS = 96; // a multiple of 6: the ring's colours are exact between them
constexpr int SQUARE_STRIPS = 16;

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
// [SECTION] Drawing
// --------------------------------------------------------------------------------------------

namespace {

ALLEGRO_COLOR hue_colour(float h, float s, float v) {
    float r = 0, g = 0, b = 0;
    q_gui_hsv_to_rgb(h, s, v, &r, &g, &b);
    return al_map_rgba_f(r, g, b, 1.0f);
}

ALLEGRO_VERTEX vertex(float x, float y, ALLEGRO_COLOR c) {
    ALLEGRO_VERTEX out{};
    out.x = x;
    out.y = y;
    out.color = c;
    return out;
}

void marker(float x, float y, float r) {
    al_draw_circle(x, y, r + 1.0f, al_map_rgba(0, 0, 0, 255), 1.5f);
    al_draw_circle(x, y, r, al_map_rgba(255, 255, 255, 255), 1.5f);
}

} // namespace

void _draw_colorwheel(Q_GUI_WIDGET* w, float x, float y) {
    const auto* cd = static_cast<const Q_GUI_COLORWHEEL_DATA*>(w->data);
    const Q_GUI_COLORWHEEL_GEOMETRY g = _colorwheel_geometry(x, y, w->w, w->h);
    if (g.inner <= 0.0f) return;
    // One buffer for the ring and the square: six vertices a ring segment or a square strip.
    ALLEGRO_VERTEX v[6 * (RING_SEGMENTS + SQUARE_STRIPS)];
    int n = 0;
    for (int i = 0; i < RING_SEGMENTS; i++) {
        const float h0 = static_cast<float>(i) / RING_SEGMENTS;
        const float h1 = static_cast<float>(i + 1) / RING_SEGMENTS;
        const ALLEGRO_COLOR c0 = hue_colour(h0, 1, 1), c1 = hue_colour(h1, 1, 1);
        const float a0 = h0 * TAU, a1 = h1 * TAU;
        const ALLEGRO_VERTEX o0 = vertex(g.cx + std::cos(a0) * g.outer, g.cy - std::sin(a0) * g.outer, c0);
        const ALLEGRO_VERTEX o1 = vertex(g.cx + std::cos(a1) * g.outer, g.cy - std::sin(a1) * g.outer, c1);
        const ALLEGRO_VERTEX i0 = vertex(g.cx + std::cos(a0) * g.inner, g.cy - std::sin(a0) * g.inner, c0);
        const ALLEGRO_VERTEX i1 = vertex(g.cx + std::cos(a1) * g.inner, g.cy - std::sin(a1) * g.inner, c1);
        for (const ALLEGRO_VERTEX& p : {o0, o1, i0, i0, o1, i1}) v[n++] = p;
    }
    // Value falls linearly to black downwards in every column, so each strip's colour is
    // exact along its edges and off by a fraction of a level inside.
    const float left = g.cx - g.half, top = g.cy - g.half, side = 2.0f * g.half;
    const ALLEGRO_COLOR black = al_map_rgba_f(0, 0, 0, 1);
    for (int j = 0; j < SQUARE_STRIPS; j++) {
        const float s0 = static_cast<float>(j) / SQUARE_STRIPS;
        const float s1 = static_cast<float>(j + 1) / SQUARE_STRIPS;
        const float x0 = left + s0 * side, x1 = left + s1 * side;
        const ALLEGRO_VERTEX tl = vertex(x0, top, hue_colour(cd->h, s0, 1));
        const ALLEGRO_VERTEX tr = vertex(x1, top, hue_colour(cd->h, s1, 1));
        const ALLEGRO_VERTEX bl = vertex(x0, top + side, black);
        const ALLEGRO_VERTEX br = vertex(x1, top + side, black);
        for (const ALLEGRO_VERTEX& p : {tl, tr, bl, bl, tr, br}) v[n++] = p;
    }
    al_draw_prim(v, nullptr, nullptr, 0, n, ALLEGRO_PRIM_TRIANGLE_LIST);
    const float ring = (g.outer - g.inner) * 0.5f;
    const float mid = g.inner + ring, a = cd->h * TAU;
    marker(g.cx + std::cos(a) * mid, g.cy - std::sin(a) * mid, std::max(2.0f, ring - 1.0f));
    marker(left + cd->s * side, top + (1.0f - cd->v) * side, std::max(3.0f, ring * 0.6f));
}

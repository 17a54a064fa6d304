// ============================================================================================
// Icon renderer
//   [SECTION] Pen: glyph-box coordinates and the few strokes every glyph is made of
//   [SECTION] Glyphs, by icon number
//   [SECTION] Rendering the three states
//
// A glyph is drawn in a square box of side s = 0.52 x the smaller button side, centred on the
// button, in coordinates from -0.5 to 0.5 across the box, so one drawing serves every size.
// ============================================================================================
#include "gui/icons.h"

#include <allegro5/allegro_primitives.h>

#include <algorithm>
#include <cmath>

#include "q/q_common.h"
#include "q/q_gui.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Pen: glyph-box coordinates and the few strokes every glyph is made of
// --------------------------------------------------------------------------------------------

namespace {

constexpr float PI = 3.14159265f;

struct PEN {
    float cx, cy, s, lw;
    ALLEGRO_COLOR c;

    float x(float u) const { return cx + u * s; }
    float y(float v) const { return cy + v * s; }
    void line(float u0, float v0, float u1, float v1, float width_scale = 1.0f) const {
        al_draw_line(x(u0), y(v0), x(u1), y(v1), c, lw * width_scale);
    }
    void rect(float u0, float v0, float u1, float v1) const {
        al_draw_rectangle(x(u0), y(v0), x(u1), y(v1), c, lw);
    }
    void fill_rect(float u0, float v0, float u1, float v1, ALLEGRO_COLOR colour) const {
        al_draw_filled_rectangle(x(u0), y(v0), x(u1), y(v1), colour);
    }
    void circle(float u, float v, float r) const { al_draw_circle(x(u), y(v), r * s, c, lw); }
    void dot(float u, float v, float r) const { al_draw_filled_circle(x(u), y(v), r * s, c); }
    void ellipse(float u, float v, float ru, float rv) const {
        al_draw_ellipse(x(u), y(v), ru * s, rv * s, c, lw);
    }
    void triangle(float u0, float v0, float u1, float v1, float u2, float v2) const {
        al_draw_filled_triangle(x(u0), y(v0), x(u1), y(v1), x(u2), y(v2), c);
    }
    void arc(float u, float v, float r, float start, float delta) const {
        al_draw_arc(x(u), y(v), r * s, start, delta, c, lw);
    }
    // A closed outline through n points given as u, v pairs.
    void polygon(const float* uv, int n) const {
        float pts[2 * 12];
        for (int i = 0; i < n; i++) {
            pts[2 * i] = x(uv[2 * i]);
            pts[2 * i + 1] = y(uv[2 * i + 1]);
        }
        al_draw_polygon(pts, n, ALLEGRO_LINE_JOIN_ROUND, c, lw, 1.0f);
    }
    // An arrow head at (u, v) pointing along angle a.
    void head(float u, float v, float a, float size = 0.22f) const {
        const float back = size, half = size * 0.75f;
        const float bx = u - std::cos(a) * back, by = v - std::sin(a) * back;
        const float nx = -std::sin(a) * half, ny = std::cos(a) * half;
        triangle(u, v, bx + nx, by + ny, bx - nx, by - ny);
    }
    // Regular polygon of n corners with radius r, the first corner straight up.
    void regular(int n, float r, float v_shift = 0.0f) const {
        float uv[2 * 12];
        for (int i = 0; i < n; i++) {
            const float a = -PI / 2 + 2 * PI * static_cast<float>(i) / static_cast<float>(n);
            uv[2 * i] = r * std::cos(a);
            uv[2 * i + 1] = r * std::sin(a) + v_shift;
        }
        polygon(uv, n);
    }
};

// --------------------------------------------------------------------------------------------
// [SECTION] Glyphs, by icon number
// --------------------------------------------------------------------------------------------

// Undo turns anticlockwise (the arrow head on the left), redo clockwise.
void turning_arrow(const PEN& p, bool clockwise) {
    // The arc runs over the top; the head points down at the end it turns towards.
    p.arc(0.0f, 0.1f, 0.36f, PI, PI);
    p.head(clockwise ? 0.36f : -0.36f, 0.38f, PI / 2, 0.28f);
}

void glyph_dashed_rect(const PEN& p) {
    const float a = -0.45f, b = 0.45f, step = 0.18f;
    for (float t = a; t < b; t += step * 2) {
        const float e = std::min(t + step, b);
        p.line(t, a, e, a);
        p.line(t, b, e, b);
        p.line(a, t, a, e);
        p.line(b, t, b, e);
    }
}

void glyph_star(const PEN& p) {
    float uv[20];
    for (int i = 0; i < 10; i++) {
        const float r = (i % 2) ? 0.2f : 0.5f;
        const float a = -PI / 2 + PI * static_cast<float>(i) / 5.0f;
        uv[2 * i] = r * std::cos(a);
        uv[2 * i + 1] = r * std::sin(a) + 0.05f;
    }
    p.polygon(uv, 10);
}

void glyph_scissors(const PEN& p) {
    p.circle(-0.25f, 0.3f, 0.14f);
    p.circle(0.25f, 0.3f, 0.14f);
    p.line(-0.15f, 0.2f, 0.3f, -0.5f);
    p.line(0.15f, 0.2f, -0.3f, -0.5f);
}

void glyph_bucket(const PEN& p) {
    const float uv[8] = {-0.4f, -0.1f, 0.0f, -0.5f, 0.4f, -0.1f, 0.0f, 0.3f};
    p.polygon(uv, 4);
    p.line(-0.4f, -0.1f, 0.4f, -0.1f);
    p.dot(0.38f, 0.32f, 0.1f);
    p.triangle(0.38f, 0.1f, 0.29f, 0.3f, 0.47f, 0.3f);
}

void glyph_gradient(const PEN& p) {
    p.rect(-0.45f, -0.35f, 0.45f, 0.35f);
    for (int i = 0; i < 5; i++) {
        const float a = static_cast<float>(i + 1) / 5.0f;
        const ALLEGRO_COLOR c = al_map_rgba_f(p.c.r * a, p.c.g * a, p.c.b * a, p.c.a * a);
        const float u0 = -0.45f + 0.18f * static_cast<float>(i);
        p.fill_rect(u0, -0.35f, u0 + 0.18f, 0.35f, c);
    }
}

void glyph_magnet(const PEN& p) {
    p.arc(0.0f, 0.0f, 0.3f, 0.0f, PI);
    p.line(-0.3f, 0.0f, -0.3f, -0.45f);
    p.line(0.3f, 0.0f, 0.3f, -0.45f);
    p.fill_rect(-0.42f, -0.5f, -0.18f, -0.32f, p.c);
    p.fill_rect(0.18f, -0.5f, 0.42f, -0.32f, p.c);
}

void glyph_eye_hidden(const PEN& p) {
    p.arc(0.0f, 0.35f, 0.55f, -PI * 0.82f, PI * 0.64f);
    p.arc(0.0f, -0.35f, 0.55f, PI * 0.18f, PI * 0.64f);
    p.dot(0.0f, 0.0f, 0.12f);
    p.line(-0.45f, 0.45f, 0.45f, -0.45f);
}

void glyph_navigate(const PEN& p) {
    p.line(-0.4f, 0.0f, 0.4f, 0.0f);
    p.line(0.0f, -0.4f, 0.0f, 0.4f);
    p.head(0.5f, 0.0f, 0.0f);
    p.head(-0.5f, 0.0f, PI);
    p.head(0.0f, 0.5f, PI / 2);
    p.head(0.0f, -0.5f, -PI / 2);
}

void glyph_grid(const PEN& p, bool diagonals) {
    p.rect(-0.45f, -0.45f, 0.45f, 0.45f);
    if (diagonals) {
        p.line(-0.45f, -0.45f, 0.45f, 0.45f);
        p.line(-0.45f, 0.45f, 0.45f, -0.45f);
        return;
    }
    for (float t : {-0.15f, 0.15f}) {
        p.line(t, -0.45f, t, 0.45f);
        p.line(-0.45f, t, 0.45f, t);
    }
}

void glyph_layer_move(const PEN& p, bool up) {
    const float d = up ? -1.0f : 1.0f;
    p.line(0.0f, 0.45f * -d, 0.0f, 0.05f * d);
    p.head(0.0f, 0.45f * d, up ? -PI / 2 : PI / 2, 0.4f);
    p.line(-0.45f, 0.45f * -d, 0.45f, 0.45f * -d);
}

void glyph_presets(const PEN& p, int icon) {
    switch (icon) {
    case 21: { // pencil: a slanted body ending in a point
        const float uv[10] = {0.45f, -0.3f, 0.3f, -0.45f, -0.3f, 0.15f, -0.45f, 0.45f, -0.15f, 0.3f};
        p.polygon(uv, 5);
        p.line(-0.3f, 0.15f, -0.15f, 0.3f);
        break;
    }
    case 22: // ink: a drop
        p.triangle(0.0f, -0.5f, -0.3f, 0.1f, 0.3f, 0.1f);
        p.dot(0.0f, 0.15f, 0.3f);
        break;
    case 23: { // airbrush: a spray of dots
        constexpr float dots[][2] = {{0.0f, 0.0f},   {-0.3f, -0.2f}, {0.25f, -0.3f}, {-0.1f, 0.35f},
                                     {0.35f, 0.2f}, {-0.4f, 0.2f},  {0.05f, -0.42f}, {0.2f, 0.05f},
                                     {-0.18f, 0.1f}};
        for (const auto& d : dots) p.dot(d[0], d[1], 0.07f);
        break;
    }
    default: // marker: a broad chisel stroke
        p.line(-0.35f, 0.35f, 0.35f, -0.35f, 3.0f);
        break;
    }
}

void draw_glyph(int icon, const PEN& p) {
    switch (icon) {
    case 0: // collapse the tool bar: into the edge
        p.line(-0.45f, -0.45f, -0.45f, 0.45f);
        p.line(0.4f, 0.0f, -0.2f, 0.0f);
        p.head(-0.3f, 0.0f, PI, 0.3f);
        break;
    case 1: turning_arrow(p, false); break;
    case 2: turning_arrow(p, true); break;
    case 3: // brush: a handle and a loaded tip
        p.line(0.45f, -0.45f, -0.05f, 0.05f);
        p.triangle(-0.05f, -0.05f, 0.05f, 0.05f, -0.45f, 0.45f);
        p.dot(-0.15f, 0.15f, 0.12f);
        break;
    case 4: { // eraser: a slanted block, its lower half filled
        const float uv[8] = {0.1f, -0.45f, 0.45f, -0.1f, -0.1f, 0.45f, -0.45f, 0.1f};
        p.polygon(uv, 4);
        p.triangle(-0.45f, 0.1f, -0.1f, 0.45f, 0.1f, 0.25f);
        p.triangle(-0.45f, 0.1f, 0.1f, 0.25f, -0.25f, -0.1f);
        break;
    }
    case 5: glyph_dashed_rect(p); break;
    case 6: glyph_scissors(p); break;
    case 7: // copy: two sheets
        p.rect(-0.45f, -0.45f, 0.15f, 0.15f);
        p.rect(-0.15f, -0.15f, 0.45f, 0.45f);
        break;
    case 8: // paste: a clipboard
        p.rect(-0.38f, -0.35f, 0.38f, 0.48f);
        p.fill_rect(-0.18f, -0.5f, 0.18f, -0.28f, p.c);
        p.line(-0.2f, 0.0f, 0.2f, 0.0f);
        p.line(-0.2f, 0.22f, 0.2f, 0.22f);
        break;
    case 9: glyph_bucket(p); break;
    case 10: glyph_gradient(p); break;
    case 11: // lasso: a loop and its tail
        p.ellipse(0.05f, -0.15f, 0.4f, 0.27f);
        p.line(-0.25f, 0.05f, -0.35f, 0.45f);
        break;
    case 12: // text: a serif T
        p.line(-0.4f, -0.4f, 0.4f, -0.4f);
        p.line(0.0f, -0.4f, 0.0f, 0.45f);
        p.line(-0.15f, 0.45f, 0.15f, 0.45f);
        break;
    case 13: // line with its two handles
        p.line(-0.38f, 0.38f, 0.38f, -0.38f);
        p.fill_rect(-0.5f, 0.26f, -0.26f, 0.5f, p.c);
        p.fill_rect(0.26f, -0.5f, 0.5f, -0.26f, p.c);
        break;
    case 14: { // curve with its two handles
        float pts[8] = {p.x(-0.4f), p.y(0.4f), p.x(-0.3f), p.y(-0.6f),
                              p.x(0.3f),  p.y(0.6f), p.x(0.4f),  p.y(-0.4f)};
        al_draw_spline(pts, p.c, p.lw);
        p.dot(-0.4f, 0.4f, 0.1f);
        p.dot(0.4f, -0.4f, 0.1f);
        break;
    }
    case 15: p.rect(-0.45f, -0.32f, 0.45f, 0.32f); break;
    case 16: p.ellipse(0.0f, 0.0f, 0.46f, 0.36f); break;
    case 17: p.regular(3, 0.5f, 0.1f); break;
    case 18: { // diamond
        const float uv[8] = {0.0f, -0.5f, 0.45f, 0.0f, 0.0f, 0.5f, -0.45f, 0.0f};
        p.polygon(uv, 4);
        break;
    }
    case 19: glyph_layer_move(p, true); break;
    case 20: glyph_layer_move(p, false); break;
    case 21:
    case 22:
    case 23:
    case 24: glyph_presets(p, icon); break;
    case 25: glyph_grid(p, false); break;
    case 26: glyph_magnet(p); break;
    case 27: glyph_grid(p, true); break;
    case 28: glyph_eye_hidden(p); break;
    case 29: glyph_star(p); break;
    case 30: p.regular(5, 0.5f, 0.04f); break;
    case 31: p.regular(6, 0.5f); break;
    case 32: { // arrow shape
        const float uv[14] = {-0.45f, -0.15f, 0.05f, -0.15f, 0.05f, -0.42f, 0.48f, 0.0f,
                              0.05f, 0.42f,   0.05f, 0.15f,  -0.45f, 0.15f};
        p.polygon(uv, 7);
        break;
    }
    case 33: glyph_navigate(p); break;
    case 34: { // eyedropper: a slanted tube with its bulb, and the drop it took up
        p.line(-0.38f, 0.38f, 0.12f, -0.12f, 1.6f);
        p.line(0.0f, -0.28f, 0.28f, 0.0f, 1.2f);
        p.dot(0.26f, -0.26f, 0.16f);
        p.dot(-0.40f, 0.40f, 0.07f);
        break;
    }
    default: break;
    }
}

// --------------------------------------------------------------------------------------------
// [SECTION] Rendering the three states
// --------------------------------------------------------------------------------------------

struct STATE_COLOURS {
    ALLEGRO_COLOR bg, border, text;
};

STATE_COLOURS state_colours(const Q_GUI_THEME* t, int state) {
    switch (state) {
    case 0: return {t->bg_normal, t->border_normal, t->text_normal};
    case 1: return {t->bg_hover, t->border_hover, t->text_hover};
    default: return {t->bg_active, t->border_active, t->text_active};
    }
}

void draw_state(int icon, const Q_GUI_THEME* theme, int width, int height, int state) {
    const STATE_COLOURS c = state_colours(theme, state);
    const float t = std::max(1.0f, theme->border_thickness);
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    al_draw_filled_rounded_rectangle(t / 2, t / 2, w - t / 2, h - t / 2, theme->corner_rx,
                                     theme->corner_ry, c.bg);
    al_draw_rounded_rectangle(t / 2, t / 2, w - t / 2, h - t / 2, theme->corner_rx,
                              theme->corner_ry, c.border, t);
    const PEN pen{w / 2, h / 2, tavolix_icon_glyph_size(width, height),
                  tavolix_icon_line_width(width, height), c.text};
    draw_glyph(icon, pen);
}

} // namespace

float tavolix_icon_glyph_size(int width, int height) {
    return 0.52f * static_cast<float>(std::min(width, height));
}

float tavolix_icon_line_width(int width, int height) {
    return std::max(1.6f, 0.11f * tavolix_icon_glyph_size(width, height));
}

void tavolix_icon_set_destroy(TAVOLIX_ICON_SET* set) {
    q_assert(set, return);
    for (ALLEGRO_BITMAP*& bitmap : set->bitmaps) {
        if (bitmap) al_destroy_bitmap(bitmap);
        bitmap = nullptr;
    }
}

int tavolix_icon_render(int icon, const Q_GUI_THEME* theme, int width, int height,
                        TAVOLIX_ICON_SET* out) {
    q_assert(theme, return 0);
    q_assert(out, return 0);
    *out = TAVOLIX_ICON_SET{};
    if (width < 1 || height < 1) return 0;
    ALLEGRO_STATE saved;
    al_store_state(&saved, ALLEGRO_STATE_TARGET_BITMAP | ALLEGRO_STATE_BLENDER);
    for (int state = 0; state < 3; state++) {
        ALLEGRO_BITMAP* bitmap = al_create_bitmap(width, height);
        if (!bitmap) {
            al_restore_state(&saved);
            tavolix_icon_set_destroy(out);
            q_log(3, "icon %d: could not create a %dx%d bitmap", icon, width, height);
            return 0;
        }
        out->bitmaps[state] = bitmap;
        al_set_target_bitmap(bitmap);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        tavolix_gfx_break_feedback();
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ALPHA, ALLEGRO_INVERSE_ALPHA);
        draw_state(icon, theme, width, height, state);
    }
    al_restore_state(&saved);
    return 1;
}

// ============================================================================================
// Toolkit painting: clipping, shapes, bitmaps and text
//   [SECTION] Clipping
//   [SECTION] Shapes
//   [SECTION] Bitmaps and text
//
// Shapes are cut into triangles here rather than by Allegro's primitives, so that the number
// of triangles stays small: a software renderer pays per triangle, and a panel of a hundred
// widgets with rounded corners and round slider handles is drawn several times faster with a
// handful of points per corner than with Allegro's finer arcs, which at interface radii of a
// few pixels look the same. Each shape is one draw call, in the order it is drawn.
// ============================================================================================
#include <allegro5/allegro_primitives.h>

#include <array>

#include "q/q_common.h"
#include "q/q_gui_internal.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Clipping
// --------------------------------------------------------------------------------------------

Q_GUI_CLIP_SCOPE::Q_GUI_CLIP_SCOPE(Q_GUI_RECT r) {
    _paint_flush();
    al_get_clipping_rectangle(&x_, &y_, &w_, &h_);
    float x1 = r.x, y1 = r.y, x2 = r.x + r.w, y2 = r.y + r.h;
    if (const ALLEGRO_TRANSFORM* t = al_get_current_transform()) {
        al_transform_coordinates(t, &x1, &y1);
        al_transform_coordinates(t, &x2, &y2);
    }
    const int left = std::max(x_, static_cast<int>(std::floor(std::min(x1, x2))));
    const int top = std::max(y_, static_cast<int>(std::floor(std::min(y1, y2))));
    const int right = std::min(x_ + w_, static_cast<int>(std::ceil(std::max(x1, x2))));
    const int bottom = std::min(y_ + h_, static_cast<int>(std::ceil(std::max(y1, y2))));
    al_set_clipping_rectangle(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

Q_GUI_CLIP_SCOPE::~Q_GUI_CLIP_SCOPE() {
    _paint_flush();
    al_set_clipping_rectangle(x_, y_, w_, h_);
}

bool _clipped_away(Q_GUI_RECT r) {
    int cx, cy, cw, ch;
    al_get_clipping_rectangle(&cx, &cy, &cw, &ch);
    float x1 = r.x, y1 = r.y, x2 = r.x + r.w, y2 = r.y + r.h;
    if (const ALLEGRO_TRANSFORM* t = al_get_current_transform()) {
        al_transform_coordinates(t, &x1, &y1);
        al_transform_coordinates(t, &x2, &y2);
    }
    return std::max(x1, x2) <= static_cast<float>(cx) ||
           std::min(x1, x2) >= static_cast<float>(cx + cw) ||
           std::max(y1, y2) <= static_cast<float>(cy) ||
           std::min(y1, y2) >= static_cast<float>(cy + ch);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Shapes
// --------------------------------------------------------------------------------------------

namespace {

constexpr float PI = 3.14159265f;

using Point = std::array<float, 2>;

// Triangles of the shape being drawn; kept between calls so drawing does not allocate.
std::vector<ALLEGRO_VERTEX>& batch() {
    static std::vector<ALLEGRO_VERTEX> vertices;
    return vertices;
}

void triangle(const Point& a, const Point& b, const Point& c, ALLEGRO_COLOR colour) {
    for (const Point* p : {&a, &b, &c})
        batch().push_back(ALLEGRO_VERTEX{(*p)[0], (*p)[1], 0.0f, 0.0f, 0.0f, colour});
}

void quad(const Point& a, const Point& b, const Point& c, const Point& d, ALLEGRO_COLOR colour) {
    triangle(a, b, c, colour);
    triangle(a, c, d, colour);
}

} // namespace

void _paint_flush() {
    std::vector<ALLEGRO_VERTEX>& v = batch();
    if (!v.empty())
        al_draw_prim(v.data(), NULL, NULL, 0, static_cast<int>(v.size()),
                     ALLEGRO_PRIM_TRIANGLE_LIST);
    v.clear();
}

namespace {

// Points around a rounded rectangle whose path is moved outwards by `grow`, clockwise from the
// left end of the top-left corner; the count does not depend on `grow`, so two loops pair up.
void rounded_loop(float x1, float y1, float x2, float y2, float rx, float ry, float grow,
                  std::vector<Point>* out) {
    out->clear();
    rx = std::clamp(rx, 0.0f, std::max(0.0f, (x2 - x1) / 2.0f));
    ry = std::clamp(ry, 0.0f, std::max(0.0f, (y2 - y1) / 2.0f));
    const int steps = std::clamp(static_cast<int>(std::ceil(std::sqrt(std::max(rx, ry)))), 1, 6);
    const Point centres[4] = {
        {x1 + rx, y1 + ry}, {x2 - rx, y1 + ry}, {x2 - rx, y2 - ry}, {x1 + rx, y2 - ry}};
    const float gx = std::max(0.0f, rx + grow), gy = std::max(0.0f, ry + grow);
    for (int corner = 0; corner < 4; corner++)
        for (int i = 0; i <= steps; i++) {
            const float a = PI + (corner + static_cast<float>(i) / steps) * PI / 2.0f;
            out->push_back(
                {centres[corner][0] + gx * std::cos(a), centres[corner][1] + gy * std::sin(a)});
        }
}

// Enough points that the largest radius of a shape looks round; both edges of a ring take
// the count of the outer one, so that their points pair up.
int circle_points(float r) {
    return std::clamp(4 * static_cast<int>(std::ceil(std::sqrt(std::max(r, 0.0f)))) + 4, 8, 48);
}

void circle_loop(float cx, float cy, float r, int n, std::vector<Point>* out) {
    out->clear();
    for (int i = 0; i < n; i++) {
        const float a = 2.0f * PI * static_cast<float>(i) / static_cast<float>(n);
        out->push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
}

void fill_loop(const std::vector<Point>& loop, ALLEGRO_COLOR colour) {
    for (size_t i = 2; i < loop.size(); i++)
        triangle(loop[0], loop[i - 1], loop[i], colour);
}

void fill_ring(const std::vector<Point>& outer, const std::vector<Point>& inner,
               ALLEGRO_COLOR colour) {
    q_assert(outer.size() == inner.size(), return);
    for (size_t i = 0; i < outer.size(); i++) {
        const size_t j = (i + 1) % outer.size();
        quad(outer[i], outer[j], inner[j], inner[i], colour);
    }
}

} // namespace

void _fill_rect(float x1, float y1, float x2, float y2, ALLEGRO_COLOR colour) {
    quad({x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}, colour);
}

// Four strips that do not overlap, so a translucent outline is blended once everywhere.
void _rect_outline(float x1, float y1, float x2, float y2, ALLEGRO_COLOR colour, float width) {
    const float h = width / 2.0f;
    const float strips[4][4] = {{x1 - h, y1 - h, x2 + h, y1 + h},
                                {x1 - h, y2 - h, x2 + h, y2 + h},
                                {x1 - h, y1 + h, x1 + h, y2 - h},
                                {x2 - h, y1 + h, x2 + h, y2 - h}};
    for (const auto& s : strips)
        quad({s[0], s[1]}, {s[2], s[1]}, {s[2], s[3]}, {s[0], s[3]}, colour);
}

void _fill_rounded(float x1, float y1, float x2, float y2, float rx, float ry,
                   ALLEGRO_COLOR colour) {
    if (rx <= 0.0f || ry <= 0.0f) {
        _fill_rect(x1, y1, x2, y2, colour);
        return;
    }
    std::vector<Point> loop;
    rounded_loop(x1, y1, x2, y2, rx, ry, 0.0f, &loop);
    fill_loop(loop, colour);
}

void _rounded_outline(float x1, float y1, float x2, float y2, float rx, float ry,
                      ALLEGRO_COLOR colour, float width) {
    if (rx <= 0.0f || ry <= 0.0f) {
        _rect_outline(x1, y1, x2, y2, colour, width);
        return;
    }
    std::vector<Point> outer, inner;
    rounded_loop(x1, y1, x2, y2, rx, ry, width / 2.0f, &outer);
    rounded_loop(x1, y1, x2, y2, rx, ry, -width / 2.0f, &inner);
    fill_ring(outer, inner, colour);
}

void _line(float x1, float y1, float x2, float y2, ALLEGRO_COLOR colour, float width) {
    const float dx = x2 - x1, dy = y2 - y1, len = std::hypot(dx, dy);
    if (len <= 0.0f) return;
    const float nx = -dy / len * width / 2.0f, ny = dx / len * width / 2.0f;
    quad({x1 + nx, y1 + ny}, {x2 + nx, y2 + ny}, {x2 - nx, y2 - ny}, {x1 - nx, y1 - ny}, colour);
}

void _fill_triangle(float x1, float y1, float x2, float y2, float x3, float y3,
                    ALLEGRO_COLOR colour) {
    triangle({x1, y1}, {x2, y2}, {x3, y3}, colour);
}

void _fill_circle(float cx, float cy, float r, ALLEGRO_COLOR colour) {
    std::vector<Point> loop;
    circle_loop(cx, cy, r, circle_points(r), &loop);
    fill_loop(loop, colour);
}

void _circle_outline(float cx, float cy, float r, ALLEGRO_COLOR colour, float width) {
    std::vector<Point> outer, inner;
    const int n = circle_points(r + width / 2.0f);
    circle_loop(cx, cy, r + width / 2.0f, n, &outer);
    circle_loop(cx, cy, std::max(0.0f, r - width / 2.0f), n, &inner);
    fill_ring(outer, inner, colour);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Bitmaps and text
// --------------------------------------------------------------------------------------------

Q_GUI_NEW_BITMAP_SCOPE::Q_GUI_NEW_BITMAP_SCOPE(int flags, int format)
    : held_(al_is_bitmap_drawing_held()), flags_(al_get_new_bitmap_flags()),
      format_(al_get_new_bitmap_format()) {
    if (held_) al_hold_bitmap_drawing(false);
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
}

Q_GUI_NEW_BITMAP_SCOPE::~Q_GUI_NEW_BITMAP_SCOPE() {
    al_set_new_bitmap_flags(flags_);
    al_set_new_bitmap_format(format_);
    if (held_) al_hold_bitmap_drawing(true);
}

void _draw_bitmap_scaled(ALLEGRO_BITMAP* bitmap, Q_GUI_RECT r) {
    if (!bitmap) return;
    _paint_flush();
    al_draw_scaled_bitmap(bitmap, 0, 0, static_cast<float>(al_get_bitmap_width(bitmap)),
                          static_cast<float>(al_get_bitmap_height(bitmap)), r.x, r.y, r.w, r.h, 0);
}

void _draw_text(const ALLEGRO_FONT* font, ALLEGRO_COLOR colour, float x, float y, const char* text,
                int len) {
    if (!font || !text || len <= 0) return;
    _paint_flush();
    ALLEGRO_USTR_INFO info;
    al_draw_ustr(font, colour, x, y, 0, al_ref_buffer(&info, text, len));
}

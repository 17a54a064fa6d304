// ============================================================================================
// Selections and floating pixels
//   [SECTION] Helpers
//   [SECTION] Life cycle and outlining
//   [SECTION] Lifting
//   [SECTION] Transform, hit testing and dragging
//   [SECTION] Commit, cancel, delete
//   [SECTION] Clone, paste and re-rendered floats
//   [SECTION] Drawing
// ============================================================================================
#include "canvas/selection.h"

#include <allegro5/allegro_primitives.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "canvas/allegro_state.h"
#include "canvas/undo.h"
#include "q/q_common.h"
#include "q/q_log.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Helpers
// --------------------------------------------------------------------------------------------

namespace {

// Single-precision π, the same the brush's symmetry copies use, so a committed placed shape
// lands exactly where symmetric dabs would.
constexpr float PI = 3.1415927f;

// Every combination of symmetry produces at most this many drawings.
constexpr int MAX_DRAWINGS = SYMMETRY_MAX_POINTS;

// Squared distance below which a new lasso vertex adds nothing but cost.
constexpr float LASSO_MIN_STEP_SQ = 4.0f;

// Below this extent a handle has no lever against its anchor, and dividing would explode.
constexpr float HANDLE_MIN_EXTENT = 0.001f;

// Handle sizes on screen.
constexpr float HANDLE_HALF = 6.0f;
constexpr float KNOB_RADIUS = 6.0f;

struct BitmapDeleter {
    void operator()(ALLEGRO_BITMAP* bitmap) const { al_destroy_bitmap(bitmap); }
};
using BitmapPtr = std::unique_ptr<ALLEGRO_BITMAP, BitmapDeleter>;

struct Point {
    float x, y;
};

ALLEGRO_COLOR light_colour() {
    return al_premul_rgba(255, 255, 255, 220);
}
ALLEGRO_COLOR dark_colour() {
    return al_premul_rgba(20, 20, 20, 160);
}
ALLEGRO_COLOR accent_colour() {
    return al_premul_rgba(90, 150, 230, 230);
}

void _set_over_blender() {
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
}

void _use_identity() {
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    al_use_transform(&identity);
}

// Forgets the float and the outline. Touches no layer: the layer may be gone already.
void _selection_reset(SELECTION* sel) {
    if (sel->float_bitmap) al_destroy_bitmap(sel->float_bitmap);
    sel->float_bitmap = NULL;
    free(sel->points);
    sel->points = NULL;
    sel->point_count = 0;
    sel->point_capacity = 0;
    sel->phase = SELECTION_PHASE_NONE;
    sel->lasso = false;
    sel->lifted = false;
    sel->placed = false;
    sel->placed_kind = -1;
    sel->tracking = false;
    sel->drag_mode = SELECTION_HANDLE_NONE;
    sel->offset[0] = sel->offset[1] = 0.0f;
    sel->scale[0] = sel->scale[1] = 1.0f;
    sel->angle = 0.0f;
    sel->layer = NULL;
}

// A layer nobody has drawn yet holds undefined pixels; its committed copy is transparent, so clearing
// the working bitmap keeps the two equal.
void _layer_ready(LAYER* layer) {
    if (!layer->needs_clear) return;
    TargetBitmapScope target(layer->bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    layer->needs_clear = false;
}

bool _layer_in_document(const DOCUMENT* doc, const LAYER* layer) {
    return layer && doc->layers && document_layer_index(doc, layer, NULL);
}

// Refills the hole a lift left with the float, untransformed. The hole is transparent and the
// float is transparent wherever the layer kept its pixels, so "over" restores every byte.
void _selection_put_back(SELECTION* sel) {
    if (sel->phase != SELECTION_PHASE_FLOATING || !sel->lifted || !sel->float_bitmap ||
        !sel->layer || !sel->layer->bitmap)
        return;
    TargetBitmapScope target(sel->layer->bitmap);
    TransformScope keep_transform;
    BlenderScope keep_blender;
    _use_identity();
    _set_over_blender();
    al_draw_bitmap(sel->float_bitmap, static_cast<float>(sel->rect.x),
                   static_cast<float>(sel->rect.y), 0);
}

// Replacing the selection must not strand cut-out pixels outside their layer.
void _selection_drop(SELECTION* sel) {
    _selection_put_back(sel);
    _selection_reset(sel);
}

bool _is_resize_handle(int code) {
    return code >= SELECTION_HANDLE_TOP_LEFT && code <= SELECTION_HANDLE_LEFT;
}

bool _is_corner(int code) {
    return code >= SELECTION_HANDLE_TOP_LEFT && code <= SELECTION_HANDLE_BOTTOM_LEFT;
}

// Each handle's place as a fraction of the float's size, indexed by SELECTION_HANDLE; the body,
// the knob and anything unknown sit at the centre.
constexpr Point HANDLE_FRACTION[] = {{0.5f, 0.5f}, {0.5f, 0.5f}, {0.0f, 0.0f}, {1.0f, 0.0f},
                                     {1.0f, 1.0f}, {0.0f, 1.0f}, {0.5f, 0.0f}, {1.0f, 0.5f},
                                     {0.5f, 1.0f}, {0.0f, 0.5f}, {0.5f, 0.5f}};
// The handle that stays put while the one at the index is dragged.
constexpr int OPPOSITE_HANDLE[] = {0, 0, 4, 5, 2, 3, 8, 9, 6, 7, 0};
constexpr int HANDLE_CODES = static_cast<int>(sizeof OPPOSITE_HANDLE / sizeof OPPOSITE_HANDLE[0]);

Point _handle_local(int code, float w, float h) {
    const Point f = HANDLE_FRACTION[code >= 0 && code < HANDLE_CODES ? code : 0];
    return {f.x * w, f.y * h};
}

int _opposite_handle(int code) {
    return code >= 0 && code < HANDLE_CODES ? OPPOSITE_HANDLE[code] : SELECTION_HANDLE_NONE;
}

Point _apply(const ALLEGRO_TRANSFORM* t, Point p) {
    al_transform_coordinates(t, &p.x, &p.y);
    return p;
}

float _size_w(const SELECTION* sel) {
    return static_cast<float>(sel->rect.w);
}
float _size_h(const SELECTION* sel) {
    return static_cast<float>(sel->rect.h);
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Life cycle and outlining
// --------------------------------------------------------------------------------------------

void selection_init(SELECTION* sel) {
    q_assert(sel, return );
    memset(sel, 0, sizeof *sel);
    sel->placed_kind = -1;
    sel->scale[0] = sel->scale[1] = 1.0f;
}

void selection_discard(SELECTION* sel) {
    q_assert(sel, return );
    _selection_reset(sel);
}

void selection_begin_marquee(SELECTION* sel, float x, float y) {
    q_assert(sel, return );
    _selection_drop(sel);
    sel->phase = SELECTION_PHASE_OUTLINING;
    sel->lasso = false;
    sel->marquee_start[0] = sel->marquee_end[0] = x;
    sel->marquee_start[1] = sel->marquee_end[1] = y;
}

void selection_update_marquee(SELECTION* sel, float x, float y) {
    q_assert(sel, return );
    if (sel->phase != SELECTION_PHASE_OUTLINING || sel->lasso) return;
    sel->marquee_end[0] = x;
    sel->marquee_end[1] = y;
}

void selection_begin_lasso(SELECTION* sel, float x, float y) {
    q_assert(sel, return );
    _selection_drop(sel);
    q_calloc(sel->points, float, static_cast<size_t>(SELECTION_LASSO_START_CAPACITY) * 2);
    if (!sel->points) return;
    sel->point_capacity = SELECTION_LASSO_START_CAPACITY;
    sel->points[0] = x;
    sel->points[1] = y;
    sel->point_count = 1;
    sel->phase = SELECTION_PHASE_OUTLINING;
    sel->lasso = true;
}

void selection_add_lasso_point(SELECTION* sel, float x, float y) {
    q_assert(sel, return );
    if (sel->phase != SELECTION_PHASE_OUTLINING || !sel->lasso || !sel->points ||
        sel->point_count < 1)
        return;
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    const float* last = sel->points + 2 * (sel->point_count - 1);
    const float dx = x - last[0];
    const float dy = y - last[1];
    if (dx * dx + dy * dy < LASSO_MIN_STEP_SQ) return;
    if (sel->point_count >= SELECTION_LASSO_MAX_POINTS) return;
    if (sel->point_count >= sel->point_capacity) {
        const int32_t capacity = std::min(sel->point_capacity * 2, SELECTION_LASSO_MAX_POINTS);
        // A vertex that does not fit is simply not recorded; the outline stays usable.
        void* grown = realloc(sel->points, static_cast<size_t>(capacity) * 2 * sizeof(float));
        if (!grown) return;
        sel->points = static_cast<float*>(grown);
        sel->point_capacity = capacity;
    }
    sel->points[2 * sel->point_count] = x;
    sel->points[2 * sel->point_count + 1] = y;
    sel->point_count++;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Lifting
// --------------------------------------------------------------------------------------------

namespace {

struct PixelRect {
    int x, y, w, h;
};

// The pixel rectangle the outline covers, clipped to the document. False when it is empty or
// the outline is unusable (a lasso needs three vertices; coordinates must be finite).
bool _outline_bounds(const SELECTION* sel, const DOCUMENT* doc, PixelRect* out) {
    double min_x = 0.0, min_y = 0.0, max_x = 0.0, max_y = 0.0;
    if (sel->lasso) {
        if (!sel->points || sel->point_count < 3) return false;
        min_x = max_x = sel->points[0];
        min_y = max_y = sel->points[1];
        for (int32_t i = 1; i < sel->point_count; i++) {
            min_x = std::min(min_x, static_cast<double>(sel->points[2 * i]));
            max_x = std::max(max_x, static_cast<double>(sel->points[2 * i]));
            min_y = std::min(min_y, static_cast<double>(sel->points[2 * i + 1]));
            max_y = std::max(max_y, static_cast<double>(sel->points[2 * i + 1]));
        }
    } else {
        min_x = std::min(sel->marquee_start[0], sel->marquee_end[0]);
        max_x = std::max(sel->marquee_start[0], sel->marquee_end[0]);
        min_y = std::min(sel->marquee_start[1], sel->marquee_end[1]);
        max_y = std::max(sel->marquee_start[1], sel->marquee_end[1]);
    }
    if (!std::isfinite(min_x) || !std::isfinite(max_x) || !std::isfinite(min_y) ||
        !std::isfinite(max_y))
        return false;
    // Clamped in double before converting, so far-away outlines cannot overflow an int.
    const double w = doc->width;
    const double h = doc->height;
    const int x0 = static_cast<int>(std::clamp(std::floor(min_x), 0.0, w));
    const int y0 = static_cast<int>(std::clamp(std::floor(min_y), 0.0, h));
    const int x1 = static_cast<int>(std::clamp(std::ceil(max_x), 0.0, w));
    const int y1 = static_cast<int>(std::clamp(std::ceil(max_y), 0.0, h));
    if (x1 <= x0 || y1 <= y0) return false;
    *out = {x0, y0, x1 - x0, y1 - y0};
    return true;
}

// Marks the half-open run of columns whose pixel centres lie between two crossings.
void _mask_span(uint8_t* row, int w, double x0, double a, double b) {
    const double from = std::clamp(std::ceil(a - 0.5 - x0), 0.0, static_cast<double>(w));
    const double to = std::clamp(std::ceil(b - 0.5 - x0), 0.0, static_cast<double>(w));
    if (to > from)
        memset(row + static_cast<size_t>(from), 1,
               static_cast<size_t>(to) - static_cast<size_t>(from));
}

// Even-odd scanline fill of the lasso polygon (closing edge included) sampled at pixel
// centres, so a figure eight selects both of its loops.
void _mask_scanline(const SELECTION* sel, const PixelRect& r, uint8_t* mask, double* crossings) {
    const int n = sel->point_count;
    const float* p = sel->points;
    for (int row = 0; row < r.h; row++) {
        const double y = r.y + row + 0.5;
        int count = 0;
        for (int i = 0; i < n; i++) {
            const int j = (i + 1) % n;
            const double ax = p[2 * i], ay = p[2 * i + 1];
            const double bx = p[2 * j], by = p[2 * j + 1];
            if ((ay > y) != (by > y)) crossings[count++] = ax + (y - ay) * (bx - ax) / (by - ay);
        }
        std::sort(crossings, crossings + count);
        uint8_t* line = mask + static_cast<size_t>(row) * r.w;
        for (int k = 0; k + 1 < count; k += 2)
            _mask_span(line, r.w, r.x, crossings[k], crossings[k + 1]);
    }
}

// The same rule, one pixel centre at a time, for when there is no room for a crossing list.
void _mask_per_pixel(const SELECTION* sel, const PixelRect& r, uint8_t* mask) {
    const int n = sel->point_count;
    const float* p = sel->points;
    for (int row = 0; row < r.h; row++) {
        const double y = r.y + row + 0.5;
        for (int col = 0; col < r.w; col++) {
            const double x = r.x + col + 0.5;
            bool inside = false;
            for (int i = 0; i < n; i++) {
                const int j = (i + 1) % n;
                const double ax = p[2 * i], ay = p[2 * i + 1];
                const double bx = p[2 * j], by = p[2 * j + 1];
                if ((ay > y) != (by > y) && x >= ax + (y - ay) * (bx - ax) / (by - ay))
                    inside = !inside;
            }
            mask[static_cast<size_t>(row) * r.w + col] = inside ? 1 : 0;
        }
    }
}

// Splits the float and the layer region along the lasso mask: the float keeps the pixels
// inside, the layer those outside. Either both change or neither does, so a lift never
// leaves a pixel in both places (which "over" would then double) or in neither.
bool _cut_lasso(const SELECTION* sel, LAYER* layer, ALLEGRO_BITMAP* float_bitmap,
                const PixelRect& r) {
    uint8_t* mask = NULL;
    q_calloc(mask, uint8_t, static_cast<size_t>(r.w) * static_cast<size_t>(r.h));
    if (!mask) return false;
    double* crossings =
        static_cast<double*>(calloc(static_cast<size_t>(sel->point_count), sizeof(double)));
    if (crossings) {
        _mask_scanline(sel, r, mask, crossings);
        free(crossings);
    } else {
        _mask_per_pixel(sel, r, mask);
    }

    ALLEGRO_LOCKED_REGION* lr =
        al_lock_bitmap_region(layer->bitmap, r.x, r.y, r.w, r.h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE,
                              ALLEGRO_LOCK_READWRITE);
    q_assert(lr, free(mask); return false);
    ALLEGRO_LOCKED_REGION* fr =
        al_lock_bitmap(float_bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READWRITE);
    q_assert(fr, al_unlock_bitmap(layer->bitmap); free(mask); return false);
    for (int row = 0; row < r.h; row++) {
        const uint8_t* m = mask + static_cast<size_t>(row) * r.w;
        auto* lp = static_cast<unsigned char*>(lr->data) + static_cast<ptrdiff_t>(row) * lr->pitch;
        auto* fp = static_cast<unsigned char*>(fr->data) + static_cast<ptrdiff_t>(row) * fr->pitch;
        for (int col = 0; col < r.w; col++) {
            if (m[col])
                memset(lp + 4 * col, 0, 4);
            else
                memset(fp + 4 * col, 0, 4);
        }
    }
    al_unlock_bitmap(float_bitmap);
    al_unlock_bitmap(layer->bitmap);
    free(mask);
    return true;
}

void _cut_rectangle(LAYER* layer, const PixelRect& r) {
    TargetBitmapScope target(layer->bitmap);
    int cx = 0, cy = 0, cw = 0, ch = 0;
    al_get_clipping_rectangle(&cx, &cy, &cw, &ch);
    al_set_clipping_rectangle(r.x, r.y, r.w, r.h);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_set_clipping_rectangle(cx, cy, cw, ch);
}

} // namespace

int selection_end_marquee(SELECTION* sel, DOCUMENT* doc) {
    q_assert(sel, return 0);
    if (sel->phase != SELECTION_PHASE_OUTLINING) {
        // A float is never dropped here: its pixels may be cut out of the layer.
        if (sel->phase != SELECTION_PHASE_FLOATING) _selection_reset(sel);
        return 0;
    }
    q_assert(doc, _selection_reset(sel); return 0);
    LAYER* layer = doc->active_layer;
    PixelRect r{};
    if (!layer || layer->locked || !layer->bitmap || !_outline_bounds(sel, doc, &r)) {
        _selection_reset(sel);
        return 0;
    }

    BitmapPtr float_bitmap;
    {
        NewBitmapFlagsScope flags(SELECTION_FLOAT_FLAGS);
        float_bitmap.reset(al_create_bitmap(r.w, r.h));
    }
    if (!float_bitmap) {
        q_log(3, "could not create %dx%d selection buffer", r.w, r.h);
        _selection_reset(sel);
        return 0;
    }

    _layer_ready(layer);
    {
        // An exact copy: the float's own alpha must not mix with what it lands on.
        TargetBitmapScope target(float_bitmap.get());
        BlenderScope keep_blender;
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        al_draw_bitmap_region(layer->bitmap, static_cast<float>(r.x), static_cast<float>(r.y),
                              static_cast<float>(r.w), static_cast<float>(r.h), 0.0f, 0.0f, 0);
    }
    if (sel->lasso) {
        if (!_cut_lasso(sel, layer, float_bitmap.get(), r)) {
            _selection_reset(sel);
            return 0;
        }
    } else {
        _cut_rectangle(layer, r);
    }

    free(sel->points);
    sel->points = NULL;
    sel->point_count = 0;
    sel->point_capacity = 0;
    sel->rect.x = r.x;
    sel->rect.y = r.y;
    sel->rect.w = r.w;
    sel->rect.h = r.h;
    sel->float_bitmap = float_bitmap.release();
    sel->angle = 0.0f;
    sel->layer = layer;
    sel->lifted = true;
    sel->phase = SELECTION_PHASE_FLOATING;
    sel->offset[0] = sel->offset[1] = 0.0f;
    sel->scale[0] = sel->scale[1] = 1.0f;
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Transform, hit testing and dragging
// --------------------------------------------------------------------------------------------

int selection_get_center(const SELECTION* sel, float* cx, float* cy) {
    q_assert(sel, return 0);
    q_assert(cx, return 0);
    q_assert(cy, return 0);
    if (sel->phase != SELECTION_PHASE_FLOATING) return 0;
    *cx = static_cast<float>(sel->rect.x) + _size_w(sel) * 0.5f + sel->offset[0];
    *cy = static_cast<float>(sel->rect.y) + _size_h(sel) * 0.5f + sel->offset[1];
    return 1;
}

void selection_nudge(SELECTION* sel, float dx, float dy) {
    q_assert(sel, return );
    if (sel->phase != SELECTION_PHASE_FLOATING) return;
    sel->offset[0] += dx;
    sel->offset[1] += dy;
}

void selection_build_transform(const SELECTION* sel, ALLEGRO_TRANSFORM* out) {
    q_assert(sel, return );
    q_assert(out, return );
    const float hw = _size_w(sel) * 0.5f;
    const float hh = _size_h(sel) * 0.5f;
    al_identity_transform(out);
    al_translate_transform(out, -hw, -hh);
    al_scale_transform(out, sel->scale[0], sel->scale[1]);
    al_rotate_transform(out, sel->angle);
    al_translate_transform(out, hw + static_cast<float>(sel->rect.x) + sel->offset[0],
                           hh + static_cast<float>(sel->rect.y) + sel->offset[1]);
}

int selection_is_identity(const SELECTION* sel) {
    if (!sel) return 1;
    return sel->offset[0] == 0.0f && sel->offset[1] == 0.0f && sel->scale[0] == 1.0f &&
                   sel->scale[1] == 1.0f && sel->angle == 0.0f
               ? 1
               : 0;
}

namespace {

// The float's frame on screen: its four corners, the four edge middles, the centre, and the
// rotation knob beyond the top edge.
struct ScreenFrame {
    std::array<Point, 4> corners; // top-left, top-right, bottom-right, bottom-left
    std::array<Point, 4> middles; // top, right, bottom, left
    Point centre;
    Point knob;
};

ScreenFrame _screen_frame(const SELECTION* sel, const VIEW* view) {
    ALLEGRO_TRANSFORM t;
    selection_build_transform(sel, &t);
    al_compose_transform(&t, &view->transform);
    const float w = _size_w(sel);
    const float h = _size_h(sel);
    ScreenFrame f{};
    for (int i = 0; i < 4; i++) {
        f.corners[static_cast<size_t>(i)] =
            _apply(&t, _handle_local(SELECTION_HANDLE_TOP_LEFT + i, w, h));
        f.middles[static_cast<size_t>(i)] =
            _apply(&t, _handle_local(SELECTION_HANDLE_TOP + i, w, h));
    }
    f.centre = _apply(&t, {w * 0.5f, h * 0.5f});
    const Point top = f.middles[0];
    const float dx = top.x - f.centre.x;
    const float dy = top.y - f.centre.y;
    const float length = std::max(std::sqrt(dx * dx + dy * dy), 0.001f);
    f.knob = {top.x + dx / length * SELECTION_KNOB_DISTANCE,
              top.y + dy / length * SELECTION_KNOB_DISTANCE};
    return f;
}

bool _within_reach(Point p, float x, float y) {
    const float dx = x - p.x;
    const float dy = y - p.y;
    return dx * dx + dy * dy <= SELECTION_HANDLE_REACH * SELECTION_HANDLE_REACH;
}

// Inside or on the quadrilateral: every edge sees the point on the same side (or on it).
bool _inside_quad(const std::array<Point, 4>& q, float x, float y) {
    bool negative = false, positive = false;
    for (size_t i = 0; i < 4; i++) {
        const Point a = q[i];
        const Point b = q[(i + 1) % 4];
        const float cross = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
        if (cross < 0.0f) negative = true;
        if (cross > 0.0f) positive = true;
    }
    return !(negative && positive);
}

} // namespace

int selection_hit_test(const SELECTION* sel, const VIEW* view, float sx, float sy) {
    q_assert(sel, return 0);
    q_assert(view, return 0);
    if (sel->phase != SELECTION_PHASE_FLOATING) return SELECTION_HANDLE_NONE;
    const ScreenFrame f = _screen_frame(sel, view);
    // The knob first: near the top edge it would otherwise be unreachable behind the handle.
    if (_within_reach(f.knob, sx, sy)) return SELECTION_HANDLE_ROTATE;
    for (int i = 0; i < 4; i++)
        if (_within_reach(f.corners[static_cast<size_t>(i)], sx, sy))
            return SELECTION_HANDLE_TOP_LEFT + i;
    for (int i = 0; i < 4; i++)
        if (_within_reach(f.middles[static_cast<size_t>(i)], sx, sy))
            return SELECTION_HANDLE_TOP + i;
    return _inside_quad(f.corners, sx, sy) ? SELECTION_HANDLE_BODY : SELECTION_HANDLE_NONE;
}

void selection_drag_begin(SELECTION* sel, int code, float x, float y) {
    q_assert(sel, return );
    sel->drag_mode = code;
    sel->drag_start[0] = x;
    sel->drag_start[1] = y;
    sel->drag_offset[0] = sel->offset[0];
    sel->drag_offset[1] = sel->offset[1];
    sel->drag_angle = sel->angle;
    if (!_is_resize_handle(code)) return;
    const Point local = _handle_local(_opposite_handle(code), _size_w(sel), _size_h(sel));
    ALLEGRO_TRANSFORM t;
    selection_build_transform(sel, &t);
    const Point fixed = _apply(&t, local);
    sel->anchor_local[0] = local.x;
    sel->anchor_local[1] = local.y;
    sel->anchor[0] = fixed.x;
    sel->anchor[1] = fixed.y;
}

namespace {

void _drag_rotate(SELECTION* sel, float x, float y, bool shift_held) {
    const float mx = static_cast<float>(sel->rect.x) + sel->drag_offset[0] + _size_w(sel) * 0.5f;
    const float my = static_cast<float>(sel->rect.y) + sel->drag_offset[1] + _size_h(sel) * 0.5f;
    float angle = sel->drag_angle + std::atan2(y - my, x - mx) -
                  std::atan2(sel->drag_start[1] - my, sel->drag_start[0] - mx);
    if (shift_held) angle = std::round(angle / SELECTION_ANGLE_SNAP) * SELECTION_ANGLE_SNAP;
    sel->angle = angle;
}

// Scales about the anchor: the pointer, seen in the float's unrotated frame from the anchor,
// sets the factor each handle controls; the offset then puts the anchor back where it was.
void _drag_scale(SELECTION* sel, float x, float y, bool shift_held) {
    const int code = sel->drag_mode;
    const float w = _size_w(sel);
    const float h = _size_h(sel);
    const Point handle = _handle_local(code, w, h);
    const float ex = handle.x - sel->anchor_local[0];
    const float ey = handle.y - sel->anchor_local[1];
    const float c = std::cos(sel->drag_angle);
    const float s = std::sin(sel->drag_angle);
    const float dx = x - sel->anchor[0];
    const float dy = y - sel->anchor[1];
    const float lx = c * dx + s * dy;
    const float ly = c * dy - s * dx;

    const bool corner = _is_corner(code);
    const bool sets_x = corner || code == SELECTION_HANDLE_LEFT || code == SELECTION_HANDLE_RIGHT;
    const bool sets_y = corner || code == SELECTION_HANDLE_TOP || code == SELECTION_HANDLE_BOTTOM;
    float sx = sel->scale[0];
    float sy = sel->scale[1];
    if (sets_x && std::fabs(ex) > HANDLE_MIN_EXTENT) sx = lx / ex;
    if (sets_y && std::fabs(ey) > HANDLE_MIN_EXTENT) sy = ly / ey;
    if (corner && shift_held) {
        const float m = std::max(std::fabs(sx), std::fabs(sy));
        sx = std::copysign(m, sx);
        sy = std::copysign(m, sy);
    }
    // Written so that a NaN from a degenerate drag also lands on the minimum.
    if (!(sx >= SELECTION_MIN_SCALE)) sx = SELECTION_MIN_SCALE;
    if (!(sy >= SELECTION_MIN_SCALE)) sy = SELECTION_MIN_SCALE;
    sel->scale[0] = sx;
    sel->scale[1] = sy;

    const float kx = (sel->anchor_local[0] - w * 0.5f) * sx;
    const float ky = (sel->anchor_local[1] - h * 0.5f) * sy;
    sel->offset[0] =
        sel->anchor[0] - w * 0.5f - (c * kx - s * ky) - static_cast<float>(sel->rect.x);
    sel->offset[1] =
        sel->anchor[1] - h * 0.5f - (s * kx + c * ky) - static_cast<float>(sel->rect.y);
}

} // namespace

void selection_drag_update(SELECTION* sel, float x, float y, int shift_held) {
    q_assert(sel, return );
    if (sel->phase != SELECTION_PHASE_FLOATING) return;
    if (sel->drag_mode == SELECTION_HANDLE_BODY) {
        sel->offset[0] = sel->drag_offset[0] + (x - sel->drag_start[0]);
        sel->offset[1] = sel->drag_offset[1] + (y - sel->drag_start[1]);
    } else if (sel->drag_mode == SELECTION_HANDLE_ROTATE) {
        _drag_rotate(sel, x, y, shift_held != 0);
    } else if (_is_resize_handle(sel->drag_mode)) {
        _drag_scale(sel, x, y, shift_held != 0);
    }
}

void selection_drag_end(SELECTION* sel) {
    q_assert(sel, return );
    sel->drag_mode = SELECTION_HANDLE_NONE;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Commit, cancel, delete
// --------------------------------------------------------------------------------------------

namespace {

// The float's own transform, then for a placed float its symmetric copies about the centre.
int _commit_transforms(const SELECTION* sel, const SYMMETRY* symmetry,
                       std::array<ALLEGRO_TRANSFORM, MAX_DRAWINGS>& out) {
    selection_build_transform(sel, &out[0]);
    int count = 1;
    if (!symmetry || !sel->placed) return count;
    const float cx = symmetry->center[0];
    const float cy = symmetry->center[1];
    auto mirrored = [&](float sx, float sy) {
        ALLEGRO_TRANSFORM& t = out[static_cast<size_t>(count++)];
        t = out[0];
        al_translate_transform(&t, -cx, -cy);
        al_scale_transform(&t, sx, sy);
        al_translate_transform(&t, cx, cy);
    };
    switch (symmetry->mode) {
    case SYMMETRY_X:
        mirrored(-1.0f, 1.0f);
        break;
    case SYMMETRY_Y:
        mirrored(1.0f, -1.0f);
        break;
    case SYMMETRY_XY:
        mirrored(-1.0f, 1.0f);
        mirrored(1.0f, -1.0f);
        mirrored(-1.0f, -1.0f);
        break;
    case SYMMETRY_RADIAL: {
        const int32_t n = std::clamp(symmetry->count, SYMMETRY_COUNT_MIN, SYMMETRY_COUNT_MAX);
        for (int32_t i = 1; i < n; i++) {
            ALLEGRO_TRANSFORM& t = out[static_cast<size_t>(count++)];
            t = out[0];
            al_translate_transform(&t, -cx, -cy);
            al_rotate_transform(&t, 2.0f * PI * static_cast<float>(i) / static_cast<float>(n));
            al_translate_transform(&t, cx, cy);
        }
        break;
    }
    default:
        break; // Off, and unknown modes behave as Off
    }
    return count;
}

// Marks the tiles of every pixel a drawing through `t` can cover. A pixel is drawn when its
// centre lies inside the transformed quad, so the inclusive pixel range is
// ceil(min - 0.5) .. ceil(max - 0.5) - 1, widened by a hair against rounding at exact centres.
void _mark_drawing(DOCUMENT* doc, const ALLEGRO_TRANSFORM* t, float w, float h) {
    const Point corners[4] = {_apply(t, {0.0f, 0.0f}), _apply(t, {w, 0.0f}), _apply(t, {w, h}),
                              _apply(t, {0.0f, h})};
    float min_x = corners[0].x, max_x = corners[0].x, min_y = corners[0].y, max_y = corners[0].y;
    for (const Point& p : corners) {
        min_x = std::min(min_x, p.x);
        max_x = std::max(max_x, p.x);
        min_y = std::min(min_y, p.y);
        max_y = std::max(max_y, p.y);
    }
    constexpr float slack = 0.01f;
    undo_mark_dirty_rect(doc, std::ceil(min_x - 0.5f - slack), std::ceil(min_y - 0.5f - slack),
                         std::ceil(max_x - 0.5f + slack) - 1.0f,
                         std::ceil(max_y - 0.5f + slack) - 1.0f);
}

// Makes the float's layer the active one for as long as the object lives: the undo operation
// follows the active layer, and the float's layer need not be the active one any more.
class ActiveLayerScope {
  public:
    ActiveLayerScope(DOCUMENT* doc, LAYER* layer) : doc_(doc), saved_(doc->active_layer) {
        doc->active_layer = layer;
    }
    ~ActiveLayerScope() { doc_->active_layer = saved_; }
    ActiveLayerScope(const ActiveLayerScope&) = delete;
    ActiveLayerScope& operator=(const ActiveLayerScope&) = delete;

  private:
    DOCUMENT* doc_;
    LAYER* saved_;
};

bool _begin_undo(DOCUMENT* doc) {
    if (undo_begin(doc)) return true;
    q_log(3, "could not open an undo step for the selection");
    return false;
}

void _mark_source(DOCUMENT* doc, const SELECTION* sel) {
    undo_mark_dirty_rect(doc, static_cast<float>(sel->rect.x), static_cast<float>(sel->rect.y),
                         static_cast<float>(sel->rect.x + sel->rect.w - 1),
                         static_cast<float>(sel->rect.y + sel->rect.h - 1));
}

} // namespace

int selection_commit(SELECTION* sel, DOCUMENT* doc, const SYMMETRY* symmetry) {
    q_assert(sel, return 0);
    q_assert(doc, _selection_reset(sel); return 0);
    LAYER* layer = sel->layer;
    if (sel->phase != SELECTION_PHASE_FLOATING || !sel->float_bitmap ||
        !_layer_in_document(doc, layer) || !layer->bitmap) {
        // A layer that left the document keeps the lifted pixels in its committed tiles, which is what
        // it is rebuilt from if it ever comes back; it may also be freed already, so it is
        // never touched here.
        _selection_reset(sel);
        return 0;
    }
    int result = 0;
    {
        ActiveLayerScope active(doc, layer);
        // Nothing is drawn before the undo operation is open: pixels changed outside one would
        // never reach the committed tiles or the history. The float stays for another try.
        if (!_begin_undo(doc)) return 0;
        _layer_ready(layer);
        // The place the pixels came from: a lift left a hole there.
        _mark_source(doc, sel);
        std::array<ALLEGRO_TRANSFORM, MAX_DRAWINGS> transforms;
        const int count = _commit_transforms(sel, symmetry, transforms);
        {
            TargetBitmapScope target(layer->bitmap);
            TransformScope keep_transform;
            BlenderScope keep_blender;
            _set_over_blender();
            for (int i = 0; i < count; i++) {
                const ALLEGRO_TRANSFORM* t = &transforms[static_cast<size_t>(i)];
                _mark_drawing(doc, t, _size_w(sel), _size_h(sel));
                al_use_transform(t);
                al_draw_bitmap(sel->float_bitmap, 0.0f, 0.0f, 0);
            }
        }
        result = undo_commit(doc);
    }
    _selection_reset(sel);
    return result;
}

void selection_cancel(SELECTION* sel) {
    q_assert(sel, return );
    _selection_drop(sel);
}

int selection_delete(SELECTION* sel, DOCUMENT* doc) {
    q_assert(sel, return 0);
    q_assert(doc, return 0);
    if (sel->phase != SELECTION_PHASE_FLOATING) return 0;
    LAYER* layer = sel->layer;
    // Membership is checked first: a layer outside the document may already be freed.
    if (!sel->lifted || !_layer_in_document(doc, layer) || !layer->bitmap) {
        _selection_reset(sel);
        return 0;
    }
    int result = 0;
    {
        ActiveLayerScope active(doc, layer);
        // The hole stays only when it can be recorded; otherwise the float stays as well.
        if (!_begin_undo(doc)) return 0;
        _mark_source(doc, sel);
        result = undo_commit(doc);
    }
    _selection_reset(sel);
    return result;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Clone, paste and re-rendered floats
// --------------------------------------------------------------------------------------------

ALLEGRO_BITMAP* selection_clone_float(const SELECTION* sel) {
    q_assert(sel, return NULL);
    if (sel->phase != SELECTION_PHASE_FLOATING || !sel->float_bitmap) return NULL;
    NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
    return al_clone_bitmap(sel->float_bitmap);
}

namespace {

// Byte-for-byte copy through locks, whatever kinds of bitmap the two are.
bool _copy_pixels(ALLEGRO_BITMAP* src, ALLEGRO_BITMAP* dst, int w, int h) {
    ALLEGRO_LOCKED_REGION* from =
        al_lock_bitmap(src, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    q_assert(from, return false);
    ALLEGRO_LOCKED_REGION* to =
        al_lock_bitmap(dst, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    q_assert(to, al_unlock_bitmap(src); return false);
    const size_t row_bytes = static_cast<size_t>(w) * 4;
    for (int y = 0; y < h; y++)
        memcpy(static_cast<unsigned char*>(to->data) + static_cast<ptrdiff_t>(y) * to->pitch,
               static_cast<const unsigned char*>(from->data) +
                   static_cast<ptrdiff_t>(y) * from->pitch,
               row_bytes);
    al_unlock_bitmap(dst);
    al_unlock_bitmap(src);
    return true;
}

} // namespace

int selection_paste(SELECTION* sel, DOCUMENT* doc, ALLEGRO_BITMAP* src, int x, int y) {
    q_assert(sel, return 0);
    q_assert(doc, return 0);
    q_assert(src, return 0);
    LAYER* layer = doc->active_layer;
    if (!layer || layer->locked) return 0;
    const int w = al_get_bitmap_width(src);
    const int h = al_get_bitmap_height(src);
    if (w < 1 || h < 1) return 0;

    // The copy is made before the old selection goes, so a failed paste changes nothing.
    BitmapPtr copy;
    {
        NewBitmapFlagsScope flags(SELECTION_FLOAT_FLAGS);
        copy.reset(al_create_bitmap(w, h));
    }
    if (!copy || !_copy_pixels(src, copy.get(), w, h)) {
        q_log(3, "could not create %dx%d paste buffer", w, h);
        return 0;
    }

    _selection_drop(sel);
    sel->rect.x = std::clamp(x, 0, doc->width - 1);
    sel->rect.y = std::clamp(y, 0, doc->height - 1);
    sel->rect.w = w;
    sel->rect.h = h;
    sel->float_bitmap = copy.release();
    sel->lasso = false;
    sel->lifted = false;
    sel->angle = 0.0f;
    sel->offset[0] = sel->offset[1] = 0.0f;
    sel->scale[0] = sel->scale[1] = 1.0f;
    sel->layer = layer;
    sel->phase = SELECTION_PHASE_FLOATING;
    return 1;
}

namespace {

// Swaps in a re-rendered bitmap around the same centre. With keep_size the scale shrinks by as
// much as the bitmap grew, so the float covers the same canvas area.
int _replace_float(SELECTION* sel, ALLEGRO_BITMAP* bitmap, bool keep_size) {
    if (sel->phase != SELECTION_PHASE_FLOATING || !sel->float_bitmap || sel->lifted) return 0;
    const int new_w = al_get_bitmap_width(bitmap);
    const int new_h = al_get_bitmap_height(bitmap);
    if (new_w < 1 || new_h < 1) return 0;
    if (bitmap == sel->float_bitmap) return 1;

    const float old_w = _size_w(sel);
    const float old_h = _size_h(sel);
    sel->offset[0] += (old_w - static_cast<float>(new_w)) * 0.5f;
    sel->offset[1] += (old_h - static_cast<float>(new_h)) * 0.5f;
    if (keep_size) {
        sel->scale[0] *= old_w / static_cast<float>(new_w);
        sel->scale[1] *= old_h / static_cast<float>(new_h);
    }
    al_destroy_bitmap(sel->float_bitmap);
    sel->float_bitmap = bitmap;
    sel->rect.w = new_w;
    sel->rect.h = new_h;
    if (sel->tracking && _is_resize_handle(sel->drag_mode)) {
        const Point local =
            _handle_local(_opposite_handle(sel->drag_mode), _size_w(sel), _size_h(sel));
        sel->anchor_local[0] = local.x;
        sel->anchor_local[1] = local.y;
    }
    return 1;
}

} // namespace

int selection_resample_float(SELECTION* sel, ALLEGRO_BITMAP* bitmap) {
    q_assert(sel, return 0);
    q_assert(bitmap, return 0);
    return _replace_float(sel, bitmap, true);
}

int selection_restyle_float(SELECTION* sel, ALLEGRO_BITMAP* bitmap) {
    q_assert(sel, return 0);
    q_assert(bitmap, return 0);
    return _replace_float(sel, bitmap, false);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Drawing
// --------------------------------------------------------------------------------------------

namespace {

// A closed outline readable on any background: a dark band under a light line.
void _draw_closed_outline(const Point* points, int count) {
    const ALLEGRO_COLOR dark = dark_colour();
    const ALLEGRO_COLOR light = light_colour();
    for (const auto& [colour, width] : {std::pair{dark, 3.0f}, std::pair{light, 1.0f}}) {
        for (int i = 0; i < count; i++) {
            const Point a = points[i];
            const Point b = points[(i + 1) % count];
            al_draw_line(a.x, a.y, b.x, b.y, colour, width);
        }
    }
}

Point _to_screen(const VIEW* view, float x, float y) {
    Point p{x, y};
    al_transform_coordinates(&view->transform, &p.x, &p.y);
    return p;
}

void _draw_float(const SELECTION* sel, const VIEW* view) {
    if (sel->float_bitmap) {
        ALLEGRO_TRANSFORM t;
        selection_build_transform(sel, &t);
        al_compose_transform(&t, &view->transform);
        al_use_transform(&t);
        al_draw_bitmap(sel->float_bitmap, 0.0f, 0.0f, 0);
    }
    _use_identity();

    const ScreenFrame f = _screen_frame(sel, view);
    _draw_closed_outline(f.corners.data(), 4);
    const ALLEGRO_COLOR light = light_colour();
    const ALLEGRO_COLOR accent = accent_colour();
    al_draw_line(f.middles[0].x, f.middles[0].y, f.knob.x, f.knob.y, light, 1.0f);
    al_draw_filled_circle(f.knob.x, f.knob.y, KNOB_RADIUS, accent);
    al_draw_circle(f.knob.x, f.knob.y, KNOB_RADIUS, light, 1.0f);
    for (const auto* group : {&f.corners, &f.middles}) {
        for (const Point& p : *group) {
            al_draw_filled_rectangle(p.x - HANDLE_HALF, p.y - HANDLE_HALF, p.x + HANDLE_HALF,
                                     p.y + HANDLE_HALF, accent);
            al_draw_rectangle(p.x - HANDLE_HALF, p.y - HANDLE_HALF, p.x + HANDLE_HALF,
                              p.y + HANDLE_HALF, light, 1.0f);
        }
    }
}

} // namespace

void selection_draw(const SELECTION* sel, const DOCUMENT* doc, const VIEW* view) {
    q_assert(sel, return );
    q_assert(doc, return );
    q_assert(view, return );
    if (sel->phase == SELECTION_PHASE_NONE || !al_get_target_bitmap()) return;

    TransformScope keep_transform;
    BlenderScope keep_blender;
    _set_over_blender();
    _use_identity();

    if (sel->phase == SELECTION_PHASE_FLOATING) {
        _draw_float(sel, view);
    } else if (sel->lasso) {
        if (!sel->points || sel->point_count < 2) return;
        std::unique_ptr<Point[]> screen(new (std::nothrow)
                                            Point[static_cast<size_t>(sel->point_count)]);
        if (!screen) return;
        for (int32_t i = 0; i < sel->point_count; i++)
            screen[static_cast<size_t>(i)] =
                _to_screen(view, sel->points[2 * i], sel->points[2 * i + 1]);
        _draw_closed_outline(screen.get(), sel->point_count);
    } else {
        // The marquee's four canvas corners, so a turned view shows the area that will lift.
        const float x0 = sel->marquee_start[0], y0 = sel->marquee_start[1];
        const float x1 = sel->marquee_end[0], y1 = sel->marquee_end[1];
        const Point corners[4] = {_to_screen(view, x0, y0), _to_screen(view, x1, y0),
                                  _to_screen(view, x1, y1), _to_screen(view, x0, y1)};
        _draw_closed_outline(corners, 4);
    }
}

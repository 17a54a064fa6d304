// ============================================================================================
// Brush engine
//   [SECTION] Tables and module state
//   [SECTION] Small helpers
//   [SECTION] Brush record, tips and presets
//   [SECTION] Stamps
//   [SECTION] Stroke buffer and engine lifetime
//   [SECTION] Dabs
//   [SECTION] Tip swatch
//   [SECTION] Strokes
//   [SECTION] Shape previews and pressure
// ============================================================================================
#include "canvas/brush.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "canvas/allegro_state.h"
#include "canvas/undo.h"
#include "q/q_common.h"
#include "q/q_hash.h"
#include "q/q_log.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Tables and module state
// --------------------------------------------------------------------------------------------

namespace {

constexpr std::array<const char*, 7> _tip_shape_names = {
    "Round", "Square", "Chisel (L)", "Spray", "Chisel (R)", "Flat", "Diamond",
};

constexpr std::array<BRUSH_PRESET, 4> _presets = {{
    {"Pencil", "Pen", 4.0f, 0.8f, 0.7f, 0.9f, 0.15f, BRUSH_TIP_ROUND},
    {"Ink", "Ink", 8.0f, 0.95f, 1.0f, 1.0f, 0.10f, BRUSH_TIP_ROUND},
    {"Airbrush", "Air", 64.0f, 0.0f, 0.03f, 1.0f, 0.10f, BRUSH_TIP_SPRAY},
    {"Marker", "Mk", 24.0f, 0.7f, 1.0f, 0.5f, 0.12f, BRUSH_TIP_CHISEL_L},
}};

constexpr float CHISEL_K = 0.70710677f; // cos 45°: turns (u, v) onto the diagonals
constexpr float ELLIPSE_E = 2.6f;       // long-to-short axis ratio of the flat and chisel tips
constexpr float TWO_PI = 6.2831855f;
constexpr int STAMP_KEY_SIZE = 64;
constexpr size_t STAMP_CACHE_BUCKETS = 64;
constexpr size_t PRESET_TABLE_BUCKETS = 16;
constexpr int MAX_MIRRORED = SYMMETRY_MAX_POINTS;
// Larger than any texture a driver offers: the bitmap creation then fails cleanly instead of
// an int overflowing on a nonsense size.
constexpr double STAMP_MAX_DIAMETER = 65536.0;

HASH_TABLE* _stamp_cache = NULL;
HASH_TABLE* _preset_table = NULL;
ALLEGRO_BITMAP* _stroke_buffer = NULL;
bool _stroke_buffer_active = false;
bool _stroke_buffer_preview = false;

// Canvas area the current painting stroke has drawn into the buffer. The buffer is
// transparent elsewhere, so the merge at the end only needs to cover this box.
struct StrokeBounds {
    bool any;
    float x0, y0, x1, y1;
};
StrokeBounds _stroke_bounds = {false, 0.0f, 0.0f, 0.0f, 0.0f};

// --------------------------------------------------------------------------------------------
// [SECTION] Small helpers
// --------------------------------------------------------------------------------------------

// NaN counts as 0, so a garbage slider value gives an invisible dab, never undefined maths.
float _clamp01(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

// A float to int conversion that saturates instead of being undefined out of range.
int _to_int(double v) {
    if (!(v == v)) return 0;
    if (v <= -2147483648.0) return INT32_MIN;
    if (v >= 2147483647.0) return INT32_MAX;
    return static_cast<int>(v);
}

// Premultiplied "over": the program's one default blender.
void _set_over_blender() {
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
}

// Holds bitmap drawing for a batch of quads from one texture and sends them on release.
class HeldDrawing {
  public:
    HeldDrawing() { al_hold_bitmap_drawing(true); }
    ~HeldDrawing() { al_hold_bitmap_drawing(false); }
    HeldDrawing(const HeldDrawing&) = delete;
    HeldDrawing& operator=(const HeldDrawing&) = delete;
};

// Like TargetBitmapScope, but leaves the target alone on exit when there was none before.
class TargetKeep {
  public:
    explicit TargetKeep(ALLEGRO_BITMAP* bitmap) : saved_(al_get_target_bitmap()) {
        al_set_target_bitmap(bitmap);
    }
    ~TargetKeep() {
        if (saved_) al_set_target_bitmap(saved_);
    }
    TargetKeep(const TargetKeep&) = delete;
    TargetKeep& operator=(const TargetKeep&) = delete;

  private:
    ALLEGRO_BITMAP* saved_;
};

int _stamp_diameter(float size) {
    const double d = std::ceil(static_cast<double>(size));
    if (!(d >= 1.0)) return 1;
    return static_cast<int>(std::min(d, STAMP_MAX_DIAMETER));
}

// The one 32-bit xorshift step used by every particle pattern.
uint32_t _xorshift(uint32_t s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

// Two uniform numbers in [0, 1) from the top 24 bits of two successive states.
void _particle(uint32_t* s, float* u1, float* u2) {
    constexpr float SCALE = 1.0f / 16777216.0f;
    *s = _xorshift(*s);
    *u1 = static_cast<float>(*s >> 8) * SCALE;
    *s = _xorshift(*s);
    *u2 = static_cast<float>(*s >> 8) * SCALE;
}

// The spray's pattern is a pure function of the 2-pixel cell the dab falls in, so dabs that
// pile up in one spot (a slow pointer, a stroke turning back) repeat the same dots instead of
// filling the cloud in, and no state has to be kept between dabs.
uint32_t _spray_seed(float x, float y) {
    const auto ix = static_cast<uint32_t>(_to_int(std::floor(static_cast<double>(x) * 0.5)));
    const auto iy = static_cast<uint32_t>(_to_int(std::floor(static_cast<double>(y) * 0.5)));
    uint32_t h = (ix * 0x9E3779B1u) ^ (iy * 0x85EBCA77u);
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    uint32_t s = h ^ (h >> 15);
    return s ? s : 1u;
}

// The round dot a spray lays its particles with.
BRUSH _dot_brush(const BRUSH* brush, float size) {
    BRUSH dot = *brush;
    dot.size = size;
    dot.hardness = 0.0f;
    dot.tip = BRUSH_TIP_ROUND;
    return dot;
}

void _bounds_add(float x, float y, float extent) {
    if (!_stroke_bounds.any) {
        _stroke_bounds = {true, x - extent, y - extent, x + extent, y + extent};
        return;
    }
    _stroke_bounds.x0 = std::min(_stroke_bounds.x0, x - extent);
    _stroke_bounds.y0 = std::min(_stroke_bounds.y0, y - extent);
    _stroke_bounds.x1 = std::max(_stroke_bounds.x1, x + extent);
    _stroke_bounds.y1 = std::max(_stroke_bounds.y1, y + extent);
}

// A layer that left the document during a stroke may already be freed: compare, never touch.
bool _stroke_layer_present(const DOCUMENT* doc, const BRUSH_STROKE* stroke) {
    return stroke->layer && doc->layers && document_layer_index(doc, stroke->layer, NULL);
}

int _clear_to_transparent(ALLEGRO_BITMAP* bitmap) {
    HeldDrawingPause pause;
    TargetKeep target(bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    return 1;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Brush record, tips and presets
// --------------------------------------------------------------------------------------------

void brush_defaults(BRUSH* brush) {
    q_assert(brush, return );
    brush->size = 24.0f;
    brush->hardness = 0.7f;
    brush->flow = 1.0f;
    brush->opacity = 1.0f;
    brush->color = al_map_rgb(40, 40, 40);
    brush->spacing = 0.25f;
    brush->mode = BRUSH_MODE_PAINT;
    brush->tip = BRUSH_TIP_ROUND;
}

int brush_tip_shape_count() {
    return static_cast<int>(_tip_shape_names.size());
}

const char* brush_tip_shape_name(int index) {
    const auto i = static_cast<unsigned>(index);
    return i < _tip_shape_names.size() ? _tip_shape_names[i] : NULL;
}

int brush_preset_count() {
    return static_cast<int>(_presets.size());
}

const char* brush_preset_name(int index) {
    const auto i = static_cast<unsigned>(index);
    return i < _presets.size() ? _presets[i].name : NULL;
}

const char* brush_preset_short_name(int index) {
    const auto i = static_cast<unsigned>(index);
    return i < _presets.size() ? _presets[i].short_name : NULL;
}

const BRUSH_PRESET* brush_preset_get(const char* name) {
    q_assert(name, return NULL);
    if (!_preset_table) {
        _preset_table = new_ht(PRESET_TABLE_BUCKETS);
        q_assert(_preset_table, return NULL);
        for (const BRUSH_PRESET& row : _presets) {
            // The table only points into the constant rows; it never frees them.
            if (!ht_put_ptr(_preset_table, row.name, const_cast<BRUSH_PRESET*>(&row), NULL, NULL))
                q_log(3, "could not register brush preset %s", row.name);
        }
    }
    void* item = NULL;
    if (!ht_get_ptr(_preset_table, name, &item)) return NULL;
    return static_cast<const BRUSH_PRESET*>(item);
}

int brush_apply_preset(BRUSH* brush, const char* name) {
    q_assert(brush, return 0);
    const BRUSH_PRESET* row = name ? brush_preset_get(name) : NULL;
    if (!row) {
        q_log(3, "unknown brush preset %s", name ? name : "NULL");
        return 0;
    }
    brush->size = row->size;
    brush->hardness = row->hardness;
    brush->flow = row->flow;
    brush->opacity = row->opacity;
    brush->spacing = row->spacing;
    brush->tip = row->tip;
    brush->mode = BRUSH_MODE_PAINT;
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Stamps
// --------------------------------------------------------------------------------------------

namespace {

// Distance from the centre in units of the tip's outline: 1 on the outline, 0 at the centre.
float _tip_distance(int tip, float u, float v) {
    switch (tip) {
    case BRUSH_TIP_SQUARE:
        return std::max(std::fabs(u), std::fabs(v));
    case BRUSH_TIP_CHISEL_L: {
        const float a = (u + v) * CHISEL_K;
        const float b = (u - v) * CHISEL_K * ELLIPSE_E;
        return std::sqrt(a * a + b * b);
    }
    case BRUSH_TIP_CHISEL_R: {
        const float a = (u - v) * CHISEL_K;
        const float b = (u + v) * CHISEL_K * ELLIPSE_E;
        return std::sqrt(a * a + b * b);
    }
    case BRUSH_TIP_FLAT: {
        const float b = v * ELLIPSE_E;
        return std::sqrt(u * u + b * b);
    }
    case BRUSH_TIP_DIAMOND:
        return std::max(std::fabs((u - v) * CHISEL_K), std::fabs((u + v) * CHISEL_K));
    default: // Round, the spray's stamp and any unknown index
        return std::sqrt(u * u + v * v);
    }
}

// Fully covered inside the hardness radius, then a smoothstep falloff to nothing at the
// outline, so soft tips have no visible ring where the falloff starts.
int _coverage(float dist, float hardness) {
    if (dist >= 1.0f) return 0;
    if (dist <= hardness) return 255;
    const float t = (dist - hardness) / (1.0f - hardness);
    return static_cast<int>((1.0f - (3.0f - 2.0f * t) * t * t) * 255.0f + 0.5f);
}

} // namespace

ALLEGRO_BITMAP* _stamp_generate(int d, float hardness, int tip) {
    if (d < 1) d = 1;
    // NaN would defeat every comparison below; out-of-range values mean "as hard" or "as soft
    // as it gets".
    const float hard = hardness == hardness ? std::clamp(hardness, 0.0f, 1.0f) : 0.0f;

    ALLEGRO_BITMAP* memory_stamp = NULL;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        memory_stamp = al_create_bitmap(d, d);
    }
    q_assert(memory_stamp, return NULL);
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap(memory_stamp, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!region) {
        q_log(3, "could not lock %dpx stamp", d);
        al_destroy_bitmap(memory_stamp);
        return NULL;
    }
    const float r = static_cast<float>(d) * 0.5f;
    const float m = static_cast<float>(d - 1) * 0.5f;
    auto* row = static_cast<unsigned char*>(region->data);
    for (int y = 0; y < d; y++, row += region->pitch) {
        const float v = (static_cast<float>(y) - m) / r;
        for (int x = 0; x < d; x++) {
            const float u = (static_cast<float>(x) - m) / r;
            const auto a = static_cast<unsigned char>(_coverage(_tip_distance(tip, u, v), hard));
            unsigned char* px = row + static_cast<size_t>(x) * 4;
            px[0] = px[1] = px[2] = px[3] = a; // premultiplied white
        }
    }
    al_unlock_bitmap(memory_stamp);

    ALLEGRO_BITMAP* stamp = NULL;
    {
        NewBitmapFlagsScope flags(BRUSH_BITMAP_FLAGS);
        stamp = al_clone_bitmap(memory_stamp);
    }
    al_destroy_bitmap(memory_stamp);
    if (!stamp) {
        q_log(3, "could not upload %dpx stamp", d);
        return NULL;
    }
    return stamp;
}

void _stamp_destroy(void* stamp) {
    if (stamp) al_destroy_bitmap(static_cast<ALLEGRO_BITMAP*>(stamp));
}

size_t _stamp_cache_count() {
    return _stamp_cache ? _stamp_cache->nb_keys : 0;
}

ALLEGRO_BITMAP* _stamp_get(const BRUSH* brush) {
    q_assert(brush, return NULL);
    const int d = _stamp_diameter(brush->size);
    // Rounded to whole percent: hardness sliders produce values that differ only in noise,
    // and each distinct key costs a texture.
    const int h = _to_int(static_cast<double>(brush->hardness) * 100.0 + 0.5);
    const int s = brush->tip;
    char key[STAMP_KEY_SIZE];
    snprintf(key, sizeof key, "d%d_h%d_s%d", d, h, s);

    if (!_stamp_cache) {
        _stamp_cache = new_ht(STAMP_CACHE_BUCKETS);
        q_assert(_stamp_cache, return NULL);
    }
    void* item = NULL;
    if (ht_get_ptr(_stamp_cache, key, &item) && item) return static_cast<ALLEGRO_BITMAP*>(item);

    // Cleared rather than trimmed: sizes change in bursts (a slider drag), after which the old
    // stamps are rarely wanted again.
    if (_stamp_cache->nb_keys >= BRUSH_STAMP_CACHE_MAX) empty_ht(_stamp_cache);

    ALLEGRO_BITMAP* stamp = _stamp_generate(d, brush->hardness, s);
    if (!stamp) return NULL;
    if (!ht_put_ptr(_stamp_cache, key, stamp, _stamp_destroy, NULL)) {
        q_log(3, "could not cache stamp %s", key);
        al_destroy_bitmap(stamp);
        return NULL;
    }
    return stamp;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Stroke buffer and engine lifetime
// --------------------------------------------------------------------------------------------

ALLEGRO_BITMAP* _stroke_buffer_get(const DOCUMENT* doc) {
    q_assert(doc, return NULL);
    if (_stroke_buffer && al_get_bitmap_width(_stroke_buffer) == doc->width &&
        al_get_bitmap_height(_stroke_buffer) == doc->height)
        return _stroke_buffer;
    if (_stroke_buffer) {
        al_destroy_bitmap(_stroke_buffer);
        _stroke_buffer = NULL;
    }
    {
        NewBitmapFlagsScope flags(BRUSH_BITMAP_FLAGS);
        _stroke_buffer = al_create_bitmap(doc->width, doc->height);
    }
    q_assert(_stroke_buffer, return NULL);
    // A fresh video bitmap holds whatever the driver left in it. A stroke that finds its
    // buffer replaced halfway (a flush) goes on painting into this one and merges it at the
    // end, so it must start transparent, not with garbage.
    _clear_to_transparent(_stroke_buffer);
    return _stroke_buffer;
}

void brush_engine_flush_cache() {
    if (_stamp_cache) empty_ht(_stamp_cache);
    if (_stroke_buffer) {
        al_destroy_bitmap(_stroke_buffer);
        _stroke_buffer = NULL;
    }
    _stroke_buffer_active = false;
    _stroke_buffer_preview = false;
}

void brush_engine_shutdown() {
    if (_stamp_cache) destroy_ht(&_stamp_cache);
    if (_preset_table) destroy_ht(&_preset_table);
    if (_stroke_buffer) {
        al_destroy_bitmap(_stroke_buffer);
        _stroke_buffer = NULL;
    }
    _stroke_buffer_active = false;
    _stroke_buffer_preview = false;
    _stroke_bounds.any = false;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Dabs
// --------------------------------------------------------------------------------------------

int _spray_particle_count(float size) {
    const float n = 0.75f * (size * 0.5f);
    if (!(n >= static_cast<float>(BRUSH_SPRAY_MIN_PARTICLES))) return BRUSH_SPRAY_MIN_PARTICLES;
    if (n >= static_cast<float>(BRUSH_SPRAY_MAX_PARTICLES)) return BRUSH_SPRAY_MAX_PARTICLES;
    return std::max(BRUSH_SPRAY_MIN_PARTICLES, static_cast<int>(n));
}

namespace {

// What the dabs of one call draw with. The brush cannot change during a call, so a segment
// settles this once and then only draws.
struct DabPlan {
    ALLEGRO_BITMAP* target; // the layer when erasing, else the stroke buffer
    ALLEGRO_BITMAP* stamp;  // the tip's stamp, or the spray's dot
    bool erase;
    bool spray; // scattered particles into the buffer
};

int _dab_plan(DOCUMENT* doc, const BRUSH_STROKE* stroke, const BRUSH* brush, DabPlan* plan) {
    if (!stroke->preview) {
        q_assert(stroke->layer, return 0);
        q_assert(stroke->layer->bitmap, return 0);
    }
    // Paint or erase is settled when the stroke begins (use_buffer); a stroke begun as an
    // eraser keeps erasing, because a painting dab would land in a buffer that nobody merges.
    plan->erase = !stroke->preview && (brush->mode == BRUSH_MODE_ERASE || !stroke->use_buffer);
    plan->spray = !plan->erase && brush->tip == BRUSH_TIP_SPRAY;
    if (plan->erase) {
        plan->target = stroke->layer->bitmap;
    } else {
        ALLEGRO_BITMAP* buffer = _stroke_buffer_get(doc);
        q_assert(buffer, return 0);
        plan->target = buffer;
    }
    // The spray draws only its dot. Fetching the tip's stamp as well would be wasted work, and
    // the dot's lookup may empty the cache and free it.
    if (plan->spray) {
        const BRUSH dot_brush = _dot_brush(brush, std::max(2.0f, 0.18f * brush->size));
        ALLEGRO_BITMAP* dot = _stamp_get(&dot_brush);
        q_assert(dot, return 0);
        plan->stamp = dot;
    } else {
        ALLEGRO_BITMAP* stamp = _stamp_get(brush);
        q_assert(stamp, return 0);
        plan->stamp = stamp;
    }
    return 1;
}

// Target, blender and held drawing for a run of dabs, all put back when the object dies.
// Every dab of a run uses one texture, one target and one blender, so holding the drawing
// lets the driver take the whole run as one batch instead of one round trip per dab.
class DabSession {
  public:
    explicit DabSession(const DabPlan& plan) : keep_(plan.target) {
        if (plan.erase) {
            // Scales every channel of the layer by one minus the dab's alpha.
            al_set_separate_blender(ALLEGRO_ADD, ALLEGRO_ZERO, ALLEGRO_INVERSE_ALPHA, ALLEGRO_ADD,
                                    ALLEGRO_ZERO, ALLEGRO_INVERSE_ALPHA);
        } else {
            _set_over_blender();
        }
        al_hold_bitmap_drawing(true);
    }
    ~DabSession() { al_hold_bitmap_drawing(false); }
    DabSession(const DabSession&) = delete;
    DabSession& operator=(const DabSession&) = delete;

  private:
    HeldDrawingPause pause_;
    BlenderScope blender_;
    TargetKeep keep_;
};

// Scattered dots over the spray disc, drawn into the stroke buffer.
void _spray_points(DOCUMENT* doc, const BRUSH_STROKE* stroke, const BRUSH* brush,
                   ALLEGRO_BITMAP* dot, float f, const float* pts, int count) {
    const float R = brush->size * 0.5f;
    const float hw = static_cast<float>(al_get_bitmap_width(dot)) * 0.5f;
    const int n = _spray_particle_count(brush->size);
    // Spread the dab's alpha over its particles by the share of the disc they cover, so a
    // spray builds up about as fast as a solid dab of the same flow.
    float fp = f;
    if (R > 0.0f)
        fp = std::min(1.0f, f / std::max(0.001f, static_cast<float>(n) * hw * hw / (R * R)));
    const ALLEGRO_COLOR tint = al_map_rgba_f(fp, fp, fp, fp);

    for (int i = 0; i < count; i++) {
        const float px = pts[2 * i];
        const float py = pts[2 * i + 1];
        uint32_t s = _spray_seed(px, py);
        for (int k = 0; k < n; k++) {
            float u1, u2;
            _particle(&s, &u1, &u2);
            const float rho = std::sqrt(u1) * R;
            const float theta = u2 * TWO_PI;
            al_draw_tinted_bitmap(dot, tint, std::floor(px + std::cos(theta) * rho - hw + 0.5f),
                                  std::floor(py + std::sin(theta) * rho - hw + 0.5f), 0);
        }
        if (!stroke->preview) {
            undo_mark_dirty(doc, px, py, hw + R);
            _bounds_add(px, py, hw + R + 1.0f);
        }
    }
}

// One dab at every symmetric position, inside a session opened for `plan`.
void _dab_draw(DOCUMENT* doc, const BRUSH_STROKE* stroke, const BRUSH* brush, const DabPlan& plan,
               float x, float y, float pressure) {
    const float f = _clamp01(pressure * brush->flow);
    float pts[2 * MAX_MIRRORED];
    const int count = symmetry_mirror(&stroke->symmetry, x, y, pts, MAX_MIRRORED);
    if (plan.spray) {
        _spray_points(doc, stroke, brush, plan.stamp, f, pts, count);
        return;
    }
    const ALLEGRO_COLOR tint =
        plan.erase ? al_map_rgba_f(0.0f, 0.0f, 0.0f, f) : al_map_rgba_f(f, f, f, f);
    const float w = static_cast<float>(al_get_bitmap_width(plan.stamp));
    for (int i = 0; i < count; i++) {
        const float px = pts[2 * i];
        const float py = pts[2 * i + 1];
        al_draw_tinted_bitmap(plan.stamp, tint, std::floor(px - w * 0.5f + 0.5f),
                              std::floor(py - w * 0.5f + 0.5f), 0);
        if (!stroke->preview) {
            undo_mark_dirty(doc, px, py, w * 0.5f);
            if (!plan.erase) _bounds_add(px, py, w * 0.5f + 1.0f);
        }
    }
}

} // namespace

int _brush_dab(DOCUMENT* doc, BRUSH_STROKE* stroke, const BRUSH* brush, float x, float y,
               float pressure) {
    q_assert(doc, return 0);
    q_assert(stroke, return 0);
    q_assert(brush, return 0);
    DabPlan plan;
    if (!_dab_plan(doc, stroke, brush, &plan)) return 0;
    DabSession session(plan);
    _dab_draw(doc, stroke, brush, plan, x, y, pressure);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Tip swatch
// --------------------------------------------------------------------------------------------

int brush_render_tip_preview(const BRUSH* brush, ALLEGRO_BITMAP* dest) {
    q_assert(brush, return 0);
    q_assert(dest, return 0);
    const float W = static_cast<float>(al_get_bitmap_width(dest));
    const float H = static_cast<float>(al_get_bitmap_height(dest));
    const ALLEGRO_COLOR c = brush->color;

    // Fetch the stamp before targeting `dest`: generating one switches bitmaps and flags.
    ALLEGRO_BITMAP* stamp = NULL;
    if (brush->tip == BRUSH_TIP_SPRAY) {
        const BRUSH dot_brush = _dot_brush(brush, std::max(2.0f, 0.16f * W));
        stamp = _stamp_get(&dot_brush);
        ALLEGRO_BITMAP* dotbmp = stamp;
        q_assert(dotbmp, return 0);
    } else {
        BRUSH big = *brush;
        big.size = std::max(4.0f, 0.78f * W);
        stamp = _stamp_get(&big);
        q_assert(stamp, return 0);
    }

    HeldDrawingPause pause;
    BlenderScope blender;
    TargetKeep keep(dest);
    // A light tip on a dark ground and a dark tip on a light one.
    const float luma = 0.299f * c.r + 0.587f * c.g + 0.114f * c.b;
    al_clear_to_color(luma >= 0.3f ? al_map_rgb(40, 42, 48) : al_map_rgb(225, 227, 232));
    _set_over_blender();
    const ALLEGRO_COLOR tint = al_map_rgba_f(c.r, c.g, c.b, 1.0f);

    const float sw = static_cast<float>(al_get_bitmap_width(stamp));
    if (brush->tip == BRUSH_TIP_SPRAY) {
        const float Rs = std::max(1.0f, W * 0.5f - sw * 0.5f);
        uint32_t s = 0x5EED;
        HeldDrawing batch;
        for (int k = 0; k < 18; k++) {
            float u1, u2;
            _particle(&s, &u1, &u2);
            const float rho = std::sqrt(u1);
            const float theta = u2 * TWO_PI;
            al_draw_tinted_bitmap(stamp, tint, W * 0.5f + std::cos(theta) * rho * Rs - sw * 0.5f,
                                  H * 0.5f + std::sin(theta) * rho * Rs - sw * 0.5f, 0);
        }
    } else {
        const int iw = al_get_bitmap_width(dest);
        const int ih = al_get_bitmap_height(dest);
        const int ss = al_get_bitmap_width(stamp);
        al_draw_tinted_bitmap(stamp, tint, static_cast<float>((iw - ss) / 2),
                              static_cast<float>((ih - ss) / 2), 0);
    }
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Strokes
// --------------------------------------------------------------------------------------------

namespace {

// Walks the segment from the stroke's last point to (x, y), laying a dab every `step`
// pixels of path. Shared by strokes and previews.
int _stroke_walk(DOCUMENT* doc, BRUSH_STROKE* stroke, const BRUSH* brush, float x, float y,
                 float pressure) {
    const double lx = stroke->last_point[0];
    const double ly = stroke->last_point[1];
    const double dx = static_cast<double>(x) - lx;
    const double dy = static_cast<double>(y) - ly;
    const double d = std::sqrt(dx * dx + dy * dy);
    if (!(d > 0.0)) return 1;

    const double step =
        std::max(0.5, static_cast<double>(brush->spacing) * static_cast<double>(brush->size));
    // The distance still owed since the last step. After the size or spacing shrinks mid-stroke
    // the carry can exceed the new step; the owed dab then falls at the segment's start rather
    // than behind it, on a line the pointer never took.
    const double first = std::max(0.0, step - static_cast<double>(stroke->carry));
    if (first > d) {
        stroke->carry = static_cast<float>(static_cast<double>(stroke->carry) + d);
        stroke->last_point[0] = x;
        stroke->last_point[1] = y;
        return 1;
    }

    // Skipping positions that lie close to the previous dab keeps dabs from piling up where
    // the stroke turns back or where a segment starts right after a dab.
    const double min_gap2 = (0.9 * step) * (0.9 * step);
    int result = 1;
    // Settled at the first dab that is due, so a segment that lays none touches nothing.
    enum { UNPLANNED, PLANNED, FAILED } state = UNPLANNED;
    DabPlan plan{};
    std::optional<DabSession> session;
    double t = first;
    double last_t = first;
    for (long i = 0; t <= d; i++, t = first + static_cast<double>(i) * step) {
        last_t = t;
        const double px = lx + dx * (t / d);
        const double py = ly + dy * (t / d);
        const double gx = px - stroke->last_dab[0];
        const double gy = py - stroke->last_dab[1];
        if (gx * gx + gy * gy < min_gap2) continue;
        if (state == UNPLANNED) {
            state = _dab_plan(doc, stroke, brush, &plan) ? PLANNED : FAILED;
            if (state == PLANNED) session.emplace(plan);
        }
        // A dab that cannot be drawn only turns the result to 0; the stroke walks on.
        if (state == PLANNED)
            _dab_draw(doc, stroke, brush, plan, static_cast<float>(px), static_cast<float>(py),
                      pressure);
        else
            result = 0;
        stroke->last_dab[0] = static_cast<float>(px);
        stroke->last_dab[1] = static_cast<float>(py);
    }
    session.reset();
    stroke->carry = static_cast<float>(d - last_t);
    stroke->last_point[0] = x;
    stroke->last_point[1] = y;
    return result;
}

void _stroke_reset(BRUSH_STROKE* stroke, float x, float y, LAYER* layer, const BRUSH* brush,
                   bool use_buffer, bool preview, const SYMMETRY* symmetry, const DOCUMENT* doc) {
    stroke->active = true;
    stroke->last_point[0] = stroke->last_dab[0] = x;
    stroke->last_point[1] = stroke->last_dab[1] = y;
    stroke->carry = 0.0f;
    stroke->layer = layer;
    stroke->use_buffer = use_buffer;
    stroke->color = brush->color;
    stroke->opacity = brush->opacity;
    if (symmetry)
        stroke->symmetry = *symmetry;
    else
        symmetry_init(&stroke->symmetry, doc);
    stroke->preview = preview;
}

// Draws the part of the buffer the stroke touched onto its layer with the stroke's colour,
// never above the stroke's opacity.
void _stroke_merge(BRUSH_STROKE* stroke, ALLEGRO_BITMAP* buffer) {
    if (!_stroke_bounds.any) return; // no dab reached the buffer
    const int bw = al_get_bitmap_width(buffer);
    const int bh = al_get_bitmap_height(buffer);
    const int x0 = std::max(0, _to_int(std::floor(_stroke_bounds.x0)));
    const int y0 = std::max(0, _to_int(std::floor(_stroke_bounds.y0)));
    const int x1 = std::min(bw, _to_int(std::ceil(_stroke_bounds.x1)));
    const int y1 = std::min(bh, _to_int(std::ceil(_stroke_bounds.y1)));
    if (x1 <= x0 || y1 <= y0) return;

    const ALLEGRO_COLOR c = stroke->color;
    const float A = _clamp01(std::min(1.0f, stroke->opacity) * c.a);
    HeldDrawingPause pause;
    BlenderScope blender;
    TargetKeep keep(stroke->layer->bitmap);
    _set_over_blender();
    al_draw_tinted_bitmap_region(buffer, al_map_rgba_f(c.r * A, c.g * A, c.b * A, A),
                                 static_cast<float>(x0), static_cast<float>(y0),
                                 static_cast<float>(x1 - x0), static_cast<float>(y1 - y0),
                                 static_cast<float>(x0), static_cast<float>(y0), 0);
}

} // namespace

int brush_stroke_begin(BRUSH_STROKE* stroke, DOCUMENT* doc, const BRUSH* brush, float x, float y,
                       float pressure, const SYMMETRY* symmetry) {
    q_assert(stroke, return 0);
    q_assert(doc, return 0);
    q_assert(brush, return 0);
    q_assert(doc->active_layer, return 0);
    LAYER* layer = doc->active_layer;
    if (layer->locked) return 0;
    q_assert(layer->bitmap, return 0);

    // The undo operation opens before anything changes: when another one is already open
    // (a stroke that was never ended, a tool mid-way) this stroke must not paint outside an
    // operation of its own, and nothing here may have moved.
    if (!undo_begin(doc)) return 0;

    const bool paint = brush->mode == BRUSH_MODE_PAINT;
    if (paint) {
        ALLEGRO_BITMAP* buffer = _stroke_buffer_get(doc);
        if (!buffer) {
            undo_abort(doc);
            return 0;
        }
        _clear_to_transparent(buffer);
    }
    // A layer the compositor has not cleared yet holds undefined pixels; it would clear them
    // after this stroke and wipe it, so clear them first (its committed copy is transparent).
    if (layer->needs_clear) {
        _clear_to_transparent(layer->bitmap);
        layer->needs_clear = false;
    }

    _stroke_reset(stroke, x, y, layer, brush, paint, false, symmetry, doc);
    _stroke_bounds.any = false;
    // A stroke replaces any shape preview in the buffer, erasing ones included: the preview
    // must not stay on screen for the whole stroke.
    if (_stroke_buffer_preview) {
        _stroke_buffer_preview = false;
        _stroke_buffer_active = false;
    }
    if (paint) _stroke_buffer_active = true;

    return _brush_dab(doc, stroke, brush, x, y, pressure);
}

int brush_stroke_segment(BRUSH_STROKE* stroke, DOCUMENT* doc, const BRUSH* brush, float x, float y,
                         float pressure) {
    q_assert(stroke, return 0);
    q_assert(doc, return 0);
    q_assert(brush, return 0);
    if (!stroke->active) return 0;
    if (!stroke->preview && !_stroke_layer_present(doc, stroke)) {
        q_log(3, "the layer of the stroke is no longer in the document");
        return 0;
    }
    return _stroke_walk(doc, stroke, brush, x, y, pressure);
}

int brush_stroke_end(BRUSH_STROKE* stroke, DOCUMENT* doc) {
    q_assert(stroke, return 0);
    q_assert(doc, return 0);
    if (!stroke->active) return 0;
    stroke->active = false;
    stroke->carry = 0.0f;
    if (stroke->use_buffer) {
        if (_stroke_buffer && _stroke_layer_present(doc, stroke) && stroke->layer->bitmap)
            _stroke_merge(stroke, _stroke_buffer);
        _stroke_buffer_active = false;
    }
    stroke->use_buffer = false;
    _stroke_bounds.any = false;
    return undo_commit(doc);
}

int brush_stroke_abort(BRUSH_STROKE* stroke, DOCUMENT* doc) {
    q_assert(stroke, return 0);
    q_assert(doc, return 0);
    if (!stroke->active) return 0;
    stroke->active = false;
    stroke->carry = 0.0f;
    stroke->use_buffer = false;
    _stroke_buffer_active = false;
    _stroke_buffer_preview = false;
    _stroke_bounds.any = false;
    undo_revert(doc);
    return 1;
}

ALLEGRO_BITMAP* brush_stroke_buffer() {
    return _stroke_buffer_active ? _stroke_buffer : NULL;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Shape previews and pressure
// --------------------------------------------------------------------------------------------

int brush_preview_polyline(DOCUMENT* doc, const BRUSH* brush, const float* xy, int count,
                           const SYMMETRY* symmetry) {
    q_assert(doc, return 0);
    q_assert(brush, return 0);
    q_assert(xy, return 0);
    if (count < 2) return 0;
    // Clearing the buffer now would wipe a painting stroke's unmerged dabs.
    if (_stroke_buffer_active && !_stroke_buffer_preview) return 0;
    ALLEGRO_BITMAP* buffer = _stroke_buffer_get(doc);
    q_assert(buffer, return 0);

    BRUSH paint = *brush;
    paint.mode = BRUSH_MODE_PAINT;
    BRUSH_STROKE stroke;
    memset(&stroke, 0, sizeof stroke);
    _stroke_reset(&stroke, xy[0], xy[1], NULL, &paint, true, true, symmetry, doc);

    _clear_to_transparent(buffer);
    int result = _brush_dab(doc, &stroke, &paint, xy[0], xy[1], 1.0f);
    for (int i = 1; i < count; i++)
        if (!_stroke_walk(doc, &stroke, &paint, xy[2 * i], xy[2 * i + 1], 1.0f)) result = 0;

    _stroke_buffer_preview = true;
    _stroke_buffer_active = true;
    return result;
}

void brush_preview_clear() {
    if (!_stroke_buffer_preview) return;
    _stroke_buffer_preview = false;
    _stroke_buffer_active = false;
}

float pressure_from_speed(float speed, float previous) {
    const float s = speed > 0.0f ? speed : 0.0f; // NaN reads as standing still
    const float target = std::max(0.25f, 1.0f - s / 1500.0f);
    return _clamp01(previous + (target - previous) * 0.5f);
}

// ============================================================================================
// Placed shapes and text: floats that are drawn anew instead of stretched
//   [SECTION] Drawing helpers
//   [SECTION] Shape geometry
//   [SECTION] Shape rendering
//   [SECTION] Text rendering
//   [SECTION] Placing
//   [SECTION] Refresh rules
//   [SECTION] Text popup model
// ============================================================================================
#include "gui/gui.h"

#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "canvas/allegro_state.h"
#include "i18n.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "tavolix_app.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Drawing helpers
// --------------------------------------------------------------------------------------------

namespace {

struct BitmapDeleter {
    void operator()(ALLEGRO_BITMAP* bitmap) const { al_destroy_bitmap(bitmap); }
};
using BitmapPtr = std::unique_ptr<ALLEGRO_BITMAP, BitmapDeleter>;

struct FontDeleter {
    void operator()(ALLEGRO_FONT* font) const { al_destroy_font(font); }
};
using FontPtr = std::unique_ptr<ALLEGRO_FONT, FontDeleter>;

// Targets a freshly made bitmap for drawing into it; the caller's target and blender come
// back on every return path.
class RenderInto {
  public:
    explicit RenderInto(ALLEGRO_BITMAP* bitmap) : target_(bitmap) {
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    }

  private:
    HeldDrawingPause pause_;
    TargetBitmapScope target_;
    BlenderScope blender_;
};

void use_over_blender() {
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
}

ALLEGRO_COLOR brush_premultiplied(const TAVOLIX_APP* app) {
    const ALLEGRO_COLOR c = app->brush.color;
    return al_premul_rgba_f(c.r, c.g, c.b, c.a);
}

// Rendered floats are cleared and drawn at once, and a float never outlives a halt of drawing
// (it is committed then and discarded on resume), so nothing needs a preserved copy: without
// one, a large shape is not first filled with zeros and uploaded at every step of a drag.
BitmapPtr new_float_bitmap(int w, int h, const char* what) {
    NewBitmapFlagsScope flags(SELECTION_FLOAT_FLAGS | ALLEGRO_NO_PRESERVE_TEXTURE);
    BitmapPtr bitmap(al_create_bitmap(w, h));
    if (!bitmap) q_log(3, "could not create %dx%d %s bitmap", w, h, what);
    return bitmap;
}

} // namespace

void tavolix_gfx_break_feedback() {
    if (!al_get_target_bitmap()) return;
    BitmapPtr spacer;
    {
        NewBitmapFlagsScope flags(ALLEGRO_VIDEO_BITMAP);
        spacer.reset(al_create_bitmap(2, 2));
    }
    if (spacer) al_draw_tinted_bitmap(spacer.get(), al_map_rgba(0, 0, 0, 0), -4.0f, -4.0f, 0);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Shape geometry
// --------------------------------------------------------------------------------------------

namespace {

struct Vertex {
    float x, y;
};

// Unit outlines, x to the right and y downwards, in drawing order.
constexpr Vertex STAR[] = {
    {0.0f, -1.0f},           {0.24687f, -0.339787f},  {0.951057f, -0.309017f},
    {0.399444f, 0.129787f},  {0.587785f, 0.809017f},  {0.0f, 0.42f},
    {-0.587785f, 0.809017f}, {-0.399444f, 0.129787f}, {-0.951056f, -0.309017f},
    {-0.24687f, -0.339787f}};
constexpr Vertex PENTAGON[] = {{0.0f, -1.0f},
                               {0.951057f, -0.309017f},
                               {0.587785f, 0.809017f},
                               {-0.587785f, 0.809017f},
                               {-0.951056f, -0.309017f}};
constexpr Vertex HEXAGON[] = {{0.0f, -1.0f}, {0.866025f, -0.5f}, {0.866025f, 0.5f},
                              {0.0f, 1.0f},  {-0.866026f, 0.5f}, {-0.866025f, -0.5f}};
// A shaft 0.4 high over the left 0.6 and a head over the full height, pointing right.
constexpr Vertex ARROW[] = {{0.0f, 0.3f}, {0.6f, 0.3f}, {0.6f, 0.0f}, {1.0f, 0.5f},
                            {0.6f, 1.0f}, {0.6f, 0.7f}, {0.0f, 0.7f}};
constexpr int SHAPE_MAX_VERTICES = 10;

struct UnitShape {
    const Vertex* vertices;
    int count;
};

UnitShape unit_shape(int kind) {
    switch (kind) {
    case PLACED_STAR:
        return {STAR, 10};
    case PLACED_PENTAGON:
        return {PENTAGON, 5};
    case PLACED_HEXAGON:
        return {HEXAGON, 6};
    case PLACED_ARROW:
        return {ARROW, 7};
    default:
        return {nullptr, 0};
    }
}

// Stretches the unit outline's bounding box onto the inset box, each axis on its own.
int map_unit_shape(const UnitShape& shape, float w, float h, float t, float* out) {
    float lo[2] = {shape.vertices[0].x, shape.vertices[0].y};
    float hi[2] = {lo[0], lo[1]};
    for (int i = 1; i < shape.count; i++) {
        lo[0] = std::min(lo[0], shape.vertices[i].x);
        lo[1] = std::min(lo[1], shape.vertices[i].y);
        hi[0] = std::max(hi[0], shape.vertices[i].x);
        hi[1] = std::max(hi[1], shape.vertices[i].y);
    }
    const float fx = hi[0] > lo[0] ? (w - t) / (hi[0] - lo[0]) : 1.0f;
    const float fy = hi[1] > lo[1] ? (h - t) / (hi[1] - lo[1]) : 1.0f;
    for (int i = 0; i < shape.count; i++) {
        out[2 * i] = t * 0.5f + (shape.vertices[i].x - lo[0]) * fx;
        out[2 * i + 1] = t * 0.5f + (shape.vertices[i].y - lo[1]) * fy;
    }
    return shape.count;
}

} // namespace

float _shape_thickness(float brush_size, int w, int h) {
    return std::min(std::max(2.0f, brush_size), static_cast<float>(std::min(w, h)) / 6.0f);
}

int _shape_vertices(int kind, int w, int h, float t, float* out) {
    q_assert(out, return 0);
    const float fw = static_cast<float>(w), fh = static_cast<float>(h), i = t * 0.5f;
    switch (kind) {
    case PLACED_RECT: {
        const float box[] = {i, i, fw - i, i, fw - i, fh - i, i, fh - i};
        std::copy(std::begin(box), std::end(box), out);
        return 4;
    }
    case PLACED_TRIANGLE: {
        const float corners[] = {fw * 0.5f, i, i, fh - i, fw - i, fh - i};
        std::copy(std::begin(corners), std::end(corners), out);
        return 3;
    }
    default:
        break;
    }
    const UnitShape shape = unit_shape(kind);
    return shape.vertices ? map_unit_shape(shape, fw, fh, t, out) : 0;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Shape rendering
// --------------------------------------------------------------------------------------------

namespace {

void fill_polygon(int kind, const float* v, int n, ALLEGRO_COLOR colour) {
    auto triangle = [&](int a, int b, int c) {
        al_draw_filled_triangle(v[2 * a], v[2 * a + 1], v[2 * b], v[2 * b + 1], v[2 * c],
                                v[2 * c + 1], colour);
    };
    if (kind == PLACED_ARROW) {
        triangle(0, 1, 5);
        triangle(0, 5, 6);
        triangle(2, 3, 4);
        return;
    }
    // A fan from the centroid: every outline here, the star included, is star-shaped around it.
    float cx = 0.0f, cy = 0.0f;
    for (int k = 0; k < n; k++) {
        cx += v[2 * k];
        cy += v[2 * k + 1];
    }
    cx /= static_cast<float>(n);
    cy /= static_cast<float>(n);
    for (int k = 0; k < n; k++) {
        const int next = (k + 1) % n;
        al_draw_filled_triangle(cx, cy, v[2 * k], v[2 * k + 1], v[2 * next], v[2 * next + 1],
                                colour);
    }
}

void draw_shape(int kind, bool filled, int w, int h, float t, ALLEGRO_COLOR colour) {
    const float fw = static_cast<float>(w), fh = static_cast<float>(h);
    if (kind == PLACED_ELLIPSE) {
        if (filled)
            al_draw_filled_ellipse(fw * 0.5f, fh * 0.5f, fw * 0.5f, fh * 0.5f, colour);
        else
            al_draw_ellipse(fw * 0.5f, fh * 0.5f, (fw - t) * 0.5f, (fh - t) * 0.5f, colour, t);
        return;
    }
    if (filled && kind == PLACED_RECT) {
        al_draw_filled_rectangle(0.0f, 0.0f, fw, fh, colour);
        return;
    }
    if (filled && kind == PLACED_TRIANGLE) {
        al_draw_filled_triangle(fw * 0.5f, 0.0f, 0.0f, fh, fw, fh, colour);
        return;
    }
    float v[2 * SHAPE_MAX_VERTICES];
    const int n = _shape_vertices(kind, w, h, t, v);
    if (n < 3) return;
    if (filled)
        fill_polygon(kind, v, n, colour);
    else
        al_draw_polygon(v, n, ALLEGRO_LINE_JOIN_ROUND, colour, t, 1.0f);
}

} // namespace

ALLEGRO_BITMAP* _render_shape_bitmap_wh(TAVOLIX_APP* app, int kind, bool filled, int w, int h) {
    q_assert(app, return nullptr);
    if (kind < PLACED_RECT || kind > PLACED_ARROW) {
        q_log(7, "not a shape kind: %d", kind);
        return nullptr;
    }
    w = std::max(w, 2);
    h = std::max(h, 2);
    BitmapPtr bitmap = new_float_bitmap(w, h, "shape");
    if (!bitmap) return nullptr;
    {
        RenderInto render(bitmap.get());
        tavolix_gfx_break_feedback();
        use_over_blender();
        draw_shape(kind, filled, w, h, _shape_thickness(app->brush.size, w, h),
                   brush_premultiplied(app));
    }
    return bitmap.release();
}

// --------------------------------------------------------------------------------------------
// [SECTION] Text rendering
// --------------------------------------------------------------------------------------------

const char* _text_font_file(int font) {
    static constexpr const char* FILES[PLACED_TEXT_FONTS] = {
        "fonts/DejaVuSans.ttf", "fonts/DejaVuSerif.ttf", "fonts/DejaVuSansMono.ttf",
        "fonts/DejaVuSans-Bold.ttf"};
    return FILES[font >= 0 && font < PLACED_TEXT_FONTS ? font : 0];
}

int _text_margin(int size) {
    return std::clamp(size, PLACED_TEXT_SIZE_MIN, PLACED_TEXT_SIZE_MAX) / 4 + 2;
}

namespace {

// Lines of at most 1023 bytes each, cut before a whole character.
std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> lines;
    char line[1024];
    for (;;) {
        const size_t end = text.find('\n');
        _utf8_copy(line, sizeof line, std::string(text.substr(0, end)).c_str());
        lines.emplace_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

} // namespace

ALLEGRO_BITMAP* _render_text_bitmap(TAVOLIX_APP* app, const char* text, int font, int size) {
    q_assert(app, return nullptr);
    if (!text || !text[0]) return nullptr;
    size = std::clamp(size, PLACED_TEXT_SIZE_MIN, PLACED_TEXT_SIZE_MAX);
    char path[PLATFORM_PATH_MAX] = "";
    FontPtr face;
    if (platform_asset_path(_text_font_file(font), path, sizeof path)) {
        // Glyph pages in memory: caching glyphs of a few hundred pixels in video pages costs
        // seconds, and drawing them from memory gives the same pixels.
        NewBitmapFlagsScope glyph_pages(ALLEGRO_MEMORY_BITMAP);
        face.reset(al_load_ttf_font(path, size, 0));
    }
    if (!face) {
        q_log(3, "could not load annotation font %s", path[0] ? path : _text_font_file(font));
        return nullptr;
    }
    const std::vector<std::string> lines = split_lines(text);
    int width = 1;
    for (const std::string& line : lines)
        width = std::max(width, al_get_text_width(face.get(), line.c_str()));
    const int line_height = al_get_font_line_height(face.get());
    const int margin = _text_margin(size);
    BitmapPtr bitmap = new_float_bitmap(
        width + 2 * margin, static_cast<int>(lines.size()) * line_height + 2 * margin, "text");
    if (!bitmap) return nullptr;
    {
        RenderInto render(bitmap.get());
        use_over_blender();
        const ALLEGRO_COLOR colour = brush_premultiplied(app);
        for (size_t i = 0; i < lines.size(); i++)
            al_draw_text(face.get(), colour, static_cast<float>(margin),
                         static_cast<float>(margin + static_cast<int>(i) * line_height),
                         ALLEGRO_ALIGN_LEFT, lines[i].c_str());
    }
    return bitmap.release();
}

// --------------------------------------------------------------------------------------------
// [SECTION] Placing
// --------------------------------------------------------------------------------------------

int _placed_shape_side(const TAVOLIX_APP* app) {
    q_assert(app, return 32);
    const float zoom = app->view.zoom > 0.0f ? app->view.zoom : 1.0f;
    const float screen_side = std::clamp(
        0.4f * static_cast<float>(std::min(app->display_w, app->display_h)), 64.0f, 320.0f);
    const float largest =
        static_cast<float>(app->doc ? std::min({app->doc->width, app->doc->height, 2048}) : 2048);
    float side = std::max(std::min(screen_side / zoom, largest), 32.0f);
    float snapped = side;
    if (grid_snap_length(&app->grid, side, &snapped) == 1) side = std::min(snapped, largest);
    return static_cast<int>(side + 0.5f);
}

namespace {

// The middle of the display on the canvas; with snapping on, on half grid steps.
void placement_centre(const TAVOLIX_APP* app, float* cx, float* cy) {
    *cx = *cy = 0.0f;
    view_screen_to_canvas(&app->view, static_cast<float>(app->display_w) * 0.5f,
                          static_cast<float>(app->display_h) * 0.5f, cx, cy);
    float step = 0.0f;
    if (grid_snap_step(&app->grid, &step) == 1 && step > 0.0f) {
        const float half = step * 0.5f;
        *cx = half * std::round(*cx / half);
        *cy = half * std::round(*cy / half);
    }
}

// Makes `bitmap` (kept by the caller) the placed float of `kind`, centred in the display, after
// whatever was in progress became part of the picture. 0 when the active layer refused it.
int paste_placed(TAVOLIX_APP* app, ALLEGRO_BITMAP* bitmap, int kind) {
    if (!app->doc) return 0;
    const bool floated = app->selection.phase == SELECTION_PHASE_FLOATING;
    tavolix_app_settle_canvas(app);
    if (floated) tavolix_gui_sync_layers(app);
    float cx = 0.0f, cy = 0.0f;
    placement_centre(app, &cx, &cy);
    const int x = static_cast<int>(cx - static_cast<float>(al_get_bitmap_width(bitmap)) * 0.5f);
    const int y = static_cast<int>(cy - static_cast<float>(al_get_bitmap_height(bitmap)) * 0.5f);
    if (selection_paste(&app->selection, app->doc, bitmap, x, y) != 1) return 0;
    app->selection.placed = true;
    app->selection.placed_kind = kind;
    tavolix_app_set_tool(app, TOOL_SELECT);
    return 1;
}

} // namespace

void _place_shape(TAVOLIX_APP* app, int kind) {
    q_assert(app, return);
    const int side = _placed_shape_side(app);
    BitmapPtr bitmap(_render_shape_bitmap_wh(app, kind, app->gui.shape_filled, side, side));
    if (!bitmap) return;
    if (!paste_placed(app, bitmap.get(), kind)) {
        q_log(6, "shape not placed: the active layer is locked or missing");
        tavolix_gui_notify(app, tavolix_tr("Cannot add a shape to a locked layer."));
    }
    tavolix_gui_sync(app);
    app->redraw = true;
}

void _on_shape_rect(TAVOLIX_APP* app) {
    _place_shape(app, PLACED_RECT);
}
void _on_shape_circle(TAVOLIX_APP* app) {
    _place_shape(app, PLACED_ELLIPSE);
}
void _on_shape_triangle(TAVOLIX_APP* app) {
    _place_shape(app, PLACED_TRIANGLE);
}
void _on_shape_star(TAVOLIX_APP* app) {
    _place_shape(app, PLACED_STAR);
}
void _on_shape_pentagon(TAVOLIX_APP* app) {
    _place_shape(app, PLACED_PENTAGON);
}
void _on_shape_hexagon(TAVOLIX_APP* app) {
    _place_shape(app, PLACED_HEXAGON);
}
void _on_shape_arrow(TAVOLIX_APP* app) {
    _place_shape(app, PLACED_ARROW);
}

void _on_shape_fill_toggle(TAVOLIX_APP* app) {
    q_assert(app, return);
    app->gui.shape_filled = !app->gui.shape_filled;
    // The toolbar's "Fill|shape" toggle is set from shape_filled by the panels' sync.
    if (!_placed_text_floating(app)) _refresh_placed_float(app, 1);
    app->redraw = true;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Refresh rules
// --------------------------------------------------------------------------------------------

namespace {

bool placed_floating(const SELECTION& sel) {
    return sel.phase == SELECTION_PHASE_FLOATING && sel.float_bitmap && sel.placed_kind >= 0;
}

// The bitmap size that shows the float at its current scale pixel for pixel.
int displayed_side(float scale, int side) {
    const float wanted = std::min(std::fabs(scale) * static_cast<float>(side) + 0.5f,
                                  static_cast<float>(PLACED_SHAPE_MAX));
    return std::clamp(static_cast<int>(wanted), 2, PLACED_SHAPE_MAX);
}

} // namespace

int _placed_text_floating(const TAVOLIX_APP* app) {
    q_assert(app, return 0);
    return placed_floating(app->selection) && app->selection.placed_kind == PLACED_TEXT;
}

void _refresh_placed_float(TAVOLIX_APP* app, int force) {
    q_assert(app, return);
    SELECTION* sel = &app->selection;
    if (!placed_floating(*sel)) return;
    ALLEGRO_BITMAP* fresh = nullptr;
    int taken = 0;
    if (sel->placed_kind == PLACED_TEXT) {
        // Text keeps its scale: it is only stretched, and drawn anew when its words or style
        // change.
        if (!force || !app->text[0]) return;
        fresh = _render_text_bitmap(app, app->text, app->placed_text_font, app->placed_text_size);
        if (fresh) taken = selection_restyle_float(sel, fresh);
    } else {
        const int w = displayed_side(sel->scale[0], al_get_bitmap_width(sel->float_bitmap));
        const int h = displayed_side(sel->scale[1], al_get_bitmap_height(sel->float_bitmap));
        if (!force && w == al_get_bitmap_width(sel->float_bitmap) &&
            h == al_get_bitmap_height(sel->float_bitmap))
            return;
        fresh = _render_shape_bitmap_wh(app, sel->placed_kind, app->gui.shape_filled, w, h);
        if (fresh) taken = selection_resample_float(sel, fresh);
    }
    if (fresh && taken != 1) al_destroy_bitmap(fresh);
    app->redraw = true;
}

void tavolix_gui_placed_float_refresh(TAVOLIX_APP* app) {
    q_assert(app, return);
    // Pointer motion can arrive faster than a large shape is drawn. While a handle is dragged
    // and another motion is already queued, that one redraws it; the float is only stretched
    // in between, so the queue never backs up behind renders nobody sees.
    ALLEGRO_EVENT next;
    if (app->selection.tracking && app->queue && al_peek_next_event(app->queue, &next) &&
        next.type == ALLEGRO_EVENT_MOUSE_AXES)
        return;
    _refresh_placed_float(app, 0);
}

void tavolix_gui_placed_float_restyle(TAVOLIX_APP* app) {
    q_assert(app, return);
    _refresh_placed_float(app, 1);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Text popup model
// --------------------------------------------------------------------------------------------

namespace {

// While the popup edits the placed text, the float follows every change at once.
void follow_popup(TAVOLIX_APP* app) {
    if (!app->text_editing || !_placed_text_floating(app)) return;
    app->placed_text_font = app->gui.text_font;
    app->placed_text_size = app->gui.text_size;
    _refresh_placed_float(app, 1);
}

} // namespace

void _text_edit_begin(TAVOLIX_APP* app) {
    q_assert(app, return);
    app->text_editing = _placed_text_floating(app) == 1;
    if (!app->text_editing) return;
    memcpy(app->text_backup, app->text, sizeof app->text_backup);
    app->placed_text_backup[0] = app->placed_text_font;
    app->placed_text_backup[1] = app->placed_text_size;
    // The popup opens on what the float shows.
    app->gui.text_font = app->placed_text_font;
    app->gui.text_size = app->placed_text_size;
}

void _on_text_field_change(TAVOLIX_APP* app, const char* text) {
    q_assert(app, return);
    _utf8_copy(app->text, sizeof app->text, text ? text : "");
    follow_popup(app);
}

void _on_text_font_select(TAVOLIX_APP* app, int index) {
    q_assert(app, return);
    app->gui.text_font = index >= 0 && index < PLACED_TEXT_FONTS ? index : 0;
    follow_popup(app);
}

void _on_text_size_change(TAVOLIX_APP* app, float value) {
    q_assert(app, return);
    if (!std::isfinite(value)) return;
    const float clamped = std::clamp(value, static_cast<float>(PLACED_TEXT_SIZE_MIN),
                                     static_cast<float>(PLACED_TEXT_SIZE_MAX));
    app->gui.text_size = static_cast<int>(std::lround(clamped));
    follow_popup(app);
}

void _on_text_ok(TAVOLIX_APP* app) {
    q_assert(app, return);
    const bool editing = app->text_editing && _placed_text_floating(app);
    app->text_editing = false;
    if (editing) {
        // Emptying the words is not an edit: the float keeps the text it shows.
        if (!app->text[0]) memcpy(app->text, app->text_backup, sizeof app->text);
        app->placed_text_font = app->gui.text_font;
        app->placed_text_size = app->gui.text_size;
        _refresh_placed_float(app, 1);
        return;
    }
    BitmapPtr bitmap(_render_text_bitmap(app, app->text, app->gui.text_font, app->gui.text_size));
    if (!bitmap) return; // an empty text places nothing
    if (paste_placed(app, bitmap.get(), PLACED_TEXT)) {
        app->placed_text_font = app->gui.text_font;
        app->placed_text_size = app->gui.text_size;
    } else {
        q_log(6, "text not placed: the active layer is locked or missing");
        tavolix_gui_notify(app, tavolix_tr("Cannot add text to a locked layer."));
    }
    tavolix_gui_sync(app);
    app->redraw = true;
}

void _on_text_cancel(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (app->text_editing && _placed_text_floating(app)) {
        memcpy(app->text, app->text_backup, sizeof app->text);
        app->placed_text_font = app->placed_text_backup[0];
        app->placed_text_size = app->placed_text_backup[1];
        _refresh_placed_float(app, 1);
    }
    app->text_editing = false;
}

// ============================================================================================
// Toolkit drawing: themes and style, windows, whole-GUI scrollbars, tooltips
//   [SECTION] Default theme and style
//   [SECTION] Theme setters
//   [SECTION] Drawing helpers
//   [SECTION] Windows
//   [SECTION] Tooltip
//   [SECTION] q_gui_draw
//   [SECTION] Partial redraws: what pointer movement changed
//
// Widgets of each kind are drawn by q_gui_draw_widgets.cpp, list and combo boxes by
// q_gui_listbox.cpp and text areas by q_gui_textarea.cpp.
// ============================================================================================
#include <allegro5/allegro_primitives.h>

#include <cstring>
#include <optional>

#include "q/q_common.h"
#include "q/q_gui_internal.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Default theme and style
// --------------------------------------------------------------------------------------------

namespace {

ALLEGRO_COLOR rgba(int r, int g, int b, int a) {
    return al_map_rgba(static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                       static_cast<unsigned char>(b), static_cast<unsigned char>(a));
}

} // namespace

Q_GUI_THEME q_gui_default_theme() {
    return q_gui_make_theme(rgba(50, 50, 60, 230), rgba(70, 70, 85, 240), rgba(90, 90, 110, 250),
                            rgba(120, 120, 140, 255), rgba(160, 160, 180, 255),
                            rgba(200, 200, 220, 255), rgba(220, 220, 220, 255),
                            rgba(255, 255, 255, 255), rgba(255, 255, 255, 255), 1.0f, 4.0f, 4.0f);
}

namespace {

Q_GUI_THEME title_button_theme(ALLEGRO_COLOR hover, ALLEGRO_COLOR active) {
    const ALLEGRO_COLOR clear = rgba(0, 0, 0, 0);
    Q_GUI_THEME t =
        q_gui_make_theme(clear, hover, active, clear, clear, clear, rgba(200, 200, 200, 255),
                         rgba(255, 255, 255, 255), rgba(255, 255, 255, 255), 0.0f, 2.0f, 2.0f);
    t.selection_color = clear;
    return t;
}

} // namespace

Q_GUI_THEME q_gui_default_tb_btn_theme() {
    return title_button_theme(rgba(255, 255, 255, 40), rgba(255, 255, 255, 80));
}

Q_GUI_THEME q_gui_default_tb_close_theme() {
    return title_button_theme(rgba(232, 17, 35, 220), rgba(200, 10, 25, 255));
}

Q_GUI_THEME q_gui_make_theme(ALLEGRO_COLOR bg_normal, ALLEGRO_COLOR bg_hover,
                             ALLEGRO_COLOR bg_active, ALLEGRO_COLOR border_normal,
                             ALLEGRO_COLOR border_hover, ALLEGRO_COLOR border_active,
                             ALLEGRO_COLOR text_normal, ALLEGRO_COLOR text_hover,
                             ALLEGRO_COLOR text_active, float border_thickness, float corner_rx,
                             float corner_ry) {
    Q_GUI_THEME t;
    t.bg_normal = bg_normal;
    t.bg_hover = bg_hover;
    t.bg_active = bg_active;
    t.border_normal = border_normal;
    t.border_hover = border_hover;
    t.border_active = border_active;
    t.text_normal = text_normal;
    t.text_hover = text_hover;
    t.text_active = text_active;
    t.border_thickness = border_thickness;
    t.corner_rx = corner_rx;
    t.corner_ry = corner_ry;
    t.selection_color = rgba(50, 100, 200, 120);
    return t;
}

Q_GUI_STYLE q_gui_default_style() {
    Q_GUI_STYLE s;
    s.titlebar_h = 28;
    s.min_win_w = 120;
    s.min_win_h = 60;
    s.title_padding = 8;
    s.title_max_w_reserve = 16;
    s.tb_btn_size = 0;
    s.tb_btn_spacing = 2;
    s.tb_btn_right_margin = 4;
    s.tb_btn_glyph_thickness = 1.5f;
    s.scrollbar_size = 12;
    s.scrollbar_thumb_min = 16;
    s.scrollbar_thumb_padding = 2;
    s.scrollbar_thumb_corner_r = 3;
    s.scrollbar_track_color = rgba(40, 40, 50, 200);
    s.scrollbar_thumb_color = rgba(120, 120, 140, 220);
    s.global_scrollbar_size = 14;
    s.global_scrollbar_thumb_min = 20;
    s.global_scrollbar_thumb_padding = 2;
    s.global_scrollbar_thumb_corner_r = 4;
    s.global_scrollbar_border_thickness = 1;
    s.global_scrollbar_track_color = rgba(30, 30, 40, 200);
    s.global_scrollbar_thumb_color = rgba(100, 100, 120, 220);
    s.global_scrollbar_thumb_border_color = rgba(140, 140, 160, 255);
    s.grip_size = 12;
    s.grip_line_thickness = 1;
    s.grip_color = rgba(160, 160, 180, 200);
    s.slider_track_size = 6;
    s.slider_track_corner_r = 3;
    s.slider_track_border_thickness = 1;
    s.slider_handle_min_r = 4;
    s.slider_handle_edge_offset = 2;
    s.slider_handle_border_thickness = 1.5f;
    s.slider_value_label_offset = 8;
    s.tooltip_delay = 0.6f;
    s.tooltip_bg = rgba(28, 30, 36, 240);
    s.tooltip_border = rgba(110, 115, 130, 255);
    s.tooltip_text = rgba(225, 225, 230, 255);
    s.tooltip_max_w = 480;
    s.textarea_padding = 4;
    s.textarea_cursor_width = 2;
    s.textarea_cursor_blink_period = 1.0f;
    s.checkbox_max_size = 20;
    s.checkbox_mark_margin = 4;
    s.checkbox_mark_thickness = 2;
    s.checkbox_label_gap = 10;
    s.checkbox_label_offset = 6;
    s.radio_circle_min_r = 4;
    s.radio_circle_border_thickness = 1.5f;
    s.radio_inner_offset = 3;
    s.radio_label_gap = 6;
    s.listbox_default_item_height = 20;
    s.radiolist_default_item_height = 22;
    s.combobox_max_visible = 6;
    s.dropmenu_max_visible = 12;
    s.item_text_padding = 6;
    s.item_selection_inset = 1;
    s.item_height_pad = 4;
    s.dropdown_arrow_reserve = 16;
    s.dropdown_arrow_thickness = 1.5f;
    s.dropdown_arrow_half_h = 3;
    s.dropdown_arrow_half_w = 5;
    s.dropdown_border_thickness = 1;
    s.shape_mode = -1;
    s.label_padding = 4;
    s.link_underline_thickness = 1;
    s.link_color_normal = rgba(80, 140, 220, 255);
    s.link_color_hover = rgba(120, 180, 255, 255);
    s.scroll_step = 20;
    s.global_scroll_step = 30;
    s.combobox_max_dropdown_width = 0;
    return s;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Theme setters
// --------------------------------------------------------------------------------------------

void q_gui_set_default_theme(Q_GUI_CTX* ctx, const Q_GUI_THEME* theme) {
    q_assert(ctx, return );
    q_assert(theme, return );
    ctx->default_theme = *theme;
}

void q_gui_window_set_tb_btn_theme(Q_GUI_CTX* ctx, int id, const Q_GUI_THEME* theme) {
    q_assert(ctx, return );
    q_assert(theme, return );
    if (Q_GUI_WINDOW* win = _window(ctx, id)) win->tb_btn_theme = *theme;
}

void q_gui_window_set_tb_close_theme(Q_GUI_CTX* ctx, int id, const Q_GUI_THEME* theme) {
    q_assert(ctx, return );
    q_assert(theme, return );
    if (Q_GUI_WINDOW* win = _window(ctx, id)) win->tb_close_theme = *theme;
}

void q_gui_window_set_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* titlebar,
                              ALLEGRO_BITMAP* background, int background_mode) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    win->titlebar_bitmap = titlebar;
    win->background_bitmap = background;
    win->background_mode = background_mode;
}

void q_gui_window_set_tb_button_bitmaps(Q_GUI_CTX* ctx, int id, int button, ALLEGRO_BITMAP* normal,
                                        ALLEGRO_BITMAP* hover, ALLEGRO_BITMAP* pressed) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win || button < 1 || button > 3) return;
    win->tb_bitmaps[button - 1][0] = normal;
    win->tb_bitmaps[button - 1][1] = hover;
    win->tb_bitmaps[button - 1][2] = pressed;
}

void q_gui_set_shape_mode(Q_GUI_CTX* ctx, int mode) {
    q_assert(ctx, return );
    ctx->style.shape_mode = mode == 1 ? 1 : 0;
}

int q_gui_get_shape_mode(Q_GUI_CTX* ctx) {
    q_assert(ctx, return 1);
    return ctx->style.shape_mode;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Drawing helpers
// --------------------------------------------------------------------------------------------

float _line_width(float width) {
    const ALLEGRO_TRANSFORM* t = al_get_current_transform();
    float scale = 1.0f;
    if (t) {
        const float sx = std::hypot(t->m[0][0], t->m[0][1]);
        const float sy = std::hypot(t->m[1][0], t->m[1][1]);
        scale = std::max(sx, sy);
    }
    return std::max(width, 1.0f / std::max(0.01f, scale));
}

Q_GUI_COLOURS _state_colours(const Q_GUI_THEME* theme, uint32_t state) {
    if (state & Q_GUI_WIDGET_PRESSED)
        return Q_GUI_COLOURS{theme->bg_active, theme->border_active, theme->text_active};
    if (state & Q_GUI_WIDGET_HOVER)
        return Q_GUI_COLOURS{theme->bg_hover, theme->border_hover, theme->text_hover};
    return Q_GUI_COLOURS{theme->bg_normal, theme->border_normal, theme->text_normal};
}

void _draw_themed_rect(const Q_GUI_THEME* theme, uint32_t state, Q_GUI_RECT r, bool rounded) {
    const Q_GUI_COLOURS c = _state_colours(theme, state);
    const float x2 = r.x + r.w, y2 = r.y + r.h;
    if (rounded) {
        _fill_rounded(r.x, r.y, x2, y2, theme->corner_rx, theme->corner_ry, c.bg);
        if (theme->border_thickness > 0.0f)
            _rounded_outline(r.x, r.y, x2, y2, theme->corner_rx, theme->corner_ry, c.border,
                             _line_width(theme->border_thickness));
        return;
    }
    _fill_rect(r.x, r.y, x2, y2, c.bg);
    if (theme->border_thickness > 0.0f) {
        const float lw = _line_width(theme->border_thickness);
        _rect_outline(r.x + lw / 2, r.y + lw / 2, x2 - lw / 2, y2 - lw / 2, c.border, lw);
    }
}

void _draw_vscrollbar(Q_GUI_CTX* ctx, Q_GUI_RECT track, float view, float content, float scroll,
                      ALLEGRO_COLOR track_colour, ALLEGRO_COLOR thumb_colour, float min_thumb) {
    const Q_GUI_STYLE& st = ctx->style;
    _fill_rect(track.x, track.y, track.x + track.w, track.y + track.h, track_colour);
    const Q_GUI_THUMB thumb = _thumb(track.h, view, content, scroll, min_thumb);
    const float pad = st.scrollbar_thumb_padding;
    _fill_rounded(track.x + pad, track.y + thumb.pos + pad, track.x + track.w - pad,
                  track.y + thumb.pos + thumb.len - pad, st.scrollbar_thumb_corner_r,
                  st.scrollbar_thumb_corner_r, thumb_colour);
}

namespace {

void draw_hscrollbar(Q_GUI_CTX* ctx, Q_GUI_RECT track, float view, float content, float scroll) {
    const Q_GUI_STYLE& st = ctx->style;
    _fill_rect(track.x, track.y, track.x + track.w, track.y + track.h, st.scrollbar_track_color);
    const Q_GUI_THUMB thumb = _thumb(track.w, view, content, scroll, st.scrollbar_thumb_min);
    const float pad = st.scrollbar_thumb_padding;
    _fill_rounded(track.x + thumb.pos + pad, track.y + pad, track.x + thumb.pos + thumb.len - pad,
                  track.y + track.h - pad, st.scrollbar_thumb_corner_r, st.scrollbar_thumb_corner_r,
                  st.scrollbar_thumb_color);
}

} // namespace

Q_GUI_RECT _global_vtrack(const Q_GUI_CTX* ctx, const Q_GUI_VIEWPORT& vp) {
    return Q_GUI_RECT{vp.w, 0.0f, ctx->style.global_scrollbar_size, vp.h};
}

Q_GUI_RECT _global_htrack(const Q_GUI_CTX* ctx, const Q_GUI_VIEWPORT& vp) {
    return Q_GUI_RECT{0.0f, vp.h, vp.w, ctx->style.global_scrollbar_size};
}

// --------------------------------------------------------------------------------------------
// [SECTION] Windows
// --------------------------------------------------------------------------------------------

namespace {

void draw_tb_glyph(int which, bool maximised, Q_GUI_RECT r, ALLEGRO_COLOR colour, float lw) {
    const float cx = r.x + r.w / 2, cy = r.y + r.h / 2, s = 0.22f * r.w;
    if (which == 1) {
        _line(cx - s, cy + s / 2, cx + s, cy + s / 2, colour, lw);
    } else if (which == 2 && maximised) {
        _rect_outline(cx - s + 2, cy - s - 1, cx + s + 1, cy + s - 2, colour, lw);
        _rect_outline(cx - s - 1, cy - s + 2, cx + s - 2, cy + s + 1, colour, lw);
    } else if (which == 2) {
        _rect_outline(cx - s, cy - s, cx + s, cy + s, colour, lw);
    } else {
        _line(cx - s, cy - s, cx + s, cy + s, colour, lw);
        _line(cx - s, cy + s, cx + s, cy - s, colour, lw);
    }
}

// Draws the title bar; returns the width its buttons take.
float draw_title_bar(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win, const ALLEGRO_FONT* font) {
    const float tb = win->titlebar_h;
    if (win->titlebar_bitmap)
        _draw_bitmap_scaled(win->titlebar_bitmap, {win->x, win->y, win->w, tb});
    else
        _fill_rounded(win->x, win->y, win->x + win->w, win->y + tb, win->theme.corner_rx,
                      win->theme.corner_ry, win->theme.bg_active);
    float buttons_left = win->x + win->w;
    for (int which = 1; which <= 3; which++) {
        Q_GUI_RECT r;
        if (!_tb_button_rect(ctx, win, which, &r)) continue;
        buttons_left = std::min(buttons_left, r.x);
        uint32_t state = 0;
        if (win->tb_pressed == which)
            state = Q_GUI_WIDGET_PRESSED;
        else if (win->tb_hover == which)
            state = Q_GUI_WIDGET_HOVER;
        ALLEGRO_BITMAP* const* skins = win->tb_bitmaps[which - 1];
        ALLEGRO_BITMAP* skin = skins[state == Q_GUI_WIDGET_PRESSED ? 2 : state ? 1 : 0];
        if (!skin) skin = skins[0];
        if (skin) {
            _draw_bitmap_scaled(skin, r);
            continue;
        }
        const Q_GUI_THEME& theme = which == 3 ? win->tb_close_theme : win->tb_btn_theme;
        _draw_themed_rect(&theme, state, r, true);
        draw_tb_glyph(which, win->state & Q_GUI_WIN_MAXIMISED, r,
                      _state_colours(&theme, state).text,
                      _line_width(ctx->style.tb_btn_glyph_thickness));
    }
    const float used = win->x + win->w - buttons_left;
    if (font && win->title[0]) {
        const float ty = win->y + (tb - static_cast<float>(al_get_font_line_height(font))) / 2;
        const float max_w =
            win->w - ctx->style.title_max_w_reserve - used - ctx->style.title_padding;
        _draw_text_fit(ctx, font, win->theme.text_active, win->x + ctx->style.title_padding, ty,
                       max_w, win->title, static_cast<int>(strlen(win->title)));
    }
    return used;
}

void draw_body(Q_GUI_WINDOW* win) {
    const float top = win->y + _titlebar_height(win);
    ALLEGRO_BITMAP* bg = win->background_bitmap;
    if (bg && win->background_mode == 2) {
        const float bw = static_cast<float>(al_get_bitmap_width(bg));
        const float bh = static_cast<float>(al_get_bitmap_height(bg));
        _draw_bitmap_scaled(
            bg, {win->x + (win->w - bw) / 2, top + (win->y + win->h - top - bh) / 2, bw, bh});
    } else if (bg) {
        _draw_bitmap_scaled(bg, {win->x, top, win->w, win->y + win->h - top});
    } else {
        _fill_rect(win->x, top, win->x + win->w, win->y + win->h, win->theme.bg_normal);
    }
    if (win->theme.border_thickness > 0.0f)
        _rounded_outline(win->x, win->y, win->x + win->w, win->y + win->h, win->theme.corner_rx,
                         win->theme.corner_ry, win->theme.border_normal,
                         _line_width(win->theme.border_thickness));
}

void draw_widgets(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win, const Q_GUI_RECT& area) {
    float ox = 0, oy = 0;
    _content_origin(win, &ox, &oy);
    static const ALLEGRO_COLOR veil = al_map_rgba(0, 0, 0, 120);
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        Q_GUI_WIDGET* w = static_cast<Q_GUI_WIDGET*>(n->ptr);
        if (!w->visible) continue;
        const float x = ox + w->x, y = oy + w->y;
        // A slider's value text hangs below it, so allow a little room before culling.
        if (x > area.x + area.w || y > area.y + area.h || x + w->w < area.x ||
            y + w->h + 40.0f < area.y)
            continue;
        if (w->enabled) {
            _draw_widget(ctx, w, x, y);
            continue;
        }
        const uint32_t saved = w->state;
        w->state = 0;
        _draw_widget(ctx, w, x, y);
        w->state = saved;
        _fill_rect(x, y, x + w->w, y + w->h, veil);
    }
}

// Three diagonal strokes in the corner a resize drag takes: bottom-right, or bottom-left for a
// window resized from its left edge.
void draw_grip(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win, bool left) {
    const Q_GUI_STYLE& st = ctx->style;
    const float corner = left ? win->x + 1 : win->x + win->w - 1, bottom = win->y + win->h;
    const float inward = left ? 1.0f : -1.0f, g = st.grip_size;
    const float lw = _line_width(st.grip_line_thickness);
    for (int i = 1; i <= 3; i++) {
        const float d = g * static_cast<float>(i) / 3.0f - 1;
        _line(corner + inward * d, bottom - 1, corner, bottom - 1 - d, st.grip_color, lw);
    }
}

Q_GUI_RECT intersect(const Q_GUI_RECT& a, const Q_GUI_RECT& b) {
    const float x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    const float x1 = std::min(a.x + a.w, b.x + b.w), y1 = std::min(a.y + a.h, b.y + b.h);
    return Q_GUI_RECT{x0, y0, std::max(0.0f, x1 - x0), std::max(0.0f, y1 - y0)};
}

// `limit`, when given, is the only part being drawn: widgets outside it are skipped.
void draw_window(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win, const Q_GUI_RECT* limit = nullptr) {
    const ALLEGRO_FONT* font = _window_font(ctx, win);
    const bool titlebar = !(win->flags & Q_GUI_WINDOW_NO_TITLEBAR);
    if (titlebar) draw_title_bar(ctx, win, font);
    if (win->state & Q_GUI_WIN_MINIMISED) {
        _rounded_outline(win->x, win->y, win->x + win->w, win->y + _titlebar_height(win),
                         win->theme.corner_rx, win->theme.corner_ry, win->theme.border_normal,
                         _line_width(win->theme.border_thickness));
        return;
    }
    _clamp_scroll(ctx, win);
    const Q_GUI_CONTENT_LAYOUT layout = _content_layout(ctx, win);
    draw_body(win);
    {
        Q_GUI_CLIP_SCOPE clip(layout.area);
        draw_widgets(ctx, win, limit ? intersect(layout.area, *limit) : layout.area);
    }
    const Q_GUI_RECT& a = layout.area;
    const float bar = ctx->style.scrollbar_size;
    // The bars and the grip lie outside the widget area but inside the window.
    Q_GUI_CLIP_SCOPE clip(Q_GUI_RECT{win->x, win->y, win->w, win->h});
    if (layout.vbar)
        _draw_vscrollbar(ctx, Q_GUI_RECT{a.x + a.w, a.y, bar, a.h}, a.h, win->content_h,
                         win->scroll_y, ctx->style.scrollbar_track_color,
                         ctx->style.scrollbar_thumb_color, ctx->style.scrollbar_thumb_min);
    if (layout.hbar)
        draw_hscrollbar(ctx, Q_GUI_RECT{a.x, a.y + a.h, a.w, bar}, a.w, win->content_w,
                        win->scroll_x);
    if (win->flags & Q_GUI_WINDOW_RESIZABLE) draw_grip(ctx, win, false);
    if (win->flags & Q_GUI_WINDOW_RESIZE_LEFT) draw_grip(ctx, win, true);
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Tooltip
// --------------------------------------------------------------------------------------------

namespace {

struct TipMeasure {
    const ALLEGRO_FONT* font;
    int lines;
    float widest;
};

bool measure_tip_line(int, const char* line, int size, void* extra) {
    TipMeasure* m = static_cast<TipMeasure*>(extra);
    m->lines++;
    m->widest = std::max(m->widest, _text_x_at(m->font, line, size, size));
    return true;
}

// Drawn in display pixels, in the caller's transform, next to the pointer.
void draw_tooltip(Q_GUI_CTX* ctx) {
    const Q_GUI_STYLE& st = ctx->style;
    if (st.tooltip_delay <= 0.0f || ctx->tooltip_id < 0) return;
    if (al_get_time() - ctx->hover_start < st.tooltip_delay) return;
    Q_GUI_WIDGET* w = _widget(ctx, ctx->tooltip_id);
    if (!w || !w->tooltip || !w->visible) return;
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    if (!font) return;
    const float dw = ctx->display_w > 0.0f ? ctx->display_w : st.tooltip_max_w + 20.0f;
    const float dh = ctx->display_h;
    const float line_h = static_cast<float>(al_get_font_line_height(font)) + 2.0f;
    const float max_w = std::max(1.0f, std::min(st.tooltip_max_w, dw - 20.0f));
    TipMeasure m{font, 0, 0.0f};
    al_do_multiline_text(font, max_w, w->tooltip, measure_tip_line, &m);
    const float box_w = m.widest + 16.0f, box_h = static_cast<float>(m.lines) * line_h + 10.0f;
    float x = static_cast<float>(ctx->mouse_x) + 14.0f,
          y = static_cast<float>(ctx->mouse_y) + 20.0f;
    if (x + box_w > dw) x = std::max(0.0f, dw - box_w);
    if (dh > 0.0f && y + box_h > dh) {
        y = static_cast<float>(ctx->mouse_y) - box_h - 6.0f;
        if (y < 0.0f) y = std::max(0.0f, dh - box_h);
    }
    ctx->tooltip_drawn = 1;
    _fill_rounded(x, y, x + box_w, y + box_h, 4, 4, st.tooltip_bg);
    _rounded_outline(x, y, x + box_w, y + box_h, 4, 4, st.tooltip_border, _line_width(1.0f));
    _paint_flush();
    al_draw_multiline_text(font, st.tooltip_text, x + 8.0f, y + 5.0f, max_w, line_h, 0, w->tooltip);
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] q_gui_draw
// --------------------------------------------------------------------------------------------

namespace {

void clamp_global_scroll(Q_GUI_CTX* ctx, const Q_GUI_VIEWPORT& vp) {
    ctx->global_scroll_x =
        vp.hbar ? std::clamp(ctx->global_scroll_x, 0.0f, ctx->gui_extent_w - vp.w) : 0.0f;
    ctx->global_scroll_y =
        vp.vbar ? std::clamp(ctx->global_scroll_y, 0.0f, ctx->gui_extent_h - vp.h) : 0.0f;
    if (!std::isfinite(ctx->global_scroll_x)) ctx->global_scroll_x = 0.0f;
    if (!std::isfinite(ctx->global_scroll_y)) ctx->global_scroll_y = 0.0f;
}

void virtual_transform(const Q_GUI_CTX* ctx, const ALLEGRO_TRANSFORM* base, float scroll_x,
                       float scroll_y, ALLEGRO_TRANSFORM* out);

// Premultiplied blending and the GUI's transform (virtual canvas, whole-GUI scroll) for the
// object's lifetime; the caller's blender and transform come back after.
class GuiPaintScope {
  public:
    explicit GuiPaintScope(const Q_GUI_CTX* ctx) {
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
        al_copy_transform(&saved_, al_get_current_transform());
        ALLEGRO_TRANSFORM gui;
        virtual_transform(ctx, &saved_, ctx->global_scroll_x, ctx->global_scroll_y, &gui);
        al_use_transform(&gui);
    }
    ~GuiPaintScope() { al_use_transform(&saved_); }
    GuiPaintScope(const GuiPaintScope&) = delete;
    GuiPaintScope& operator=(const GuiPaintScope&) = delete;
    const ALLEGRO_TRANSFORM* caller() const { return &saved_; }

  private:
    Q_GUI_BLENDER_SCOPE blender_;
    ALLEGRO_TRANSFORM saved_;
};

// The letter-box placement of the virtual canvas, composed onto the caller's transform.
void virtual_transform(const Q_GUI_CTX* ctx, const ALLEGRO_TRANSFORM* base, float scroll_x,
                       float scroll_y, ALLEGRO_TRANSFORM* out) {
    al_identity_transform(out);
    al_translate_transform(out, -scroll_x, -scroll_y);
    if (ctx->virtual_w > 0.0f && ctx->virtual_h > 0.0f) {
        al_scale_transform(out, ctx->virtual_scale, ctx->virtual_scale);
        al_translate_transform(out, ctx->virtual_offset_x, ctx->virtual_offset_y);
    }
    al_compose_transform(out, base);
}

void draw_global_bar(Q_GUI_CTX* ctx, Q_GUI_RECT track, bool vertical, float view, float content,
                     float scroll) {
    const Q_GUI_STYLE& st = ctx->style;
    _fill_rect(track.x, track.y, track.x + track.w, track.y + track.h,
               st.global_scrollbar_track_color);
    const Q_GUI_THUMB t =
        _thumb(vertical ? track.h : track.w, view, content, scroll, st.global_scrollbar_thumb_min);
    const float pad = st.global_scrollbar_thumb_padding;
    Q_GUI_RECT thumb =
        vertical
            ? Q_GUI_RECT{track.x + pad, track.y + t.pos + pad, track.w - 2 * pad, t.len - 2 * pad}
            : Q_GUI_RECT{track.x + t.pos + pad, track.y + pad, t.len - 2 * pad, track.h - 2 * pad};
    const float r = st.global_scrollbar_thumb_corner_r;
    _fill_rounded(thumb.x, thumb.y, thumb.x + thumb.w, thumb.y + thumb.h, r, r,
                  st.global_scrollbar_thumb_color);
    _rounded_outline(thumb.x, thumb.y, thumb.x + thumb.w, thumb.y + thumb.h, r, r,
                     st.global_scrollbar_thumb_border_color,
                     _line_width(st.global_scrollbar_border_thickness));
}

// Every open window that reaches into `limit` (every open window without one), then an open
// drop-down list.
void draw_open_windows(Q_GUI_CTX* ctx, const Q_GUI_RECT* limit) {
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(n->ptr);
        if (!(win->state & Q_GUI_WIN_OPEN)) continue;
        if (limit) {
            const Q_GUI_RECT frame =
                intersect({win->x - 2, win->y - 2, win->w + 4, _window_visible_height(win) + 4}, *limit);
            if (frame.w <= 0.0f || frame.h <= 0.0f) continue;
        }
        draw_window(ctx, win, limit);
        _paint_flush();
        if (!(win->state & Q_GUI_WIN_MINIMISED) && win->content_draw_cb)
            win->content_draw_cb(win->id, win->content_draw_user);
    }
    _draw_combo_dropdown(ctx);
    _paint_flush();
}

} // namespace

void q_gui_draw(Q_GUI_CTX* ctx) {
    q_assert(ctx, return );
    if (!al_get_target_bitmap()) return;
    ctx->current_draw_display = NULL;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(n->ptr);
        if (win->autofit_flags) _apply_autofit(win);
    }
    _update_gui_extent(ctx);
    const Q_GUI_VIEWPORT vp = _viewport(ctx);
    clamp_global_scroll(ctx, vp);

    GuiPaintScope paint(ctx);
    {
        std::optional<Q_GUI_CLIP_SCOPE> clip;
        if (vp.vbar || vp.hbar)
            clip.emplace(Q_GUI_RECT{ctx->global_scroll_x, ctx->global_scroll_y, vp.w, vp.h});
        draw_open_windows(ctx, nullptr);
    }
    if (vp.vbar || vp.hbar) {
        ALLEGRO_TRANSFORM bars;
        virtual_transform(ctx, paint.caller(), 0.0f, 0.0f, &bars);
        al_use_transform(&bars);
        if (vp.vbar)
            draw_global_bar(ctx, _global_vtrack(ctx, vp), true, vp.h, ctx->gui_extent_h,
                            ctx->global_scroll_y);
        if (vp.hbar)
            draw_global_bar(ctx, _global_htrack(ctx, vp), false, vp.w, ctx->gui_extent_w,
                            ctx->global_scroll_x);
        _paint_flush();
    }
    al_use_transform(paint.caller()); // the tooltip is placed in display pixels
    ctx->tooltip_drawn = 0;
    draw_tooltip(ctx);
    ctx->dirty = 0;
    ctx->damage_count = 0;
    ctx->damage_all = 0;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Partial redraws: what pointer movement changed
// --------------------------------------------------------------------------------------------
//
// Moving the pointer over a panel changes at most the widget it leaves and the one it enters.
// Those parts are noted here, so that a caller keeping the picture can redraw only them.

void _damage_rect(Q_GUI_CTX* ctx, Q_GUI_RECT r) {
    if (!(r.w > 0.0f) || !(r.h > 0.0f)) return;
    if (ctx->damage_count == Q_GUI_DAMAGE_MAX) {
        ctx->damage_all = 1;
        return;
    }
    ctx->damage[ctx->damage_count++] = Q_GUI_AREA{r.x, r.y, r.w, r.h};
}

void _damage_widget(Q_GUI_CTX* ctx, const Q_GUI_WIDGET* w) {
    if (!w->visible || !(w->window->state & Q_GUI_WIN_OPEN)) return;
    const Q_GUI_STYLE& st = ctx->style;
    // Outlines are centred on the edge and smoothed; a slider's knob reaches past its ends.
    const float pad = 2.0f + std::ceil(std::max(0.0f, w->theme.border_thickness));
    const float reach = w->kind == Q_GUI_KIND_SLIDER
                            ? std::ceil(std::max(st.slider_handle_min_r, w->h / 2) +
                                        st.slider_handle_border_thickness)
                            : 0.0f;
    Q_GUI_RECT r = _widget_screen_rect(w);
    r = Q_GUI_RECT{r.x - pad - reach, r.y - pad, r.w + 2 * (pad + reach), r.h + 2 * pad};
    const Q_GUI_WINDOW* win = w->window;
    _damage_rect(ctx, intersect(r, Q_GUI_RECT{win->x, win->y, win->w, _window_visible_height(win)}));
}

int q_gui_take_damage(Q_GUI_CTX* ctx, Q_GUI_AREA* out, int max) {
    q_assert(ctx, return -1);
    const int count = ctx->damage_count;
    const bool all = ctx->damage_all || count > max || (count > 0 && !out);
    ctx->damage_count = 0;
    ctx->damage_all = 0;
    if (all) return -1;
    if (count == 0) return 0;
    // Areas are in GUI coordinates; a letter-boxed or scrolled GUI is drawn whole.
    const Q_GUI_VIEWPORT vp = _viewport(ctx);
    if (ctx->virtual_w > 0.0f || ctx->virtual_h > 0.0f || vp.vbar || vp.hbar) return -1;
    std::copy(ctx->damage, ctx->damage + count, out);
    return count;
}

void q_gui_draw_area(Q_GUI_CTX* ctx, Q_GUI_AREA area) {
    q_assert(ctx, return );
    if (!al_get_target_bitmap() || !(area.w > 0.0f) || !(area.h > 0.0f)) return;
    const Q_GUI_RECT limit{area.x, area.y, area.w, area.h};
    GuiPaintScope paint(ctx);
    Q_GUI_CLIP_SCOPE clip(limit);
    draw_open_windows(ctx, &limit);
}

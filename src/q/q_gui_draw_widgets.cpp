// ============================================================================================
// Toolkit drawing of the small widget kinds
//   [SECTION] Dispatch
//   [SECTION] Buttons and glyphs
//   [SECTION] Sliders
//   [SECTION] Check boxes
//   [SECTION] Labels
// ============================================================================================
#include <allegro5/allegro_primitives.h>

#include <cstdio>
#include <cstring>

#include "q/q_gui_internal.h"

namespace {

void draw_button(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y);
void draw_slider(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y);
void draw_checkbox(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y);
void draw_label(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y);

float line_top(const ALLEGRO_FONT* font, float y, float h) {
    return y + (h - static_cast<float>(al_get_font_line_height(font))) / 2.0f;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Dispatch
// --------------------------------------------------------------------------------------------

void _draw_widget(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y) {
    switch (w->kind) {
    case Q_GUI_KIND_BUTTON:
        draw_button(ctx, w, x, y);
        break;
    case Q_GUI_KIND_SLIDER:
        draw_slider(ctx, w, x, y);
        break;
    case Q_GUI_KIND_TEXTAREA:
        _draw_textarea(ctx, w, x, y);
        break;
    case Q_GUI_KIND_CHECKBOX:
        draw_checkbox(ctx, w, x, y);
        break;
    case Q_GUI_KIND_LISTBOX:
        _draw_listbox(ctx, w, x, y);
        break;
    case Q_GUI_KIND_COMBOBOX:
        _draw_combobox(ctx, w, x, y);
        break;
    case Q_GUI_KIND_LABEL:
        draw_label(ctx, w, x, y);
        break;
    case Q_GUI_KIND_COLORWHEEL:
        _draw_colorwheel(w, x, y);
        break;
    default:
        break;
    }
}

// --------------------------------------------------------------------------------------------
// [SECTION] Buttons and glyphs
// --------------------------------------------------------------------------------------------

namespace {

// Glyphs 1..8: minus, plus, cross, check, then arrows left, right, up and down.
void draw_glyph(int glyph, Q_GUI_RECT r, ALLEGRO_COLOR colour) {
    const float cx = r.x + r.w / 2, cy = r.y + r.h / 2;
    const float side = std::min(r.w, r.h), s = side * 0.25f;
    const float lw = _line_width(std::max(2.0f, 0.25f * side) * 0.5f);
    switch (glyph) {
    case 1:
        _line(cx - s, cy, cx + s, cy, colour, lw);
        break;
    case 2:
        _line(cx - s, cy, cx + s, cy, colour, lw);
        _line(cx, cy - s, cx, cy + s, colour, lw);
        break;
    case 3:
        _line(cx - s, cy - s, cx + s, cy + s, colour, lw);
        _line(cx - s, cy + s, cx + s, cy - s, colour, lw);
        break;
    case 4:
        _line(cx - s, cy, cx - s / 3, cy + s * 0.7f, colour, lw);
        _line(cx - s / 3, cy + s * 0.7f, cx + s, cy - s * 0.7f, colour, lw);
        break;
    case 5:
        _fill_triangle(cx + s / 2, cy - s, cx + s / 2, cy + s, cx - s / 2, cy, colour);
        break;
    case 6:
        _fill_triangle(cx - s / 2, cy - s, cx - s / 2, cy + s, cx + s / 2, cy, colour);
        break;
    case 7:
        _fill_triangle(cx - s, cy + s / 2, cx + s, cy + s / 2, cx, cy - s / 2, colour);
        break;
    case 8:
        _fill_triangle(cx - s, cy - s / 2, cx + s, cy - s / 2, cx, cy + s / 2, colour);
        break;
    default:
        break;
    }
}

void draw_button(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y) {
    const Q_GUI_BUTTON_DATA* bd = static_cast<const Q_GUI_BUTTON_DATA*>(w->data);
    uint32_t state = w->state;
    if ((bd->toggle_mode && bd->toggled) || bd->flash_until > al_get_time())
        state |= Q_GUI_WIDGET_PRESSED;
    const Q_GUI_RECT r{x, y, w->w, w->h};
    if (bd->shape == Q_GUI_SHAPE_BITMAP && bd->normal) {
        ALLEGRO_BITMAP* skin = bd->normal;
        if ((state & Q_GUI_WIDGET_PRESSED) && bd->pressed)
            skin = bd->pressed;
        else if ((state & Q_GUI_WIDGET_HOVER) && bd->hover)
            skin = bd->hover;
        _draw_bitmap_scaled(skin, r);
        return;
    }
    const int mode = ctx->style.shape_mode;
    const bool rounded = mode == 1 || (mode != 0 && bd->shape == Q_GUI_SHAPE_ROUNDED);
    _draw_themed_rect(&w->theme, state, r, rounded);
    const ALLEGRO_COLOR colour = _state_colours(&w->theme, state).text;
    if (bd->glyph) {
        draw_glyph(bd->glyph, r, colour);
        return;
    }
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    const int len = static_cast<int>(strlen(bd->label));
    if (!font || len == 0) return;
    const float pad = ctx->style.label_padding;
    const float room = r.w - 2.0f * pad;
    const float text_w = _text_width(ctx, font, bd->label, len);
    const float ty = line_top(font, r.y, r.h);
    if (text_w <= room)
        _draw_text(font, colour, r.x + (r.w - text_w) / 2.0f, ty, bd->label, len);
    else
        _draw_text_fit(ctx, font, colour, r.x + pad, ty, room, bd->label, len);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Sliders
// --------------------------------------------------------------------------------------------

void draw_slider(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y) {
    const Q_GUI_SLIDER_DATA* sd = static_cast<const Q_GUI_SLIDER_DATA*>(w->data);
    const Q_GUI_STYLE& st = ctx->style;
    const Q_GUI_THEME& th = w->theme;
    const double range = sd->max - sd->min;
    const float t = range > 0.0
                        ? static_cast<float>(std::clamp((sd->value - sd->min) / range, 0.0, 1.0))
                        : 0.0f;
    const bool vertical = sd->orientation == 1;
    const float half = st.slider_track_size / 2.0f;
    const Q_GUI_RECT track = vertical
                                 ? Q_GUI_RECT{x + w->w / 2 - half, y, st.slider_track_size, w->h}
                                 : Q_GUI_RECT{x, y + w->h / 2 - half, w->w, st.slider_track_size};
    const float hx = vertical ? x + w->w / 2 : x + t * w->w;
    const float hy = vertical ? y + (1.0f - t) * w->h : y + w->h / 2;
    const float rr = st.slider_track_corner_r;
    if (sd->track) {
        _draw_bitmap_scaled(sd->track, track);
    } else {
        _fill_rounded(track.x, track.y, track.x + track.w, track.y + track.h, rr, rr, th.bg_normal);
        // The part up to the handle shows the value at a glance.
        if (vertical)
            _fill_rounded(track.x, hy, track.x + track.w, track.y + track.h, rr, rr, th.bg_active);
        else
            _fill_rounded(track.x, track.y, hx, track.y + track.h, rr, rr, th.bg_active);
        _rounded_outline(track.x, track.y, track.x + track.w, track.y + track.h, rr, rr,
                         th.border_normal, _line_width(st.slider_track_border_thickness));
    }
    const float radius = std::max(st.slider_handle_min_r,
                                  (vertical ? w->w : w->h) / 2.0f - st.slider_handle_edge_offset);
    const Q_GUI_COLOURS c = _state_colours(&th, w->state);
    if (sd->handle) {
        _draw_bitmap_scaled(sd->handle,
                            Q_GUI_RECT{hx - radius, hy - radius, 2 * radius, 2 * radius});
    } else {
        _fill_circle(hx, hy, radius, c.bg);
        _circle_outline(hx, hy, radius, c.border, _line_width(st.slider_handle_border_thickness));
    }
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    if (!sd->value_visible || !font) return;
    char text[64];
    const char* format = sd->format[0] ? sd->format : sd->mode == 1 ? "%.0f%%" : "%.1f";
    snprintf(text, sizeof text, format, sd->value);
    const int len =
        _utf8_cut(text, static_cast<int>(strlen(text)), static_cast<int>(sizeof text - 1));
    const float tw = _text_width(ctx, font, text, len);
    _draw_text(font, th.text_normal, x + (w->w - tw) / 2.0f,
               y + w->h + st.slider_value_label_offset, text, len);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Check boxes
// --------------------------------------------------------------------------------------------

void draw_checkbox(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y) {
    const Q_GUI_CHECKBOX_DATA* cd = static_cast<const Q_GUI_CHECKBOX_DATA*>(w->data);
    const Q_GUI_STYLE& st = ctx->style;
    const float side = std::min(w->h, st.checkbox_max_size);
    const Q_GUI_RECT box{x, y + (w->h - side) / 2.0f, side, side};
    ALLEGRO_BITMAP* skin = cd->normal;
    if ((w->state & Q_GUI_WIDGET_HOVER) && cd->hover)
        skin = cd->hover;
    else if (cd->checked && cd->checked_bitmap)
        skin = cd->checked_bitmap;
    if (skin)
        _draw_bitmap_scaled(skin, box);
    else
        _draw_themed_rect(&w->theme, w->state, box, false);
    if (cd->checked && !skin) {
        const float m = st.checkbox_mark_margin;
        const float lw = _line_width(st.checkbox_mark_thickness);
        const float left = box.x + m, right = box.x + side - m, top = box.y + m,
                    bottom = box.y + side - m;
        const float mid_x = left + (right - left) * 0.4f;
        _line(left, box.y + side / 2, mid_x, bottom, w->theme.text_active, lw);
        _line(mid_x, bottom, right, top, w->theme.text_active, lw);
    }
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    const int len = static_cast<int>(strlen(cd->label));
    if (!font || len == 0) return;
    _draw_text_fit(ctx, font, _state_colours(&w->theme, w->state).text,
                   x + side + st.checkbox_label_offset, line_top(font, y, w->h),
                   w->w - side - st.checkbox_label_gap, cd->label, len);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Labels
// --------------------------------------------------------------------------------------------

// Justified lines stretch their blanks to the full width; the last line of a paragraph keeps
// its natural spacing.
void draw_justified(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, const ALLEGRO_FONT* font, ALLEGRO_COLOR colour,
                    float x, float y) {
    const Q_GUI_LABEL_DATA* ld = static_cast<const Q_GUI_LABEL_DATA*>(w->data);
    const Q_GUI_STYLE& st = ctx->style;
    const float max_w = w->w - 2.0f * st.label_padding;
    const auto lines = _wrap_text(ctx, font, ld->text, ld->length, max_w, false);
    const float line_h = static_cast<float>(al_get_font_line_height(font));
    const float total = static_cast<float>(lines.size()) * line_h;
    const bool bar = total > w->h;
    const float room = bar ? max_w - st.scrollbar_size : max_w;
    Q_GUI_CLIP_SCOPE clip(Q_GUI_RECT{x, y, w->w, w->h});
    for (size_t i = 0; i < lines.size(); i++) {
        const Q_GUI_LINE& l = lines[i];
        const float ly = y + static_cast<float>(i) * line_h - ld->scroll;
        if (ly > y + w->h || ly + line_h < y) continue;
        const bool last = l.end >= ld->length || ld->text[l.end] == '\n';
        int blanks = 0;
        for (int p = l.start; p < l.end; p++)
            blanks += ld->text[p] == ' ';
        const float extra = (!last && blanks > 0) ? std::max(0.0f, room - l.width) / blanks : 0.0f;
        float pen = x + st.label_padding;
        int word = l.start;
        for (int p = l.start; p <= l.end; p++) {
            if (p < l.end && ld->text[p] != ' ') continue;
            _draw_text(font, colour, pen, ly, ld->text + word, p - word);
            pen += _text_width(ctx, font, ld->text + word, p - word);
            if (p < l.end) pen += _text_width(ctx, font, " ", 1) + extra;
            word = p + 1;
        }
    }
    if (bar)
        _draw_vscrollbar(ctx, Q_GUI_RECT{x + w->w - st.scrollbar_size, y, st.scrollbar_size, w->h},
                         w->h, total, ld->scroll, st.scrollbar_track_color,
                         st.scrollbar_thumb_color, st.scrollbar_thumb_min);
}

void draw_label(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y) {
    const Q_GUI_LABEL_DATA* ld = static_cast<const Q_GUI_LABEL_DATA*>(w->data);
    const Q_GUI_STYLE& st = ctx->style;
    if (ld->bitmap) _draw_bitmap_scaled(ld->bitmap, Q_GUI_RECT{x, y, w->w, w->h});
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    if (ld->length == 0 || !font) return;
    const bool link = ld->link[0] != 0;
    const ALLEGRO_COLOR colour =
        link ? ((w->state & Q_GUI_WIDGET_HOVER) ? st.link_color_hover : st.link_color_normal)
             : _state_colours(&w->theme, w->state).text;
    if (ld->alignment == Q_GUI_ALIGN_JUSTIFY) {
        draw_justified(ctx, w, font, colour, x, y);
        return;
    }
    // Positions come from the widget's place in its window, which is where it is drawn.
    const float tx = _label_text_x(ctx, w, font) - _widget_screen_rect(w).x + x;
    const float ty = line_top(font, y, w->h);
    const float line_h = static_cast<float>(al_get_font_line_height(font));
    if (ld->sel_anchor >= 0 && ld->sel_end != ld->sel_anchor) {
        const int a = std::min(ld->sel_anchor, ld->sel_end),
                  b = std::max(ld->sel_anchor, ld->sel_end);
        _fill_rect(tx + _text_x_at(font, ld->text, ld->length, a), ty,
                   tx + _text_x_at(font, ld->text, ld->length, b), ty + line_h,
                   w->theme.selection_color);
    }
    // A text that fits is drawn whole; working its room out again from the aligned position
    // can come out a rounding error short and cut it to "...".
    const float text_w = _text_width(ctx, font, ld->text, ld->length);
    const float room = text_w <= w->w - 2.0f * st.label_padding
                           ? text_w
                           : w->w - (tx - x) - st.label_padding;
    _draw_text_fit(ctx, font, colour, tx, ty, room, ld->text, ld->length);
    if (link) {
        const float uw = std::min(room, _text_width(ctx, font, ld->text, ld->length));
        const float uy = ty + static_cast<float>(al_get_font_ascent(font)) + 2.0f;
        _line(tx, uy, tx + uw, uy, colour, _line_width(st.link_underline_thickness));
    }
}

} // namespace

// ============================================================================================
// Toolkit lookups and geometry shared by events and drawing
//   [SECTION] Lookups and geometry
//
// Positions here are GUI positions: display pixels mapped through the virtual canvas and the
// whole-GUI scroll (see _to_gui).
// ============================================================================================
#include <cstdio>

#include "q/q_gui_internal.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Lookups and geometry
// --------------------------------------------------------------------------------------------

Q_GUI_WIDGET* _widget(Q_GUI_CTX* ctx, int id) {
    if (!ctx || !ctx->widgets || id <= 0) return NULL;
    char key[16];
    snprintf(key, sizeof key, "%d", id);
    void* item = NULL;
    return ht_get_ptr(ctx->widgets, key, &item) ? static_cast<Q_GUI_WIDGET*>(item) : NULL;
}

Q_GUI_WIDGET* _widget_of(Q_GUI_CTX* ctx, int id, int kind) {
    Q_GUI_WIDGET* w = _widget(ctx, id);
    return (w && w->kind == kind) ? w : NULL;
}

Q_GUI_WINDOW* _window(Q_GUI_CTX* ctx, int id) {
    if (!ctx || !ctx->windows || id <= 0) return NULL;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(n->ptr);
        if (win->id == id) return win;
    }
    return NULL;
}

bool _focusable_kind(int kind) {
    switch (kind) {
    case Q_GUI_KIND_SLIDER:
    case Q_GUI_KIND_TEXTAREA:
    case Q_GUI_KIND_CHECKBOX:
    case Q_GUI_KIND_SCROLLBAR:
    case Q_GUI_KIND_LISTBOX:
    case Q_GUI_KIND_RADIOLIST:
    case Q_GUI_KIND_COMBOBOX:
    case Q_GUI_KIND_DROPMENU:
    case Q_GUI_KIND_DATAGRID:
        return true;
    default:
        return false;
    }
}

ALLEGRO_FONT* _window_font(const Q_GUI_CTX* ctx, const Q_GUI_WINDOW* win) {
    return (win && win->font) ? win->font : ctx->default_font;
}

ALLEGRO_FONT* _widget_font(const Q_GUI_CTX* ctx, const Q_GUI_WIDGET* w) {
    return w->font ? w->font : _window_font(ctx, w->window);
}

float _titlebar_height(const Q_GUI_WINDOW* win) {
    return (win->flags & Q_GUI_WINDOW_NO_TITLEBAR) ? 0.0f : win->titlebar_h;
}

float _window_visible_height(const Q_GUI_WINDOW* win) {
    return (win->state & Q_GUI_WIN_MINIMISED) ? _titlebar_height(win) : win->h;
}

void _content_origin(const Q_GUI_WINDOW* win, float* ox, float* oy) {
    *ox = win->x - win->scroll_x;
    *oy = win->y + _titlebar_height(win) - win->scroll_y;
}

Q_GUI_RECT _widget_screen_rect(const Q_GUI_WIDGET* w) {
    float ox = 0, oy = 0;
    _content_origin(w->window, &ox, &oy);
    return Q_GUI_RECT{ox + w->x, oy + w->y, w->w, w->h};
}

void _measure_content(Q_GUI_WINDOW* win) {
    float right = 0.0f, bottom = 0.0f;
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        const Q_GUI_WIDGET* w = static_cast<const Q_GUI_WIDGET*>(n->ptr);
        if (!w->visible) continue;
        right = std::max(right, w->x + w->w);
        bottom = std::max(bottom, w->y + w->h);
    }
    win->content_w = right;
    win->content_h = bottom;
}

Q_GUI_CONTENT_LAYOUT _content_layout(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win) {
    const float tb = _titlebar_height(win);
    Q_GUI_CONTENT_LAYOUT out{
        {win->x, win->y + tb, win->w, std::max(0.0f, win->h - tb)}, false, false};
    if (!(win->flags & Q_GUI_WINDOW_SCROLLABLE)) return out;
    _measure_content(win);
    const float bar = ctx->style.scrollbar_size;
    const bool horizontal = (win->flags & Q_GUI_WINDOW_HSCROLLABLE) != 0;
    out.vbar = win->content_h > out.area.h;
    if (out.vbar) out.area.w = std::max(0.0f, out.area.w - bar);
    if (horizontal && win->content_w > out.area.w) {
        out.hbar = true;
        out.area.h = std::max(0.0f, out.area.h - bar);
        if (!out.vbar && win->content_h > out.area.h) {
            out.vbar = true;
            out.area.w = std::max(0.0f, out.area.w - bar);
        }
    }
    return out;
}

void _clamp_scroll(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win) {
    if (!(win->flags & Q_GUI_WINDOW_SCROLLABLE)) {
        win->scroll_x = win->scroll_y = 0.0f;
        return;
    }
    const Q_GUI_CONTENT_LAYOUT layout = _content_layout(ctx, win);
    const float max_y = std::max(0.0f, win->content_h - layout.area.h);
    const float max_x = std::max(0.0f, win->content_w - layout.area.w);
    win->scroll_y = std::isfinite(win->scroll_y) ? std::clamp(win->scroll_y, 0.0f, max_y) : 0.0f;
    if (!(win->flags & Q_GUI_WINDOW_HSCROLLABLE) || !std::isfinite(win->scroll_x))
        win->scroll_x = 0.0f;
    else
        win->scroll_x = std::clamp(win->scroll_x, 0.0f, max_x);
}

Q_GUI_THUMB _thumb(float track_len, float view, float content, float scroll, float min_len) {
    float len = track_len;
    if (content > 0.0f) len = std::min(1.0f, view / content) * track_len;
    len = std::min(track_len, std::max(min_len, len));
    const float travel = track_len - len;
    const float range = content - view;
    float pos = 0.0f;
    if (travel > 0.0f && range > 0.0f) pos = std::clamp(scroll / range, 0.0f, 1.0f) * travel;
    return Q_GUI_THUMB{pos, len};
}

float _scroll_from_pointer(float pointer, float track_start, float track_len, float view,
                           float content, float min_len) {
    const Q_GUI_THUMB thumb = _thumb(track_len, view, content, 0.0f, min_len);
    const float travel = track_len - thumb.len;
    const float range = content - view;
    if (travel <= 0.0f || range <= 0.0f) return 0.0f;
    const float t = std::clamp((pointer - track_start - thumb.len / 2.0f) / travel, 0.0f, 1.0f);
    return t * range;
}

void _update_gui_extent(Q_GUI_CTX* ctx) {
    float right = 0.0f, bottom = 0.0f;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        const Q_GUI_WINDOW* win = static_cast<const Q_GUI_WINDOW*>(n->ptr);
        if (!(win->state & Q_GUI_WIN_OPEN)) continue;
        right = std::max(right, win->x + win->w);
        bottom = std::max(bottom, win->y + _window_visible_height(win));
    }
    ctx->gui_extent_w = right;
    ctx->gui_extent_h = bottom;
}

Q_GUI_VIEWPORT _viewport(Q_GUI_CTX* ctx) {
    const bool virt = ctx->virtual_w > 0.0f && ctx->virtual_h > 0.0f;
    Q_GUI_VIEWPORT vp{virt ? ctx->virtual_w : ctx->display_w,
                      virt ? ctx->virtual_h : ctx->display_h, false, false};
    if (vp.w <= 0.0f || vp.h <= 0.0f) return vp; // no size known: nothing to scroll against
    const float bar = ctx->style.global_scrollbar_size;
    vp.vbar = ctx->gui_extent_h > vp.h;
    if (vp.vbar) vp.w -= bar;
    vp.hbar = ctx->gui_extent_w > vp.w;
    if (vp.hbar) {
        vp.h -= bar;
        if (!vp.vbar && ctx->gui_extent_h > vp.h) {
            vp.vbar = true;
            vp.w -= bar;
        }
    }
    vp.w = std::max(1.0f, vp.w);
    vp.h = std::max(1.0f, vp.h);
    return vp;
}

void _to_gui(const Q_GUI_CTX* ctx, float sx, float sy, float* gx, float* gy) {
    float vx = sx, vy = sy;
    if (ctx->virtual_w > 0.0f && ctx->virtual_h > 0.0f && ctx->virtual_scale > 0.0f) {
        vx = (sx - ctx->virtual_offset_x) / ctx->virtual_scale;
        vy = (sy - ctx->virtual_offset_y) / ctx->virtual_scale;
    }
    *gx = vx + ctx->global_scroll_x;
    *gy = vy + ctx->global_scroll_y;
}

Q_GUI_WINDOW* _window_at(Q_GUI_CTX* ctx, float gx, float gy) {
    for (LIST_NODE* n = ctx->windows->end; n; n = n->prev) {
        Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(n->ptr);
        if (!(win->state & Q_GUI_WIN_OPEN)) continue;
        const float h = _window_visible_height(win);
        if (h <= 0.0f) continue; // a minimised window without a title bar covers nothing
        if (Q_GUI_RECT{win->x, win->y, win->w, h}.contains(gx, gy)) return win;
    }
    return NULL;
}

Q_GUI_WIDGET* _widget_at(Q_GUI_WINDOW* win, float gx, float gy) {
    if (win->state & Q_GUI_WIN_MINIMISED) return NULL;
    const float tb = _titlebar_height(win);
    // Only the content area holds widgets: parts scrolled under the title bar or past the
    // window's edges are not drawn, so they are not hit either.
    if (!Q_GUI_RECT{win->x, win->y + tb, win->w, win->h - tb}.contains(gx, gy)) return NULL;
    for (LIST_NODE* n = win->widgets->end; n; n = n->prev) {
        Q_GUI_WIDGET* w = static_cast<Q_GUI_WIDGET*>(n->ptr);
        if (w->visible && w->enabled && _widget_screen_rect(w).contains(gx, gy)) return w;
    }
    return NULL;
}

int _resize_zone_at(const Q_GUI_CTX* ctx, const Q_GUI_WINDOW* win, float gx, float gy) {
    if (win->state & (Q_GUI_WIN_MAXIMISED | Q_GUI_WIN_MINIMISED)) return 0;
    const float grip = ctx->style.grip_size + 2.0f;
    const bool low = gy >= win->y + win->h - grip && gy <= win->y + win->h;
    if ((win->flags & Q_GUI_WINDOW_RESIZE_LEFT) && gx >= win->x && gy >= win->y &&
        gy <= win->y + win->h && (gx < win->x + std::max(4.0f, grip / 2) || (low && gx < win->x + grip)))
        return 2;
    if ((win->flags & Q_GUI_WINDOW_RESIZABLE) && low && gx >= win->x + win->w - grip &&
        gx <= win->x + win->w)
        return 1;
    return 0;
}

bool _tb_button_rect(Q_GUI_CTX* ctx, const Q_GUI_WINDOW* win, int which, Q_GUI_RECT* out) {
    if (win->flags & Q_GUI_WINDOW_NO_TITLEBAR) return false;
    const bool has_close = win->flags & Q_GUI_WINDOW_CLOSE_BUTTON;
    const bool has_max = win->flags & Q_GUI_WINDOW_MAXIMIZE_BUTTON;
    const bool has_min = win->flags & Q_GUI_WINDOW_MINIMIZE_BUTTON;
    int slot = 0;
    if (which == 3 && has_close)
        slot = 0;
    else if (which == 2 && has_max)
        slot = has_close ? 1 : 0;
    else if (which == 1 && has_min)
        slot = (has_close ? 1 : 0) + (has_max ? 1 : 0);
    else
        return false;
    const Q_GUI_STYLE& st = ctx->style;
    const float side = st.tb_btn_size > 0.0f ? st.tb_btn_size : win->titlebar_h - 4.0f;
    out->x = win->x + win->w - st.tb_btn_right_margin - side -
             static_cast<float>(slot) * (st.tb_btn_spacing + side);
    out->y = win->y + (win->titlebar_h - side) / 2.0f;
    out->w = out->h = side;
    return true;
}

int _tb_button_at(Q_GUI_CTX* ctx, const Q_GUI_WINDOW* win, float gx, float gy) {
    for (int which = 1; which <= 3; which++) {
        Q_GUI_RECT r;
        if (_tb_button_rect(ctx, win, which, &r) && r.contains(gx, gy)) return which;
    }
    return 0;
}

void _tb_button_fire(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win, int which) {
    if (which == 1) {
        if (win->minimize_cb)
            win->minimize_cb(win->id, win->minimize_user);
        else
            win->state ^= Q_GUI_WIN_MINIMISED;
    } else if (which == 2) {
        if (win->maximize_cb)
            win->maximize_cb(win->id, win->maximize_user);
        else
            q_gui_maximize_window(ctx, win->id);
    } else if (which == 3) {
        if (win->close_cb)
            win->close_cb(win->id, win->close_user);
        else
            win->state &= ~Q_GUI_WIN_OPEN;
    }
}

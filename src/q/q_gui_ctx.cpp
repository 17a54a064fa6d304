// ============================================================================================
// Toolkit context and windows
//   [SECTION] Small helpers
//   [SECTION] Context
//   [SECTION] Z-order
//   [SECTION] Windows
//   [SECTION] Focus
//   [SECTION] Auto-size and auto-fit
//   [SECTION] Display binding, virtual canvas, resize modes, DPI
// ============================================================================================
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "q/q_clipboard.h"
#include "q/q_common.h"
#include "q/q_gui_internal.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Small helpers
// --------------------------------------------------------------------------------------------

namespace {

// Rank of each z mode: windows of a lower rank are drawn first.
constexpr int ZORDER_RANK[] = {2, 3, 0, 1, 4};

// A size that is not a number becomes `fallback`; others are kept within 1..Q_GUI_MAX_COORD.
float sane_size(float v, float fallback) {
    if (!std::isfinite(v)) v = fallback;
    return std::clamp(v, 1.0f, Q_GUI_MAX_COORD);
}

void window_destroy(void* ptr) {
    Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(ptr);
    list_destroy(&win->widgets);
    free(win);
}

bool movable_by_raise(const Q_GUI_WINDOW* win) {
    return win->z_order == Q_GUI_ZORDER_NORMAL || win->z_order == Q_GUI_ZORDER_POPUP;
}

void rescale_widgets(Q_GUI_WINDOW* win) {
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        Q_GUI_WIDGET* w = static_cast<Q_GUI_WIDGET*>(n->ptr);
        if (!w->has_norm) continue;
        w->x = w->norm_x * win->w;
        w->y = w->norm_y * win->h;
        w->w = w->norm_w * win->w;
        w->h = w->norm_h * win->h;
    }
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Context
// --------------------------------------------------------------------------------------------

Q_GUI_CTX* q_gui_new_ctx(ALLEGRO_FONT* default_font) {
    q_assert(default_font, return NULL);
    Q_GUI_CTX* ctx = NULL;
    q_calloc(ctx, Q_GUI_CTX, 1);
    if (!ctx) return NULL;
    ctx->windows = new_generic_list(SIZE_MAX);
    if (!ctx->windows) {
        q_log(3, "q_gui_new_ctx: failed to allocate window list");
        free(ctx);
        return NULL;
    }
    ctx->widgets = new_ht(256);
    if (!ctx->widgets) {
        q_log(3, "q_gui_new_ctx: failed to allocate widget hash table");
        list_destroy(&ctx->windows);
        free(ctx);
        return NULL;
    }
    ctx->sectionlists = new_generic_list(SIZE_MAX);
    _text_cache_create(ctx);
    if (!ctx->sectionlists || !ctx->text_cache) {
        Q_GUI_CTX* partial = ctx;
        q_gui_destroy_ctx(&partial);
        return NULL;
    }
    ctx->next_widget_id = 1;
    ctx->next_window_id = 1;
    ctx->default_font = default_font;
    ctx->default_theme = q_gui_default_theme();
    ctx->focused_id = -1;
    ctx->pressed_id = -1;
    ctx->press_window_id = -1;
    ctx->open_combo_id = -1;
    ctx->open_dropmenu_id = -1;
    ctx->selecting_label_id = -1;
    ctx->tooltip_id = -1;
    ctx->hover_anchor_x = -10000;
    ctx->hover_anchor_y = -10000;
    ctx->dpi_scale = 1.0f;
    ctx->virtual_scale = 1.0f;
    ctx->style = q_gui_default_style();
    ctx->tb_btn_theme = q_gui_default_tb_btn_theme();
    ctx->tb_close_theme = q_gui_default_tb_close_theme();
    ctx->dirty = 1;
    return ctx;
}

void q_gui_destroy_ctx(Q_GUI_CTX** ctx) {
    q_assert(ctx, return );
    Q_GUI_CTX* c = *ctx;
    q_assert(c, return );
    q_clipboard_destroy();
    if (c->sectionlists) {
        // Section lists belong to the caller and may be freed later: they must not reach back.
        for (LIST_NODE* n = c->sectionlists->start; n; n = n->next)
            static_cast<Q_GUI_SECTIONLIST*>(n->ptr)->ctx = NULL;
        list_destroy(&c->sectionlists);
    }
    list_destroy(&c->windows);
    destroy_ht(&c->widgets);
    free(c->pending_layout);
    free(c->pending_widgets);
    _text_cache_destroy(c);
    free(c);
    *ctx = NULL;
}

int q_gui_set_default_font(Q_GUI_CTX* ctx, ALLEGRO_FONT* font) {
    q_assert(ctx, return 0);
    q_assert(font, return 0);
    ctx->default_font = font;
    _text_cache_clear(ctx);
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next)
        _measure_content(static_cast<Q_GUI_WINDOW*>(n->ptr));
    ctx->dirty = 1;
    return 1;
}

void q_gui_mark_dirty(Q_GUI_CTX* ctx) {
    q_assert(ctx, return );
    ctx->dirty = 1;
}

int q_gui_needs_redraw(Q_GUI_CTX* ctx) {
    q_assert(ctx, return 1);
    if (ctx->dirty || ctx->redraw_until > al_get_time()) return 1;
    return _widget_of(ctx, ctx->focused_id, Q_GUI_KIND_TEXTAREA) ? 1 : 0;
}

void q_gui_set_event_queue(Q_GUI_CTX* ctx, ALLEGRO_EVENT_QUEUE* queue) {
    q_assert(ctx, return );
    ctx->event_queue = queue;
}

ALLEGRO_EVENT_QUEUE* q_gui_get_event_queue(Q_GUI_CTX* ctx) {
    q_assert(ctx, return NULL);
    return ctx->event_queue;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Z-order
// --------------------------------------------------------------------------------------------

// Stable insertion sort by rank; fixed windows also by their z value. The list nodes stay
// where they are and only their items move, so sorting cannot fail half-way.
void _sort_zorder(Q_GUI_CTX* ctx) {
    const size_t count = ctx->windows->count;
    if (count < 2) return;
    Q_GUI_WINDOW** arr = NULL;
    q_calloc(arr, Q_GUI_WINDOW*, count);
    if (!arr) return;
    size_t i = 0;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next)
        arr[i++] = static_cast<Q_GUI_WINDOW*>(n->ptr);
    auto before = [](const Q_GUI_WINDOW* a, const Q_GUI_WINDOW* b) {
        const int ra = ZORDER_RANK[a->z_order], rb = ZORDER_RANK[b->z_order];
        if (ra != rb) return ra < rb;
        return a->z_order == Q_GUI_ZORDER_FIXED && a->z_value < b->z_value;
    };
    for (size_t k = 1; k < count; k++) {
        Q_GUI_WINDOW* item = arr[k];
        size_t j = k;
        while (j > 0 && before(item, arr[j - 1])) {
            arr[j] = arr[j - 1];
            j--;
        }
        arr[j] = item;
    }
    i = 0;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next)
        n->ptr = arr[i++];
    free(arr);
}

void _move_window_to_end(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win) {
    LIST_NODE* n = ctx->windows->start;
    while (n && n->ptr != win)
        n = n->next;
    for (; n && n->next; n = n->next)
        n->ptr = n->next->ptr;
    if (n) n->ptr = win;
}

namespace {

void move_window_to_start(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win) {
    LIST_NODE* n = ctx->windows->end;
    while (n && n->ptr != win)
        n = n->prev;
    for (; n && n->prev; n = n->prev)
        n->ptr = n->prev->ptr;
    if (n) n->ptr = win;
}

} // namespace

void q_gui_raise_window(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win || !movable_by_raise(win)) return;
    _move_window_to_end(ctx, win);
    _sort_zorder(ctx);
}

void q_gui_lower_window(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win || win->z_order != Q_GUI_ZORDER_NORMAL) return;
    move_window_to_start(ctx, win);
    _sort_zorder(ctx);
}

int q_gui_get_topmost_open_window(Q_GUI_CTX* ctx) {
    q_assert(ctx, return -1);
    for (LIST_NODE* n = ctx->windows->end; n; n = n->prev) {
        const Q_GUI_WINDOW* win = static_cast<const Q_GUI_WINDOW*>(n->ptr);
        if ((win->state & Q_GUI_WIN_OPEN) && !(win->state & Q_GUI_WIN_MINIMISED)) return win->id;
    }
    return -1;
}

void q_gui_window_set_zorder(Q_GUI_CTX* ctx, int id, int mode, int value) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    if (mode < 0 || mode > Q_GUI_ZORDER_POPUP) {
        q_log(3,
              "q_gui_window_set_zorder: unknown z_mode %d for window %d (expected "
              "Q_GUI_ZORDER_NORMAL, Q_GUI_ZORDER_ALWAYS_ON_TOP, Q_GUI_ZORDER_ALWAYS_BEHIND, "
              "Q_GUI_ZORDER_FIXED, or Q_GUI_ZORDER_POPUP), falling back to Q_GUI_ZORDER_NORMAL",
              mode, id);
        mode = Q_GUI_ZORDER_NORMAL;
    }
    win->z_order = mode;
    win->z_value = value;
    _sort_zorder(ctx);
}

int q_gui_window_get_zorder(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    const Q_GUI_WINDOW* win = _window(ctx, id);
    return win ? win->z_order : 0;
}

int q_gui_window_get_zvalue(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    const Q_GUI_WINDOW* win = _window(ctx, id);
    return win ? win->z_value : 0;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Windows
// --------------------------------------------------------------------------------------------

namespace {

// A saved rectangle waiting for a window of this title: each entry serves one window.
void take_pending_geometry(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win) {
    if (!win->title[0]) return;
    for (int i = 0; i < ctx->pending_layout_count; i++) {
        Q_GUI_PENDING_GEOM& p = ctx->pending_layout[i];
        if (p.consumed || strncmp(p.title, win->title, sizeof p.title) != 0) continue;
        const float dw = ctx->display_w, dh = ctx->display_h;
        win->x = (dw > 0.0f && (p.x < 0.0f || p.x > dw)) ? 0.0f : p.x;
        win->y = (dh > 0.0f && (p.y < 0.0f || p.y > dh)) ? 0.0f : p.y;
        if (p.w > 0.0f && p.h > 0.0f) {
            win->w = dw > 0.0f ? std::min(p.w, dw) : p.w;
            win->h = dh > 0.0f ? std::min(p.h, dh) : p.h;
        }
        const uint32_t kept =
            static_cast<uint32_t>(p.state) & (Q_GUI_WIN_MINIMISED | Q_GUI_WIN_MAXIMISED);
        win->state = (win->state & ~(Q_GUI_WIN_MINIMISED | Q_GUI_WIN_MAXIMISED)) | kept;
        p.consumed = 1;
        return;
    }
}

} // namespace

int q_gui_add_window(Q_GUI_CTX* ctx, const char* title, float x, float y, float w, float h) {
    q_assert(ctx, return -1);
    q_assert(ctx->windows, return -1);
    Q_GUI_WINDOW* win = NULL;
    q_calloc(win, Q_GUI_WINDOW, 1);
    if (!win) return -1;
    win->widgets = new_generic_list(SIZE_MAX);
    if (!win->widgets) {
        q_log(3, "q_gui_add_window: failed to allocate widget list");
        free(win);
        return -1;
    }
    _copy_text(win->title, sizeof win->title, title);
    win->x = _sane_position(x);
    win->y = _sane_position(y);
    win->w = sane_size(w, ctx->style.min_win_w);
    win->h = sane_size(h, ctx->style.min_win_h);
    win->titlebar_h = ctx->style.titlebar_h;
    win->state = Q_GUI_WIN_OPEN;
    win->theme = ctx->default_theme;
    win->tb_btn_theme = ctx->tb_btn_theme;
    win->tb_close_theme = ctx->tb_close_theme;
    win->min_w = ctx->style.min_win_w;
    win->min_h = ctx->style.min_win_h;
    take_pending_geometry(ctx, win);
    if (!list_push(ctx->windows, win, window_destroy)) {
        window_destroy(win);
        return -1;
    }
    win->id = ctx->next_window_id++;
    if (ctx->resize_mode == Q_GUI_RESIZE_ADAPTIVE) _capture_normalized(ctx, win);
    _sort_zorder(ctx);
    ctx->dirty = 1;
    return win->id;
}

int q_gui_add_window_auto(Q_GUI_CTX* ctx, const char* title) {
    q_assert(ctx, return -1);
    return q_gui_add_window(ctx, title, 0.0f, 0.0f, ctx->style.min_win_w, ctx->style.min_win_h);
}

Q_GUI_WINDOW* q_gui_get_window(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return NULL);
    return _window(ctx, id);
}

namespace {

// Sets or clears state bits of a window; an unknown id does nothing.
void change_state(Q_GUI_CTX* ctx, int id, uint32_t set, uint32_t clear, uint32_t flip) {
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    win->state = ((win->state | set) & ~clear) ^ flip;
}

int has_state(Q_GUI_CTX* ctx, int id, uint32_t bit) {
    const Q_GUI_WINDOW* win = _window(ctx, id);
    return (win && (win->state & bit)) ? 1 : 0;
}

} // namespace

void q_gui_open_window(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    change_state(ctx, id, Q_GUI_WIN_OPEN, 0, 0);
}

void q_gui_close_window(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    change_state(ctx, id, 0, Q_GUI_WIN_OPEN, 0);
}

void q_gui_toggle_window(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    change_state(ctx, id, 0, 0, Q_GUI_WIN_OPEN);
}

int q_gui_window_is_open(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    return has_state(ctx, id, Q_GUI_WIN_OPEN);
}

void q_gui_minimize_window(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    change_state(ctx, id, 0, 0, Q_GUI_WIN_MINIMISED);
}

void q_gui_restore_window(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    change_state(ctx, id, 0, Q_GUI_WIN_MINIMISED, 0);
}

int q_gui_window_is_minimised(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    return has_state(ctx, id, Q_GUI_WIN_MINIMISED);
}

int q_gui_window_is_maximised(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    return has_state(ctx, id, Q_GUI_WIN_MAXIMISED);
}

void q_gui_maximize_window(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    if (win->state & Q_GUI_WIN_MAXIMISED) {
        win->x = win->saved_x;
        win->y = win->saved_y;
        win->w = win->saved_w;
        win->h = win->saved_h;
        win->state &= ~Q_GUI_WIN_MAXIMISED;
    } else {
        win->saved_x = win->x;
        win->saved_y = win->y;
        win->saved_w = win->w;
        win->saved_h = win->h;
        const bool virt = ctx->virtual_w > 0.0f && ctx->virtual_h > 0.0f;
        const float w = virt ? ctx->virtual_w : ctx->display_w;
        const float h = virt ? ctx->virtual_h : ctx->display_h;
        win->x = win->y = 0.0f;
        if (w > 0.0f && h > 0.0f) {
            win->w = w;
            win->h = h;
        }
        win->state = (win->state | Q_GUI_WIN_MAXIMISED) & ~Q_GUI_WIN_MINIMISED;
    }
    if (ctx->resize_mode == Q_GUI_RESIZE_ADAPTIVE) _capture_normalized(ctx, win);
}

void q_gui_window_set_flags(Q_GUI_CTX* ctx, int id, uint32_t flags) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (win) win->flags = flags;
}

uint32_t q_gui_window_get_flags(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    const Q_GUI_WINDOW* win = _window(ctx, id);
    return win ? win->flags : 0;
}

void q_gui_window_set_rect(Q_GUI_CTX* ctx, int id, float x, float y, float w, float h) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    const float new_w = sane_size(w, win->w), new_h = sane_size(h, win->h);
    const bool resized = new_w != win->w || new_h != win->h;
    win->x = _sane_position(x);
    win->y = _sane_position(y);
    win->w = new_w;
    win->h = new_h;
    // Widgets follow only a real size change: scaling by the same size could still move them
    // by rounding.
    if (resized) rescale_widgets(win);
    if (ctx->display_w > 0.0f && ctx->display_h > 0.0f) {
        win->norm_x = win->x / ctx->display_w;
        win->norm_y = win->y / ctx->display_h;
        win->norm_w = win->w / ctx->display_w;
        win->norm_h = win->h / ctx->display_h;
    }
    ctx->dirty = 1;
}

void q_gui_window_set_font(Q_GUI_CTX* ctx, int id, ALLEGRO_FONT* font) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    win->font = font;
    _text_cache_clear(ctx);
    ctx->dirty = 1;
}

namespace {

void set_window_callback(Q_GUI_CTX* ctx, int id, Q_GUI_WINDOW_CB Q_GUI_WINDOW::*cb_field,
                         void* Q_GUI_WINDOW::*user_field, Q_GUI_WINDOW_CB cb, void* user) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    win->*cb_field = cb;
    win->*user_field = user;
}

} // namespace

void q_gui_window_set_close_callback(Q_GUI_CTX* ctx, int id, Q_GUI_WINDOW_CB cb, void* user) {
    set_window_callback(ctx, id, &Q_GUI_WINDOW::close_cb, &Q_GUI_WINDOW::close_user, cb, user);
}

void q_gui_window_set_minimize_callback(Q_GUI_CTX* ctx, int id, Q_GUI_WINDOW_CB cb, void* user) {
    set_window_callback(ctx, id, &Q_GUI_WINDOW::minimize_cb, &Q_GUI_WINDOW::minimize_user, cb,
                        user);
}

void q_gui_window_set_maximize_callback(Q_GUI_CTX* ctx, int id, Q_GUI_WINDOW_CB cb, void* user) {
    set_window_callback(ctx, id, &Q_GUI_WINDOW::maximize_cb, &Q_GUI_WINDOW::maximize_user, cb,
                        user);
}

void q_gui_window_set_resize_callback(Q_GUI_CTX* ctx, int id, Q_GUI_WINDOW_CB cb, void* user) {
    set_window_callback(ctx, id, &Q_GUI_WINDOW::resize_cb, &Q_GUI_WINDOW::resize_user, cb, user);
}

void q_gui_window_set_width_range(Q_GUI_CTX* ctx, int id, float min_w, float max_w) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    win->min_w = _sane_extent(min_w);
    win->max_w = _sane_extent(max_w) > 0.0f ? std::max(win->min_w, _sane_extent(max_w)) : 0.0f;
    float w = std::max(win->w, win->min_w);
    if (win->max_w > 0.0f) w = std::min(w, win->max_w);
    // A window resized from its left edge keeps its right edge.
    const float x = (win->flags & Q_GUI_WINDOW_RESIZE_LEFT) ? win->x + win->w - w : win->x;
    q_gui_window_set_rect(ctx, id, x, win->y, w, win->h);
}

void q_gui_window_set_content_draw_callback(Q_GUI_CTX* ctx, int id, Q_GUI_WINDOW_CB cb,
                                            void* user) {
    set_window_callback(ctx, id, &Q_GUI_WINDOW::content_draw_cb, &Q_GUI_WINDOW::content_draw_user,
                        cb, user);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Focus
// --------------------------------------------------------------------------------------------

void q_gui_set_focus(Q_GUI_CTX* ctx, int widget_id) {
    q_assert(ctx, return );
    if (Q_GUI_WIDGET* old = _widget(ctx, ctx->focused_id)) old->state &= ~Q_GUI_WIDGET_FOCUSED;
    ctx->focused_id = -1;
    if (widget_id < 0) return;
    Q_GUI_WIDGET* w = _widget(ctx, widget_id);
    if (!w) {
        q_log(3, "q_gui_set_focus: widget %d not found", widget_id);
        return;
    }
    ctx->focused_id = widget_id;
    w->state |= Q_GUI_WIDGET_FOCUSED;
    if (w->kind == Q_GUI_KIND_TEXTAREA) {
        Q_GUI_TEXTAREA_DATA* td = static_cast<Q_GUI_TEXTAREA_DATA*>(w->data);
        td->blink_start = al_get_time();
        td->follow_caret = 1;
    }
    Q_GUI_WINDOW* win = w->window;
    if ((win->state & Q_GUI_WIN_OPEN) && movable_by_raise(win)) {
        _move_window_to_end(ctx, win);
        _sort_zorder(ctx);
    }
}

int q_gui_get_focus(Q_GUI_CTX* ctx) {
    q_assert(ctx, return -1);
    return ctx->focused_id;
}

void q_gui_focus_window(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    q_gui_raise_window(ctx, id);
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        const Q_GUI_WIDGET* w = static_cast<const Q_GUI_WIDGET*>(n->ptr);
        if (w->visible && w->enabled && _focusable_kind(w->kind)) {
            q_gui_set_focus(ctx, w->id);
            return;
        }
    }
    q_gui_set_focus(ctx, -1);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Auto-size and auto-fit
// --------------------------------------------------------------------------------------------

void q_gui_window_autosize(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    float right = 0.0f, bottom = 0.0f;
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        const Q_GUI_WIDGET* w = static_cast<const Q_GUI_WIDGET*>(n->ptr);
        right = std::max(right, w->x + w->w);
        bottom = std::max(bottom, w->y + w->h);
    }
    win->w = std::max(win->min_w, right + 20.0f);
    win->h = std::max(win->min_h, bottom + 20.0f + _titlebar_height(win));
}

void q_gui_window_set_autofit(Q_GUI_CTX* ctx, int id, uint32_t flags, float border) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) {
        q_log(3, "q_gui_window_set_autofit: window %d not found", id);
        return;
    }
    win->autofit_flags = flags;
    win->autofit_border = std::isfinite(border) ? std::clamp(border, 0.0f, Q_GUI_MAX_COORD) : 0.0f;
    win->autofit_anchor_x = win->x;
    win->autofit_anchor_y = win->y;
}

void _apply_autofit(Q_GUI_WINDOW* win) {
    if (!win->autofit_flags) return;
    _measure_content(win);
    const float border2 = 2.0f * win->autofit_border;
    if (win->autofit_flags & Q_GUI_AUTOFIT_WIDTH) {
        const float old_w = win->w;
        win->w = std::max(win->min_w, border2 + win->content_w);
        if (win->autofit_flags & Q_GUI_AUTOFIT_CENTER)
            win->x = win->autofit_anchor_x - win->w / 2;
        else if (win->autofit_flags & Q_GUI_AUTOFIT_GROW_LEFT)
            win->x -= win->w - old_w;
    }
    if (win->autofit_flags & Q_GUI_AUTOFIT_HEIGHT) {
        const float old_h = win->h;
        win->h = std::max(win->min_h, border2 + win->content_h + _titlebar_height(win));
        if (win->autofit_flags & Q_GUI_AUTOFIT_CENTER)
            win->y = win->autofit_anchor_y - win->h / 2;
        else if (win->autofit_flags & Q_GUI_AUTOFIT_GROW_UP)
            win->y -= win->h - old_h;
    }
}

void q_gui_window_apply_autofit(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    if (Q_GUI_WINDOW* win = _window(ctx, id)) _apply_autofit(win);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Display binding, virtual canvas, resize modes, DPI
// --------------------------------------------------------------------------------------------

void q_gui_set_display(Q_GUI_CTX* ctx, ALLEGRO_DISPLAY* display) {
    q_assert(ctx, return );
    ctx->display = display;
}

void q_gui_set_display_size(Q_GUI_CTX* ctx, float w, float h) {
    q_assert(ctx, return );
    if (!std::isfinite(w) || !std::isfinite(h) || w < 0.0f || h < 0.0f) {
        q_log(3, "q_gui_set_display_size: invalid size %f x %f ignored", static_cast<double>(w),
              static_cast<double>(h));
        return;
    }
    ctx->display_w = w;
    ctx->display_h = h;
    ctx->dirty = 1;
    if (ctx->resize_mode == Q_GUI_RESIZE_ADAPTIVE) {
        q_gui_apply_adaptive_resize(ctx, w, h);
        return;
    }
    q_gui_update_transform(ctx);
}

void q_gui_update_transform(Q_GUI_CTX* ctx) {
    q_assert(ctx, return );
    if (ctx->virtual_w > 0.0f && ctx->virtual_h > 0.0f && ctx->display_w > 0.0f &&
        ctx->display_h > 0.0f) {
        const float scale = std::max(
            0.01f, std::min(ctx->display_w / ctx->virtual_w, ctx->display_h / ctx->virtual_h));
        ctx->virtual_scale = scale;
        ctx->virtual_offset_x = (ctx->display_w - ctx->virtual_w * scale) / 2.0f;
        ctx->virtual_offset_y = (ctx->display_h - ctx->virtual_h * scale) / 2.0f;
    } else {
        ctx->virtual_scale = 1.0f;
        ctx->virtual_offset_x = ctx->virtual_offset_y = 0.0f;
    }
}

void q_gui_set_virtual_size(Q_GUI_CTX* ctx, float w, float h) {
    q_assert(ctx, return );
    const bool w_pos = std::isfinite(w) && w > 0.0f, h_pos = std::isfinite(h) && h > 0.0f;
    if (w_pos && h_pos) {
        ctx->virtual_w = std::min(w, Q_GUI_MAX_COORD);
        ctx->virtual_h = std::min(h, Q_GUI_MAX_COORD);
    } else if (!w_pos && !h_pos && !std::isnan(w) && !std::isnan(h)) {
        ctx->virtual_w = ctx->virtual_h = 0.0f;
    } else {
        q_log(3,
              "q_gui_set_virtual_size: both dimensions must be > 0 (got w=%.1f, h=%.1f); "
              "virtual canvas not changed",
              static_cast<double>(w), static_cast<double>(h));
        return;
    }
    q_gui_update_transform(ctx);
    ctx->dirty = 1;
}

void q_gui_screen_to_virtual(Q_GUI_CTX* ctx, float sx, float sy, float* vx, float* vy) {
    q_assert(ctx, return );
    const bool virt = ctx->virtual_w > 0.0f && ctx->virtual_h > 0.0f && ctx->virtual_scale > 0.0f;
    if (vx) *vx = virt ? (sx - ctx->virtual_offset_x) / ctx->virtual_scale : sx;
    if (vy) *vy = virt ? (sy - ctx->virtual_offset_y) / ctx->virtual_scale : sy;
}

void _capture_widget_norm(Q_GUI_WIDGET* w) {
    const Q_GUI_WINDOW* win = w->window;
    if (win->w <= 0.0f || win->h <= 0.0f) return;
    w->norm_x = w->x / win->w;
    w->norm_y = w->y / win->h;
    w->norm_w = w->w / win->w;
    w->norm_h = w->h / win->h;
    w->has_norm = 1;
}

void _capture_normalized(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win) {
    const float ref_w = ctx->ref_display_w > 0.0f ? ctx->ref_display_w : ctx->display_w;
    const float ref_h = ctx->ref_display_h > 0.0f ? ctx->ref_display_h : ctx->display_h;
    if (ref_w > 0.0f) {
        win->norm_x = win->x / ref_w;
        win->norm_w = win->w / ref_w;
    }
    if (ref_h > 0.0f) {
        win->norm_y = win->y / ref_h;
        win->norm_h = win->h / ref_h;
    }
    if (win->resize_policy == Q_GUI_RESIZE_POLICY_SCALE)
        for (LIST_NODE* n = win->widgets->start; n; n = n->next)
            _capture_widget_norm(static_cast<Q_GUI_WIDGET*>(n->ptr));
}

void q_gui_set_resize_mode(Q_GUI_CTX* ctx, int mode) {
    q_assert(ctx, return );
    if (mode != Q_GUI_RESIZE_FIXED && mode != Q_GUI_RESIZE_ADAPTIVE) {
        q_log(3, "q_gui_set_resize_mode: unknown mode %d ignored", mode);
        return;
    }
    ctx->resize_mode = mode;
    if (mode != Q_GUI_RESIZE_ADAPTIVE) return;
    ctx->virtual_w = ctx->virtual_h = 0.0f;
    ctx->virtual_scale = 1.0f;
    ctx->virtual_offset_x = ctx->virtual_offset_y = 0.0f;
    ctx->ref_display_w = ctx->display_w;
    ctx->ref_display_h = ctx->display_h;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next)
        _capture_normalized(ctx, static_cast<Q_GUI_WINDOW*>(n->ptr));
}

int q_gui_get_resize_mode(Q_GUI_CTX* ctx) {
    q_assert(ctx, return 0);
    return ctx->resize_mode;
}

void q_gui_window_set_resize_policy(Q_GUI_CTX* ctx, int id, int policy) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    if (policy < Q_GUI_RESIZE_POLICY_NONE || policy > Q_GUI_RESIZE_POLICY_SCALE) {
        q_log(3, "q_gui_window_set_resize_policy: unknown policy %d for window %d", policy, id);
        return;
    }
    win->resize_policy = policy;
    _capture_normalized(ctx, win);
}

int q_gui_window_get_resize_policy(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    const Q_GUI_WINDOW* win = _window(ctx, id);
    return win ? win->resize_policy : 0;
}

void q_gui_window_update_normalized(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    Q_GUI_WINDOW* win = _window(ctx, id);
    if (!win) return;
    ctx->ref_display_w = ctx->display_w;
    ctx->ref_display_h = ctx->display_h;
    _capture_normalized(ctx, win);
}

void q_gui_apply_adaptive_resize(Q_GUI_CTX* ctx, float w, float h) {
    q_assert(ctx, return );
    if (!(w > 0.0f) || !(h > 0.0f) || !std::isfinite(w) || !std::isfinite(h)) return;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(n->ptr);
        if (win->resize_policy == Q_GUI_RESIZE_POLICY_MOVE) {
            win->x = win->norm_x * w;
            win->y = win->norm_y * h;
        } else if (win->resize_policy == Q_GUI_RESIZE_POLICY_SCALE) {
            win->x = win->norm_x * w;
            win->y = win->norm_y * h;
            win->w = win->norm_w * w;
            win->h = win->norm_h * h;
            if (!(win->flags & Q_GUI_WINDOW_NO_TITLEBAR)) {
                win->w = std::max(win->w, win->min_w);
                win->h = std::max(win->h, win->min_h);
            }
            rescale_widgets(win);
        }
    }
    ctx->dirty = 1;
}

void q_gui_set_dpi_scale(Q_GUI_CTX* ctx, float scale) {
    q_assert(ctx, return );
    ctx->dpi_scale = std::isfinite(scale) ? std::clamp(scale, 0.25f, 8.0f) : 1.0f;
}

float q_gui_get_dpi_scale(Q_GUI_CTX* ctx) {
    q_assert(ctx, return 1.0f);
    return ctx->dpi_scale;
}

float q_gui_detect_dpi_scale(Q_GUI_CTX* ctx, ALLEGRO_DISPLAY* display) {
    q_assert(ctx, return 1.0f);
    float scale = 1.0f;
    ALLEGRO_BITMAP* backbuffer = display ? al_get_backbuffer(display) : NULL;
    const int dw = display ? al_get_display_width(display) : 0;
    const int dh = display ? al_get_display_height(display) : 0;
    if (backbuffer && dw > 0 && dh > 0) {
        scale = std::max(static_cast<float>(al_get_bitmap_width(backbuffer)) / dw,
                         static_cast<float>(al_get_bitmap_height(backbuffer)) / dh);
        if (scale < 0.5f) scale = 1.0f;
        if (scale > 8.0f) scale = 8.0f;
    }
    ctx->dpi_scale = scale;
    return scale;
}

// ============================================================================================
// Toolkit event processing: pointer, wheel, keyboard, touch, tooltips
//   [SECTION] Helpers
//   [SECTION] Pointer movement, hover and tooltips
//   [SECTION] Drags
//   [SECTION] Press
//   [SECTION] Release
//   [SECTION] Wheel
//   [SECTION] Keyboard
//   [SECTION] Entry points
//
// A press the GUI takes captures the pointer until the release: motion goes to the pressed
// widget or to the window being dragged, wherever the pointer is. Callbacks run last in each
// handler, so a callback may change the GUI freely without pulling state from under it.
// ============================================================================================
#include <cstdlib>
#include <cstring>

#include "q/q_clipboard.h"
#include "q/q_common.h"
#include "q/q_gui_internal.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Helpers
// --------------------------------------------------------------------------------------------

namespace {

// Private bits of `modifiers`: which modifier keys are held, left and right apart.
enum : int {
    HELD_LSHIFT = 1 << 0,
    HELD_RSHIFT = 1 << 1,
    HELD_LCTRL = 1 << 2,
    HELD_RCTRL = 1 << 3,
    HELD_ALT = 1 << 4,
    HELD_ALTGR = 1 << 5,
    HELD_COMMAND = 1 << 6,
};

int held_bit(int keycode) {
    switch (keycode) {
    case ALLEGRO_KEY_LSHIFT:
        return HELD_LSHIFT;
    case ALLEGRO_KEY_RSHIFT:
        return HELD_RSHIFT;
    case ALLEGRO_KEY_LCTRL:
        return HELD_LCTRL;
    case ALLEGRO_KEY_RCTRL:
        return HELD_RCTRL;
    case ALLEGRO_KEY_ALT:
        return HELD_ALT;
    case ALLEGRO_KEY_ALTGR:
        return HELD_ALTGR;
    case ALLEGRO_KEY_COMMAND:
        return HELD_COMMAND;
    default:
        return 0;
    }
}

// Allegro modifier mask of the keys held, added to what the event itself reports.
int event_modifiers(const Q_GUI_CTX* ctx, const ALLEGRO_KEYBOARD_EVENT* key) {
    int mods = static_cast<int>(key->modifiers);
    if (ctx->modifiers & (HELD_LSHIFT | HELD_RSHIFT)) mods |= ALLEGRO_KEYMOD_SHIFT;
    if (ctx->modifiers & (HELD_LCTRL | HELD_RCTRL)) mods |= ALLEGRO_KEYMOD_CTRL;
    if (ctx->modifiers & HELD_ALT) mods |= ALLEGRO_KEYMOD_ALT;
    if (ctx->modifiers & HELD_ALTGR) mods |= ALLEGRO_KEYMOD_ALTGR;
    if (ctx->modifiers & HELD_COMMAND) mods |= ALLEGRO_KEYMOD_COMMAND;
    return mods & Q_GUI_SHORTCUT_MODIFIERS;
}

void pointer_to_gui(const Q_GUI_CTX* ctx, float* gx, float* gy) {
    _to_gui(ctx, static_cast<float>(ctx->mouse_x), static_cast<float>(ctx->mouse_y), gx, gy);
}

// Pointer in viewport coordinates: through the virtual canvas, without the whole-GUI scroll.
void pointer_to_viewport(Q_GUI_CTX* ctx, float* vx, float* vy) {
    q_gui_screen_to_virtual(ctx, static_cast<float>(ctx->mouse_x), static_cast<float>(ctx->mouse_y),
                            vx, vy);
}

constexpr uint32_t WINDOW_DRAGS =
    Q_GUI_WIN_DRAGGING | Q_GUI_WIN_RESIZING | Q_GUI_WIN_VSCROLL_DRAG | Q_GUI_WIN_HSCROLL_DRAG;

Q_GUI_WINDOW* dragged_window(Q_GUI_CTX* ctx) {
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(n->ptr);
        if (win->state & WINDOW_DRAGS) return win;
    }
    return NULL;
}

// Ends every drag, press and title-bar interaction; returns whether a window was moved or
// resized by it.
bool end_drags(Q_GUI_CTX* ctx) {
    bool moved = false;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(n->ptr);
        if (win->state & (Q_GUI_WIN_DRAGGING | Q_GUI_WIN_RESIZING)) {
            moved = true;
            if (ctx->resize_mode == Q_GUI_RESIZE_ADAPTIVE) _capture_normalized(ctx, win);
        }
        win->state &= ~WINDOW_DRAGS;
        win->tb_pressed = 0;
    }
    if (Q_GUI_WIDGET* w = _widget(ctx, ctx->pressed_id)) {
        w->state &= ~Q_GUI_WIDGET_PRESSED;
        if (w->kind == Q_GUI_KIND_LISTBOX)
            static_cast<Q_GUI_LISTBOX_DATA*>(w->data)->scroll_drag = 0;
    }
    ctx->pressed_id = -1;
    ctx->press_window_id = -1;
    ctx->global_vscroll_drag = ctx->global_hscroll_drag = 0;
    return moved;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Pointer movement, hover and tooltips
// --------------------------------------------------------------------------------------------

namespace {

// Gives the hover bit to `target` alone; true when anything changed.
bool set_hover(Q_GUI_CTX* ctx, Q_GUI_WINDOW* over, Q_GUI_WIDGET* target, float gx, float gy) {
    bool changed = false;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(n->ptr);
        const int tb = win == over ? _tb_button_at(ctx, win, gx, gy) : 0;
        changed |= tb != win->tb_hover;
        win->tb_hover = tb;
        for (LIST_NODE* m = win->widgets->start; m; m = m->next) {
            Q_GUI_WIDGET* w = static_cast<Q_GUI_WIDGET*>(m->ptr);
            const bool hover = w == target;
            changed |= hover != ((w->state & Q_GUI_WIDGET_HOVER) != 0);
            if (hover)
                w->state |= Q_GUI_WIDGET_HOVER;
            else
                w->state &= ~Q_GUI_WIDGET_HOVER;
            if (w->kind != Q_GUI_KIND_LISTBOX) continue;
            Q_GUI_LISTBOX_DATA* ld = static_cast<Q_GUI_LISTBOX_DATA*>(w->data);
            const int row = hover ? _listbox_row_at(ctx, w, gy) : -1;
            changed |= row != ld->hovered_row;
            ld->hovered_row = row;
        }
    }
    return changed;
}

void update_tooltip(Q_GUI_CTX* ctx, Q_GUI_WIDGET* under) {
    if (ctx->style.tooltip_delay <= 0.0f) {
        ctx->tooltip_id = -1;
        return;
    }
    const int id = under ? under->id : -1;
    if (std::abs(ctx->mouse_x - ctx->hover_anchor_x) <= 2 &&
        std::abs(ctx->mouse_y - ctx->hover_anchor_y) <= 2 && id == ctx->tooltip_id)
        return;
    ctx->tooltip_id = id;
    ctx->hover_start = al_get_time();
    ctx->hover_anchor_x = ctx->mouse_x;
    ctx->hover_anchor_y = ctx->mouse_y;
}

bool over_global_bars(Q_GUI_CTX* ctx) {
    const Q_GUI_VIEWPORT vp = _viewport(ctx);
    if (!vp.vbar && !vp.hbar) return false;
    float vx = 0, vy = 0;
    pointer_to_viewport(ctx, &vx, &vy);
    return (vp.vbar && _global_vtrack(ctx, vp).contains(vx, vy)) ||
           (vp.hbar && _global_htrack(ctx, vp).contains(vx, vy));
}

bool over_dropdown(Q_GUI_CTX* ctx, float gx, float gy) {
    Q_GUI_WIDGET* w = _widget_of(ctx, ctx->open_combo_id, Q_GUI_KIND_COMBOBOX);
    return w && _combo_dropdown(ctx, w).rect.contains(gx, gy);
}

int plain_motion(Q_GUI_CTX* ctx) {
    float gx = 0, gy = 0;
    pointer_to_gui(ctx, &gx, &gy);
    Q_GUI_WINDOW* win = _window_at(ctx, gx, gy);
    Q_GUI_WIDGET* under = win ? _widget_at(win, gx, gy) : NULL;
    const bool was_over = ctx->pointer_over_gui;
    ctx->pointer_over_gui = win != NULL;
    const bool changed = set_hover(ctx, win, under, gx, gy);
    update_tooltip(ctx, under);
    if (win || was_over || changed) ctx->dirty = 1;
    return (win || over_dropdown(ctx, gx, gy)) ? 1 : 0;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Drags
// --------------------------------------------------------------------------------------------

namespace {

void drag_global_bar(Q_GUI_CTX* ctx) {
    const Q_GUI_VIEWPORT vp = _viewport(ctx);
    const float min_thumb = ctx->style.global_scrollbar_thumb_min;
    float vx = 0, vy = 0;
    pointer_to_viewport(ctx, &vx, &vy);
    if (ctx->global_vscroll_drag)
        ctx->global_scroll_y =
            _scroll_from_pointer(vy, 0.0f, vp.h, vp.h, ctx->gui_extent_h, min_thumb);
    if (ctx->global_hscroll_drag)
        ctx->global_scroll_x =
            _scroll_from_pointer(vx, 0.0f, vp.w, vp.w, ctx->gui_extent_w, min_thumb);
}

void drag_content_bar(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win, float gx, float gy) {
    const Q_GUI_CONTENT_LAYOUT layout = _content_layout(ctx, win);
    const Q_GUI_RECT& a = layout.area;
    const float min_thumb = ctx->style.scrollbar_thumb_min;
    if (win->state & Q_GUI_WIN_VSCROLL_DRAG)
        win->scroll_y = _scroll_from_pointer(gy, a.y, a.h, a.h, win->content_h, min_thumb);
    if (win->state & Q_GUI_WIN_HSCROLL_DRAG)
        win->scroll_x = _scroll_from_pointer(gx, a.x, a.w, a.w, win->content_w, min_thumb);
}

void drag_window(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win, float gx, float gy) {
    if (win->state & Q_GUI_WIN_DRAGGING) {
        win->x = _sane_position(gx - win->drag_off_x);
        win->y = _sane_position(gy - win->drag_off_y);
    } else if (win->state & Q_GUI_WIN_RESIZING) {
        win->w = std::clamp(gx - win->x + win->drag_off_x, win->min_w, Q_GUI_MAX_COORD);
        win->h = std::clamp(gy - win->y + win->drag_off_y, win->min_h, Q_GUI_MAX_COORD);
    } else {
        drag_content_bar(ctx, win, gx, gy);
    }
}

// Motion while the left button is held: 1 when the GUI holds the press.
int held_motion(Q_GUI_CTX* ctx) {
    if (!ctx->press_taken) return 0;
    float gx = 0, gy = 0;
    pointer_to_gui(ctx, &gx, &gy);
    ctx->dirty = 1;
    if (ctx->global_vscroll_drag || ctx->global_hscroll_drag) {
        drag_global_bar(ctx);
        return 1;
    }
    if (Q_GUI_WINDOW* win = dragged_window(ctx)) {
        drag_window(ctx, win, gx, gy);
        return 1;
    }
    Q_GUI_WIDGET* w = _widget(ctx, ctx->pressed_id);
    if (!w) return 1;
    switch (w->kind) {
    case Q_GUI_KIND_SLIDER:
        _slider_from_pointer(w, gx, gy);
        break;
    case Q_GUI_KIND_COLORWHEEL:
        _colorwheel_drag(w, gx, gy);
        break;
    case Q_GUI_KIND_TEXTAREA:
        _textarea_press(ctx, w, gx, gy, true);
        break;
    case Q_GUI_KIND_LABEL:
        _label_drag(ctx, w, gx);
        break;
    case Q_GUI_KIND_LISTBOX:
        _listbox_drag(ctx, w, gy);
        break;
    default:
        break;
    }
    return 1;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Press
// --------------------------------------------------------------------------------------------

namespace {

bool press_global_bars(Q_GUI_CTX* ctx) {
    const Q_GUI_VIEWPORT vp = _viewport(ctx);
    float vx = 0, vy = 0;
    pointer_to_viewport(ctx, &vx, &vy);
    ctx->global_vscroll_drag = vp.vbar && _global_vtrack(ctx, vp).contains(vx, vy);
    ctx->global_hscroll_drag =
        !ctx->global_vscroll_drag && vp.hbar && _global_htrack(ctx, vp).contains(vx, vy);
    if (!ctx->global_vscroll_drag && !ctx->global_hscroll_drag) return false;
    drag_global_bar(ctx);
    return true;
}

// Title-bar buttons, title bar, resize grip and content scrollbars. True when taken.
bool press_window_frame(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win, float gx, float gy) {
    if (const int which = _tb_button_at(ctx, win, gx, gy)) {
        win->tb_pressed = which;
        ctx->press_window_id = win->id;
        return true;
    }
    const bool movable =
        !(win->flags & Q_GUI_WINDOW_FIXED_POSITION) && !(win->state & Q_GUI_WIN_MAXIMISED);
    if (!(win->flags & Q_GUI_WINDOW_NO_TITLEBAR) && gy <= win->y + win->titlebar_h) {
        if (movable) {
            win->state |= Q_GUI_WIN_DRAGGING;
            win->drag_off_x = gx - win->x;
            win->drag_off_y = gy - win->y;
        }
        return true;
    }
    if (win->state & Q_GUI_WIN_MINIMISED) return true;
    const float grip = ctx->style.grip_size + 2.0f;
    if ((win->flags & Q_GUI_WINDOW_RESIZABLE) && !(win->state & Q_GUI_WIN_MAXIMISED) &&
        gx >= win->x + win->w - grip && gy >= win->y + win->h - grip) {
        win->state |= Q_GUI_WIN_RESIZING;
        win->drag_off_x = win->x + win->w - gx;
        win->drag_off_y = win->y + win->h - gy;
        return true;
    }
    if (!(win->flags & Q_GUI_WINDOW_SCROLLABLE)) return false;
    const Q_GUI_CONTENT_LAYOUT layout = _content_layout(ctx, win);
    const Q_GUI_RECT& a = layout.area;
    const float bar = ctx->style.scrollbar_size;
    if (layout.vbar && Q_GUI_RECT{a.x + a.w, a.y, bar, a.h}.contains(gx, gy))
        win->state |= Q_GUI_WIN_VSCROLL_DRAG;
    else if (layout.hbar && Q_GUI_RECT{a.x, a.y + a.h, a.w, bar}.contains(gx, gy))
        win->state |= Q_GUI_WIN_HSCROLL_DRAG;
    else
        return false;
    drag_content_bar(ctx, win, gx, gy);
    return true;
}

void focus_on_press(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w) {
    if (!_focusable_kind(w->kind) || ctx->focused_id == w->id) return;
    if (Q_GUI_WIDGET* old = _widget(ctx, ctx->focused_id)) old->state &= ~Q_GUI_WIDGET_FOCUSED;
    ctx->focused_id = w->id;
    w->state |= Q_GUI_WIDGET_FOCUSED;
}

void press_widget(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gx, float gy) {
    w->state |= Q_GUI_WIDGET_PRESSED;
    ctx->pressed_id = w->id;
    focus_on_press(ctx, w);
    switch (w->kind) {
    case Q_GUI_KIND_CHECKBOX:
        _checkbox_toggle(w);
        break;
    case Q_GUI_KIND_COLORWHEEL:
        _colorwheel_press(w, gx, gy);
        break;
    case Q_GUI_KIND_SLIDER:
        _slider_from_pointer(w, gx, gy);
        break;
    case Q_GUI_KIND_TEXTAREA:
        _textarea_press(ctx, w, gx, gy, false);
        break;
    case Q_GUI_KIND_LISTBOX:
        _listbox_press(ctx, w, gx, gy);
        break;
    case Q_GUI_KIND_COMBOBOX:
        _combo_toggle(ctx, w);
        break;
    case Q_GUI_KIND_LABEL:
        _label_press(ctx, w, gx);
        break;
    default:
        break;
    }
}

void drop_label_selection(Q_GUI_CTX* ctx, int keep_id) {
    if (ctx->selecting_label_id < 0 || ctx->selecting_label_id == keep_id) return;
    if (Q_GUI_WIDGET* w = _widget_of(ctx, ctx->selecting_label_id, Q_GUI_KIND_LABEL)) {
        Q_GUI_LABEL_DATA* ld = static_cast<Q_GUI_LABEL_DATA*>(w->data);
        ld->sel_anchor = ld->sel_end = -1;
    }
    ctx->selecting_label_id = -1;
}

int press(Q_GUI_CTX* ctx) {
    ctx->tooltip_id = -1;
    ctx->prev_mouse_down = ctx->mouse_down;
    ctx->mouse_down = 1;
    ctx->press_taken = 1;
    float gx = 0, gy = 0;
    pointer_to_gui(ctx, &gx, &gy);
    if (ctx->open_combo_id >= 0) {
        _combo_dropdown_press(ctx, gx, gy);
        return 1;
    }
    if (press_global_bars(ctx) || dragged_window(ctx)) return 1;
    Q_GUI_WINDOW* win = _window_at(ctx, gx, gy);
    if (!win) {
        ctx->press_taken = 0;
        drop_label_selection(ctx, -1);
        return 0;
    }
    q_gui_raise_window(ctx, win->id);
    ctx->press_window_id = win->id;
    if (press_window_frame(ctx, win, gx, gy)) return 1;
    Q_GUI_WIDGET* w = _widget_at(win, gx, gy);
    drop_label_selection(ctx, w ? w->id : -1);
    if (w) {
        press_widget(ctx, w, gx, gy);
        return 1;
    }
    if ((win->flags & Q_GUI_WINDOW_NO_TITLEBAR) && !(win->flags & Q_GUI_WINDOW_FIXED_POSITION) &&
        !(win->state & Q_GUI_WIN_MAXIMISED)) {
        win->state |= Q_GUI_WIN_DRAGGING;
        win->drag_off_x = gx - win->x;
        win->drag_off_y = gy - win->y;
    }
    return 1;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Release
// --------------------------------------------------------------------------------------------

namespace {

int release(Q_GUI_CTX* ctx) {
    ctx->prev_mouse_down = ctx->mouse_down;
    ctx->mouse_down = 0;
    const int taken = ctx->press_taken;
    ctx->press_taken = 0;
    float gx = 0, gy = 0;
    pointer_to_gui(ctx, &gx, &gy);

    // Decide what fires while the press state is intact, then clear it, then fire.
    Q_GUI_WIDGET* fire_button = NULL;
    Q_GUI_WIDGET* fire_link = NULL;
    Q_GUI_WIDGET* w = _widget(ctx, ctx->pressed_id);
    if (w && _widget_screen_rect(w).contains(gx, gy)) {
        if (w->kind == Q_GUI_KIND_BUTTON) fire_button = w;
        if (w->kind == Q_GUI_KIND_LABEL && static_cast<Q_GUI_LABEL_DATA*>(w->data)->link[0])
            fire_link = w;
    }
    Q_GUI_WINDOW* tb_window = _window(ctx, ctx->press_window_id);
    int tb_fire = 0;
    if (tb_window && tb_window->tb_pressed &&
        _tb_button_at(ctx, tb_window, gx, gy) == tb_window->tb_pressed)
        tb_fire = tb_window->tb_pressed;
    end_drags(ctx);

    if (fire_button) _button_fire(ctx, fire_button);
    if (fire_link) {
        const Q_GUI_LABEL_DATA* ld = static_cast<const Q_GUI_LABEL_DATA*>(fire_link->data);
        if (ld->cb) ld->cb(fire_link->id, ld->link, ld->user);
    }
    if (tb_fire) _tb_button_fire(ctx, tb_window, tb_fire);
    return taken;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Wheel
// --------------------------------------------------------------------------------------------

namespace {

int wheel(Q_GUI_CTX* ctx, int dz, int dw) {
    if (ctx->open_combo_id >= 0) return _combo_dropdown_wheel(ctx, dz) ? 1 : 0;
    float gx = 0, gy = 0;
    pointer_to_gui(ctx, &gx, &gy);
    Q_GUI_WINDOW* win = _window_at(ctx, gx, gy);
    if (win && (win->state & Q_GUI_WIN_MINIMISED)) win = NULL;
    if (win) {
        Q_GUI_WIDGET* w = _widget_at(win, gx, gy);
        if (w && w->kind == Q_GUI_KIND_LISTBOX) return _listbox_wheel(ctx, w, dz, dw);
        if (win->flags & Q_GUI_WINDOW_SCROLLABLE) {
            win->scroll_y -= static_cast<float>(dz) * ctx->style.scroll_step;
            win->scroll_x += static_cast<float>(dw) * ctx->style.scroll_step;
            _clamp_scroll(ctx, win);
            return 1;
        }
    }
    _update_gui_extent(ctx);
    const Q_GUI_VIEWPORT vp = _viewport(ctx);
    if (!vp.vbar && !vp.hbar) return 0;
    const float step = ctx->style.global_scroll_step;
    if (vp.vbar)
        ctx->global_scroll_y = std::clamp(ctx->global_scroll_y - static_cast<float>(dz) * step,
                                          0.0f, ctx->gui_extent_h - vp.h);
    if (vp.hbar)
        ctx->global_scroll_x = std::clamp(ctx->global_scroll_x + static_cast<float>(dw) * step,
                                          0.0f, ctx->gui_extent_w - vp.w);
    return 1;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Keyboard
// --------------------------------------------------------------------------------------------

namespace {

bool shortcut_matches(const Q_GUI_BUTTON_DATA* bd, int keycode, int mods) {
    return bd->key != 0 && bd->key == keycode && (bd->key_mods == 0 || bd->key_mods == mods);
}

bool focus_listed(const Q_GUI_BUTTON_DATA* bd, int self, int focused) {
    if (focused < 0) return false;
    if (focused == self) return true;
    for (int id : bd->focus_ids)
        if (id == focused) return true;
    return false;
}

// The first visible, enabled button of an open window, from the top, whose shortcut matches.
Q_GUI_WIDGET* find_shortcut(Q_GUI_CTX* ctx, int keycode, int mods, bool focused_variant) {
    for (LIST_NODE* n = ctx->windows->end; n; n = n->prev) {
        Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(n->ptr);
        if (!(win->state & Q_GUI_WIN_OPEN)) continue;
        for (LIST_NODE* m = win->widgets->start; m; m = m->next) {
            Q_GUI_WIDGET* w = static_cast<Q_GUI_WIDGET*>(m->ptr);
            if (w->kind != Q_GUI_KIND_BUTTON || !w->visible || !w->enabled) continue;
            const Q_GUI_BUTTON_DATA* bd = static_cast<const Q_GUI_BUTTON_DATA*>(w->data);
            if (bd->key_needs_focus != focused_variant || !shortcut_matches(bd, keycode, mods))
                continue;
            if (focused_variant && !focus_listed(bd, w->id, ctx->focused_id)) continue;
            return w;
        }
    }
    return NULL;
}

int copy_label_selection(Q_GUI_CTX* ctx) {
    Q_GUI_WIDGET* w = _widget_of(ctx, ctx->selecting_label_id, Q_GUI_KIND_LABEL);
    if (!w) return 0;
    const Q_GUI_LABEL_DATA* ld = static_cast<const Q_GUI_LABEL_DATA*>(w->data);
    const int a = std::min(ld->sel_anchor, ld->sel_end), b = std::max(ld->sel_anchor, ld->sel_end);
    if (a < 0 || a == b) return 0;
    const std::string part(ld->text + a, static_cast<size_t>(b - a));
    q_clipboard_set(0, part.c_str());
    return 1;
}

int slider_key(Q_GUI_WIDGET* w, int keycode) {
    const Q_GUI_SLIDER_DATA* sd = static_cast<const Q_GUI_SLIDER_DATA*>(w->data);
    const bool vertical = sd->orientation == 1;
    int direction = 0;
    if (keycode == (vertical ? ALLEGRO_KEY_DOWN : ALLEGRO_KEY_LEFT))
        direction = -1;
    else if (keycode == (vertical ? ALLEGRO_KEY_UP : ALLEGRO_KEY_RIGHT))
        direction = 1;
    else
        return 0;
    double step = sd->step;
    if (step <= 0.0) step = (sd->max - sd->min) / 20.0;
    if (step <= 0.0) step = 1.0;
    _slider_change(w, sd->value + direction * step);
    return 1;
}

// Keys of the focused widget other than a text area's.
int widget_key(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, int keycode) {
    switch (w->kind) {
    case Q_GUI_KIND_SLIDER:
        return slider_key(w, keycode);
    case Q_GUI_KIND_CHECKBOX:
        if (keycode != ALLEGRO_KEY_SPACE && keycode != ALLEGRO_KEY_ENTER &&
            keycode != ALLEGRO_KEY_PAD_ENTER)
            return 0;
        _checkbox_toggle(w);
        return 1;
    case Q_GUI_KIND_LISTBOX:
        return _listbox_key(ctx, w, keycode);
    case Q_GUI_KIND_COMBOBOX:
        return _combo_key(ctx, w, keycode);
    default:
        return 0;
    }
}

Q_GUI_WIDGET* focused_widget(Q_GUI_CTX* ctx) {
    Q_GUI_WIDGET* w = _widget(ctx, ctx->focused_id);
    if (!w || !w->visible || !w->enabled || !(w->window->state & Q_GUI_WIN_OPEN)) return NULL;
    return w;
}

bool is_enter(int keycode) {
    return keycode == ALLEGRO_KEY_ENTER || keycode == ALLEGRO_KEY_PAD_ENTER;
}

int key_down(Q_GUI_CTX* ctx, const ALLEGRO_KEYBOARD_EVENT* key) {
    const int keycode = key->keycode;
    const int mods = event_modifiers(ctx, key);
    if (keycode == ALLEGRO_KEY_C && (mods & ALLEGRO_KEYMOD_CTRL) && copy_label_selection(ctx))
        return 1;
    if (ctx->open_combo_id >= 0 && _combo_dropdown_key(ctx, keycode)) return 1;
    if (Q_GUI_WIDGET* b = find_shortcut(ctx, keycode, mods, true)) {
        _button_fire(ctx, b);
        return 1;
    }
    Q_GUI_WIDGET* focus = focused_widget(ctx);
    const bool text = focus && focus->kind == Q_GUI_KIND_TEXTAREA;
    const bool single_line = text && !static_cast<Q_GUI_TEXTAREA_DATA*>(focus->data)->multiline;
    const bool to_widget = focus && !(single_line && is_enter(keycode));
    if (!to_widget) {
        if (Q_GUI_WIDGET* b = find_shortcut(ctx, keycode, mods, false)) {
            _button_fire(ctx, b);
            return 1;
        }
        return 0;
    }
    // A text area edits on the character events that follow; here it only keeps the keys
    // from going further, except Escape, which belongs to whoever owns the field.
    if (text) return keycode == ALLEGRO_KEY_ESCAPE ? 0 : 1;
    return widget_key(ctx, focus, keycode);
}

// Character events: text editing, and the auto-repeat of the other widgets' keys.
int key_char(Q_GUI_CTX* ctx, const ALLEGRO_KEYBOARD_EVENT* key) {
    if (!key->repeat && ctx->open_combo_id >= 0) return 0;
    if (key->repeat && ctx->open_combo_id >= 0 && _combo_dropdown_key(ctx, key->keycode)) return 1;
    Q_GUI_WIDGET* focus = focused_widget(ctx);
    if (!focus) return 0;
    if (focus->kind == Q_GUI_KIND_TEXTAREA) return _textarea_key(ctx, focus, key);
    return key->repeat ? widget_key(ctx, focus, key->keycode) : 0;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Entry points
// --------------------------------------------------------------------------------------------

namespace {

bool always_dirty(unsigned type) {
    switch (type) {
    case ALLEGRO_EVENT_KEY_DOWN:
    case ALLEGRO_EVENT_KEY_CHAR:
    case ALLEGRO_EVENT_KEY_UP:
    case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
    case ALLEGRO_EVENT_MOUSE_BUTTON_UP:
    case ALLEGRO_EVENT_MOUSE_WARPED:
    case ALLEGRO_EVENT_DISPLAY_EXPOSE:
    case ALLEGRO_EVENT_DISPLAY_RESIZE:
    case ALLEGRO_EVENT_DISPLAY_CLOSE:
    case ALLEGRO_EVENT_DISPLAY_SWITCH_IN:
    case ALLEGRO_EVENT_DISPLAY_SWITCH_OUT:
    case ALLEGRO_EVENT_DISPLAY_HALT_DRAWING:
    case ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING:
        return true;
    default:
        return false;
    }
}

int pointer_moved(Q_GUI_CTX* ctx, int x, int y, int dz, int dw) {
    ctx->mouse_x = x;
    ctx->mouse_y = y;
    const int taken = ctx->mouse_down ? held_motion(ctx) : plain_motion(ctx);
    if (dz == 0 && dw == 0) return taken;
    ctx->dirty = 1;
    return wheel(ctx, dz, dw) ? 1 : taken;
}

void switch_out(Q_GUI_CTX* ctx) {
    end_drags(ctx);
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next)
        static_cast<Q_GUI_WINDOW*>(n->ptr)->tb_hover = 0;
    ctx->mouse_down = 0;
    ctx->press_taken = 0;
    ctx->modifiers = 0;
}

void pointer_left(Q_GUI_CTX* ctx) {
    ctx->mouse_x = ctx->mouse_y = -100000;
    ctx->pointer_over_gui = 0;
    ctx->tooltip_id = -1;
    set_hover(ctx, NULL, NULL, -100000.0f, -100000.0f);
}

int touch(Q_GUI_CTX* ctx, const ALLEGRO_TOUCH_EVENT* t, unsigned type) {
    if (!t->primary) return 0;
    const int x = static_cast<int>(t->x), y = static_cast<int>(t->y);
    if (type == ALLEGRO_EVENT_TOUCH_MOVE) return pointer_moved(ctx, x, y, 0, 0);
    if (type == ALLEGRO_EVENT_TOUCH_BEGIN) {
        pointer_moved(ctx, x, y, 0, 0);
        return press(ctx);
    }
    ctx->mouse_x = x;
    ctx->mouse_y = y;
    return release(ctx);
}

} // namespace

int q_gui_process_event(Q_GUI_CTX* ctx, const ALLEGRO_EVENT* event) {
    q_assert(ctx, return 0);
    q_assert(event, return 0);
    const unsigned type = event->type;
    if (always_dirty(type)) ctx->dirty = 1;
    switch (type) {
    case ALLEGRO_EVENT_MOUSE_AXES:
    case ALLEGRO_EVENT_MOUSE_WARPED:
        return pointer_moved(ctx, event->mouse.x, event->mouse.y, event->mouse.dz, event->mouse.dw);
    case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
        ctx->mouse_x = event->mouse.x;
        ctx->mouse_y = event->mouse.y;
        return event->mouse.button == 1 ? press(ctx) : 0;
    case ALLEGRO_EVENT_MOUSE_BUTTON_UP:
        ctx->mouse_x = event->mouse.x;
        ctx->mouse_y = event->mouse.y;
        return event->mouse.button == 1 ? release(ctx) : 0;
    case ALLEGRO_EVENT_MOUSE_LEAVE_DISPLAY:
        if (!ctx->mouse_down) pointer_left(ctx);
        return 0;
    case ALLEGRO_EVENT_KEY_DOWN:
        ctx->modifiers |= held_bit(event->keyboard.keycode);
        return key_down(ctx, &event->keyboard);
    case ALLEGRO_EVENT_KEY_UP:
        ctx->modifiers &= ~held_bit(event->keyboard.keycode);
        return 0;
    case ALLEGRO_EVENT_KEY_CHAR:
        return key_char(ctx, &event->keyboard);
    case ALLEGRO_EVENT_DISPLAY_SWITCH_OUT:
        switch_out(ctx);
        return 0;
    case ALLEGRO_EVENT_TOUCH_BEGIN:
    case ALLEGRO_EVENT_TOUCH_END:
    case ALLEGRO_EVENT_TOUCH_MOVE:
    case ALLEGRO_EVENT_TOUCH_CANCEL:
        return touch(ctx, &event->touch, type);
    default:
        return 0;
    }
}

int q_gui_wants_mouse(Q_GUI_CTX* ctx) {
    q_assert(ctx, return 0);
    float gx = 0, gy = 0;
    pointer_to_gui(ctx, &gx, &gy);
    if (_window_at(ctx, gx, gy)) return 1;
    if (ctx->open_combo_id >= 0 && over_dropdown(ctx, gx, gy)) return 1;
    return over_global_bars(ctx) ? 1 : 0;
}

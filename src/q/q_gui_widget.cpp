// ============================================================================================
// Toolkit widgets: the common record, creation, and the small kinds
//   [SECTION] Creation and destruction
//   [SECTION] Common operations
//   [SECTION] Buttons
//   [SECTION] Sliders
//   [SECTION] Check boxes
//   [SECTION] Labels
//
// List and combo boxes live in q_gui_listbox.cpp, text areas in q_gui_textarea.cpp.
// ============================================================================================
#include <cstdio>
#include <cstring>

#include "q/q_common.h"
#include "q/q_gui_internal.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Creation and destruction
// --------------------------------------------------------------------------------------------

Q_GUI_WIDGET* _widget_begin(Q_GUI_CTX* ctx, int window_id, int kind, float x, float y, float w,
                            float h) {
    q_assert(ctx, return NULL);
    Q_GUI_WINDOW* win = _window(ctx, window_id);
    q_assert(win, return NULL);
    Q_GUI_WIDGET* wgt = NULL;
    q_calloc(wgt, Q_GUI_WIDGET, 1);
    if (!wgt) return NULL;
    wgt->kind = kind;
    wgt->x = _sane_position(x);
    wgt->y = _sane_position(y);
    wgt->w = _sane_extent(w);
    wgt->h = _sane_extent(h);
    wgt->visible = 1;
    wgt->enabled = 1;
    wgt->theme = ctx->default_theme;
    wgt->window = win;
    return wgt;
}

int _widget_finish(Q_GUI_CTX* ctx, Q_GUI_WIDGET* wgt, void* data) {
    if (!wgt) {
        free(data);
        return -1;
    }
    if (!data) {
        free(wgt);
        return -1;
    }
    wgt->data = data;
    Q_GUI_WINDOW* win = wgt->window;
    if (!list_push(win->widgets, wgt, _widget_destroy)) {
        _widget_destroy(wgt);
        return -1;
    }
    wgt->id = ctx->next_widget_id++;
    char key[16];
    snprintf(key, sizeof key, "%d", wgt->id);
    if (!ht_put_ptr(ctx->widgets, key, wgt, NULL, NULL)) {
        _widget_destroy(list_pop_f(win->widgets));
        return -1;
    }
    _capture_widget_norm(wgt);
    ctx->dirty = 1;
    return wgt->id;
}

void _widget_destroy(void* ptr) {
    Q_GUI_WIDGET* w = static_cast<Q_GUI_WIDGET*>(ptr);
    if (!w) return;
    free(w->tooltip);
    if (w->data) {
        switch (w->kind) {
        case Q_GUI_KIND_TEXTAREA: {
            Q_GUI_TEXTAREA_DATA* td = static_cast<Q_GUI_TEXTAREA_DATA*>(w->data);
            free(td->text);
            free(td->placeholder);
            break;
        }
        case Q_GUI_KIND_LISTBOX:
            free(static_cast<Q_GUI_LISTBOX_DATA*>(w->data)->items);
            break;
        case Q_GUI_KIND_COMBOBOX:
            free(static_cast<Q_GUI_COMBOBOX_DATA*>(w->data)->items);
            break;
        case Q_GUI_KIND_COLORWHEEL:
            _colorwheel_release(static_cast<Q_GUI_COLORWHEEL_DATA*>(w->data));
            break;
        default:
            break;
        }
        free(w->data);
    }
    free(w);
}

namespace {

int add_button(Q_GUI_CTX* ctx, int window_id, const char* label, Q_GUI_RECT r, int shape,
               int toggle_mode, int toggled, Q_GUI_BUTTON_CB cb, void* user,
               ALLEGRO_BITMAP* const bitmaps[3]) {
    Q_GUI_WIDGET* wgt = _widget_begin(ctx, window_id, Q_GUI_KIND_BUTTON, r.x, r.y, r.w, r.h);
    if (!wgt) return -1;
    Q_GUI_BUTTON_DATA* bd = NULL;
    q_calloc(bd, Q_GUI_BUTTON_DATA, 1);
    if (bd) {
        _copy_text(bd->label, sizeof bd->label, label);
        bd->shape = shape;
        bd->toggle_mode = toggle_mode;
        bd->toggled = toggled != 0;
        bd->cb = cb;
        bd->user = user;
        for (int& id : bd->focus_ids)
            id = -1;
        if (bitmaps) {
            bd->normal = bitmaps[0];
            bd->hover = bitmaps[1];
            bd->pressed = bitmaps[2];
        }
    }
    return _widget_finish(ctx, wgt, bd);
}

} // namespace

int q_gui_add_button(Q_GUI_CTX* ctx, int window_id, const char* label, float x, float y, float w,
                     float h, int shape, Q_GUI_BUTTON_CB cb, void* user) {
    return add_button(ctx, window_id, label, {x, y, w, h}, shape, 0, 0, cb, user, NULL);
}

int q_gui_add_toggle_button(Q_GUI_CTX* ctx, int window_id, const char* label, float x, float y,
                            float w, float h, int shape, int toggled, Q_GUI_BUTTON_CB cb,
                            void* user) {
    return add_button(ctx, window_id, label, {x, y, w, h}, shape, 1, toggled, cb, user, NULL);
}

int q_gui_add_button_bitmap(Q_GUI_CTX* ctx, int window_id, const char* label, float x, float y,
                            float w, float h, ALLEGRO_BITMAP* normal, ALLEGRO_BITMAP* hover,
                            ALLEGRO_BITMAP* pressed, Q_GUI_BUTTON_CB cb, void* user) {
    ALLEGRO_BITMAP* const bitmaps[3] = {normal, hover, pressed};
    return add_button(ctx, window_id, label, {x, y, w, h}, Q_GUI_SHAPE_BITMAP, 0, 0, cb, user,
                      bitmaps);
}

namespace {

// A range that is not a number falls back to 0..1; a reversed one is put in order.
void sane_range(double* min, double* max) {
    if (!std::isfinite(*min)) *min = 0.0;
    if (!std::isfinite(*max)) *max = *min + 1.0;
    if (*min > *max) std::swap(*min, *max);
}

int add_slider(Q_GUI_CTX* ctx, int window_id, Q_GUI_RECT r, double min, double max, double value,
               int mode, int orientation, Q_GUI_SLIDER_CB cb, void* user) {
    Q_GUI_WIDGET* wgt = _widget_begin(ctx, window_id, Q_GUI_KIND_SLIDER, r.x, r.y, r.w, r.h);
    if (!wgt) return -1;
    Q_GUI_SLIDER_DATA* sd = NULL;
    q_calloc(sd, Q_GUI_SLIDER_DATA, 1);
    if (sd) {
        if (mode == Q_GUI_SLIDER_PERCENT) {
            min = 0.0;
            max = 100.0;
        } else if (!(min <= max) || !std::isfinite(min) || !std::isfinite(max)) {
            q_log(4, "q_gui_add_slider: range %g..%g is not usable, put in order", min, max);
            sane_range(&min, &max);
        }
        sd->min = min;
        sd->max = max;
        sd->mode = mode == Q_GUI_SLIDER_PERCENT ? mode : Q_GUI_SLIDER_RANGE;
        sd->orientation = orientation;
        sd->value = _slider_snap(sd, std::isnan(value) ? min : value);
        sd->cb = cb;
        sd->user = user;
        sd->value_visible = 1;
    }
    return _widget_finish(ctx, wgt, sd);
}

} // namespace

int q_gui_add_slider(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h, double min,
                     double max, double value, int mode, Q_GUI_SLIDER_CB cb, void* user) {
    return add_slider(ctx, window_id, {x, y, w, h}, min, max, value, mode, 0, cb, user);
}

int q_gui_add_vslider(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h, double min,
                      double max, double value, int mode, Q_GUI_SLIDER_CB cb, void* user) {
    return add_slider(ctx, window_id, {x, y, w, h}, min, max, value, mode, 1, cb, user);
}

int q_gui_add_checkbox(Q_GUI_CTX* ctx, int window_id, const char* label, float x, float y, float w,
                       float h, int checked, Q_GUI_CHECK_CB cb, void* user) {
    Q_GUI_WIDGET* wgt = _widget_begin(ctx, window_id, Q_GUI_KIND_CHECKBOX, x, y, w, h);
    if (!wgt) return -1;
    Q_GUI_CHECKBOX_DATA* cd = NULL;
    q_calloc(cd, Q_GUI_CHECKBOX_DATA, 1);
    if (cd) {
        _copy_text(cd->label, sizeof cd->label, label);
        cd->checked = checked != 0;
        cd->cb = cb;
        cd->user = user;
    }
    return _widget_finish(ctx, wgt, cd);
}

namespace {

// Copies label text without carriage returns, whole characters only.
int copy_label_text(char* dst, const char* src) {
    // A few bytes past the limit are kept so the cut can tell whether the last one ends a
    // character.
    std::string kept;
    if (src)
        for (const char* p = src; *p && kept.size() < Q_GUI_LABEL_TEXT_MAX + 4; p++)
            if (*p != '\r') kept.push_back(*p);
    const int used = _utf8_cut(kept.data(), static_cast<int>(kept.size()), Q_GUI_LABEL_TEXT_MAX);
    memcpy(dst, kept.data(), static_cast<size_t>(used));
    dst[used] = 0;
    return used;
}

} // namespace

int q_gui_add_label_link(Q_GUI_CTX* ctx, int window_id, const char* text, const char* link, float x,
                         float y, float w, float h, int alignment, Q_GUI_LINK_CB cb, void* user) {
    Q_GUI_WIDGET* wgt = _widget_begin(ctx, window_id, Q_GUI_KIND_LABEL, x, y, w, h);
    if (!wgt) return -1;
    Q_GUI_LABEL_DATA* ld = NULL;
    q_calloc(ld, Q_GUI_LABEL_DATA, 1);
    if (ld) {
        ld->length = copy_label_text(ld->text, text);
        _copy_text(ld->link, sizeof ld->link, link);
        ld->alignment = (alignment >= Q_GUI_ALIGN_LEFT && alignment <= Q_GUI_ALIGN_JUSTIFY)
                            ? alignment
                            : Q_GUI_ALIGN_LEFT;
        ld->sel_anchor = ld->sel_end = -1;
        ld->cb = cb;
        ld->user = user;
    }
    return _widget_finish(ctx, wgt, ld);
}

int q_gui_add_label(Q_GUI_CTX* ctx, int window_id, const char* text, float x, float y, float w,
                    float h, int alignment) {
    return q_gui_add_label_link(ctx, window_id, text, NULL, x, y, w, h, alignment, NULL, NULL);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Common operations
// --------------------------------------------------------------------------------------------

Q_GUI_WIDGET* q_gui_get_widget(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return NULL);
    return _widget(ctx, id);
}

namespace {

// A hidden or disabled widget keeps neither the keyboard nor an open drop-down.
void release_interaction(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w) {
    if (ctx->focused_id == w->id) q_gui_set_focus(ctx, -1);
    if (ctx->open_combo_id == w->id) _combo_close(ctx);
    w->state &= ~(Q_GUI_WIDGET_HOVER | Q_GUI_WIDGET_PRESSED);
}

} // namespace

void q_gui_set_widget_visible(Q_GUI_CTX* ctx, int id, int visible) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* w = _widget(ctx, id);
    if (!w) return;
    w->visible = visible != 0;
    if (!w->visible) release_interaction(ctx, w);
}

void q_gui_set_widget_enabled(Q_GUI_CTX* ctx, int id, int enabled) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* w = _widget(ctx, id);
    if (!w) return;
    w->enabled = enabled != 0;
    if (!w->enabled) release_interaction(ctx, w);
}

int q_gui_is_widget_enabled(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    const Q_GUI_WIDGET* w = _widget(ctx, id);
    return (w && w->enabled) ? 1 : 0;
}

void q_gui_widget_set_rect(Q_GUI_CTX* ctx, int id, float x, float y, float w, float h) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* wgt = _widget(ctx, id);
    if (!wgt) return;
    wgt->x = _sane_position(x);
    wgt->y = _sane_position(y);
    wgt->w = _sane_extent(w);
    wgt->h = _sane_extent(h);
    _capture_widget_norm(wgt);
    ctx->dirty = 1;
}

void q_gui_widget_set_font(Q_GUI_CTX* ctx, int id, ALLEGRO_FONT* font) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* w = _widget(ctx, id);
    if (!w) return;
    w->font = font;
    _text_cache_clear(ctx);
    ctx->dirty = 1;
}

void q_gui_set_widget_theme(Q_GUI_CTX* ctx, int id, const Q_GUI_THEME* theme) {
    q_assert(ctx, return );
    q_assert(theme, return );
    if (Q_GUI_WIDGET* w = _widget(ctx, id)) w->theme = *theme;
}

void q_gui_reset_all_widget_themes(Q_GUI_CTX* ctx) {
    q_assert(ctx, return );
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(n->ptr);
        for (LIST_NODE* m = win->widgets->start; m; m = m->next)
            static_cast<Q_GUI_WIDGET*>(m->ptr)->theme = ctx->default_theme;
    }
}

void q_gui_set_widget_tooltip(Q_GUI_CTX* ctx, int id, const char* text) {
    q_assert(ctx, return );
    if (Q_GUI_WIDGET* w = _widget(ctx, id)) _set_owned_text(&w->tooltip, text, Q_GUI_TOOLTIP_MAX);
}

void q_gui_widget_set_persist_key(Q_GUI_CTX* ctx, int id, const char* key) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* w = _widget(ctx, id);
    if (!w) return;
    _copy_text(w->persist_key, sizeof w->persist_key, key);
    if (!w->persist_key[0]) return;
    // Saved state waits for the widget by window title, key and kind; the kinds that keep
    // such state (split panes, data grids) are not built by this toolkit, so a match is only
    // marked as used.
    for (int i = 0; i < ctx->pending_widgets_count; i++) {
        Q_GUI_PENDING_WIDGET& p = ctx->pending_widgets[i];
        if (p.consumed || p.kind != w->kind) continue;
        if (strcmp(p.window_title, w->window->title) != 0 || strcmp(p.key, w->persist_key) != 0)
            continue;
        p.consumed = 1;
        return;
    }
}

const char* q_gui_widget_get_persist_key(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return "");
    const Q_GUI_WIDGET* w = _widget(ctx, id);
    return w ? w->persist_key : "";
}

int q_gui_hovered_widget(Q_GUI_CTX* ctx) {
    q_assert(ctx, return -1);
    for (LIST_NODE* n = ctx->windows->end; n; n = n->prev) {
        const Q_GUI_WINDOW* win = static_cast<const Q_GUI_WINDOW*>(n->ptr);
        if (!(win->state & Q_GUI_WIN_OPEN)) continue;
        for (LIST_NODE* m = win->widgets->start; m; m = m->next) {
            const Q_GUI_WIDGET* w = static_cast<const Q_GUI_WIDGET*>(m->ptr);
            if (w->visible && w->enabled &&
                (w->state & (Q_GUI_WIDGET_HOVER | Q_GUI_WIDGET_PRESSED)))
                return w->id;
        }
    }
    return -1;
}

// A widget without tooltip text has nothing to show, so it does not keep the caller redrawing.
int q_gui_tooltip_pending(Q_GUI_CTX* ctx) {
    q_assert(ctx, return 0);
    if (ctx->style.tooltip_delay <= 0.0f || ctx->tooltip_id < 0) return 0;
    const Q_GUI_WIDGET* w = _widget(ctx, ctx->tooltip_id);
    if (!w || !w->tooltip) return 0;
    return al_get_time() - ctx->hover_start < ctx->style.tooltip_delay ? 1 : 2;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Buttons
// --------------------------------------------------------------------------------------------

namespace {

template <typename DATA> DATA* kind_data(Q_GUI_CTX* ctx, int id, int kind) {
    Q_GUI_WIDGET* w = _widget_of(ctx, id, kind);
    return w ? static_cast<DATA*>(w->data) : NULL;
}

Q_GUI_BUTTON_DATA* button(Q_GUI_CTX* ctx, int id) {
    return kind_data<Q_GUI_BUTTON_DATA>(ctx, id, Q_GUI_KIND_BUTTON);
}

} // namespace

void _button_fire(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w) {
    Q_GUI_BUTTON_DATA* bd = static_cast<Q_GUI_BUTTON_DATA*>(w->data);
    if (bd->toggle_mode) bd->toggled = !bd->toggled;
    const double now = al_get_time();
    bd->flash_until = now + 0.12;
    ctx->redraw_until = std::max(ctx->redraw_until, now + 0.17);
    if (bd->cb) bd->cb(w->id, bd->user);
}

void q_gui_button_set_label(Q_GUI_CTX* ctx, int id, const char* text) {
    q_assert(ctx, return );
    Q_GUI_BUTTON_DATA* bd = button(ctx, id);
    if (bd && text) _copy_text(bd->label, sizeof bd->label, text);
}

void q_gui_button_set_toggled(Q_GUI_CTX* ctx, int id, int toggled) {
    q_assert(ctx, return );
    if (Q_GUI_BUTTON_DATA* bd = button(ctx, id)) bd->toggled = toggled != 0;
}

int q_gui_button_is_toggled(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    const Q_GUI_BUTTON_DATA* bd = button(ctx, id);
    return (bd && bd->toggled) ? 1 : 0;
}

void q_gui_button_set_toggle_mode(Q_GUI_CTX* ctx, int id, int on) {
    q_assert(ctx, return );
    Q_GUI_BUTTON_DATA* bd = button(ctx, id);
    if (!bd) return;
    bd->toggle_mode = on != 0;
    if (!on) bd->toggled = 0;
}

void q_gui_button_set_state_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* normal,
                                    ALLEGRO_BITMAP* hover, ALLEGRO_BITMAP* pressed) {
    q_assert(ctx, return );
    Q_GUI_BUTTON_DATA* bd = button(ctx, id);
    if (!bd) return;
    bd->normal = normal;
    bd->hover = hover;
    bd->pressed = pressed;
    bd->shape = Q_GUI_SHAPE_BITMAP;
}

void q_gui_button_set_glyph(Q_GUI_CTX* ctx, int id, int glyph) {
    q_assert(ctx, return );
    Q_GUI_BUTTON_DATA* bd = button(ctx, id);
    if (!bd || glyph < 0 || glyph > 8) return;
    bd->glyph = glyph;
    ctx->dirty = 1;
}

void q_gui_button_set_keycode(Q_GUI_CTX* ctx, int id, int key, int modifiers) {
    q_gui_button_set_keycode_focused(ctx, id, key, modifiers, NULL, -1);
}

// A negative count (the plain variant) binds the key for any focus.
void q_gui_button_set_keycode_focused(Q_GUI_CTX* ctx, int id, int key, int modifiers,
                                      const int* widget_ids, int count) {
    q_assert(ctx, return );
    Q_GUI_BUTTON_DATA* bd = button(ctx, id);
    if (!bd) return;
    bd->key = key;
    bd->key_mods = modifiers & Q_GUI_SHORTCUT_MODIFIERS;
    bd->key_needs_focus = count >= 0;
    for (int& slot : bd->focus_ids)
        slot = -1;
    if (!widget_ids) return;
    for (int i = 0; i < count && i < Q_GUI_SHORTCUT_FOCUS_MAX; i++)
        bd->focus_ids[i] = widget_ids[i];
}

// --------------------------------------------------------------------------------------------
// [SECTION] Sliders
// --------------------------------------------------------------------------------------------

namespace {

Q_GUI_SLIDER_DATA* slider(Q_GUI_CTX* ctx, int id) {
    return kind_data<Q_GUI_SLIDER_DATA>(ctx, id, Q_GUI_KIND_SLIDER);
}

// One floating-point conversion, optionally with flags, width, precision and 'l'; "%%"
// anywhere. Anything else (a string or pointer conversion, a second value, '*') would make
// the formatter read arguments that are not there.
bool one_double_format(const char* format) {
    int conversions = 0;
    for (const char* p = format; *p; p++) {
        if (*p != '%') continue;
        p++;
        if (*p == '%') continue;
        while (*p && strchr("-+ #0", *p))
            p++;
        for (int digits = 0; *p >= '0' && *p <= '9'; p++)
            if (++digits > 2) return false;
        if (*p == '.') {
            p++;
            for (int digits = 0; *p >= '0' && *p <= '9'; p++)
                if (++digits > 2) return false;
        }
        if (*p == 'l') p++;
        if (!*p || !strchr("fFeEgGaA", *p)) return false;
        conversions++;
    }
    return conversions == 1;
}

} // namespace

double _slider_snap(const Q_GUI_SLIDER_DATA* sd, double value) {
    if (sd->step > 0.0) value = sd->min + std::round((value - sd->min) / sd->step) * sd->step;
    value = std::max(sd->min, value);
    return std::min(sd->max, value);
}

void _slider_change(Q_GUI_WIDGET* w, double value) {
    Q_GUI_SLIDER_DATA* sd = static_cast<Q_GUI_SLIDER_DATA*>(w->data);
    value = _slider_snap(sd, value);
    if (value == sd->value) return;
    sd->value = value;
    if (sd->cb) sd->cb(w->id, value, sd->user);
}

void _slider_from_pointer(Q_GUI_WIDGET* w, float gx, float gy) {
    const Q_GUI_SLIDER_DATA* sd = static_cast<const Q_GUI_SLIDER_DATA*>(w->data);
    const Q_GUI_RECT r = _widget_screen_rect(w);
    double t = 0.0;
    if (sd->orientation == 1)
        t = r.h > 0.0f ? 1.0 - (gy - r.y) / r.h : 0.0;
    else
        t = r.w > 0.0f ? (gx - r.x) / r.w : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    _slider_change(w, sd->min + t * (sd->max - sd->min));
}

double q_gui_slider_get_value(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0.0);
    const Q_GUI_SLIDER_DATA* sd = slider(ctx, id);
    return sd ? sd->value : 0.0;
}

void q_gui_slider_set_value(Q_GUI_CTX* ctx, int id, double value) {
    q_assert(ctx, return );
    Q_GUI_SLIDER_DATA* sd = slider(ctx, id);
    if (!sd) return;
    if (std::isnan(value)) {
        q_log(4, "q_gui_slider_set_value: slider %d ignores a value that is not a number", id);
        return;
    }
    sd->value = _slider_snap(sd, value);
}

void q_gui_slider_set_range(Q_GUI_CTX* ctx, int id, double min, double max) {
    q_assert(ctx, return );
    Q_GUI_SLIDER_DATA* sd = slider(ctx, id);
    if (!sd) return;
    if (!std::isfinite(min) || !std::isfinite(max) || min > max) {
        q_log(4, "q_gui_slider_set_range: slider %d keeps its range, %g..%g refused", id, min, max);
        return;
    }
    sd->min = min;
    sd->max = max;
    sd->value = _slider_snap(sd, sd->value);
}

void q_gui_slider_set_step(Q_GUI_CTX* ctx, int id, double step) {
    q_assert(ctx, return );
    Q_GUI_SLIDER_DATA* sd = slider(ctx, id);
    if (!sd) return;
    if (!std::isfinite(step) || step < 0.0) {
        q_log(4, "q_gui_slider_set_step: slider %d keeps its step, %g refused", id, step);
        return;
    }
    sd->step = step;
    sd->value = _slider_snap(sd, sd->value);
}

void q_gui_slider_set_value_format(Q_GUI_CTX* ctx, int id, const char* format) {
    q_assert(ctx, return );
    Q_GUI_SLIDER_DATA* sd = slider(ctx, id);
    if (!sd) return;
    if (!format || !format[0]) {
        sd->format[0] = 0;
        return;
    }
    char candidate[sizeof sd->format];
    _copy_text(candidate, sizeof candidate, format);
    if (!one_double_format(candidate)) {
        q_log(4, "q_gui_slider_set_value_format: slider %d refuses format \"%s\"", id, candidate);
        return;
    }
    memcpy(sd->format, candidate, sizeof candidate);
}

void q_gui_slider_set_value_visible(Q_GUI_CTX* ctx, int id, int visible) {
    q_assert(ctx, return );
    if (Q_GUI_SLIDER_DATA* sd = slider(ctx, id)) sd->value_visible = visible != 0;
}

void q_gui_slider_set_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* track,
                              ALLEGRO_BITMAP* handle) {
    q_assert(ctx, return );
    Q_GUI_SLIDER_DATA* sd = slider(ctx, id);
    if (!sd) {
        q_log(4, "q_gui_slider_set_bitmaps: widget %d is not a slider", id);
        return;
    }
    sd->track = track;
    sd->handle = handle;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Check boxes
// --------------------------------------------------------------------------------------------

void _checkbox_toggle(Q_GUI_WIDGET* w) {
    Q_GUI_CHECKBOX_DATA* cd = static_cast<Q_GUI_CHECKBOX_DATA*>(w->data);
    cd->checked = !cd->checked;
    if (cd->cb) cd->cb(w->id, cd->checked, cd->user);
}

void q_gui_checkbox_set_checked(Q_GUI_CTX* ctx, int id, int checked) {
    q_assert(ctx, return );
    auto* cd = kind_data<Q_GUI_CHECKBOX_DATA>(ctx, id, Q_GUI_KIND_CHECKBOX);
    if (cd) cd->checked = checked != 0;
}

int q_gui_checkbox_is_checked(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    const auto* cd = kind_data<Q_GUI_CHECKBOX_DATA>(ctx, id, Q_GUI_KIND_CHECKBOX);
    return (cd && cd->checked) ? 1 : 0;
}

void q_gui_checkbox_set_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* normal,
                                ALLEGRO_BITMAP* hover, ALLEGRO_BITMAP* checked) {
    q_assert(ctx, return );
    auto* cd = kind_data<Q_GUI_CHECKBOX_DATA>(ctx, id, Q_GUI_KIND_CHECKBOX);
    if (!cd) {
        q_log(4, "q_gui_checkbox_set_bitmaps: widget %d is not a checkbox", id);
        return;
    }
    cd->normal = normal;
    cd->hover = hover;
    cd->checked_bitmap = checked;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Labels
// --------------------------------------------------------------------------------------------

namespace {

Q_GUI_LABEL_DATA* label(Q_GUI_CTX* ctx, int id) {
    return kind_data<Q_GUI_LABEL_DATA>(ctx, id, Q_GUI_KIND_LABEL);
}

} // namespace

void q_gui_label_set_text(Q_GUI_CTX* ctx, int id, const char* text) {
    q_assert(ctx, return );
    Q_GUI_LABEL_DATA* ld = label(ctx, id);
    if (!ld) return;
    ld->length = copy_label_text(ld->text, text);
    ld->sel_anchor = ld->sel_end = -1;
    ld->scroll = 0.0f;
    if (ctx->selecting_label_id == id) ctx->selecting_label_id = -1;
}

void q_gui_label_set_link(Q_GUI_CTX* ctx, int id, const char* link) {
    q_assert(ctx, return );
    if (Q_GUI_LABEL_DATA* ld = label(ctx, id)) _copy_text(ld->link, sizeof ld->link, link);
}

void q_gui_label_set_bitmap(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* bitmap) {
    q_assert(ctx, return );
    Q_GUI_LABEL_DATA* ld = label(ctx, id);
    if (!ld) {
        q_log(4, "q_gui_label_set_bitmap: widget %d is not a label", id);
        return;
    }
    ld->bitmap = bitmap;
}

int q_gui_label_fits(Q_GUI_CTX* ctx, int id, float* needed_w, float* needed_h) {
    q_assert(ctx, return 0);
    if (needed_w) *needed_w = 0.0f;
    if (needed_h) *needed_h = 0.0f;
    Q_GUI_WIDGET* w = _widget_of(ctx, id, Q_GUI_KIND_LABEL);
    if (!w) return 0;
    const Q_GUI_LABEL_DATA* ld = static_cast<const Q_GUI_LABEL_DATA*>(w->data);
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    if (ld->length == 0 || !font) return 1;
    const float pad = ctx->style.label_padding;
    const float line_h = static_cast<float>(al_get_font_line_height(font));
    float nw = 0.0f, nh = 0.0f;
    if (ld->alignment == Q_GUI_ALIGN_JUSTIFY) {
        const auto lines = _wrap_text(ctx, font, ld->text, ld->length, w->w - 2.0f * pad, false);
        nw = w->w;
        nh = static_cast<float>(lines.size()) * line_h;
    } else {
        nw = _text_width(ctx, font, ld->text, ld->length) + 2.0f * pad;
        nh = line_h;
    }
    if (needed_w) *needed_w = nw;
    if (needed_h) *needed_h = nh;
    return (w->w + 0.5f >= nw && w->h + 0.5f >= nh) ? 1 : 0;
}

float _label_text_x(Q_GUI_CTX* ctx, const Q_GUI_WIDGET* w, const ALLEGRO_FONT* font) {
    const Q_GUI_LABEL_DATA* ld = static_cast<const Q_GUI_LABEL_DATA*>(w->data);
    const Q_GUI_RECT r = _widget_screen_rect(w);
    const float pad = ctx->style.label_padding;
    const float text_w = _text_width(ctx, font, ld->text, ld->length);
    // Text that does not fit is drawn from the left padding whatever the alignment.
    if (ld->alignment == Q_GUI_ALIGN_LEFT || text_w > r.w - 2.0f * pad) return r.x + pad;
    if (ld->alignment == Q_GUI_ALIGN_CENTER) return r.x + (r.w - text_w) / 2.0f;
    return r.x + r.w - pad - text_w;
}

void _label_press(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gx) {
    Q_GUI_LABEL_DATA* ld = static_cast<Q_GUI_LABEL_DATA*>(w->data);
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    if (!font || ld->alignment == Q_GUI_ALIGN_JUSTIFY || ld->link[0]) return;
    const int at = _text_offset_at(font, ld->text, ld->length, gx - _label_text_x(ctx, w, font));
    ld->sel_anchor = ld->sel_end = at;
    ctx->selecting_label_id = w->id;
}

void _label_drag(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gx) {
    Q_GUI_LABEL_DATA* ld = static_cast<Q_GUI_LABEL_DATA*>(w->data);
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    if (!font || ld->sel_anchor < 0) return;
    ld->sel_end = _text_offset_at(font, ld->text, ld->length, gx - _label_text_x(ctx, w, font));
}

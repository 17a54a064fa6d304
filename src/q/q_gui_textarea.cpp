// ============================================================================================
// Toolkit text areas: UTF-8 editing, caret and selection, clipboard, layout and drawing
//   [SECTION] Creation and setters
//   [SECTION] Editing primitives
//   [SECTION] Layout: lines, caret position, hit testing, scrolling
//   [SECTION] Pointer
//   [SECTION] Keys and clipboard
//   [SECTION] Drawing
//
// The text is always well-formed UTF-8: typed characters are encoded here, pasted and set
// text is cleaned first, and deletions remove whole characters. The cursor and both ends of
// the selection are byte offsets on character boundaries. The selection runs from its anchor
// (sel_start) to the cursor (sel_end, equal to the cursor); it is empty when both are equal.
// ============================================================================================
#include <allegro5/allegro_primitives.h>

#include <cstring>

#include "q/q_clipboard.h"
#include "q/q_common.h"
#include "q/q_gui_internal.h"

namespace {

// The largest text a field may be asked to hold; more would only be a mistake by the caller.
constexpr int TEXTAREA_LIMIT = 1 << 20;
// Pasted text is cut to this many bytes before it is inserted.
constexpr size_t PASTE_LIMIT = 4095;

Q_GUI_TEXTAREA_DATA* data_of(Q_GUI_WIDGET* w) {
    return static_cast<Q_GUI_TEXTAREA_DATA*>(w->data);
}

Q_GUI_WIDGET* textarea(Q_GUI_CTX* ctx, int id) {
    return _widget_of(ctx, id, Q_GUI_KIND_TEXTAREA);
}

// Keeps the well-formed characters that a field of this kind accepts: no carriage returns,
// line feeds only when multiline, no other control bytes; cut to `limit` bytes.
std::string filter_text(const char* text, size_t len, bool multiline, size_t limit) {
    std::string kept;
    for (size_t i = 0; i < len; i++) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n' ? multiline : c >= 32) kept.push_back(static_cast<char>(c));
    }
    return _utf8_clean(kept.data(), kept.size(), limit);
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Creation and setters
// --------------------------------------------------------------------------------------------

int q_gui_add_textarea(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h,
                       int multiline, int max_length, Q_GUI_TEXT_CB cb, void* user) {
    Q_GUI_WIDGET* wgt = _widget_begin(ctx, window_id, Q_GUI_KIND_TEXTAREA, x, y, w, h);
    if (!wgt) return -1;
    if (max_length <= 0) max_length = Q_GUI_TEXTAREA_DEFAULT_MAX;
    if (max_length > TEXTAREA_LIMIT) {
        q_log(4, "q_gui_add_textarea: max length %d lowered to %d", max_length, TEXTAREA_LIMIT);
        max_length = TEXTAREA_LIMIT;
    }
    Q_GUI_TEXTAREA_DATA* td = NULL;
    q_calloc(td, Q_GUI_TEXTAREA_DATA, 1);
    if (td) {
        q_calloc(td->text, char, static_cast<size_t>(max_length) + 1);
        if (!td->text) {
            free(td);
            td = NULL;
        }
    }
    if (td) {
        td->capacity = max_length;
        td->max_length = max_length;
        td->multiline = multiline != 0;
        td->scroll_target = -1;
        td->goal_x = -1.0f;
        td->cb = cb;
        td->user = user;
    }
    return _widget_finish(ctx, wgt, td);
}

void q_gui_textarea_set_text(Q_GUI_CTX* ctx, int id, const char* text) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* w = textarea(ctx, id);
    if (!w) return;
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    const std::string kept =
        text ? filter_text(text, strlen(text), td->multiline, static_cast<size_t>(td->max_length))
             : std::string();
    memcpy(td->text, kept.data(), kept.size());
    td->length = static_cast<int>(kept.size());
    td->text[td->length] = 0;
    td->cursor = td->sel_start = td->sel_end = td->length;
    td->scroll = 0.0f;
    td->follow_caret = 1;
    td->goal_x = -1.0f;
}

const char* q_gui_textarea_get_text(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return "");
    Q_GUI_WIDGET* w = textarea(ctx, id);
    return w ? data_of(w)->text : "";
}

int q_gui_textarea_get_text_length(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    Q_GUI_WIDGET* w = textarea(ctx, id);
    return w ? data_of(w)->length : 0;
}

void q_gui_textarea_set_selection(Q_GUI_CTX* ctx, int id, int start, int end) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* w = textarea(ctx, id);
    if (!w) return;
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    td->sel_start = _utf8_cut(td->text, td->length, std::clamp(start, 0, td->length));
    td->sel_end = _utf8_cut(td->text, td->length, std::clamp(end, 0, td->length));
    td->cursor = td->sel_end;
    td->follow_caret = 1;
}

void q_gui_textarea_set_mask_char(Q_GUI_CTX* ctx, int id, char mask) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* w = textarea(ctx, id);
    if (!w) {
        q_log(4, "q_gui_textarea_set_mask_char: widget %d is not a textarea", id);
        return;
    }
    // Only a printable ASCII byte can stand for a character on its own.
    data_of(w)->mask = (static_cast<unsigned char>(mask) >= 32 && mask != 127) ? mask : 0;
}

void q_gui_textarea_set_placeholder(Q_GUI_CTX* ctx, int id, const char* text) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* w = textarea(ctx, id);
    if (!w) {
        q_log(4, "q_gui_textarea_set_placeholder: widget %d is not a textarea", id);
        return;
    }
    _set_owned_text(&data_of(w)->placeholder, text, Q_GUI_LABEL_TEXT_MAX);
}

void q_gui_textarea_scroll_to_bottom(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* w = textarea(ctx, id);
    if (w) data_of(w)->scroll_target = data_of(w)->length;
}

void q_gui_textarea_scroll_to_offset(Q_GUI_CTX* ctx, int id, int offset) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* w = textarea(ctx, id);
    if (!w) return;
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    td->scroll_target = _utf8_cut(td->text, td->length, std::clamp(offset, 0, td->length));
}

void q_gui_textarea_set_bitmap(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* background) {
    q_assert(ctx, return );
    Q_GUI_WIDGET* w = textarea(ctx, id);
    if (!w) {
        q_log(4, "q_gui_textarea_set_bitmap: widget %d is not a textarea", id);
        return;
    }
    data_of(w)->bitmap = background;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Editing primitives
// --------------------------------------------------------------------------------------------

namespace {

bool has_selection(const Q_GUI_TEXTAREA_DATA* td) {
    return td->sel_start != td->sel_end;
}
int sel_min(const Q_GUI_TEXTAREA_DATA* td) {
    return std::min(td->sel_start, td->sel_end);
}
int sel_max(const Q_GUI_TEXTAREA_DATA* td) {
    return std::max(td->sel_start, td->sel_end);
}

void collapse_at(Q_GUI_TEXTAREA_DATA* td, int pos) {
    td->cursor = td->sel_start = td->sel_end = pos;
    td->follow_caret = 1;
}

void erase(Q_GUI_TEXTAREA_DATA* td, int from, int to) {
    memmove(td->text + from, td->text + to, static_cast<size_t>(td->length - to) + 1);
    td->length -= to - from;
    collapse_at(td, from);
}

// Replaces the selection by `n` bytes; refused (nothing changes) when the result would not
// fit, so a failed insertion never costs the user the selected text.
bool replace_selection(Q_GUI_TEXTAREA_DATA* td, const char* bytes, int n) {
    const int removed = sel_max(td) - sel_min(td);
    if (td->length - removed + n > td->max_length) return false;
    if (removed) erase(td, sel_min(td), sel_max(td));
    memmove(td->text + td->cursor + n, td->text + td->cursor,
            static_cast<size_t>(td->length - td->cursor) + 1);
    memcpy(td->text + td->cursor, bytes, static_cast<size_t>(n));
    td->length += n;
    collapse_at(td, td->cursor + n);
    return true;
}

void changed(Q_GUI_WIDGET* w) {
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    td->goal_x = -1.0f;
    if (td->cb) td->cb(w->id, td->text, td->user);
}

// Moves the cursor; with `extend` the anchor stays, otherwise the selection collapses.
void move_to(Q_GUI_TEXTAREA_DATA* td, int pos, bool extend) {
    pos = std::clamp(pos, 0, td->length);
    if (extend) {
        td->cursor = td->sel_end = pos;
        td->follow_caret = 1;
    } else {
        collapse_at(td, pos);
    }
}

bool is_space(char c) {
    return c == ' ' || c == '\n';
}

int word_left(const Q_GUI_TEXTAREA_DATA* td, int pos) {
    while (pos > 0 && is_space(td->text[pos - 1]))
        pos--;
    while (pos > 0 && !is_space(td->text[pos - 1]))
        pos = _utf8_prev(td->text, td->length, pos);
    return pos;
}

int word_right(const Q_GUI_TEXTAREA_DATA* td, int pos) {
    while (pos < td->length && !is_space(td->text[pos]))
        pos = _utf8_next(td->text, td->length, pos);
    while (pos < td->length && is_space(td->text[pos]))
        pos++;
    return pos;
}

} // namespace

int _textarea_paste_text(Q_GUI_WIDGET* w, const char* text) {
    if (!w || w->kind != Q_GUI_KIND_TEXTAREA || !text) return 0;
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    const std::string kept = filter_text(text, strlen(text), td->multiline, PASTE_LIMIT);
    if (kept.empty() && !has_selection(td)) return 0;
    if (!replace_selection(td, kept.data(), static_cast<int>(kept.size()))) return 0;
    changed(w);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Layout: lines, caret position, hit testing, scrolling
// --------------------------------------------------------------------------------------------

namespace {

// What the area shows: the text itself, or one mask byte per character. Offsets into the
// shown text and into the real text are converted through `to_shown` and `to_real`.
struct Layout {
    const ALLEGRO_FONT* font;
    Q_GUI_RECT inner; // inside the padding
    std::string masked;
    const char* shown;
    int shown_len;
    std::vector<Q_GUI_LINE> lines;
    float line_h;
    float top; // y of the first line before scrolling
};

int to_shown(const Q_GUI_TEXTAREA_DATA* td, int real) {
    if (!td->mask) return real;
    int chars = 0;
    for (int pos = 0; pos < real; pos = _utf8_next(td->text, td->length, pos))
        chars++;
    return chars;
}

int to_real(const Q_GUI_TEXTAREA_DATA* td, int shown) {
    if (!td->mask) return _utf8_cut(td->text, td->length, shown);
    int pos = 0;
    for (int i = 0; i < shown && pos < td->length; i++)
        pos = _utf8_next(td->text, td->length, pos);
    return pos;
}

bool make_layout(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, Q_GUI_RECT r, Layout* out) {
    const Q_GUI_TEXTAREA_DATA* td = data_of(w);
    out->font = _widget_font(ctx, w);
    if (!out->font) return false;
    const float pad = ctx->style.textarea_padding;
    out->inner = Q_GUI_RECT{r.x + pad, r.y + pad, std::max(1.0f, r.w - 2 * pad),
                            std::max(1.0f, r.h - 2 * pad)};
    out->shown = td->text;
    out->shown_len = td->length;
    if (td->mask) {
        out->masked.assign(static_cast<size_t>(to_shown(td, td->length)), td->mask);
        out->shown = out->masked.data();
        out->shown_len = static_cast<int>(out->masked.size());
    }
    out->line_h = static_cast<float>(al_get_font_line_height(out->font));
    if (td->multiline) {
        out->lines = _wrap_text(ctx, out->font, out->shown, out->shown_len, out->inner.w, true);
        out->top = out->inner.y;
    } else {
        out->lines.assign(1, Q_GUI_LINE{0, out->shown_len, 0.0f});
        out->top = out->inner.y + (out->inner.h - out->line_h) / 2.0f;
    }
    return true;
}

size_t line_of(const Layout& lay, int shown) {
    size_t line = 0;
    while (line + 1 < lay.lines.size() && lay.lines[line + 1].start <= shown)
        line++;
    return line;
}

float x_in_line(const Layout& lay, size_t line, int shown) {
    const Q_GUI_LINE& l = lay.lines[line];
    const int upto = std::clamp(shown, l.start, l.end) - l.start;
    return _text_x_at(lay.font, lay.shown + l.start, l.end - l.start, upto);
}

// Shown offset in `line` nearest to pen position `x` (relative to the line start).
int offset_in_line(const Layout& lay, size_t line, float x) {
    const Q_GUI_LINE& l = lay.lines[line];
    return l.start + _text_offset_at(lay.font, lay.shown + l.start, l.end - l.start, x);
}

// Brings the character at `real` into view by moving the scroll offset as little as needed.
void scroll_into_view(Q_GUI_CTX* ctx, Q_GUI_TEXTAREA_DATA* td, const Layout& lay, int real) {
    const int shown = to_shown(td, real);
    const size_t line = line_of(lay, shown);
    if (td->multiline) {
        const float y = static_cast<float>(line) * lay.line_h;
        if (y < td->scroll) td->scroll = y;
        if (y + lay.line_h > td->scroll + lay.inner.h) td->scroll = y + lay.line_h - lay.inner.h;
    } else {
        const float x = x_in_line(lay, line, shown);
        const float room = lay.inner.w - ctx->style.textarea_cursor_width;
        if (x < td->scroll) td->scroll = x;
        if (x > td->scroll + room) td->scroll = x - room;
    }
}

void clamp_scroll(Q_GUI_CTX* ctx, Q_GUI_TEXTAREA_DATA* td, const Layout& lay) {
    float extent = 0.0f;
    if (td->multiline) {
        extent = static_cast<float>(lay.lines.size()) * lay.line_h - lay.inner.h;
    } else {
        extent = _text_width(ctx, lay.font, lay.shown, lay.shown_len) +
                 ctx->style.textarea_cursor_width - lay.inner.w;
    }
    td->scroll =
        std::clamp(std::isfinite(td->scroll) ? td->scroll : 0.0f, 0.0f, std::max(0.0f, extent));
}

// Applies pending scroll requests, then keeps the offset in range.
void settle_scroll(Q_GUI_CTX* ctx, Q_GUI_TEXTAREA_DATA* td, const Layout& lay) {
    if (td->follow_caret)
        scroll_into_view(ctx, td, lay, td->cursor);
    else if (td->scroll_target >= 0)
        scroll_into_view(ctx, td, lay, std::min(td->scroll_target, td->length));
    td->follow_caret = 0;
    td->scroll_target = -1;
    clamp_scroll(ctx, td, lay);
}

// Real offset under a GUI position.
int offset_at(const Q_GUI_TEXTAREA_DATA* td, const Layout& lay, float gx, float gy) {
    size_t line = 0;
    float x = gx - lay.inner.x;
    if (td->multiline) {
        const float row = (gy - lay.top + td->scroll) / lay.line_h;
        line = static_cast<size_t>(std::clamp(row, 0.0f, static_cast<float>(lay.lines.size() - 1)));
    } else {
        x += td->scroll;
    }
    return to_real(td, offset_in_line(lay, line, x));
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Pointer
// --------------------------------------------------------------------------------------------

void _textarea_press(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gx, float gy, bool extend) {
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    Layout lay;
    if (!make_layout(ctx, w, _widget_screen_rect(w), &lay)) return;
    settle_scroll(ctx, td, lay);
    move_to(td, offset_at(td, lay, gx, gy), extend);
    td->goal_x = -1.0f;
    td->blink_start = al_get_time();
}

// --------------------------------------------------------------------------------------------
// [SECTION] Keys and clipboard
// --------------------------------------------------------------------------------------------

namespace {

// Start or end of the visual line holding the cursor (multiline), or of the whole text.
int line_edge(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, bool end) {
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    Layout lay;
    if (!td->multiline || !make_layout(ctx, w, _widget_screen_rect(w), &lay))
        return end ? td->length : 0;
    const Q_GUI_LINE& l = lay.lines[line_of(lay, to_shown(td, td->cursor))];
    return to_real(td, end ? l.end : l.start);
}

// Cursor one visual line up or down, keeping the column the movement started from.
int line_step(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, int direction) {
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    Layout lay;
    if (!make_layout(ctx, w, _widget_screen_rect(w), &lay)) return td->cursor;
    const int shown = to_shown(td, td->cursor);
    const size_t line = line_of(lay, shown);
    if (td->goal_x < 0.0f) td->goal_x = x_in_line(lay, line, shown);
    if (direction < 0 && line == 0) return 0;
    if (direction > 0 && line + 1 >= lay.lines.size()) return td->length;
    const size_t target = direction < 0 ? line - 1 : line + 1;
    return to_real(td, offset_in_line(lay, target, td->goal_x));
}

void copy_selection(Q_GUI_TEXTAREA_DATA* td) {
    const std::string part(td->text + sel_min(td), static_cast<size_t>(sel_max(td) - sel_min(td)));
    q_clipboard_set(0, part.c_str());
}

char* clipboard_text(Q_GUI_CTX* ctx) {
    if (q_clipboard_available()) return q_clipboard_get(0);
    char* text = al_get_clipboard_text(ctx->display);
    if (!text) return NULL;
    char* copy = strdup(text);
    al_free(text);
    return copy;
}

// Ctrl+A, C, X and V. A masked field never gives its text away.
int clipboard_key(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, int keycode) {
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    switch (keycode) {
    case ALLEGRO_KEY_A:
        td->sel_start = 0;
        td->cursor = td->sel_end = td->length;
        if (!td->mask) q_clipboard_set(1, td->text);
        return 1;
    case ALLEGRO_KEY_C:
    case ALLEGRO_KEY_X:
        if (!ctx->display || td->mask || !has_selection(td)) return 1;
        copy_selection(td);
        if (keycode == ALLEGRO_KEY_X) {
            erase(td, sel_min(td), sel_max(td));
            changed(w);
        }
        return 1;
    case ALLEGRO_KEY_V: {
        if (!ctx->display) return 1;
        char* text = clipboard_text(ctx);
        if (text) _textarea_paste_text(w, text);
        free(text);
        return 1;
    }
    default:
        return 0;
    }
}

int edit_key(Q_GUI_WIDGET* w, int keycode, bool word) {
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    if (has_selection(td)) {
        erase(td, sel_min(td), sel_max(td));
    } else if (keycode == ALLEGRO_KEY_BACKSPACE) {
        if (td->cursor == 0) return 1;
        const int from =
            word ? word_left(td, td->cursor) : _utf8_prev(td->text, td->length, td->cursor);
        erase(td, from, td->cursor);
    } else {
        if (td->cursor >= td->length) return 1;
        const int to =
            word ? word_right(td, td->cursor) : _utf8_next(td->text, td->length, td->cursor);
        erase(td, td->cursor, to);
    }
    changed(w);
    return 1;
}

int type_char(Q_GUI_WIDGET* w, int code_point) {
    char bytes[4];
    const int n = code_point >= 32 ? _utf8_encode(code_point, bytes) : 0;
    if (n == 0) return 0;
    if (replace_selection(data_of(w), bytes, n)) changed(w);
    return 1;
}

} // namespace

int _textarea_key(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, const ALLEGRO_KEYBOARD_EVENT* key) {
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    td->blink_start = al_get_time();
    const bool shift = key->modifiers & ALLEGRO_KEYMOD_SHIFT;
    const bool ctrl = key->modifiers & (ALLEGRO_KEYMOD_CTRL | ALLEGRO_KEYMOD_COMMAND);
    const bool alt = key->modifiers & (ALLEGRO_KEYMOD_ALT | ALLEGRO_KEYMOD_ALTGR);
    const int keycode = key->keycode;
    if (keycode != ALLEGRO_KEY_UP && keycode != ALLEGRO_KEY_DOWN) td->goal_x = -1.0f;
    switch (keycode) {
    case ALLEGRO_KEY_LEFT:
        if (!shift && has_selection(td))
            move_to(td, sel_min(td), false);
        else
            move_to(td,
                    ctrl ? word_left(td, td->cursor) : _utf8_prev(td->text, td->length, td->cursor),
                    shift);
        return 1;
    case ALLEGRO_KEY_RIGHT:
        if (!shift && has_selection(td))
            move_to(td, sel_max(td), false);
        else
            move_to(td,
                    ctrl ? word_right(td, td->cursor)
                         : _utf8_next(td->text, td->length, td->cursor),
                    shift);
        return 1;
    case ALLEGRO_KEY_HOME:
        move_to(td, ctrl ? 0 : line_edge(ctx, w, false), shift);
        return 1;
    case ALLEGRO_KEY_END:
        move_to(td, ctrl ? td->length : line_edge(ctx, w, true), shift);
        return 1;
    case ALLEGRO_KEY_UP:
    case ALLEGRO_KEY_DOWN:
        if (!td->multiline) return 0;
        move_to(td, line_step(ctx, w, keycode == ALLEGRO_KEY_UP ? -1 : 1), shift);
        return 1;
    case ALLEGRO_KEY_BACKSPACE:
    case ALLEGRO_KEY_DELETE:
        return edit_key(w, keycode, ctrl);
    case ALLEGRO_KEY_ENTER:
    case ALLEGRO_KEY_PAD_ENTER:
        if (!td->multiline) return 0;
        if (replace_selection(td, "\n", 1)) changed(w);
        return 1;
    default:
        break;
    }
    // Ctrl with Alt is how some layouts type characters; only a plain Ctrl is a command.
    if (ctrl && !alt) return clipboard_key(ctx, w, keycode);
    return type_char(w, key->unichar);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Drawing
// --------------------------------------------------------------------------------------------

bool _textarea_caret_on(const Q_GUI_CTX* ctx, const Q_GUI_TEXTAREA_DATA* td) {
    const float period = ctx->style.textarea_cursor_blink_period > 0.0f
                             ? ctx->style.textarea_cursor_blink_period
                             : 1.0f;
    const double t = al_get_time() - td->blink_start;
    return std::fmod(t, static_cast<double>(period)) < period / 2.0;
}

int q_gui_caret_visible(Q_GUI_CTX* ctx) {
    q_assert(ctx, return -1);
    const Q_GUI_WIDGET* w = _widget_of(ctx, ctx->focused_id, Q_GUI_KIND_TEXTAREA);
    if (!w || !w->visible || !(w->window->state & Q_GUI_WIN_OPEN)) return -1;
    return _textarea_caret_on(ctx, static_cast<const Q_GUI_TEXTAREA_DATA*>(w->data)) ? 1 : 0;
}

void _draw_textarea(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y) {
    Q_GUI_TEXTAREA_DATA* td = data_of(w);
    const Q_GUI_THEME& th = w->theme;
    const Q_GUI_RECT r{x, y, w->w, w->h};
    if (td->bitmap)
        _draw_bitmap_scaled(td->bitmap, r);
    else
        _fill_rect(r.x, r.y, r.x + r.w, r.y + r.h, _state_colours(&th, w->state).bg);
    const ALLEGRO_COLOR border = (w->state & Q_GUI_WIDGET_FOCUSED) ? th.border_active
                                 : (w->state & Q_GUI_WIDGET_HOVER) ? th.border_hover
                                                                   : th.border_normal;
    const float lw = _line_width(th.border_thickness);
    _rect_outline(r.x + lw / 2, r.y + lw / 2, r.x + r.w - lw / 2, r.y + r.h - lw / 2, border, lw);

    Layout lay;
    if (!make_layout(ctx, w, r, &lay)) return;
    settle_scroll(ctx, td, lay);
    Q_GUI_CLIP_SCOPE clip(lay.inner);
    const float dx = td->multiline ? 0.0f : -td->scroll;
    const float dy = td->multiline ? -td->scroll : 0.0f;
    if (td->length == 0 && td->placeholder) {
        ALLEGRO_COLOR faded = th.text_normal;
        faded.r *= 0.5f, faded.g *= 0.5f, faded.b *= 0.5f, faded.a *= 0.5f;
        _draw_text(lay.font, faded, lay.inner.x, lay.top, td->placeholder,
                   static_cast<int>(strlen(td->placeholder)));
    }
    const int s0 = to_shown(td, sel_min(td)), s1 = to_shown(td, sel_max(td));
    for (size_t i = 0; i < lay.lines.size(); i++) {
        const float ly = lay.top + static_cast<float>(i) * lay.line_h + dy;
        if (ly + lay.line_h < lay.inner.y || ly > lay.inner.y + lay.inner.h) continue;
        const Q_GUI_LINE& l = lay.lines[i];
        if (s1 > s0 && s0 <= l.end && s1 >= l.start) {
            const float a = x_in_line(lay, i, std::max(s0, l.start));
            const float b = x_in_line(lay, i, std::min(s1, l.end));
            _fill_rect(lay.inner.x + dx + a, ly, lay.inner.x + dx + b, ly + lay.line_h,
                       th.selection_color);
        }
        _draw_text(lay.font, th.text_normal, lay.inner.x + dx, ly, lay.shown + l.start,
                   l.end - l.start);
    }
    if (!(w->state & Q_GUI_WIDGET_FOCUSED) || !_textarea_caret_on(ctx, td)) return;
    const int shown = to_shown(td, td->cursor);
    const size_t line = line_of(lay, shown);
    const float cx = lay.inner.x + dx + x_in_line(lay, line, shown);
    const float cy = lay.top + static_cast<float>(line) * lay.line_h + dy;
    _fill_rect(cx, cy, cx + ctx->style.textarea_cursor_width, cy + lay.line_h, th.text_active);
}

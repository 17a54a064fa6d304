// ============================================================================================
// Toolkit internals shared by the q_gui_*.cpp sources (not part of the public interface)
//   [SECTION] Kind data records
//   [SECTION] UTF-8 and text measurement (q_gui_text.cpp)
//   [SECTION] Lookups, geometry and z-order (q_gui_geom.cpp, q_gui_ctx.cpp)
//   [SECTION] Widget behaviour shared with events and drawing (q_gui_widget.cpp)
//   [SECTION] List box and combo box (q_gui_listbox.cpp)
//   [SECTION] Text area (q_gui_textarea.cpp)
//   [SECTION] Drawing helpers (q_gui_paint.cpp, q_gui_draw.cpp, q_gui_draw_widgets.cpp)
// ============================================================================================
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "q/q_gui.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Kind data records
// --------------------------------------------------------------------------------------------

struct Q_GUI_BUTTON_DATA {
    char label[128];
    ALLEGRO_BITMAP* normal;
    ALLEGRO_BITMAP* hover;
    ALLEGRO_BITMAP* pressed;
    int shape;
    int glyph;
    int toggle_mode;
    int toggled;
    int key;
    int key_mods;
    int key_needs_focus;
    int focus_ids[Q_GUI_SHORTCUT_FOCUS_MAX]; // -1 after the last
    double flash_until;
    Q_GUI_BUTTON_CB cb;
    void* user;
};

struct Q_GUI_SLIDER_DATA {
    double min, max, value, step;
    int mode;
    int orientation; // 0 horizontal, 1 vertical
    Q_GUI_SLIDER_CB cb;
    void* user;
    char format[32];
    int value_visible;
    ALLEGRO_BITMAP* track;
    ALLEGRO_BITMAP* handle;
};

struct Q_GUI_TEXTAREA_DATA {
    char* text; // capacity + 1 bytes, always terminated, always valid UTF-8
    int length;
    int capacity;
    int max_length;
    int multiline;
    int cursor;
    int sel_start; // the selection's anchor
    int sel_end;   // follows the cursor; the selection is empty when both are equal
    float scroll;  // horizontal (single line) or vertical (multiline) pixels
    int blink;
    double blink_start;
    char mask;
    char* placeholder;
    Q_GUI_TEXT_CB cb;
    void* user;
    ALLEGRO_BITMAP* bitmap;
    int follow_caret;  // scroll to the caret at the next layout
    int scroll_target; // byte offset to bring into view at the next layout; -1 for none
    float goal_x;      // column kept by Up and Down; < 0 when unset
};

struct Q_GUI_CHECKBOX_DATA {
    char label[128];
    int checked;
    ALLEGRO_BITMAP* normal;
    ALLEGRO_BITMAP* hover;
    ALLEGRO_BITMAP* checked_bitmap;
    Q_GUI_CHECK_CB cb;
    void* user;
};

struct Q_GUI_LISTITEM {
    char text[128];
    int selected;
};

struct Q_GUI_LISTBOX_DATA {
    Q_GUI_LISTITEM* items;
    int count;
    int capacity;
    int selection_mode;
    int first_visible;
    float hscroll;
    float item_height;
    int scroll_drag; // the pointer holds the scrollbar
    Q_GUI_LISTBOX_CB cb;
    void* user;
    int hovered_row;
    ALLEGRO_BITMAP* background;
    ALLEGRO_BITMAP* item_bitmap;
    ALLEGRO_BITMAP* item_selected_bitmap;
};

struct Q_GUI_COMBOBOX_DATA {
    Q_GUI_LISTITEM* items;
    int count;
    int capacity;
    int selected;
    int open;
    int first_visible;
    int highlighted;
    int max_visible;
    int flags;
    float item_height;
    Q_GUI_COMBO_CB cb;
    void* user;
    ALLEGRO_BITMAP* field_bitmap;
};

struct Q_GUI_LABEL_DATA {
    char text[Q_GUI_LABEL_TEXT_MAX + 1];
    int length;
    char link[Q_GUI_LABEL_TEXT_MAX + 1];
    int alignment;
    int sel_anchor; // byte offsets; -1 when nothing is selected
    int sel_end;
    float scroll; // justified labels taller than their rectangle
    ALLEGRO_BITMAP* bitmap;
    Q_GUI_LINK_CB cb;
    void* user;
};

// --------------------------------------------------------------------------------------------
// [SECTION] UTF-8 and text measurement (q_gui_text.cpp)
// --------------------------------------------------------------------------------------------

// Length of the character starting at `pos`: 1..4 for a well-formed sequence that ends within
// `len`, 1 for any byte that does not start one, 0 at or past the end.
int _utf8_char_len(const char* text, int len, int pos);
int _utf8_next(const char* text, int len, int pos);
int _utf8_prev(const char* text, int len, int pos);
// Largest character boundary not above `limit` (and not above `len`).
int _utf8_cut(const char* text, int len, int limit);
// Code point of the character at `pos`, or -1 for a malformed byte.
int _utf8_decode(const char* text, int len, int pos);
// 1..4 bytes written, or 0 for surrogates and code points above 0x10FFFF.
int _utf8_encode(int code_point, char out[4]);
bool _utf8_valid(const char* text, int len);
// Copies the well-formed characters of `text` (at most `limit` bytes of them), dropping bytes
// that do not form one.
std::string _utf8_clean(const char* text, size_t len, size_t limit);
// Copies at most `capacity` - 1 bytes, cut before a whole character, always terminated.
void _copy_text(char* dst, size_t capacity, const char* src);
// Stores an owned copy (cut to `limit` bytes before a whole character); NULL or "" frees.
void _set_owned_text(char** slot, const char* src, size_t limit);

void _text_cache_create(Q_GUI_CTX* ctx);
void _text_cache_destroy(Q_GUI_CTX* ctx);
void _text_cache_clear(Q_GUI_CTX* ctx);
// Width of `len` bytes of text; short strings come from the context's cache.
float _text_width(Q_GUI_CTX* ctx, const ALLEGRO_FONT* font, const char* text, int len);
// Pen position after the first `offset` bytes, kerning included.
float _text_x_at(const ALLEGRO_FONT* font, const char* text, int len, int offset);
// Character boundary nearest to pen position `x`.
int _text_offset_at(const ALLEGRO_FONT* font, const char* text, int len, float x);
void _draw_text(const ALLEGRO_FONT* font, ALLEGRO_COLOR colour, float x, float y, const char* text,
                int len);
// Draws the text at (x, y), cut and ended with "..." when it is wider than `max_w`.
void _draw_text_fit(Q_GUI_CTX* ctx, const ALLEGRO_FONT* font, ALLEGRO_COLOR colour, float x,
                    float y, float max_w, const char* text, int len);
// Greedy wrap of text into lines no wider than `max_w` (a longer piece stands alone). Breaks
// at blanks, which are dropped at the break, and at line feeds. Pieces are words, or single
// characters with `per_char` so that long words break anywhere.
struct Q_GUI_LINE {
    int start, end; // bytes of the line, without the dropped blank or line feed
    float width;
};
std::vector<Q_GUI_LINE> _wrap_text(Q_GUI_CTX* ctx, const ALLEGRO_FONT* font, const char* text,
                                   int len, float max_w, bool per_char);

// --------------------------------------------------------------------------------------------
// [SECTION] Lookups, geometry and z-order (q_gui_geom.cpp, q_gui_ctx.cpp)
// --------------------------------------------------------------------------------------------

struct Q_GUI_RECT {
    float x, y, w, h;
    bool contains(float px, float py) const {
        return px >= x && py >= y && px <= x + w && py <= y + h;
    }
};

// A colour wheel's state and where its parts lie inside the widget (screen pixels).
struct Q_GUI_COLORWHEEL_DATA {
    float h, s, v;
    int drag; // what the press holds: 0 nothing, 1 the hue ring, 2 the square
    Q_GUI_COLORWHEEL_CB cb;
    void* user;
};
struct Q_GUI_COLORWHEEL_GEOMETRY {
    float cx, cy;         // centre
    float outer, inner;   // the ring's radii
    float half;           // half the side of the saturation / value square
};
Q_GUI_COLORWHEEL_GEOMETRY _colorwheel_geometry(float x, float y, float w, float h);
void _colorwheel_press(Q_GUI_WIDGET* w, float gx, float gy);
void _colorwheel_drag(Q_GUI_WIDGET* w, float gx, float gy);
void _draw_colorwheel(Q_GUI_WIDGET* w, float x, float y);

Q_GUI_WIDGET* _widget(Q_GUI_CTX* ctx, int id);
// The widget when it exists and is of `kind`, else NULL.
Q_GUI_WIDGET* _widget_of(Q_GUI_CTX* ctx, int id, int kind);
Q_GUI_WINDOW* _window(Q_GUI_CTX* ctx, int id);
bool _focusable_kind(int kind);
ALLEGRO_FONT* _window_font(const Q_GUI_CTX* ctx, const Q_GUI_WINDOW* win);
ALLEGRO_FONT* _widget_font(const Q_GUI_CTX* ctx, const Q_GUI_WIDGET* w);
float _titlebar_height(const Q_GUI_WINDOW* win);
// Height the window covers: the title bar alone while minimised.
float _window_visible_height(const Q_GUI_WINDOW* win);
// Screen position of the window's content origin, scroll offsets applied.
void _content_origin(const Q_GUI_WINDOW* win, float* ox, float* oy);
Q_GUI_RECT _widget_screen_rect(const Q_GUI_WIDGET* w);
// Content area without the scrollbars, and which scrollbars the window shows.
struct Q_GUI_CONTENT_LAYOUT {
    Q_GUI_RECT area;
    bool vbar, hbar;
};
Q_GUI_CONTENT_LAYOUT _content_layout(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win);
// Recomputes the content size from the visible widgets.
void _measure_content(Q_GUI_WINDOW* win);
void _clamp_scroll(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win);
// Scrollbar thumb along a track: offset and length of the thumb for a visible part `view` of
// `content`, and the scroll that centres the thumb under `pointer`.
struct Q_GUI_THUMB {
    float pos, len;
};
Q_GUI_THUMB _thumb(float track_len, float view, float content, float scroll, float min_len);
float _scroll_from_pointer(float pointer, float track_start, float track_len, float view,
                           float content, float min_len);
// Viewport of the whole GUI and its scrollbars (shown when the windows reach past it).
struct Q_GUI_VIEWPORT {
    float w, h;
    bool vbar, hbar;
};
Q_GUI_VIEWPORT _viewport(Q_GUI_CTX* ctx);
void _update_gui_extent(Q_GUI_CTX* ctx);
// Display position to GUI position: through the virtual canvas and the whole-GUI scroll.
void _to_gui(const Q_GUI_CTX* ctx, float sx, float sy, float* gx, float* gy);
// Top-most open window under a GUI position, or NULL.
Q_GUI_WINDOW* _window_at(Q_GUI_CTX* ctx, float gx, float gy);
// Last-created visible, enabled widget of the window under a GUI position, or NULL.
Q_GUI_WIDGET* _widget_at(Q_GUI_WINDOW* win, float gx, float gy);
void _sort_zorder(Q_GUI_CTX* ctx);
void _move_window_to_end(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win);
void _capture_normalized(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win);
void _capture_widget_norm(Q_GUI_WIDGET* w);
void _apply_autofit(Q_GUI_WINDOW* win);
// Title-bar button `which` (1 minimise, 2 maximise, 3 close) when the window shows it.
bool _tb_button_rect(Q_GUI_CTX* ctx, const Q_GUI_WINDOW* win, int which, Q_GUI_RECT* out);
int _tb_button_at(Q_GUI_CTX* ctx, const Q_GUI_WINDOW* win, float gx, float gy);
// Runs a title-bar button's action (callback when set).
void _tb_button_fire(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win, int which);
constexpr float Q_GUI_MAX_COORD = 16384.0f;

// A position that is not a number or lies absurdly far away becomes 0.
inline float _sane_position(float v) {
    return (std::isfinite(v) && std::fabs(v) <= Q_GUI_MAX_COORD) ? v : 0.0f;
}
// A widget extent: not a number or negative becomes 0; kept below Q_GUI_MAX_COORD.
inline float _sane_extent(float v) {
    return (std::isfinite(v) && v > 0.0f) ? std::min(v, Q_GUI_MAX_COORD) : 0.0f;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Widget behaviour shared with events and drawing (q_gui_widget.cpp)
// --------------------------------------------------------------------------------------------

// Creation in two steps, so that each kind allocates its own data record in between: the
// widget record with the common fields (NULL when the window is unknown), then the record is
// attached to its window and the id table. `data` NULL (a failed allocation) frees the widget.
Q_GUI_WIDGET* _widget_begin(Q_GUI_CTX* ctx, int window_id, int kind, float x, float y, float w,
                            float h);
int _widget_finish(Q_GUI_CTX* ctx, Q_GUI_WIDGET* wgt, void* data);

// Flips a toggle, flashes the button and calls its callback.
void _button_fire(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w);
// Snaps to the step and clamps to the range.
double _slider_snap(const Q_GUI_SLIDER_DATA* sd, double value);
// Stores a new value and calls the callback when it differs from the stored one.
void _slider_change(Q_GUI_WIDGET* w, double value);
void _slider_from_pointer(Q_GUI_WIDGET* w, float gx, float gy);
void _checkbox_toggle(Q_GUI_WIDGET* w);
void _label_press(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gx);
void _label_drag(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gx);
// Text offset of a single-line label's first character and the pen start.
float _label_text_x(Q_GUI_CTX* ctx, const Q_GUI_WIDGET* w, const ALLEGRO_FONT* font);
void _widget_destroy(void* widget);

// --------------------------------------------------------------------------------------------
// [SECTION] List box and combo box (q_gui_listbox.cpp)
// --------------------------------------------------------------------------------------------

float _row_height(const Q_GUI_CTX* ctx, const ALLEGRO_FONT* font, float item_height);
int _listbox_visible_rows(const Q_GUI_CTX* ctx, const Q_GUI_WIDGET* w);
int _listbox_row_at(const Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gy);
void _listbox_press(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gx, float gy);
void _listbox_drag(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gy);
int _listbox_wheel(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, int dz, int dw);
int _listbox_key(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, int keycode);
void _combo_toggle(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w);
void _combo_close(Q_GUI_CTX* ctx);
// Rectangle and rows of the open drop-down list, in GUI coordinates.
struct Q_GUI_DROPDOWN {
    Q_GUI_RECT rect;
    int rows;
    float row_h;
    bool scrollbar;
};
Q_GUI_DROPDOWN _combo_dropdown(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w);
// Press while a drop-down is open: choose or close. Always consumed.
void _combo_dropdown_press(Q_GUI_CTX* ctx, float gx, float gy);
int _combo_dropdown_wheel(Q_GUI_CTX* ctx, int dz);
int _combo_dropdown_key(Q_GUI_CTX* ctx, int keycode);
int _combo_key(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, int keycode);
void _draw_listbox(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y);
void _draw_combobox(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y);
void _draw_combo_dropdown(Q_GUI_CTX* ctx);

// --------------------------------------------------------------------------------------------
// [SECTION] Text area (q_gui_textarea.cpp)
// --------------------------------------------------------------------------------------------

void _textarea_press(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gx, float gy, bool extend);
// Key char events: editing, movement and clipboard keys. 1 when used.
int _textarea_key(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, const ALLEGRO_KEYBOARD_EVENT* key);
// Replaces the selection with clipboard text after filtering it. 1 when inserted.
int _textarea_paste_text(Q_GUI_WIDGET* w, const char* text);
void _draw_textarea(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y);

// --------------------------------------------------------------------------------------------
// [SECTION] Drawing helpers (q_gui_paint.cpp, q_gui_draw.cpp, q_gui_draw_widgets.cpp)
// --------------------------------------------------------------------------------------------

// An outline width of at least one physical pixel under the current transform.
float _line_width(float width);
struct Q_GUI_COLOURS {
    ALLEGRO_COLOR bg, border, text;
};
Q_GUI_COLOURS _state_colours(const Q_GUI_THEME* theme, uint32_t state);
void _draw_themed_rect(const Q_GUI_THEME* theme, uint32_t state, Q_GUI_RECT r, bool rounded);
void _draw_vscrollbar(Q_GUI_CTX* ctx, Q_GUI_RECT track, float view, float content, float scroll,
                      ALLEGRO_COLOR track_colour, ALLEGRO_COLOR thumb_colour, float min_thumb);
class Q_GUI_CLIP_SCOPE {
  public:
    // Narrows the clip to a GUI-space rectangle (current transform applied) for the lifetime
    // of the object, then puts the previous clip back.
    explicit Q_GUI_CLIP_SCOPE(Q_GUI_RECT r);
    ~Q_GUI_CLIP_SCOPE();
    Q_GUI_CLIP_SCOPE(const Q_GUI_CLIP_SCOPE&) = delete;
    Q_GUI_CLIP_SCOPE& operator=(const Q_GUI_CLIP_SCOPE&) = delete;

  private:
    int x_ = 0, y_ = 0, w_ = 0, h_ = 0;
};
// The same geometry as Allegro's primitives of the same names (outlines centred on the path).
void _fill_rect(float x1, float y1, float x2, float y2, ALLEGRO_COLOR colour);
void _rect_outline(float x1, float y1, float x2, float y2, ALLEGRO_COLOR colour, float width);
void _fill_rounded(float x1, float y1, float x2, float y2, float rx, float ry,
                   ALLEGRO_COLOR colour);
void _rounded_outline(float x1, float y1, float x2, float y2, float rx, float ry,
                      ALLEGRO_COLOR colour, float width);
void _line(float x1, float y1, float x2, float y2, ALLEGRO_COLOR colour, float width);
void _fill_triangle(float x1, float y1, float x2, float y2, float x3, float y3,
                    ALLEGRO_COLOR colour);
void _fill_circle(float cx, float cy, float r, ALLEGRO_COLOR colour);
void _circle_outline(float cx, float cy, float r, ALLEGRO_COLOR colour, float width);
void _draw_bitmap_scaled(ALLEGRO_BITMAP* bitmap, Q_GUI_RECT r);
// Shapes wait in one batch until text, a bitmap or a clip change needs them drawn, so a run of
// shapes costs one draw call; this draws whatever waits.
void _paint_flush();
void _draw_widget(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y);
// Tracks of the whole-GUI scrollbars, in viewport coordinates (no scroll applied).
Q_GUI_RECT _global_vtrack(const Q_GUI_CTX* ctx, const Q_GUI_VIEWPORT& vp);
Q_GUI_RECT _global_htrack(const Q_GUI_CTX* ctx, const Q_GUI_VIEWPORT& vp);

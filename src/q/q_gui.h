// ============================================================================================
// Retained-mode interface toolkit drawn with Allegro 5
//   [SECTION] Constants: window state and flags, z-order, resize, auto-fit, widget kinds
//   [SECTION] Looks: theme and style records
//   [SECTION] Records: window, widget, pending layout entries, context
//   [SECTION] Context, display binding and windows
//   [SECTION] Widgets: creation and common operations
//   [SECTION] Widgets: per-kind setters and getters
//   [SECTION] Events
//   [SECTION] Drawing and themes
//   [SECTION] Layout and theme files
//   [SECTION] Section lists
//
// One context holds every window and widget. Windows and widgets are named by positive ids
// handed out by the context; -1 names none. Every call takes the context first and quietly
// does nothing (or returns 0, -1, NULL or "") for an unknown id or a widget of another kind.
// Coordinates are display pixels (or virtual-canvas pixels when one is set). Widget rectangles
// are relative to their window's content area, whose origin on screen is
//     (window x - scroll x, window y + title-bar height - scroll y)
// with no title-bar height for Q_GUI_WINDOW_NO_TITLEBAR windows.
//
// Text is UTF-8. Every copy into a fixed-size field keeps whole characters only, and text
// that is not valid UTF-8 is measured and drawn by length, never past its end.
// ============================================================================================
#pragma once

#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

#include <cstdint>

#include "q/q_hash.h"
#include "q/q_list.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Constants: window state and flags, z-order, resize, auto-fit, widget kinds
// --------------------------------------------------------------------------------------------

// Window state bits.
enum : uint32_t {
    Q_GUI_WIN_OPEN = 0x1,
    Q_GUI_WIN_MINIMISED = 0x2,
    Q_GUI_WIN_DRAGGING = 0x4,
    Q_GUI_WIN_RESIZING = 0x8,
    Q_GUI_WIN_VSCROLL_DRAG = 0x10,
    Q_GUI_WIN_HSCROLL_DRAG = 0x20,
    Q_GUI_WIN_MAXIMISED = 0x40,
};

// Window flags.
enum : uint32_t {
    Q_GUI_WINDOW_SCROLLABLE = 0x10,     // content scrolls vertically (wheel, scrollbar)
    Q_GUI_WINDOW_RESIZABLE = 0x20,      // resize grip in the bottom-right corner
    Q_GUI_WINDOW_FIXED_POSITION = 0x40, // cannot be dragged
    Q_GUI_WINDOW_NO_TITLEBAR = 0x80,
    Q_GUI_WINDOW_MINIMIZE_BUTTON = 0x100,
    Q_GUI_WINDOW_MAXIMIZE_BUTTON = 0x200,
    Q_GUI_WINDOW_CLOSE_BUTTON = 0x400,
    Q_GUI_WINDOW_HSCROLLABLE = 0x800, // with SCROLLABLE: content also scrolls horizontally
};

enum {
    Q_GUI_ZORDER_NORMAL = 0,
    Q_GUI_ZORDER_ALWAYS_ON_TOP = 1,
    Q_GUI_ZORDER_ALWAYS_BEHIND = 2,
    Q_GUI_ZORDER_FIXED = 3,
    Q_GUI_ZORDER_POPUP = 4,
};

enum {
    Q_GUI_RESIZE_FIXED = 0,
    Q_GUI_RESIZE_ADAPTIVE = 1,
};

enum {
    Q_GUI_RESIZE_POLICY_NONE = 0,
    Q_GUI_RESIZE_POLICY_MOVE = 1,
    Q_GUI_RESIZE_POLICY_SCALE = 2,
};

enum : uint32_t {
    Q_GUI_AUTOFIT_WIDTH = 1,
    Q_GUI_AUTOFIT_HEIGHT = 2,
    Q_GUI_AUTOFIT_GROW_LEFT = 4,
    Q_GUI_AUTOFIT_GROW_UP = 8,
    Q_GUI_AUTOFIT_CENTER = 16,
};

// Widget state bits.
enum : uint32_t {
    Q_GUI_WIDGET_HOVER = 0x1,
    Q_GUI_WIDGET_PRESSED = 0x2,
    Q_GUI_WIDGET_FOCUSED = 0x4,
};

// Widget kinds; the numbers are stored in layout files. This toolkit builds buttons, sliders,
// text areas, check boxes, list boxes, combo boxes and labels; the other numbers only name
// the kinds that layout files may mention.
enum {
    Q_GUI_KIND_BUTTON = 1,
    Q_GUI_KIND_SLIDER = 2,
    Q_GUI_KIND_TEXTAREA = 3,
    Q_GUI_KIND_CHECKBOX = 4,
    Q_GUI_KIND_SCROLLBAR = 5,
    Q_GUI_KIND_LISTBOX = 6,
    Q_GUI_KIND_RADIOLIST = 7,
    Q_GUI_KIND_COMBOBOX = 8,
    Q_GUI_KIND_IMAGE = 9,
    Q_GUI_KIND_LABEL = 10,
    Q_GUI_KIND_DROPMENU = 11,
    Q_GUI_KIND_SPLITPANE = 12,
    Q_GUI_KIND_DATAGRID = 15,
    Q_GUI_KIND_COLORWHEEL = 18,
};

enum {
    Q_GUI_SHAPE_SQUARE = 0,
    Q_GUI_SHAPE_ROUNDED = 1,
    Q_GUI_SHAPE_BITMAP = 2,
};

enum {
    Q_GUI_ALIGN_LEFT = 0,
    Q_GUI_ALIGN_CENTER = 1,
    Q_GUI_ALIGN_RIGHT = 2,
    Q_GUI_ALIGN_JUSTIFY = 3,
};

enum { Q_GUI_SLIDER_RANGE = 0, Q_GUI_SLIDER_PERCENT = 1 };
enum { Q_GUI_LISTBOX_SINGLE = 1, Q_GUI_LISTBOX_MULTIPLE = 2 };
enum { Q_GUI_COMBOBOX_OPEN_UP = 2 }; // the drop-down may open above the field

// Shortcut modifier mask: Shift, Ctrl, Alt and the command key.
constexpr int Q_GUI_SHORTCUT_MODIFIERS = 0x47;

// Limits of fixed-size text fields, in bytes without the terminator.
constexpr int Q_GUI_TITLE_MAX = 127;
constexpr int Q_GUI_LABEL_TEXT_MAX = 4095;
constexpr int Q_GUI_TEXTAREA_DEFAULT_MAX = 4095;
constexpr int Q_GUI_TOOLTIP_MAX = 1023;
constexpr int Q_GUI_SHORTCUT_FOCUS_MAX = 8;

// --------------------------------------------------------------------------------------------
// [SECTION] Looks: theme and style records
// --------------------------------------------------------------------------------------------

struct Q_GUI_THEME {
    ALLEGRO_COLOR bg_normal, bg_hover, bg_active;
    ALLEGRO_COLOR border_normal, border_hover, border_active;
    ALLEGRO_COLOR text_normal, text_hover, text_active;
    float border_thickness;
    float corner_rx, corner_ry;
    ALLEGRO_COLOR selection_color;
};

// Context-wide metrics and colours. The theme file stores every field but the five tooltip
// fields, under the field names, in this order.
struct Q_GUI_STYLE {
    float titlebar_h;
    float min_win_w, min_win_h;
    float title_padding;
    float title_max_w_reserve;
    float tb_btn_size; // 0: title-bar height - 4
    float tb_btn_spacing;
    float tb_btn_right_margin;
    float tb_btn_glyph_thickness;
    float scrollbar_size;
    float scrollbar_thumb_min;
    float scrollbar_thumb_padding;
    float scrollbar_thumb_corner_r;
    ALLEGRO_COLOR scrollbar_track_color;
    ALLEGRO_COLOR scrollbar_thumb_color;
    float global_scrollbar_size;
    float global_scrollbar_thumb_min;
    float global_scrollbar_thumb_padding;
    float global_scrollbar_thumb_corner_r;
    float global_scrollbar_border_thickness;
    ALLEGRO_COLOR global_scrollbar_track_color;
    ALLEGRO_COLOR global_scrollbar_thumb_color;
    ALLEGRO_COLOR global_scrollbar_thumb_border_color;
    float grip_size;
    float grip_line_thickness;
    ALLEGRO_COLOR grip_color;
    float slider_track_size;
    float slider_track_corner_r;
    float slider_track_border_thickness;
    float slider_handle_min_r;
    float slider_handle_edge_offset;
    float slider_handle_border_thickness;
    float slider_value_label_offset;
    float tooltip_delay; // seconds; <= 0 disables tooltips
    ALLEGRO_COLOR tooltip_bg;
    ALLEGRO_COLOR tooltip_border;
    ALLEGRO_COLOR tooltip_text;
    float tooltip_max_w;
    float textarea_padding;
    float textarea_cursor_width;
    float textarea_cursor_blink_period;
    float checkbox_max_size;
    float checkbox_mark_margin;
    float checkbox_mark_thickness;
    float checkbox_label_gap;
    float checkbox_label_offset;
    float radio_circle_min_r;
    float radio_circle_border_thickness;
    float radio_inner_offset;
    float radio_label_gap;
    float listbox_default_item_height;
    float radiolist_default_item_height;
    int combobox_max_visible;
    int dropmenu_max_visible;
    float item_text_padding;
    float item_selection_inset;
    float item_height_pad;
    float dropdown_arrow_reserve;
    float dropdown_arrow_thickness;
    float dropdown_arrow_half_h;
    float dropdown_arrow_half_w;
    float dropdown_border_thickness;
    int shape_mode; // -1: each button's own shape; 0: all square; 1: all rounded
    float label_padding;
    float link_underline_thickness;
    ALLEGRO_COLOR link_color_normal;
    ALLEGRO_COLOR link_color_hover;
    float scroll_step;
    float global_scroll_step;
    float combobox_max_dropdown_width; // 0: as wide as the widest item
};

struct Q_GUI_TEXT_DIMS {
    int x, y, w, h;
};

// --------------------------------------------------------------------------------------------
// [SECTION] Records: window, widget, pending layout entries, context
// --------------------------------------------------------------------------------------------

struct Q_GUI_CTX;

typedef void (*Q_GUI_WINDOW_CB)(int window_id, void* user);
typedef void (*Q_GUI_BUTTON_CB)(int widget_id, void* user);
typedef void (*Q_GUI_SLIDER_CB)(int widget_id, double value, void* user);
typedef void (*Q_GUI_TEXT_CB)(int widget_id, const char* text, void* user);
typedef void (*Q_GUI_CHECK_CB)(int widget_id, int checked, void* user);
typedef void (*Q_GUI_LISTBOX_CB)(int widget_id, int index, int selected, void* user);
typedef void (*Q_GUI_COMBO_CB)(int widget_id, int index, void* user);
typedef void (*Q_GUI_LINK_CB)(int widget_id, const char* link, void* user);
// Hue, saturation and value, each 0..1, after a drag on a colour wheel.
typedef void (*Q_GUI_COLORWHEEL_CB)(int widget_id, float h, float s, float v, void* user);

struct Q_GUI_WINDOW {
    int id;
    char title[Q_GUI_TITLE_MAX + 1];
    float x, y, w, h;
    float titlebar_h;
    uint32_t state;
    uint32_t flags;
    LIST* widgets; // Q_GUI_WIDGET records in creation order; owns them
    Q_GUI_THEME theme;
    ALLEGRO_FONT* font; // NULL: the context's default font
    float drag_off_x, drag_off_y;
    float min_w, min_h;
    float scroll_y, scroll_x;
    float content_h, content_w;
    int z_order;
    int z_value;
    uint32_t autofit_flags;
    float autofit_border;
    float autofit_anchor_x, autofit_anchor_y;
    int resize_policy;
    float norm_x, norm_y, norm_w, norm_h;
    float saved_x, saved_y, saved_w, saved_h; // rectangle before maximising
    Q_GUI_THEME tb_btn_theme, tb_close_theme;
    ALLEGRO_BITMAP* titlebar_bitmap;
    ALLEGRO_BITMAP* background_bitmap;
    int background_mode;              // 2: centred, otherwise scaled over the body
    ALLEGRO_BITMAP* tb_bitmaps[3][3]; // [minimise, maximise, close][normal, hover, pressed]
    Q_GUI_WINDOW_CB close_cb, minimize_cb, maximize_cb, content_draw_cb;
    void *close_user, *minimize_user, *maximize_user, *content_draw_user;
    int tb_hover, tb_pressed; // title-bar button: 0 none, 1 minimise, 2 maximise, 3 close
};

struct Q_GUI_WIDGET {
    int id;
    int kind;
    float x, y, w, h; // relative to the window's content area
    uint32_t state;
    int visible;
    int enabled;
    Q_GUI_THEME theme;
    ALLEGRO_FONT* font; // NULL: the window's or the context's font
    void* data;         // the kind's data record, owned
    char* tooltip;      // owned, or NULL
    char persist_key[128];
    float norm_x, norm_y, norm_w, norm_h; // rectangle / window size; valid when has_norm
    int has_norm;
    Q_GUI_WINDOW* window; // owner
};

struct Q_GUI_PENDING_GEOM {
    char title[Q_GUI_TITLE_MAX + 1];
    float x, y, w, h;
    int state;
    unsigned char consumed;
};

constexpr int Q_GUI_PENDING_MAX_COLUMNS = 64;

struct Q_GUI_PENDING_WIDGET {
    char window_title[Q_GUI_TITLE_MAX + 1];
    char key[128];
    int kind;
    float ratio;
    int ncols;
    int order[Q_GUI_PENDING_MAX_COLUMNS];
    int visible[Q_GUI_PENDING_MAX_COLUMNS];
    float width[Q_GUI_PENDING_MAX_COLUMNS];
    unsigned char consumed;
};

struct Q_GUI_TEXT_CACHE; // text measurement cache, private to the toolkit
struct Q_GUI_SECTIONLIST;

struct Q_GUI_CTX {
    LIST* windows;       // z-order: first node bottom-most; owns the windows
    HASH_TABLE* widgets; // id in decimal -> Q_GUI_WIDGET; does not own them
    int next_widget_id;
    int next_window_id;
    ALLEGRO_FONT* default_font;
    Q_GUI_THEME default_theme;
    int focused_id;

    // Interaction state.
    int mouse_x, mouse_y; // last pointer position, display pixels
    int mouse_down;
    int prev_mouse_down;
    int pressed_id;      // widget capturing the pointer until release
    int press_window_id; // window that took the current press (drags, title-bar buttons)
    int press_taken;     // the current press belongs to the GUI
    int open_combo_id;
    int open_dropmenu_id;
    int selecting_label_id;
    int tooltip_id;
    double hover_start;
    int hover_anchor_x, hover_anchor_y;
    int global_vscroll_drag, global_hscroll_drag;
    int pointer_over_gui;
    int modifiers; // modifier keys held, followed through key down and up (private bits)

    float display_w, display_h;
    float global_scroll_x, global_scroll_y;
    float gui_extent_w, gui_extent_h;
    float dpi_scale;
    float virtual_w, virtual_h;
    float virtual_scale, virtual_offset_x, virtual_offset_y;
    Q_GUI_STYLE style;
    ALLEGRO_DISPLAY* display;
    int resize_mode;
    float ref_display_w, ref_display_h;
    Q_GUI_THEME tb_btn_theme, tb_close_theme;
    Q_GUI_PENDING_GEOM* pending_layout;
    int pending_layout_count;
    Q_GUI_PENDING_WIDGET* pending_widgets;
    int pending_widgets_count;
    ALLEGRO_EVENT_QUEUE* event_queue;
    ALLEGRO_DISPLAY* current_draw_display; // NULL while drawing the main display
    int dirty;
    double redraw_until;

    Q_GUI_TEXT_CACHE* text_cache;
    LIST* sectionlists; // live section lists, so each can outlive or be outlived by the context
};

// --------------------------------------------------------------------------------------------
// [SECTION] Context, display binding and windows
// --------------------------------------------------------------------------------------------

Q_GUI_CTX* q_gui_new_ctx(ALLEGRO_FONT* default_font);
void q_gui_destroy_ctx(Q_GUI_CTX** ctx);
// Cached text measurements are dropped, so the previous font may be destroyed right after.
int q_gui_set_default_font(Q_GUI_CTX* ctx, ALLEGRO_FONT* font);
void q_gui_mark_dirty(Q_GUI_CTX* ctx);
int q_gui_needs_redraw(Q_GUI_CTX* ctx);
void q_gui_set_event_queue(Q_GUI_CTX* ctx, ALLEGRO_EVENT_QUEUE* queue);
ALLEGRO_EVENT_QUEUE* q_gui_get_event_queue(Q_GUI_CTX* ctx);

int q_gui_add_window(Q_GUI_CTX* ctx, const char* title, float x, float y, float w, float h);
int q_gui_add_window_auto(Q_GUI_CTX* ctx, const char* title);
Q_GUI_WINDOW* q_gui_get_window(Q_GUI_CTX* ctx, int id);
void q_gui_open_window(Q_GUI_CTX* ctx, int id);
void q_gui_close_window(Q_GUI_CTX* ctx, int id);
void q_gui_toggle_window(Q_GUI_CTX* ctx, int id);
int q_gui_window_is_open(Q_GUI_CTX* ctx, int id);
void q_gui_minimize_window(Q_GUI_CTX* ctx, int id);
void q_gui_restore_window(Q_GUI_CTX* ctx, int id);
int q_gui_window_is_minimised(Q_GUI_CTX* ctx, int id);
void q_gui_maximize_window(Q_GUI_CTX* ctx, int id);
int q_gui_window_is_maximised(Q_GUI_CTX* ctx, int id);
void q_gui_raise_window(Q_GUI_CTX* ctx, int id);
void q_gui_lower_window(Q_GUI_CTX* ctx, int id);
int q_gui_get_topmost_open_window(Q_GUI_CTX* ctx);
void q_gui_window_set_zorder(Q_GUI_CTX* ctx, int id, int mode, int value);
int q_gui_window_get_zorder(Q_GUI_CTX* ctx, int id);
int q_gui_window_get_zvalue(Q_GUI_CTX* ctx, int id);
void q_gui_focus_window(Q_GUI_CTX* ctx, int id);
void q_gui_set_focus(Q_GUI_CTX* ctx, int widget_id);
int q_gui_get_focus(Q_GUI_CTX* ctx);
void q_gui_window_set_flags(Q_GUI_CTX* ctx, int id, uint32_t flags);
uint32_t q_gui_window_get_flags(Q_GUI_CTX* ctx, int id);
void q_gui_window_set_rect(Q_GUI_CTX* ctx, int id, float x, float y, float w, float h);
void q_gui_window_set_font(Q_GUI_CTX* ctx, int id, ALLEGRO_FONT* font);
void q_gui_window_autosize(Q_GUI_CTX* ctx, int id);
void q_gui_window_set_autofit(Q_GUI_CTX* ctx, int id, uint32_t flags, float border);
void q_gui_window_apply_autofit(Q_GUI_CTX* ctx, int id);
void q_gui_window_set_close_callback(Q_GUI_CTX* ctx, int id, Q_GUI_WINDOW_CB cb, void* user);
void q_gui_window_set_minimize_callback(Q_GUI_CTX* ctx, int id, Q_GUI_WINDOW_CB cb, void* user);
void q_gui_window_set_maximize_callback(Q_GUI_CTX* ctx, int id, Q_GUI_WINDOW_CB cb, void* user);
// Called after the window is drawn, while it is open and not minimised.
void q_gui_window_set_content_draw_callback(Q_GUI_CTX* ctx, int id, Q_GUI_WINDOW_CB cb, void* user);

void q_gui_set_display(Q_GUI_CTX* ctx, ALLEGRO_DISPLAY* display);
void q_gui_set_display_size(Q_GUI_CTX* ctx, float w, float h);
void q_gui_set_virtual_size(Q_GUI_CTX* ctx, float w, float h);
void q_gui_update_transform(Q_GUI_CTX* ctx);
void q_gui_screen_to_virtual(Q_GUI_CTX* ctx, float sx, float sy, float* vx, float* vy);
void q_gui_set_resize_mode(Q_GUI_CTX* ctx, int mode);
int q_gui_get_resize_mode(Q_GUI_CTX* ctx);
void q_gui_window_set_resize_policy(Q_GUI_CTX* ctx, int id, int policy);
int q_gui_window_get_resize_policy(Q_GUI_CTX* ctx, int id);
void q_gui_window_update_normalized(Q_GUI_CTX* ctx, int id);
void q_gui_apply_adaptive_resize(Q_GUI_CTX* ctx, float w, float h);
void q_gui_set_dpi_scale(Q_GUI_CTX* ctx, float scale);
float q_gui_get_dpi_scale(Q_GUI_CTX* ctx);
float q_gui_detect_dpi_scale(Q_GUI_CTX* ctx, ALLEGRO_DISPLAY* display);

// --------------------------------------------------------------------------------------------
// [SECTION] Widgets: creation and common operations
// --------------------------------------------------------------------------------------------

int q_gui_add_button(Q_GUI_CTX* ctx, int window_id, const char* label, float x, float y, float w,
                     float h, int shape, Q_GUI_BUTTON_CB cb, void* user);
int q_gui_add_toggle_button(Q_GUI_CTX* ctx, int window_id, const char* label, float x, float y,
                            float w, float h, int shape, int toggled, Q_GUI_BUTTON_CB cb,
                            void* user);
int q_gui_add_button_bitmap(Q_GUI_CTX* ctx, int window_id, const char* label, float x, float y,
                            float w, float h, ALLEGRO_BITMAP* normal, ALLEGRO_BITMAP* hover,
                            ALLEGRO_BITMAP* pressed, Q_GUI_BUTTON_CB cb, void* user);
int q_gui_add_slider(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h, double min,
                     double max, double value, int mode, Q_GUI_SLIDER_CB cb, void* user);
int q_gui_add_vslider(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h, double min,
                      double max, double value, int mode, Q_GUI_SLIDER_CB cb, void* user);
// A colour wheel: a hue ring around a square of saturation (left to right) and value (bottom
// to top) for that hue, filling the largest square centred in the rectangle. A press on the
// ring drags the hue, a press in the square drags saturation and value; the callback reports
// every change.
int q_gui_add_colorwheel(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h,
                         Q_GUI_COLORWHEEL_CB cb, void* user);
// Setting never calls the callback. Values are clamped to 0..1 (the hue wraps); a value that
// is not a number is ignored.
void q_gui_colorwheel_set_hsv(Q_GUI_CTX* ctx, int id, float h, float s, float v);
// 1 and the three values, or 0 when `id` is not a colour wheel.
int q_gui_colorwheel_get_hsv(Q_GUI_CTX* ctx, int id, float* h, float* s, float* v);
// Conversions between straight RGB and HSV, all 0..1. A grey keeps the hue given in *h (rgb
// to hsv leaves it untouched when saturation is 0), so a wheel dragged to white and back does
// not lose its hue.
void q_gui_hsv_to_rgb(float h, float s, float v, float* r, float* g, float* b);
void q_gui_rgb_to_hsv(float r, float g, float b, float* h, float* s, float* v);
// max_length in bytes; 0 means 4095.
int q_gui_add_textarea(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h,
                       int multiline, int max_length, Q_GUI_TEXT_CB cb, void* user);
int q_gui_add_checkbox(Q_GUI_CTX* ctx, int window_id, const char* label, float x, float y, float w,
                       float h, int checked, Q_GUI_CHECK_CB cb, void* user);
int q_gui_add_listbox(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h,
                      int selection_mode, Q_GUI_LISTBOX_CB cb, void* user);
int q_gui_add_combobox(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h,
                       Q_GUI_COMBO_CB cb, void* user);
int q_gui_add_label(Q_GUI_CTX* ctx, int window_id, const char* text, float x, float y, float w,
                    float h, int alignment);
int q_gui_add_label_link(Q_GUI_CTX* ctx, int window_id, const char* text, const char* link, float x,
                         float y, float w, float h, int alignment, Q_GUI_LINK_CB cb, void* user);

Q_GUI_WIDGET* q_gui_get_widget(Q_GUI_CTX* ctx, int id);
void q_gui_set_widget_visible(Q_GUI_CTX* ctx, int id, int visible);
void q_gui_set_widget_enabled(Q_GUI_CTX* ctx, int id, int enabled);
int q_gui_is_widget_enabled(Q_GUI_CTX* ctx, int id);
void q_gui_widget_set_rect(Q_GUI_CTX* ctx, int id, float x, float y, float w, float h);
void q_gui_widget_set_font(Q_GUI_CTX* ctx, int id, ALLEGRO_FONT* font);
void q_gui_set_widget_theme(Q_GUI_CTX* ctx, int id, const Q_GUI_THEME* theme);
void q_gui_reset_all_widget_themes(Q_GUI_CTX* ctx);
void q_gui_set_widget_tooltip(Q_GUI_CTX* ctx, int id, const char* text);
void q_gui_widget_set_persist_key(Q_GUI_CTX* ctx, int id, const char* key);
const char* q_gui_widget_get_persist_key(Q_GUI_CTX* ctx, int id);
int q_gui_hovered_widget(Q_GUI_CTX* ctx);
// 0: tooltips off, or nothing with tooltip text under the pointer; 1: the hover is younger
// than the delay; 2: the tooltip is shown.
int q_gui_tooltip_pending(Q_GUI_CTX* ctx);

// --------------------------------------------------------------------------------------------
// [SECTION] Widgets: per-kind setters and getters
// --------------------------------------------------------------------------------------------

void q_gui_button_set_label(Q_GUI_CTX* ctx, int id, const char* text);
void q_gui_button_set_toggled(Q_GUI_CTX* ctx, int id, int toggled);
int q_gui_button_is_toggled(Q_GUI_CTX* ctx, int id);
void q_gui_button_set_toggle_mode(Q_GUI_CTX* ctx, int id, int on);
void q_gui_button_set_state_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* normal,
                                    ALLEGRO_BITMAP* hover, ALLEGRO_BITMAP* pressed);
// Glyphs 1..8: minus, plus, cross, check, left, right, up, down arrows; 0 shows the label.
void q_gui_button_set_glyph(Q_GUI_CTX* ctx, int id, int glyph);
// Allegro key code; a modifier mask of 0 matches any modifiers.
void q_gui_button_set_keycode(Q_GUI_CTX* ctx, int id, int key, int modifiers);
// As above, but only while the button or one of the listed widgets (at most 8) has the focus.
void q_gui_button_set_keycode_focused(Q_GUI_CTX* ctx, int id, int key, int modifiers,
                                      const int* widget_ids, int count);

double q_gui_slider_get_value(Q_GUI_CTX* ctx, int id);
void q_gui_slider_set_value(Q_GUI_CTX* ctx, int id, double value);
void q_gui_slider_set_range(Q_GUI_CTX* ctx, int id, double min, double max);
void q_gui_slider_set_step(Q_GUI_CTX* ctx, int id, double step);
// A printf format with exactly one floating-point conversion; NULL or "" restores the default.
void q_gui_slider_set_value_format(Q_GUI_CTX* ctx, int id, const char* format);
void q_gui_slider_set_value_visible(Q_GUI_CTX* ctx, int id, int visible);
void q_gui_slider_set_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* track,
                              ALLEGRO_BITMAP* handle);

void q_gui_textarea_set_text(Q_GUI_CTX* ctx, int id, const char* text);
const char* q_gui_textarea_get_text(Q_GUI_CTX* ctx, int id);
int q_gui_textarea_get_text_length(Q_GUI_CTX* ctx, int id);
void q_gui_textarea_set_selection(Q_GUI_CTX* ctx, int id, int start, int end);
void q_gui_textarea_set_mask_char(Q_GUI_CTX* ctx, int id, char mask);
void q_gui_textarea_set_placeholder(Q_GUI_CTX* ctx, int id, const char* text);
void q_gui_textarea_scroll_to_bottom(Q_GUI_CTX* ctx, int id);
// Scrolls so that the character at this byte offset is in view.
void q_gui_textarea_scroll_to_offset(Q_GUI_CTX* ctx, int id, int offset);
void q_gui_textarea_set_bitmap(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* background);

void q_gui_checkbox_set_checked(Q_GUI_CTX* ctx, int id, int checked);
int q_gui_checkbox_is_checked(Q_GUI_CTX* ctx, int id);
void q_gui_checkbox_set_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* normal,
                                ALLEGRO_BITMAP* hover, ALLEGRO_BITMAP* checked);

int q_gui_listbox_add_item(Q_GUI_CTX* ctx, int id, const char* text);
int q_gui_listbox_remove_item(Q_GUI_CTX* ctx, int id, int index);
void q_gui_listbox_clear(Q_GUI_CTX* ctx, int id);
int q_gui_listbox_get_count(Q_GUI_CTX* ctx, int id);
const char* q_gui_listbox_get_item_text(Q_GUI_CTX* ctx, int id, int index);
int q_gui_listbox_get_selected(Q_GUI_CTX* ctx, int id);
int q_gui_listbox_is_selected(Q_GUI_CTX* ctx, int id, int index);
void q_gui_listbox_set_selected(Q_GUI_CTX* ctx, int id, int index, int selected);
int q_gui_listbox_get_scroll_offset(Q_GUI_CTX* ctx, int id);
void q_gui_listbox_set_scroll_offset(Q_GUI_CTX* ctx, int id, int first_visible);
void q_gui_listbox_set_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* background,
                               ALLEGRO_BITMAP* item, ALLEGRO_BITMAP* item_selected);

int q_gui_combobox_add_item(Q_GUI_CTX* ctx, int id, const char* text);
void q_gui_combobox_clear(Q_GUI_CTX* ctx, int id);
int q_gui_combobox_get_count(Q_GUI_CTX* ctx, int id);
int q_gui_combobox_get_selected(Q_GUI_CTX* ctx, int id);
const char* q_gui_combobox_get_item_text(Q_GUI_CTX* ctx, int id, int index);
void q_gui_combobox_set_selected(Q_GUI_CTX* ctx, int id, int index);
void q_gui_combobox_set_flags(Q_GUI_CTX* ctx, int id, int flags);
void q_gui_combobox_set_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* field);

void q_gui_label_set_text(Q_GUI_CTX* ctx, int id, const char* text);
void q_gui_label_set_link(Q_GUI_CTX* ctx, int id, const char* link);
void q_gui_label_set_bitmap(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* bitmap);
int q_gui_label_fits(Q_GUI_CTX* ctx, int id, float* needed_w, float* needed_h);

// --------------------------------------------------------------------------------------------
// [SECTION] Events
// --------------------------------------------------------------------------------------------

// 1 when the GUI consumed the event (the canvas should not see it), else 0.
int q_gui_process_event(Q_GUI_CTX* ctx, const ALLEGRO_EVENT* event);
// 1 when the last pointer position lies over an open window.
int q_gui_wants_mouse(Q_GUI_CTX* ctx);

// --------------------------------------------------------------------------------------------
// [SECTION] Drawing and themes
// --------------------------------------------------------------------------------------------

// Draws every open window onto the current target; restores the transform and clipping.
void q_gui_draw(Q_GUI_CTX* ctx);
Q_GUI_THEME q_gui_default_theme();
Q_GUI_THEME q_gui_default_tb_btn_theme();
Q_GUI_THEME q_gui_default_tb_close_theme();
Q_GUI_STYLE q_gui_default_style();
Q_GUI_THEME q_gui_make_theme(ALLEGRO_COLOR bg_normal, ALLEGRO_COLOR bg_hover,
                             ALLEGRO_COLOR bg_active, ALLEGRO_COLOR border_normal,
                             ALLEGRO_COLOR border_hover, ALLEGRO_COLOR border_active,
                             ALLEGRO_COLOR text_normal, ALLEGRO_COLOR text_hover,
                             ALLEGRO_COLOR text_active, float border_thickness, float corner_rx,
                             float corner_ry);
void q_gui_set_default_theme(Q_GUI_CTX* ctx, const Q_GUI_THEME* theme);
void q_gui_window_set_tb_btn_theme(Q_GUI_CTX* ctx, int id, const Q_GUI_THEME* theme);
void q_gui_window_set_tb_close_theme(Q_GUI_CTX* ctx, int id, const Q_GUI_THEME* theme);
// background_mode 2 centres the background bitmap; any other value scales it over the body.
void q_gui_window_set_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* titlebar,
                              ALLEGRO_BITMAP* background, int background_mode);
// button: 1 minimise, 2 maximise, 3 close.
void q_gui_window_set_tb_button_bitmaps(Q_GUI_CTX* ctx, int id, int button, ALLEGRO_BITMAP* normal,
                                        ALLEGRO_BITMAP* hover, ALLEGRO_BITMAP* pressed);
void q_gui_set_shape_mode(Q_GUI_CTX* ctx, int mode);
int q_gui_get_shape_mode(Q_GUI_CTX* ctx);
Q_GUI_TEXT_DIMS q_gui_get_text_dims(ALLEGRO_FONT* font, const char* text);

// --------------------------------------------------------------------------------------------
// [SECTION] Layout and theme files
// --------------------------------------------------------------------------------------------

// 0 on success, -1 on failure. Saving replaces the file atomically.
int q_gui_save_layout_json(Q_GUI_CTX* ctx, const char* path);
// A file that is missing, larger than 4 MiB, unparsable or not a layout returns -1 and changes
// nothing.
int q_gui_load_layout_json(Q_GUI_CTX* ctx, const char* path);
// The same reader over text already in memory (at most 4 MiB).
int q_gui_load_layout_json_mem(Q_GUI_CTX* ctx, const char* text, size_t size);
int q_gui_save_theme_json(Q_GUI_CTX* ctx, const char* path);
// At most 1 MiB; -1 for a missing, oversized or unparsable file, which changes nothing.
int q_gui_load_theme_json(Q_GUI_CTX* ctx, const char* path);
int q_gui_load_theme_json_mem(Q_GUI_CTX* ctx, const char* text, size_t size);

// --------------------------------------------------------------------------------------------
// [SECTION] Section lists
// --------------------------------------------------------------------------------------------

constexpr int Q_GUI_SECTIONS_MAX = 16;
constexpr int Q_GUI_SECTION_WIDGETS_MAX = 48;

typedef void (*Q_GUI_SECTION_CB)(int section, int folded, void* user);

struct Q_GUI_SECTION {
    char title[64];
    int header_id;
    int widget_ids[Q_GUI_SECTION_WIDGETS_MAX];
    float widget_offsets[Q_GUI_SECTION_WIDGETS_MAX]; // top below the header and the gap
    int widget_count;
    int folded;
    float content_h;
};

struct Q_GUI_SECTIONLIST {
    Q_GUI_CTX* ctx; // not owned; NULL once the context is destroyed
    int window_id;
    float x, y, w;
    float header_h;
    float gap;
    Q_GUI_SECTION sections[Q_GUI_SECTIONS_MAX];
    int section_count;
    float first_inset;
    Q_GUI_SECTION_CB toggle_cb;
    void* user;
};

Q_GUI_SECTIONLIST* q_gui_sectionlist_create(Q_GUI_CTX* ctx, int window_id, float x, float y,
                                            float w, float header_h, float gap,
                                            Q_GUI_SECTION_CB toggle_cb, void* user);
int q_gui_sectionlist_add_section(Q_GUI_SECTIONLIST* list, const char* title, float y, int folded);
void q_gui_sectionlist_add_widget(Q_GUI_SECTIONLIST* list, int section, int widget_id);
void q_gui_sectionlist_set_first_inset(Q_GUI_SECTIONLIST* list, float inset);
void q_gui_sectionlist_relayout(Q_GUI_SECTIONLIST* list);
void q_gui_sectionlist_set_folded(Q_GUI_SECTIONLIST* list, int section, int folded);
int q_gui_sectionlist_is_folded(Q_GUI_SECTIONLIST* list, int section);
float q_gui_sectionlist_content_height(Q_GUI_SECTIONLIST* list);
int q_gui_sectionlist_get_count(Q_GUI_SECTIONLIST* list);
void q_gui_sectionlist_free(Q_GUI_SECTIONLIST** list);

// What the GUI's source files share among themselves; the shell sees only gui.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gui/gui.h"

struct Q_GUI_CTX;

// Sets a window's height without stretching its widgets to the new size.
void _gui_set_window_height(Q_GUI_CTX* ctx, int window, float height);
// Moves "Help" and "Exit" below the tool bar's sections and fits the window around them.
void _gui_place_toolbar_foot(TAVOLIX_APP* app);
// Width kept right of a slider for its value text: the value room, or more when the widest
// value in the interface font needs it.
float _gui_slider_value_room(TAVOLIX_APP* app, double min, double max, const char* format);
// How far a slider's knob reaches past the slider's end at the slider's extreme values.
float _gui_slider_knob_reach(TAVOLIX_APP* app, float height);
// Fills the palette combo box with the translated palette names.
void _gui_fill_palettes(TAVOLIX_APP* app);

// Paints what the canvas has in progress into the document (a floating selection, a pending
// shape) before an action that must see the picture as the screen shows it.
void _gui_commit_first(TAVOLIX_APP* app);

// --------------------------------------------------------------------------------------------
// Popups (popup_*.cpp)
// --------------------------------------------------------------------------------------------

// One popup under construction: its window and the row grid every popup shares. Rows start at
// y = 10 and are row + gap apart; widgets start at x = 10.
struct GUI_POPUP_FRAME {
    TAVOLIX_APP* app;
    Q_GUI_CTX* ctx;
    int window;
    float w, row, gap, k;

    float top(int index) const { return 10.0f + static_cast<float>(index) * (row + gap); }
    float inner() const { return w - 20.0f; }
    int label(const char* text, int index, float x, float width, int align) const;
    int button(const char* text, int index, float x, float width, void (*cb)(int, void*),
               bool toggle = false) const;
    // Width of a dialog button for this text: 110 unless the text needs more.
    float button_w(const char* text) const;
    // The accepting button ends at the centre less a gap, the dismissing one starts at the
    // centre plus a gap; `centred` puts a lone button in the middle.
    int ok(const char* text, int index, void (*cb)(int, void*)) const;
    int cancel(const char* text, int index, void (*cb)(int, void*)) const;
    int centred(const char* text, int index, void (*cb)(int, void*)) const;
    // A text field of `bytes` bytes, `rows` rows high (more than one: multiline), filled from
    // the record and reporting its edits to it.
    int field(int popup, int index, float x, float width, int bytes, int rows = 1) const;
    // A caption, a slider right of it and the slider's value at the row's end.
    int slider(const char* caption, float caption_w, int index, double min, double max,
               double value, const char* format, void (*cb)(int, double, void*),
               float x = 10.0f) const;
};

// Height of a popup of `rows` rows: the insets above and below and the gaps between them.
float _popup_height(const GUI_METRICS& m, int rows);
// Makes the window of a popup, closed and on the popup layer: centred on the display, or at
// y = 10 when `at_top` (so an on-screen keyboard leaves it visible). 0 when it cannot be made;
// `failure` is logged then.
int _popup_frame(TAVOLIX_APP* app, int popup, const char* title, float w, float h, bool at_top,
                 uint32_t flags, const char* failure, GUI_POPUP_FRAME* out);
// The popups that name something share one shape: a caption, the field, OK and Cancel, at the
// top of the display. Enter in the field is OK.
int _build_name_popup(TAVOLIX_APP* app, int popup, const char* title, const char* caption,
                      const char* ok, int bytes, void (*on_ok)(int, void*),
                      void (*on_cancel)(int, void*), const char* failure);
// Shows a popup above the others and marks it open; a hidden GUI shows it when it comes back.
void _popup_open(TAVOLIX_APP* app, int popup);
// Closes a popup and clears its flag; a field of it loses the focus and the on-screen keyboard.
void _popup_close(TAVOLIX_APP* app, int popup);
// Gives a popup's text field the focus and asks for the on-screen keyboard.
void _popup_focus_field(TAVOLIX_APP* app, int popup);
// Puts text into a popup's field and its copy in the record.
void _popup_set_field(TAVOLIX_APP* app, int popup, const char* text);
// A popup's field text as the record keeps it.
const char* _popup_field_text(TAVOLIX_APP* app, int popup);

// Builds every popup closed, fills them from the record and reopens those marked open. 1, or 0
// when a popup window could not be made (the popups built before it work).
int _build_popups(TAVOLIX_APP* app);
int _build_file_popups(TAVOLIX_APP* app);
int _build_colour_popups(TAVOLIX_APP* app);
int _build_misc_popups(TAVOLIX_APP* app);

// Results are shown in the notification popup; the text is fitted to its width.
void _notify_open(TAVOLIX_APP* app, const char* text);
// Writes the document to `path` and reports "Saved: <file_name>" or the failure. 1 when saved.
int _do_save(TAVOLIX_APP* app, const char* path, const char* file_name);
// The export popup's mode toggles and its title with the size the export would have.
void _export_refresh(TAVOLIX_APP* app);
// Fills the open list from the save folder, newest first.
void _open_list_refresh(TAVOLIX_APP* app);
// The custom canvas size typed into the new-canvas field: its leading number (blanks before
// it allowed), or -1 when there is none or it does not fit an int.
long _canvas_size_of(const char* text);

// Panel buttons that open popups.
void _open_confirm(TAVOLIX_APP* app, int mode, const char* text, const char* yes);
void _open_export(TAVOLIX_APP* app);
void _open_new_canvas(TAVOLIX_APP* app);
void _open_rename(TAVOLIX_APP* app);
void _open_text(TAVOLIX_APP* app);
void _open_picker(TAVOLIX_APP* app);
// The colour picker's hex field was edited: a complete colour is taken at once.
void _on_picker_hex_edit(TAVOLIX_APP* app, const char* text);
// "#RRGGBB" or "#RRGGBBAA" (the "#" may be left out, letters in either case) into straight
// RGBA bytes; six digits give alpha 255. 1 when the text is such a colour, else 0 and `rgba`
// untouched.
int _hex_to_rgba(const char* text, unsigned char rgba[4]);
// "#rrggbb", or "#rrggbbaa" for a colour that is not opaque, into at least 10 bytes.
void _rgba_to_hex(const unsigned char rgba[4], char* out, size_t size);
void _open_palette_manager(TAVOLIX_APP* app);
void _open_tip(TAVOLIX_APP* app);
void _open_help(TAVOLIX_APP* app);
// The load button: the file chooser, or the open list where there is none.
void _gui_load(TAVOLIX_APP* app);

// Callbacks of the panels (gui_callbacks.cpp). `user` is the application record.
void _on_toolbar_collapse(int widget, void* user);
void _on_toolbar_expand(int widget, void* user);
void _on_panel_collapse(int widget, void* user);
void _on_panel_expand(int widget, void* user);
void _on_hide_ui(int widget, void* user);
void _on_undo(int widget, void* user);
void _on_redo(int widget, void* user);
void _on_tool(int widget, void* user);
void _on_eraser(int widget, void* user);
void _on_clipboard(int widget, void* user);
void _on_navigate(int widget, void* user);
void _on_preset(int widget, void* user);
void _on_brush_slider(int widget, double value, void* user);
void _on_tip(int widget, void* user);
void _on_shape(int widget, void* user);
void _on_palette_select(int widget, int index, void* user);
void _on_color_chip(int widget, void* user);
void _on_swatch(int widget, void* user);
void _on_palette_edit(int widget, void* user);
void _on_palette_new(int widget, void* user);
void _on_popup_button(int widget, void* user);
void _on_sym_mode(int widget, void* user);
void _on_sym_move(int widget, void* user);
void _on_sym_count(int widget, double value, void* user);
void _on_sym_reset(int widget, void* user);
void _on_save(int widget, void* user);
void _on_load(int widget, void* user);
void _on_setting_toggle(int widget, void* user);
void _on_language(int widget, int index, void* user);
void _on_pen_curve(int widget, int index, void* user);
void _on_ui_size(int widget, int index, void* user);
void _on_exit(int widget, void* user);
void _on_toolbar_section(int section, int folded, void* user);
void _on_panel_section(int section, int folded, void* user);
void _on_layer_select(int widget, int index, int selected, void* user);
void _on_layer_add(int widget, void* user);
void _on_layer_remove(int widget, void* user);
void _on_layer_move(int widget, void* user);
void _on_layer_check(int widget, int checked, void* user);
void _on_layer_blend(int widget, void* user);
void _on_layer_opacity(int widget, double value, void* user);
void _on_template(int widget, int index, void* user);
void _on_grid_toggle(int widget, void* user);
void _on_grid_size(int widget, double value, void* user);

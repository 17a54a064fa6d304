// ============================================================================================
// The program's GUI: the tool bar and the layer panel, routing, sync and the saved layout
//   [SECTION] Records: metrics, icon registry, widget ids, popups, the GUI record
//   [SECTION] What the shell calls
//   [SECTION] Building blocks the tests and the popups share
//
// Sources, by concern:
//   gui_build.cpp      metrics, building the panels, the icon registry, rebuild
//   gui_callbacks.cpp  what each panel widget does
//   gui_route.cpp      event routing, popups' open state, visibility, sync, layout files
//   gui_draw.cpp       the cached GUI image, colour swatches, the alpha overlays
//   popup_build.cpp    the popups' shared frame, opening, closing and rebuilding them
//   popup_file.cpp     new canvas, save name, open list, export
//   popup_colour.cpp   colour picker, palette name, palette manager, brush tip
//   popup_misc.cpp     confirmation, notification, layer rename, text, language, help
//   icons.cpp          the icon renderer (icons.h)
//
// Until the toolkit context exists every operation only invalidates the cached GUI image and
// reports that it did nothing.
// ============================================================================================
#pragma once

#include <allegro5/allegro.h>

#include "gui/icons.h"

struct Q_GUI_CTX;
struct Q_GUI_SECTIONLIST;
struct TAVOLIX_APP;

// --------------------------------------------------------------------------------------------
// [SECTION] Records: metrics, icon registry, widget ids, popups, the GUI record
// --------------------------------------------------------------------------------------------

// Every size of the panels, scaled by k = max(0.5, UI scale).
struct GUI_METRICS {
    float k;
    float margin;        // panels' distance from the display edges
    float toolbar_limit; // widest tool bar content
    float row;           // ordinary rows, header and small buttons
    float gap;           // between rows and between the buttons of a row
    float panel_default; // layer panel width when none is stored
    float panel_min;     // narrowest layer panel
    float tab_w;         // a collapsed panel's tab
    float tool_button;   // height of the large tool buttons
    float scrollbar;
    float value_room; // kept free right of a slider for its value text
    float popup_wide, popup_narrow;
    int icon; // icon size: the row, rounded
};

constexpr int GUI_ICON_SLOTS = 40;
constexpr int GUI_SLIDER_SLOTS = 16;
constexpr int GUI_OPEN_ROWS = 12;     // rows of the open list
constexpr int GUI_HELP_TABS = 11;
constexpr int GUI_CACHE_RECTS = 24; // parts of the cached GUI image a frame copies

struct GUI_CACHE_RECT {
    int x, y, w, h;
};

// A slider and the label right of it that shows its value.
struct GUI_SLIDER_VALUE {
    int slider, label;
    const char* format;
};

struct GUI_ICON_ENTRY {
    int widget;
    int icon;
    float w, h;
    TAVOLIX_ICON_SET set;
};

// Popups in the order Escape closes them, top priority first.
enum GUI_POPUP {
    GUI_POPUP_TEXT,
    GUI_POPUP_SAVE_NAME,
    GUI_POPUP_RENAME,
    GUI_POPUP_OPEN_LIST,
    GUI_POPUP_PALETTE_NAME,
    GUI_POPUP_PICKER,
    GUI_POPUP_TIP,
    GUI_POPUP_HELP,
    GUI_POPUP_PALETTE_MANAGER,
    GUI_POPUP_NEW_DOC,
    GUI_POPUP_EXPORT,
    GUI_POPUP_ASK,
    GUI_POPUP_CONFIRM,
    GUI_POPUP_NOTIFY,
    GUI_POPUP_LANGUAGE,
    GUI_POPUP_COUNT
};

// Confirmation kinds.
enum { GUI_CONFIRM_CLEAR_LAYER = 0, GUI_CONFIRM_RESET_PALETTES = 1, GUI_CONFIRM_QUIT = 2,
       GUI_CONFIRM_REMOVE_PALETTE = 3, GUI_CONFIRM_REPLACE_FILE = 4 };
// What waits for the user's answer before the drawing is replaced or the program ends: held
// while the ask popup is open, and while a save started from it runs.
enum GUI_PENDING {
    GUI_PENDING_NONE = 0,
    GUI_PENDING_NEW = 1,        // a new canvas of pending_size
    GUI_PENDING_LOAD_PATH = 2,  // the file at pending_arg
    GUI_PENDING_LOAD_NAMED = 3, // the save folder's document named pending_arg
    GUI_PENDING_QUICK_OPEN = 4, // "sketch.tvl" (Ctrl+O)
    GUI_PENDING_QUIT = 5,
};
// The ask popup's question: the drawing would be replaced, or the program would end while the
// drawing is not on disk.
enum { GUI_ASK_REPLACE = 0, GUI_ASK_QUIT = 1 };

// Tool bar widget ids; -1 while the widget does not exist (a collapsed or folded-away panel).
struct GUI_TOOLBAR_IDS {
    int collapse, hide, expand;
    int undo, redo, brush, eraser, select, lasso, cut, copy, paste, navigate;
    int presets[4];
    int tip, tip_preview;
    int line, bezier, rect, circle, triangle, star, pentagon, hexagon, fill, gradient, text,
        arrow, shape_fill, eyedropper;
    int palette, color, swatches[8], edit, new_palette, manage;
    int size, opacity, flow, hardness, stabilizer;
    int sym_mode, sym_move, sym_count, sym_reset, sym_offset;
    int file_new, save, load, export_;
    int pressure, palm, pen_size, pen_curve, language, ui_size;
    int help, exit;
};

struct GUI_PANEL_IDS {
    int collapse, expand;
    int list, add, remove, up, down, clear, rename, show, lock, blend, opacity;
    int templates;
    int grid, snap, diagonals, grid_size;
};

// Popup widget ids; -1 while the widget does not exist. `ok` and `cancel` are each popup's
// accepting and dismissing buttons (yes, Save, Create, Export, Close...).
struct GUI_POPUP_IDS {
    int ok[GUI_POPUP_COUNT], cancel[GUI_POPUP_COUNT];
    int confirm_label, notify_label;
    int ask_lines[2], ask_save; // the ask popup's two lines and its "Save as..." button
    int export_title, export_area, export_full, export_border, export_template, export_png, export_ora;
    int new_sizes[6];
    int open_title, open_empty, open_import, open_rows[GUI_OPEN_ROWS];
    int text_fonts[4], text_size;
    int languages[4];
    int manage[4]; // rename, reset, reset all, remove
    int picker_preview, picker_sliders[4], picker_wheel, picker_recent[8];
    int tips[7];
    int help_tabs[GUI_HELP_TABS];
};

struct TAVOLIX_GUI {
    Q_GUI_CTX* ctx; // first member: the toolkit context, NULL while there is no GUI
    bool gui_cache_valid;
    int tooltip_last;
    bool rebuild_pending;

    // Interface options the settings file keeps between runs.
    bool gui_initialised;         // the options below hold the user's values, not first-run ones
    bool shape_filled;            // placed shapes are solid rather than outlined
    bool section_folded[7];       // tool dock sections: Actions, Tools, Color, Brush, Symmetry,
                                  // File, Settings
    bool panel_section_folded[3]; // layer panel sections: Layers, Template, Canvas
    bool toolbar_collapsed;
    bool panel_collapsed;
    float panel_width; // 0 lets the interface choose
    int export_mode;   // 1 the whole document, 0 the displayed area
    int export_border; // pixels
    bool export_template;
    bool export_ora;   // the export writes the layers as OpenRaster rather than a flat PNG
    int text_size;
    int text_font;
    unsigned char picker_rgba[4];
    float picker_hsv[3]; // the wheel's hue, saturation and value: a grey keeps its hue
    bool palette_editing;
    int selected_swatch; // 0..7 a palette swatch, 8 the picker's own colour, -1 none
    int edit_swatch;     // swatch last assigned in palette-editing mode, -1 none

    // The built panels.
    GUI_METRICS metrics;
    int toolbar_window, panel_window;
    Q_GUI_SECTIONLIST* toolbar_sections;
    Q_GUI_SECTIONLIST* panel_sections;
    GUI_TOOLBAR_IDS tb;
    GUI_PANEL_IDS lp;
    bool sync_guard; // widgets are being set from the model: their callbacks stand still
    bool layout_restored;
    bool panel_open_when_hidden;
    int focus_when_hidden; // text field that had the focus when the GUI was hidden, or -1

    // Popups: open flags survive rebuilds; windows and fields are made by the popup builder.
    bool popup_open[GUI_POPUP_COUNT];
    int popup_window[GUI_POPUP_COUNT];
    int popup_field[GUI_POPUP_COUNT]; // text field taking the keyboard, -1 none
    int help_tab_window;              // the help's header with its tabs, beside "help"
    GUI_POPUP_IDS pp;
    // What the popups show, kept here so that a rebuild brings them back as they were.
    char popup_text[GUI_POPUP_COUNT][64]; // the single-line fields' texts
    int confirm_mode;
    char confirm_text[256];
    int ask_mode;             // GUI_ASK_*
    char ask_text[2][256];    // the ask popup's two lines
    int pending;              // a GUI_PENDING
    int pending_size;         // GUI_PENDING_NEW: the canvas side
    char pending_arg[1024];   // GUI_PENDING_LOAD_*: the path or the name
    bool pending_after_save;  // the pending action runs once the save started for it succeeded
    char replace_path[1024];  // the Replace confirmation: the file the save would replace
    char replace_file[80];    // and the name it reports
    char notify_text[256];
    char open_names[GUI_OPEN_ROWS][72]; // the open list's documents, newest first
    int open_count;                     // rows filled
    int open_listed;                    // documents the save folder listed
    bool open_import;                   // the open list imports pictures as a layer
    int help_tab;                       // 0..10

    GUI_SLIDER_VALUE slider_values[GUI_SLIDER_SLOTS];
    int slider_value_count;

    GUI_ICON_ENTRY icons[GUI_ICON_SLOTS];
    int icon_count;
    bool icons_ready;

    ALLEGRO_BITMAP* gui_cache;
    int gui_cache_w, gui_cache_h;
    double cache_drawn_at; // al_get_time() of the last whole redraw of the cached image
    int caret_drawn;       // the caret state that redraw showed (q_gui_caret_visible)
    // The disjoint parts of the cached image that hold anything; -1 copies all of it.
    GUI_CACHE_RECT cache_rects[GUI_CACHE_RECTS];
    int cache_rect_count;
    ALLEGRO_BITMAP* tip_preview;


    // Documents and export (src/gui/doc_names.cpp).
    char doc_name[64];      // the current document's name, at most 63 characters
    char last_file[1024];   // path of the last document saved or opened, "" for none
    char last_export[1024]; // path of the last export chosen in the file chooser, "" for none
    int export_bbox[4];     // drawn-content box x0, y0, x1, y1 (inclusive), cached for export
    bool export_bbox_valid; // cleared whenever the export popup opens
};

// First-run values of the interface options.
void tavolix_gui_option_defaults(TAVOLIX_GUI* gui);

// --------------------------------------------------------------------------------------------
// [SECTION] What the shell calls
// --------------------------------------------------------------------------------------------

int tavolix_gui_init(TAVOLIX_APP* app);
int tavolix_gui_handle_event(TAVOLIX_APP* app, const ALLEGRO_EVENT* event);
// Changes of the GUI's picture that come with time rather than events: a tooltip due or gone,
// a pressed button's flash over, a focused field's caret blinking. Called every timer tick.
void tavolix_gui_tick(TAVOLIX_APP* app);
int tavolix_gui_wants_keyboard(TAVOLIX_APP* app);
int tavolix_gui_wants_pointer(TAVOLIX_APP* app);
int tavolix_gui_close_top_popup(TAVOLIX_APP* app);
void tavolix_gui_request_quit(TAVOLIX_APP* app);
void tavolix_gui_request_save(TAVOLIX_APP* app);
// Before something replaces the drawing: 1 when it may go ahead now (nothing would be lost).
// Otherwise the user is asked to save under a name, discard or cancel, and 0 is returned; the
// action (a GUI_PENDING with its size or path/name) runs later if the user agrees.
int tavolix_gui_confirm_replace(TAVOLIX_APP* app, int pending, int size, const char* arg);
// The program was to end but the drawing could not be written: the user may save it under a
// name, quit all the same or go on.
void tavolix_gui_ask_quit_unsaved(TAVOLIX_APP* app);
void tavolix_gui_request_language_choice(TAVOLIX_APP* app);
void tavolix_gui_notify(TAVOLIX_APP* app, const char* text);
// The notification of a translated key used as a printf format: every message fits, whatever
// the names in it hold.
void tavolix_gui_notify_tr(TAVOLIX_APP* app, const char* key, ...) __attribute__((format(printf, 2, 3)));
// A document or picture was opened from outside the panels (the command line): the name and
// the file the next save writes follow it. A picture is never written over by a save.
void tavolix_gui_opened_file(TAVOLIX_APP* app, const char* path, bool picture);
// Ctrl+I: "Import as layer" through the file chooser, or the open list in import mode where
// there is none.
void tavolix_gui_request_import(TAVOLIX_APP* app);
void tavolix_gui_set_visible(TAVOLIX_APP* app, int visible);
void tavolix_gui_on_resize(TAVOLIX_APP* app);
void tavolix_gui_sync(TAVOLIX_APP* app);
void tavolix_gui_sync_symmetry(TAVOLIX_APP* app);
void tavolix_gui_sync_layers(TAVOLIX_APP* app);
void tavolix_gui_palette_changed(TAVOLIX_APP* app);
void tavolix_gui_layout_persist(TAVOLIX_APP* app);
void tavolix_gui_layout_restore(TAVOLIX_APP* app);
void tavolix_gui_shutdown(TAVOLIX_APP* app);
int tavolix_gui_rebuild(TAVOLIX_APP* app);
void tavolix_gui_draw(TAVOLIX_APP* app);
// Where the "Not saved" marker shows at the bottom of the canvas while the drawing is not
// safely on disk.
void _gui_unsaved_marker_rect(const TAVOLIX_APP* app, float* x, float* y, float* w, float* h);
// The first half of tavolix_gui_draw: brings the cached image of the GUI up to date without
// showing it. 1 when that image is what the frame would show.
int tavolix_gui_update(TAVOLIX_APP* app);

// --------------------------------------------------------------------------------------------
// [SECTION] Building blocks the tests and the popups share
// --------------------------------------------------------------------------------------------

GUI_METRICS gui_metrics(float ui_scale);
// Content width of the expanded tool bar on a display this wide.
float gui_toolbar_content_width(const GUI_METRICS* m, float display_w);
// Layer panel width for a stored width (0 or less: the default) on a display this wide.
float gui_panel_width(const GUI_METRICS* m, float display_w, float stored);
// Layer index of a list row; rows count from the top of the stack.
int gui_layer_of_row(int row, int count);
// The list row text of a layer: visibility mark, name, lock mark; at most `size` - 1 bytes,
// never cut inside a UTF-8 character.
void gui_layer_row_text(const char* name, bool visible, bool locked, char* out, size_t size);

// A button that looks like a colour swatch, its text black or white for contrast.
void _theme_color_button(Q_GUI_CTX* ctx, int widget, ALLEGRO_COLOR colour);
// A translucent colour over a checkerboard inside a button; `whole` false uses only a square
// at the right end.
void _draw_alpha_overlay(TAVOLIX_APP* app, int window, int widget, ALLEGRO_COLOR colour,
                         bool whole);
// One checkerboard cell's colour: the straight colour at its alpha over a grey.
ALLEGRO_COLOR _alpha_cell(ALLEGRO_COLOR colour, int grey);

// ============================================================================================
// Placed shapes and text, document names and paths, the export region and the notification
// text: what the popups and the canvas call without needing a widget.
//   src/gui/placed.cpp     shape and text rendering, placing, refresh rules, text popup model
//   src/gui/doc_names.cpp  UTF-8 cuts, document names, save-folder paths, export region,
//                          notification fitting
// ============================================================================================

struct ALLEGRO_FONT;

// Placed kinds: 0 rectangle, 1 ellipse, 2 triangle, 3 star, 4 pentagon, 5 hexagon, 6 arrow,
// 7 text (the selection's placed_kind).
enum PLACED_KIND {
    PLACED_RECT = 0,
    PLACED_ELLIPSE = 1,
    PLACED_TRIANGLE = 2,
    PLACED_STAR = 3,
    PLACED_PENTAGON = 4,
    PLACED_HEXAGON = 5,
    PLACED_ARROW = 6,
    PLACED_TEXT = 7,
};
constexpr int PLACED_TEXT_SIZE_MIN = 6;
constexpr int PLACED_TEXT_SIZE_MAX = 512;
constexpr int PLACED_TEXT_FONTS = 4;
constexpr size_t PLACED_TEXT_BYTES = 512;
// A re-rendered shape is never larger than this on either side.
constexpr int PLACED_SHAPE_MAX = 4096;

// Draws a tiny transparent bitmap off the current target, so the graphics device stops
// sampling the texture the target had before it was cleared.
void tavolix_gfx_break_feedback();
// Outline thickness of a W x H shape: the brush size (at least 2) but never more than a sixth
// of the smaller side.
float _shape_thickness(float brush_size, int w, int h);
// The polygon of shape `kind` mapped into the inset box of a W x H bitmap with outline
// thickness t: writes x, y pairs into `out` (room for 10 vertices) and returns the vertex
// count, 0 for the ellipse and for kinds that are not shapes.
int _shape_vertices(int kind, int w, int h, float t, float* out);
// New bitmaps in the brush colour, or NULL (also for an empty text). W and H are raised to 2.
ALLEGRO_BITMAP* _render_shape_bitmap_wh(TAVOLIX_APP* app, int kind, bool filled, int w, int h);
ALLEGRO_BITMAP* _render_text_bitmap(TAVOLIX_APP* app, const char* text, int font, int size);
// "fonts/..." file of a text font index; any index outside 0..3 gives the sans font.
const char* _text_font_file(int font);
// Margin around placed text at a font size, in pixels.
int _text_margin(int size);
// Side of a new shape in canvas pixels for the current view, display, document and grid.
int _placed_shape_side(const TAVOLIX_APP* app);
// Drops a new shape of `kind` (0..6) as a placed float in the middle of the display.
void _place_shape(TAVOLIX_APP* app, int kind);
void _on_shape_rect(TAVOLIX_APP* app);
void _on_shape_circle(TAVOLIX_APP* app);
void _on_shape_triangle(TAVOLIX_APP* app);
void _on_shape_star(TAVOLIX_APP* app);
void _on_shape_pentagon(TAVOLIX_APP* app);
void _on_shape_hexagon(TAVOLIX_APP* app);
void _on_shape_arrow(TAVOLIX_APP* app);
void _on_shape_fill_toggle(TAVOLIX_APP* app);
// Re-renders the placed float when its displayed size changed, or always with `force`.
void _refresh_placed_float(TAVOLIX_APP* app, int force);
// A scaled placed shape is drawn anew at its displayed size (text is only stretched).
void tavolix_gui_placed_float_refresh(TAVOLIX_APP* app);
// A placed shape or text takes the current brush colour, size and fill.
void tavolix_gui_placed_float_restyle(TAVOLIX_APP* app);
// 1 when the selection floats a placed text.
int _placed_text_floating(const TAVOLIX_APP* app);

// The text popup's model. The popup calls these and then does its own widget work: it fills
// its fields from app->text, gui.text_font and gui.text_size after _text_edit_begin, and
// closes itself (focus, window, on-screen keyboard) after _on_text_ok or _on_text_cancel.
void _text_edit_begin(TAVOLIX_APP* app);
void _on_text_field_change(TAVOLIX_APP* app, const char* text);
void _on_text_font_select(TAVOLIX_APP* app, int index);
void _on_text_size_change(TAVOLIX_APP* app, float value);
void _on_text_ok(TAVOLIX_APP* app);
void _on_text_cancel(TAVOLIX_APP* app);

// How many bytes of `text` fit in `limit` bytes without splitting a UTF-8 character.
size_t _utf8_fit(const char* text, size_t limit);
// Copies as much of `text` as fits in `size` bytes, cut before a whole character; terminated.
void _utf8_copy(char* out, size_t size, const char* text);
// printf into `size` bytes, cut before a whole character when it does not fit. 1 when the
// whole text fitted.
int _utf8_format(char* out, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// The document-name rule: letters, digits, blanks, "-" and "_", at most 63 of them, trimmed,
// "sketch" when nothing is left. `out` holds `size` bytes (64 for a whole name).
void _sanitize_doc_name(const char* text, char* out, size_t size);
// Sets gui.doc_name from the last component of `path` (split at "/" only: a backslash is an
// ordinary character in a file name here), without its ".tvl" ending. A name that is a valid
// file name of its own (_doc_name_keeps) stays as it is, so that saving under it writes the
// same file again; any other goes through the document-name rule. "" changes nothing.
void _derive_doc_name(TAVOLIX_APP* app, const char* path);
// A document name that can be saved under as it is: at most 63 bytes, not empty, not starting
// with ".", and with ".tvl" a name the open list shows and loads (_load_named_path), not one
// of the program's own names.
bool _doc_name_keeps(const char* name);
// The name a save through the name popup writes: the field as typed when it is the
// document's own name and that can be kept, else the document-name rule applied to it.
void _save_name_of(const TAVOLIX_APP* app, const char* field, char* out, size_t size);
// A listed document name the open list shows: one _load_named_path accepts, not a session
// file of the program.
bool _open_list_shows(const char* name);
// A file name with the ending of a picture the program opens (any case).
bool _picture_name(const char* name);
// The notification for a failed load of `path` with a PICTURE_ERROR.
void _notify_load_failed(TAVOLIX_APP* app, int error, const char* path);
// Appends `extension` when the last path component has no "." and the result fits in `size`.
// 1 when appended.
int _path_add_extension(char* path, size_t size, const char* extension);
// 1 and the save-folder path of a listed document name; 0 for a name that could leave the
// folder (a "/", "..", a control character, empty) or a path that does not fit.
int _load_named_path(const char* name, char* out, size_t size);
// Loads a document of the save folder by name; doc_name and last_file change only when the
// document actually loaded. 1 on success.
int _load_named(TAVOLIX_APP* app, const char* name);
// The canvas rectangle an export writes, border included and clamped to the document.
int _export_region(TAVOLIX_APP* app, int* x, int* y, int* w, int* h);
// The notification text for a label `limit` pixels wide: at most 255 bytes of `text`, and when
// it is too wide its end, whole characters dropped from the front, after "...". Without a
// font the text is only cut to size.
void _notify_fit(const ALLEGRO_FONT* font, const char* text, int limit, char* out, size_t size);

// The application record and the shell operations that work on it.
#pragma once

#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

#include "autosave.h"
#include "canvas/brush.h"
#include "canvas/document.h"
#include "canvas/form.h"
#include "canvas/grid.h"
#include "canvas/picture.h"
#include "canvas/selection.h"
#include "canvas/symmetry.h"
#include "canvas/view.h"
#include "gui/gui.h"
#include "input/gesture.h"
#include "input/pen.h"
#include "input/stabilizer.h"
#include "palette.h"
#include "session.h"
#include "settings_v5.h"

constexpr const char* TAVOLIX_VERSION_TEXT = TAVOLIX_VERSION;
constexpr int TAVOLIX_WINDOW_W = 1280;
constexpr int TAVOLIX_WINDOW_H = 800;
constexpr double TAVOLIX_TICK = 1.0 / 60.0;
constexpr double TAVOLIX_SPLASH_SECONDS = 2.0;
constexpr int TAVOLIX_DOC_MIN = 64;
constexpr int TAVOLIX_DOC_MAX = 16384;
constexpr int TAVOLIX_START_DOC = 4096;

enum TOOL {
    TOOL_BRUSH = 0,
    TOOL_FILL = 1,
    TOOL_GRADIENT = 2,
    TOOL_SELECT = 3,
    TOOL_LASSO = 4,
    TOOL_LINE = 5,
    TOOL_BEZIER = 6,
    TOOL_EYEDROPPER = 7, // picks the brush colour off the canvas
};

struct APP_STATE;

// Modifier keys held, as followed from the key events in queue order.
enum {
    APP_MOD_LCTRL = 1,
    APP_MOD_RCTRL = 2,
    APP_MOD_LSHIFT = 4,
    APP_MOD_RSHIFT = 8,
    APP_MOD_ALT = 16,
    APP_MOD_ALTGR = 32,
};

// Everything a rendered shape preview depends on; compared byte for byte so an unchanged
// form is not re-rendered every frame. Built zero-filled so padding compares equal too.
struct FORM_PREVIEW_KEY {
    uint32_t kind;
    int32_t count;
    float x[4], y[4];
    bool dragging;
    SYMMETRY symmetry;
    const DOCUMENT* doc;
    int32_t width, height;
    int32_t segments;
    float size, hardness, flow, opacity, spacing;
    int32_t tip;
};

struct TAVOLIX_APP {
    ALLEGRO_DISPLAY* display;
    ALLEGRO_EVENT_QUEUE* queue;
    ALLEGRO_TIMER* timer;
    ALLEGRO_FONT* font;
    int display_w, display_h;
    int state_id;
    const APP_STATE* state;
    bool running;
    bool redraw;
    bool halted;
    bool gui_visible;
    // The session and the file named on the command line are opened once the splash is on
    // screen, so a big drawing never keeps the window dark; until then the document is the
    // blank page. `start_file` points into argv.
    bool start_pending;
    const char* start_file;
    double splash_time;
    double splash_seconds; // how long the splash waits for input before it leaves by itself
    double last_flip;
    DOCUMENT* doc;
    VIEW view;
    int tool;
    BRUSH brush;
    int preset;
    BRUSH_STROKE stroke;
    SELECTION selection;
    ALLEGRO_BITMAP* clipboard;
    int clipboard_x, clipboard_y;
    PALETTE_SET palettes;
    int palette_load_pending;
    int settings_load_pending;
    bool gradient_drag;
    bool grid_stroke;
    float grid_anchor[2];
    int grid_step_dir[2];
    float gradient_start[2];
    bool form_press;
    float form_press_at[2];
    FORM form;
    FORM_PREVIEW_KEY form_preview_key;
    TAVOLIX_GUI gui;
    float cursor_x, cursor_y;
    GRID grid;
    SYMMETRY symmetry;
    bool sym_move;
    bool sym_drag;
    bool pressure_from_speed;
    bool palm_rejection;
    int language;
    float ui_scale;
    int ui_size;
    double last_event_time;
    float last_point[2];
    float speed_pressure;
    GESTURE gesture;
    bool panning;
    bool space_held;
    bool nav_mode;
    bool fill_pending;
    float fill_at[2];
    unsigned modifiers; // APP_MOD_* bits

    // Placed text: what the floating text shows, and what the text popup edits. The popup's own
    // font and size, and the shape fill, are interface options in `gui`.
    char text[PLACED_TEXT_BYTES]; // the placed text's words, UTF-8
    int placed_text_font;         // font and size the placed text is rendered with
    int placed_text_size;
    bool text_editing;                   // the popup edits the placed text instead of a new one
    char text_backup[PLACED_TEXT_BYTES]; // the words, font and size before editing began
    int placed_text_backup[2];
    AUTOSAVE autosave;  // the session document kept up to date in the background

    // The eyedropper: a press with Alt or Ctrl held, or with the eyedropper tool, picks the
    // colour under the pointer for as long as the button stays down.
    bool picking;
    bool pick_layer_only;    // Shift was held at the press: the active layer alone
    ALLEGRO_COLOR pick_old;  // the brush colour before picking, shown in the ring
    // Steadying and pens (the options are kept in settings.dat).
    int stabilizer;          // 0 (off) .. STABILIZER_MAX
    STABILIZER stab;
    PEN_INPUT pen;
    int pen_curve;           // a PEN_CURVE
    bool pen_size;           // pen pressure changes the dab size as well
    int mode_after_stroke;   // brush mode to restore after a stroke of the pen's eraser, -1 none
    RECENT_COLOURS recent;   // brush colours painted with, newest first
    SESSION session;    // this window's session file and its lock

    // The document as it was last saved under a name, loaded or made new: replacing it while
    // it differs asks first. Not valid for a restored session, which no name holds.
    bool named_valid;
    uint64_t named_changes;
    uint64_t named_signature;
    bool unsaved_shown;      // the user was told that the drawing is not safely on disk
    bool exit_write_failed;  // the session could not be written when the program ended
    bool quit_by_signal;     // a signal asked to quit: nobody is there to answer a question
};

// Follows a key event into app->modifiers; a focus change forgets every held modifier, since
// its key-up may go to another window.
void tavolix_app_track_modifiers(TAVOLIX_APP* app, const ALLEGRO_EVENT* event);

int tavolix_app_init(TAVOLIX_APP* app, int argc, char** argv);
// The second half of the start, which tavolix_app_run does once the splash's first frame is
// on screen: the previous session (or else the blank page's layer), then the file named on the
// command line. Does nothing the second time.
void tavolix_app_finish_start(TAVOLIX_APP* app);
int tavolix_app_run(TAVOLIX_APP* app);
// The canvas state's events go to the GUI first. 1 when the GUI keeps the event from the
// canvas; `consumed` tells whether the GUI used it at all.
int tavolix_app_gui_first(TAVOLIX_APP* app, const ALLEGRO_EVENT* event, bool* consumed);
void tavolix_app_shutdown(TAVOLIX_APP* app);
int tavolix_app_new_document(TAVOLIX_APP* app, int size);
int tavolix_app_load_document(TAVOLIX_APP* app, const char* path);
// A document or a picture, told apart by its first bytes: read, then put in place of the current
// drawing. A picture larger than the largest canvas is scaled down (logged). `error` (may be
// NULL) gets a PICTURE_ERROR, `info` (may be NULL) the picture's own size (kind PICTURE_NONE
// for a document).
int tavolix_app_open_file(TAVOLIX_APP* app, const char* path, int* error, PICTURE_INFO* info);
// Reads without installing; the caller owns the document.
DOCUMENT* tavolix_app_read_file(TAVOLIX_APP* app, const char* path, int* error, PICTURE_INFO* info);
// Tells the user a picture was scaled down to open, or that an OpenRaster file was normalised
// (layers merged, modes or groups changed). 1 when it did, so the caller's own notification
// does not hide it.
int tavolix_app_notify_scaled(TAVOLIX_APP* app, const PICTURE_INFO* info);
// The longest side a document made from a picture may have on this display.
int tavolix_app_picture_side(TAVOLIX_APP* app);
// The file named on the command line, opened in place of the session once start-up is done;
// a session with unsaved changes is first kept as a document of its own. 1 when opened.
int tavolix_app_open_at_start(TAVOLIX_APP* app, const char* path);
// Ctrl+I and the open list's "Import as layer": a picture as a floating selection on a new
// layer, fitted into the canvas. 1 when placed.
int tavolix_app_import_picture(TAVOLIX_APP* app, const char* path);
// Tells the user why a document or picture (a PICTURE_ERROR) could not be opened.
void tavolix_app_notify_open_error(TAVOLIX_APP* app, int error, const char* path);
// Puts a document made or read elsewhere in place of the current one, which is freed.
void tavolix_app_install_document(TAVOLIX_APP* app, DOCUMENT* doc);
// The user's choices in "settings.dat", the last picture in "session.tvl", and the in-program
// clipboard of floating pixels.
int tavolix_app_settings_load(TAVOLIX_APP* app);
void tavolix_app_settings_persist(TAVOLIX_APP* app);
int tavolix_app_palette_load(TAVOLIX_APP* app);
void tavolix_app_palette_persist(TAVOLIX_APP* app);
// 1 when written, 0 when there was nothing to write (the file holds the document), -1 when the
// write failed.
int tavolix_app_session_persist(TAVOLIX_APP* app);
int tavolix_app_session_restore(TAVOLIX_APP* app);
// The session file as it is now (written first when it does not hold the document) moved to a
// document of its own that the open list offers, with its name in `name`: what a drawing that
// is about to be replaced without anyone to ask becomes. 1 when kept.
int tavolix_app_keep_session(TAVOLIX_APP* app, char* name, size_t size);
// Quits as the user asked: the session is written first, and when that fails the user is told
// and asked whether to save under a name, quit all the same or go on.
void tavolix_app_request_quit(TAVOLIX_APP* app);
// Whether the drawing has changes that no named file holds (a blank page has none), and the
// moment it was saved under a name, loaded or made new.
bool tavolix_app_has_unsaved(TAVOLIX_APP* app);
void tavolix_app_mark_named(TAVOLIX_APP* app);
// Logs at level 6 what the program holds in memory, `when` naming the moment ("after load",
// "at exit"): the resident size, the committed copies of the layers, the undo tiles and the
// autosave's snapshot cache.
void tavolix_app_log_memory(const TAVOLIX_APP* app, const char* when);
// Ctrl+O: opens "sketch.tvl" of the save folder. 1 when loaded.
int tavolix_app_quick_open(TAVOLIX_APP* app);
// The autosave rules the main loop follows: what holds a background write off (something in
// progress that will change the committed pixels), and which events count as the user's
// activity that restarts the idle wait (presses, keys and the wheel; mere pointer motion not).
bool tavolix_app_autosave_busy(const TAVOLIX_APP* app);
bool tavolix_app_is_activity(const ALLEGRO_EVENT* event);
int tavolix_app_clipboard_copy(TAVOLIX_APP* app);
int tavolix_app_clipboard_cut(TAVOLIX_APP* app);
int tavolix_app_clipboard_paste(TAVOLIX_APP* app);
void _app_drain_import(TAVOLIX_APP* app);
// The platform let the program draw again: the display and the document's bitmaps are rebuilt
// and whatever the canvas had in progress is forgotten.
void _app_on_resume(TAVOLIX_APP* app);
// Start-up, once the GUI exists: tells a second window which file keeps its drawing, and keeps
// the session files that closed windows left as documents of the open list.
void _app_session_greet(TAVOLIX_APP* app);
// The periodic autosave duty, and telling the user when the drawing stops or starts again
// being safely on disk.
void _app_autosave_duty(TAVOLIX_APP* app);
// Keeps a state file that could not be read, or was read only in part, as "<path>.bad" (a
// numbered name when that is taken), so the next save does not overwrite what the user might
// still recover from it. An unreadable file is moved; a damaged one is copied, since what
// could be read from it is in use. 1 with the kept path in `kept`.
int _app_keep_aside(const char* path, const char* what, const char* why, bool copy, char* kept,
                    size_t size);
// The translated reason a write failed, from its errno.
const char* _app_write_error_text(int error);
// The settings record: applied from the bytes of a file (1 when its magic matched) and built
// for writing (SETTINGS_V5_SIZE bytes).
int _settings_apply(TAVOLIX_APP* app, const unsigned char* bytes, size_t count);
void _settings_build(const TAVOLIX_APP* app, unsigned char* out);

// Commits a pending shape, then switches tool; the brush goes back to painting. Any tool but
// select and lasso drops an outline still being dragged, so its release lifts nothing.
void tavolix_app_set_tool(TAVOLIX_APP* app, int tool);
// Drops a floating selection into its layer as one undo step. Every tool that changes pixels
// calls it first: while lifted pixels float, the layer holds their hole, and a step recorded
// over it would make the saved picture differ from the screen.
void tavolix_app_commit_float(TAVOLIX_APP* app);
// Paints a pending line or curve as one brush stroke (one undo step) and clears it.
void tavolix_app_commit_form(TAVOLIX_APP* app);
void tavolix_app_cancel_form(TAVOLIX_APP* app);
// Ends whatever the canvas has in progress that writes pixels: an active stroke, a floating
// selection and a pending shape. Used before anything is saved or the document replaced.
void tavolix_app_settle_canvas(TAVOLIX_APP* app);
void tavolix_app_update_ui_scale(TAVOLIX_APP* app);
// The brush colour was just painted with: it goes to the front of the recent colours.
void tavolix_app_note_colour_used(TAVOLIX_APP* app);
// Makes a picked colour the brush colour (keeping the brush's alpha) the way choosing it in
// the colour picker does: painting, the picker's own chip selected, a placed float restyled.
void tavolix_app_take_colour(TAVOLIX_APP* app, const unsigned char rgb[3]);
int tavolix_app_reload_font(TAVOLIX_APP* app);

// The application record and the shell operations that work on it.
#pragma once

#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

#include "canvas/document.h"
#include "canvas/view.h"
#include "gui/gui.h"

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
};

struct APP_STATE;

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
    double splash_time;
    double last_flip;
    DOCUMENT* doc;
    VIEW view;
    int tool;
    int preset;
    ALLEGRO_BITMAP* clipboard;
    int clipboard_x, clipboard_y;
    int palette_load_pending;
    int settings_load_pending;
    bool gradient_drag;
    bool grid_stroke;
    float gradient_start[2];
    bool form_press;
    float form_press_at[2];
    TAVOLIX_GUI gui;
    float cursor_x, cursor_y;
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
    bool panning;
    bool space_held;
    bool nav_mode;
    bool fill_pending;
    float fill_at[2];
};

int tavolix_app_init(TAVOLIX_APP* app, int argc, char** argv);
int tavolix_app_run(TAVOLIX_APP* app);
void tavolix_app_shutdown(TAVOLIX_APP* app);
int tavolix_app_new_document(TAVOLIX_APP* app, int size);
int tavolix_app_load_document(TAVOLIX_APP* app, const char* path);
void tavolix_app_set_tool(TAVOLIX_APP* app, int tool);
void tavolix_app_update_ui_scale(TAVOLIX_APP* app);
int tavolix_app_reload_font(TAVOLIX_APP* app);

// ============================================================================================
// Application states
//   [SECTION] Splash state
//   [SECTION] Canvas state
//   [SECTION] State table and switching
// ============================================================================================
#include "app_state.h"

#include <allegro5/allegro_font.h>

#include "canvas/compositor.h"
#include "i18n.h"
#include "q/q_common.h"
#include "tavolix_app.h"

namespace {

// --------------------------------------------------------------------------------------------
// [SECTION] Splash state
// --------------------------------------------------------------------------------------------

void _splash_enter(TAVOLIX_APP* app) { app->splash_time = 0.0; }

void _splash_handle_event(TAVOLIX_APP* app, const ALLEGRO_EVENT* event) {
    q_assert(event, return);
    if (event->type == ALLEGRO_EVENT_KEY_DOWN || event->type == ALLEGRO_EVENT_MOUSE_BUTTON_DOWN)
        app_state_switch(app, APP_STATE_CANVAS);
}

void _splash_update(TAVOLIX_APP* app, double seconds) {
    app->splash_time += seconds;
    if (app->splash_time >= TAVOLIX_SPLASH_SECONDS) app_state_switch(app, APP_STATE_CANVAS);
}

void _splash_draw(TAVOLIX_APP* app) {
    q_assert(app->font, return);
    const float step = 1.35f * static_cast<float>(al_get_font_line_height(app->font));
    const float x = static_cast<float>(app->display_w) * 0.5f;
    const float y0 = static_cast<float>(app->display_h) * 0.5f - 1.5f * step;
    char version[64];
    snprintf(version, sizeof version, "version %s", TAVOLIX_VERSION_TEXT);
    struct Line {
        const char* text;
        unsigned char grey;
    };
    const Line lines[] = {
        {"Tavolix", 230},
        {version, 150},
        {tavolix_tr("two fingers: pan / zoom / rotate"), 120},
        {tavolix_tr("desktop: wheel = zoom, Ctrl+wheel = rotate, F = reset view"), 120},
    };
    for (int i = 0; i < 4; i++) {
        const unsigned char g = lines[i].grey;
        al_draw_text(app->font, al_map_rgb(g, g, g), x, y0 + step * static_cast<float>(i),
                     ALLEGRO_ALIGN_CENTRE, lines[i].text);
    }
}

void _splash_leave(TAVOLIX_APP*) {}

// --------------------------------------------------------------------------------------------
// [SECTION] Canvas state
// --------------------------------------------------------------------------------------------

void _canvas_enter(TAVOLIX_APP* app) {
    q_assert(app->doc, return);
    view_center(&app->view, app->doc->width, app->doc->height, app->display_w, app->display_h);
    q_log(6, "canvas ready, %dx%d document on %dx%d display", app->doc->width, app->doc->height,
          app->display_w, app->display_h);
}

void _canvas_handle_event(TAVOLIX_APP* app, const ALLEGRO_EVENT* event) {
    q_assert(app, return);
    q_assert(event, return);
    q_assert(app->doc, return);
    if (event->type == ALLEGRO_EVENT_MOUSE_AXES) {
        app->cursor_x = static_cast<float>(event->mouse.x);
        app->cursor_y = static_cast<float>(event->mouse.y);
    }
}

void _canvas_update(TAVOLIX_APP*, double) {}

void _canvas_draw(TAVOLIX_APP* app) {
    q_assert(app, return);
    q_assert(app->doc, return);
    compositor_draw(app->doc, &app->view);
}

void _canvas_leave(TAVOLIX_APP* app) {
    app->form_press = false;
    app->gradient_drag = false;
    app->sym_drag = false;
}

// --------------------------------------------------------------------------------------------
// [SECTION] State table and switching
// --------------------------------------------------------------------------------------------

constexpr APP_STATE _app_states[] = {
    {"splash", _splash_enter, _splash_handle_event, _splash_update, _splash_draw, _splash_leave},
    {"canvas", _canvas_enter, _canvas_handle_event, _canvas_update, _canvas_draw, _canvas_leave},
};

} // namespace

const APP_STATE* app_state_get(int id) {
    if (id != APP_STATE_SPLASH && id != APP_STATE_CANVAS) {
        q_log(3, "bad state id %d", id);
        return nullptr;
    }
    return &_app_states[id];
}

int app_state_switch(TAVOLIX_APP* app, int next) {
    q_assert(app, return 0);
    if (next != APP_STATE_SPLASH && next != APP_STATE_CANVAS) {
        q_log(3, "bad state id %d", next);
        const bool next_is_valid = false;
        q_assert(next_is_valid, return 0);
    }
    const APP_STATE* to = &_app_states[next];
    if (app->state && app->state->leave) app->state->leave(app);
    q_log(6, "state switch: %s -> %s", app->state ? app->state->name : "(none)", to->name);
    app->state_id = next;
    app->state = to;
    if (to->enter) to->enter(app);
    app->redraw = true;
    return 1;
}

#include "gui/gui.h"

#include "q/q_common.h"
#include "tavolix_app.h"

namespace {

// Shared prologue: with no toolkit context there is nothing to route or draw, but whatever
// was cached of the GUI image is stale after any call.
bool gui_absent(TAVOLIX_APP* app) {
    app->gui.gui_cache_valid = false;
    return app->gui.ctx == nullptr;
}

} // namespace

int tavolix_gui_handle_event(TAVOLIX_APP* app, const ALLEGRO_EVENT* event) {
    q_assert(app, return 0);
    q_assert(event, return 0);
    if (gui_absent(app)) return 0;
    return 0;
}

int tavolix_gui_wants_keyboard(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    gui_absent(app);
    return 0;
}

int tavolix_gui_wants_pointer(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    gui_absent(app);
    return 0;
}

int tavolix_gui_close_top_popup(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    gui_absent(app);
    return 0;
}

void tavolix_gui_request_quit(TAVOLIX_APP* app) {
    q_assert(app, return);
    gui_absent(app);
}

void tavolix_gui_request_save(TAVOLIX_APP* app) {
    q_assert(app, return);
    gui_absent(app);
}

void tavolix_gui_request_language_choice(TAVOLIX_APP* app) {
    q_assert(app, return);
    gui_absent(app);
}

void tavolix_gui_notify(TAVOLIX_APP* app, const char* text) {
    q_assert(app, return);
    q_assert(text, return);
    gui_absent(app);
}

void tavolix_gui_set_visible(TAVOLIX_APP* app, int) {
    q_assert(app, return);
    gui_absent(app);
}

void tavolix_gui_sync(TAVOLIX_APP* app) {
    q_assert(app, return);
    gui_absent(app);
}

void tavolix_gui_sync_symmetry(TAVOLIX_APP* app) {
    q_assert(app, return);
    gui_absent(app);
}

void tavolix_gui_sync_layers(TAVOLIX_APP* app) {
    q_assert(app, return);
    gui_absent(app);
}

void tavolix_gui_palette_changed(TAVOLIX_APP* app) {
    q_assert(app, return);
    gui_absent(app);
}

void tavolix_gui_layout_persist(TAVOLIX_APP* app) {
    q_assert(app, return);
    gui_absent(app);
}

void tavolix_gui_layout_restore(TAVOLIX_APP* app) {
    q_assert(app, return);
    gui_absent(app);
}

void tavolix_gui_shutdown(TAVOLIX_APP* app) {
    q_assert(app, return);
    gui_absent(app);
}

int tavolix_gui_rebuild(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    gui_absent(app);
    return 0;
}

void tavolix_gui_draw(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (app->gui.ctx == nullptr) return;
}

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

void tavolix_gui_option_defaults(TAVOLIX_GUI* gui) {
    q_assert(gui, return);
    gui->shape_filled = false;
    for (bool& folded : gui->section_folded) folded = false;
    gui->section_folded[4] = gui->section_folded[5] = gui->section_folded[6] = true;
    for (bool& folded : gui->panel_section_folded) folded = false;
    gui->toolbar_collapsed = false;
    gui->panel_collapsed = false;
    gui->panel_width = 0.0f;
    gui->export_mode = 1;
    gui->export_border = 32;
    gui->export_template = true;
    gui->text_size = 48;
    gui->text_font = 0;
    gui->palette_editing = false;
    gui->selected_swatch = -1;
}

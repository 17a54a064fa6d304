// ============================================================================================
// Questions before a drawing is lost
//   [SECTION] Pending actions
//   [SECTION] The ask popup
//   [SECTION] Fitting a name into a line
//
// Nothing replaces a drawing whose changes no named file holds without asking first, and a
// quit that could not write the drawing asks too. The action waits in the GUI record while the
// user answers: "Discard" (or "Quit") runs it, "Save as..." runs it once the drawing was saved
// under a name, "Cancel" drops it.
// ============================================================================================
#include <allegro5/allegro_font.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "gui/gui_internal.h"
#include "i18n.h"
#include "q/q_common.h"
#include "q/q_gui.h"
#include "tavolix_app.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Pending actions
// --------------------------------------------------------------------------------------------

namespace {

void hold(TAVOLIX_GUI* gui, int pending, int size, const char* arg) {
    gui->pending = pending;
    gui->pending_size = size;
    _utf8_copy(gui->pending_arg, sizeof gui->pending_arg, arg ? arg : "");
    gui->pending_after_save = false;
}

} // namespace

void _drop_pending(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (app->gui.pending != GUI_PENDING_NONE) q_log(6, "pending action %d dropped", app->gui.pending);
    hold(&app->gui, GUI_PENDING_NONE, 0, nullptr);
}

void _run_pending(TAVOLIX_APP* app) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    const int pending = gui->pending;
    const int size = gui->pending_size;
    char arg[sizeof gui->pending_arg];
    snprintf(arg, sizeof arg, "%s", gui->pending_arg);
    hold(gui, GUI_PENDING_NONE, 0, nullptr);
    q_log(6, "pending action %d runs", pending);
    switch (pending) {
    case GUI_PENDING_NEW: _create_canvas(app, size); break;
    case GUI_PENDING_LOAD_PATH: _load_chosen(app, arg); break;
    case GUI_PENDING_LOAD_NAMED: _load_named(app, arg); break;
    case GUI_PENDING_QUICK_OPEN: tavolix_app_quick_open(app); break;
    case GUI_PENDING_QUIT: app->running = false; break;
    default: break;
    }
    app->redraw = true;
}

void _save_done(TAVOLIX_APP* app, bool saved) {
    q_assert(app, return);
    if (!app->gui.pending_after_save) return;
    app->gui.pending_after_save = false;
    if (saved) _run_pending(app);
    else _drop_pending(app);
}

// --------------------------------------------------------------------------------------------
// [SECTION] The ask popup
// --------------------------------------------------------------------------------------------

namespace {

TAVOLIX_APP* app_of(void* user) { return static_cast<TAVOLIX_APP*>(user); }

const char* go_label(int mode) { return mode == GUI_ASK_QUIT ? "Quit" : "Discard"; }

void open_ask(TAVOLIX_APP* app, int mode, const char* first, const char* second) {
    TAVOLIX_GUI* gui = &app->gui;
    gui->ask_mode = mode;
    _utf8_copy(gui->ask_text[0], sizeof gui->ask_text[0], first);
    _utf8_copy(gui->ask_text[1], sizeof gui->ask_text[1], second);
    if (gui->ctx) {
        for (int i = 0; i < 2; i++) q_gui_label_set_text(gui->ctx, gui->pp.ask_lines[i], gui->ask_text[i]);
        q_gui_button_set_label(gui->ctx, gui->pp.ok[GUI_POPUP_ASK], tavolix_tr(go_label(mode)));
    }
    q_log(6, "ask: %s %s", first, second);
    _popup_open(app, GUI_POPUP_ASK);
}

void on_ask_save(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _popup_close(app, GUI_POPUP_ASK);
    app->gui.pending_after_save = true;
    tavolix_gui_request_save(app);
}

void on_ask_go(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _popup_close(app, GUI_POPUP_ASK);
    q_log(6, "ask: %s", app->gui.ask_mode == GUI_ASK_QUIT ? "quit without saving" : "discarded");
    _run_pending(app);
}

void on_ask_cancel(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _popup_close(app, GUI_POPUP_ASK);
    _drop_pending(app);
}

} // namespace

int _build_ask_popup(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_ASK, "ask", 20 + m.popup_wide, _popup_height(m, 3), false,
                      Q_GUI_WINDOW_FIXED_POSITION | Q_GUI_WINDOW_NO_TITLEBAR,
                      "could not create the ask popup", &f))
        return 0;
    for (int i = 0; i < 2; i++)
        gui->pp.ask_lines[i] = f.label(gui->ask_text[i], i, 10, f.inner(), Q_GUI_ALIGN_LEFT);
    // Three buttons side by side in the middle: save, the action itself, cancel.
    const char* labels[3] = {tavolix_tr("Save as..."), tavolix_tr(go_label(gui->ask_mode)),
                             tavolix_tr("Cancel")};
    void (*actions[3])(int, void*) = {on_ask_save, on_ask_go, on_ask_cancel};
    float widths[3], total = 2 * m.gap;
    for (int i = 0; i < 3; i++) total += widths[i] = f.button_w(labels[i]);
    // The middle button is as wide as either of its labels needs, so switching does not move it.
    const float go = std::max(f.button_w(tavolix_tr("Quit")), f.button_w(tavolix_tr("Discard")));
    total += go - widths[1];
    widths[1] = go;
    float x = (f.w - total) / 2;
    int ids[3];
    for (int i = 0; i < 3; i++) {
        ids[i] = f.button(labels[i], 2, x, widths[i], actions[i]);
        x += widths[i] + m.gap;
    }
    gui->pp.ask_save = ids[0];
    gui->pp.ok[GUI_POPUP_ASK] = ids[1];
    gui->pp.cancel[GUI_POPUP_ASK] = ids[2];
    return 1;
}

int tavolix_gui_confirm_replace(TAVOLIX_APP* app, int pending, int size, const char* arg) {
    q_assert(app, return 1);
    if (!app->gui.ctx || !tavolix_app_has_unsaved(app)) return 1;
    hold(&app->gui, pending, size, arg);
    open_ask(app, GUI_ASK_REPLACE, tavolix_tr("The drawing has changes not saved under a name."),
             tavolix_tr("Save it before it is replaced?"));
    return 0;
}

void tavolix_gui_ask_quit_unsaved(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (!app->gui.ctx) return;
    hold(&app->gui, GUI_PENDING_QUIT, 0, nullptr);
    char first[256];
    _utf8_format(first, sizeof first, tavolix_tr("Drawing not saved: %s"),
                 _app_write_error_text(app->autosave.last_error));
    open_ask(app, GUI_ASK_QUIT, first, tavolix_tr("Quit anyway? The changes would be lost."));
}

// --------------------------------------------------------------------------------------------
// [SECTION] Fitting a name into a line
// --------------------------------------------------------------------------------------------

void _fit_name(TAVOLIX_APP* app, const char* format, const char* name, int limit, char* out,
               size_t size) {
    q_assert(app && format && name && out, return);
    char shown[256];
    _utf8_copy(shown, sizeof shown, name);
    size_t keep = strlen(shown);
    bool cut = false;
    for (;;) {
        char part[260];
        snprintf(part, sizeof part, "%.*s%s", static_cast<int>(keep), shown, cut ? "..." : "");
        _utf8_format(out, size, format, part);
        if (!app->font || keep == 0 || al_get_text_width(app->font, out) < limit) return;
        // One whole character less at the end of the name.
        keep = _utf8_fit(shown, keep - 1);
        cut = true;
    }
}

// The program's GUI as seen by the shell. Until the toolkit context exists every operation
// only invalidates the cached GUI image and reports that it did nothing.
#pragma once

#include <allegro5/allegro.h>

struct Q_GUI_CTX;
struct TAVOLIX_APP;

struct TAVOLIX_GUI {
    Q_GUI_CTX* ctx; // first member: the toolkit context, NULL while there is no GUI
    bool gui_cache_valid;
    int tooltip_last;
    bool rebuild_pending;
};

int tavolix_gui_handle_event(TAVOLIX_APP* app, const ALLEGRO_EVENT* event);
int tavolix_gui_wants_keyboard(TAVOLIX_APP* app);
int tavolix_gui_wants_pointer(TAVOLIX_APP* app);
int tavolix_gui_close_top_popup(TAVOLIX_APP* app);
void tavolix_gui_request_quit(TAVOLIX_APP* app);
void tavolix_gui_request_save(TAVOLIX_APP* app);
void tavolix_gui_request_language_choice(TAVOLIX_APP* app);
void tavolix_gui_notify(TAVOLIX_APP* app, const char* text);
void tavolix_gui_set_visible(TAVOLIX_APP* app, int visible);
void tavolix_gui_sync(TAVOLIX_APP* app);
void tavolix_gui_sync_symmetry(TAVOLIX_APP* app);
void tavolix_gui_sync_layers(TAVOLIX_APP* app);
void tavolix_gui_palette_changed(TAVOLIX_APP* app);
void tavolix_gui_layout_persist(TAVOLIX_APP* app);
void tavolix_gui_layout_restore(TAVOLIX_APP* app);
void tavolix_gui_shutdown(TAVOLIX_APP* app);
int tavolix_gui_rebuild(TAVOLIX_APP* app);
void tavolix_gui_draw(TAVOLIX_APP* app);

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
    int text_size;
    int text_font;
    unsigned char picker_rgba[4];
    bool palette_editing;
    int selected_swatch; // 0..7 a palette swatch, 8 the picker's own colour, -1 none
};

// First-run values of the interface options.
void tavolix_gui_option_defaults(TAVOLIX_GUI* gui);

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

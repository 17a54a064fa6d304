// ============================================================================================
// Application shell
//   [SECTION] Fonts, icon and UI scale
//   [SECTION] Start-up
//   [SECTION] Documents
//   [SECTION] Settings
//   [SECTION] Palettes
//   [SECTION] Clipboard and imports
//   [SECTION] Periodic duties, halt and resume
//   [SECTION] Main loop
//   [SECTION] Shut-down
// ============================================================================================
#include "tavolix_app.h"

#include <allegro5/allegro_image.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app_state.h"
#include "canvas/undo.h"
#include "cmdline.h"
#include "i18n.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_gui.h"
#include "ui_scale.h"

namespace {

// --------------------------------------------------------------------------------------------
// [SECTION] Fonts, icon and UI scale
// --------------------------------------------------------------------------------------------

int _app_load_font(TAVOLIX_APP* app) {
    char path[PLATFORM_PATH_MAX];
    if (!platform_asset_path("fonts/DejaVuSans.ttf", path, sizeof path)) {
        q_log(3, "could not resolve font resource %s", "fonts/DejaVuSans.ttf");
        return 0;
    }
    int size = static_cast<int>(18.0f * app->ui_scale + 0.5f);
    if (size < 8) size = 8;
    ALLEGRO_FONT* font = al_load_ttf_font(path, size, 0);
    if (!font) {
        q_log(3, "could not load font %s%s", path, app->font ? ", keeping previous font" : "");
        return 0;
    }
    // The toolkit moves to the new font before the old one goes, so no widget and no cached
    // measurement is ever left with a destroyed font.
    if (app->gui.ctx) q_gui_set_default_font(app->gui.ctx, font);
    if (app->font) al_destroy_font(app->font);
    app->font = font;
    return 1;
}

void _app_set_window_icon(TAVOLIX_APP* app) {
    q_assert(app->display, return);
    char path[PLATFORM_PATH_MAX];
    if (!platform_asset_path("icons/tavolix.png", path, sizeof path)) {
        q_log(5, "could not resolve icon resource %s", "icons/tavolix.png");
        return;
    }
    ALLEGRO_BITMAP* icon = al_load_bitmap(path);
    if (!icon) {
        q_log(5, "window icon not found at %s", path);
        return;
    }
    al_set_display_icon(app->display, icon);
    al_destroy_bitmap(icon);
}

// The display's bitmap size limit; 0 when the display does not know it (a reported value
// below 1), so callers fall back to their own default instead of refusing every canvas.
int display_bitmap_limit(TAVOLIX_APP* app) {
    if (!app->display) return 0;
    const int limit = al_get_display_option(app->display, ALLEGRO_MAX_BITMAP_SIZE);
    return limit >= 1 ? limit : 0;
}

// Installs a freshly made document in place of the current one and points everything that
// depends on the document at it.
// Replacing the document happens only here, so nothing that belonged to the old one (a
// floating selection, a pending shape, the stroke buffer and stamps, the symmetry centre)
// survives into the new one.
void replace_document(TAVOLIX_APP* app, DOCUMENT* doc) {
    if (app->stroke.active && app->doc) brush_stroke_end(&app->stroke, app->doc);
    selection_discard(&app->selection);
    form_clear(&app->form);
    app->form_press = app->gradient_drag = app->sym_drag = app->fill_pending = false;
    // The change counter carries on from the old document, so the new one never looks like
    // what the session file already holds.
    if (app->doc) doc->changes = std::max(doc->changes, app->doc->changes) + 1;
    document_free(&app->doc);
    app->doc = doc;
    brush_engine_flush_cache();
    view_center(&app->view, doc->width, doc->height, app->display_w, app->display_h);
    app->symmetry.center[0] = static_cast<float>(doc->width) * 0.5f;
    app->symmetry.center[1] = static_cast<float>(doc->height) * 0.5f;
    tavolix_gui_sync_layers(app);
    // A new page and a loaded file have nothing that a question before replacing would save.
    tavolix_app_mark_named(app);
}

// The end-to-end tests that act on the splash ask for it to wait longer than its usual two
// seconds, so that a slow machine cannot end it by the timer before their input arrives; any
// value that is not a positive number of seconds up to an hour keeps the usual time.
double _splash_seconds() {
    const char* text = getenv("TAVOLIX_TEST_SPLASH_SECONDS");
    if (!text) return TAVOLIX_SPLASH_SECONDS;
    char* end = nullptr;
    const double seconds = strtod(text, &end);
    if (end == text || *end != '\0' || !(seconds > 0.0 && seconds <= 3600.0)) {
        q_log(3, "TAVOLIX_TEST_SPLASH_SECONDS=\"%s\" ignored: not a number of seconds in (0, 3600]", text);
        return TAVOLIX_SPLASH_SECONDS;
    }
    q_log(6, "splash waits %.1f s for input (TAVOLIX_TEST_SPLASH_SECONDS)", seconds);
    return seconds;
}

} // namespace

void tavolix_app_update_ui_scale(TAVOLIX_APP* app) {
    q_assert(app, return);
    const int test = getenv("TAVOLIX_TEST_DENSITY") ? 1 : 0;
    app->ui_scale = tavolix_ui_scale_from_density(platform_display_density(), app->ui_size, test);
}

int tavolix_app_reload_font(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    return _app_load_font(app);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Start-up
// --------------------------------------------------------------------------------------------

int tavolix_app_init(TAVOLIX_APP* app, int argc, char** argv) {
    q_assert(app, return 0);
    memset(static_cast<void*>(app), 0, sizeof *app);
    app->gui_visible = true;
    autosave_init(&app->autosave);

    CMDLINE cmd;
    cmdline_parse(argc, argv, &cmd);
    set_log_level(cmd.verbose ? 7 : 6);

    q_log(6, "Tavolix %s starting", TAVOLIX_VERSION_TEXT);

    if (!al_install_system(ALLEGRO_VERSION_INT, atexit)) {
        q_log(0, "could not init Allegro");
        return 0;
    }
    al_set_app_name("Tavolix");
    if (!al_install_keyboard()) {
        q_log(0, "could not install keyboard");
        return 0;
    }
    if (!al_install_mouse()) {
        q_log(0, "could not install mouse");
        return 0;
    }
    if (!platform_init()) {
        q_log(0, "platform init failed");
        return 0;
    }
    // From here a logout, a shutdown or a kill quits like the user would, the drawing saved.
    platform_watch_quit_signals();
    if (!al_init_image_addon()) {
        q_log(0, "could not init image addon");
        return 0;
    }
    if (!al_init_font_addon() || !al_init_ttf_addon()) {
        q_log(0, "could not init font addons");
        return 0;
    }

    al_set_new_display_option(ALLEGRO_VSYNC, 2, ALLEGRO_SUGGEST);
    platform_apply_display_options();
    al_set_new_display_flags(platform_display_flags());
    app->display = al_create_display(TAVOLIX_WINDOW_W, TAVOLIX_WINDOW_H);
    if (!app->display) {
        q_log(0, "could not create display");
        return 0;
    }
    app->display_w = al_get_display_width(app->display);
    app->display_h = al_get_display_height(app->display);
    q_log(6, "display %dx%d", app->display_w, app->display_h);

    _app_set_window_icon(app);

    if (!al_init_primitives_addon()) {
        q_log(0, "could not init primitives addon");
        return 0;
    }

    app->splash_seconds = _splash_seconds();
    app->ui_size = 1;
    tavolix_app_update_ui_scale(app);
    if (!_app_load_font(app)) {
        q_log(0, "could not load the interface font");
        return 0;
    }

    const int limit = display_bitmap_limit(app);
    const int side = (limit >= 1 && limit < TAVOLIX_START_DOC) ? limit : TAVOLIX_START_DOC;
    // The page's layer comes after the splash's first frame (tavolix_app_finish_start): a big
    // video bitmap takes as long to make as the rest of the start, and a restored session
    // replaces the page anyway.
    app->doc = document_new(side, side);
    if (!app->doc) {
        q_log(0, "could not create document");
        return 0;
    }

    brush_defaults(&app->brush);
    app->nav_mode = false;
    app->fill_pending = false;
    app->preset = -1;
    app->tool = TOOL_BRUSH;
    app->gradient_drag = false;
    view_init(&app->view);
    view_center(&app->view, app->doc->width, app->doc->height, app->display_w, app->display_h);
    gesture_init(&app->gesture);
    grid_init(&app->grid);
    symmetry_init(&app->symmetry, app->doc);
    selection_init(&app->selection);
    form_init(&app->form);
    memset(static_cast<void*>(&app->form_preview_key), 0, sizeof app->form_preview_key);
    app->sym_move = app->sym_drag = false;
    app->pressure_from_speed = app->palm_rejection = false;
    tavolix_gui_option_defaults(&app->gui);

    palette_set_defaults(&app->palettes);
    // Palettes and settings wait for the save storage when it is not ready yet.
    if (platform_saves_ready() == 1) {
        tavolix_app_palette_load(app);
        tavolix_app_settings_load(app);
    } else {
        app->palette_load_pending = 1;
        app->settings_load_pending = 1;
    }

    // The settings may have changed the interface size.
    tavolix_app_update_ui_scale(app);
    if (!_app_load_font(app)) {
        q_log(0, "could not load the interface font");
        return 0;
    }

    if (!tavolix_gui_init(app)) {
        q_log(0, "could not create gui");
        return 0;
    }
    if (app->settings_load_pending == 0) {
        if (app->language == 0) tavolix_gui_request_language_choice(app);
        tavolix_gui_layout_restore(app);
    }
    // This window's own session file: a second window on the same save folder gets another.
    session_claim(&app->session);
    // A blank page has nothing to lose: no background write until the user changes it (or
    // the session replaces it after the first frame).
    autosave_set_clean(&app->autosave, app->doc);
    app->start_pending = true;
    app->start_file = cmd.mode == CMDLINE_RUN ? cmd.in : NULL;

    app->timer = al_create_timer(TAVOLIX_TICK);
    if (!app->timer) {
        q_log(0, "could not create timer");
        return 0;
    }
    app->queue = al_create_event_queue();
    if (!app->queue) {
        q_log(0, "could not create event queue");
        return 0;
    }
    al_register_event_source(app->queue, al_get_display_event_source(app->display));
    al_register_event_source(app->queue, al_get_keyboard_event_source());
    al_register_event_source(app->queue, al_get_mouse_event_source());
    al_register_event_source(app->queue, al_get_timer_event_source(app->timer));
    platform_register_event_sources(app->queue);
    platform_pen_start(app->display);

    app->running = true;
    app->redraw = true;
    return app_state_switch(app, APP_STATE_SPLASH);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Documents
// --------------------------------------------------------------------------------------------

int tavolix_app_new_document(TAVOLIX_APP* app, int size) {
    q_assert(app, return 0);
    if (size < TAVOLIX_DOC_MIN) size = TAVOLIX_DOC_MIN;
    if (size > TAVOLIX_DOC_MAX) size = TAVOLIX_DOC_MAX;

    const int limit = display_bitmap_limit(app);
    if (limit >= 1 && size > limit) {
        q_log(6, "canvas %d clamped to the GPU bitmap limit %d", size, limit);
        size = limit;
    }
    if (limit >= 1 && limit < TAVOLIX_DOC_MIN) {
        q_log(3, "could not allocate any canvas, keeping the current document");
        return 0;
    }

    DOCUMENT* doc = nullptr;
    while (size >= TAVOLIX_DOC_MIN) {
        doc = document_new(size, size);
        if (doc && document_add_layer(doc, "Layer 1")) break;
        document_free(&doc);
        size >>= 1;
    }
    if (!doc) {
        q_log(3, "could not allocate any canvas, keeping the current document");
        return 0;
    }
    replace_document(app, doc);
    q_log(6, "new %dx%d document", doc->width, doc->height);
    return 1;
}

void tavolix_app_track_modifiers(TAVOLIX_APP* app, const ALLEGRO_EVENT* event) {
    q_assert(app, return);
    q_assert(event, return);
    if (event->type == ALLEGRO_EVENT_DISPLAY_SWITCH_OUT ||
        event->type == ALLEGRO_EVENT_DISPLAY_SWITCH_IN) {
        app->modifiers = 0;
        return;
    }
    if (event->type != ALLEGRO_EVENT_KEY_DOWN && event->type != ALLEGRO_EVENT_KEY_UP) return;
    unsigned bit = 0;
    switch (event->keyboard.keycode) {
    case ALLEGRO_KEY_LCTRL: bit = APP_MOD_LCTRL; break;
    case ALLEGRO_KEY_RCTRL: bit = APP_MOD_RCTRL; break;
    case ALLEGRO_KEY_LSHIFT: bit = APP_MOD_LSHIFT; break;
    case ALLEGRO_KEY_RSHIFT: bit = APP_MOD_RSHIFT; break;
    case ALLEGRO_KEY_ALT: bit = APP_MOD_ALT; break;
    case ALLEGRO_KEY_ALTGR: bit = APP_MOD_ALTGR; break;
    default: return;
    }
    if (event->type == ALLEGRO_EVENT_KEY_DOWN) app->modifiers |= bit;
    else app->modifiers &= ~bit;
}

void tavolix_app_install_document(TAVOLIX_APP* app, DOCUMENT* doc) {
    q_assert(app, return);
    q_assert(doc, return);
    replace_document(app, doc);
    app->redraw = true;
}

int tavolix_app_load_document(TAVOLIX_APP* app, const char* path) {
    return tavolix_app_open_file(app, path, nullptr, nullptr);
}

int tavolix_app_picture_side(TAVOLIX_APP* app) {
    q_assert(app, return TAVOLIX_DOC_MAX);
    const int limit = display_bitmap_limit(app);
    return limit >= 1 ? std::min(limit, TAVOLIX_DOC_MAX) : TAVOLIX_DOC_MAX;
}


void tavolix_app_set_tool(TAVOLIX_APP* app, int tool) {
    q_assert(app, return);
    tavolix_app_commit_form(app);
    // An outline still being dragged belongs to the selection tools: its release must not
    // lift pixels out of the layer while another tool paints on it.
    if (tool != TOOL_SELECT && tool != TOOL_LASSO &&
        app->selection.phase == SELECTION_PHASE_OUTLINING)
        selection_discard(&app->selection);
    app->tool = tool;
    app->brush.mode = BRUSH_MODE_PAINT;
}

void tavolix_app_note_colour_used(TAVOLIX_APP* app) {
    q_assert(app, return);
    unsigned char rgba[4];
    al_unmap_rgba(app->brush.color, &rgba[0], &rgba[1], &rgba[2], &rgba[3]);
    if (recent_colours_push(&app->recent, rgba)) app->gui.gui_cache_valid = false;
}

void tavolix_app_take_colour(TAVOLIX_APP* app, const unsigned char rgb[3]) {
    q_assert(app, return);
    q_assert(rgb, return);
    const float alpha = app->brush.color.a;
    app->brush.color = al_map_rgba_f(rgb[0] / 255.0f, rgb[1] / 255.0f, rgb[2] / 255.0f, alpha);
    app->brush.mode = BRUSH_MODE_PAINT;
    app->gui.selected_swatch = 8;
    tavolix_gui_placed_float_restyle(app);
    app->redraw = true;
}

void tavolix_app_commit_float(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (!app->doc || app->selection.phase != SELECTION_PHASE_FLOATING) return;
    if (selection_commit(&app->selection, app->doc, &app->symmetry)) tavolix_gui_sync_layers(app);
    app->redraw = true;
}

void tavolix_app_commit_form(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (!form_pending(&app->form)) return;
    if (app->doc) {
        // The shape paints like any tool: a float lifted out of the layer goes back down first,
        // or the shape's step would record the hole it left.
        tavolix_app_commit_float(app);
        // The shape is replayed through the stroke record; a stroke still running there owns
        // the open undo operation and must finish first.
        if (app->stroke.active) brush_stroke_end(&app->stroke, app->doc);
        float points[FORM_FLATTEN_POINTS * 2];
        const int n = form_flatten_segments(&app->form, app->view.zoom);
        const int count = form_flatten(&app->form, n, points, FORM_FLATTEN_POINTS);
        if (count >= 2) {
            brush_stroke_begin(&app->stroke, app->doc, &app->brush, points[0], points[1], 1.0f,
                               &app->symmetry);
            // Even when the first dab failed the stroke holds an open undo operation: it is
            // always ended here so the history is never left half-open.
            if (app->stroke.active) {
                for (int i = 1; i < count; i++)
                    brush_stroke_segment(&app->stroke, app->doc, &app->brush, points[2 * i],
                                         points[2 * i + 1], 1.0f);
                brush_stroke_end(&app->stroke, app->doc);
                tavolix_gui_sync_layers(app);
                if (app->brush.mode == BRUSH_MODE_PAINT) tavolix_app_note_colour_used(app);
            }
        }
    }
    form_clear(&app->form);
    app->redraw = true;
}

void tavolix_app_cancel_form(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (!form_pending(&app->form)) return;
    form_clear(&app->form);
    app->redraw = true;
}

void tavolix_app_settle_canvas(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (!app->doc) return;
    if (app->stroke.active) brush_stroke_end(&app->stroke, app->doc);
    tavolix_app_commit_float(app);
    tavolix_app_commit_form(app);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Settings
// --------------------------------------------------------------------------------------------

namespace {

// Version 5 records; older ones are shorter and still read. A little more is read than the
// newest record holds, as earlier versions did, so a later version's file still loads.
constexpr size_t SETTINGS_SIZE = SETTINGS_V5_SIZE;
constexpr size_t SETTINGS_READ_MAX = SETTINGS_V5_SIZE + 16;

uint32_t settings_u32(const unsigned char* bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

int32_t settings_i32(const unsigned char* bytes, size_t offset) {
    return static_cast<int32_t>(settings_u32(bytes, offset));
}

int settings_clamped(const unsigned char* bytes, size_t offset, int low, int high) {
    return std::clamp(settings_i32(bytes, offset), low, high);
}

bool settings_bool(const unsigned char* bytes, size_t offset) {
    return settings_u32(bytes, offset) != 0;
}

void settings_put(unsigned char* bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; i++) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t percent(float value) { return static_cast<uint32_t>(static_cast<int>(value * 100.0f + 0.5f)); }

} // namespace

int _settings_apply(TAVOLIX_APP* app, const unsigned char* bytes, size_t count) {
    q_assert(app, return 0);
    q_assert(bytes || count == 0, return 0);
    if (count < 16 || memcmp(bytes, "SSET", 4) != 0) return 0;
    count = std::min(count, SETTINGS_READ_MAX);

    app->language = 0;
    app->pressure_from_speed = settings_bool(bytes, 8);
    app->palm_rejection = settings_bool(bytes, 12);
    if (count < 20) {
        tavolix_lang_set(0);
    } else {
        const int language = bytes[16];
        app->language = language <= 4 ? language : 0;
        tavolix_lang_set(app->language);
    }
    if (count < 120) return 1;

    app->tool = settings_clamped(bytes, 20, TOOL_BRUSH, TOOL_LINE);
    app->brush.mode = settings_bool(bytes, 24) ? BRUSH_MODE_ERASE : BRUSH_MODE_PAINT;
    const int64_t preset = static_cast<int64_t>(settings_i32(bytes, 28)) - 1;
    app->preset = (preset < -1 || preset >= brush_preset_count()) ? -1 : static_cast<int>(preset);
    app->brush.size = static_cast<float>(settings_clamped(bytes, 32, 1, 128));
    app->brush.opacity = static_cast<float>(settings_clamped(bytes, 36, 1, 100)) / 100.0f;
    app->brush.flow = static_cast<float>(settings_clamped(bytes, 40, 1, 100)) / 100.0f;
    app->brush.hardness = static_cast<float>(settings_clamped(bytes, 44, 0, 100)) / 100.0f;
    const uint32_t colour = settings_u32(bytes, 48);
    const unsigned char r = static_cast<unsigned char>(colour >> 24);
    const unsigned char g = static_cast<unsigned char>(colour >> 16);
    const unsigned char b = static_cast<unsigned char>(colour >> 8);
    const unsigned char a = static_cast<unsigned char>(colour);
    app->brush.color = al_map_rgba(r, g, b, a);
    app->brush.tip = settings_clamped(bytes, 52, 0, 6);
    app->grid.visible = settings_bool(bytes, 56);
    app->grid.snap = settings_bool(bytes, 60);
    app->grid.diagonals = settings_bool(bytes, 64);
    app->grid.size = static_cast<float>(settings_clamped(bytes, 68, 2, 256));
    app->symmetry.mode = settings_clamped(bytes, 72, 0, 4);
    app->symmetry.count = settings_clamped(bytes, 76, 2, 16);

    TAVOLIX_GUI* gui = &app->gui;
    gui->shape_filled = settings_bool(bytes, 80);
    const uint32_t folded = settings_u32(bytes, 84);
    for (int i = 0; i < 7; i++) gui->section_folded[i] = (folded >> i) & 1u;
    for (int i = 0; i < 3; i++) gui->panel_section_folded[i] = (folded >> (16 + i)) & 1u;
    gui->toolbar_collapsed = settings_bool(bytes, 88);
    gui->panel_collapsed = settings_bool(bytes, 92);
    gui->panel_width = static_cast<float>(settings_clamped(bytes, 96, 0, 4096));
    gui->export_mode = settings_bool(bytes, 100) ? 1 : 0;
    gui->export_border = settings_clamped(bytes, 104, 0, 256);
    gui->export_template = settings_bool(bytes, 108);
    gui->text_size = settings_clamped(bytes, 112, PLACED_TEXT_SIZE_MIN, PLACED_TEXT_SIZE_MAX);
    gui->text_font = settings_clamped(bytes, 116, 0, 3);
    if (count >= SETTINGS_V4_SIZE) app->ui_size = settings_clamped(bytes, 120, 0, 3);
    settings_v5_apply(app, bytes, count);
    gui->picker_rgba[0] = r;
    gui->picker_rgba[1] = g;
    gui->picker_rgba[2] = b;
    gui->picker_rgba[3] = a;
    gui->gui_initialised = true;
    gui->palette_editing = false;
    gui->selected_swatch = 8;
    return 1;
}

void _settings_build(const TAVOLIX_APP* app, unsigned char* out) {
    q_assert(app, return);
    q_assert(out, return);
    memset(out, 0, SETTINGS_SIZE);
    memcpy(out, "SSET", 4);
    settings_put(out, 4, SETTINGS_VERSION);
    settings_put(out, 8, app->pressure_from_speed ? 1 : 0);
    settings_put(out, 12, app->palm_rejection ? 1 : 0);
    settings_put(out, 16, static_cast<uint32_t>(app->language));
    // The eyedropper is a passing tool: the next start begins with the brush.
    settings_put(out, 20, static_cast<uint32_t>(app->tool == TOOL_EYEDROPPER ? TOOL_BRUSH : app->tool));
    settings_put(out, 24, app->brush.mode == BRUSH_MODE_ERASE ? 1 : 0);
    settings_put(out, 28, static_cast<uint32_t>(app->preset + 1));
    settings_put(out, 32, static_cast<uint32_t>(static_cast<int>(app->brush.size)));
    settings_put(out, 36, percent(app->brush.opacity));
    settings_put(out, 40, percent(app->brush.flow));
    settings_put(out, 44, percent(app->brush.hardness));
    unsigned char r, g, b, a;
    al_unmap_rgba(app->brush.color, &r, &g, &b, &a);
    settings_put(out, 48, static_cast<uint32_t>(r) << 24 | static_cast<uint32_t>(g) << 16 |
                              static_cast<uint32_t>(b) << 8 | a);
    settings_put(out, 52, static_cast<uint32_t>(app->brush.tip));
    settings_put(out, 56, app->grid.visible ? 1 : 0);
    settings_put(out, 60, app->grid.snap ? 1 : 0);
    settings_put(out, 64, app->grid.diagonals ? 1 : 0);
    settings_put(out, 68, static_cast<uint32_t>(static_cast<int>(app->grid.size)));
    settings_put(out, 72, static_cast<uint32_t>(app->symmetry.mode));
    settings_put(out, 76, static_cast<uint32_t>(app->symmetry.count));
    const TAVOLIX_GUI* gui = &app->gui;
    settings_put(out, 80, gui->shape_filled ? 1 : 0);
    uint32_t folded = 0;
    for (int i = 0; i < 7; i++) folded |= gui->section_folded[i] ? 1u << i : 0u;
    for (int i = 0; i < 3; i++) folded |= gui->panel_section_folded[i] ? 1u << (16 + i) : 0u;
    settings_put(out, 84, folded);
    settings_put(out, 88, gui->toolbar_collapsed ? 1 : 0);
    settings_put(out, 92, gui->panel_collapsed ? 1 : 0);
    settings_put(out, 96, static_cast<uint32_t>(static_cast<int>(gui->panel_width)));
    settings_put(out, 100, gui->export_mode == 1 ? 1 : 0);
    settings_put(out, 104, static_cast<uint32_t>(gui->export_border));
    settings_put(out, 108, gui->export_template ? 1 : 0);
    settings_put(out, 112, static_cast<uint32_t>(gui->text_size));
    settings_put(out, 116, static_cast<uint32_t>(gui->text_font));
    settings_put(out, 120, static_cast<uint32_t>(app->ui_size));
    settings_v5_build(app, out);
}

int tavolix_app_settings_load(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    char path[PLATFORM_PATH_MAX];
    if (!platform_save_path("settings.dat", path, sizeof path)) return 0;
    std::string text;
    if (platform_read_file(path, SETTINGS_READ_MAX, &text) != 1) {
        q_log(6, "settings load: no file at %s (defaults)", path);
        return 0;
    }
    unsigned char bytes[SETTINGS_READ_MAX] = {};
    const size_t count = text.size();
    memcpy(bytes, text.data(), count);
    const int ok = _settings_apply(app, bytes, count);
    q_log(6, "settings load: %zu bytes, pressure %d, palm %d, language %d", count,
          app->pressure_from_speed ? 1 : 0, app->palm_rejection ? 1 : 0, app->language);
    return ok;
}

int _app_keep_aside(const char* path, const char* what, const char* why, bool copy, char* kept,
                    size_t size) {
    q_assert(path && what && why && kept, return 0);
    if (!platform_keep_aside(path, copy ? 1 : 0, kept, size)) {
        q_log(3, "%s: %s %s and could not be %s aside", what, path, why, copy ? "copied" : "moved");
        return 0;
    }
    platform_save_sync();
    q_log(3, "%s: %s %s, %s %s", what, path, why, copy ? "a copy kept as" : "kept as", kept);
    return 1;
}

void tavolix_app_settings_persist(TAVOLIX_APP* app) {
    q_assert(app, return);
    char path[PLATFORM_PATH_MAX];
    if (platform_saves_ready() != 1 || !platform_save_path("settings.dat", path, sizeof path))
        return;
    unsigned char bytes[SETTINGS_SIZE];
    _settings_build(app, bytes);
    if (platform_write_file(path, bytes, sizeof bytes, NULL))
        q_log(6, "settings save: v3 session state (%zu bytes) -> %s", SETTINGS_SIZE, path);
    else
        q_log(3, "settings save: could not open %s for write", path);
    platform_save_sync();
    app->settings_load_pending = 0;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Palettes
// --------------------------------------------------------------------------------------------

int tavolix_app_palette_load(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    char path[PLATFORM_PATH_MAX];
    if (!platform_save_path("palette.dat", path, sizeof path)) return 0;
    palette_set_defaults(&app->palettes);
    std::string bytes;
    if (platform_read_file(path, 4096, &bytes) != 1) {
        q_log(6, "palette load: no file at %s (factory defaults)", path);
        return 0;
    }
    const size_t count = bytes.size();
    uint32_t dropped = 0;
    const int result = palette_deserialize(
        &app->palettes, reinterpret_cast<const unsigned char*>(bytes.data()), count, &dropped);
    q_log(6, "palette load: %zu bytes, %d user palette(s), active %d", count,
          static_cast<int>(app->palettes.user_count), app->palettes.active);
    // The next save would replace it with the factory set, or with only the palettes that
    // could be read: either way the original goes aside first.
    char kept[PLATFORM_PATH_MAX + 16];
    if (!result) _app_keep_aside(path, "palette load", "refused", false, kept, sizeof kept);
    else if (dropped > 0) _app_keep_aside(path, "palette load", "was damaged", true, kept, sizeof kept);
    return result;
}

void tavolix_app_palette_persist(TAVOLIX_APP* app) {
    q_assert(app, return);
    char path[PLATFORM_PATH_MAX];
    if (platform_saves_ready() != 1 || !platform_save_path("palette.dat", path, sizeof path))
        return;
    Q_STR* record = palette_serialize(&app->palettes);
    if (!record) return;
    if (platform_write_file(path, record->data, record->used, NULL))
        q_log(6, "palette save: %zu bytes, %d user palette(s) -> %s", record->used,
              static_cast<int>(app->palettes.user_count), path);
    else
        q_log(3, "palette save: could not open %s for write", path);
    free_qstr(&record);
    platform_save_sync();
    app->palette_load_pending = 0;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Clipboard and imports
// --------------------------------------------------------------------------------------------

int tavolix_app_clipboard_copy(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    if (app->selection.phase != SELECTION_PHASE_FLOATING) return 0;
    ALLEGRO_BITMAP* copy = selection_clone_float(&app->selection);
    if (!copy) return 0;
    if (app->clipboard) al_destroy_bitmap(app->clipboard);
    app->clipboard = copy;
    app->clipboard_x = app->selection.rect.x + static_cast<int>(std::lround(app->selection.offset[0]));
    app->clipboard_y = app->selection.rect.y + static_cast<int>(std::lround(app->selection.offset[1]));
    app->redraw = true;
    return 1;
}

int tavolix_app_clipboard_cut(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    if (!tavolix_app_clipboard_copy(app)) return 0;
    selection_delete(&app->selection, app->doc);
    tavolix_gui_sync_layers(app);
    app->redraw = true;
    return 1;
}

int tavolix_app_clipboard_paste(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    if (!app->clipboard || !app->doc) return 0;
    tavolix_app_commit_float(app);
    const int result = selection_paste(&app->selection, app->doc, app->clipboard,
                                       app->clipboard_x + 16, app->clipboard_y + 16);
    if (result == 1) {
        app->tool = TOOL_SELECT;
        app->clipboard_x = app->selection.rect.x;
        app->clipboard_y = app->selection.rect.y;
    }
    tavolix_gui_sync_layers(app);
    tavolix_gui_sync(app);
    app->redraw = true;
    return result;
}

void _app_drain_import(TAVOLIX_APP* app) {
    q_assert(app, return);
    char path[PLATFORM_PATH_MAX];
    if (platform_poll_import(path, sizeof path) != 1) return;
    if (tavolix_app_load_document(app, path))
        tavolix_gui_notify(app, tavolix_tr("Loaded from disk."));
    else
        tavolix_gui_notify(app, tavolix_tr("Could not load that file."));
    app->redraw = true;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Periodic duties, halt and resume
// --------------------------------------------------------------------------------------------

namespace {

void adopt_display_size(TAVOLIX_APP* app) {
    if (!app->display || app->halted) return;
    const int w = al_get_display_width(app->display);
    const int h = al_get_display_height(app->display);
    if (w <= 0 || h <= 0 || (w == app->display_w && h == app->display_h)) return;
    const int old_w = app->display_w, old_h = app->display_h;
    app->display_w = w;
    app->display_h = h;
    q_log(6, "display size %dx%d -> %dx%d adopted without a resize event", old_w, old_h, w, h);
    view_recenter(&app->view, old_w, old_h, w, h);
    tavolix_gui_rebuild(app);
    app->redraw = true;
}

void on_timer(TAVOLIX_APP* app) {
    if (app->state && app->state->update) app->state->update(app, TAVOLIX_TICK);
    adopt_display_size(app);
    _app_drain_import(app);
    if (app->palette_load_pending && platform_saves_ready() == 1) {
        app->palette_load_pending = 0;
        tavolix_app_palette_load(app);
        tavolix_gui_palette_changed(app);
        app->redraw = true;
    }
    if (app->settings_load_pending && platform_saves_ready() == 1) {
        app->settings_load_pending = 0;
        tavolix_app_settings_load(app);
        tavolix_gui_sync(app);
        tavolix_app_update_ui_scale(app);
        _app_load_font(app);
        app->gui.rebuild_pending = true;
        if (app->language == 0) tavolix_gui_request_language_choice(app);
        tavolix_gui_layout_restore(app);
        app->redraw = true;
    }
    tavolix_gui_tick(app);
    _app_autosave_duty(app);
}

void on_resize(TAVOLIX_APP* app) {
    q_assert(app->display, return);
    const int old_w = app->display_w, old_h = app->display_h;
    al_acknowledge_resize(app->display);
    app->display_w = al_get_display_width(app->display);
    app->display_h = al_get_display_height(app->display);
    if (app->display_w != old_w || app->display_h != old_h) {
        view_recenter(&app->view, old_w, old_h, app->display_w, app->display_h);
        tavolix_gui_rebuild(app);
    }
    app->redraw = true;
}

void _app_on_halt(TAVOLIX_APP* app) {
    q_log(6, "drawing halted");
    app->halted = true;
    tavolix_app_settings_persist(app);
    // Whatever is in progress becomes part of the document before anything is saved.
    tavolix_app_settle_canvas(app);
    tavolix_app_session_persist(app);
    platform_on_halt();
    if (app->timer) al_stop_timer(app->timer);
    if (app->display) al_acknowledge_drawing_halt(app->display);
}

} // namespace

void _app_on_resume(TAVOLIX_APP* app) {
    q_assert(app, return);
    q_log(6, "drawing resumed");
    app->halted = false;
    if (app->display) al_acknowledge_drawing_resume(app->display);
    ALLEGRO_EVENT queued;
    while (app->queue && al_get_next_event(app->queue, &queued)) {
        if (queued.type == ALLEGRO_EVENT_DISPLAY_RESIZE && app->display)
            al_acknowledge_resize(app->display);
    }
    if (app->display) {
        al_set_target_backbuffer(app->display);
        app->display_w = al_get_display_width(app->display);
        app->display_h = al_get_display_height(app->display);
    }
    platform_on_resume(app->queue);
    tavolix_app_update_ui_scale(app);
    _app_load_font(app);
    if (app->doc) document_restore_all(app->doc);
    brush_engine_flush_cache();
    tavolix_gui_rebuild(app);
    // A stroke begun while drawing was halted lost its buffer with the flush: ending it would
    // record a step of unchanged tiles and wipe the redo history, so it is dropped instead.
    if (app->stroke.active && app->doc) brush_stroke_abort(&app->stroke, app->doc);
    app->picking = app->stab.active = app->pen.stroke = false;
    if (app->mode_after_stroke >= 0) app->brush.mode = app->mode_after_stroke;
    app->mode_after_stroke = -1;
    selection_discard(&app->selection);
    form_clear(&app->form);
    app->sym_drag = app->gradient_drag = app->form_press = false;
    app->panning = app->fill_pending = false;
    app->redraw = true;
    if (app->timer) al_resume_timer(app->timer);
    _app_drain_import(app);
}

namespace {

// Escape takes back one thing at a time: a pending shape, then a floating selection; with
// nothing left to cancel it ends the program.
// Drops a pending shape, else a floating selection; 0 when there was nothing to cancel.
int cancel_one(TAVOLIX_APP* app) {
    if (form_pending(&app->form)) form_clear(&app->form);
    else if (app->selection.phase == SELECTION_PHASE_FLOATING) selection_cancel(&app->selection);
    else return 0;
    app->redraw = true;
    return 1;
}

void on_escape(TAVOLIX_APP* app) {
    if (!cancel_one(app) && platform_display_close_quits()) tavolix_app_request_quit(app);
}

void on_back(TAVOLIX_APP* app) {
    if (tavolix_gui_close_top_popup(app)) return;
    if (!cancel_one(app)) tavolix_gui_request_quit(app);
}

bool canvas_interaction(const TAVOLIX_APP* app) {
    return app->stroke.active || app->gradient_drag || app->form_press || app->sym_drag ||
           app->selection.tracking || app->fill_pending || app->picking;
}

// A quit asked by a signal: nobody can be asked anything, the session is written and the
// program ends.
void on_quit_signal(TAVOLIX_APP* app, int number) {
    q_log(6, "quit requested by signal %d (%s)", number, strsignal(number));
    app->quit_by_signal = true;
    app->running = false;
}

bool is_mouse(const ALLEGRO_EVENT& event) {
    switch (event.type) {
    case ALLEGRO_EVENT_MOUSE_AXES:
    case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
    case ALLEGRO_EVENT_MOUSE_BUTTON_UP:
    case ALLEGRO_EVENT_MOUSE_WARPED:
    case ALLEGRO_EVENT_MOUSE_ENTER_DISPLAY:
    case ALLEGRO_EVENT_MOUSE_LEAVE_DISPLAY: return true;
    default: return false;
    }
}

} // namespace

// The session file follows the document shortly after the user stops: never in the middle of
// a stroke, a drag or a gesture. A floating selection, paste, placed shape or text does not
// hold it off: the file gets the committed pixels, which the float has not touched yet.
bool tavolix_app_autosave_busy(const TAVOLIX_APP* app) {
    q_assert(app, return false);
    return canvas_interaction(app) || app->panning || gesture_blocks_strokes(&app->gesture) == 1;
}

bool tavolix_app_is_activity(const ALLEGRO_EVENT* event) {
    q_assert(event, return false);
    switch (event->type) {
    case ALLEGRO_EVENT_KEY_DOWN:
    case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
    case ALLEGRO_EVENT_TOUCH_BEGIN: return true;
    case ALLEGRO_EVENT_MOUSE_AXES: return event->mouse.dz != 0 || event->mouse.dw != 0;
    default: return false;
    }
}

// --------------------------------------------------------------------------------------------
// [SECTION] Main loop
// --------------------------------------------------------------------------------------------

int tavolix_app_gui_first(TAVOLIX_APP* app, const ALLEGRO_EVENT* event, bool* consumed) {
    q_assert(app && event && consumed, return 0);
    *consumed = tavolix_gui_handle_event(app, event) != 0;
    // Canvas-first while an interaction runs; otherwise the GUI may keep the event (and asks
    // for the frame it needs itself).
    return *consumed && !canvas_interaction(app) ? 1 : 0;
}

// Loading a drawing of many big layers takes seconds, which the splash covers.
void tavolix_app_finish_start(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (!app->start_pending) return;
    app->start_pending = false;
    if (tavolix_app_session_restore(app) == 1) {
        q_log(6, "previous session document restored");
    } else {
        if (document_layer_count(app->doc) == 0 && !document_add_layer(app->doc, "Layer 1")) {
            q_log(0, "could not create initial layer");
            app->running = false;
            return;
        }
        tavolix_gui_sync_layers(app);
        autosave_set_clean(&app->autosave, app->doc);
    }
    _app_session_greet(app);
    if (app->start_file) tavolix_app_open_at_start(app, app->start_file);
    app->redraw = true;
}

int tavolix_app_run(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    q_assert(app->queue, return 0);
    q_assert(app->state, return 0);
    if (app->timer) al_start_timer(app->timer);

    // With DEBUG logging each frame logs a line with its number and where the latest mouse
    // event put the pointer, once the window system shows it: what a test (or a person reading
    // the log) waits on to know that the screen shows everything up to a given point.
    unsigned long frames = 0;
    int pointer_x = -1, pointer_y = -1;
    while (app->running) {
        ALLEGRO_EVENT event;
        const bool got = platform_wait_event(app->queue, &event) == 1;
        if (const int number = platform_quit_signal(); number && !app->quit_by_signal) {
            on_quit_signal(app, number);
            break;
        }
        if (!got) continue;
        if (is_mouse(event)) {
            pointer_x = event.mouse.x;
            pointer_y = event.mouse.y;
        }
        tavolix_app_track_modifiers(app, &event);
        if (tavolix_app_is_activity(&event)) autosave_note_input(&app->autosave, al_get_time());

        const bool in_canvas = app->state_id == APP_STATE_CANVAS;
        bool consumed = false;
        const bool to_state = !in_canvas || !tavolix_app_gui_first(app, &event, &consumed);
        auto forward = [&] {
            if (to_state && app->state && app->state->handle_event)
                app->state->handle_event(app, &event);
        };

        switch (event.type) {
        case ALLEGRO_EVENT_KEY_DOWN:
            if (in_canvas) {
                if (event.keyboard.keycode == ALLEGRO_KEY_BACK) {
                    on_back(app);
                } else if (event.keyboard.keycode == ALLEGRO_KEY_ESCAPE) {
                    // Escape undoes one thing at a time, the innermost first: an open list of
                    // the GUI (which took the key), the top popup, then the canvas.
                    if (!consumed && !tavolix_gui_close_top_popup(app)) on_escape(app);
                } else if (tavolix_gui_wants_keyboard(app)) {
                    // A text field keeps every key, Tab included: hiding the panels under the
                    // user's typing would send the next keys to the canvas as shortcuts.
                } else {
                    forward();
                }
            } else if (event.keyboard.keycode == ALLEGRO_KEY_ESCAPE) {
                if (platform_display_close_quits()) tavolix_app_request_quit(app);
            } else {
                forward();
            }
            break;
        case ALLEGRO_EVENT_TIMER: on_timer(app); break;
        case ALLEGRO_EVENT_DISPLAY_RESIZE: on_resize(app); break;
        case ALLEGRO_EVENT_DISPLAY_CLOSE:
            if (platform_display_close_quits()) tavolix_app_request_quit(app);
            break;
        case ALLEGRO_EVENT_DISPLAY_SWITCH_IN:
        case ALLEGRO_EVENT_DISPLAY_SWITCH_OUT:
            q_log(7, "display switch event %d", static_cast<int>(event.type));
            break;
        case ALLEGRO_EVENT_DISPLAY_HALT_DRAWING: _app_on_halt(app); break;
        case ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING: _app_on_resume(app); break;
        default: forward(); break;
        }
        // A stroke, fill, undo or redo refused for want of memory left the drawing as it was;
        // the log has the details, the user gets a word.
        if (app->doc && undo_take_refusal(app->doc)) {
            tavolix_gui_notify_tr(app, "Not enough memory: the change was not made.");
            app->redraw = true;
        }

        if (app->redraw && !app->halted && al_is_event_queue_empty(app->queue) &&
            al_get_time() - app->last_flip >= 0.0) {
            app->redraw = false;
            al_clear_to_color(al_map_rgb(40, 42, 46));
            if (app->state && app->state->draw) app->state->draw(app);
            if (app->state_id == APP_STATE_CANVAS) tavolix_gui_draw(app);
            al_flip_display();
            app->last_flip = al_get_time();
            frames++;
            if (get_log_level() >= 7) {
                platform_display_sync();
                q_log(7, "frame %lu drawn, pointer at %d,%d", frames, pointer_x, pointer_y);
            }
        }
        if (app->start_pending && (frames > 0 || app->halted)) tavolix_app_finish_start(app);
    }
    // Quit before the first frame: the session is read all the same, or the exit would write
    // the blank page over it.
    if (app->start_pending) tavolix_app_finish_start(app);

    // A stroke, a floating selection or a pending shape is part of the picture the user sees:
    // it goes into the document before the session is written.
    tavolix_app_settle_canvas(app);
    tavolix_app_settings_persist(app);
    tavolix_gui_layout_persist(app);
    // The drawing not on disk at the end is a failed run, whoever asked to quit.
    app->exit_write_failed = tavolix_app_session_persist(app) < 0;
    if (app->exit_write_failed) q_log(3, "exit write failed: the drawing is not on disk");
    tavolix_app_log_memory(app, "at exit");
    q_log(6, "main loop done");
    return app->exit_write_failed ? 0 : 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Shut-down
// --------------------------------------------------------------------------------------------

void tavolix_app_shutdown(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (app->state && app->state->leave) {
        app->state->leave(app);
        app->state = nullptr;
    }
    if (app->clipboard) {
        al_destroy_bitmap(app->clipboard);
        app->clipboard = nullptr;
    }
    selection_discard(&app->selection);
    autosave_shutdown(&app->autosave);
    session_release(&app->session);
    platform_pen_stop();
    tavolix_gui_shutdown(app);
    brush_engine_shutdown();
    if (app->doc) document_free(&app->doc);
    if (app->queue) {
        al_destroy_event_queue(app->queue);
        app->queue = nullptr;
    }
    if (app->timer) {
        al_destroy_timer(app->timer);
        app->timer = nullptr;
    }
    if (app->font) {
        al_destroy_font(app->font);
        app->font = nullptr;
    }
    if (app->display) {
        al_destroy_display(app->display);
        app->display = nullptr;
    }
    q_log(6, "Tavolix shut down");
}

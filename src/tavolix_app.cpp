// ============================================================================================
// Application shell
//   [SECTION] Fonts, icon and UI scale
//   [SECTION] Start-up
//   [SECTION] Documents
//   [SECTION] Periodic duties, halt and resume
//   [SECTION] Main loop
//   [SECTION] Shut-down
// ============================================================================================
#include "tavolix_app.h"

#include <allegro5/allegro_image.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app_state.h"
#include "platform/platform.h"
#include "q/q_common.h"
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
    document_free(&app->doc);
    app->doc = doc;
    brush_engine_flush_cache();
    view_center(&app->view, doc->width, doc->height, app->display_w, app->display_h);
    app->symmetry.center[0] = static_cast<float>(doc->width) * 0.5f;
    app->symmetry.center[1] = static_cast<float>(doc->height) * 0.5f;
    tavolix_gui_sync_layers(app);
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

    set_log_level(6);
    for (int i = 1; i < argc; i++)
        if (argv && argv[i] && strcmp(argv[i], "-v") == 0) set_log_level(7);

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

    app->ui_size = 1;
    tavolix_app_update_ui_scale(app);
    if (!_app_load_font(app)) {
        q_log(0, "could not load the interface font");
        return 0;
    }

    const int limit = display_bitmap_limit(app);
    const int side = (limit >= 1 && limit < TAVOLIX_START_DOC) ? limit : TAVOLIX_START_DOC;
    app->doc = document_new(side, side);
    if (!app->doc) {
        q_log(0, "could not create document");
        return 0;
    }
    if (!document_add_layer(app->doc, "Layer 1")) {
        q_log(0, "could not create initial layer");
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

    // The settings may change the UI size; until they exist the scale is recomputed anyway so
    // the order of start-up stays the same when they arrive.
    tavolix_app_update_ui_scale(app);
    if (!_app_load_font(app)) {
        q_log(0, "could not load the interface font");
        return 0;
    }

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

int tavolix_app_load_document(TAVOLIX_APP* app, const char* path) {
    q_assert(app, return 0);
    q_assert(path, return 0);
    DOCUMENT* doc = document_load(path);
    if (!doc) return 0; // the reader has logged why; the current drawing stays
    replace_document(app, doc);
    app->redraw = true;
    q_log(6, "loaded document %s", path);
    return 1;
}

void tavolix_app_set_tool(TAVOLIX_APP* app, int tool) {
    q_assert(app, return);
    tavolix_app_commit_form(app);
    app->tool = tool;
    app->brush.mode = BRUSH_MODE_PAINT;
}

void tavolix_app_commit_form(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (!form_pending(&app->form)) return;
    if (app->doc) {
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
    if (app->selection.phase == SELECTION_PHASE_FLOATING)
        selection_commit(&app->selection, app->doc, &app->symmetry);
    tavolix_app_commit_form(app);
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
    // Tooltips: with no toolkit there is never one pending.
    const int tooltip = 0;
    if (tooltip == 1 || tooltip != app->gui.tooltip_last) {
        app->gui.gui_cache_valid = false;
        app->redraw = true;
    }
    app->gui.tooltip_last = tooltip;
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
    // Whatever is in progress becomes part of the document before anything is saved.
    tavolix_app_settle_canvas(app);
    if (app->timer) al_stop_timer(app->timer);
    if (app->display) al_acknowledge_drawing_halt(app->display);
}

void _app_on_resume(TAVOLIX_APP* app) {
    q_log(6, "drawing resumed");
    app->halted = false;
    if (app->display) al_acknowledge_drawing_resume(app->display);
    ALLEGRO_EVENT queued;
    while (al_get_next_event(app->queue, &queued)) {
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
    // A stroke cannot survive the display loss; ending it closes its undo operation.
    if (app->stroke.active && app->doc) brush_stroke_end(&app->stroke, app->doc);
    selection_discard(&app->selection);
    form_clear(&app->form);
    app->sym_drag = app->gradient_drag = app->form_press = false;
    app->panning = app->fill_pending = false;
    app->redraw = true;
    if (app->timer) al_resume_timer(app->timer);
}

// Escape takes back one thing at a time: a pending shape, then a floating selection; with
// nothing left to cancel it ends the program.
void on_escape(TAVOLIX_APP* app) {
    if (form_pending(&app->form)) {
        form_clear(&app->form);
        app->redraw = true;
    } else if (app->selection.phase == SELECTION_PHASE_FLOATING) {
        selection_cancel(&app->selection);
        app->redraw = true;
    } else if (platform_display_close_quits()) {
        app->running = false;
    }
}

void on_back(TAVOLIX_APP* app) {
    if (tavolix_gui_close_top_popup(app)) return;
    if (form_pending(&app->form)) {
        form_clear(&app->form);
        app->redraw = true;
    } else if (app->selection.phase == SELECTION_PHASE_FLOATING) {
        selection_cancel(&app->selection);
        app->redraw = true;
    } else {
        tavolix_gui_request_quit(app);
    }
}

bool canvas_interaction(const TAVOLIX_APP* app) {
    return app->stroke.active || app->gradient_drag || app->form_press || app->sym_drag ||
           app->selection.tracking || app->fill_pending;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Main loop
// --------------------------------------------------------------------------------------------

int tavolix_app_run(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    q_assert(app->queue, return 0);
    q_assert(app->state, return 0);
    if (app->timer) al_start_timer(app->timer);

    while (app->running) {
        ALLEGRO_EVENT event;
        if (!platform_wait_event(app->queue, &event)) continue;

        const bool in_canvas = app->state_id == APP_STATE_CANVAS;
        const int consumed = in_canvas ? tavolix_gui_handle_event(app, &event) : 0;
        // Canvas-first while an interaction runs; otherwise the GUI may keep the event.
        bool to_state = true;
        if (in_canvas && !canvas_interaction(app) && consumed) {
            app->redraw = true;
            app->gui.gui_cache_valid = false;
            to_state = false;
        }
        auto forward = [&] {
            if (to_state && app->state && app->state->handle_event)
                app->state->handle_event(app, &event);
        };

        switch (event.type) {
        case ALLEGRO_EVENT_KEY_DOWN:
            if (in_canvas) {
                if (event.keyboard.keycode == ALLEGRO_KEY_BACK) {
                    on_back(app);
                } else if (tavolix_gui_wants_keyboard(app)) {
                    if (event.keyboard.keycode == ALLEGRO_KEY_ESCAPE)
                        tavolix_gui_close_top_popup(app);
                } else if (event.keyboard.keycode == ALLEGRO_KEY_ESCAPE) {
                    on_escape(app);
                } else {
                    forward();
                }
            } else if (event.keyboard.keycode == ALLEGRO_KEY_ESCAPE) {
                if (platform_display_close_quits()) app->running = false;
            } else {
                forward();
            }
            break;
        case ALLEGRO_EVENT_TIMER: on_timer(app); break;
        case ALLEGRO_EVENT_DISPLAY_RESIZE: on_resize(app); break;
        case ALLEGRO_EVENT_DISPLAY_CLOSE:
            if (platform_display_close_quits()) app->running = false;
            break;
        case ALLEGRO_EVENT_DISPLAY_SWITCH_IN:
        case ALLEGRO_EVENT_DISPLAY_SWITCH_OUT:
            q_log(7, "display switch event %d", static_cast<int>(event.type));
            break;
        case ALLEGRO_EVENT_DISPLAY_HALT_DRAWING: _app_on_halt(app); break;
        case ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING: _app_on_resume(app); break;
        default: forward(); break;
        }

        if (in_canvas && tavolix_gui_wants_pointer(app)) app->gui.gui_cache_valid = false;

        if (app->redraw && !app->halted && al_is_event_queue_empty(app->queue) &&
            al_get_time() - app->last_flip >= 0.0) {
            app->redraw = false;
            al_clear_to_color(al_map_rgb(40, 42, 46));
            if (app->state && app->state->draw) app->state->draw(app);
            if (app->state_id == APP_STATE_CANVAS) tavolix_gui_draw(app);
            al_flip_display();
            app->last_flip = al_get_time();
        }
    }

    tavolix_gui_layout_persist(app);
    q_log(6, "main loop done");
    return 1;
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

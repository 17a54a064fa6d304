// ============================================================================================
// Application states
//   [SECTION] Splash state
//   [SECTION] Canvas state: helpers, enter and leave, keys, touch, pointer, drawing
//   [SECTION] State table and switching
// ============================================================================================
#include "app_state.h"

#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "canvas/compositor.h"
#include "canvas/eyedropper.h"
#include "canvas/fill.h"
#include "canvas/undo.h"
#include "platform/platform.h"
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
    if (event->type == ALLEGRO_EVENT_KEY_DOWN || event->type == ALLEGRO_EVENT_MOUSE_BUTTON_DOWN) {
        q_log(7, "splash left by a %s after %.2f s of ticks",
              event->type == ALLEGRO_EVENT_KEY_DOWN ? "key" : "mouse button", app->splash_time);
        app_state_switch(app, APP_STATE_CANVAS);
    }
}

void _splash_update(TAVOLIX_APP* app, double seconds) {
    app->splash_time += seconds;
    if (app->splash_time < app->splash_seconds) return;
    q_log(7, "splash left by a timer after %.2f s of ticks", app->splash_time);
    app_state_switch(app, APP_STATE_CANVAS);
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
// [SECTION] Canvas state: helpers
// --------------------------------------------------------------------------------------------

struct Point {
    float x, y;
};

Point canvas_point(const TAVOLIX_APP* app, float sx, float sy) {
    Point p{0.0f, 0.0f};
    view_screen_to_canvas(&app->view, sx, sy, &p.x, &p.y);
    return p;
}

Point screen_point(const TAVOLIX_APP* app, float cx, float cy) {
    Point p{0.0f, 0.0f};
    view_canvas_to_screen(&app->view, cx, cy, &p.x, &p.y);
    return p;
}

void snap(const TAVOLIX_APP* app, Point* p) { grid_snap_view(&app->grid, p->x, p->y, &p->x, &p->y); }

bool is_shape_tool(int tool) { return tool == TOOL_LINE || tool == TOOL_BEZIER; }

struct Modifiers {
    bool ctrl, shift;
};

// Ctrl and Shift as they were when the event being handled was sent: the main loop follows
// the modifier keys' own down and up events in queue order. The live keyboard state would be
// wrong whenever the program lags behind the user: a quick Ctrl+E tap handled after Ctrl was
// released would turn into a plain E.
Modifiers read_modifiers(const TAVOLIX_APP* app) {
    return Modifiers{(app->modifiers & (APP_MOD_LCTRL | APP_MOD_RCTRL)) != 0,
                     (app->modifiers & (APP_MOD_LSHIFT | APP_MOD_RSHIFT)) != 0};
}

// Alt or Ctrl held turns a press on the canvas into a colour pick. Both, since many desktops
// keep Alt with a drag for moving windows.
bool pick_modifier(const TAVOLIX_APP* app) {
    return (app->modifiers & (APP_MOD_LCTRL | APP_MOD_RCTRL | APP_MOD_ALT | APP_MOD_ALTGR)) != 0;
}

ALLEGRO_COLOR premultiplied(ALLEGRO_COLOR c, float alpha) {
    return al_map_rgba_f(c.r * alpha, c.g * alpha, c.b * alpha, alpha);
}

float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

// --------------------------------------------------------------------------------------------
// [SECTION] Canvas state: enter, leave
// --------------------------------------------------------------------------------------------

void _canvas_enter(TAVOLIX_APP* app) {
    q_assert(app->doc, return);
    view_center(&app->view, app->doc->width, app->doc->height, app->display_w, app->display_h);
    q_log(6, "canvas ready, %dx%d document on %dx%d display", app->doc->width, app->doc->height,
          app->display_w, app->display_h);
}

void stroke_finished(TAVOLIX_APP* app);

void _canvas_leave(TAVOLIX_APP* app) {
    if (app->doc && app->stroke.active) brush_stroke_end(&app->stroke, app->doc);
    stroke_finished(app);
    app->picking = false;
    tavolix_app_commit_form(app);
    app->form_press = false;
    app->gradient_drag = false;
    app->sym_drag = false;
    tavolix_app_commit_float(app);
}

void _canvas_update(TAVOLIX_APP*, double) {}

// --------------------------------------------------------------------------------------------
// [SECTION] Canvas state: keys
// --------------------------------------------------------------------------------------------

// Ctrl+E and Ctrl+O work on the quick-save files in the save folder.
void quick_export(TAVOLIX_APP* app) {
    char path[PLATFORM_PATH_MAX];
    if (!platform_save_path("sketch.png", path, sizeof path)) return;
    document_export_png(app->doc, path);
    platform_save_sync();
}


void canvas_key_down(TAVOLIX_APP* app, int key) {
    const Modifiers mod = read_modifiers(app);
    const bool stroke = app->stroke.active;

    if (mod.ctrl && !stroke) {
        if (key == ALLEGRO_KEY_S) {
            tavolix_app_commit_float(app);
            tavolix_app_commit_form(app);
            tavolix_gui_request_save(app);
            app->redraw = true;
            return;
        }
        if (key == ALLEGRO_KEY_I) {
            tavolix_gui_request_import(app);
            app->redraw = true;
            return;
        }
        if (key == ALLEGRO_KEY_O || key == ALLEGRO_KEY_E) {
            tavolix_app_commit_float(app);
            tavolix_app_commit_form(app);
            if (platform_saves_ready() == 1) {
                if (key == ALLEGRO_KEY_E) quick_export(app);
                // Asks first when the drawing would be lost.
                else if (tavolix_gui_confirm_replace(app, GUI_PENDING_QUICK_OPEN, 0, nullptr))
                    tavolix_app_quick_open(app);
            }
            app->redraw = true;
            return;
        }
    }
    if (mod.ctrl) {
        if (key == ALLEGRO_KEY_Z || key == ALLEGRO_KEY_Y) {
            tavolix_app_commit_float(app);
            tavolix_app_commit_form(app);
            const bool redo = key == ALLEGRO_KEY_Y || mod.shift;
            if ((redo ? redo_perform(app->doc) : undo_perform(app->doc)) == 1) {
                tavolix_gui_sync_layers(app);
                app->redraw = true;
            }
            return;
        }
        // While a stroke owns the layer's open undo operation the clipboard keys do nothing: a
        // paste would commit a float inside the stroke's step and the rest of the stroke would
        // never reach the saved pixels.
        if (key == ALLEGRO_KEY_V || key == ALLEGRO_KEY_C || key == ALLEGRO_KEY_X) {
            if (stroke) return;
            if (key == ALLEGRO_KEY_V) tavolix_app_clipboard_paste(app);
            else if (key == ALLEGRO_KEY_C) tavolix_app_clipboard_copy(app);
            else tavolix_app_clipboard_cut(app);
            return;
        }
    }
    if (key == ALLEGRO_KEY_ENTER || key == ALLEGRO_KEY_PAD_ENTER) {
        if (stroke) return;
        if (form_pending(&app->form)) {
            tavolix_app_commit_form(app);
            return;
        }
        if (app->selection.phase == SELECTION_PHASE_FLOATING) {
            tavolix_app_commit_float(app);
            return;
        }
    }
    if ((key == ALLEGRO_KEY_B || key == ALLEGRO_KEY_E) && !stroke) tavolix_app_commit_float(app);

    switch (key) {
    case ALLEGRO_KEY_B: tavolix_app_set_tool(app, TOOL_BRUSH); break;
    case ALLEGRO_KEY_E:
        tavolix_app_set_tool(app, TOOL_BRUSH);
        app->brush.mode = BRUSH_MODE_ERASE;
        break;
    case ALLEGRO_KEY_S: tavolix_app_set_tool(app, TOOL_SELECT); break;
    case ALLEGRO_KEY_L: tavolix_app_set_tool(app, TOOL_LASSO); break;
    case ALLEGRO_KEY_I: tavolix_app_set_tool(app, TOOL_EYEDROPPER); break;
    case ALLEGRO_KEY_D: app->grid.diagonals = !app->grid.diagonals; break;
    case ALLEGRO_KEY_G:
        if (mod.shift) app->grid.snap = !app->grid.snap;
        else app->grid.visible = !app->grid.visible;
        break;
    case ALLEGRO_KEY_F:
        view_fit(&app->view, app->doc->width, app->doc->height, app->display_w, app->display_h);
        break;
    case ALLEGRO_KEY_TAB: tavolix_gui_set_visible(app, !app->gui_visible); break;
    case ALLEGRO_KEY_OPENBRACE:
        app->brush.size = std::max(1.0f, app->brush.size / 1.25f);
        tavolix_gui_placed_float_restyle(app);
        break;
    case ALLEGRO_KEY_CLOSEBRACE:
        app->brush.size = std::min(128.0f, app->brush.size * 1.25f);
        tavolix_gui_placed_float_restyle(app);
        break;
    case ALLEGRO_KEY_SPACE: app->space_held = true; break;
    default: return; // unlisted keys do nothing
    }
    tavolix_gui_sync(app);
    app->redraw = true;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Canvas state: touch
// --------------------------------------------------------------------------------------------

void canvas_touch(TAVOLIX_APP* app, const ALLEGRO_EVENT* event) {
    const bool blocked_before = gesture_blocks_strokes(&app->gesture);
    gesture_handle_event(&app->gesture, event, &app->view);
    if (!blocked_before && gesture_blocks_strokes(&app->gesture)) {
        // A second finger arrived: it navigates, and whatever one finger started stops.
        if (app->stroke.active) {
            if (app->palm_rejection) {
                gesture_cancel_navigation(&app->gesture);
                app->redraw = true;
                return;
            }
            brush_stroke_abort(&app->stroke, app->doc);
            stroke_finished(app);
        }
        app->picking = false;
        app->form_press = app->gradient_drag = app->grid_stroke = false;
        app->sym_drag = app->fill_pending = false;
        form_drag_end(&app->form);
        if (app->selection.tracking) {
            if (app->selection.phase == SELECTION_PHASE_OUTLINING)
                selection_discard(&app->selection);
            else
                tavolix_gui_placed_float_refresh(app);
        }
        app->selection.tracking = false;
    }
    app->redraw = true;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Canvas state: pointer
// --------------------------------------------------------------------------------------------

// What a stroke leaves behind once it has ended or been thrown away: the stabilizer's string,
// the pen stroke, and the brush mode the pen's eraser end stood in for.
void stroke_finished(TAVOLIX_APP* app) {
    stabilizer_end(&app->stab);
    app->pen.stroke = false;
    if (app->mode_after_stroke >= 0) {
        app->brush.mode = app->mode_after_stroke;
        app->mode_after_stroke = -1;
        tavolix_gui_sync(app);
    }
}

void end_stroke(TAVOLIX_APP* app) {
    brush_stroke_end(&app->stroke, app->doc);
    tavolix_gui_sync_layers(app);
    stroke_finished(app);
}

// Pen samples that arrived since the last pointer event. A pen that leaves during its own
// stroke (unplugged, switched off) ends the stroke where it was: no release may ever come.
void pen_update(TAVOLIX_APP* app) {
    PEN_SAMPLE samples[PEN_POLL_MAX];
    for (int n = PEN_POLL_MAX; n == PEN_POLL_MAX;) {
        n = platform_pen_poll(samples, PEN_POLL_MAX);
        if (pen_input_add(&app->pen, samples, n) && app->stroke.active) {
            q_log(4, "pen: the pen left during a stroke, the stroke ends there");
            end_stroke(app);
            app->grid_stroke = false;
            app->redraw = true;
        }
    }
}

// The pressure of a pen stroke at a pointer event: its own sample's, shaped by the curve, or
// the last one seen while its sample is still on the way.
float pen_pressure_at(TAVOLIX_APP* app, const ALLEGRO_EVENT* event) {
    PEN_SAMPLE s;
    if (pen_input_match(&app->pen, static_cast<float>(event->mouse.x),
                        static_cast<float>(event->mouse.y), event->mouse.timestamp, &s))
        app->pen.pressure = pen_pressure_curve(s.pressure, app->pen_curve);
    return app->pen.pressure;
}

// The brush a dab is laid with: the user's, or for a pen with "Pressure changes size" a copy
// whose size follows the pressure.
const BRUSH* dab_brush(TAVOLIX_APP* app, float pressure, BRUSH* scratch) {
    if (!app->pen.stroke || !app->pen_size) return &app->brush;
    *scratch = app->brush;
    scratch->size = std::max(1.0f, app->brush.size * pressure);
    return scratch;
}

// The pressure the stroke's last segment had, for the stabilizer's final stretch.
float last_pressure(const TAVOLIX_APP* app) {
    if (app->pen.stroke) return app->pen.pressure;
    return app->pressure_from_speed ? app->speed_pressure : 1.0f;
}

void pick_at(TAVOLIX_APP* app, Point p) {
    PICKED_COLOUR c;
    DOCUMENT* doc = app->doc;
    const bool ok = app->pick_layer_only
                        ? doc->active_layer && eyedropper_pick_layer(doc, doc->active_layer, p.x, p.y, &c)
                        : eyedropper_pick_composite(doc, p.x, p.y, &c) == 1;
    if (ok) tavolix_app_take_colour(app, c.rgba);
}

void pick_end(TAVOLIX_APP* app) {
    app->picking = false;
    unsigned char r, g, b, a;
    al_unmap_rgba(app->brush.color, &r, &g, &b, &a);
    q_log(6, "eyedropper: #%02x%02x%02x from the %s", r, g, b,
          app->pick_layer_only ? "active layer" : "picture");
    tavolix_gui_sync(app);
}

void grid_walk(TAVOLIX_APP* app, Point p) {
    float step = 0.0f;
    if (grid_snap_step(&app->grid, &step) != 1 || !(step > 0.0f)) return;
    for (int i = 0; i < 64; i++) {
        const float dx = p.x - app->grid_anchor[0];
        const float dy = p.y - app->grid_anchor[1];
        if (std::sqrt(dx * dx + dy * dy) < 0.75f * step) break;
        int sx = 0, sy = 0;
        grid_segment_dir(dx, dy, 1, &sx, &sy);
        if (sx == 0 && sy == 0) break;
        const Point next{app->grid_anchor[0] + static_cast<float>(sx) * step,
                         app->grid_anchor[1] + static_cast<float>(sy) * step};
        const bool reverse = (app->grid_step_dir[0] != 0 || app->grid_step_dir[1] != 0) &&
                             sx == -app->grid_step_dir[0] && sy == -app->grid_step_dir[1];
        if (reverse) {
            const float nx = p.x - next.x, ny = p.y - next.y;
            if (!(nx * nx + ny * ny < dx * dx + dy * dy)) break;
        }
        app->grid_anchor[0] = next.x;
        app->grid_anchor[1] = next.y;
        app->grid_step_dir[0] = sx;
        app->grid_step_dir[1] = sy;
        brush_stroke_segment(&app->stroke, app->doc, &app->brush, next.x, next.y, 1.0f);
    }
}

void canvas_motion(TAVOLIX_APP* app, const ALLEGRO_EVENT* event) {
    app->cursor_x = static_cast<float>(event->mouse.x);
    app->cursor_y = static_cast<float>(event->mouse.y);
    const Modifiers mod = read_modifiers(app);
    if (event->mouse.dz != 0) {
        if (mod.ctrl)
            view_rotate_at(&app->view, static_cast<float>(event->mouse.dz) * 0.0872665f,
                           app->cursor_x, app->cursor_y);
        else
            view_zoom_at(&app->view,
                         static_cast<float>(std::pow(static_cast<double>(1.1f), event->mouse.dz)),
                         app->cursor_x, app->cursor_y);
    }
    const bool gestures_block = gesture_blocks_strokes(&app->gesture) == 1;
    Point p = canvas_point(app, app->cursor_x, app->cursor_y);

    if (app->picking) {
        pick_at(app, p);
        app->redraw = true;
        return;
    }

    if (app->sym_drag && !gestures_block) {
        app->symmetry.center[0] = std::clamp(p.x, 0.0f, static_cast<float>(app->doc->width));
        app->symmetry.center[1] = std::clamp(p.y, 0.0f, static_cast<float>(app->doc->height));
        tavolix_gui_sync_symmetry(app);
        app->redraw = true;
        return;
    }
    if (app->form.dragging && !gestures_block) {
        if (app->form.drag_index != FORM_HIT_BODY) snap(app, &p);
        form_drag_update(&app->form, p.x, p.y);
        app->redraw = true;
        return;
    }
    if (app->selection.tracking && !gestures_block) {
        SELECTION* sel = &app->selection;
        if (sel->phase == SELECTION_PHASE_OUTLINING) {
            if (sel->lasso) {
                selection_add_lasso_point(sel, p.x, p.y);
            } else {
                snap(app, &p);
                selection_update_marquee(sel, p.x, p.y);
            }
        } else if (sel->phase == SELECTION_PHASE_FLOATING) {
            const bool resize = sel->drag_mode >= 2 && sel->drag_mode <= 9;
            if (resize && std::fabs(sel->angle) < 0.0001f) snap(app, &p);
            selection_drag_update(sel, p.x, p.y, mod.shift ? 1 : 0);
            tavolix_gui_placed_float_refresh(app);
            float step = 0.0f;
            if (sel->drag_mode == 1 && grid_snap_step(&app->grid, &step) == 1 && step > 0.0f) {
                // A moved selection keeps its centre on half grid steps.
                float cx = 0.0f, cy = 0.0f;
                if (selection_get_center(sel, &cx, &cy)) {
                    const float h = step * 0.5f;
                    selection_nudge(sel, h * std::round(cx / h) - cx, h * std::round(cy / h) - cy);
                }
            }
        }
    } else if (app->panning) {
        view_pan(&app->view, static_cast<float>(event->mouse.dx),
                 static_cast<float>(event->mouse.dy));
    } else if (app->stroke.active) {
        // A steadied stroke follows the point on the string, which stays put for small moves.
        if (app->stab.active && !stabilizer_follow(&app->stab, p.x, p.y, &p.x, &p.y)) {
            app->redraw = true;
            return;
        }
        if (!app->grid_stroke) {
            float pressure = 1.0f;
            if (app->pen.stroke) {
                pressure = pen_pressure_at(app, event);
            } else if (app->pressure_from_speed) {
                const float dx = p.x - app->last_point[0], dy = p.y - app->last_point[1];
                const double dt = std::max(event->mouse.timestamp - app->last_event_time, 0.0001);
                app->speed_pressure = pressure_from_speed(
                    static_cast<float>(std::sqrt(dx * dx + dy * dy) / dt), app->speed_pressure);
                pressure = app->speed_pressure;
            }
            BRUSH scratch;
            brush_stroke_segment(&app->stroke, app->doc, dab_brush(app, pressure, &scratch), p.x,
                                 p.y, pressure);
            app->last_point[0] = p.x;
            app->last_point[1] = p.y;
            app->last_event_time = event->mouse.timestamp;
        } else {
            grid_walk(app, p);
        }
    }
    app->redraw = true;
}

void canvas_press_tool(TAVOLIX_APP* app, const ALLEGRO_EVENT* event, Point p) {
    switch (app->tool) {
    case TOOL_SELECT:
    case TOOL_LASSO: {
        SELECTION* sel = &app->selection;
        if (sel->phase == SELECTION_PHASE_FLOATING) {
            const int h = selection_hit_test(sel, &app->view, app->cursor_x, app->cursor_y);
            if (h == 0) {
                tavolix_app_commit_float(app);
            } else {
                sel->tracking = true;
                selection_drag_begin(sel, h, p.x, p.y);
            }
        } else {
            if (app->tool == TOOL_LASSO) {
                selection_begin_lasso(sel, p.x, p.y);
            } else {
                snap(app, &p);
                selection_begin_marquee(sel, p.x, p.y);
            }
            sel->tracking = true;
        }
        return;
    }
    default: break;
    }

    // Every other tool paints, or is about to: lifted pixels go back into the layer first.
    tavolix_app_commit_float(app);
    app->last_point[0] = p.x;
    app->last_point[1] = p.y;
    app->speed_pressure = 1.0f;
    app->last_event_time = event->mouse.timestamp;

    switch (app->tool) {
    case TOOL_FILL:
        if (platform_uses_touch() == 1) {
            app->fill_pending = true;
            app->fill_at[0] = p.x;
            app->fill_at[1] = p.y;
        } else if (fill_flood(app->doc, p.x, p.y, &app->brush.color, 0.1f) == 1) {
            tavolix_gui_sync_layers(app);
            tavolix_app_note_colour_used(app);
        }
        break;
    case TOOL_GRADIENT:
        snap(app, &p);
        app->gradient_drag = true;
        app->gradient_start[0] = p.x;
        app->gradient_start[1] = p.y;
        break;
    case TOOL_LINE:
    case TOOL_BEZIER:
        if (form_pending(&app->form)) {
            const float zoom = app->view.zoom > 0.0f ? app->view.zoom : 1.0f;
            const int h = form_hit_test(&app->form, p.x, p.y, 9.0f / zoom, 8.0f / zoom);
            if (h == FORM_HIT_MISS) {
                tavolix_app_commit_form(app);
            } else {
                if (h != FORM_HIT_BODY) snap(app, &p);
                form_drag_begin(&app->form, h, p.x, p.y);
            }
        } else {
            snap(app, &p);
            app->form_press = true;
            app->form_press_at[0] = p.x;
            app->form_press_at[1] = p.y;
        }
        break;
    case TOOL_BRUSH:
    default: {
        Point anchor = p;
        app->grid_stroke = grid_snap_anchor(&app->grid, p.x, p.y, &anchor.x, &anchor.y) == 1;
        if (app->grid_stroke) {
            p = anchor;
            app->grid_step_dir[0] = app->grid_step_dir[1] = 0;
            app->grid_anchor[0] = p.x;
            app->grid_anchor[1] = p.y;
        }
        // A press that a pen made starts a pen stroke: its pressure from the first dab on,
        // and its eraser end erasing until the release.
        float pressure = 1.0f;
        PEN_SAMPLE sample;
        app->pen.stroke = pen_input_match(&app->pen, app->cursor_x, app->cursor_y,
                                          event->mouse.timestamp, &sample) == 1;
        if (app->pen.stroke) {
            app->pen.device = sample.device;
            app->pen.eraser = sample.eraser;
            pressure = app->pen.pressure = pen_pressure_curve(sample.pressure, app->pen_curve);
            if (sample.eraser && app->brush.mode != BRUSH_MODE_ERASE) {
                app->mode_after_stroke = app->brush.mode;
                app->brush.mode = BRUSH_MODE_ERASE;
            }
        }
        BRUSH scratch;
        brush_stroke_begin(&app->stroke, app->doc, dab_brush(app, pressure, &scratch), p.x, p.y,
                           pressure, &app->symmetry);
        if (!app->stroke.active) {
            stroke_finished(app);
            break;
        }
        if (app->stabilizer > 0)
            stabilizer_begin(&app->stab, p.x, p.y,
                             stabilizer_string(app->stabilizer, app->view.zoom));
        if (app->brush.mode == BRUSH_MODE_PAINT) tavolix_app_note_colour_used(app);
        break;
    }
    }
}

void canvas_button_down(TAVOLIX_APP* app, const ALLEGRO_EVENT* event) {
    app->cursor_x = static_cast<float>(event->mouse.x);
    app->cursor_y = static_cast<float>(event->mouse.y);
    if (event->mouse.button == 3) {
        app->panning = true;
        return;
    }
    if (event->mouse.button != 1) return;
    if (app->space_held) {
        app->panning = true;
        return;
    }
    if (!app->gui_visible && app->cursor_x < 36.0f && app->cursor_y < 36.0f) {
        tavolix_gui_set_visible(app, 1);
        app->redraw = true;
        return;
    }
    if (tavolix_gui_wants_pointer(app) == 1 || gesture_blocks_strokes(&app->gesture) == 1) return;
    if (app->nav_mode) {
        app->panning = true;
        return;
    }
    Point p = canvas_point(app, app->cursor_x, app->cursor_y);
    // Picking changes no pixel: a floating selection or a placed shape stays afloat and takes
    // the colour.
    if (app->tool == TOOL_EYEDROPPER || pick_modifier(app)) {
        app->picking = true;
        app->pick_layer_only = read_modifiers(app).shift;
        app->pick_old = app->brush.color;
        pick_at(app, p);
        app->redraw = true;
        return;
    }
    if (app->sym_move) {
        app->sym_drag = true;
        app->symmetry.center[0] = std::clamp(p.x, 0.0f, static_cast<float>(app->doc->width));
        app->symmetry.center[1] = std::clamp(p.y, 0.0f, static_cast<float>(app->doc->height));
        tavolix_gui_sync_symmetry(app);
        app->redraw = true;
        return;
    }
    canvas_press_tool(app, event, p);
    app->redraw = true;
}

void canvas_button_up(TAVOLIX_APP* app, const ALLEGRO_EVENT* event) {
    const unsigned button = event->mouse.button;
    if (button != 1 && button != 3) return;
    app->panning = false;
    if (button == 3) return;
    if (app->sym_drag) {
        app->sym_drag = false;
        app->redraw = true;
        return;
    }
    if (app->picking) {
        pick_end(app);
        app->redraw = true;
        return;
    }
    SELECTION* sel = &app->selection;
    if (sel->tracking) {
        sel->tracking = false;
        if (sel->phase == SELECTION_PHASE_OUTLINING) selection_end_marquee(sel, app->doc);
        else if (sel->phase == SELECTION_PHASE_FLOATING) {
            selection_drag_end(sel);
            tavolix_gui_placed_float_refresh(app);
        }
        app->redraw = true;
        return;
    }
    const Point release = canvas_point(app, static_cast<float>(event->mouse.x),
                                       static_cast<float>(event->mouse.y));
    if (app->stroke.active) {
        // The string catches up: the line ends where the pointer was lifted.
        if (app->stab.active) {
            if (app->grid_stroke) {
                grid_walk(app, release);
            } else {
                const float pressure = last_pressure(app);
                BRUSH scratch;
                brush_stroke_segment(&app->stroke, app->doc, dab_brush(app, pressure, &scratch),
                                     release.x, release.y, pressure);
            }
        }
        end_stroke(app);
    }
    if (app->gradient_drag) {
        app->gradient_drag = false;
        if (app->tool == TOOL_GRADIENT) {
            Point p = release;
            snap(app, &p);
            if (fill_gradient(app->doc, app->gradient_start[0], app->gradient_start[1], p.x, p.y,
                              &app->brush.color) == 1) {
                tavolix_gui_sync_layers(app);
                tavolix_app_note_colour_used(app);
            }
        }
    }
    if (app->form.dragging) {
        form_drag_end(&app->form);
        app->redraw = true;
        return;
    }
    if (app->form_press) {
        app->form_press = false;
        if (is_shape_tool(app->tool)) {
            Point p = release;
            snap(app, &p);
            const float dx = (p.x - app->form_press_at[0]) * app->view.zoom;
            const float dy = (p.y - app->form_press_at[1]) * app->view.zoom;
            if (dx * dx + dy * dy >= 16.0f)
                form_begin(&app->form, app->tool == TOOL_BEZIER ? FORM_BEZIER : FORM_LINE,
                           app->form_press_at[0], app->form_press_at[1], p.x, p.y);
        }
    }
    if (app->fill_pending) {
        app->fill_pending = false;
        if (app->tool == TOOL_FILL &&
            fill_flood(app->doc, app->fill_at[0], app->fill_at[1], &app->brush.color, 0.1f) == 1) {
            tavolix_gui_sync_layers(app);
            tavolix_app_note_colour_used(app);
        }
    }
    app->grid_stroke = false;
    app->redraw = true;
}

bool is_modifier_key(int key) {
    return key == ALLEGRO_KEY_LCTRL || key == ALLEGRO_KEY_RCTRL || key == ALLEGRO_KEY_ALT ||
           key == ALLEGRO_KEY_ALTGR || key == ALLEGRO_KEY_LSHIFT || key == ALLEGRO_KEY_RSHIFT;
}

void _canvas_handle_event(TAVOLIX_APP* app, const ALLEGRO_EVENT* event) {
    q_assert(app, return);
    q_assert(event, return);
    q_assert(app->doc, return);
    switch (event->type) {
    case ALLEGRO_EVENT_TOUCH_BEGIN:
    case ALLEGRO_EVENT_TOUCH_END:
    case ALLEGRO_EVENT_TOUCH_MOVE:
    case ALLEGRO_EVENT_TOUCH_CANCEL: canvas_touch(app, event); break;
    case ALLEGRO_EVENT_KEY_DOWN:
        canvas_key_down(app, event->keyboard.keycode);
        if (is_modifier_key(event->keyboard.keycode)) app->redraw = true; // the pick cursor
        break;
    case ALLEGRO_EVENT_KEY_UP:
        if (event->keyboard.keycode == ALLEGRO_KEY_SPACE) app->space_held = app->panning = false;
        if (is_modifier_key(event->keyboard.keycode)) app->redraw = true;
        break;
    case ALLEGRO_EVENT_MOUSE_AXES:
        pen_update(app);
        canvas_motion(app, event);
        break;
    case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
        pen_update(app);
        canvas_button_down(app, event);
        break;
    case ALLEGRO_EVENT_MOUSE_BUTTON_UP:
        pen_update(app);
        canvas_button_up(app, event);
        break;
    default: break;
    }
}

// --------------------------------------------------------------------------------------------
// [SECTION] Canvas state: drawing
// --------------------------------------------------------------------------------------------

FORM_PREVIEW_KEY preview_key(const TAVOLIX_APP* app) {
    FORM_PREVIEW_KEY key;
    memset(static_cast<void*>(&key), 0, sizeof key);
    key.kind = app->form.kind;
    key.count = app->form.count;
    memcpy(key.x, app->form.x, sizeof key.x);
    memcpy(key.y, app->form.y, sizeof key.y);
    key.dragging = app->form.dragging;
    memcpy(static_cast<void*>(&key.symmetry), &app->symmetry, sizeof key.symmetry);
    key.doc = app->doc;
    key.width = app->doc->width;
    key.height = app->doc->height;
    key.segments = form_flatten_segments(&app->form, app->view.zoom);
    key.size = app->brush.size;
    key.hardness = app->brush.hardness;
    key.flow = app->brush.flow;
    key.opacity = app->brush.opacity;
    key.spacing = app->brush.spacing;
    key.tip = app->brush.tip;
    return key;
}

// The pending shape as a polyline at the current zoom, flattened once per frame for both the
// preview and the outline.
struct FLAT_FORM {
    float points[FORM_FLATTEN_POINTS * 2];
    int count;
};

void update_shape_preview(TAVOLIX_APP* app, const FLAT_FORM& flat) {
    if (app->stroke.active || !form_pending(&app->form)) {
        brush_preview_clear();
        return;
    }
    const FORM_PREVIEW_KEY key = preview_key(app);
    if (brush_stroke_buffer() &&
        memcmp(&key, &app->form_preview_key, sizeof key) == 0)
        return;
    if (flat.count >= 2) {
        brush_preview_polyline(app->doc, &app->brush, flat.points, flat.count, &app->symmetry);
        app->form_preview_key = key;
    } else {
        brush_preview_clear();
    }
}

void draw_form_overlay(TAVOLIX_APP* app, const FLAT_FORM& flat) {
    const float* points = flat.points;
    const int count = flat.count;
    const ALLEGRO_COLOR outline = al_premul_rgba(0, 0, 0, 130);
    for (int i = 1; i < count; i++) {
        const Point a = screen_point(app, points[2 * i - 2], points[2 * i - 1]);
        const Point b = screen_point(app, points[2 * i], points[2 * i + 1]);
        al_draw_line(a.x, a.y, b.x, b.y, outline, 1.0f);
    }
    if (app->form.kind == FORM_BEZIER && app->form.count == 4) {
        const ALLEGRO_COLOR control = al_premul_rgba(90, 140, 220, 160);
        for (auto [from, to] : {std::pair{0, 1}, std::pair{3, 2}}) {
            const Point a = screen_point(app, app->form.x[from], app->form.y[from]);
            const Point b = screen_point(app, app->form.x[to], app->form.y[to]);
            al_draw_line(a.x, a.y, b.x, b.y, control, 1.0f);
        }
    }
    for (int i = 0; i < app->form.count && i < 4; i++) {
        const Point c = screen_point(app, app->form.x[i], app->form.y[i]);
        al_draw_filled_rectangle(c.x - 9.0f, c.y - 9.0f, c.x + 9.0f, c.y + 9.0f,
                                 al_premul_rgba(70, 130, 235, 200));
        al_draw_rectangle(c.x - 9.0f, c.y - 9.0f, c.x + 9.0f, c.y + 9.0f,
                          al_premul_rgba(255, 255, 255, 220), 1.0f);
    }
}

ALLEGRO_COLOR opaque(ALLEGRO_COLOR c) { return al_map_rgba_f(c.r, c.g, c.b, 1.0f); }

// While picking, a ring around the pointer: the colour being picked on its upper half over the
// colour the brush had before on its lower half.
void draw_pick_ring(const TAVOLIX_APP* app) {
    const float k = std::max(1.0f, app->ui_scale);
    const float x = app->cursor_x, y = app->cursor_y;
    const float outer = 26.0f * k, inner = 14.0f * k;
    const float mid = (outer + inner) * 0.5f, thick = outer - inner;
    constexpr float PI = 3.14159265f;
    al_draw_arc(x, y, mid, PI, PI, opaque(app->brush.color), thick);
    al_draw_arc(x, y, mid, 0.0f, PI, opaque(app->pick_old), thick);
    for (float r : {inner, outer}) {
        al_draw_circle(x, y, r, al_premul_rgba(0, 0, 0, 200), 1.0f);
        al_draw_circle(x, y, r + 1.0f, al_premul_rgba(255, 255, 255, 160), 1.0f);
    }
}

// Ready to pick (the eyedropper tool, or Alt held): cross hairs with a small ring of the brush
// colour.
void draw_pick_cursor(const TAVOLIX_APP* app) {
    const float x = app->cursor_x, y = app->cursor_y;
    const ALLEGRO_COLOR dark = al_premul_rgba(0, 0, 0, 200), light = al_premul_rgba(255, 255, 255, 200);
    for (auto [c, w] : {std::pair{light, 3.0f}, std::pair{dark, 1.0f}}) {
        al_draw_line(x - 12.0f, y, x - 4.0f, y, c, w);
        al_draw_line(x + 4.0f, y, x + 12.0f, y, c, w);
        al_draw_line(x, y - 12.0f, x, y - 4.0f, c, w);
        al_draw_line(x, y + 4.0f, x, y + 12.0f, c, w);
    }
    al_draw_circle(x + 10.0f, y + 10.0f, 5.0f, opaque(app->brush.color), 4.0f);
    al_draw_circle(x + 10.0f, y + 10.0f, 7.0f, dark, 1.0f);
}

void _canvas_draw(TAVOLIX_APP* app) {
    q_assert(app, return);
    q_assert(app->doc, return);
    FLAT_FORM flat;
    flat.count = 0;
    if (form_pending(&app->form))
        flat.count = form_flatten(&app->form, form_flatten_segments(&app->form, app->view.zoom),
                                  flat.points, FORM_FLATTEN_POINTS);
    update_shape_preview(app, flat);
    compositor_draw(app->doc, &app->view);

    const ALLEGRO_COLOR brush = app->brush.color;
    if (ALLEGRO_BITMAP* buffer = brush_stroke_buffer()) {
        const float a = clamp01(app->brush.opacity * brush.a);
        view_apply(&app->view);
        al_draw_tinted_bitmap(buffer, premultiplied(brush, a), 0.0f, 0.0f, 0);
        ALLEGRO_TRANSFORM identity;
        al_identity_transform(&identity);
        al_use_transform(&identity);
    }
    grid_draw(&app->grid, app->doc, &app->view, app->display_w, app->display_h);
    symmetry_draw(&app->symmetry, app->doc, &app->view);
    selection_draw(&app->selection, app->doc, &app->view);

    if (app->stroke.active && app->grid_stroke) {
        const ALLEGRO_COLOR c = premultiplied(brush, 0.35f);
        const Point anchor = screen_point(app, app->grid_anchor[0], app->grid_anchor[1]);
        al_draw_line(anchor.x, anchor.y, app->cursor_x, app->cursor_y, c, 2.0f);
        al_draw_circle(anchor.x, anchor.y, 4.0f, c, 1.5f);
    }
    if (app->gradient_drag) {
        const Point start = screen_point(app, app->gradient_start[0], app->gradient_start[1]);
        al_draw_line(start.x, start.y, app->cursor_x, app->cursor_y, al_premul_rgba(0, 0, 0, 160),
                     3.0f);
        al_draw_line(start.x, start.y, app->cursor_x, app->cursor_y,
                     al_premul_rgba(255, 255, 255, 200), 1.0f);
    }
    if (form_pending(&app->form)) draw_form_overlay(app, flat);
    if (app->form_press) {
        const Point start = screen_point(app, app->form_press_at[0], app->form_press_at[1]);
        const float width = std::max(1.0f, app->brush.size * app->view.zoom);
        al_draw_line(start.x, start.y, app->cursor_x, app->cursor_y,
                     premultiplied(brush, brush.a * 0.5f), width);
        al_draw_line(start.x, start.y, app->cursor_x, app->cursor_y, al_premul_rgba(0, 0, 0, 130),
                     1.0f);
    }
    if (app->picking) {
        draw_pick_ring(app);
    } else if ((app->tool == TOOL_EYEDROPPER || (app->modifiers & (APP_MOD_ALT | APP_MOD_ALTGR))) &&
               !app->nav_mode && tavolix_gui_wants_pointer(app) != 1) {
        // Ctrl picks as well, but it is held for every shortcut: only Alt shows the cursor.
        draw_pick_cursor(app);
    } else if (app->tool == TOOL_BRUSH && !app->nav_mode && tavolix_gui_wants_pointer(app) != 1) {
        const float r = std::max(2.0f, 0.5f * app->brush.size * app->view.zoom);
        al_draw_circle(app->cursor_x, app->cursor_y, r, al_premul_rgba(0, 0, 0, 160), 1.0f);
        al_draw_circle(app->cursor_x, app->cursor_y, r + 1.0f, al_premul_rgba(255, 255, 255, 160),
                       1.0f);
    }
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

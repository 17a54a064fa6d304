// ============================================================================================
// What the panel widgets do
//   [SECTION] Shared steps
//   [SECTION] Panels: collapse, hide, sections
//   [SECTION] Actions and tools
//   [SECTION] Brush, palette and swatches
//   [SECTION] Symmetry, file and settings
//   [SECTION] Layers, template and grid
//
// Every callback receives the application record as its user data. Buttons that open a popup
// call the popups' openers (popup_*.cpp).
// ============================================================================================
#include <algorithm>
#include <cmath>

#include "canvas/undo.h"
#include "gui/gui_internal.h"
#include "i18n.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_gui.h"
#include "tavolix_app.h"
#include "template.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Shared steps
// --------------------------------------------------------------------------------------------

namespace {

TAVOLIX_APP* app_of(void* user) { return static_cast<TAVOLIX_APP*>(user); }

void changed(TAVOLIX_APP* app) { app->redraw = true; }

// Opening or closing windows leaves the cached GUI image stale.
void relaid(TAVOLIX_APP* app) {
    app->gui.gui_cache_valid = false;
    app->redraw = true;
}

LAYER* active_layer(TAVOLIX_APP* app) { return app->doc ? app->doc->active_layer : nullptr; }

int index_in(const int* ids, int count, int widget) {
    for (int i = 0; i < count; i++)
        if (ids[i] == widget) return i;
    return -1;
}

void open_clear_confirm(TAVOLIX_APP* app) {
    const LAYER* layer = active_layer(app);
    if (app->stroke.active || !layer) return;
    char question[256];
    _utf8_format(question, sizeof question, tavolix_tr("Clear layer %s?"),
                 layer->name ? layer->name->data : "NULL");
    _open_confirm(app, GUI_CONFIRM_CLEAR_LAYER, question, tavolix_tr("Clear"));
}

void brush_takes_swatch(TAVOLIX_APP* app, int swatch) {
    const PALETTE_RGB* colours = palette_active_colors(&app->palettes);
    if (!colours || swatch < 0 || swatch > 7) return;
    float alpha = app->brush.color.a;
    app->brush.color = al_map_rgba_f(colours[swatch][0] / 255.0f, colours[swatch][1] / 255.0f,
                                     colours[swatch][2] / 255.0f, alpha);
    app->brush.mode = BRUSH_MODE_PAINT;
    app->gui.selected_swatch = swatch;
}

} // namespace

// A floating selection goes into its layer and a pending shape is painted before anything
// that would otherwise lose or misplace them.
void _gui_commit_first(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (app->doc && app->selection.phase == SELECTION_PHASE_FLOATING) {
        selection_commit(&app->selection, app->doc, &app->symmetry);
        tavolix_gui_sync_layers(app);
    }
    tavolix_app_commit_form(app);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Panels: collapse, hide, sections
// --------------------------------------------------------------------------------------------

void _on_toolbar_collapse(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    gui->toolbar_collapsed = true;
    // The rebuild must not bring back popups that belonged to the tool bar.
    for (GUI_POPUP p : {GUI_POPUP_PICKER, GUI_POPUP_TIP, GUI_POPUP_PALETTE_MANAGER,
                        GUI_POPUP_PALETTE_NAME, GUI_POPUP_OPEN_LIST, GUI_POPUP_SAVE_NAME,
                        GUI_POPUP_TEXT})
        gui->popup_open[p] = false;
    gui->rebuild_pending = true;
    relaid(app);
}

void _on_toolbar_expand(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    app->gui.toolbar_collapsed = false;
    app->gui.rebuild_pending = true;
    relaid(app);
}

void _on_panel_collapse(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    app->gui.panel_collapsed = true;
    app->gui.rebuild_pending = true;
    relaid(app);
}

void _on_panel_expand(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    app->gui.panel_collapsed = false;
    app->gui.rebuild_pending = true;
    relaid(app);
}

void _on_hide_ui(int, void* user) { tavolix_gui_set_visible(app_of(user), 0); }

void _on_toolbar_section(int section, int folded, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (section < 0 || section >= 7) return;
    app->gui.section_folded[section] = folded != 0;
    _gui_place_toolbar_foot(app);
    relaid(app);
}

void _on_panel_section(int section, int folded, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (section < 0 || section >= 3) return;
    app->gui.panel_section_folded[section] = folded != 0;
    relaid(app);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Actions and tools
// --------------------------------------------------------------------------------------------

void _on_undo(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (!app->doc) return;
    _gui_commit_first(app);
    const int done = widget == app->gui.tb.redo ? redo_perform(app->doc) : undo_perform(app->doc);
    if (done == 1) tavolix_gui_sync_layers(app);
    changed(app);
}

void _on_redo(int widget, void* user) { _on_undo(widget, user); }

void _on_tool(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    const GUI_TOOLBAR_IDS& t = app->gui.tb;
    const struct {
        int id;
        int tool;
    } tools[] = {{t.brush, TOOL_BRUSH},   {t.fill, TOOL_FILL},     {t.gradient, TOOL_GRADIENT},
                 {t.line, TOOL_LINE},     {t.bezier, TOOL_BEZIER}, {t.select, TOOL_SELECT},
                 {t.lasso, TOOL_LASSO},   {t.eyedropper, TOOL_EYEDROPPER}};
    for (const auto& entry : tools) {
        if (entry.id != widget) continue;
        // A floating selection stays afloat when the user moves between the selection tools,
        // and while picking a colour, which a placed shape or text then takes.
        if (entry.tool != TOOL_SELECT && entry.tool != TOOL_LASSO &&
            entry.tool != TOOL_EYEDROPPER)
            _gui_commit_first(app);
        tavolix_app_set_tool(app, entry.tool);
        break;
    }
    tavolix_gui_sync(app);
    changed(app);
}

void _on_eraser(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _gui_commit_first(app);
    tavolix_app_set_tool(app, TOOL_BRUSH);
    app->brush.mode = BRUSH_MODE_ERASE;
    tavolix_gui_sync(app);
    changed(app);
}

void _on_clipboard(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (widget == app->gui.tb.cut) tavolix_app_clipboard_cut(app);
    else if (widget == app->gui.tb.copy) tavolix_app_clipboard_copy(app);
    else tavolix_app_clipboard_paste(app);
    changed(app);
}

void _on_navigate(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    app->nav_mode = !app->nav_mode;
    gesture_cancel_navigation(&app->gesture);
    tavolix_gui_sync(app);
    changed(app);
}

void _on_shape(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    const GUI_TOOLBAR_IDS& t = app->gui.tb;
    const struct {
        int id;
        void (*place)(TAVOLIX_APP*);
    } shapes[] = {{t.rect, _on_shape_rect},         {t.circle, _on_shape_circle},
                  {t.triangle, _on_shape_triangle}, {t.star, _on_shape_star},
                  {t.pentagon, _on_shape_pentagon}, {t.hexagon, _on_shape_hexagon},
                  {t.arrow, _on_shape_arrow},       {t.shape_fill, _on_shape_fill_toggle}};
    for (const auto& shape : shapes)
        if (shape.id == widget) shape.place(app);
    tavolix_gui_sync(app);
    changed(app);
}

// The panel buttons that open a popup.
void _on_popup_button(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    const GUI_TOOLBAR_IDS& t = app->gui.tb;
    const GUI_PANEL_IDS& p = app->gui.lp;
    if (widget == t.text) _open_text(app);
    else if (widget == t.manage) _open_palette_manager(app);
    else if (widget == t.file_new) _open_new_canvas(app);
    else if (widget == t.export_) _open_export(app);
    else if (widget == t.help) _open_help(app);
    else if (widget == p.rename) _open_rename(app);
    else if (widget == p.clear) open_clear_confirm(app);
    relaid(app);
}

void _on_tip(int, void* user) { _open_tip(app_of(user)); }
void _on_color_chip(int, void* user) { _open_picker(app_of(user)); }

// --------------------------------------------------------------------------------------------
// [SECTION] Brush, palette and swatches
// --------------------------------------------------------------------------------------------

void _on_preset(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    const int preset = index_in(app->gui.tb.presets, 4, widget);
    if (preset >= 0) {
        const int32_t mode = app->brush.mode;
        if (brush_apply_preset(&app->brush, brush_preset_name(preset))) app->preset = preset;
        app->brush.mode = mode;
        tavolix_gui_placed_float_restyle(app);
    }
    tavolix_gui_sync(app);
    changed(app);
}

void _on_brush_slider(int widget, double value, void* user) {
    TAVOLIX_APP* app = app_of(user);
    const GUI_TOOLBAR_IDS& t = app->gui.tb;
    const float v = static_cast<float>(value);
    if (widget == t.stabilizer) { // not part of a preset
        app->stabilizer = std::clamp(static_cast<int>(value + 0.5), 0, STABILIZER_MAX);
        relaid(app);
        return;
    }
    if (widget == t.size) app->brush.size = std::clamp(v, 1.0f, 128.0f);
    else if (widget == t.opacity) app->brush.opacity = std::clamp(v / 100.0f, 0.01f, 1.0f);
    else if (widget == t.flow) app->brush.flow = std::clamp(v / 100.0f, 0.01f, 1.0f);
    else if (widget == t.hardness) app->brush.hardness = std::clamp(v / 100.0f, 0.0f, 1.0f);
    else return;
    app->preset = -1;
    for (int id : t.presets) q_gui_button_set_toggled(app->gui.ctx, id, 0);
    if (widget == t.size) tavolix_gui_placed_float_restyle(app);
    relaid(app);
}

void _on_palette_select(int, int index, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (index < 0 || index >= palette_count(&app->palettes)) return;
    palette_select(&app->palettes, index);
    app->gui.edit_swatch = -1;
    tavolix_gui_sync(app);
    tavolix_app_palette_persist(app);
    changed(app);
}

void _on_swatch(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    const int swatch = index_in(gui->tb.swatches, 8, widget);
    if (swatch < 0) return;
    if (gui->palette_editing) {
        unsigned char rgba[4];
        al_unmap_rgba(app->brush.color, &rgba[0], &rgba[1], &rgba[2], &rgba[3]);
        const uint8_t rgb[3] = {rgba[0], rgba[1], rgba[2]};
        if (palette_assign(&app->palettes, swatch, rgb)) {
            gui->edit_swatch = swatch;
            tavolix_gui_palette_changed(app);
            tavolix_app_palette_persist(app);
        }
    } else {
        brush_takes_swatch(app, swatch);
        tavolix_gui_placed_float_restyle(app);
        tavolix_gui_sync(app);
    }
    changed(app);
}

void _on_palette_edit(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    gui->palette_editing = !gui->palette_editing;
    if (gui->palette_editing) {
        gui->edit_swatch = -1;
    } else if (gui->edit_swatch >= 0) {
        brush_takes_swatch(app, gui->edit_swatch);
        gui->edit_swatch = -1;
    }
    tavolix_gui_sync(app);
    changed(app);
}

void _on_palette_new(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (palette_new_from_active(&app->palettes)) {
        app->gui.edit_swatch = -1;
        _gui_fill_palettes(app);
        tavolix_gui_sync(app);
        tavolix_app_palette_persist(app);
    }
    changed(app);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Symmetry, file and settings
// --------------------------------------------------------------------------------------------

void _on_sym_mode(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (app->gui.sync_guard) return;
    app->symmetry.mode = (app->symmetry.mode + 1) % 5;
    tavolix_gui_sync(app);
    changed(app);
}

void _on_sym_move(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    app->sym_move = !app->sym_move;
    app->sym_drag = false;
    tavolix_gui_sync(app);
    changed(app);
}

void _on_sym_count(int, double value, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (app->gui.sync_guard) return;
    app->symmetry.count = std::clamp(static_cast<int>(value + 0.5), 2, 12);
    changed(app);
}

void _on_sym_reset(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (app->doc) {
        app->symmetry.center[0] = static_cast<float>(app->doc->width) / 2;
        app->symmetry.center[1] = static_cast<float>(app->doc->height) / 2;
    }
    tavolix_gui_sync_symmetry(app);
    changed(app);
}

void _on_save(int, void* user) { tavolix_gui_request_save(app_of(user)); }

void _on_load(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _gui_load(app);
    relaid(app);
}

void _on_setting_toggle(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (widget == app->gui.tb.pressure) app->pressure_from_speed = !app->pressure_from_speed;
    else if (widget == app->gui.tb.pen_size) app->pen_size = !app->pen_size;
    else app->palm_rejection = !app->palm_rejection;
    tavolix_app_settings_persist(app);
    tavolix_gui_sync(app);
    changed(app);
}

void _on_pen_curve(int, int index, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (index < 0 || index >= PEN_CURVE_COUNT || index == app->pen_curve) return;
    app->pen_curve = index;
    q_log(6, "pen pressure curve %s", pen_curve_name(index));
    tavolix_app_settings_persist(app);
    changed(app);
}

void _on_language(int, int index, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (index < 0 || index >= 4 || index == app->language - 1) return;
    app->language = index + 1;
    tavolix_lang_set(app->language);
    q_log(6, "language %s", tavolix_lang_name(app->language));
    tavolix_app_settings_persist(app);
    app->gui.rebuild_pending = true;
    relaid(app);
}

void _on_ui_size(int, int index, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (index < 0 || index >= 4 || index == app->ui_size) return;
    app->ui_size = index;
    tavolix_app_update_ui_scale(app);
    tavolix_app_reload_font(app);
    q_log(6, "interface size %d, scale %.2f", index, static_cast<double>(app->ui_scale));
    tavolix_app_settings_persist(app);
    app->gui.rebuild_pending = true;
    relaid(app);
}

void _on_exit(int, void* user) { tavolix_gui_request_quit(app_of(user)); }

// --------------------------------------------------------------------------------------------
// [SECTION] Layers, template and grid
// --------------------------------------------------------------------------------------------

void _on_layer_select(int, int index, int selected, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (app->gui.sync_guard || !selected || !app->doc) return;
    _gui_commit_first(app);
    const int count = static_cast<int>(document_layer_count(app->doc));
    const int layer = gui_layer_of_row(index, count);
    if (layer >= 0) app->doc->active_layer = document_layer_at(app->doc, static_cast<size_t>(layer));
    tavolix_gui_sync_layers(app);
    changed(app);
}

void _on_layer_add(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (!app->doc) return;
    _gui_commit_first(app);
    if (LAYER* layer = document_add_layer(app->doc, nullptr))
        undo_record_layer_add(app->doc, layer, document_layer_count(app->doc) - 1);
    tavolix_gui_sync_layers(app);
    changed(app);
}

void _on_layer_remove(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    DOCUMENT* doc = app->doc;
    if (!doc) return;
    _gui_commit_first(app);
    size_t index = 0;
    if (document_layer_count(doc) < 2 || !document_layer_index(doc, doc->active_layer, &index))
        return;
    LAYER* layer = document_detach_layer(doc, index);
    if (layer && !undo_record_layer_remove(doc, layer, index)) {
        // The history could not take it: the layer goes back where it was.
        if (!document_insert_layer(doc, layer, index)) layer_free(&layer);
    }
    tavolix_gui_sync_layers(app);
    changed(app);
}

void _on_layer_move(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    DOCUMENT* doc = app->doc;
    size_t i = 0;
    if (!doc || !document_layer_index(doc, doc->active_layer, &i)) return;
    const size_t count = document_layer_count(doc);
    const bool up = widget == app->gui.lp.up;
    if (up ? i + 1 >= count : i == 0) return;
    const size_t to = up ? i + 1 : i - 1;
    if (document_move_layer(doc, i, to)) {
        undo_record_layer_move(doc, i, to);
        tavolix_gui_sync_layers(app);
    }
    changed(app);
}

void _on_layer_check(int widget, int checked, void* user) {
    TAVOLIX_APP* app = app_of(user);
    LAYER* layer = active_layer(app);
    if (app->gui.sync_guard || !layer) return;
    if (widget == app->gui.lp.show) layer->visible = checked != 0;
    else layer->locked = checked != 0;
    document_mark_changed(app->doc);
    tavolix_gui_sync_layers(app);
    changed(app);
}

void _on_layer_blend(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    LAYER* layer = active_layer(app);
    if (app->gui.sync_guard || !layer) return;
    layer->blend = (layer->blend + 1) % 4;
    document_mark_changed(app->doc);
    tavolix_gui_sync_layers(app);
    changed(app);
}

void _on_layer_opacity(int, double value, void* user) {
    TAVOLIX_APP* app = app_of(user);
    LAYER* layer = active_layer(app);
    if (app->gui.sync_guard || !layer) return;
    layer->opacity = std::clamp(static_cast<float>(value) / 100.0f, 0.0f, 1.0f);
    document_mark_changed(app->doc);
    changed(app);
}

void _on_template(int, int index, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (app->gui.sync_guard || !app->doc) return;
    app->doc->template_index = (index < 0 || index >= template_count()) ? 0 : index;
    document_mark_changed(app->doc);
    changed(app);
}

void _on_grid_toggle(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    const GUI_PANEL_IDS& p = app->gui.lp;
    if (widget == p.grid) app->grid.visible = !app->grid.visible;
    else if (widget == p.snap) app->grid.snap = !app->grid.snap;
    else if (widget == p.diagonals) app->grid.diagonals = !app->grid.diagonals;
    tavolix_gui_sync(app);
    changed(app);
}

void _on_grid_size(int, double value, void* user) {
    TAVOLIX_APP* app = app_of(user);
    if (app->gui.sync_guard) return;
    app->grid.size = std::clamp(static_cast<float>(std::lround(value)), 2.0f, 256.0f);
    changed(app);
}

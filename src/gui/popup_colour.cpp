// ============================================================================================
// Popups of colours, palettes and the brush tip
//   [SECTION] Colour picker
//   [SECTION] Palette name and palette manager
//   [SECTION] Brush tip
//   [SECTION] Builder
// ============================================================================================
#include <algorithm>

#include "gui/gui_internal.h"
#include "i18n.h"
#include "q/q_common.h"
#include "q/q_gui.h"
#include "tavolix_app.h"

namespace {

TAVOLIX_APP* app_of(void* user) { return static_cast<TAVOLIX_APP*>(user); }

constexpr uint32_t POPUP_FLAGS = Q_GUI_WINDOW_FIXED_POSITION | Q_GUI_WINDOW_NO_TITLEBAR;

// --------------------------------------------------------------------------------------------
// [SECTION] Colour picker
// --------------------------------------------------------------------------------------------

void show_picker(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    if (!gui->ctx) return;
    const unsigned char* c = gui->picker_rgba;
    _theme_color_button(gui->ctx, gui->pp.picker_preview, al_map_rgb(c[0], c[1], c[2]));
    for (int i = 0; i < 4; i++) q_gui_slider_set_value(gui->ctx, gui->pp.picker_sliders[i], c[i]);
    gui->gui_cache_valid = false;
}

void on_picker_slider(int widget, double value, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    for (int i = 0; i < 4; i++) {
        if (gui->pp.picker_sliders[i] != widget) continue;
        gui->picker_rgba[i] = static_cast<unsigned char>(std::clamp(value + 0.5, 0.0, 255.0));
        const unsigned char* c = gui->picker_rgba;
        _theme_color_button(gui->ctx, gui->pp.picker_preview, al_map_rgb(c[0], c[1], c[2]));
    }
    gui->gui_cache_valid = false;
    app->redraw = true;
}

void on_picker_ok(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    _popup_close(app, GUI_POPUP_PICKER);
    const unsigned char* c = gui->picker_rgba;
    app->brush.color = al_map_rgba_f(c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f, c[3] / 255.0f);
    app->brush.mode = BRUSH_MODE_PAINT;
    gui->selected_swatch = 8;
    tavolix_gui_placed_float_restyle(app);
    tavolix_gui_sync(app);
}

void on_picker_cancel(int, void* user) { _popup_close(app_of(user), GUI_POPUP_PICKER); }

int build_picker(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_PICKER, "picker", 20 + m.popup_wide, _popup_height(m, 7), false,
                      POPUP_FLAGS, "could not create the color picker popup", &f))
        return 0;
    f.label(tavolix_tr("Pick a color"), 0, 10, f.inner(), Q_GUI_ALIGN_LEFT);
    gui->pp.picker_preview = f.button(" ", 1, 10, f.inner(), nullptr);
    const char* channels[4] = {"R", "G", "B", "A"};
    for (int i = 0; i < 4; i++)
        gui->pp.picker_sliders[i] = f.slider(tavolix_tr(channels[i]), 26, 2 + i, 0, 255,
                                             gui->picker_rgba[i], "%.0f", on_picker_slider);
    gui->pp.ok[GUI_POPUP_PICKER] = f.ok(tavolix_tr("OK"), 6, on_picker_ok);
    gui->pp.cancel[GUI_POPUP_PICKER] = f.cancel(tavolix_tr("Cancel"), 6, on_picker_cancel);
    show_picker(app);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Palette name and palette manager
// --------------------------------------------------------------------------------------------

bool user_palette_active(const TAVOLIX_APP* app) {
    return palette_is_user(&app->palettes, app->palettes.active) == 1;
}

void on_palette_name_ok(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _popup_close(app, GUI_POPUP_PALETTE_NAME);
    if (!palette_rename_active(&app->palettes, _popup_field_text(app, GUI_POPUP_PALETTE_NAME)))
        return;
    tavolix_gui_palette_changed(app);
    tavolix_app_palette_persist(app);
}

void on_palette_name_cancel(int, void* user) { _popup_close(app_of(user), GUI_POPUP_PALETTE_NAME); }

void on_manage(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    _popup_close(app, GUI_POPUP_PALETTE_MANAGER);
    const char* name = palette_name(&app->palettes, app->palettes.active);
    if (widget == gui->pp.manage[0]) { // rename
        if (!user_palette_active(app)) {
            _notify_open(app, tavolix_tr("Rename a custom palette (presets are read-only)."));
            return;
        }
        _popup_set_field(app, GUI_POPUP_PALETTE_NAME, name);
        _popup_open(app, GUI_POPUP_PALETTE_NAME);
        _popup_focus_field(app, GUI_POPUP_PALETTE_NAME);
    } else if (widget == gui->pp.manage[1]) { // reset
        palette_reset_active(&app->palettes);
        gui->edit_swatch = -1;
        tavolix_gui_sync(app);
        tavolix_app_palette_persist(app);
    } else if (widget == gui->pp.manage[2]) { // reset all
        _open_confirm(app, GUI_CONFIRM_RESET_PALETTES,
                      tavolix_tr("Reset all palettes to factory default?"), tavolix_tr("Reset"));
    } else if (widget == gui->pp.manage[3]) { // remove
        if (!user_palette_active(app)) {
            _notify_open(app, tavolix_tr("Remove a custom palette (presets are read-only)."));
            return;
        }
        char question[256];
        _utf8_format(question, sizeof question, tavolix_tr("Remove palette %s?"), name);
        _open_confirm(app, GUI_CONFIRM_REMOVE_PALETTE, question, tavolix_tr("Remove"));
    }
}

int build_palette_manager(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_PALETTE_MANAGER, "palmanage", 320,
                      _popup_height(gui->metrics, 6), false, POPUP_FLAGS,
                      "could not create the palette-management popup", &f))
        return 0;
    f.label(tavolix_tr("Manage palettes"), 0, 10, 300, Q_GUI_ALIGN_CENTER);
    const char* actions[4] = {"Rename palette", "Reset palette", "Reset all palettes", "Remove palette"};
    for (int i = 0; i < 4; i++) gui->pp.manage[i] = f.button(tavolix_tr(actions[i]), 1 + i, 10, 300, on_manage);
    gui->pp.cancel[GUI_POPUP_PALETTE_MANAGER] = f.centred(tavolix_tr("Close"), 5, on_manage);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Brush tip
// --------------------------------------------------------------------------------------------

void on_tip_shape(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    for (int i = 0; i < 7; i++)
        if (app->gui.pp.tips[i] == widget) app->brush.tip = i;
    _popup_close(app, GUI_POPUP_TIP);
    tavolix_gui_sync(app);
}

void on_tip_cancel(int, void* user) { _popup_close(app_of(user), GUI_POPUP_TIP); }

int build_tip(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_TIP, "tip", 20 + m.popup_wide, _popup_height(m, 6), false,
                      POPUP_FLAGS, "could not create the tip popup", &f))
        return 0;
    f.label(tavolix_tr("Brush tip shape"), 0, 10, f.inner(), Q_GUI_ALIGN_LEFT);
    const float half = (f.inner() - m.gap) / 2;
    for (int i = 0; i < 7; i++) {
        const char* name = brush_tip_shape_name(i);
        gui->pp.tips[i] = f.button(name ? tavolix_tr(name) : "NULL", 1 + i / 2,
                                   10 + static_cast<float>(i % 2) * (half + m.gap), half, on_tip_shape);
    }
    gui->pp.cancel[GUI_POPUP_TIP] = f.cancel(tavolix_tr("Cancel"), 5, on_tip_cancel);
    return 1;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Builder
// --------------------------------------------------------------------------------------------

void _open_picker(TAVOLIX_APP* app) {
    q_assert(app, return);
    unsigned char* c = app->gui.picker_rgba;
    const ALLEGRO_COLOR b = app->brush.color;
    const float channels[4] = {b.r, b.g, b.b, b.a};
    for (int i = 0; i < 4; i++)
        c[i] = static_cast<unsigned char>(std::clamp(channels[i], 0.0f, 1.0f) * 255.0f + 0.5f);
    show_picker(app);
    _popup_open(app, GUI_POPUP_PICKER);
}

void _open_palette_manager(TAVOLIX_APP* app) {
    q_assert(app, return);
    _popup_open(app, GUI_POPUP_PALETTE_MANAGER);
}

void _open_tip(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (!app->stroke.active) _popup_open(app, GUI_POPUP_TIP);
}

int _build_colour_popups(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    return _build_name_popup(app, GUI_POPUP_PALETTE_NAME, "palname", "Palette name", "OK", 31,
                             on_palette_name_ok, on_palette_name_cancel,
                             "could not create the palette-name popup") &&
           build_palette_manager(app) && build_picker(app) && build_tip(app);
}

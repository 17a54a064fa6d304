// ============================================================================================
// Popups of colours, palettes and the brush tip
//   [SECTION] Colour picker
//   [SECTION] Palette name and palette manager
//   [SECTION] Brush tip
//   [SECTION] Builder
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

namespace {

TAVOLIX_APP* app_of(void* user) { return static_cast<TAVOLIX_APP*>(user); }

constexpr uint32_t POPUP_FLAGS = Q_GUI_WINDOW_FIXED_POSITION | Q_GUI_WINDOW_NO_TITLEBAR;

// --------------------------------------------------------------------------------------------
// [SECTION] Colour picker
// --------------------------------------------------------------------------------------------

// A label's width for a text: the text between the label padding on both sides.
float text_width(TAVOLIX_APP* app, const char* text) {
    if (!app->font || !app->gui.ctx) return 0.0f;
    return static_cast<float>(al_get_text_width(app->font, text)) + 1.0f +
           2.0f * app->gui.ctx->style.label_padding;
}

// The picker's colour as the wheel sees it, keeping the wheel's hue for a grey.
void hsv_from_rgba(TAVOLIX_GUI* gui) {
    const unsigned char* c = gui->picker_rgba;
    float* hsv = gui->picker_hsv;
    q_gui_rgb_to_hsv(c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f, &hsv[0], &hsv[1], &hsv[2]);
}

// Every part of the popup shows the picker's colour; the widget the change came from is left
// alone, so a drag or the text being typed is not disturbed.
void show_picker(TAVOLIX_APP* app, int source = -1) {
    TAVOLIX_GUI* gui = &app->gui;
    if (!gui->ctx) return;
    Q_GUI_CTX* ctx = gui->ctx;
    const unsigned char* c = gui->picker_rgba;
    _theme_color_button(ctx, gui->pp.picker_preview, al_map_rgb(c[0], c[1], c[2]));
    for (int i = 0; i < 4; i++)
        if (gui->pp.picker_sliders[i] != source)
            q_gui_slider_set_value(ctx, gui->pp.picker_sliders[i], c[i]);
    if (gui->pp.picker_wheel != source)
        q_gui_colorwheel_set_hsv(ctx, gui->pp.picker_wheel, gui->picker_hsv[0], gui->picker_hsv[1],
                                 gui->picker_hsv[2]);
    const int field = gui->popup_field[GUI_POPUP_PICKER];
    if (field != source) {
        char hex[16];
        _rgba_to_hex(c, hex, sizeof hex);
        _popup_set_field(app, GUI_POPUP_PICKER, hex);
    }
    const RECENT_COLOURS& recent = app->recent;
    for (int i = 0; i < RECENT_COLOUR_COUNT; i++) {
        const int id = gui->pp.picker_recent[i];
        const bool used = i < recent.count;
        q_gui_set_widget_enabled(ctx, id, used ? 1 : 0);
        if (used) {
            const unsigned char* r = recent.rgba[i];
            _theme_color_button(ctx, id, al_map_rgb(r[0], r[1], r[2]));
        }
    }
    gui->gui_cache_valid = false;
    app->redraw = true;
}

void on_picker_slider(int widget, double value, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    for (int i = 0; i < 4; i++) {
        if (gui->pp.picker_sliders[i] != widget) continue;
        gui->picker_rgba[i] = static_cast<unsigned char>(std::clamp(value + 0.5, 0.0, 255.0));
        if (i < 3) hsv_from_rgba(gui);
        show_picker(app, widget);
    }
}

void on_picker_wheel(int widget, float h, float s, float v, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    gui->picker_hsv[0] = h;
    gui->picker_hsv[1] = s;
    gui->picker_hsv[2] = v;
    float rgb[3];
    q_gui_hsv_to_rgb(h, s, v, &rgb[0], &rgb[1], &rgb[2]);
    for (int i = 0; i < 3; i++)
        gui->picker_rgba[i] = static_cast<unsigned char>(std::clamp(rgb[i], 0.0f, 1.0f) * 255.0f + 0.5f);
    show_picker(app, widget);
}

void on_picker_recent(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    for (int i = 0; i < app->recent.count && i < RECENT_COLOUR_COUNT; i++) {
        if (gui->pp.picker_recent[i] != widget) continue;
        memcpy(gui->picker_rgba, app->recent.rgba[i], 4);
        hsv_from_rgba(gui);
        show_picker(app);
    }
}

// Text that is not a colour is refused where it would be taken: the field goes back to the
// colour the picker holds, which it never left.
bool take_hex_field(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    const char* text = _popup_field_text(app, GUI_POPUP_PICKER);
    unsigned char rgba[4];
    if (_hex_to_rgba(text, rgba)) return true;
    q_log(4, "colour picker: refused \"%.40s\", not a colour (#RRGGBB or #RRGGBBAA)", text);
    char hex[16];
    _rgba_to_hex(gui->picker_rgba, hex, sizeof hex);
    _popup_set_field(app, GUI_POPUP_PICKER, hex);
    gui->gui_cache_valid = false;
    return false;
}

void on_picker_ok(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    if (!take_hex_field(app)) return;
    _popup_close(app, GUI_POPUP_PICKER);
    const unsigned char* c = gui->picker_rgba;
    app->brush.color = al_map_rgba_f(c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f, c[3] / 255.0f);
    app->brush.mode = BRUSH_MODE_PAINT;
    gui->selected_swatch = 8;
    q_log(6, "colour picker: brush colour #%02x%02x%02x%02x", c[0], c[1], c[2], c[3]);
    tavolix_gui_placed_float_restyle(app);
    tavolix_gui_sync(app);
}

void on_picker_cancel(int, void* user) { _popup_close(app_of(user), GUI_POPUP_PICKER); }

// The wheel fills rows 2 to 7 on the left; the channels, the hex field and the recent colours
// stand right of it; OK and Cancel close the popup on row 8.
int build_picker(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_PICKER, "picker", 20 + m.popup_wide, _popup_height(m, 9),
                      false, POPUP_FLAGS, "could not create the color picker popup", &f))
        return 0;
    f.label(tavolix_tr("Pick a color"), 0, 10, f.inner(), Q_GUI_ALIGN_LEFT);
    gui->pp.picker_preview = f.button(" ", 1, 10, f.inner(), nullptr);
    const float side = 6 * m.row + 5 * m.gap;
    gui->pp.picker_wheel =
        q_gui_add_colorwheel(f.ctx, f.window, 10, f.top(2), side, side, on_picker_wheel, app);
    const float left = 10 + side + m.gap;
    const float right_w = f.inner() - side - m.gap;
    const char* channels[4] = {"R", "G", "B", "A"};
    const float caption = std::max({26 * m.k, text_width(app, tavolix_tr("Hex")),
                                    text_width(app, tavolix_tr("Recent"))}) + m.gap;
    for (int i = 0; i < 4; i++)
        gui->pp.picker_sliders[i] = f.slider(tavolix_tr(channels[i]), caption, 2 + i, 0, 255,
                                             gui->picker_rgba[i], "%.0f", on_picker_slider, left);
    f.label(tavolix_tr("Hex"), 6, left, caption, Q_GUI_ALIGN_LEFT);
    const float field_w = std::min(right_w - caption, std::max(text_width(app, "#MMMMMMMM") + 12, 110 * m.k));
    f.field(GUI_POPUP_PICKER, 6, left + caption, field_w, 9);
    f.label(tavolix_tr("Recent"), 7, left, caption, Q_GUI_ALIGN_LEFT);
    const float cell = (right_w - caption - (RECENT_COLOUR_COUNT - 1) * 2.0f) / RECENT_COLOUR_COUNT;
    for (int i = 0; i < RECENT_COLOUR_COUNT; i++)
        gui->pp.picker_recent[i] =
            f.button(" ", 7, left + caption + static_cast<float>(i) * (cell + 2.0f), cell, on_picker_recent);
    gui->pp.ok[GUI_POPUP_PICKER] = f.ok(tavolix_tr("OK"), 8, on_picker_ok);
    gui->pp.cancel[GUI_POPUP_PICKER] = f.cancel(tavolix_tr("Cancel"), 8, on_picker_cancel);
    const int field = gui->popup_field[GUI_POPUP_PICKER];
    q_gui_button_set_keycode_focused(f.ctx, gui->pp.ok[GUI_POPUP_PICKER], ALLEGRO_KEY_ENTER, 0,
                                     &field, 1);
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
    hsv_from_rgba(&app->gui);
    show_picker(app);
    _popup_open(app, GUI_POPUP_PICKER);
}

void _on_picker_hex_edit(TAVOLIX_APP* app, const char* text) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    unsigned char rgba[4];
    if (!text || !_hex_to_rgba(text, rgba) || memcmp(rgba, gui->picker_rgba, 4) == 0) return;
    memcpy(gui->picker_rgba, rgba, 4);
    hsv_from_rgba(gui);
    show_picker(app, gui->popup_field[GUI_POPUP_PICKER]);
}

int _hex_to_rgba(const char* text, unsigned char rgba[4]) {
    q_assert(text && rgba, return 0);
    if (*text == '#') text++;
    const size_t n = strlen(text);
    if (n != 6 && n != 8) return 0;
    unsigned char out[4] = {0, 0, 0, 255};
    for (size_t i = 0; i < n; i++) {
        const char ch = text[i];
        int digit = -1;
        if (ch >= '0' && ch <= '9') digit = ch - '0';
        else if (ch >= 'a' && ch <= 'f') digit = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F') digit = ch - 'A' + 10;
        if (digit < 0) return 0;
        out[i / 2] = static_cast<unsigned char>(i % 2 ? out[i / 2] | digit : digit << 4);
    }
    memcpy(rgba, out, 4);
    return 1;
}

void _rgba_to_hex(const unsigned char rgba[4], char* out, size_t size) {
    q_assert(rgba && out && size > 0, return);
    if (rgba[3] == 255) snprintf(out, size, "#%02x%02x%02x", rgba[0], rgba[1], rgba[2]);
    else snprintf(out, size, "#%02x%02x%02x%02x", rgba[0], rgba[1], rgba[2], rgba[3]);
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

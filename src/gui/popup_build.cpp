// ============================================================================================
// The popups' common ground
//   [SECTION] Frame: window, rows and buttons
//   [SECTION] Opening, closing and the fields' focus
//   [SECTION] Field texts
//   [SECTION] Building and bringing back after a rebuild
//
// Every popup is a toolkit window on the popup layer, built closed with the rest of the GUI
// and rebuilt with it. What a popup shows (messages, field texts, slider values, the list) is
// kept in the GUI record, so a rebuild in the middle of a dialog is invisible to the user.
// ============================================================================================
#include <allegro5/allegro_font.h>

#include <algorithm>

#include "gui/gui_internal.h"
#include "i18n.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_gui.h"
#include "tavolix_app.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Frame: window, rows and buttons
// --------------------------------------------------------------------------------------------

int GUI_POPUP_FRAME::label(const char* text, int index, float x, float width, int align) const {
    return q_gui_add_label(ctx, window, text, x, top(index), width, row, align);
}

int GUI_POPUP_FRAME::button(const char* text, int index, float x, float width,
                            void (*cb)(int, void*), bool toggle) const {
    return toggle ? q_gui_add_toggle_button(ctx, window, text, x, top(index), width, row, 1, 0,
                                            cb, app)
                  : q_gui_add_button(ctx, window, text, x, top(index), width, row, 1, cb, app);
}

float GUI_POPUP_FRAME::button_w(const char* text) const {
    // Dialog buttons are 110 wide unless their text needs more, as longer translations do.
    const float padding = 2.0f * ctx->style.label_padding + 8.0f * k;
    const float needed = app->font ? static_cast<float>(al_get_text_width(app->font, text)) + padding : 0.0f;
    return std::max(110.0f * k, needed);
}

int GUI_POPUP_FRAME::ok(const char* text, int index, void (*cb)(int, void*)) const {
    const float width = button_w(text);
    return button(text, index, w / 2 - gap - width, width, cb);
}

int GUI_POPUP_FRAME::cancel(const char* text, int index, void (*cb)(int, void*)) const {
    return button(text, index, w / 2 + gap, button_w(text), cb);
}

int GUI_POPUP_FRAME::centred(const char* text, int index, void (*cb)(int, void*)) const {
    const float width = button_w(text);
    return button(text, index, (w - width) / 2, width, cb);
}

namespace {

void on_field_edit(int widget, const char* text, void* user) {
    TAVOLIX_APP* app = static_cast<TAVOLIX_APP*>(user);
    TAVOLIX_GUI* gui = &app->gui;
    for (int p = 0; p < GUI_POPUP_COUNT; p++) {
        if (gui->popup_field[p] != widget) continue;
        if (p == GUI_POPUP_TEXT) _on_text_field_change(app, text);
        else _utf8_copy(gui->popup_text[p], sizeof gui->popup_text[p], text);
        if (p == GUI_POPUP_PICKER) _on_picker_hex_edit(app, text);
        return;
    }
}

} // namespace

int GUI_POPUP_FRAME::field(int popup, int index, float x, float width, int bytes, int rows) const {
    const float height = static_cast<float>(rows) * row + static_cast<float>(rows - 1) * gap;
    const int id = q_gui_add_textarea(ctx, window, x, top(index), width, height, rows > 1 ? 1 : 0,
                                      bytes, on_field_edit, app);
    app->gui.popup_field[popup] = id;
    q_gui_textarea_set_text(ctx, id, _popup_field_text(app, popup));
    return id;
}

int GUI_POPUP_FRAME::slider(const char* caption, float caption_w, int index, double min,
                            double max, double value, const char* format,
                            void (*cb)(int, double, void*), float left) const {
    TAVOLIX_GUI* gui = &app->gui;
    const float room = _gui_slider_value_room(app, min, max, format);
    label(caption, index, left, caption_w, Q_GUI_ALIGN_LEFT);
    const float x = left + caption_w;
    const float w = inner() - (left - 10) - caption_w - room - _gui_slider_knob_reach(app, row);
    const int id = q_gui_add_slider(ctx, window, x, top(index), w, row, min, max, value,
                                    Q_GUI_SLIDER_RANGE, cb, app);
    q_gui_slider_set_step(ctx, id, 1.0);
    q_gui_slider_set_value_visible(ctx, id, 0);
    const int readout = label("", index, 10 + inner() - room, room, Q_GUI_ALIGN_RIGHT);
    if (id >= 0 && gui->slider_value_count < GUI_SLIDER_SLOTS)
        gui->slider_values[gui->slider_value_count++] = {id, readout, format};
    return id;
}

float _popup_height(const GUI_METRICS& m, int rows) {
    return 20.0f + static_cast<float>(rows) * m.row + static_cast<float>(rows - 1) * m.gap;
}

int _popup_frame(TAVOLIX_APP* app, int popup, const char* title, float w, float h, bool at_top,
                 uint32_t flags, const char* failure, GUI_POPUP_FRAME* out) {
    q_assert(app && out, return 0);
    TAVOLIX_GUI* gui = &app->gui;
    const float dw = static_cast<float>(app->display_w), dh = static_cast<float>(app->display_h);
    // A display smaller than the popup keeps its top-left corner on screen.
    const float x = std::max(0.0f, (dw - w) / 2);
    const float y = at_top ? 10.0f : std::max(0.0f, (dh - h) / 2);
    const int id = q_gui_add_window(gui->ctx, title, x, y, w, h);
    if (id < 0) {
        q_log(3, "%s", failure);
        return 0;
    }
    q_gui_window_set_flags(gui->ctx, id, flags);
    q_gui_window_set_zorder(gui->ctx, id, Q_GUI_ZORDER_POPUP, 0);
    q_gui_close_window(gui->ctx, id);
    // A dialog over a panel is read on its own: no panel showing through it.
    if (Q_GUI_WINDOW* win = q_gui_get_window(gui->ctx, id)) win->theme.bg_normal.a = 1.0f;
    if (popup >= 0 && popup < GUI_POPUP_COUNT) gui->popup_window[popup] = id;
    const GUI_METRICS& m = gui->metrics;
    *out = GUI_POPUP_FRAME{app, gui->ctx, id, w, m.row, m.gap, m.k};
    return 1;
}

int _build_name_popup(TAVOLIX_APP* app, int popup, const char* title, const char* caption,
                     const char* ok, int bytes, void (*on_ok)(int, void*),
                     void (*on_cancel)(int, void*), const char* failure) {
    TAVOLIX_GUI* gui = &app->gui;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, popup, title, 20 + gui->metrics.popup_wide, _popup_height(gui->metrics, 3), true,
                      Q_GUI_WINDOW_FIXED_POSITION | Q_GUI_WINDOW_NO_TITLEBAR, failure, &f))
        return 0;
    f.label(tavolix_tr(caption), 0, 10, f.inner(), Q_GUI_ALIGN_LEFT);
    const int field = f.field(popup, 1, 10, f.inner(), bytes);
    gui->pp.ok[popup] = f.ok(tavolix_tr(ok), 2, on_ok);
    gui->pp.cancel[popup] = f.cancel(tavolix_tr("Cancel"), 2, on_cancel);
    q_gui_button_set_keycode_focused(gui->ctx, gui->pp.ok[popup], ALLEGRO_KEY_ENTER, 0, &field, 1);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Opening, closing and the fields' focus
// --------------------------------------------------------------------------------------------

void _popup_open(TAVOLIX_APP* app, int popup) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    if (popup < 0 || popup >= GUI_POPUP_COUNT) return;
    gui->popup_open[popup] = true;
    if (gui->ctx && app->gui_visible) {
        for (int window : {gui->popup_window[popup],
                           popup == GUI_POPUP_HELP ? gui->help_tab_window : -1}) {
            q_gui_open_window(gui->ctx, window);
            q_gui_raise_window(gui->ctx, window);
        }
    }
    gui->gui_cache_valid = false;
    app->redraw = true;
}

void _popup_close(TAVOLIX_APP* app, int popup) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    if (popup < 0 || popup >= GUI_POPUP_COUNT) return;
    gui->popup_open[popup] = false;
    if (gui->ctx) {
        q_gui_close_window(gui->ctx, gui->popup_window[popup]);
        if (popup == GUI_POPUP_HELP) q_gui_close_window(gui->ctx, gui->help_tab_window);
        const int field = gui->popup_field[popup];
        if (field >= 0 && q_gui_get_focus(gui->ctx) == field) {
            q_gui_set_focus(gui->ctx, -1);
            platform_hide_keyboard();
        }
    }
    if (gui->focus_when_hidden == gui->popup_field[popup]) gui->focus_when_hidden = -1;
    gui->gui_cache_valid = false;
    app->redraw = true;
}

void _popup_focus_field(TAVOLIX_APP* app, int popup) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    if (!gui->ctx || popup < 0 || popup >= GUI_POPUP_COUNT || gui->popup_field[popup] < 0) return;
    const int field = gui->popup_field[popup];
    q_gui_set_focus(gui->ctx, field);
    // Typing replaces what the field was opened with.
    q_gui_textarea_set_selection(gui->ctx, field, 0, q_gui_textarea_get_text_length(gui->ctx, field));
    platform_show_keyboard();
}

// --------------------------------------------------------------------------------------------
// [SECTION] Field texts
// --------------------------------------------------------------------------------------------

void _popup_set_field(TAVOLIX_APP* app, int popup, const char* text) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    if (popup < 0 || popup >= GUI_POPUP_COUNT) return;
    if (popup == GUI_POPUP_TEXT) _utf8_copy(app->text, sizeof app->text, text);
    else _utf8_copy(gui->popup_text[popup], sizeof gui->popup_text[popup], text);
    if (!gui->ctx || gui->popup_field[popup] < 0) return;
    q_gui_textarea_set_text(gui->ctx, gui->popup_field[popup], text ? text : "");
    // The field may hold less than the record (its own byte limit): the record follows it.
    const char* shown = q_gui_textarea_get_text(gui->ctx, gui->popup_field[popup]);
    if (popup == GUI_POPUP_TEXT) _utf8_copy(app->text, sizeof app->text, shown);
    else _utf8_copy(gui->popup_text[popup], sizeof gui->popup_text[popup], shown);
}

const char* _popup_field_text(TAVOLIX_APP* app, int popup) {
    q_assert(app, return "");
    if (popup == GUI_POPUP_TEXT) return app->text;
    if (popup < 0 || popup >= GUI_POPUP_COUNT) return "";
    return app->gui.popup_text[popup];
}

// --------------------------------------------------------------------------------------------
// [SECTION] Building and bringing back after a rebuild
// --------------------------------------------------------------------------------------------

int _build_popups(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    TAVOLIX_GUI* gui = &app->gui;
    q_assert(gui->ctx, return 0);
    const int built =
        _build_misc_popups(app) && _build_file_popups(app) && _build_colour_popups(app);
    // Bring back what was open, the least urgent first, so the popup Escape would close
    // first is also the one on top.
    for (int p = GUI_POPUP_COUNT - 1; p >= 0; p--)
        if (gui->popup_open[p] && gui->popup_window[p] >= 0) _popup_open(app, p);
    for (int p = 0; p < GUI_POPUP_COUNT; p++) {
        if (gui->popup_open[p] && gui->popup_field[p] >= 0 && p != GUI_POPUP_EXPORT &&
            p != GUI_POPUP_NEW_DOC) {
            if (app->gui_visible) q_gui_set_focus(gui->ctx, gui->popup_field[p]);
            else gui->focus_when_hidden = gui->popup_field[p];
            break;
        }
    }
    return built ? 1 : 0;
}

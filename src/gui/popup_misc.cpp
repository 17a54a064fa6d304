// ============================================================================================
// Popups that ask, tell and name
//   [SECTION] Confirmation
//   [SECTION] Notification
//   [SECTION] Layer rename
//   [SECTION] Text
//   [SECTION] Language
//   [SECTION] Help
//   [SECTION] Builder
// ============================================================================================
#include <allegro5/allegro_font.h>

#include <algorithm>
#include <cstring>

#include "canvas/fill.h"
#include "gui/gui_internal.h"
#include "gui/help_data.h"
#include "i18n.h"
#include "q/q_common.h"
#include "q/q_gui.h"
#include "tavolix_app.h"

namespace {

TAVOLIX_APP* app_of(void* user) { return static_cast<TAVOLIX_APP*>(user); }

constexpr uint32_t POPUP_FLAGS = Q_GUI_WINDOW_FIXED_POSITION | Q_GUI_WINDOW_NO_TITLEBAR;
constexpr uint32_t SCROLLING_POPUP_FLAGS = POPUP_FLAGS | Q_GUI_WINDOW_SCROLLABLE;

float wide(const GUI_METRICS& m) { return 20.0f + m.popup_wide; }

// --------------------------------------------------------------------------------------------
// [SECTION] Confirmation
// --------------------------------------------------------------------------------------------

const char* confirm_label_of(int mode) {
    switch (mode) {
    case GUI_CONFIRM_RESET_PALETTES: return "Reset";
    case GUI_CONFIRM_QUIT: return "Quit";
    case GUI_CONFIRM_REMOVE_PALETTE: return "Remove";
    case GUI_CONFIRM_REPLACE_FILE: return "Replace";
    default: return "Clear";
    }
}

void clear_active_layer(TAVOLIX_APP* app) {
    if (!app->doc) return;
    _gui_commit_first(app);
    if (fill_clear(app->doc) == 1) {
        tavolix_gui_sync_layers(app);
    } else if (app->doc->active_layer && app->doc->active_layer->locked) {
        _notify_open(app, tavolix_tr("The layer is locked."));
    }
}

void on_confirm_yes(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    const int mode = app->gui.confirm_mode;
    _popup_close(app, GUI_POPUP_CONFIRM);
    switch (mode) {
    case GUI_CONFIRM_QUIT:
        q_log(6, "quit confirmed");
        tavolix_app_request_quit(app);
        break;
    case GUI_CONFIRM_REPLACE_FILE:
        q_log(6, "replace confirmed: %s", app->gui.replace_path);
        _save_to(app, app->gui.replace_path, app->gui.replace_file);
        break;
    case GUI_CONFIRM_RESET_PALETTES:
    case GUI_CONFIRM_REMOVE_PALETTE:
        if (mode == GUI_CONFIRM_RESET_PALETTES) palette_reset_all(&app->palettes);
        else if (palette_remove_active(&app->palettes) <= 0) break;
        app->gui.edit_swatch = -1;
        tavolix_gui_palette_changed(app);
        tavolix_app_palette_persist(app);
        break;
    default: clear_active_layer(app); break;
    }
    app->redraw = true;
}

void on_confirm_cancel(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _popup_close(app, GUI_POPUP_CONFIRM);
    if (app->gui.confirm_mode == GUI_CONFIRM_REPLACE_FILE) _save_done(app, false);
}

int build_confirm(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_CONFIRM, "confirm", wide(gui->metrics),
                      _popup_height(gui->metrics, 2), false, POPUP_FLAGS,
                      "could not create the confirmation popup", &f))
        return 0;
    if (!gui->confirm_text[0]) _utf8_copy(gui->confirm_text, sizeof gui->confirm_text, tavolix_tr("Clear the layer?"));
    gui->pp.confirm_label = f.label(gui->confirm_text, 0, 10, gui->metrics.popup_wide, Q_GUI_ALIGN_LEFT);
    gui->pp.ok[GUI_POPUP_CONFIRM] = f.ok(tavolix_tr(confirm_label_of(gui->confirm_mode)), 1, on_confirm_yes);
    gui->pp.cancel[GUI_POPUP_CONFIRM] = f.cancel(tavolix_tr("Cancel"), 1, on_confirm_cancel);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Notification
// --------------------------------------------------------------------------------------------

void on_notify_ok(int, void* user) { _popup_close(app_of(user), GUI_POPUP_NOTIFY); }

int build_notify(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_NOTIFY, "notify", wide(gui->metrics),
                      _popup_height(gui->metrics, 2), false, POPUP_FLAGS,
                      "could not create the notification popup", &f))
        return 0;
    gui->pp.notify_label = f.label(gui->notify_text, 0, 10, gui->metrics.popup_wide, Q_GUI_ALIGN_LEFT);
    // No Enter shortcut here: the routing lets Enter close the notification only when the
    // canvas has nothing for Enter to commit.
    gui->pp.ok[GUI_POPUP_NOTIFY] = f.centred(tavolix_tr("OK"), 1, on_notify_ok);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Layer rename
// --------------------------------------------------------------------------------------------

void on_rename_ok(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _popup_close(app, GUI_POPUP_RENAME);
    LAYER* layer = app->doc ? app->doc->active_layer : nullptr;
    if (!layer) return;
    if (layer_set_name(layer, _popup_field_text(app, GUI_POPUP_RENAME))) {
        document_mark_changed(app->doc);
        q_log(6, "layer renamed to %s", _popup_field_text(app, GUI_POPUP_RENAME));
    }
    tavolix_gui_sync_layers(app);
}

void on_rename_cancel(int, void* user) { _popup_close(app_of(user), GUI_POPUP_RENAME); }

// --------------------------------------------------------------------------------------------
// [SECTION] Text
// --------------------------------------------------------------------------------------------

constexpr const char* TEXT_FONT_NAMES[PLACED_TEXT_FONTS] = {"Sans", "Serif", "Mono", "Bold"};

void show_text_font(TAVOLIX_APP* app) {
    for (int i = 0; i < PLACED_TEXT_FONTS; i++)
        q_gui_button_set_toggled(app->gui.ctx, app->gui.pp.text_fonts[i], i == app->gui.text_font);
}

void on_text_font(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    for (int i = 0; i < PLACED_TEXT_FONTS; i++)
        if (app->gui.pp.text_fonts[i] == widget) _on_text_font_select(app, i);
    show_text_font(app);
    app->gui.gui_cache_valid = false;
    app->redraw = true;
}

void on_text_size(int, double value, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _on_text_size_change(app, static_cast<float>(value));
    app->redraw = true;
}

void on_text_ok(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _popup_close(app, GUI_POPUP_TEXT);
    _on_text_ok(app);
}

void on_text_cancel(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _on_text_cancel(app);
    _popup_close(app, GUI_POPUP_TEXT);
}

int build_text(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    GUI_POPUP_FRAME f;
    // At the top, so the text it places in the middle of the display stays in sight.
    if (!_popup_frame(app, GUI_POPUP_TEXT, "textann", wide(m), _popup_height(m, 7), true,
                      POPUP_FLAGS, "could not create the text popup", &f))
        return 0;
    f.label(tavolix_tr("Add text"), 0, 10, f.inner(), Q_GUI_ALIGN_LEFT);
    f.field(GUI_POPUP_TEXT, 1, 10, f.inner(), static_cast<int>(PLACED_TEXT_BYTES - 1), 3);
    const float quarter = (f.inner() - 3 * m.gap) / 4;
    for (int i = 0; i < PLACED_TEXT_FONTS; i++)
        gui->pp.text_fonts[i] = f.button(tavolix_tr(TEXT_FONT_NAMES[i]), 4,
                                         10 + static_cast<float>(i) * (quarter + m.gap), quarter,
                                         on_text_font, true);
    show_text_font(app);
    gui->pp.text_size = f.slider(tavolix_tr("Size"), 100 * m.k, 5, PLACED_TEXT_SIZE_MIN,
                                 PLACED_TEXT_SIZE_MAX, gui->text_size, "%.0f px", on_text_size);
    gui->pp.ok[GUI_POPUP_TEXT] = f.ok(tavolix_tr("OK"), 6, on_text_ok);
    gui->pp.cancel[GUI_POPUP_TEXT] = f.cancel(tavolix_tr("Cancel"), 6, on_text_cancel);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Language
// --------------------------------------------------------------------------------------------

void on_language(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    int chosen = 0;
    for (int i = 0; i < 4; i++)
        if (app->gui.pp.languages[i] == widget) chosen = i + 1;
    if (!chosen) return;
    _popup_close(app, GUI_POPUP_LANGUAGE);
    app->language = chosen;
    tavolix_lang_set(chosen);
    q_log(6, "language %s", tavolix_lang_name(chosen));
    tavolix_app_settings_persist(app);
    app->gui.rebuild_pending = true;
}

int build_language(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_LANGUAGE, "language", 320, _popup_height(gui->metrics, 5),
                      false, POPUP_FLAGS, "could not create the language popup", &f))
        return 0;
    f.label(tavolix_tr("Choose your language"), 0, 10, 300, Q_GUI_ALIGN_CENTER);
    for (int i = 0; i < 4; i++)
        gui->pp.languages[i] = f.button(tavolix_lang_name(i + 1), i + 1, 10, 300, on_language);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Help
// --------------------------------------------------------------------------------------------

void on_help_close(int, void* user) { _popup_close(app_of(user), GUI_POPUP_HELP); }

void on_help_tab(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    for (int i = 0; i < GUI_HELP_TABS; i++)
        if (app->gui.pp.help_tabs[i] == widget) app->gui.help_tab = i;
    // The body is rebuilt with the rest of the GUI; the help stays open through it.
    app->gui.rebuild_pending = true;
    app->gui.gui_cache_valid = false;
    app->redraw = true;
}

// The header: the title, "Close" and the tab toggles, wrapped into as many rows as they need.
// Returns its height.
float build_help_header(TAVOLIX_APP* app, float x, float y, float w, float total_h) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    const int window = q_gui_add_window(gui->ctx, "help_header", x, y, w, m.row);
    if (window < 0) {
        q_log(3, "could not create the help popup header");
        return -1;
    }
    gui->help_tab_window = window;
    q_gui_window_set_flags(gui->ctx, window, POPUP_FLAGS);
    q_gui_window_set_zorder(gui->ctx, window, Q_GUI_ZORDER_POPUP, 0);
    q_gui_close_window(gui->ctx, window);
    if (Q_GUI_WINDOW* win = q_gui_get_window(gui->ctx, window)) win->theme.bg_normal.a = 1.0f;
    GUI_POPUP_FRAME f{app, gui->ctx, window, w, m.row, m.gap, m.k};
    f.label(tavolix_tr("Tavolix - Help"), 0, 10, w - 30 - 110 * m.k, Q_GUI_ALIGN_LEFT);
    gui->pp.cancel[GUI_POPUP_HELP] =
        f.button(tavolix_tr("Close"), 0, w - 10 - 110 * m.k, 110 * m.k, on_help_close);
    float tab_w = 104;
    for (int i = 0; i < GUI_HELP_TABS; i++)
        tab_w = std::max(tab_w, static_cast<float>(al_get_text_width(app->font, tavolix_tr(help_data_tab(i)->title))) + 18);
    const int selected = gui->help_tab >= 0 && gui->help_tab < GUI_HELP_TABS ? gui->help_tab : 0;
    float tx = 10, ty = f.top(1);
    for (int i = 0; i < GUI_HELP_TABS; i++) {
        if (tx > 10 && tx + tab_w > w - 10 - m.row) {
            tx = 10;
            ty += m.row + m.gap;
        }
        gui->pp.help_tabs[i] = q_gui_add_toggle_button(gui->ctx, window, tavolix_tr(help_data_tab(i)->title),
                                                       tx, ty, tab_w, m.row, 1, i == selected, on_help_tab, app);
        tx += tab_w + m.gap;
    }
    const float h = std::min(ty + m.row + 10, total_h - m.row);
    _gui_set_window_height(gui->ctx, window, h);
    return h;
}

int build_help(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    const float w = std::min(static_cast<float>(app->display_w) - 20, 700 * m.k);
    const float total = std::min(static_cast<float>(app->display_h) - 20, 560 * m.k);
    const float x = (static_cast<float>(app->display_w) - w) / 2;
    const float y = (static_cast<float>(app->display_h) - total) / 2;
    const float header_h = build_help_header(app, x, y, w, total);
    if (header_h < 0) return 0;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_HELP, "help", w, total - header_h, false,
                      SCROLLING_POPUP_FLAGS, "could not create the help popup", &f))
        return 0;
    q_gui_window_set_rect(gui->ctx, f.window, x, y + header_h, w, total - header_h);
    const HELP_TAB* tab = help_data_tab(gui->help_tab);
    const float line_h = 20 * m.k, label_w = w - 20 - m.scrollbar;
    float ly = 8 * m.k;
    for (size_t i = 0; i < tab->count; i++) {
        const HELP_LINE& line = tab->lines[i];
        if (line.key[0]) {
            q_gui_add_label(gui->ctx, f.window, tavolix_tr(line.key), 10, ly, label_w, line_h, Q_GUI_ALIGN_LEFT);
            ly += line_h;
        }
        const float indent = line.key[0] ? 16 * m.k : 0;
        q_gui_add_label(gui->ctx, f.window, tavolix_tr(line.text), 10 + indent, ly, label_w - indent,
                        line_h, Q_GUI_ALIGN_LEFT);
        ly += line_h + 4 * m.k;
    }
    return 1;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Builder
// --------------------------------------------------------------------------------------------

void _open_confirm(TAVOLIX_APP* app, int mode, const char* text, const char* yes) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    gui->confirm_mode = mode;
    _utf8_copy(gui->confirm_text, sizeof gui->confirm_text, text);
    q_log(6, "confirm: %s", gui->confirm_text);
    if (gui->ctx) {
        q_gui_label_set_text(gui->ctx, gui->pp.confirm_label, gui->confirm_text);
        q_gui_button_set_label(gui->ctx, gui->pp.ok[GUI_POPUP_CONFIRM], yes);
    }
    _popup_open(app, GUI_POPUP_CONFIRM);
}

void _notify_open(TAVOLIX_APP* app, const char* text) {
    q_assert(app, return);
    q_assert(text, return);
    TAVOLIX_GUI* gui = &app->gui;
    q_log(6, "notification: %s", text);
    const int limit = static_cast<int>(gui->metrics.popup_wide) - 23;
    _notify_fit(app->font, text, limit, gui->notify_text, sizeof gui->notify_text);
    if (gui->ctx) q_gui_label_set_text(gui->ctx, gui->pp.notify_label, gui->notify_text);
    _popup_open(app, GUI_POPUP_NOTIFY);
}

void _open_rename(TAVOLIX_APP* app) {
    q_assert(app, return);
    const LAYER* layer = app->doc ? app->doc->active_layer : nullptr;
    if (!layer) return;
    _popup_set_field(app, GUI_POPUP_RENAME, layer->name ? layer->name->data : "");
    _popup_open(app, GUI_POPUP_RENAME);
    _popup_focus_field(app, GUI_POPUP_RENAME);
}

void _open_text(TAVOLIX_APP* app) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    _text_edit_begin(app);
    _popup_set_field(app, GUI_POPUP_TEXT, app->text);
    if (gui->ctx) {
        show_text_font(app);
        q_gui_slider_set_value(gui->ctx, gui->pp.text_size, gui->text_size);
    }
    _popup_open(app, GUI_POPUP_TEXT);
    _popup_focus_field(app, GUI_POPUP_TEXT);
}

void _open_help(TAVOLIX_APP* app) {
    q_assert(app, return);
    _popup_open(app, GUI_POPUP_HELP);
}

int _build_misc_popups(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    return build_confirm(app) && build_notify(app) && _build_ask_popup(app) &&
           _build_name_popup(app, GUI_POPUP_RENAME, "layername", "Rename layer", "OK", 63,
                            on_rename_ok, on_rename_cancel, "could not create the layer-rename popup") &&
           build_text(app) && build_language(app) && build_help(app);
}

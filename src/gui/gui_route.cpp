// ============================================================================================
// Routing, popups' open state, visibility, sync and the saved layout
//   [SECTION] Text helpers
//   [SECTION] Events, keyboard and pointer
//   [SECTION] Popups: top popup, quit, save, language, notification
//   [SECTION] Showing and hiding the GUI
//   [SECTION] Sync: widgets follow the model
//   [SECTION] Layout file and shut-down
// ============================================================================================
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "gui/gui_internal.h"
#include "i18n.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_gui.h"
#include "tavolix_app.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Text helpers
// --------------------------------------------------------------------------------------------

void gui_layer_row_text(const char* name, bool visible, bool locked, char* out, size_t size) {
    q_assert(out && size > 0, return);
    _utf8_format(out, size, "%s%s%s", visible ? "● " : "○ ", name ? name : "NULL",
                locked ? tavolix_tr(" [L]") : "");
}

namespace {

bool has_text_field(int popup) {
    return popup == GUI_POPUP_TEXT || popup == GUI_POPUP_SAVE_NAME || popup == GUI_POPUP_RENAME ||
           popup == GUI_POPUP_PALETTE_NAME;
}

// The text fields that take the keyboard: the four popups' and the export and new-document
// popups' own fields, while their popup is open.
bool is_text_field(const TAVOLIX_GUI* gui, int widget) {
    if (widget < 0) return false;
    for (int p = 0; p < GUI_POPUP_COUNT; p++)
        if (gui->popup_field[p] == widget) return gui->popup_open[p];
    return false;
}

// Screen rectangle test through the window's content origin; the panels' own widgets are
// never under a title bar, but a popup might be.
bool point_on_widget(TAVOLIX_GUI* gui, int window, int widget, float x, float y) {
    const Q_GUI_WINDOW* win = q_gui_get_window(gui->ctx, window);
    const Q_GUI_WIDGET* w = q_gui_get_widget(gui->ctx, widget);
    if (!win || !w || !w->visible || !(win->state & Q_GUI_WIN_OPEN)) return false;
    const float top = win->y - win->scroll_y +
                      ((win->flags & Q_GUI_WINDOW_NO_TITLEBAR) ? 0.0f : win->titlebar_h);
    const float left = win->x - win->scroll_x + w->x;
    return x >= left && x < left + w->w && y >= top + w->y && y < top + w->y + w->h;
}

bool gui_absent(TAVOLIX_APP* app) {
    app->gui.gui_cache_valid = false;
    return app->gui.ctx == nullptr;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Events, keyboard and pointer
// --------------------------------------------------------------------------------------------

int tavolix_gui_handle_event(TAVOLIX_APP* app, const ALLEGRO_EVENT* event) {
    q_assert(app, return 0);
    q_assert(event, return 0);
    TAVOLIX_GUI* gui = &app->gui;
    if (!gui->ctx) return 0;
    ALLEGRO_EVENT copy = *event;
    const bool taken = q_gui_process_event(gui->ctx, &copy) != 0;
    if (!app->gui_visible) return 0;
    if (event->type == ALLEGRO_EVENT_MOUSE_BUTTON_DOWN) {
        const float x = static_cast<float>(event->mouse.x), y = static_cast<float>(event->mouse.y);
        for (GUI_POPUP p : {GUI_POPUP_SAVE_NAME, GUI_POPUP_PALETTE_NAME, GUI_POPUP_TEXT,
                            GUI_POPUP_RENAME}) {
            if (gui->popup_open[p] &&
                point_on_widget(gui, gui->popup_window[p], gui->popup_field[p], x, y)) {
                platform_show_keyboard();
                break;
            }
        }
    }
    return taken ? 1 : 0;
}

int tavolix_gui_wants_keyboard(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    // A hidden GUI never holds the keyboard, whatever kept the focus.
    if (gui_absent(app) || !app->gui_visible) return 0;
    return is_text_field(&app->gui, q_gui_get_focus(app->gui.ctx)) ? 1 : 0;
}

int tavolix_gui_wants_pointer(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    if (!app->gui.ctx || !app->gui_visible) return 0;
    return q_gui_wants_mouse(app->gui.ctx) ? 1 : 0;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Popups: top popup, quit, save, language, notification
// --------------------------------------------------------------------------------------------

int tavolix_gui_close_top_popup(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    // A hidden GUI shows no popup, so there is none on top for Escape to close.
    if (gui_absent(app) || !app->gui_visible) return 0;
    TAVOLIX_GUI* gui = &app->gui;
    int top = -1;
    for (int p = 0; p < GUI_POPUP_COUNT && top < 0; p++)
        if (gui->popup_open[p]) top = p;
    if (top < 0) return 0;
    // Escape on the text popup cancels an edit of the placed text, as its Cancel does.
    if (top == GUI_POPUP_TEXT) _on_text_cancel(app);
    _popup_close(app, top);
    if (has_text_field(top)) {
        q_gui_set_focus(gui->ctx, -1);
        platform_hide_keyboard();
    }
    if (top == GUI_POPUP_LANGUAGE && app->language == 0) {
        // Dismissing the choice settles on English, so the question is not asked again.
        app->language = 1;
        tavolix_lang_set(1);
        tavolix_app_settings_persist(app);
        gui->rebuild_pending = true;
    }
    q_log(7, "popup %d closed by Escape", top);
    return 1;
}

void tavolix_gui_request_quit(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (gui_absent(app)) return;
    _open_confirm(app, GUI_CONFIRM_QUIT, tavolix_tr("Quit Tavolix?"), tavolix_tr("Quit"));
}

void tavolix_gui_request_save(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (gui_absent(app) || app->stroke.active || platform_saves_ready() != 1) return;
    TAVOLIX_GUI* gui = &app->gui;
    // The file holds what the screen shows.
    _gui_commit_first(app);
    char initial[PLATFORM_PATH_MAX], chosen[PLATFORM_PATH_MAX];
    if (gui->last_file[0]) snprintf(initial, sizeof initial, "%s", gui->last_file);
    else if (!platform_save_path("sketch.tvl", initial, sizeof initial)) return;
    const int r = platform_choose_file(1, initial, "*.tvl", chosen, sizeof chosen);
    if (r == 0) return;
    if (r != 1) {
        // No chooser here: the program's own name popup finishes the save.
        _popup_set_field(app, GUI_POPUP_SAVE_NAME, gui->doc_name[0] ? gui->doc_name : "sketch");
        _popup_open(app, GUI_POPUP_SAVE_NAME);
        _popup_focus_field(app, GUI_POPUP_SAVE_NAME);
        return;
    }
    _path_add_extension(chosen, sizeof chosen, ".tvl");
    const char* slash = strrchr(chosen, '/');
    _derive_doc_name(app, chosen);
    if (_do_save(app, chosen, slash ? slash + 1 : chosen))
        snprintf(gui->last_file, sizeof gui->last_file, "%s", chosen);
}

void tavolix_gui_request_language_choice(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (gui_absent(app)) return;
    _popup_open(app, GUI_POPUP_LANGUAGE);
}

void tavolix_gui_notify(TAVOLIX_APP* app, const char* text) {
    q_assert(app, return);
    q_assert(text, return);
    if (gui_absent(app)) return;
    _notify_open(app, text);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Showing and hiding the GUI
// --------------------------------------------------------------------------------------------

void tavolix_gui_set_visible(TAVOLIX_APP* app, int visible) {
    q_assert(app, return);
    if (gui_absent(app)) return;
    TAVOLIX_GUI* gui = &app->gui;
    Q_GUI_CTX* ctx = gui->ctx;
    if (visible && !app->gui_visible) {
        app->gui_visible = true;
        q_gui_open_window(ctx, gui->toolbar_window);
        if (gui->panel_open_when_hidden) q_gui_open_window(ctx, gui->panel_window);
        // Every popup still marked open comes back as it was left, text and focus included.
        for (int p = 0; p < GUI_POPUP_COUNT; p++)
            if (gui->popup_open[p]) q_gui_open_window(ctx, gui->popup_window[p]);
        if (gui->popup_open[GUI_POPUP_HELP]) q_gui_open_window(ctx, gui->help_tab_window);
        if (gui->focus_when_hidden >= 0) q_gui_set_focus(ctx, gui->focus_when_hidden);
        gui->focus_when_hidden = -1;
        q_log(6, "gui shown");
    } else if (!visible && app->gui_visible) {
        gui->panel_open_when_hidden = q_gui_window_is_open(ctx, gui->panel_window) != 0;
        q_gui_close_window(ctx, gui->toolbar_window);
        q_gui_close_window(ctx, gui->panel_window);
        // Popups that only confirm or show something are dismissed; those holding the user's
        // text, a list or a choice keep their open flag and return with the GUI. Their windows
        // close all the same, so a hidden field can neither take keys nor clicks.
        for (GUI_POPUP p : {GUI_POPUP_CONFIRM, GUI_POPUP_EXPORT, GUI_POPUP_NEW_DOC,
                            GUI_POPUP_PICKER, GUI_POPUP_HELP, GUI_POPUP_PALETTE_MANAGER})
            gui->popup_open[p] = false;
        for (int p = 0; p < GUI_POPUP_COUNT; p++) q_gui_close_window(ctx, gui->popup_window[p]);
        q_gui_close_window(ctx, gui->help_tab_window);
        const int focus = q_gui_get_focus(ctx);
        gui->focus_when_hidden = is_text_field(gui, focus) ? focus : -1;
        q_gui_set_focus(ctx, -1);
        if (gui->focus_when_hidden >= 0) platform_hide_keyboard();
        app->gui_visible = false;
        q_log(6, "gui hidden");
    }
    app->redraw = true;
}

void tavolix_gui_on_resize(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (gui_absent(app)) return;
    q_gui_set_display_size(app->gui.ctx, static_cast<float>(app->display_w),
                           static_cast<float>(app->display_h));
}

// --------------------------------------------------------------------------------------------
// [SECTION] Sync: widgets follow the model
// --------------------------------------------------------------------------------------------

namespace {

void toggle(Q_GUI_CTX* ctx, int id, bool on) { q_gui_button_set_toggled(ctx, id, on ? 1 : 0); }

void sync_colours(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    Q_GUI_CTX* ctx = gui->ctx;
    _theme_color_button(ctx, gui->tb.color, app->brush.color);
    const bool custom = gui->selected_swatch == 8 && !gui->palette_editing;
    q_gui_button_set_label(ctx, gui->tb.color, custom ? "x" : tavolix_tr("Color"));
    const PALETTE_RGB* colours = palette_active_colors(&app->palettes);
    const int marked = gui->palette_editing ? gui->edit_swatch : gui->selected_swatch;
    for (int i = 0; i < 8 && colours; i++) {
        _theme_color_button(ctx, gui->tb.swatches[i],
                            al_map_rgb(colours[i][0], colours[i][1], colours[i][2]));
        q_gui_button_set_label(ctx, gui->tb.swatches[i], i == marked ? "x" : " ");
    }
    toggle(ctx, gui->tb.edit, gui->palette_editing);
    q_gui_combobox_set_selected(ctx, gui->tb.palette, app->palettes.active);
}

void sync_toolbar(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    Q_GUI_CTX* ctx = gui->ctx;
    const GUI_TOOLBAR_IDS& t = gui->tb;
    const bool brush = app->tool == TOOL_BRUSH;
    const bool erasing = app->brush.mode == BRUSH_MODE_ERASE;
    toggle(ctx, t.brush, brush && !erasing);
    toggle(ctx, t.eraser, brush && erasing);
    toggle(ctx, t.fill, app->tool == TOOL_FILL);
    toggle(ctx, t.select, app->tool == TOOL_SELECT);
    toggle(ctx, t.lasso, app->tool == TOOL_LASSO);
    toggle(ctx, t.gradient, app->tool == TOOL_GRADIENT);
    toggle(ctx, t.line, app->tool == TOOL_LINE);
    toggle(ctx, t.bezier, app->tool == TOOL_BEZIER);
    toggle(ctx, t.navigate, app->nav_mode);
    toggle(ctx, t.shape_fill, gui->shape_filled);
    toggle(ctx, t.eyedropper, app->tool == TOOL_EYEDROPPER);
    q_gui_slider_set_value(ctx, t.stabilizer, app->stabilizer);
    toggle(ctx, t.pen_size, app->pen_size);
    q_gui_combobox_set_selected(ctx, t.pen_curve, app->pen_curve);
    q_gui_slider_set_value(ctx, t.size, app->brush.size);
    q_gui_slider_set_value(ctx, t.opacity, app->brush.opacity * 100.0);
    q_gui_slider_set_value(ctx, t.flow, app->brush.flow * 100.0);
    q_gui_slider_set_value(ctx, t.hardness, app->brush.hardness * 100.0);
    toggle(ctx, t.pressure, app->pressure_from_speed);
    toggle(ctx, t.palm, app->palm_rejection);
    char text[32];
    _utf8_format(text, sizeof text, tavolix_tr("Sym:%s"),
                tavolix_tr(symmetry_mode_name(app->symmetry.mode)));
    q_gui_button_set_label(ctx, t.sym_mode, text);
    q_gui_slider_set_value(ctx, t.sym_count, app->symmetry.count);
    for (int i = 0; i < 4; i++) toggle(ctx, t.presets[i], app->preset == i);
    sync_colours(app);
    const char* tip = brush_tip_shape_name(app->brush.tip);
    _utf8_format(text, 24, tavolix_tr("Tip: %s"), tip ? tavolix_tr(tip) : "NULL");
    q_gui_button_set_label(ctx, t.tip, text);
}

} // namespace

void tavolix_gui_sync(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (gui_absent(app)) return;
    TAVOLIX_GUI* gui = &app->gui;
    Q_GUI_CTX* ctx = gui->ctx;
    const bool guard = gui->sync_guard;
    gui->sync_guard = true;
    toggle(ctx, gui->lp.grid, app->grid.visible);
    toggle(ctx, gui->lp.snap, app->grid.snap);
    toggle(ctx, gui->lp.diagonals, app->grid.diagonals);
    q_gui_slider_set_value(ctx, gui->lp.grid_size, app->grid.size);
    if (!gui->toolbar_collapsed) sync_toolbar(app);
    gui->sync_guard = guard;
    tavolix_gui_sync_symmetry(app);
}

void tavolix_gui_sync_symmetry(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (gui_absent(app)) return;
    TAVOLIX_GUI* gui = &app->gui;
    toggle(gui->ctx, gui->tb.sym_move, app->sym_move);
    int dx = 0, dy = 0;
    if (app->doc) {
        dx = static_cast<int>(app->symmetry.center[0] - static_cast<float>(app->doc->width) / 2);
        dy = static_cast<int>(app->symmetry.center[1] - static_cast<float>(app->doc->height) / 2);
    }
    char text[64];
    _utf8_format(text, sizeof text, tavolix_tr("Off %+d,%+d"), dx, dy);
    q_gui_label_set_text(gui->ctx, gui->tb.sym_offset, text);
}

void tavolix_gui_sync_layers(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (gui_absent(app)) return;
    TAVOLIX_GUI* gui = &app->gui;
    Q_GUI_CTX* ctx = gui->ctx;
    DOCUMENT* doc = app->doc;
    if (!doc || gui->panel_collapsed || gui->lp.list < 0) return;
    const bool guard = gui->sync_guard;
    gui->sync_guard = true;
    q_gui_listbox_clear(ctx, gui->lp.list);
    const size_t count = document_layer_count(doc);
    for (size_t i = count; i-- > 0;) {
        const LAYER* layer = document_layer_at(doc, i);
        char row[256] = "?";
        if (layer)
            gui_layer_row_text(layer->name ? layer->name->data : nullptr, layer->visible,
                               layer->locked, row, sizeof row);
        q_gui_listbox_add_item(ctx, gui->lp.list, row);
        if (layer && layer == doc->active_layer)
            q_gui_listbox_set_selected(ctx, gui->lp.list, static_cast<int>(count - 1 - i), 1);
    }
    if (const LAYER* active = doc->active_layer) {
        q_gui_checkbox_set_checked(ctx, gui->lp.show, active->visible ? 1 : 0);
        q_gui_checkbox_set_checked(ctx, gui->lp.lock, active->locked ? 1 : 0);
        char text[64];
        _utf8_format(text, sizeof text, tavolix_tr("Blend: %s"),
                    tavolix_tr(layer_blend_mode_name(active->blend)));
        q_gui_button_set_label(ctx, gui->lp.blend, text);
        q_gui_slider_set_value(ctx, gui->lp.opacity, active->opacity * 100.0);
    }
    q_gui_combobox_set_selected(ctx, gui->lp.templates, doc->template_index);
    gui->sync_guard = guard;
}

void _gui_fill_palettes(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    if (!gui->ctx || gui->tb.palette < 0) return;
    q_gui_combobox_clear(gui->ctx, gui->tb.palette);
    for (int i = 0; i < palette_count(&app->palettes); i++) {
        const char* name = palette_name(&app->palettes, i);
        q_gui_combobox_add_item(gui->ctx, gui->tb.palette,
                                palette_is_user(&app->palettes, i) ? name : tavolix_tr(name));
    }
    q_gui_combobox_set_selected(gui->ctx, gui->tb.palette, app->palettes.active);
}

void tavolix_gui_palette_changed(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (gui_absent(app)) return;
    _gui_fill_palettes(app);
    tavolix_gui_sync(app);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Layout file and shut-down
// --------------------------------------------------------------------------------------------

void tavolix_gui_layout_persist(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (gui_absent(app) || platform_saves_ready() != 1) return;
    char path[PLATFORM_PATH_MAX];
    if (platform_save_path("layout.json", path, sizeof path) &&
        q_gui_save_layout_json(app->gui.ctx, path) == 0)
        q_log(6, "gui layout: saved %s", path);
    platform_save_sync();
}

void tavolix_gui_layout_restore(TAVOLIX_APP* app) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    if (gui_absent(app) || gui->layout_restored || platform_saves_ready() != 1) return;
    gui->layout_restored = true;
    char path[PLATFORM_PATH_MAX];
    if (!platform_save_path("layout.json", path, sizeof path)) return;
    // The built layout wins over the file: only the layer panel's width is the user's.
    struct SNAPSHOT {
        int id;
        float x, y, w, h;
        uint32_t state, flags;
        int z_order, z_value;
    };
    SNAPSHOT saved[32];
    int count = 0;
    for (LIST_NODE* n = gui->ctx->windows->start; n && count < 32; n = n->next) {
        const Q_GUI_WINDOW* w = static_cast<const Q_GUI_WINDOW*>(n->ptr);
        saved[count++] = {w->id, w->x, w->y, w->w, w->h, w->state, w->flags, w->z_order, w->z_value};
    }
    if (q_gui_load_layout_json(gui->ctx, path) != 0) return;
    const float built_width = gui->panel_width;
    const Q_GUI_WINDOW* panel = q_gui_get_window(gui->ctx, gui->panel_window);
    const float file_w = panel ? panel->w : 0.0f;
    for (int i = 0; i < count; i++) {
        const SNAPSHOT& s = saved[i];
        Q_GUI_WINDOW* w = q_gui_get_window(gui->ctx, s.id);
        if (!w) continue;
        w->state = s.state;
        q_gui_window_set_flags(gui->ctx, s.id, s.flags);
        q_gui_window_set_zorder(gui->ctx, s.id, s.z_order, s.z_value);
        q_gui_window_set_rect(gui->ctx, s.id, s.x, s.y, s.w, s.h);
    }
    if (!gui->panel_collapsed && panel && std::isfinite(file_w)) {
        const GUI_METRICS& m = gui->metrics;
        const float width =
            std::clamp(file_w, m.panel_min, std::max(m.panel_min, 0.4f * app->display_w));
        gui->panel_width = width;
        q_gui_window_set_rect(gui->ctx, gui->panel_window, app->display_w - m.margin - width,
                              panel->y, width, panel->h);
    }
    // Only a new panel width changes what the build laid out; the same width would cost a
    // second build of everything, icons included, before the first frame of every run.
    if (gui->panel_width != built_width) gui->rebuild_pending = true;
    gui->gui_cache_valid = false;
    q_log(6, "gui layout: restored %s", path);
}

void tavolix_gui_shutdown(TAVOLIX_APP* app) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    gui->gui_cache_valid = false;
    if (gui->gui_cache) al_destroy_bitmap(gui->gui_cache);
    if (gui->tip_preview) al_destroy_bitmap(gui->tip_preview);
    gui->gui_cache = gui->tip_preview = nullptr;
    gui->gui_cache_w = gui->gui_cache_h = 0;
    for (int i = 0; i < gui->icon_count; i++) tavolix_icon_set_destroy(&gui->icons[i].set);
    gui->icon_count = 0;
    gui->icons_ready = false;
    if (gui->toolbar_sections) q_gui_sectionlist_free(&gui->toolbar_sections);
    if (gui->panel_sections) q_gui_sectionlist_free(&gui->panel_sections);
    if (gui->ctx) q_gui_destroy_ctx(&gui->ctx);
}

// ============================================================================================
// Drawing the GUI
//   [SECTION] Colour swatches and the alpha overlay
//   [SECTION] Icons and the tip preview
//   [SECTION] The frame step: cached image, hidden handle
//
// The windows are drawn into one display-sized image that is redrawn only when something
// changed, and only in part when the pointer's hover is all that changed; an idle frame copies
// only the parts of that image the open windows cover.
// ============================================================================================
#include <allegro5/allegro_primitives.h>

#include <algorithm>
#include <cmath>

#include "canvas/allegro_state.h"
#include "canvas/brush.h"
#include "gui/gui_internal.h"
#include "i18n.h"
#include "q/q_common.h"
#include "q/q_gui.h"
#include "tavolix_app.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Colour swatches and the alpha overlay
// --------------------------------------------------------------------------------------------

void _theme_color_button(Q_GUI_CTX* ctx, int widget, ALLEGRO_COLOR colour) {
    q_assert(ctx, return);
    const float luminance = 0.299f * colour.r + 0.587f * colour.g + 0.114f * colour.b;
    const ALLEGRO_COLOR text = luminance < 0.5f ? al_map_rgb(255, 255, 255) : al_map_rgb(0, 0, 0);
    const ALLEGRO_COLOR opaque = al_map_rgba_f(colour.r, colour.g, colour.b, 1.0f);
    const ALLEGRO_COLOR border = al_map_rgb(120, 120, 120);
    const Q_GUI_THEME theme = q_gui_make_theme(opaque, opaque, opaque, border, border, border, text,
                                               text, text, 1.0f, 4.0f, 4.0f);
    q_gui_set_widget_theme(ctx, widget, &theme);
}

ALLEGRO_COLOR _alpha_cell(ALLEGRO_COLOR colour, int grey) {
    const float a = std::clamp(colour.a, 0.0f, 1.0f);
    const float g = static_cast<float>(grey) * (1.0f - a);
    auto channel = [&](float c) {
        return static_cast<unsigned char>(std::lround(std::clamp(c * 255.0f * a + g, 0.0f, 255.0f)));
    };
    return al_map_rgb(channel(colour.r), channel(colour.g), channel(colour.b));
}

void _draw_alpha_overlay(TAVOLIX_APP* app, int window, int widget, ALLEGRO_COLOR colour,
                         bool whole) {
    q_assert(app, return);
    Q_GUI_CTX* ctx = app->gui.ctx;
    if (!ctx || colour.a >= 0.996f) return;
    const Q_GUI_WINDOW* win = q_gui_get_window(ctx, window);
    const Q_GUI_WIDGET* w = q_gui_get_widget(ctx, widget);
    if (!win || !w || !w->visible || !(win->state & Q_GUI_WIN_OPEN)) return;
    const float top = win->y - win->scroll_y +
                      ((win->flags & Q_GUI_WINDOW_NO_TITLEBAR) ? 0.0f : win->titlebar_h);
    float x0 = win->x - win->scroll_x + w->x + 3, y0 = top + w->y + 3;
    const float x1 = x0 + w->w - 6, y1 = y0 + w->h - 6;
    if (x1 <= x0 || y1 <= y0) return;
    if (!whole) x0 = std::max(x0, x1 - (y1 - y0));
    // Clip to the window too: a scrolled panel must not paint outside itself.
    const int cx0 = static_cast<int>(std::floor(std::max(x0, win->x)));
    const int cy0 = static_cast<int>(std::floor(std::max(y0, win->y)));
    const int cx1 = static_cast<int>(std::ceil(std::min(x1, win->x + win->w)));
    const int cy1 = static_cast<int>(std::ceil(std::min(y1, win->y + win->h)));
    if (cx1 <= cx0 || cy1 <= cy0) return;
    // Within the clip already set too: a partial redraw paints only its own part.
    int old_x, old_y, old_w, old_h;
    al_get_clipping_rectangle(&old_x, &old_y, &old_w, &old_h);
    const int kx0 = std::max(cx0, old_x), ky0 = std::max(cy0, old_y);
    const int kx1 = std::min(cx1, old_x + old_w), ky1 = std::min(cy1, old_y + old_h);
    if (kx1 <= kx0 || ky1 <= ky0) return;
    al_set_clipping_rectangle(kx0, ky0, kx1 - kx0, ky1 - ky0);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
    const ALLEGRO_COLOR dark = _alpha_cell(colour, 170), light = _alpha_cell(colour, 235);
    constexpr float CELL = 6.0f;
    int row = 0;
    for (float y = y0; y < y1; y += CELL, row++) {
        int col = 0;
        for (float x = x0; x < x1; x += CELL, col++)
            al_draw_filled_rectangle(x, y, std::min(x + CELL, x1), std::min(y + CELL, y1),
                                     ((row + col) % 2) ? light : dark);
    }
    al_set_clipping_rectangle(old_x, old_y, old_w, old_h);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Icons and the tip preview
// --------------------------------------------------------------------------------------------

namespace {

void render_icons(TAVOLIX_GUI* gui) {
    const Q_GUI_THEME theme = q_gui_default_theme();
    for (int i = 0; i < gui->icon_count; i++) {
        GUI_ICON_ENTRY& e = gui->icons[i];
        tavolix_icon_set_destroy(&e.set);
        if (tavolix_icon_render(e.icon, &theme, static_cast<int>(e.w), static_cast<int>(e.h),
                                &e.set))
            q_gui_button_set_state_bitmaps(gui->ctx, e.widget, e.set.bitmaps[0],
                                           e.set.bitmaps[1], e.set.bitmaps[2]);
    }
    gui->icons_ready = true;
    gui->gui_cache_valid = false;
}

void refresh_tip_preview(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    if (gui->tb.tip_preview < 0) return;
    const int side = std::max(1, gui->metrics.icon);
    if (!gui->tip_preview || al_get_bitmap_width(gui->tip_preview) != side) {
        if (gui->tip_preview) al_destroy_bitmap(gui->tip_preview);
        ALLEGRO_STATE saved;
        al_store_state(&saved, ALLEGRO_STATE_NEW_BITMAP_PARAMETERS);
        al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR | ALLEGRO_MAG_LINEAR);
        gui->tip_preview = al_create_bitmap(side, side);
        al_restore_state(&saved);
    }
    if (gui->tip_preview && brush_render_tip_preview(&app->brush, gui->tip_preview))
        q_gui_label_set_bitmap(gui->ctx, gui->tb.tip_preview, gui->tip_preview);
}

void show_slider_values(TAVOLIX_GUI* gui) {
    for (int i = 0; i < gui->slider_value_count; i++) {
        const GUI_SLIDER_VALUE& v = gui->slider_values[i];
        char text[32];
        _utf8_format(text, sizeof text, v.format, q_gui_slider_get_value(gui->ctx, v.slider));
        q_gui_label_set_text(gui->ctx, v.label, text);
    }
}

// What the program paints over the toolkit's picture: the checkerboards of translucent colours.
void draw_overlays(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    _draw_alpha_overlay(app, gui->toolbar_window, gui->tb.color, app->brush.color, false);
    if (gui->popup_open[GUI_POPUP_PICKER]) {
        const unsigned char* p = gui->picker_rgba;
        _draw_alpha_overlay(app, gui->popup_window[GUI_POPUP_PICKER], gui->pp.picker_preview,
                            al_map_rgba(p[0], p[1], p[2], p[3]), true);
    }
}

void draw_windows(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    refresh_tip_preview(app);
    show_slider_values(gui);
    q_gui_draw(gui->ctx);
    draw_overlays(app);
    gui->cache_drawn_at = al_get_time();
    gui->caret_drawn = q_gui_caret_visible(gui->ctx);
}

// Redraws into the cached image only the parts that pointer movement changed (a widget the
// pointer left or entered). False when the whole image must be drawn again.
bool redraw_damage(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    Q_GUI_AREA parts[Q_GUI_DAMAGE_MAX];
    const int count = q_gui_take_damage(gui->ctx, parts, Q_GUI_DAMAGE_MAX);
    if (count < 0) return false;
    if (count == 0) return true;
    ALLEGRO_STATE saved;
    al_store_state(&saved, ALLEGRO_STATE_TARGET_BITMAP | ALLEGRO_STATE_BLENDER);
    al_set_target_bitmap(gui->gui_cache);
    for (int i = 0; i < count; i++) {
        const Q_GUI_AREA& a = parts[i];
        const int x0 = std::max(0, static_cast<int>(std::floor(a.x)));
        const int y0 = std::max(0, static_cast<int>(std::floor(a.y)));
        const int x1 = std::min(gui->gui_cache_w, static_cast<int>(std::ceil(a.x + a.w)));
        const int y1 = std::min(gui->gui_cache_h, static_cast<int>(std::ceil(a.y + a.h)));
        if (x1 <= x0 || y1 <= y0) continue;
        // Whole pixels, so that the cleared part and the redrawn part are the same.
        al_set_clipping_rectangle(x0, y0, x1 - x0, y1 - y0);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        q_gui_draw_area(gui->ctx, Q_GUI_AREA{static_cast<float>(x0), static_cast<float>(y0),
                                              static_cast<float>(x1 - x0),
                                              static_cast<float>(y1 - y0)});
        draw_overlays(app);
    }
    al_reset_clipping_rectangle();
    al_restore_state(&saved);
    return true;
}

// --------------------------------------------------------------------------------------------
// [SECTION] The frame step: cached image, hidden handle
// --------------------------------------------------------------------------------------------

// While the GUI is hidden only this handle shows where a press brings it back.
void draw_show_handle() {
    al_draw_filled_rounded_rectangle(6, 6, 30, 30, 4, 4, al_map_rgba(70, 75, 90, 200));
    const ALLEGRO_COLOR bar = al_map_rgb(220, 220, 220);
    for (float y : {18.0f, 13.0f, 23.0f}) al_draw_line(11, y, 25, y, bar, 2);
}

bool cache_fits(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    if (gui->gui_cache && gui->gui_cache_w == app->display_w && gui->gui_cache_h == app->display_h)
        return true;
    if (gui->gui_cache) al_destroy_bitmap(gui->gui_cache);
    gui->gui_cache_valid = false;
    ALLEGRO_STATE saved;
    al_store_state(&saved, ALLEGRO_STATE_NEW_BITMAP_PARAMETERS);
    // The image is only ever copied 1:1 at whole pixels, where smooth filtering gives the same
    // pixels as none but costs a software renderer half as much again per frame.
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    gui->gui_cache = al_create_bitmap(std::max(1, app->display_w), std::max(1, app->display_h));
    al_restore_state(&saved);
    gui->gui_cache_w = gui->gui_cache ? app->display_w : 0;
    gui->gui_cache_h = gui->gui_cache ? app->display_h : 0;
    return gui->gui_cache != nullptr;
}

bool rects_touch(const GUI_CACHE_RECT& a, const GUI_CACHE_RECT& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

GUI_CACHE_RECT rect_union(const GUI_CACHE_RECT& a, const GUI_CACHE_RECT& b) {
    const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int x1 = std::max(a.x + a.w, b.x + b.w), y1 = std::max(a.y + a.h, b.y + b.h);
    return GUI_CACHE_RECT{x0, y0, x1 - x0, y1 - y0};
}

// Overlapping parts would blend their translucent edges twice, so they become one box.
int merge_overlaps(GUI_CACHE_RECT* rects, int count) {
    for (int i = 0; i < count; i++)
        for (int j = 0; j < count; j++) {
            if (j == i || !rects_touch(rects[i], rects[j])) continue;
            rects[std::min(i, j)] = rect_union(rects[i], rects[j]);
            rects[std::max(i, j)] = rects[--count];
            i = -1; // the grown box may reach boxes already passed: start over
            break;
        }
    return count;
}

// Called right after the cache was drawn. A tooltip, an open drop-down list or the whole-GUI
// scroll bars can lie anywhere, so while one shows the whole image is copied; otherwise only
// the open windows, with room for their outlines' smoothed edges.
void note_cache_rects(TAVOLIX_GUI* gui) {
    const Q_GUI_CTX* ctx = gui->ctx;
    gui->cache_rect_count = -1;
    if (q_gui_tooltip_pending(gui->ctx) == 2 || ctx->open_combo_id >= 0 ||
        ctx->open_dropmenu_id >= 0 || ctx->virtual_w > 0.0f || ctx->virtual_h > 0.0f ||
        ctx->gui_extent_w > ctx->display_w || ctx->gui_extent_h > ctx->display_h)
        return;
    int count = 0;
    for (const LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        const Q_GUI_WINDOW* win = static_cast<const Q_GUI_WINDOW*>(n->ptr);
        if (!(win->state & Q_GUI_WIN_OPEN)) continue;
        if (count == GUI_CACHE_RECTS) return;
        const float pad = 2.0f + std::ceil(std::max(0.0f, win->theme.border_thickness));
        const int x0 = std::max(0, static_cast<int>(std::floor(win->x - pad)));
        const int y0 = std::max(0, static_cast<int>(std::floor(win->y - pad)));
        const int x1 =
            std::min(gui->gui_cache_w, static_cast<int>(std::ceil(win->x + win->w + pad)));
        const int y1 =
            std::min(gui->gui_cache_h, static_cast<int>(std::ceil(win->y + win->h + pad)));
        if (x1 > x0 && y1 > y0)
            gui->cache_rects[count++] = GUI_CACHE_RECT{x0, y0, x1 - x0, y1 - y0};
    }
    gui->cache_rect_count = merge_overlaps(gui->cache_rects, count);
}

void blit_cache(const TAVOLIX_GUI* gui) {
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    if (gui->cache_rect_count < 0) {
        al_draw_bitmap(gui->gui_cache, 0, 0, 0);
        return;
    }
    const bool held = al_is_bitmap_drawing_held();
    al_hold_bitmap_drawing(true);
    for (int i = 0; i < gui->cache_rect_count; i++) {
        const GUI_CACHE_RECT& r = gui->cache_rects[i];
        al_draw_bitmap_region(gui->gui_cache, r.x, r.y, r.w, r.h, r.x, r.y, 0);
    }
    al_hold_bitmap_drawing(held);
}

enum class SHOW { NOTHING, HANDLE, DIRECT, CACHE };

// Everything a frame's GUI needs before it is shown: a pending rebuild, the icons, the cached
// image. Says how to show it.
SHOW prepare(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    if (!gui->ctx) return SHOW::NOTHING;
    if (gui->rebuild_pending) {
        gui->rebuild_pending = false;
        if (!tavolix_gui_rebuild(app)) return SHOW::NOTHING;
    }
    if (!gui->icons_ready) render_icons(gui);
    if (!app->gui_visible) return SHOW::HANDLE;
    if (!cache_fits(app)) return SHOW::DIRECT;
    if (gui->gui_cache_valid && !redraw_damage(app)) gui->gui_cache_valid = false;
    if (!gui->gui_cache_valid) {
        ALLEGRO_STATE saved;
        al_store_state(&saved, ALLEGRO_STATE_TARGET_BITMAP | ALLEGRO_STATE_BLENDER);
        al_set_target_bitmap(gui->gui_cache);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        draw_windows(app);
        al_restore_state(&saved);
        note_cache_rects(gui);
        gui->gui_cache_valid = true;
    }
    return SHOW::CACHE;
}

} // namespace

int tavolix_gui_update(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    return prepare(app) == SHOW::CACHE ? 1 : 0;
}

void _gui_unsaved_marker_rect(const TAVOLIX_APP* app, float* x, float* y, float* w, float* h) {
    q_assert(app && x && y && w && h, return);
    const GUI_METRICS& m = app->gui.metrics;
    const float text_w = app->font ? static_cast<float>(al_get_text_width(app->font, tavolix_tr("Not saved"))) : 0.0f;
    *w = text_w + 2.0f * m.row;
    *h = m.row;
    *x = std::floor((static_cast<float>(app->display_w) - *w) / 2);
    *y = static_cast<float>(app->display_h) - m.margin - m.row;
}

void tavolix_gui_draw(TAVOLIX_APP* app) {
    q_assert(app, return);
    switch (prepare(app)) {
    case SHOW::NOTHING: return;
    case SHOW::HANDLE: draw_show_handle(); break;
    case SHOW::DIRECT: draw_windows(app); break; // no cached image could be made
    case SHOW::CACHE: blit_cache(&app->gui); break;
    }
    // As long as the drawing is not safely on disk the canvas says so, panels shown or not.
    if (app->unsaved_shown && app->font) {
        BlenderScope blender;
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
        float x, y, w, h;
        _gui_unsaved_marker_rect(app, &x, &y, &w, &h);
        al_draw_filled_rounded_rectangle(x, y, x + w, y + h, h / 4, h / 4, al_map_rgb(176, 32, 32));
        const float text_y = y + (h - static_cast<float>(al_get_font_line_height(app->font))) / 2;
        al_draw_text(app->font, al_map_rgb(255, 255, 255), x + w / 2, text_y, ALLEGRO_ALIGN_CENTRE,
                     tavolix_tr("Not saved"));
    }
}

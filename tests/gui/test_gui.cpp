// The panels: layout rules, layer rows, swatch looks, the alpha overlay, routing while hidden,
// the sync guard and the font switch.
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_ttf.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "gui/gui_internal.h"
#include "i18n.h"
#include "q/q_gui.h"
#include "q/q_gui_internal.h"
#include "test_support.h"
#include "ui_scale.h"

TEST(GuiLayout, MetricsFollowTheRules) {
    const GUI_METRICS one = gui_metrics(1.0f);
    const GUI_METRICS tiny = gui_metrics(0.3f);
    EXPECT_FLOAT_EQ(tiny.k, 0.5f);
    EXPECT_FLOAT_EQ(tiny.margin, 4.0f);
    EXPECT_EQ(tiny.icon, 14);
    EXPECT_FLOAT_EQ(gui_metrics(NAN).k, 1.0f);
    const struct {
        float display_w, expected;
    } toolbar[] = {{1000, 180}, {400, 144}, {200, 180}};
    for (const auto& c : toolbar)
        EXPECT_FLOAT_EQ(gui_toolbar_content_width(&one, c.display_w), c.expected) << c.display_w;
    const struct {
        float stored, expected;
    } panel[] = {{500, 400}, {100, 180}, {0, 200}, {-7, 200}, {NAN, 200}, {INFINITY, 200}};
    for (const auto& c : panel)
        EXPECT_FLOAT_EQ(gui_panel_width(&one, 1000, c.stored), c.expected) << c.stored;
}

TEST(GuiLayout, LayerRowsCountFromTheTop) {
    const int cases[][3] = {{0, 3, 2}, {2, 3, 0}, {-1, 3, 2}, {9, 3, 0}, {0, 0, -1}};
    for (const auto& c : cases) EXPECT_EQ(gui_layer_of_row(c[0], c[1]), c[2]) << c[0];
}

TEST(GuiLayout, LayerRowTextNeverSplitsACharacter) {
    char row[256];
    gui_layer_row_text("Sky", false, true, row, sizeof row);
    EXPECT_STREQ(row, "○ Sky [L]");
    std::string name;
    for (int i = 0; i < 200; i++) name += "é";
    gui_layer_row_text(name.c_str(), true, false, row, sizeof row);
    const size_t n = strlen(row);
    EXPECT_LE(n, 255u);
    EXPECT_EQ(n % 2, 0u) << "the mark is 4 bytes, every letter 2: an odd length split one";
    EXPECT_NE(static_cast<unsigned char>(row[n - 1]), 0xC3);
}

TEST(GuiLayout, AlphaCellsMixTheColourOverGrey) {
    const ALLEGRO_COLOR half_red = al_map_rgba_f(1, 0, 0, 0.5f);
    unsigned char r, g, b;
    al_unmap_rgb(_alpha_cell(half_red, 170), &r, &g, &b);
    EXPECT_EQ(r * 65536 + g * 256 + b, 213 * 65536 + 85 * 256 + 85);
    al_unmap_rgb(_alpha_cell(half_red, 235), &r, &g, &b);
    EXPECT_EQ(r * 65536 + g * 256 + b, 245 * 65536 + 118 * 256 + 118);
}

struct PanelTest : AppRecordTest {
    ALLEGRO_FONT* font = nullptr;
    void SetUp() override {
        AppRecordTest::SetUp();
        font = al_create_builtin_font();
        ASSERT_NE(font, nullptr);
        app.font = font;
        app.ui_scale = 1.0f;
        // The panels are laid out for the program's window, whatever the test display is.
        app.display_w = 1280;
        app.display_h = 800;
        tavolix_gui_option_defaults(&app.gui);
        palette_set_defaults(&app.palettes);
        ASSERT_EQ(tavolix_gui_init(&app), 1);
    }
    void TearDown() override {
        tavolix_gui_shutdown(&app);
        AppRecordTest::TearDown(); // destroys the font too
    }
    ALLEGRO_EVENT press(int x, int y) {
        ALLEGRO_EVENT e{};
        e.type = ALLEGRO_EVENT_MOUSE_BUTTON_DOWN;
        e.mouse.x = x;
        e.mouse.y = y;
        e.mouse.button = 1;
        return e;
    }
};

TEST_F(PanelTest, SwatchTextContrastsWithItsColour) {
    const struct {
        ALLEGRO_COLOR colour;
        float text;
    } cases[] = {{al_map_rgb(255, 255, 0), 0.0f}, {al_map_rgb(0, 0, 128), 1.0f}};
    for (const auto& c : cases) {
        _theme_color_button(app.gui.ctx, app.gui.tb.swatches[0], c.colour);
        const Q_GUI_WIDGET* w = q_gui_get_widget(app.gui.ctx, app.gui.tb.swatches[0]);
        EXPECT_FLOAT_EQ(w->theme.text_normal.r, c.text);
        EXPECT_FLOAT_EQ(w->theme.bg_hover.b, c.colour.b);
    }
}

TEST_F(PanelTest, AlphaOverlayShowsACheckerboardOnlyForTranslucentColours) {
    ALLEGRO_BITMAP* target = al_create_bitmap(app.display_w, app.display_h);
    ASSERT_NE(target, nullptr);
    ALLEGRO_STATE saved;
    al_store_state(&saved, ALLEGRO_STATE_TARGET_BITMAP);
    al_set_target_bitmap(target);
    const Q_GUI_WINDOW* win = q_gui_get_window(app.gui.ctx, app.gui.toolbar_window);
    const Q_GUI_WIDGET* chip = q_gui_get_widget(app.gui.ctx, app.gui.tb.color);
    const int right = static_cast<int>(win->x + chip->x + chip->w - 3);
    const int top = static_cast<int>(win->y + chip->y + 3);
    for (float alpha : {1.0f, 0.996f, 0.5f}) {
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        _draw_alpha_overlay(&app, app.gui.toolbar_window, app.gui.tb.color,
                            al_map_rgba_f(0, 0, 1, alpha), false);
        const Rgba first = pixel_at(target, right - static_cast<int>(chip->h - 6) + 1, top + 1);
        const Rgba next = pixel_at(target, right - static_cast<int>(chip->h - 6) + 7, top + 1);
        if (alpha >= 0.996f) {
            EXPECT_EQ(first.a, 0) << alpha;
            continue;
        }
        EXPECT_EQ(first.r, 85); // grey 170 at half
        EXPECT_EQ(first.b, 213);
        EXPECT_EQ(next.r, 118); // grey 235 at half
        EXPECT_EQ(pixel_at(target, right - static_cast<int>(chip->h - 6) - 3, top + 1).a, 0)
            << "only the square at the right end";
    }
    al_restore_state(&saved);
    al_destroy_bitmap(target);
}

namespace {

std::vector<uint32_t> pixels_of(ALLEGRO_BITMAP* bitmap) {
    const int w = al_get_bitmap_width(bitmap), h = al_get_bitmap_height(bitmap);
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
    const ALLEGRO_LOCKED_REGION* lr =
        al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    for (int y = 0; lr && y < h; y++)
        memcpy(&pixels[static_cast<size_t>(y) * w], static_cast<const char*>(lr->data) + y * lr->pitch,
               static_cast<size_t>(w) * 4);
    if (lr) al_unlock_bitmap(bitmap);
    return pixels;
}

// The screen after `draw` over noise, so that a pixel blended twice, missed or filtered
// differently shows.
std::vector<uint32_t> screen_after(ALLEGRO_BITMAP* screen, const std::function<void()>& draw) {
    const int w = al_get_bitmap_width(screen), h = al_get_bitmap_height(screen);
    const int format = ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE;
    ALLEGRO_LOCKED_REGION* lr = al_lock_bitmap(screen, format, ALLEGRO_LOCK_WRITEONLY);
    uint32_t seed = 7;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            reinterpret_cast<uint32_t*>(static_cast<char*>(lr->data) + y * lr->pitch)[x] =
                ((seed = seed * 1664525u + 1013904223u) >> 8) | 0xFF000000u;
    al_unlock_bitmap(screen);
    draw();
    return pixels_of(screen);
}

} // namespace

// An idle frame copies only parts of the cached GUI image; the screen must come out exactly as
// a whole, smoothly filtered copy of the image leaves it: with a popup overlapping a panel, an
// open drop-down list and a tooltip too.
TEST_F(PanelTest, PartialCopyOfTheCachedGuiMatchesTheWholeImage) {
    ALLEGRO_BITMAP* screen = al_create_bitmap(app.display_w, app.display_h);
    ASSERT_NE(screen, nullptr);
    Q_GUI_CTX* ctx = app.gui.ctx;
    const std::function<void()> cases[] = {
        [] {},
        [&] { // partly over the tool bar
            tavolix_gui_request_quit(&app);
            q_gui_window_set_rect(ctx, app.gui.popup_window[GUI_POPUP_CONFIRM], 150, 60, 300, 120);
        },
        [&] { _combo_toggle(ctx, q_gui_get_widget(ctx, app.gui.tb.palette)); },
        [&] {
            _combo_close(ctx);
            ctx->tooltip_id = app.gui.tb.undo;
            ctx->hover_start = al_get_time() - 10.0;
            ctx->mouse_x = 1200;
            ctx->mouse_y = 780;
        },
    };
    ALLEGRO_STATE saved;
    al_store_state(&saved, ALLEGRO_STATE_TARGET_BITMAP | ALLEGRO_STATE_BLENDER |
                               ALLEGRO_STATE_NEW_BITMAP_PARAMETERS);
    al_set_target_bitmap(screen);
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR | ALLEGRO_MAG_LINEAR);
    for (size_t i = 0; i < std::size(cases); i++) {
        cases[i]();
        app.gui.gui_cache_valid = false;
        const auto partial = screen_after(screen, [&] { tavolix_gui_draw(&app); });
        ALLEGRO_BITMAP* smooth = al_clone_bitmap(app.gui.gui_cache);
        const auto whole = screen_after(screen, [&] { al_draw_bitmap(smooth, 0, 0, 0); });
        al_destroy_bitmap(smooth);
        EXPECT_TRUE(partial == whole) << "case " << i;
    }
    al_restore_state(&saved);
    al_destroy_bitmap(screen);
}

// A pointer moving over the panels keeps the cached image: a frame is asked for only when a
// hover changes, and redrawing just the changed parts leaves the image as a whole redraw
// would. The colour chip's checkerboard, a slider's knob (it reaches past the slider) and
// the layer list's rows are redrawn with them; a tooltip on show asks for everything.
TEST_F(PanelTest, APointerOverThePanelsRedrawsOnlyTheHoversThatChanged) {
    app.brush.color = al_map_rgba_f(0, 0, 0.5f, 0.5f);
    app.brush.size = 128; // the knob at the slider's end
    tavolix_gui_sync(&app);
    _on_layer_add(app.gui.lp.add, &app);
    ALLEGRO_BITMAP* screen = al_create_bitmap(app.display_w, app.display_h);
    ASSERT_NE(screen, nullptr);
    ALLEGRO_STATE saved;
    al_store_state(&saved, ALLEGRO_STATE_TARGET_BITMAP | ALLEGRO_STATE_BLENDER);
    al_set_target_bitmap(screen);
    tavolix_gui_draw(&app);
    const auto at = [&](int id, float dx, float fy) {
        const Q_GUI_WIDGET* w = q_gui_get_widget(app.gui.ctx, id);
        ALLEGRO_EVENT e{};
        e.type = ALLEGRO_EVENT_MOUSE_AXES;
        e.mouse.x = static_cast<int>(w->window->x + w->x + w->w / 2 + dx);
        e.mouse.y = static_cast<int>(w->window->y + w->y + w->h * fy);
        return e;
    };
    const GUI_TOOLBAR_IDS& t = app.gui.tb;
    const struct {
        ALLEGRO_EVENT motion;
        bool frame;
    } path[] = {{at(t.color, 0, 0.5f), true},      {at(t.color, 1, 0.5f), false},
                {at(t.undo, 0, 0.5f), true},       {at(t.size, 0, 0.5f), true},
                {at(app.gui.lp.list, 0, 0.03f), true}, {at(app.gui.lp.list, 0, 0.11f), true},
                {at(app.gui.lp.list, -500, 0.11f), true}};
    for (const auto& step : path) {
        app.redraw = false;
        tavolix_gui_handle_event(&app, &step.motion);
        EXPECT_EQ(app.redraw, step.frame) << step.motion.mouse.x << "," << step.motion.mouse.y;
        EXPECT_TRUE(app.gui.gui_cache_valid);
        tavolix_gui_draw(&app);
        const auto partial = pixels_of(app.gui.gui_cache);
        app.gui.gui_cache_valid = false;
        tavolix_gui_draw(&app);
        EXPECT_TRUE(partial == pixels_of(app.gui.gui_cache)) << step.motion.mouse.x;
    }
    app.gui.ctx->style.tooltip_delay = 1e-6f;
    const ALLEGRO_EVENT on_undo = at(t.undo, 0, 0.5f), beside = at(t.undo, 1, 0.5f);
    tavolix_gui_handle_event(&app, &on_undo);
    al_rest(0.001);
    tavolix_gui_tick(&app); // the timer sees the tooltip due
    tavolix_gui_draw(&app);
    ASSERT_TRUE(app.gui.ctx->tooltip_drawn);
    tavolix_gui_handle_event(&app, &beside);
    EXPECT_EQ(q_gui_take_damage(app.gui.ctx, nullptr, 0), -1);
    al_restore_state(&saved);
    al_destroy_bitmap(screen);
}

TEST_F(PanelTest, HiddenGuiNeverTakesAnEventNorThePointer) {
    const ALLEGRO_EVENT on_toolbar = press(40, 40);
    EXPECT_EQ(tavolix_gui_handle_event(&app, &on_toolbar), 1);
    EXPECT_EQ(tavolix_gui_wants_pointer(&app), 1);
    tavolix_gui_set_visible(&app, 0);
    EXPECT_FALSE(app.gui_visible);
    EXPECT_EQ(tavolix_gui_handle_event(&app, &on_toolbar), 0);
    EXPECT_EQ(tavolix_gui_wants_pointer(&app), 0);
    tavolix_gui_set_visible(&app, 1);
    EXPECT_EQ(tavolix_gui_handle_event(&app, &on_toolbar), 1);
}

TEST_F(PanelTest, HidingKeepsAPopupsTextAndFocusButFreesTheKeyboard) {
    TAVOLIX_GUI& gui = app.gui;
    const int win = q_gui_add_window(gui.ctx, "save name", 300, 300, 200, 80);
    const int field = q_gui_add_textarea(gui.ctx, win, 10, 10, 180, 28, 0, 0, nullptr, nullptr);
    gui.popup_window[GUI_POPUP_SAVE_NAME] = win;
    gui.popup_field[GUI_POPUP_SAVE_NAME] = field;
    gui.popup_open[GUI_POPUP_SAVE_NAME] = true;
    q_gui_textarea_set_text(gui.ctx, field, "half a name");
    q_gui_set_focus(gui.ctx, field);
    EXPECT_EQ(tavolix_gui_wants_keyboard(&app), 1);

    tavolix_gui_set_visible(&app, 0);
    EXPECT_EQ(tavolix_gui_wants_keyboard(&app), 0) << "Tab must reach the canvas to come back";
    EXPECT_EQ(q_gui_window_is_open(gui.ctx, win), 0);
    tavolix_gui_set_visible(&app, 1);
    EXPECT_EQ(q_gui_window_is_open(gui.ctx, win), 1);
    EXPECT_STREQ(q_gui_textarea_get_text(gui.ctx, field), "half a name");
    EXPECT_EQ(tavolix_gui_wants_keyboard(&app), 1);
}

TEST_F(PanelTest, SyncGuardKeepsCallbacksFromChangingTheModel) {
    LAYER* layer = app.doc->active_layer;
    app.symmetry.count = 2;
    for (bool guard : {true, false}) {
        app.gui.sync_guard = guard;
        _on_layer_check(app.gui.lp.lock, 1, &app);
        _on_layer_opacity(app.gui.lp.opacity, 25, &app);
        _on_sym_count(app.gui.tb.sym_count, 7, &app);
        EXPECT_EQ(layer->locked, !guard);
        EXPECT_FLOAT_EQ(layer->opacity, guard ? 1.0f : 0.25f);
        EXPECT_EQ(app.symmetry.count, guard ? 2 : 7);
    }
    // Refilling the list from the model leaves the guard as it found it.
    tavolix_gui_sync_layers(&app);
    EXPECT_FALSE(app.gui.sync_guard);
    EXPECT_STREQ(q_gui_listbox_get_item_text(app.gui.ctx, app.gui.lp.list, 0), "● Layer 1 [L]");
}

TEST_F(PanelTest, LayerButtonsKeepAtLeastOneLayerAndMapRowsToLayers) {
    _on_layer_remove(app.gui.lp.remove, &app);
    EXPECT_EQ(document_layer_count(app.doc), 1u);
    _on_layer_add(app.gui.lp.add, &app);
    _on_layer_add(app.gui.lp.add, &app);
    ASSERT_EQ(document_layer_count(app.doc), 3u);
    _on_layer_select(app.gui.lp.list, 2, 1, &app); // bottom row
    EXPECT_EQ(app.doc->active_layer, document_layer_at(app.doc, 0));
    _on_layer_move(app.gui.lp.down, &app); // already at the bottom
    EXPECT_EQ(app.doc->active_layer, document_layer_at(app.doc, 0));
}

TEST_F(PanelTest, NewInterfaceFontReachesTheToolkitBeforeTheOldOneGoes) {
    ALLEGRO_FONT* before = app.font;
    ASSERT_EQ(tavolix_app_reload_font(&app), 1);
    font = nullptr;
    EXPECT_NE(app.font, before);
    EXPECT_EQ(app.gui.ctx->default_font, app.font);
}

namespace {

float text_width(const ALLEGRO_FONT* font, const char* text) {
    return static_cast<float>(al_get_text_width(font, text));
}

// The labels of a window that the toolkit would cut to "...", as "label (width/room)".
std::string cut_labels(Q_GUI_CTX* ctx, int window, const ALLEGRO_FONT* font) {
    const Q_GUI_STYLE& st = ctx->style;
    std::string cut;
    auto check = [&](const char* text, float room) {
        if (text[0] && text_width(font, text) > room)
            cut += std::string(text) + " (" + std::to_string(text_width(font, text)) + "/" +
                   std::to_string(room) + ") ";
    };
    const Q_GUI_WINDOW* win = q_gui_get_window(ctx, window);
    for (LIST_NODE* n = win ? win->widgets->start : nullptr; n; n = n->next) {
        const Q_GUI_WIDGET* w = static_cast<const Q_GUI_WIDGET*>(n->ptr);
        if (w->kind == Q_GUI_KIND_BUTTON)
            check(static_cast<const Q_GUI_BUTTON_DATA*>(w->data)->label, w->w - 2 * st.label_padding);
        else if (w->kind == Q_GUI_KIND_LABEL)
            check(static_cast<const Q_GUI_LABEL_DATA*>(w->data)->text, w->w - 2 * st.label_padding);
        else if (w->kind == Q_GUI_KIND_CHECKBOX)
            check(static_cast<const Q_GUI_CHECKBOX_DATA*>(w->data)->label,
                  w->w - std::min(w->h, st.checkbox_max_size) - st.checkbox_label_gap);
        else if (w->kind == Q_GUI_KIND_COMBOBOX)
            for (int i = 0; i < q_gui_combobox_get_count(ctx, w->id); i++)
                check(q_gui_combobox_get_item_text(ctx, w->id, i),
                      w->w - st.item_text_padding - st.dropdown_arrow_reserve);
    }
    return cut;
}

} // namespace

// Both panels read whole in every language at every interface size, the labels that name the
// symmetry, the blend mode and the tip in each of their states too; and the value text of
// every slider, the popups' included, stays clear of the knob at the slider's maximum.
struct GuiLabels : AppRecordTest {};

TEST_F(GuiLabels, EveryLabelReadsWholeAndSliderValuesClearTheirKnobs) {
    app.display_w = 1280;
    app.display_h = 800;
    palette_set_defaults(&app.palettes);
    for (int language = 1; language <= 4; language++)
        for (int size = 0; size < 4; size++) {
            const std::string where = "language " + std::to_string(language) + ", size " +
                                      std::to_string(size) + ": ";
            app.ui_scale = tavolix_ui_size_factor(size);
            app.font = al_load_ttf_font("assets/fonts/DejaVuSans.ttf",
                                        static_cast<int>(18.0f * app.ui_scale + 0.5f), 0);
            ASSERT_NE(app.font, nullptr) << "run from the build folder, where assets/ is";
            tavolix_lang_set(language);
            tavolix_gui_option_defaults(&app.gui);
            app.gui.gui_initialised = false;
            ASSERT_EQ(tavolix_gui_init(&app), 1);
            for (int state = 0; state < 7; state++) {
                app.symmetry.mode = state % 5;
                app.brush.tip = state;
                app.doc->active_layer->blend = state % 4;
                tavolix_gui_sync(&app);
                tavolix_gui_sync_layers(&app);
                for (int window : {app.gui.toolbar_window, app.gui.panel_window})
                    EXPECT_EQ(cut_labels(app.gui.ctx, window, app.font), "") << where << state;
            }
            const Q_GUI_STYLE& st = app.gui.ctx->style;
            for (int i = 0; i < app.gui.slider_value_count; i++) {
                const GUI_SLIDER_VALUE& v = app.gui.slider_values[i];
                const Q_GUI_WIDGET* slider = q_gui_get_widget(app.gui.ctx, v.slider);
                const Q_GUI_WIDGET* readout = q_gui_get_widget(app.gui.ctx, v.label);
                char text[32];
                _utf8_format(text, sizeof text, v.format, 100.0); // the widest of every range
                const float tw = text_width(app.font, text);
                const bool right = static_cast<const Q_GUI_LABEL_DATA*>(readout->data)->alignment ==
                                   Q_GUI_ALIGN_RIGHT;
                const float text_x = right ? readout->x + readout->w - st.label_padding - tw
                                           : readout->x + st.label_padding;
                const float knob = std::max(st.slider_handle_min_r,
                                            slider->h / 2 - st.slider_handle_edge_offset);
                EXPECT_LE(slider->x + slider->w + knob, text_x) << where << text;
                EXPECT_LE(tw, readout->w - 2 * st.label_padding) << where << text;
            }
            tavolix_gui_shutdown(&app);
            al_destroy_font(app.font);
            app.font = nullptr;
        }
    tavolix_lang_set(0);
}

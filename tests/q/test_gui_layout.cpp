// Toolkit layout and theme files, and section lists.
#include <dirent.h>

#include <cmath>
#include <string>
#include <vector>

#include "gui_fixture.h"
#include "q/q_gui_internal.h"
#include "test_support.h"

namespace {

std::string sample(const char* name) {
    return std::string(TAVOLIX_TEST_DATA "/layout/") + name;
}

std::vector<std::string> samples(const char* prefix) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(TAVOLIX_TEST_DATA "/layout")) {
        while (const dirent* e = readdir(dir))
            if (strncmp(e->d_name, prefix, strlen(prefix)) == 0) names.push_back(e->d_name);
        closedir(dir);
    }
    return names;
}

} // namespace

TEST_F(GuiTest, LayoutRoundTripAndScaling) {
    ScratchDir dir;
    const std::string path = dir.file("layout.json");
    q_gui_set_display_size(ctx, 1920, 1080);
    const int a = q_gui_add_window(ctx, "tools", 100, 200, 300, 400);
    const int b = q_gui_add_window(ctx, "layers", 1000, 60, 900, 1000);
    q_gui_window_set_zorder(ctx, b, Q_GUI_ZORDER_FIXED, 3);
    q_gui_window_set_flags(ctx, b, 0xD0);
    q_gui_minimize_window(ctx, b);
    ASSERT_EQ(q_gui_save_layout_json(ctx, path.c_str()), 0);

    // The same windows, moved, on a display half the size: positions scale, sizes are kept
    // and then clamped to the display.
    q_gui_window_set_rect(ctx, a, 0, 0, 50, 50);
    q_gui_window_set_rect(ctx, b, 0, 0, 50, 50);
    q_gui_window_set_zorder(ctx, b, Q_GUI_ZORDER_NORMAL, 0);
    q_gui_restore_window(ctx, b);
    q_gui_set_display_size(ctx, 960, 540);
    ASSERT_EQ(q_gui_load_layout_json(ctx, path.c_str()), 0);
    const Q_GUI_WINDOW* wa = q_gui_get_window(ctx, a);
    const Q_GUI_WINDOW* wb = q_gui_get_window(ctx, b);
    EXPECT_FLOAT_EQ(wa->x, 50);
    EXPECT_FLOAT_EQ(wa->y, 100);
    EXPECT_FLOAT_EQ(wa->w, 300);
    EXPECT_FLOAT_EQ(wa->h, 400);
    EXPECT_FLOAT_EQ(wb->x, 500);
    EXPECT_FLOAT_EQ(wb->w, 900);
    EXPECT_FLOAT_EQ(wb->h, 540);
    EXPECT_EQ(q_gui_window_get_zorder(ctx, b), Q_GUI_ZORDER_FIXED);
    EXPECT_EQ(q_gui_window_get_zvalue(ctx, b), 3);
    EXPECT_EQ(q_gui_window_get_flags(ctx, b), 0xD0u);
    EXPECT_TRUE(wb->state & Q_GUI_WIN_MINIMISED);
    EXPECT_TRUE(wb->state & Q_GUI_WIN_OPEN);
}

TEST_F(GuiTest, LayoutSampleOpenDuplicateWinsAndPendingClears) {
    const int layers = q_gui_add_window(ctx, "Layers", 0, 0, 100, 100);
    ASSERT_EQ(q_gui_load_layout_json(ctx, sample("good_layout.json").c_str()), 0);
    const Q_GUI_WINDOW* w = q_gui_get_window(ctx, layers);
    EXPECT_TRUE(w->state & Q_GUI_WIN_OPEN);
    EXPECT_FLOAT_EQ(w->w, 320);              // the open entry's rectangle, not the closed one's
    EXPECT_EQ(ctx->pending_layout_count, 2); // "tools" and "layers" wait for their windows
    const char* none = R"({"windows":[]})";
    ASSERT_EQ(q_gui_load_layout_json_mem(ctx, none, strlen(none)), 0);
    EXPECT_EQ(ctx->pending_layout_count, 0);
    EXPECT_EQ(ctx->pending_layout, nullptr);
}

TEST_F(GuiTest, LayoutNumbersOutOfRangeAreIgnoredOrClamped) {
    const int grid = q_gui_add_window(ctx, "grid", 10, 20, 300, 200);
    ASSERT_EQ(q_gui_load_layout_json(ctx, sample("good_widgets_and_odd_numbers.json").c_str()), 0);
    const Q_GUI_WINDOW* w = q_gui_get_window(ctx, grid);
    EXPECT_FLOAT_EQ(w->x, 10); // infinite: as if missing
    EXPECT_FLOAT_EQ(w->y, 20);
    EXPECT_FLOAT_EQ(w->w, 20); // negative width: the smallest window
    EXPECT_FLOAT_EQ(w->h, 20);
    EXPECT_EQ(w->z_order, Q_GUI_ZORDER_NORMAL);
    EXPECT_EQ(w->flags, 0u);
    EXPECT_EQ(w->resize_policy, 0);
    EXPECT_FLOAT_EQ(w->norm_x, 0);
    // Only the well-formed grid and split pane states wait for their widgets.
    ASSERT_EQ(ctx->pending_widgets_count, 2);
    const Q_GUI_PENDING_WIDGET& cols = ctx->pending_widgets[0];
    EXPECT_STREQ(cols.key, "cols");
    EXPECT_EQ(cols.order[0], 2);
    EXPECT_EQ(cols.visible[1], 0);
    EXPECT_FLOAT_EQ(cols.width[0], 16);
    EXPECT_FLOAT_EQ(ctx->pending_widgets[1].ratio, 0.25f);
}

TEST_F(GuiTest, BrokenFilesAreRefusedAndChangeNothing) {
    ScratchDir dir;
    const int win = q_gui_add_window(ctx, "tools", 11, 22, 333, 444);
    const char* earlier = R"({"windows":[{"title":"later","x":5}]})";
    ASSERT_EQ(q_gui_load_layout_json_mem(ctx, earlier, strlen(earlier)), 0);
    const Q_GUI_STYLE style = ctx->style;

    std::vector<std::string> paths;
    for (const std::string& name : samples("broken_"))
        paths.push_back(sample(name.c_str()));
    ASSERT_GE(paths.size(), 9u);
    // Past the size limits, though well-formed.
    std::string big = R"({"windows":[)" + std::string(4u << 20, ' ') + "]}";
    write_file(dir.file("big.json"), big);
    paths.push_back(dir.file("big.json"));
    for (const std::string& path : paths) {
        EXPECT_EQ(q_gui_load_layout_json(ctx, path.c_str()), -1) << path;
        const bool not_theme =
            path.find("theme") != std::string::npos || path.find("big") != std::string::npos ||
            path.find("not_json") != std::string::npos || path.find("deep") != std::string::npos;
        if (not_theme) {
            EXPECT_EQ(q_gui_load_theme_json(ctx, path.c_str()), -1) << path;
        }
    }
    const Q_GUI_WINDOW* w = q_gui_get_window(ctx, win);
    EXPECT_EQ(w->x, 11);
    EXPECT_EQ(w->h, 444);
    EXPECT_EQ(ctx->pending_layout_count, 1);
    EXPECT_EQ(memcmp(&style, &ctx->style, sizeof style), 0);

    LogCapture log(7);
    EXPECT_EQ(q_gui_load_layout_json(ctx, dir.file("absent.json").c_str()), -1);
    EXPECT_TRUE(log.contains("not found (first run?)"));
    EXPECT_EQ(q_gui_load_layout_json(ctx, nullptr), -1);
    EXPECT_TRUE(log.contains("if( !(filepath) ) assert"));
    EXPECT_EQ(q_gui_save_layout_json(ctx, "/no/such/folder/layout.json"), -1);
}

TEST_F(GuiTest, ThemeFileLoadsOverDefaults) {
    const int win = q_gui_add_window(ctx, "w", 0, 0, 100, 100);
    const int b = q_gui_add_button(ctx, win, "b", 0, 0, 10, 10, 1, nullptr, nullptr);
    const Q_GUI_THEME swatch =
        q_gui_make_theme(al_map_rgb(1, 1, 1), al_map_rgb(1, 1, 1), al_map_rgb(1, 1, 1),
                         al_map_rgb(1, 1, 1), al_map_rgb(1, 1, 1), al_map_rgb(1, 1, 1),
                         al_map_rgb(1, 1, 1), al_map_rgb(1, 1, 1), al_map_rgb(1, 1, 1), 1, 1, 1);
    q_gui_set_widget_theme(ctx, b, &swatch);
    const Q_GUI_STYLE before = ctx->style;
    ASSERT_EQ(q_gui_load_theme_json(ctx, sample("good_theme.json").c_str()), 0);

    auto bytes = [](ALLEGRO_COLOR c) {
        unsigned char r, g, bl, a;
        al_unmap_rgba(c, &r, &g, &bl, &a);
        return std::vector<int>{r, g, bl, a};
    };
    const Q_GUI_THEME& t = q_gui_get_widget(ctx, b)->theme; // per-widget theme replaced
    EXPECT_EQ(bytes(t.bg_normal), (std::vector<int>{1, 2, 3, 255}));
    EXPECT_EQ(bytes(t.bg_hover), (std::vector<int>{0, 255, 255, 255}));        // masked to a byte
    EXPECT_EQ(bytes(t.text_normal), bytes(q_gui_default_theme().text_normal)); // too short
    EXPECT_FLOAT_EQ(t.border_thickness, 64);
    EXPECT_FLOAT_EQ(t.corner_rx, 4);
    EXPECT_EQ(bytes(q_gui_get_window(ctx, win)->theme.bg_normal), bytes(t.bg_normal));
    EXPECT_FLOAT_EQ(ctx->style.titlebar_h, 30);
    EXPECT_FLOAT_EQ(ctx->style.scrollbar_size, 0);
    EXPECT_EQ(ctx->style.combobox_max_visible, before.combobox_max_visible);
    EXPECT_EQ(ctx->style.shape_mode, 1);
    EXPECT_FLOAT_EQ(ctx->style.tooltip_delay, before.tooltip_delay); // not a theme-file field

    // Saved and loaded again, nothing changes; a file with only a theme keeps the style.
    ScratchDir dir;
    const Q_GUI_STYLE saved_style = ctx->style;
    ASSERT_EQ(q_gui_save_theme_json(ctx, dir.file("theme.json").c_str()), 0);
    ctx->style = q_gui_default_style();
    ASSERT_EQ(q_gui_load_theme_json(ctx, dir.file("theme.json").c_str()), 0);
    EXPECT_EQ(memcmp(&saved_style, &ctx->style, sizeof saved_style), 0);
    const char* only_theme = R"({"theme":{"corner_ry":7}})";
    ASSERT_EQ(q_gui_load_theme_json_mem(ctx, only_theme, strlen(only_theme)), 0);
    EXPECT_EQ(memcmp(&saved_style, &ctx->style, sizeof saved_style), 0);
}

TEST_F(GuiTest, SectionListFoldsAndMovesLaterSections) {
    const int win = plain_window(0, 0, 300, 800);
    std::vector<int> folds;
    Q_GUI_SECTIONLIST* list = q_gui_sectionlist_create(
        ctx, win, 10, 10, 200, 28, 6,
        [](int section, int folded, void* user) {
            static_cast<std::vector<int>*>(user)->push_back(section * 10 + folded);
        },
        &folds);
    ASSERT_NE(list, nullptr);
    // Sections built at their unfolded places: headers 28 high, 6 apart, 40 of content each.
    int first_widget = -1;
    for (int s = 0; s < 3; s++) {
        const float top = 10 + s * (28 + 6 + 40 + 6);
        ASSERT_EQ(q_gui_sectionlist_add_section(list, "Part", top, 0), s);
        const int id =
            q_gui_add_slider(ctx, win, 10, top + 34, 200, 40, 0, 1, 0, 0, nullptr, nullptr);
        q_gui_sectionlist_add_widget(list, s, id);
        if (s == 0) first_widget = id;
    }
    q_gui_sectionlist_set_first_inset(list, 50);
    q_gui_sectionlist_relayout(list);
    const Q_GUI_WIDGET* h0 = q_gui_get_widget(ctx, list->sections[0].header_id);
    const Q_GUI_WIDGET* h2 = q_gui_get_widget(ctx, list->sections[2].header_id);
    EXPECT_FLOAT_EQ(h0->x, 60);
    EXPECT_FLOAT_EQ(h0->w, 150);
    EXPECT_FLOAT_EQ(h2->x, 10);
    EXPECT_FLOAT_EQ(h2->y, 170);
    EXPECT_FLOAT_EQ(q_gui_sectionlist_content_height(list), 10 + 3 * 80);

    // A click on the first header folds it: the others move up by its content and gap.
    click(100, 20);
    EXPECT_EQ(folds, (std::vector<int>{1}));
    EXPECT_FLOAT_EQ(h2->y, 170 - 46);
    EXPECT_FALSE(q_gui_get_widget(ctx, first_widget)->visible);
    EXPECT_STREQ(static_cast<Q_GUI_BUTTON_DATA*>(h0->data)->label, "+ Part");
    q_gui_sectionlist_set_folded(list, 1, 1);
    q_gui_sectionlist_set_folded(list, 2, 1);
    EXPECT_FLOAT_EQ(q_gui_sectionlist_content_height(list), 10 + 3 * 34);

    for (int s = 3; s < 16; s++)
        q_gui_sectionlist_add_section(list, "More", 0, 1);
    EXPECT_EQ(q_gui_sectionlist_add_section(list, "Seventeenth", 0, 1), -1);
    for (int i = 0; i < 60; i++)
        q_gui_sectionlist_add_widget(list, 3, first_widget);
    EXPECT_EQ(list->sections[3].widget_count, 48);

    // Freed before the context: its header buttons no longer reach it.
    q_gui_sectionlist_free(&list);
    EXPECT_EQ(list, nullptr);
    click(100, 20);
    EXPECT_EQ(folds.size(), 1u);
    // And a list that outlives its context can still be freed.
    Q_GUI_SECTIONLIST* orphan =
        q_gui_sectionlist_create(ctx, win, 0, 0, 10, 10, 1, nullptr, nullptr);
    q_gui_sectionlist_add_section(orphan, "x", 0, 0);
    q_gui_destroy_ctx(&ctx);
    q_gui_sectionlist_free(&orphan);
}

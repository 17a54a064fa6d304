// Toolkit context and windows: z-order, pending geometry, virtual canvas, focus, resizing.
#include <cmath>
#include <vector>

#include "gui_fixture.h"
#include "test_support.h"

namespace {

std::vector<int> window_order(Q_GUI_CTX* ctx) {
    std::vector<int> ids;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next)
        ids.push_back(static_cast<Q_GUI_WINDOW*>(n->ptr)->id);
    return ids;
}

} // namespace

TEST_F(GuiTest, ZOrderRanksFixedValuesAndRaising) {
    struct {
        int mode, value;
    } made[] = {{Q_GUI_ZORDER_POPUP, 0},         {Q_GUI_ZORDER_NORMAL, 0},
                {Q_GUI_ZORDER_ALWAYS_ON_TOP, 0}, {Q_GUI_ZORDER_FIXED, 5},
                {Q_GUI_ZORDER_ALWAYS_BEHIND, 0}, {Q_GUI_ZORDER_FIXED, 2},
                {Q_GUI_ZORDER_NORMAL, 0}};
    int id[7];
    for (int i = 0; i < 7; i++) {
        id[i] = q_gui_add_window(ctx, "w", 0, 0, 100, 100);
        q_gui_window_set_zorder(ctx, id[i], made[i].mode, made[i].value);
    }
    // behind, fixed by value, normal in creation order, on top, popup
    EXPECT_EQ(window_order(ctx),
              (std::vector<int>{id[4], id[5], id[3], id[1], id[6], id[2], id[0]}));

    q_gui_raise_window(ctx, id[2]); // always-on-top panels do not move
    q_gui_raise_window(ctx, id[1]); // a normal window goes above the other normal one only
    EXPECT_EQ(window_order(ctx),
              (std::vector<int>{id[4], id[5], id[3], id[6], id[1], id[2], id[0]}));
    q_gui_lower_window(ctx, id[1]);
    q_gui_lower_window(ctx, id[0]); // popups are not lowered
    EXPECT_EQ(window_order(ctx),
              (std::vector<int>{id[4], id[5], id[3], id[1], id[6], id[2], id[0]}));
    EXPECT_EQ(q_gui_get_topmost_open_window(ctx), id[0]);
    q_gui_close_window(ctx, id[0]);
    q_gui_minimize_window(ctx, id[2]);
    EXPECT_EQ(q_gui_get_topmost_open_window(ctx), id[6]);

    LogCapture log(3);
    q_gui_window_set_zorder(ctx, id[1], 9, 0);
    EXPECT_TRUE(log.contains("unknown z_mode 9"));
    EXPECT_EQ(q_gui_window_get_zorder(ctx, id[1]), Q_GUI_ZORDER_NORMAL);
}

TEST_F(GuiTest, PendingGeometryIsClampedAndServesOneWindowEach) {
    q_gui_set_display_size(ctx, 1920, 1080);
    const char* file = R"({"windows":[
        {"title":"Far","x":5000,"y":40,"w":5000,"h":300,"state":3},
        {"title":"Twin","x":10,"y":20,"w":200,"h":100,"state":1},
        {"title":"Twin","x":30,"y":40,"w":250,"h":150,"state":1}]})";
    ASSERT_EQ(q_gui_load_layout_json_mem(ctx, file, strlen(file)), 0);

    const Q_GUI_WINDOW* far = q_gui_get_window(ctx, q_gui_add_window(ctx, "Far", 1, 1, 100, 100));
    EXPECT_EQ(far->x, 0);
    EXPECT_EQ(far->y, 40);
    EXPECT_EQ(far->w, 1920);
    EXPECT_TRUE(far->state & Q_GUI_WIN_MINIMISED);
    const Q_GUI_WINDOW* a = q_gui_get_window(ctx, q_gui_add_window(ctx, "Twin", 1, 1, 100, 100));
    const Q_GUI_WINDOW* b = q_gui_get_window(ctx, q_gui_add_window(ctx, "Twin", 1, 1, 100, 100));
    const Q_GUI_WINDOW* c = q_gui_get_window(ctx, q_gui_add_window(ctx, "Twin", 1, 1, 100, 100));
    EXPECT_EQ(a->x, 10);
    EXPECT_EQ(b->x, 30);
    EXPECT_EQ(b->w, 250);
    EXPECT_EQ(c->x, 1); // both entries were used already
    const Q_GUI_WINDOW* again = q_gui_get_window(ctx, q_gui_add_window(ctx, "Far", 7, 7, 100, 100));
    EXPECT_EQ(again->x, 7);
}

TEST_F(GuiTest, VirtualCanvasLetterBox) {
    q_gui_set_display_size(ctx, 1600, 900);
    q_gui_set_virtual_size(ctx, 800, 600);
    EXPECT_FLOAT_EQ(ctx->virtual_scale, 1.5f);
    EXPECT_FLOAT_EQ(ctx->virtual_offset_x, 200.0f);
    EXPECT_FLOAT_EQ(ctx->virtual_offset_y, 0.0f);
    float vx = 0, vy = 0;
    q_gui_screen_to_virtual(ctx, 350, 450, &vx, &vy);
    EXPECT_FLOAT_EQ(vx, 100.0f);
    EXPECT_FLOAT_EQ(vy, 300.0f);
    q_gui_screen_to_virtual(ctx, 1, 1, nullptr, nullptr); // either output may be absent

    // A window in virtual pixels is hit where the letter-box puts it on screen.
    plain_window(100, 100, 100, 100);
    ctx->mouse_x = 200 + 150 * 1.5f + 1;
    ctx->mouse_y = 150 * 1.5f;
    EXPECT_EQ(q_gui_wants_mouse(ctx), 1);
    ctx->mouse_x = 150; // left of the letter-box
    EXPECT_EQ(q_gui_wants_mouse(ctx), 0);

    {
        LogCapture log(3);
        q_gui_set_virtual_size(ctx, 800, 0);
        q_gui_set_virtual_size(ctx, NAN, NAN);
        EXPECT_TRUE(log.contains("both dimensions must be > 0 (got w=800.0, h=0.0)"));
    }
    EXPECT_EQ(ctx->virtual_w, 800);
    q_gui_set_virtual_size(ctx, 0, 0);
    EXPECT_EQ(ctx->virtual_w, 0);
    EXPECT_FLOAT_EQ(ctx->virtual_scale, 1.0f);
}

TEST_F(GuiTest, FocusGoesToFocusableWidgetsOnly) {
    const int win = plain_window(0, 0, 300, 300);
    q_gui_add_button(ctx, win, "b", 0, 0, 50, 20, 1, nullptr, nullptr);
    const int hidden = q_gui_add_textarea(ctx, win, 0, 30, 50, 20, 0, 10, nullptr, nullptr);
    q_gui_set_widget_visible(ctx, hidden, 0);
    const int slider = q_gui_add_slider(ctx, win, 0, 60, 50, 20, 0, 1, 0, 0, nullptr, nullptr);
    q_gui_focus_window(ctx, win);
    EXPECT_EQ(q_gui_get_focus(ctx), slider);
    EXPECT_TRUE(q_gui_get_widget(ctx, slider)->state & Q_GUI_WIDGET_FOCUSED);

    LogCapture log(3);
    q_gui_set_focus(ctx, 999);
    EXPECT_TRUE(log.contains("q_gui_set_focus: widget 999 not found"));
    EXPECT_EQ(q_gui_get_focus(ctx), -1);
    EXPECT_FALSE(q_gui_get_widget(ctx, slider)->state & Q_GUI_WIDGET_FOCUSED);
}

TEST_F(GuiTest, AdaptiveResizeMovesOrScalesByPolicy) {
    const int moved = plain_window(640, 400, 100, 100);
    const int scaled = plain_window(320, 200, 200, 100);
    const int btn = q_gui_add_button(ctx, scaled, "b", 50, 25, 100, 50, 1, nullptr, nullptr);
    q_gui_set_resize_mode(ctx, Q_GUI_RESIZE_ADAPTIVE);
    q_gui_window_set_resize_policy(ctx, moved, Q_GUI_RESIZE_POLICY_MOVE);
    q_gui_window_set_resize_policy(ctx, scaled, Q_GUI_RESIZE_POLICY_SCALE);
    q_gui_set_display_size(ctx, 2560, 1600);
    const Q_GUI_WINDOW* m = q_gui_get_window(ctx, moved);
    const Q_GUI_WINDOW* s = q_gui_get_window(ctx, scaled);
    EXPECT_FLOAT_EQ(m->x, 1280);
    EXPECT_FLOAT_EQ(m->w, 100);
    EXPECT_FLOAT_EQ(s->x, 640);
    EXPECT_FLOAT_EQ(s->w, 400);
    EXPECT_FLOAT_EQ(q_gui_get_widget(ctx, btn)->x, 100);
    EXPECT_FLOAT_EQ(q_gui_get_widget(ctx, btn)->h, 100);
}

TEST_F(GuiTest, AutofitGrowsAroundItsAnchor) {
    const int win = plain_window(500, 300, 100, 100);
    q_gui_add_button(ctx, win, "b", 0, 0, 300, 200, 1, nullptr, nullptr);
    q_gui_window_set_autofit(
        ctx, win, Q_GUI_AUTOFIT_WIDTH | Q_GUI_AUTOFIT_GROW_LEFT | Q_GUI_AUTOFIT_HEIGHT, 10);
    q_gui_window_apply_autofit(ctx, win);
    const Q_GUI_WINDOW* w = q_gui_get_window(ctx, win);
    EXPECT_FLOAT_EQ(w->w, 320);
    EXPECT_FLOAT_EQ(w->x, 280); // the right edge stays at 600
    EXPECT_FLOAT_EQ(w->h, 220);
    EXPECT_FLOAT_EQ(w->y, 300);
    q_gui_window_set_autofit(ctx, win, Q_GUI_AUTOFIT_WIDTH | Q_GUI_AUTOFIT_CENTER, 0);
    q_gui_window_apply_autofit(ctx, win);
    EXPECT_FLOAT_EQ(w->x, 280 - 150);
}

TEST_F(GuiTest, BadArgumentsGetNeutralResults) {
    LogCapture log(7);
    EXPECT_EQ(q_gui_new_ctx(nullptr), nullptr);
    EXPECT_TRUE(log.contains("if( !(default_font) ) assert"));
    EXPECT_EQ(q_gui_add_window(nullptr, "x", 0, 0, 1, 1), -1);
    EXPECT_EQ(q_gui_process_event(nullptr, nullptr), 0);
    EXPECT_EQ(q_gui_needs_redraw(nullptr), 1);
    EXPECT_EQ(q_gui_get_resize_mode(nullptr), 0);
    EXPECT_FLOAT_EQ(q_gui_get_dpi_scale(nullptr), 1.0f);
    EXPECT_EQ(q_gui_add_button(ctx, 42, "no window", 0, 0, 1, 1, 1, nullptr, nullptr), -1);
    EXPECT_TRUE(log.contains("if( !(win) ) assert"));

    // Sizes that are not numbers or absurd never reach the records.
    const int win = q_gui_add_window(ctx, nullptr, NAN, INFINITY, -5, NAN);
    const Q_GUI_WINDOW* w = q_gui_get_window(ctx, win);
    EXPECT_EQ(w->x, 0);
    EXPECT_EQ(w->y, 0);
    EXPECT_EQ(w->w, 1);
    EXPECT_GE(w->h, 1);
    const int b = q_gui_add_button(ctx, win, nullptr, NAN, 1e30f, -4, NAN, 1, nullptr, nullptr);
    EXPECT_EQ(q_gui_get_widget(ctx, b)->w, 0);
    EXPECT_EQ(q_gui_get_widget(ctx, b)->y, 0);
    q_gui_set_dpi_scale(ctx, NAN);
    EXPECT_FLOAT_EQ(q_gui_get_dpi_scale(ctx), 1.0f);
    q_gui_set_dpi_scale(ctx, 20);
    EXPECT_FLOAT_EQ(q_gui_get_dpi_scale(ctx), 8.0f);
}

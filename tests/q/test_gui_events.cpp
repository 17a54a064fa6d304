// Toolkit event routing: capture, stacking, slider drags, keyboard routing, tooltips, and
// whether the pointer is over the GUI.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui_fixture.h"
#include "q/q_clipboard.h"
#include "q/q_gui_internal.h"

TEST_F(GuiTest, ButtonFiresOnlyWhenPressAndReleaseBothFallOnIt) {
    Calls calls;
    const int win = plain_window(0, 0, 400, 400);
    q_gui_add_button(ctx, win, "ok", 100, 100, 80, 30, 1, count_button, &calls);
    const struct {
        const char* what;
        int press_x, release_x, taken, fires;
    } cases[] = {{"inside, inside", 120, 150, 1, 1},
                 {"inside, outside", 120, 300, 1, 0},
                 {"outside, inside", 300, 120, 1, 0},
                 {"off every window, inside", 700, 120, 0, 0}};
    for (const auto& c : cases) {
        const int before = calls.count;
        move(c.press_x, 110);
        EXPECT_EQ(button(true, c.press_x, 110), c.taken) << c.what;
        move(c.release_x, 112);
        EXPECT_EQ(button(false, c.release_x, 112), c.taken) << c.what;
        EXPECT_EQ(calls.count - before, c.fires) << c.what;
    }
}

TEST_F(GuiTest, LaterWidgetAndPopupTakeThePress) {
    Calls under, over, popup;
    const int panel = plain_window(0, 0, 300, 300);
    q_gui_window_set_zorder(ctx, panel, Q_GUI_ZORDER_ALWAYS_ON_TOP, 0);
    q_gui_add_button(ctx, panel, "a", 10, 10, 100, 100, 1, count_button, &under);
    q_gui_add_button(ctx, panel, "b", 50, 50, 100, 100, 1, count_button, &over);
    const int pop = plain_window(200, 200, 200, 200);
    q_gui_window_set_zorder(ctx, pop, Q_GUI_ZORDER_POPUP, 0);
    q_gui_add_button(ctx, pop, "p", 0, 0, 50, 50, 1, count_button, &popup);
    // The panel is created before and raised after: the popup still wins the overlap.
    q_gui_raise_window(ctx, panel);
    click(80, 80);
    click(220, 220);
    EXPECT_EQ(under.count, 0);
    EXPECT_EQ(over.count, 1);
    EXPECT_EQ(popup.count, 1);

    const int field = q_gui_add_textarea(ctx, panel, 10, 200, 100, 20, 0, 10, nullptr, nullptr);
    click(20, 210);
    EXPECT_EQ(q_gui_get_focus(ctx), field);
    EXPECT_EQ(click(900, 700), 0); // the canvas gets it, and the focus stays
    EXPECT_EQ(q_gui_get_focus(ctx), field);
    click(60, 60); // buttons never take the focus either
    EXPECT_EQ(q_gui_get_focus(ctx), field);
}

TEST_F(GuiTest, SliderDragReportsEachSnappedValueOnce) {
    std::vector<double> seen;
    const int win = plain_window(0, 0, 500, 100);
    const int s = q_gui_add_slider(
        ctx, win, 100, 10, 200, 20, 0, 100, 0, 0,
        [](int, double v, void* user) { static_cast<std::vector<double>*>(user)->push_back(v); },
        &seen);
    q_gui_slider_set_step(ctx, s, 5);
    move(100, 20);
    button(true, 100, 20);
    for (int x = 100; x <= 340; x++)
        EXPECT_EQ(move(x, 60), 1); // captured, even off the slider
    button(false, 340, 60);
    ASSERT_EQ(seen.size(), 20u);
    for (size_t i = 0; i < seen.size(); i++)
        EXPECT_DOUBLE_EQ(seen[i], 5.0 * (i + 1));
    EXPECT_EQ(q_gui_slider_get_value(ctx, s), 100);
    key_down(ALLEGRO_KEY_LEFT); // the drag gave it the focus
    EXPECT_EQ(q_gui_slider_get_value(ctx, s), 95);
}

TEST_F(GuiTest, KeyRoutingAndShortcuts) {
    Calls enter, save, focused;
    const int win = plain_window(0, 0, 500, 300);
    const int ok = q_gui_add_button(ctx, win, "ok", 0, 0, 50, 20, 1, count_button, &enter);
    q_gui_button_set_keycode(ctx, ok, ALLEGRO_KEY_ENTER, 0);
    const int sv = q_gui_add_button(ctx, win, "save", 60, 0, 50, 20, 1, count_button, &save);
    q_gui_button_set_keycode(ctx, sv, ALLEGRO_KEY_S, ALLEGRO_KEYMOD_CTRL);
    const int single = q_gui_add_textarea(ctx, win, 0, 40, 200, 20, 0, 20, nullptr, nullptr);
    const int multi = q_gui_add_textarea(ctx, win, 0, 80, 200, 60, 1, 20, nullptr, nullptr);
    const int go = q_gui_add_button(ctx, win, "go", 120, 0, 50, 20, 1, count_button, &focused);
    q_gui_button_set_keycode_focused(ctx, go, ALLEGRO_KEY_G, 0, &single, 1);

    EXPECT_EQ(key_down(ALLEGRO_KEY_S, ALLEGRO_KEYMOD_CTRL), 1);
    EXPECT_EQ(key_down(ALLEGRO_KEY_S, ALLEGRO_KEYMOD_CTRL | ALLEGRO_KEYMOD_SHIFT), 0);
    EXPECT_EQ(key_down(ALLEGRO_KEY_G), 0); // nothing focused
    EXPECT_EQ(save.count, 1);
    q_gui_set_focus(ctx, single);
    EXPECT_EQ(key_down(ALLEGRO_KEY_ENTER, ALLEGRO_KEYMOD_SHIFT), 1);
    EXPECT_EQ(enter.count, 1);
    EXPECT_EQ(key_down(ALLEGRO_KEY_S, ALLEGRO_KEYMOD_CTRL), 1); // eaten by the field
    EXPECT_EQ(save.count, 1);
    key_down(ALLEGRO_KEY_G);
    EXPECT_EQ(focused.count, 1);
    q_gui_set_focus(ctx, multi);
    key_down(ALLEGRO_KEY_ENTER);
    key_down(ALLEGRO_KEY_G);
    EXPECT_EQ(enter.count, 1);
    EXPECT_EQ(focused.count, 1);

    // Modifiers held on the keyboard count even when the key event does not carry them.
    q_gui_set_focus(ctx, -1);
    key_down(ALLEGRO_KEY_LCTRL);
    key_down(ALLEGRO_KEY_S);
    EXPECT_EQ(save.count, 2);
    ALLEGRO_EVENT up{};
    up.type = ALLEGRO_EVENT_KEY_UP;
    up.keyboard.keycode = ALLEGRO_KEY_LCTRL;
    send(up);
    key_down(ALLEGRO_KEY_S);
    EXPECT_EQ(save.count, 2);
}

TEST_F(GuiTest, TooltipTimerKeepsWithinTwoPixels) {
    const int win = plain_window(0, 0, 300, 300);
    const int b = q_gui_add_button(ctx, win, "b", 10, 10, 100, 40, 1, nullptr, nullptr);
    const int bare = q_gui_add_button(ctx, win, "c", 10, 100, 100, 40, 1, nullptr, nullptr);
    q_gui_set_widget_tooltip(ctx, b, "Help text");
    move(50, 20);
    ASSERT_EQ(ctx->tooltip_id, b);
    EXPECT_EQ(q_gui_tooltip_pending(ctx), 1);
    const struct {
        int x, y;
        bool restarts;
    } steps[] = {{52, 18, false}, {48, 22, false}, {51, 20, false}, {53, 20, true}, {53, 23, true}};
    int ax = 50, ay = 20;
    for (const auto& s : steps) {
        ctx->hover_start = 1.0; // a mark that a restart overwrites
        move(s.x, s.y);
        EXPECT_EQ(ctx->hover_start != 1.0, s.restarts) << s.x << "," << s.y;
        if (s.restarts) ax = s.x, ay = s.y;
        EXPECT_EQ(ctx->hover_anchor_x, ax);
        EXPECT_EQ(ctx->hover_anchor_y, ay);
    }
    ctx->hover_start = al_get_time() - 10;
    EXPECT_EQ(q_gui_tooltip_pending(ctx), 2);
    button(true, 53, 23);
    EXPECT_EQ(ctx->tooltip_id, -1);
    button(false, 53, 23);
    move(50, 110);
    EXPECT_EQ(ctx->tooltip_id, bare);
    EXPECT_EQ(q_gui_tooltip_pending(ctx), 0); // nothing to show, nothing to wait for
}

TEST_F(GuiTest, WantsMouseOverOpenWindowsOnly) {
    const int closed = q_gui_add_window(ctx, "closed", 0, 0, 100, 100);
    q_gui_close_window(ctx, closed);
    const int mini = q_gui_add_window(ctx, "mini", 200, 0, 100, 100);
    q_gui_minimize_window(ctx, mini);
    const int bare = plain_window(400, 0, 100, 100);
    q_gui_minimize_window(ctx, bare);
    const int open = plain_window(600, 0, 100, 100);
    const struct {
        int x, y, wants;
    } cases[] = {{50, 50, 0}, {250, 10, 1}, {250, 28, 1},  {250, 40, 0},
                 {450, 0, 0}, {600, 0, 1},  {700, 100, 1}, {701, 100, 0}};
    for (const auto& c : cases) {
        move(c.x, c.y);
        EXPECT_EQ(q_gui_wants_mouse(ctx), c.wants) << c.x << "," << c.y;
    }
    (void)open;
}

TEST_F(GuiTest, TitleBarDragCloseButtonAndResizeGrips) {
    const int win = q_gui_add_window(ctx, "Tool", 100, 100, 300, 200);
    q_gui_window_set_flags(ctx, win, Q_GUI_WINDOW_CLOSE_BUTTON | Q_GUI_WINDOW_RESIZABLE);
    const Q_GUI_WINDOW* w = q_gui_get_window(ctx, win);
    move(150, 110);
    button(true, 150, 110);
    move(180, 150);
    button(false, 180, 150);
    EXPECT_EQ(w->x, 130);
    EXPECT_EQ(w->y, 140);
    move(425, 335); // resize grip at the bottom-right corner
    button(true, 425, 335);
    move(150, 150);
    button(false, 150, 150);
    EXPECT_EQ(w->w, w->min_w);
    EXPECT_EQ(w->h, w->min_h);
    EXPECT_EQ(w->state & (Q_GUI_WIN_DRAGGING | Q_GUI_WIN_RESIZING), 0u);

    Q_GUI_RECT close;
    ASSERT_TRUE(_tb_button_rect(ctx, w, 3, &close));
    click(static_cast<int>(close.x + 2), static_cast<int>(close.y + 2));
    EXPECT_EQ(q_gui_window_is_open(ctx, win), 0);

    // Docked at its right edge, a window widens and narrows by its left edge or bottom-left
    // grip within its width range; right edge and height stay, and letting go reports it.
    const int dock = plain_window(800, 100, 200, 300);
    q_gui_window_set_flags(ctx, dock, 0xC0 | Q_GUI_WINDOW_RESIZE_LEFT); // fixed, no title bar
    q_gui_window_set_width_range(ctx, dock, 180, 400);
    Calls resized;
    q_gui_window_set_resize_callback(ctx, dock, count_button, &resized);
    const Q_GUI_WINDOW* d = q_gui_get_window(ctx, dock);
    const int drags[][4] = {{800, 250, 700, 300}, {702, 390, 102, 400}, {600, 120, 950, 180},
                            {900, 390, 800, 180}}; // from, to, width; the bottom-right corner is no grip
    for (const auto& g : drags) {
        move(g[0], g[1]);
        button(true, g[0], g[1]);
        move(g[2], g[1] + 40);
        button(false, g[2], g[1] + 40);
        EXPECT_EQ(d->w, g[3]) << g[0];
        EXPECT_EQ(d->x + d->w, 1000) << g[0];
        EXPECT_EQ(d->h, 300);
    }
    EXPECT_EQ(resized.count, 3);
    EXPECT_EQ(resized.id, dock);
}

TEST_F(GuiTest, ClicksOnListsChecksAndLinks) {
    const int win = plain_window(0, 0, 400, 400);
    Calls list_calls, combo_calls, check_calls, link_calls;
    const int list = q_gui_add_listbox(
        ctx, win, 10, 10, 150, 100, Q_GUI_LISTBOX_MULTIPLE,
        [](int, int index, int selected, void* user) {
            static_cast<Calls*>(user)->count++;
            static_cast<Calls*>(user)->value = index * 10 + selected;
        },
        &list_calls);
    for (int i = 0; i < 3; i++)
        q_gui_listbox_add_item(ctx, list, "row");
    click(20, 10 + 25); // second row, 20 high
    click(20, 10 + 25);
    EXPECT_EQ(list_calls.count, 2);
    EXPECT_EQ(list_calls.value, 10); // row 1, deselected again
    click(20, 10 + 90);              // below the last row: nothing
    EXPECT_EQ(list_calls.count, 2);

    const int check = q_gui_add_checkbox(
        ctx, win, "Lock", 10, 130, 100, 24, 0,
        [](int, int checked, void* user) {
            static_cast<Calls*>(user)->count++;
            static_cast<Calls*>(user)->value = checked;
        },
        &check_calls);
    click(15, 140);
    EXPECT_EQ(q_gui_checkbox_is_checked(ctx, check), 1);
    key_down(ALLEGRO_KEY_SPACE); // it took the focus
    EXPECT_EQ(check_calls.count, 2);
    EXPECT_EQ(check_calls.value, 0);
    q_gui_set_widget_enabled(ctx, check, 0); // a disabled widget takes nothing
    EXPECT_EQ(q_gui_get_focus(ctx), -1);
    click(15, 140);
    EXPECT_EQ(check_calls.count, 2);

    const int combo = q_gui_add_combobox(ctx, win, 200, 10, 150, 24, count_index, &combo_calls);
    for (const char* item : {"a", "b", "c"})
        q_gui_combobox_add_item(ctx, combo, item);
    click(210, 20);
    const Q_GUI_DROPDOWN dd = _combo_dropdown(ctx, q_gui_get_widget(ctx, combo));
    click(static_cast<int>(dd.rect.x + 5), static_cast<int>(dd.rect.y + dd.row_h * 2.5f));
    EXPECT_EQ(q_gui_combobox_get_selected(ctx, combo), 2);
    EXPECT_EQ(combo_calls.count, 1);
    click(210, 20);
    EXPECT_EQ(click(900, 700), 1); // off every window, but it closes the list: taken
    EXPECT_EQ(ctx->open_combo_id, -1);
    EXPECT_EQ(combo_calls.count, 1);

    q_gui_add_label_link(
        ctx, win, "docs", "https://example.org", 10, 200, 100, 20, 0,
        [](int, const char* link, void* user) {
            static_cast<Calls*>(user)->count++;
            static_cast<Calls*>(user)->text = link;
        },
        &link_calls);
    click(20, 210);
    EXPECT_EQ(link_calls.count, 1);
    EXPECT_EQ(link_calls.text, "https://example.org");
}

TEST_F(GuiTest, ClicksAndDragsInTextLandOnCharacterBoundaries) {
    const int win = plain_window(0, 0, 600, 300);
    const int t = q_gui_add_textarea(ctx, win, 10, 10, 400, 30, 0, 200, nullptr, nullptr);
    const int lab = q_gui_add_label(ctx, win, "", 10, 60, 400, 24, 0);
    const std::string text = "a\xc3\xa9\xe6\xbc\xa2\xf0\x9f\x98\x80 b\xc3\xa9\xe6\xbc\xa2";
    q_gui_textarea_set_text(ctx, t, text.c_str());
    q_gui_label_set_text(ctx, lab, text.c_str());
    auto boundary = [&](int pos) {
        return pos >= 0 && pos <= static_cast<int>(text.size()) &&
               _utf8_cut(text.data(), static_cast<int>(text.size()), pos) == pos;
    };
    const auto* td = static_cast<const Q_GUI_TEXTAREA_DATA*>(q_gui_get_widget(ctx, t)->data);
    const auto* ld = static_cast<const Q_GUI_LABEL_DATA*>(q_gui_get_widget(ctx, lab)->data);
    for (int x = 0; x < 200; x += 3) {
        move(20, 25);
        button(true, 20, 25);
        move(x, 25);
        button(false, x, 25);
        EXPECT_TRUE(boundary(td->cursor) && boundary(td->sel_start)) << x;
        move(15, 70);
        button(true, 15, 70);
        move(x, 70);
        button(false, x, 70);
        EXPECT_TRUE(boundary(ld->sel_anchor) && boundary(ld->sel_end)) << x;
    }
    // The last drag selected from the label's start to its end: Ctrl+C copies those bytes.
    ASSERT_EQ(key_down(ALLEGRO_KEY_C, ALLEGRO_KEYMOD_CTRL), 1);
    char* copied = q_clipboard_get(0);
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(std::string(copied), text);
    free(copied);
}

TEST_F(GuiTest, WholeGuiScrollsWhenWindowsPassTheDisplay) {
    q_gui_set_display_size(ctx, 800, 600);
    Calls calls;
    const int tall = plain_window(0, 0, 300, 1200);
    q_gui_add_button(ctx, tall, "low", 10, 1100, 100, 40, 1, count_button, &calls);
    q_gui_mark_dirty(ctx);
    ALLEGRO_BITMAP* target = al_create_bitmap(800, 600);
    al_set_target_bitmap(target);
    q_gui_draw(ctx);                    // works out the extent and shows the whole-GUI scrollbar
    EXPECT_EQ(move(500, 300, -100), 1); // over no window: the whole GUI scrolls
    q_gui_draw(ctx);
    al_set_target_backbuffer(al_get_current_display());
    al_destroy_bitmap(target);
    const float scrolled = ctx->global_scroll_y;
    EXPECT_FLOAT_EQ(scrolled, 1200 - 600);
    // The button is hit where it is drawn, scrolled up by the same amount.
    click(20, static_cast<int>(1100 - scrolled + 10));
    EXPECT_EQ(calls.count, 1);
    EXPECT_EQ(q_gui_wants_mouse(ctx), 1);
}

TEST_F(GuiTest, SwitchOutReleasesDragsAndTouchActsAsPointer) {
    Calls calls;
    const int win = q_gui_add_window(ctx, "Tool", 100, 100, 300, 200);
    q_gui_add_button(ctx, win, "b", 10, 10, 80, 30, 1, count_button, &calls);
    move(150, 110);
    button(true, 150, 110);
    ALLEGRO_EVENT out{};
    out.type = ALLEGRO_EVENT_DISPLAY_SWITCH_OUT;
    EXPECT_EQ(send(out), 0);
    move(300, 300);
    EXPECT_EQ(q_gui_get_window(ctx, win)->x, 100); // the drag ended with the focus
    EXPECT_EQ(ctx->mouse_down, 0);

    for (unsigned type : {ALLEGRO_EVENT_TOUCH_BEGIN, ALLEGRO_EVENT_TOUCH_END}) {
        ALLEGRO_EVENT touch{};
        touch.type = type;
        touch.touch.x = 120;
        touch.touch.y = 150;
        touch.touch.primary = true;
        send(touch);
    }
    EXPECT_EQ(calls.count, 1);
}

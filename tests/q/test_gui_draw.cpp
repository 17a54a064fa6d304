// Toolkit drawing, read back from a bitmap: window colours, a toggled button, clipping to the
// window, and a scrollable window's content after the wheel.
#include <allegro5/allegro_primitives.h>

#include <cmath>

#include "gui_fixture.h"
#include "q/q_gui_internal.h"
#include "test_support.h"

namespace {

ALLEGRO_COLOR opaque(int r, int g, int b) {
    return al_map_rgb(static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                      static_cast<unsigned char>(b));
}

// Opaque, distinct colours, square corners and 2-pixel borders, so pixels can be compared
// exactly.
Q_GUI_THEME test_theme() {
    return q_gui_make_theme(opaque(10, 20, 30), opaque(40, 50, 60), opaque(70, 80, 90),
                            opaque(200, 0, 0), opaque(0, 200, 0), opaque(0, 0, 200),
                            opaque(255, 255, 255), opaque(255, 255, 255), opaque(255, 255, 255),
                            2.0f, 0.0f, 0.0f);
}

// One colour for every state, no border.
Q_GUI_THEME flat_theme(int r, int g, int b) {
    const ALLEGRO_COLOR c = opaque(r, g, b), k = opaque(0, 0, 0);
    return q_gui_make_theme(c, c, c, c, c, c, k, k, k, 0.0f, 0.0f, 0.0f);
}

struct GuiDrawTest : GuiTest {
    ALLEGRO_BITMAP* target = nullptr;
    void SetUp() override {
        GuiTest::SetUp();
        const Q_GUI_THEME theme = test_theme();
        q_gui_set_default_theme(ctx, &theme);
        q_gui_set_display_size(ctx, 400, 300);
        target = al_create_bitmap(400, 300);
        ASSERT_NE(target, nullptr);
    }
    void TearDown() override {
        al_destroy_bitmap(target);
        GuiTest::TearDown();
    }
    void draw() {
        ALLEGRO_BITMAP* previous = al_get_target_bitmap();
        al_set_target_bitmap(target);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        q_gui_draw(ctx);
        al_set_target_bitmap(previous);
    }
    bool is(int x, int y, int r, int g, int b) {
        const Rgba p = pixel_at(target, x, y);
        return p.r == r && p.g == g && p.b == b && p.a == 255;
    }
    bool empty(int x, int y) { return pixel_at(target, x, y).a == 0; }
};

} // namespace

TEST_F(GuiDrawTest, WindowBodyAndBorderInThemeColours) {
    plain_window(20, 20, 200, 100);
    draw();
    EXPECT_TRUE(is(120, 70, 10, 20, 30)); // body: bg_normal
    EXPECT_TRUE(is(120, 20, 200, 0, 0));  // top edge: border_normal
    EXPECT_TRUE(is(20, 70, 200, 0, 0));   // left edge
    EXPECT_TRUE(empty(120, 17));          // nothing outside
    EXPECT_TRUE(empty(223, 70));
    EXPECT_EQ(ctx->dirty, 0);
}

TEST_F(GuiDrawTest, ToggledButtonShowsPressedColours) {
    const int win = plain_window(0, 0, 400, 300);
    const int on = q_gui_add_toggle_button(ctx, win, "", 20, 20, 60, 30, 0, 1, nullptr, nullptr);
    q_gui_add_toggle_button(ctx, win, "", 120, 20, 60, 30, 0, 0, nullptr, nullptr);
    move(300, 250); // the pointer is elsewhere
    draw();
    EXPECT_TRUE(is(50, 35, 70, 80, 90));  // bg_active
    EXPECT_TRUE(is(20, 35, 0, 0, 200));   // border_active
    EXPECT_TRUE(is(150, 35, 10, 20, 30)); // the other one is normal
    q_gui_button_set_toggled(ctx, on, 0);
    q_gui_set_shape_mode(ctx, 1); // rounded corners everywhere now
    draw();
    EXPECT_TRUE(is(50, 35, 10, 20, 30));
}

TEST_F(GuiDrawTest, WidgetsAreClippedToTheirWindow) {
    const int win = plain_window(20, 20, 200, 100);
    const Q_GUI_THEME orange = flat_theme(255, 128, 0);
    for (const int id : {q_gui_add_button(ctx, win, "", 150, 40, 200, 30, 0, nullptr, nullptr),
                         q_gui_add_button(ctx, win, "", 50, -20, 40, 60, 0, nullptr, nullptr)})
        q_gui_set_widget_theme(ctx, id, &orange);
    draw();
    EXPECT_TRUE(is(210, 75, 255, 128, 0)); // inside the window
    EXPECT_TRUE(empty(230, 75));           // the part past the right edge is not drawn
    EXPECT_TRUE(is(90, 30, 255, 128, 0));
    EXPECT_TRUE(empty(90, 10)); // nor the part above the window
}

TEST_F(GuiDrawTest, ScrollableWindowFollowsTheWheel) {
    const int win = plain_window(20, 20, 200, 100);
    q_gui_window_set_flags(ctx, win, Q_GUI_WINDOW_SCROLLABLE | Q_GUI_WINDOW_NO_TITLEBAR);
    const Q_GUI_THEME theme = flat_theme(255, 128, 0);
    const int low = q_gui_add_button(ctx, win, "", 10, 250, 100, 30, 0, nullptr, nullptr);
    q_gui_set_widget_theme(ctx, low, &theme);
    draw();
    EXPECT_TRUE(is(60, 100, 10, 20, 30)); // only the window body shows
    EXPECT_EQ(move(60, 60, -50), 1);      // wheel down, far more than needed
    draw();
    // Content is 280 high in a 100-high area: scrolled by 180, the button now sits at
    // 20 + 250 - 180 = 90 on screen.
    EXPECT_FLOAT_EQ(q_gui_get_window(ctx, win)->scroll_y, 180);
    EXPECT_TRUE(is(60, 100, 255, 128, 0));
    EXPECT_FALSE(is(214, 60, 10, 20, 30)); // the scrollbar takes the right edge
}

// A ring's outer and inner edges are cut into the same number of points: a handle whose two
// edges fell on different sides of a step in the point count (radii near 9, 16, 25, 36) once
// sent stray triangles across the whole panel. Each ring must stay inside its own circle.
TEST_F(GuiDrawTest, RingsStayInsideTheirBounds) {
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(target);
    for (const float r : {3.8f, 8.6f, 16.2f, 24.8f, 35.5f, 36.6f}) {
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        const float width = 1.5f, reach = r + width / 2 + 1;
        _circle_outline(200, 150, r, al_map_rgb(255, 255, 255), width);
        _paint_flush();
        const ALLEGRO_LOCKED_REGION* lock =
            al_lock_bitmap(target, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
        ASSERT_NE(lock, nullptr);
        int strays = 0;
        for (int y = 0; y < 300; y++) {
            const auto* row = static_cast<const unsigned char*>(lock->data) + y * lock->pitch;
            for (int x = 0; x < 400; x++)
                if (row[4 * x + 3] && std::hypot(x - 200.0f, y - 150.0f) > reach) strays++;
        }
        al_unlock_bitmap(target);
        EXPECT_EQ(strays, 0) << "radius " << r;
    }
    al_set_target_bitmap(previous);
}

// A right-aligned text that fits is drawn whole wherever its window sits: the room left for it
// must not come out a rounding error short, which cut a blank label down to "...".
TEST_F(GuiDrawTest, RightAlignedTextThatFitsIsNeverCut) {
    const int win = plain_window(0, 0, 120, 300);
    q_gui_add_label(ctx, win, " ", 37.3f, 20, 36.4f, 36, Q_GUI_ALIGN_RIGHT);
    int cut = 0;
    for (float x = 0.0f; x < 270.0f; x += 3.7f) {
        q_gui_window_set_rect(ctx, win, x, 0, 120, 300);
        draw();
        const ALLEGRO_LOCKED_REGION* lock =
            al_lock_bitmap(target, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
        ASSERT_NE(lock, nullptr);
        bool ink = false;
        for (int y = 20; y < 56 && !ink; y++) {
            const auto* row = static_cast<const unsigned char*>(lock->data) + y * lock->pitch;
            for (int px = 0; px < 400 && !ink; px++) ink = row[4 * px + 1] > 128; // white text
        }
        al_unlock_bitmap(target);
        cut += ink;
    }
    EXPECT_EQ(cut, 0);
}

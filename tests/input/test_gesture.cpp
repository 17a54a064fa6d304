#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "canvas/view.h"
#include "input/gesture.h"
#include "test_support.h"

namespace {

constexpr float PI = std::numbers::pi_v<float>;

ALLEGRO_EVENT touch(ALLEGRO_EVENT_TYPE type, int id, float x = 0, float y = 0) {
    ALLEGRO_EVENT event;
    std::memset(&event, 0, sizeof event);
    event.type = type;
    event.touch.id = id;
    event.touch.x = x;
    event.touch.y = y;
    return event;
}

// Feeds one touch event and checks that it was recognised as one.
void feed(GESTURE& g, VIEW& view, ALLEGRO_EVENT_TYPE type, int id, float x = 0, float y = 0) {
    const ALLEGRO_EVENT event = touch(type, id, x, y);
    EXPECT_EQ(gesture_handle_event(&g, &event, &view), 1);
}
void down(GESTURE& g, VIEW& v, int id, float x, float y) {
    feed(g, v, ALLEGRO_EVENT_TOUCH_BEGIN, id, x, y);
}
void move(GESTURE& g, VIEW& v, int id, float x, float y) {
    feed(g, v, ALLEGRO_EVENT_TOUCH_MOVE, id, x, y);
}
void up(GESTURE& g, VIEW& v, int id) {
    feed(g, v, ALLEGRO_EVENT_TOUCH_END, id);
}

int occupied(const GESTURE& g) {
    int n = 0;
    for (const GESTURE_TOUCH& slot : g.slots)
        n += slot.id != GESTURE_FREE_ID;
    return n;
}

struct Point {
    float x, y;
};
Point to_canvas(const VIEW& view, float sx, float sy) {
    Point p{NAN, NAN};
    view_screen_to_canvas(&view, sx, sy, &p.x, &p.y);
    return p;
}
Point to_screen(const VIEW& view, Point c) {
    Point p{NAN, NAN};
    view_canvas_to_screen(&view, c.x, c.y, &p.x, &p.y);
    return p;
}

void expect_at(const VIEW& view, Point canvas, float sx, float sy, const char* what) {
    const Point s = to_screen(view, canvas);
    EXPECT_NEAR(s.x, sx, 2e-3f) << what;
    EXPECT_NEAR(s.y, sy, 2e-3f) << what;
}

void expect_view(const VIEW& view, float x, float y, float zoom, float rotation) {
    EXPECT_NEAR(view.x, x, 1e-3f);
    EXPECT_NEAR(view.y, y, 1e-3f);
    EXPECT_NEAR(view.zoom, zoom, 1e-5f);
    EXPECT_NEAR(view.rotation, rotation, 1e-5f);
}

class GestureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(gesture_init(&g), 1);
        view_init(&view);
    }
    GESTURE g;
    VIEW view;
};

} // namespace

TEST_F(GestureTest, FingersFillSlotsInOrderAndANinthIsIgnoredThroughout) {
    for (int i = 0; i < GESTURE_MAX_TOUCHES; i++)
        down(g, view, 100 + i, 10.0f * i, 5);
    EXPECT_TRUE(g.count == 8 && g.slots[7].id == 107 && g.slots[7].x == 70.0f);
    down(g, view, 999, 1, 1); // no slot left
    move(g, view, 999, 50, 50);
    up(g, view, 999);
    EXPECT_TRUE(g.count == 8 && occupied(g) == 8);

    // A lifted finger frees its own slot, and the next finger takes the first free one.
    up(g, view, 102);
    feed(g, view, ALLEGRO_EVENT_TOUCH_CANCEL, 105);
    down(g, view, 200, 3, 4);
    EXPECT_TRUE(g.count == 7 && g.slots[2].id == 200 && g.slots[5].id == GESTURE_FREE_ID);
    // Events that are not touches are not taken, and leave everything alone.
    ALLEGRO_EVENT other = touch(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 1);
    EXPECT_EQ(gesture_handle_event(&g, &other, &view), 0);
    EXPECT_EQ(g.count, 7);
}

TEST_F(GestureTest, StrokesStayBlockedUntilEveryFingerIsUp) {
    down(g, view, 1, 100, 100);
    EXPECT_EQ(gesture_blocks_strokes(&g), 0); // one finger paints
    move(g, view, 1, 140, 130);
    expect_view(view, 0, 0, 1, 0); // and does not navigate
    down(g, view, 2, 300, 100);
    EXPECT_EQ(gesture_blocks_strokes(&g), 1);
    up(g, view, 1);
    down(g, view, 3, 50, 50);
    up(g, view, 2);
    EXPECT_EQ(gesture_blocks_strokes(&g), 1); // the last finger must not start painting
    up(g, view, 3);
    EXPECT_TRUE(gesture_blocks_strokes(&g) == 0 && g.count == 0);
}

TEST_F(GestureTest, CancelledNavigationKeepsFingersAndResumesOnTheNextFinger) {
    down(g, view, 1, 100, 100);
    down(g, view, 2, 200, 100);
    EXPECT_EQ(gesture_cancel_navigation(&g), 1);
    EXPECT_TRUE(gesture_blocks_strokes(&g) == 0 && g.count == 2);
    move(g, view, 2, 260, 140); // a resting palm: tracked, but the view stays put
    expect_view(view, 0, 0, 1, 0);
    up(g, view, 1);
    EXPECT_EQ(gesture_blocks_strokes(&g), 0);
    down(g, view, 4, 0, 140); // another finger lands while one is down
    EXPECT_EQ(gesture_blocks_strokes(&g), 1);
    move(g, view, 4, -10, 140); // the pair is now slots 0 (id 4) and 1 (id 2)
    EXPECT_NEAR(view.zoom, 270.0f / 260.0f, 1e-5f);
}

TEST_F(GestureTest, MovesAreTheSimilarityThatKeepsBothFingersOnTheirCanvasPoints) {
    // Start from a view that is already panned, zoomed and turned.
    view_pan(&view, 40, -25);
    view_zoom_at(&view, 1.7f, 10, 10);
    view_rotate_at(&view, 0.4f, 60, 80);

    down(g, view, 7, 100, 100);
    down(g, view, 9, 220, 160);
    const Point under_a = to_canvas(view, 100, 100);
    const Point under_b = to_canvas(view, 220, 160);

    move(g, view, 7, 60, 180); // pinch closer and turn at once
    expect_at(view, under_a, 60, 180, "moving finger");
    expect_at(view, under_b, 220, 160, "held finger");
    move(g, view, 9, 400, 90);
    expect_at(view, under_a, 60, 180, "held finger");
    expect_at(view, under_b, 400, 90, "moving finger");

    // A finger circling the other crosses the -x direction: that is a quarter turn, not a
    // three-quarter one the other way round.
    GESTURE h;
    VIEW v;
    gesture_init(&h);
    view_init(&v);
    down(h, v, 1, 100, 100);
    down(h, v, 2, 200, 100);
    move(h, v, 1, 200, 0);
    expect_view(v, 300, -100, 1, PI / 2); // turned clockwise about the midpoint (200, 50)
    move(h, v, 1, 100, 100.5f);           // back across the seam, just below the other finger
    EXPECT_NEAR(v.rotation, -0.005f, 1e-4f);
}

TEST_F(GestureTest, SlidingPansAndSpreadingZoomsAboutTheNewMidpoint) {
    down(g, view, 1, 100, 100);
    down(g, view, 2, 200, 100);
    // Both fingers sliding by the same vector is a pure pan, whatever the order.
    move(g, view, 1, 130, 140);
    move(g, view, 2, 230, 140);
    expect_view(view, 30, 40, 1, 0);

    // Spreading from 100 to 150 pixels pans by the midpoint's shift (-25, 0), then zooms by 1.5
    // about the new midpoint (155, 140).
    move(g, view, 1, 80, 140);
    expect_view(view, 155 + 1.5f * (5 - 155), 140 + 1.5f * (40 - 140), 1.5f, 0);
}

TEST_F(GestureTest, CoincidentFingersPanWithoutZoomingOrTurning) {
    down(g, view, 1, 100, 100);
    down(g, view, 2, 100, 100);
    move(g, view, 1, 100.5f, 100); // from distance 0: pan only
    expect_view(view, 0.25f, 0, 1, 0);
    move(g, view, 1, 300, 100); // from distance 0.5: still pan only
    expect_view(view, 100, 0, 1, 0);
    move(g, view, 2, 299.5f, 100.5f); // into less than a pixel of the other: pan only
    expect_view(view, 199.75f, 0.25f, 1, 0);
    move(g, view, 2, 100, 100); // out of it again: measured from the close pair, pan only
    expect_view(view, 100, 0, 1, 0);
    for (float f : {view.x, view.y, view.zoom, view.rotation})
        EXPECT_TRUE(std::isfinite(f));

    move(g, view, 2, 50, 100); // a usable pair drives the zoom once more
    EXPECT_NEAR(view.zoom, 1.25f, 1e-5f);
}

TEST_F(GestureTest, BadInputNeverCorruptsTheCountOrTheView) {
    ALLEGRO_EVENT event = touch(ALLEGRO_EVENT_TOUCH_BEGIN, 1);
    EXPECT_EQ(gesture_handle_event(&g, &event, NULL), 0);
    EXPECT_EQ(g.count, 0);

    // Ends for fingers never seen, including the free-slot marker, leave the count alone.
    up(g, view, 42);
    feed(g, view, ALLEGRO_EVENT_TOUCH_CANCEL, GESTURE_FREE_ID);
    EXPECT_TRUE(g.count == 0 && occupied(g) == 0);
    down(g, view, 5, 10, 10);
    up(g, view, GESTURE_FREE_ID);
    move(g, view, GESTURE_FREE_ID, 90, 90);
    EXPECT_TRUE(g.count == 1 && occupied(g) == 1);

    // A touch reported with the free marker would be invisible in its slot and could never be
    // lifted; it is not tracked.
    down(g, view, GESTURE_FREE_ID, 20, 20);
    EXPECT_TRUE(g.count == 1 && gesture_blocks_strokes(&g) == 0);

    // A repeated begin for a finger already down does not take a second slot that no end
    // would ever free.
    down(g, view, 5, 12, 12);
    EXPECT_TRUE(g.count == 1 && occupied(g) == 1 && gesture_blocks_strokes(&g) == 0);
    EXPECT_FLOAT_EQ(g.slots[0].x, 12.0f);

    // Positions that are not numbers are never stored or fed to the view.
    down(g, view, 6, 200, 12);
    down(g, view, 8, NAN, 3);
    EXPECT_EQ(g.count, 2);
    move(g, view, 6, INFINITY, 12);
    move(g, view, 6, 200, NAN);
    expect_view(view, 0, 0, 1, 0);
    EXPECT_FLOAT_EQ(g.slots[1].x, 200.0f);

    up(g, view, 5);
    up(g, view, 6);
    EXPECT_TRUE(g.count == 0 && !g.active);
}

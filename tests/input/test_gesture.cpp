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

struct Point {
    float x, y;
};

class GestureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(gesture_init(&g), 1);
        view_init(&view);
    }
    // Feeds one touch event and checks that it was recognised as one.
    void feed(ALLEGRO_EVENT_TYPE type, int id, float x = 0, float y = 0) {
        const ALLEGRO_EVENT event = touch(type, id, x, y);
        EXPECT_EQ(gesture_handle_event(&g, &event, &view), 1);
    }
    void down(int id, float x, float y) { feed(ALLEGRO_EVENT_TOUCH_BEGIN, id, x, y); }
    void move(int id, float x, float y) { feed(ALLEGRO_EVENT_TOUCH_MOVE, id, x, y); }
    void up(int id) { feed(ALLEGRO_EVENT_TOUCH_END, id); }
    int occupied() const {
        int n = 0;
        for (const GESTURE_TOUCH& slot : g.slots) n += slot.id != GESTURE_FREE_ID;
        return n;
    }
    Point to_canvas(float sx, float sy) const {
        Point p{NAN, NAN};
        view_screen_to_canvas(&view, sx, sy, &p.x, &p.y);
        return p;
    }
    // The canvas point shows at (sx, sy).
    void expect_at(Point c, float sx, float sy, const char* what) const {
        Point s{NAN, NAN};
        view_canvas_to_screen(&view, c.x, c.y, &s.x, &s.y);
        EXPECT_TRUE(std::hypot(s.x - sx, s.y - sy) < 2e-3f) << what;
    }
    void expect_view(float x, float y, float zoom, float rotation) const {
        EXPECT_TRUE(std::hypot(view.x - x, view.y - y) < 1e-3f &&
                    std::hypot(view.zoom - zoom, view.rotation - rotation) < 1e-5f)
            << view.x << "," << view.y << " x" << view.zoom << " " << view.rotation;
    }
    GESTURE g;
    VIEW view;
};

} // namespace

TEST_F(GestureTest, FingersFillSlotsInOrderAndANinthIsIgnoredThroughout) {
    for (int i = 0; i < GESTURE_MAX_TOUCHES; i++)
        down(100 + i, 10.0f * i, 5);
    EXPECT_TRUE(g.count == 8 && g.slots[7].id == 107 && g.slots[7].x == 70.0f);
    down(999, 1, 1); // no slot left
    move(999, 50, 50);
    up(999);
    EXPECT_TRUE(g.count == 8 && occupied() == 8);

    // A lifted finger frees its own slot, and the next finger takes the first free one.
    up(102);
    feed(ALLEGRO_EVENT_TOUCH_CANCEL, 105);
    down(200, 3, 4);
    EXPECT_TRUE(g.count == 7 && g.slots[2].id == 200 && g.slots[5].id == GESTURE_FREE_ID);
    // Events that are not touches are not taken, and leave everything alone.
    ALLEGRO_EVENT other = touch(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 1);
    EXPECT_EQ(gesture_handle_event(&g, &other, &view), 0);
    EXPECT_EQ(g.count, 7);
}

TEST_F(GestureTest, StrokesStayBlockedUntilEveryFingerIsUp) {
    down(1, 100, 100);
    EXPECT_EQ(gesture_blocks_strokes(&g), 0); // one finger paints
    move(1, 140, 130);
    expect_view(0, 0, 1, 0); // and does not navigate
    down(2, 300, 100);
    EXPECT_EQ(gesture_blocks_strokes(&g), 1);
    up(1);
    down(3, 50, 50);
    up(2);
    EXPECT_EQ(gesture_blocks_strokes(&g), 1); // the last finger must not start painting
    up(3);
    EXPECT_TRUE(gesture_blocks_strokes(&g) == 0 && g.count == 0);
}

TEST_F(GestureTest, CancelledNavigationKeepsFingersAndResumesOnTheNextFinger) {
    down(1, 100, 100);
    down(2, 200, 100);
    EXPECT_EQ(gesture_cancel_navigation(&g), 1);
    EXPECT_TRUE(gesture_blocks_strokes(&g) == 0 && g.count == 2);
    move(2, 260, 140); // a resting palm: tracked, but the view stays put
    expect_view(0, 0, 1, 0);
    up(1);
    EXPECT_EQ(gesture_blocks_strokes(&g), 0);
    down(4, 0, 140); // another finger lands while one is down
    EXPECT_EQ(gesture_blocks_strokes(&g), 1);
    move(4, -10, 140); // the pair is now slots 0 (id 4) and 1 (id 2)
    EXPECT_NEAR(view.zoom, 270.0f / 260.0f, 1e-5f);
}

TEST_F(GestureTest, MovesAreTheSimilarityThatKeepsBothFingersOnTheirCanvasPoints) {
    // Start from a view that is already panned, zoomed and turned.
    view_pan(&view, 40, -25);
    view_zoom_at(&view, 1.7f, 10, 10);
    view_rotate_at(&view, 0.4f, 60, 80);

    down(7, 100, 100);
    down(9, 220, 160);
    const Point under_a = to_canvas(100, 100);
    const Point under_b = to_canvas(220, 160);

    move(7, 60, 180); // pinch closer and turn at once
    expect_at(under_a, 60, 180, "moving finger");
    expect_at(under_b, 220, 160, "held finger");
    move(9, 400, 90);
    expect_at(under_a, 60, 180, "held finger");
    expect_at(under_b, 400, 90, "moving finger");

}

// A finger circling the other crosses the -x direction: that is a quarter turn, not a
// three-quarter one the other way round.
TEST_F(GestureTest, TurningAcrossTheSeamIsTheShortWay) {
    down(1, 100, 100);
    down(2, 200, 100);
    move(1, 200, 0);
    expect_view(300, -100, 1, PI / 2); // turned clockwise about the midpoint (200, 50)
    move(1, 100, 100.5f);              // back across the seam, just below the other finger
    EXPECT_NEAR(view.rotation, -0.005f, 1e-4f);
}

TEST_F(GestureTest, SlidingPansAndSpreadingZoomsAboutTheNewMidpoint) {
    down(1, 100, 100);
    down(2, 200, 100);
    // Both fingers sliding by the same vector is a pure pan, whatever the order.
    move(1, 130, 140);
    move(2, 230, 140);
    expect_view(30, 40, 1, 0);

    // Spreading from 100 to 150 pixels pans by the midpoint's shift (-25, 0), then zooms by 1.5
    // about the new midpoint (155, 140).
    move(1, 80, 140);
    expect_view(155 + 1.5f * (5 - 155), 140 + 1.5f * (40 - 140), 1.5f, 0);
}

TEST_F(GestureTest, CoincidentFingersPanWithoutZoomingOrTurning) {
    down(1, 100, 100);
    down(2, 100, 100);
    move(1, 100.5f, 100); // from distance 0: pan only
    expect_view(0.25f, 0, 1, 0);
    move(1, 300, 100); // from distance 0.5: still pan only
    expect_view(100, 0, 1, 0);
    move(2, 299.5f, 100.5f); // into less than a pixel of the other: pan only
    expect_view(199.75f, 0.25f, 1, 0);
    move(2, 100, 100); // out of it again: measured from the close pair, pan only
    expect_view(100, 0, 1, 0);
    for (float f : {view.x, view.y, view.zoom, view.rotation})
        EXPECT_TRUE(std::isfinite(f));

    move(2, 50, 100); // a usable pair drives the zoom once more
    EXPECT_NEAR(view.zoom, 1.25f, 1e-5f);
}

TEST_F(GestureTest, BadInputNeverCorruptsTheCountOrTheView) {
    ALLEGRO_EVENT event = touch(ALLEGRO_EVENT_TOUCH_BEGIN, 1);
    EXPECT_EQ(gesture_handle_event(&g, &event, NULL), 0);
    EXPECT_EQ(g.count, 0);

    // Ends for fingers never seen, including the free-slot marker, leave the count alone.
    up(42);
    feed(ALLEGRO_EVENT_TOUCH_CANCEL, GESTURE_FREE_ID);
    EXPECT_TRUE(g.count == 0 && occupied() == 0);
    down(5, 10, 10);
    up(GESTURE_FREE_ID);
    move(GESTURE_FREE_ID, 90, 90);
    EXPECT_TRUE(g.count == 1 && occupied() == 1);

    // A touch reported with the free marker would be invisible in its slot and could never be
    // lifted; it is not tracked.
    down(GESTURE_FREE_ID, 20, 20);
    EXPECT_TRUE(g.count == 1 && gesture_blocks_strokes(&g) == 0);

    // A repeated begin for a finger already down does not take a second slot that no end
    // would ever free.
    down(5, 12, 12);
    EXPECT_TRUE(g.count == 1 && occupied() == 1 && g.slots[0].x == 12.0f);

    // Positions that are not numbers are never stored or fed to the view.
    down(6, 200, 12);
    down(8, NAN, 3);
    move(6, INFINITY, 12);
    move(6, 200, NAN);
    expect_view(0, 0, 1, 0);
    EXPECT_TRUE(g.count == 2 && g.slots[1].x == 200.0f);
}

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "canvas/view.h"
#include "test_support.h"

namespace {

struct Point {
    float x, y;
};

Point to_canvas(const VIEW& view, float sx, float sy) {
    Point p{0, 0};
    view_screen_to_canvas(&view, sx, sy, &p.x, &p.y);
    return p;
}

Point to_screen(const VIEW& view, float cx, float cy) {
    Point p{0, 0};
    view_canvas_to_screen(&view, cx, cy, &p.x, &p.y);
    return p;
}

} // namespace

// Fitting and rotating by keys and wheel are followed on screen by the end-to-end view test.
TEST(View, RecenterKeepsTheMiddleAndEmptySizesAreRefused) {
    VIEW view;
    view_init(&view);
    ASSERT_EQ(view_center(&view, 2000, 2000, 800, 600), 1);
    view_recenter(&view, 800, 600, 1000, 500); // the window grew: its centre keeps the canvas's
    const Point centre = to_canvas(view, 500, 250);
    EXPECT_FLOAT_EQ(centre.x, 1000.0f);
    EXPECT_FLOAT_EQ(centre.y, 1000.0f);
    const float x = view.x;
    EXPECT_EQ(view_fit(&view, 0, 10, 100, 100), 0);
    EXPECT_EQ(view_center(&view, 10, 10, 100, -1), 0);
    EXPECT_EQ(view.x, x);
}

TEST(View, ZoomKeepsThePivotStillAndLandsExactlyOnItsLimits) {
    VIEW view;
    view_init(&view);
    view_pan(&view, 37, -12);
    view_rotate_at(&view, 0.7f, 100, 50);
    const Point under = to_canvas(view, 123.5f, 77.25f);
    for (float factor : {0.7f, 1000.0f, 0.001f, 3.0f}) {
        ASSERT_EQ(view_zoom_at(&view, factor, 123.5f, 77.25f), 1);
        const Point after = to_canvas(view, 123.5f, 77.25f);
        EXPECT_NEAR(after.x, under.x, 1e-2f) << "factor " << factor;
        EXPECT_NEAR(after.y, under.y, 1e-2f) << "factor " << factor;
    }
    // From these zooms, zoom * (limit / zoom) is a rounding step off the limit.
    view.zoom = 0.0959f;
    view_zoom_at(&view, 1000.0f, 5, 5);
    EXPECT_EQ(view.zoom, VIEW_ZOOM_MAX);
    view.zoom = 0.0822f;
    view_zoom_at(&view, 0.001f, 5, 5);
    EXPECT_EQ(view.zoom, VIEW_ZOOM_MIN);

    const float x = view.x;
    for (float bad : {-1.0f, 0.0f, std::nanf("")})
        EXPECT_EQ(view_zoom_at(&view, bad, 0, 0), 0);
    EXPECT_EQ(view.zoom, VIEW_ZOOM_MIN);
    EXPECT_EQ(view.x, x);
}

TEST(View, RotationTurnsClockwiseAboutThePivotAndConversionsRoundTrip) {
    constexpr float PI = std::numbers::pi_v<float>;
    VIEW view;
    view_init(&view);
    view_pan(&view, 100, 50);
    view_zoom_at(&view, 2.0f, 100, 50);
    ASSERT_EQ(view_rotate_at(&view, PI / 2, 100, 50), 1);
    const Point one_right = to_screen(view, 1, 0); // canvas x now points down the screen
    EXPECT_TRUE(std::fabs(one_right.x - 100.0f) < 1e-4f && std::fabs(one_right.y - 52.0f) < 1e-4f);

    for (float zoom : {0.05f, 0.37f, 5.5f, 32.0f}) {
        for (float angle : {0.4f, -2.0f, 7.0f}) {
            view_init(&view);
            view_pan(&view, -321, 654);
            view_zoom_at(&view, zoom, 17, 19);
            const Point under = to_canvas(view, 300, 10);
            view_rotate_at(&view, angle, 300, 10);
            EXPECT_FLOAT_EQ(view.rotation, angle);    // never wrapped
            const float slack = 1e-2f / zoom + 4e-2f; // float error shrinks with the zoom
            const Point still = to_canvas(view, 300, 10);
            const Point there = to_screen(view, -40, 4000);
            const Point back = to_canvas(view, there.x, there.y);
            EXPECT_NEAR(still.x - under.x, 0, slack) << zoom << " " << angle;
            EXPECT_NEAR(still.y - under.y, 0, slack) << zoom << " " << angle;
            EXPECT_NEAR(back.x, -40, slack) << zoom << " " << angle;
            EXPECT_NEAR(back.y, 4000, slack) << zoom << " " << angle;
        }
    }
}

#include <gtest/gtest.h>

#include <cmath>

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

// Panning, zooming and turning about the pointer, fitting and re-centring are followed on
// screen by the end-to-end view and screen tests; here, limits and precision.
TEST(View, ZoomLandsExactlyOnItsLimitsAndRefusesBadFactors) {
    VIEW view;
    view_init(&view);
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

TEST(View, TurningKeepsThePivotAndConversionsRoundTripAtAnyZoom) {
    VIEW view;
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
            EXPECT_TRUE(std::hypot(still.x - under.x, still.y - under.y) < slack &&
                        std::hypot(back.x + 40, back.y - 4000) < slack)
                << zoom << " " << angle;
        }
    }
}

#include <allegro5/allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/canvas_test_util.h"
#include "canvas/compositor.h"
#include "template.h"
#include "test_support.h"

namespace {

TEMPLATE_STATS stats_of(int index, int W, int H, float thickness = 1.0f) {
    TEMPLATE_STATS s;
    template_draw_stats(index, W, H, thickness, &s);
    return s;
}

int total(const TEMPLATE_STATS& s) {
    return s.lines + s.circles + s.rects + s.ellipses;
}

// Draws a template in opaque white on a transparent video bitmap and hands it back.
ALLEGRO_BITMAP* render(int index, int W, int H, const TEMPLATE_VIEW* view = nullptr) {
    NewBitmapFlagsScope flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* bitmap = al_create_bitmap(W, H);
    if (!bitmap) return nullptr;
    TargetBitmapScope target(bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    const ALLEGRO_COLOR white = al_map_rgb(255, 255, 255);
    template_draw(index, W, H, &white, 1.0f, view);
    return bitmap;
}


} // namespace

TEST(Template, BlankUnknownAndEmptyCanvasesDrawNothing) {
    EXPECT_STREQ(template_name(24), "Sketching guide");
    EXPECT_STREQ(template_name(25), "Blank");
    for (int index : {0, 25, -1, 1000})
        EXPECT_EQ(total(stats_of(index, 1000, 1000)), 0) << index;
    for (int index = 1; index < template_count(); ++index)
        for (auto [W, H] : {std::pair{0, 100}, {100, 0}, {-8, -8}})
            EXPECT_EQ(total(stats_of(index, W, H)), 0) << index;
}

TEST(Template, CountsFollowTheGeometryAndNotTheRounding) {
    EXPECT_EQ(stats_of(8, 1000, 1000).lines, 126); // cell 15.625: none on the edges
    // Spacing 25: verticals at 0..975, 44 lines at 30 and 44 at 150 degrees (the one through
    // the top-left corner only touches it).
    EXPECT_EQ(stats_of(14, 990, 700).lines, 40 + 44 + 44);
    // k·(H/45) rounds either side of H for the last k; the edge line must never appear.
    for (int H = 64; H <= 3000; H += 7) {
        EXPECT_EQ(stats_of(1, 500, H).lines, 44) << H;
        EXPECT_EQ(stats_of(3, 500, H).lines, 21) << H;
        EXPECT_EQ(stats_of(11, H, H).circles, 63 * 63) << H;
    }
    // The perspective grid always has its 60 rays, the horizon and the vanishing point.
    for (auto [W, H] : {std::pair{1000, 1000}, {7, 3}, {16384, 1}, {1, 16384}}) {
        const TEMPLATE_STATS s = stats_of(16, W, H);
        EXPECT_TRUE(s.lines == 61 && s.circles == 1) << W << "x" << H;
    }
}

TEST(Template, DotRadiusIsAtLeastTheLineThicknessAndThicknessAtLeastOne) {
    // d = 2.5 on 100 x 60: 39 x 23 dots of radius max(thickness, 0.1125); the vanishing point's
    // dot is 2.5 line thicknesses wide. A thickness at or below 0, or not finite, means 1.
    EXPECT_EQ(stats_of(13, 100, 60).circles, 39 * 23);
    const struct {
        int index;
        float thickness, radius;
    } cases[] = {{13, 0.05f, 0.1125f}, {13, 0.5f, 0.5f},  {13, 0.0f, 1.0f},    {13, NAN, 1.0f},
                 {16, -3.0f, 2.5f},    {16, INFINITY, 2.5f}, {16, 2.0f, 5.0f}};
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(stats_of(c.index, 100, 60, c.thickness).radius, c.radius)
            << c.index << " " << c.thickness;
    EXPECT_FLOAT_EQ(stats_of(13, 1000, 1000, 1.0f).radius, 0.045f * 1000.0f / 24.0f);
}

TEST(Template, ThinCanvasesLeaveOutRunsCloserThanAPixel) {
    // A 16384 x 1 grid would be a million lines a frame.
    const TEMPLATE_STATS grid = stats_of(8, 16384, 1);
    EXPECT_EQ(grid.lines, 0);
    EXPECT_EQ(grid.dropped, 2);
    // Only the run is left out; the fixed margin line stays.
    const TEMPLATE_STATS margin = stats_of(4, 200, 20);
    EXPECT_EQ(margin.lines, 1);
    EXPECT_EQ(margin.dropped, 1);
}

// However long and thin the canvas, an export holds every guide spaced a pixel or more apart.
TEST(Template, WideAndTallCanvasesKeepEveryGuideInAnExport) {
    EXPECT_EQ(stats_of(11, 1000, 4096).circles, 262 * 63); // d = 15.625
    EXPECT_EQ(stats_of(8, 16384, 64).lines, 16383 + 63);    // cell 1
    EXPECT_EQ(stats_of(15, 16384, 300).dropped, 0);

    DOCUMENT* doc = document_new(4096, 1000);
    ASSERT_NE(doc, nullptr);
    doc->template_index = 11;
    ALLEGRO_BITMAP* flat = compositor_flatten(doc);
    ASSERT_NE(flat, nullptr);
    // The pixels holding the centres of dots (1, 1), (262, 1), (262, 63) and (131, 32).
    for (auto [x, y] : {std::pair{15, 15}, {4093, 15}, {4093, 984}, {2046, 500}})
        EXPECT_NE(pixel_rgba(flat, x, y), pixel_rgba(flat, 8, 8)) << x << "," << y;
    al_destroy_bitmap(flat);
    document_free(&doc);
}

// On screen only what the view shows is drawn, and only families a screen pixel or more apart:
// a frame costs what the screen can show, not what the canvas holds.
TEST(Template, OnScreenTheViewBoundsTheWork) {
    const std::pair<int, int> sizes[] = {{16384, 64}, {64, 16384}, {16384, 16384}, {4096, 1000}};
    for (auto [W, H] : sizes) {
        const float fit = std::min(1280.0f / static_cast<float>(W), 800.0f / static_cast<float>(H));
        const TEMPLATE_VIEW whole{0.0f, 0.0f, static_cast<float>(W), static_cast<float>(H), fit};
        const TEMPLATE_VIEW corner{0.0f, 0.0f, 1280.0f / 4.0f, 800.0f / 4.0f, 4.0f};
        for (int index = 1; index < template_count(); ++index) {
            TEMPLATE_STATS s;
            for (const TEMPLATE_VIEW& view : {whole, corner}) {
                template_draw_stats(index, W, H, 1.0f / view.scale, &s, &view);
                // Far fewer primitives than the 1280 x 800 screen has pixels.
                EXPECT_LE(total(s), 1280 * 800 / 16) << index << " " << W << "x" << H;
            }
        }
    }
}

// Clipping to the view leaves out only what cannot be seen: inside the view every pixel is as
// it is when the whole template is drawn.
TEST(Template, ClippingToTheViewKeepsEveryVisiblePixel) {
    const TEMPLATE_VIEW views[] = {{37.5f, 21.0f, 150.0f, 90.0f, 1.0f}, {-50, 140, 90, 400, 1.0f}};
    for (int index = 1; index < template_count(); ++index) {
        ALLEGRO_BITMAP* whole = render(index, 240, 180);
        ASSERT_NE(whole, nullptr);
        for (const TEMPLATE_VIEW& view : views) {
            ALLEGRO_BITMAP* clipped = render(index, 240, 180, &view);
            ASSERT_NE(clipped, nullptr);
            const int x0 = std::max(0, static_cast<int>(view.x0));
            const int x1 = std::min(240, static_cast<int>(view.x1));
            const int y0 = std::max(0, static_cast<int>(view.y0));
            const int y1 = std::min(180, static_cast<int>(view.y1));
            EXPECT_EQ(read_image(whole, x0, y0, x1 - x0, y1 - y0),
                      read_image(clipped, x0, y0, x1 - x0, y1 - y0))
                << "template " << index << " view at " << view.x0;
            al_destroy_bitmap(clipped);
        }
        al_destroy_bitmap(whole);
    }
}

// Every template draws something on ordinary canvases and loses nothing to the spacing rule,
// and on every canvas, however stretched, stays inside it: clipped families, hexagons and rays,
// and layouts that run out of room.
TEST(Template, OrdinaryCanvasesLoseNothingAndEverythingStaysOnTheCanvas) {
    const std::pair<int, int> sizes[] = {{64, 64},     {1000, 1000}, {1920, 1080}, {1080, 1920},
                                         {3000, 1000}, {300, 7000},  {16384, 100}, {100, 16384},
                                         {16384, 1},   {1, 16384},   {3, 7}};
    for (auto [W, H] : sizes) {
        const bool ordinary = std::max(W, H) <= 3 * std::min(W, H) && std::min(W, H) >= 64;
        const float slack = 0.01f + 1e-5f * static_cast<float>(std::max(W, H));
        for (int index = 1; index < template_count(); ++index) {
            const TEMPLATE_STATS s = stats_of(index, W, H);
            if (ordinary) {
                EXPECT_TRUE(s.dropped == 0 && total(s) > 0) << index << " " << W << "x" << H;
            }
            if (total(s) == 0) continue;
            EXPECT_TRUE(s.min_x >= -slack && s.min_y >= -slack && s.max_x <= W + slack &&
                        s.max_y <= H + slack)
                << index << " " << W << "x" << H;
        }
    }
}

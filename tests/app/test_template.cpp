#include <allegro5/allegro.h>
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "canvas/allegro_state.h"
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
ALLEGRO_BITMAP* render(int index, int W, int H) {
    NewBitmapFlagsScope flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* bitmap = al_create_bitmap(W, H);
    if (!bitmap) return nullptr;
    TargetBitmapScope target(bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    const ALLEGRO_COLOR white = al_map_rgb(255, 255, 255);
    template_draw(index, W, H, &white, 1.0f);
    return bitmap;
}

bool painted(ALLEGRO_BITMAP* bitmap, int x, int y) {
    return pixel_at(bitmap, x, y).a > 0;
}

} // namespace

TEST(Template, BlankUnknownAndEmptyCanvasesDrawNothing) {
    EXPECT_EQ(template_count(), 25);
    EXPECT_STREQ(template_name(24), "Sketching guide");
    EXPECT_STREQ(template_name(25), "Blank");
    EXPECT_STREQ(template_name(static_cast<unsigned>(-1)), "Blank");

    for (int index : {0, 25, -1, 1000})
        EXPECT_EQ(total(stats_of(index, 1000, 1000)), 0) << index;
    for (int index = 1; index < template_count(); ++index) {
        EXPECT_EQ(total(stats_of(index, 0, 100)), 0) << index;
        EXPECT_EQ(total(stats_of(index, 100, 0)), 0) << index;
        EXPECT_EQ(total(stats_of(index, -8, -8)), 0) << index;
    }
}

TEST(Template, GridAndRulingCountsDoNotDependOnRounding) {
    const TEMPLATE_STATS grid = stats_of(8, 1000, 1000); // cell 15.625
    EXPECT_EQ(grid.lines, 126);
    EXPECT_EQ(grid.dropped, 0);

    // k·(H/45) rounds either side of H for the last k; the edge line must never appear.
    for (int H = 64; H <= 3000; H += 7) {
        EXPECT_EQ(stats_of(1, 500, H).lines, 44) << H;
        EXPECT_EQ(stats_of(3, 500, H).lines, 21) << H;
        EXPECT_EQ(stats_of(11, H, H).circles, 63 * 63) << H;
    }
}

TEST(Template, PerspectiveAlwaysHasSixtyRaysHorizonAndDot) {
    for (auto [W, H] :
         std::vector<std::pair<int, int>>{{1000, 1000}, {7, 3}, {16384, 1}, {1, 16384}}) {
        const TEMPLATE_STATS s = stats_of(16, W, H);
        EXPECT_EQ(s.lines, 61) << W << "x" << H;
        EXPECT_EQ(s.circles, 1) << W << "x" << H;
    }
}

TEST(Template, IsometricFamiliesCoverTheCanvas) {
    // Spacing 25: verticals at 0..975, 44 lines at 30 and 44 at 150 degrees (the one through
    // the top-left corner only touches it).
    const TEMPLATE_STATS s = stats_of(14, 990, 700);
    EXPECT_EQ(s.lines, 40 + 44 + 44);
    EXPECT_EQ(s.dropped, 0);
}

TEST(Template, DotRadiusIsAtLeastTheLineThickness) {
    // d = 2.5: 39 x 23 dots, radius max(thickness, 0.1125).
    EXPECT_EQ(stats_of(13, 100, 60).circles, 39 * 23);
    EXPECT_FLOAT_EQ(stats_of(13, 100, 60, 0.05f).radius, 0.1125f);
    EXPECT_FLOAT_EQ(stats_of(13, 100, 60, 0.5f).radius, 0.5f);
    EXPECT_FLOAT_EQ(stats_of(13, 1000, 1000, 1.0f).radius, 0.045f * 1000.0f / 24.0f);
}

TEST(Template, ThicknessAtOrBelowZeroMeansOne) {
    // The vanishing point's dot is 2.5 line thicknesses wide, and dots never shrink below one.
    for (float t : {0.0f, -3.0f, NAN, INFINITY}) {
        EXPECT_FLOAT_EQ(stats_of(16, 100, 100, t).radius, 2.5f) << t;
        EXPECT_FLOAT_EQ(stats_of(13, 100, 60, t).radius, 1.0f) << t;
    }
    EXPECT_FLOAT_EQ(stats_of(16, 100, 100, 2.0f).radius, 5.0f);
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

    for (int index = 0; index < template_count(); ++index) {
        EXPECT_LE(total(stats_of(index, 16384, 1)), 200) << index;
        EXPECT_LE(total(stats_of(index, 1, 16384)), 200) << index;
    }
}

TEST(Template, EveryTemplateStaysBoundedAtAnySize) {
    // Just above the one-pixel threshold a long thin canvas is where runs are longest.
    const int sizes[] = {1, 2, 23, 24, 26, 28, 40, 45, 64, 65, 100, 370, 1000, 4096, 16383, 16384};
    for (int index = 0; index < template_count(); ++index)
        for (int W : sizes)
            for (int H : sizes)
                ASSERT_LE(total(stats_of(index, W, H)), 16500) << index << " " << W << "x" << H;
}

TEST(Template, OrdinaryCanvasesLoseNothing) {
    const std::pair<int, int> sizes[] = {{64, 64},     {1000, 1000}, {1920, 1080},
                                         {1080, 1920}, {3000, 1000}, {16384, 16384}};
    for (auto [W, H] : sizes) {
        for (int index = 1; index < template_count(); ++index) {
            const TEMPLATE_STATS s = stats_of(index, W, H);
            EXPECT_EQ(s.dropped, 0) << index << " " << W << "x" << H;
            EXPECT_GT(total(s), 0) << index << " " << W << "x" << H;
        }
    }
}

TEST(Template, EverythingStaysOnTheCanvas) {
    // Clipped families, hexagons and rays, and layouts that run out of room on extreme shapes.
    const std::pair<int, int> sizes[] = {{1000, 1000}, {1920, 1080}, {300, 7000}, {16384, 100},
                                         {100, 16384}, {16384, 1},   {1, 16384},  {3, 7}};
    for (auto [W, H] : sizes) {
        const float slack = 0.01f + 1e-5f * static_cast<float>(std::max(W, H));
        for (int index = 1; index < template_count(); ++index) {
            const TEMPLATE_STATS s = stats_of(index, W, H);
            if (total(s) == 0) continue;
            EXPECT_GE(s.min_x, -slack) << index << " " << W << "x" << H;
            EXPECT_GE(s.min_y, -slack) << index << " " << W << "x" << H;
            EXPECT_LE(s.max_x, W + slack) << index << " " << W << "x" << H;
            EXPECT_LE(s.max_y, H + slack) << index << " " << W << "x" << H;
        }
    }
}

TEST(Template, GridLinesLandWhereCounted) {
    // Cell 3.125: lines at 3.125, 6.25, ... cover pixels 3, 6, ...; none on the edges.
    ALLEGRO_BITMAP* bitmap = render(8, 200, 200);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_TRUE(painted(bitmap, 3, 1));
    EXPECT_TRUE(painted(bitmap, 6, 1));
    EXPECT_TRUE(painted(bitmap, 1, 3));
    EXPECT_TRUE(painted(bitmap, 196, 1));
    for (int x : {0, 1, 4, 5, 198, 199})
        EXPECT_FALSE(painted(bitmap, x, 1)) << x;
    for (int y : {0, 1, 198, 199})
        EXPECT_FALSE(painted(bitmap, 1, y)) << y;
    al_destroy_bitmap(bitmap);
}

TEST(Template, DotsLandOnTheirCentres) {
    // d = 4, radius 1: the dot at (4, 4) covers pixels 3..4 in both directions.
    ALLEGRO_BITMAP* bitmap = render(13, 96, 96);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_TRUE(painted(bitmap, 3, 3));
    EXPECT_TRUE(painted(bitmap, 4, 4));
    EXPECT_TRUE(painted(bitmap, 91, 91));
    EXPECT_FALSE(painted(bitmap, 1, 1));
    EXPECT_FALSE(painted(bitmap, 6, 6));
    EXPECT_FALSE(painted(bitmap, 95, 95)); // no dot at 96, on the edge
    al_destroy_bitmap(bitmap);
}

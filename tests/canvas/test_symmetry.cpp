#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstring>
#include <memory>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/symmetry.h"
#include "canvas_test_util.h"

namespace {

SYMMETRY make(int mode, float cx, float cy, int count = 6) {
    return SYMMETRY{mode, {cx, cy}, count};
}

// Mirrors (x, y) and compares the flat x, y list with `want`.
void expect_mirror(const SYMMETRY& sym, float x, float y, std::vector<float> want,
                   int max = SYMMETRY_MAX_POINTS) {
    float out[2 * SYMMETRY_MAX_POINTS + 2];
    std::fill(std::begin(out), std::end(out), -999.0f);
    const int n = symmetry_mirror(&sym, x, y, out, max);
    ASSERT_EQ(2 * n, static_cast<int>(want.size())) << "mode " << sym.mode;
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_NEAR(out[i], want[i], 1e-4) << "mode " << sym.mode << " value " << i;
    EXPECT_EQ(out[2 * n], -999.0f) << "written past the points returned";
}

} // namespace

TEST(Symmetry, EachModeWritesItsCopiesInOrderWithinTheBuffer) {
    expect_mirror(make(SYMMETRY_X, 100, 50), 30, 10, {30, 10, 170, 10});
    expect_mirror(make(SYMMETRY_Y, 100, 50), 30, 10, {30, 10, 30, 90});
    expect_mirror(make(SYMMETRY_XY, 100, 50), -20, 60, {-20, 60, 220, 60, -20, 40, 220, 40});
    expect_mirror(make(SYMMETRY_XY, 100, 50), 30, 10, {30, 10, 170, 10, 30, 90}, 3);
    for (int mode : {0, 5, -1})
        expect_mirror(make(mode, 100, 50), 30, 10, {30, 10});

    DOCUMENT* doc = document_new(201, 100);
    SYMMETRY sym = make(SYMMETRY_XY, 1, 1, 3);
    ASSERT_EQ(symmetry_init(&sym, doc), 1);
    EXPECT_TRUE(sym.mode == SYMMETRY_OFF && sym.center[0] == 100.5f && sym.center[1] == 50.0f);
    document_free(&doc);
}

TEST(Symmetry, RadialCopiesKeepTheirAnglesAndTheCountIsClamped) {
    expect_mirror(make(SYMMETRY_RADIAL, 50, 40, 4), 60, 40, {60, 40, 50, 50, 40, 40, 50, 30});
    expect_mirror(make(SYMMETRY_RADIAL, 50, 40, 3), 50, 40, {50, 40, 50, 40, 50, 40});
    expect_mirror(make(SYMMETRY_RADIAL, 50, 40, 1), 60, 45, {60, 45, 40, 35}); // as 2
    expect_mirror(make(SYMMETRY_RADIAL, 50, 40, -4), 60, 45, {60, 45, 40, 35});
    std::vector<float> ring;
    for (int i = 0; i < 16; ++i) // 20 behaves as 16
        ring.insert(ring.end(),
                    {50 + 10 * std::cos(i * 0.39269908f), 40 + 10 * std::sin(i * 0.39269908f)});
    expect_mirror(make(SYMMETRY_RADIAL, 50, 40, 20), 60, 40, ring);
    // A short buffer gets the first of the n copies, not n squeezed into it.
    const float h = std::sqrt(0.5f) * 10.0f;
    expect_mirror(make(SYMMETRY_RADIAL, 0, 0, 8), 10, 0, {10, 0, h, h, 0, 10, -h, h}, 4);
}

TEST(Symmetry, GuidesAreOneScreenPixelAndTheCallersStateSurvives) {
    DOCUMENT* doc = document_new(32, 32);
    std::unique_ptr<ALLEGRO_BITMAP, decltype(&al_destroy_bitmap)> image(al_create_bitmap(80, 80),
                                                                        al_destroy_bitmap);
    ASSERT_TRUE(doc && image);
    VIEW view;
    view_init(&view);
    view_zoom_at(&view, 2.0f, 0, 0);
    const auto painted = [&](int x, int y) { return pixel_at(image.get(), x, y).a != 0; };

    TargetBitmapScope target(image.get());
    BlenderScope keep_test_blender;
    ALLEGRO_TRANSFORM before;
    al_build_transform(&before, 3, 4, 1, 1, 0);
    al_use_transform(&before);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    // Centre (10.25, 15.25) is screen (20.5, 30.5): the axes fill column 20 and row 30 only,
    // and end with the 64-pixel document.
    SYMMETRY sym = make(SYMMETRY_XY, 10.25f, 15.25f);
    symmetry_draw(&sym, doc, &view);
    EXPECT_TRUE(rgba_near(pixel_at(image.get(), 20, 3), Rgba{141, 42, 113, 180}));
    EXPECT_TRUE(painted(50, 30));
    EXPECT_FALSE(painted(19, 3) || painted(21, 3) || painted(50, 29) || painted(50, 31) ||
                 painted(20, 70) || painted(70, 30));
    int op, src, dst;
    al_get_blender(&op, &src, &dst);
    EXPECT_TRUE(dst == ALLEGRO_ZERO && !memcmp(al_get_current_transform(), &before, sizeof before));
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    al_use_transform(&identity);
    document_free(&doc);
}

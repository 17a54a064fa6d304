#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>

#include "canvas/allegro_state.h"
#include "canvas/grid.h"
#include "canvas_test_util.h"

namespace {

GRID make(float size, bool diagonals = false) {
    GRID grid;
    grid_init(&grid);
    grid.size = size;
    grid.snap = grid.visible = true;
    grid.diagonals = diagonals;
    return grid;
}

// Runs one of the position rules and checks where (x, y) lands.
void expect_snap(decltype(&grid_snap) rule, const GRID& grid, float x, float y, float wx,
                 float wy) {
    float sx = NAN, sy = NAN;
    rule(&grid, x, y, &sx, &sy);
    EXPECT_TRUE(sx == wx && sy == wy) << x << "," << y << " gave " << sx << "," << sy;
}

} // namespace

TEST(Grid, SnappingNeedsSnapAUsableSizeAndSomethingShown) {
    GRID grid = make(128);
    grid.visible = false; // snap on, nothing shown: the pointer is left alone
    float step = -1, length = 0, ax = -5, ay = -5;
    expect_snap(grid_snap_view, grid, 70, 20, 70, 20);
    expect_snap(grid_snap, grid, 70, 20, 70, 20);
    EXPECT_TRUE(grid_snap_anchor(&grid, 70, 20, &ax, &ay) == 0 && ax == -5.0f);
    EXPECT_TRUE(grid_snap_length(&grid, 10, &length) == 0 && length == 10.0f);
    grid.diagonals = true; // the diagonals alone are something to snap to
    EXPECT_TRUE(grid_snap_step(&grid, &step) == 1 && step == 128.0f);

    for (float size : {0.0f, -16.0f, NAN, INFINITY}) { // would give NaN or infinite points
        grid = make(size);
        expect_snap(grid_snap_view, grid, 70, 20, 70, 20);
        EXPECT_EQ(grid_snap_step(&grid, &step), 0) << size;
    }
    // x/s overflows a float: the point must stay where it was.
    expect_snap(grid_snap_view, make(1e-40f), 70, 20, 70, 20);
}

TEST(Grid, LatticeAndCentreSnapOnBothSidesOfTheOrigin) {
    expect_snap(grid_snap_view, make(128), 70, 20, 128, 0);
    expect_snap(grid_snap_view, make(128), -70, -20, -128, 0);
    expect_snap(grid_snap_view, make(128), 64, -64, 128, -128); // halves round away from zero
    expect_snap(grid_snap_view, make(3), 4.4f, -4.6f, 3, -6);
    const GRID diag = make(100, true); // the centre only when strictly nearer
    expect_snap(grid_snap, diag, 30, 30, 50, 50);
    expect_snap(grid_snap, diag, 25, 25, 0, 0);
    expect_snap(grid_snap_anchor, diag, -30, -70, -50, -50);
    expect_snap(grid_snap, make(5, true), -2, 2, -2.5f, 2.5f);
}

TEST(Grid, InteractiveSnapPrefersCentresThenDiagonalsThenIntersections) {
    expect_snap(grid_snap_view, make(128, true), 70, 60, 64, 64);
    const GRID grid = make(100, true);
    expect_snap(grid_snap_view, grid, 40, 37, 50, 50);           // 16.4 from the centre
    expect_snap(grid_snap_view, grid, 20, 75, 22.5f, 77.5f);     // 3.5 from x + y = 100
    expect_snap(grid_snap_view, grid, -20, -25, -22.5f, -22.5f); // 3.5 from y = x
    expect_snap(grid_snap_view, grid, 5, 30, 0, 0);    // near a grid line: the intersection
    expect_snap(grid_snap_view, grid, 16, 50, 0, 100); // no diagonal near enough either

    // Whatever the input, the result is an intersection, a cell centre or a point of a
    // diagonal, never somewhere along a plain grid line, and it stays within a cell.
    const auto on = [](double v) { return std::fabs(v - std::round(v / 100) * 100) < 1e-3; };
    for (float y = -230; y <= 230; y += 7.3f)
        for (float x = -230; x <= 230; x += 6.1f) {
            float px = 0, py = 0;
            grid_snap_view(&grid, x, y, &px, &py);
            const bool kept =
                (on(px) && on(py)) || (on(px - 50) && on(py - 50)) || on(py - px) || on(px + py);
            EXPECT_TRUE(kept && std::hypot(px - x, py - y) < 100) << x << "," << y;
        }
}

TEST(Grid, StepsLengthsAndDirections) {
    GRID grid = make(128);
    for (auto [in, out] : {std::pair{10.f, 128.f}, {200.f, 256.f}, {192.f, 256.f}, {-5.f, 128.f}}) {
        float got = -1;
        EXPECT_TRUE(grid_snap_length(&grid, in, &got) == 1 && got == out) << in << " gave " << got;
    }
    grid.visible = false; // the drawable step ignores visibility
    float step = -1;
    EXPECT_EQ(grid_visible_step(&grid, 0.04f, &step), 0); // 5.12 screen pixels
    EXPECT_EQ(grid_visible_step(&grid, NAN, &step), 0);
    EXPECT_TRUE(grid_visible_step(&grid, 6.0f / 128.0f, &step) == 1 && step == 128.0f);

    const int dirs[][5] = {{10, 4, 1, 1, 0},     {10, 6, 1, 1, 1},   {10, 9, 0, 1, 0},
                           {-10, -6, 1, -1, -1}, {3, -10, 1, 0, -1}, {-3, 10, 0, 0, 1},
                           {6, -10, 1, 1, -1},   {-10, 0, 1, -1, 0}};
    int sx = 9, sy = 9;
    for (const auto& d : dirs) // dx, dy, diagonals, expected x, expected y
        EXPECT_TRUE(grid_segment_dir(d[0], d[1], d[2], &sx, &sy) == 1 && sx == d[3] && sy == d[4])
            << d[0] << "," << d[1] << " gave " << sx << "," << sy;
    // No direction: no step, rather than one that walks off to the right.
    EXPECT_TRUE(grid_segment_dir(0, 0, 1, &sx, &sy) == 0 && sx == 0 && sy == 0);
}

// Where lines fall on screen is followed by the end-to-end grid test; here, the edges of the
// document, fine grids and the caller's drawing state.
TEST(Grid, DrawStopsAtTheDocumentAndRestoresTheState) {
    DOCUMENT* doc = document_new(40, 40);
    std::unique_ptr<ALLEGRO_BITMAP, decltype(&al_destroy_bitmap)> image(al_create_bitmap(64, 64),
                                                                        al_destroy_bitmap);
    ASSERT_TRUE(doc && image);
    VIEW view;
    view_init(&view);
    GRID grid = make(16, true);
    TargetBitmapScope target(image.get());
    BlenderScope keep_test_blender;
    const auto painted = [&](int x, int y) { return pixel_at(image.get(), x, y).a != 0; };
    const auto draw = [&](int display) {
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        grid_draw(&grid, doc, &view, display, display);
    };
    ALLEGRO_TRANSFORM before;
    al_build_transform(&before, 0.5f, 0.5f, 1, 1, 0);
    al_use_transform(&before);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);

    draw(64);
    EXPECT_TRUE(painted(16, 5) && painted(5, 32));
    // The last column is half a cell wide: its lines and diagonals stop at x = 40.
    EXPECT_TRUE(painted(36, 4) && painted(36, 12));
    EXPECT_FALSE(painted(44, 12) || painted(44, 4) || painted(50, 32));
    int op, src, dst;
    al_get_blender(&op, &src, &dst);
    EXPECT_TRUE(dst == ALLEGRO_ZERO && !memcmp(al_get_current_transform(), &before, sizeof before));

    grid.size = 100;
    view_zoom_at(&view, 0.05f, 0, 0); // 5 screen pixels per cell: too fine to show
    draw(64);
    EXPECT_FALSE(painted(0, 0) || painted(1, 1));

    // A nonsense display size over a large document with a fine grid would mean hundreds of
    // millions of cells; the frame has to stay cheap.
    document_free(&doc);
    ASSERT_NE(doc = document_new(4096, 4096), nullptr);
    view_zoom_at(&view, 32.0f / view.zoom, 0, 0);
    grid.size = 0.25f;
    const auto start = std::chrono::steady_clock::now();
    draw(INT_MAX);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    al_use_transform(&identity);
    document_free(&doc);
}

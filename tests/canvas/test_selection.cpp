#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/document.h"
#include "canvas/selection.h"
#include "canvas/symmetry.h"
#include "canvas/undo.h"
#include "canvas/view.h"
#include "canvas_test_util.h"

namespace {

constexpr int DOC_W = 600; // 3 x 2 undo tiles
constexpr int DOC_H = 400;
constexpr float DEG = 3.14159265f / 180.0f;
const Rgba CLEAR{0, 0, 0, 0};

using Pixels = Image;

// Distinct, partly translucent premultiplied pixels: a pixel lost or blended twice shows.
Rgba pattern(int x, int y) {
    const int a = 100 + (x * 3 + y * 5) % 156;
    return {(x * 7) % (a + 1), (y * 11) % (a + 1), ((x + y) * 13) % (a + 1), a};
}

// A w x h image whose pixel (x, y) is f(x0 + x, y0 + y).
template <class F> Image image_of(int x0, int y0, int w, int h, F f) {
    Image image(w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const Rgba c = f(x0 + x, y0 + y);
            image.at(x, y) = packed(c.r, c.g, c.b, c.a);
        }
    return image;
}

struct SelectionTest : ::testing::Test {
    DOCUMENT* doc = nullptr;
    LAYER* layer = nullptr;
    SELECTION sel;
    Pixels original;

    // The pattern fills the top-left 300 x 200; the rest of the layer is transparent.
    void SetUp() override {
        ASSERT_NE(doc = document_new(DOC_W, DOC_H), nullptr);
        ASSERT_NE(layer = add_clear_layer(doc, "A"), nullptr);
        write_image(layer->bitmap, image_of(0, 0, 300, 200, pattern));
        ASSERT_EQ(layer_backup(layer), 1);
        original = read_image(layer->bitmap);
        selection_init(&sel);
    }
    void TearDown() override {
        selection_discard(&sel);
        document_free(&doc);
    }
    size_t steps() const { return doc->undo->undo_stack->count; }
    bool rect_is(int x, int y, int w, int h) const {
        return sel.rect.x == x && sel.rect.y == y && sel.rect.w == w && sel.rect.h == h;
    }
    // Working bitmap and backup both hold exactly `want`.
    bool layer_is(const Pixels& want) {
        return read_image(layer->bitmap) == want && committed_image(layer) == want;
    }
    int lift_marquee(float x0, float y0, float x1, float y1) {
        selection_begin_marquee(&sel, x0, y0);
        selection_update_marquee(&sel, x1, y1);
        return selection_end_marquee(&sel, doc);
    }
    int lift_lasso(std::initializer_list<std::pair<float, float>> points) {
        auto it = points.begin();
        selection_begin_lasso(&sel, it->first, it->second);
        for (++it; it != points.end(); ++it)
            selection_add_lasso_point(&sel, it->first, it->second);
        return selection_end_marquee(&sel, doc);
    }
    void paste_solid(int w, int h, int x, int y) {
        NewBitmapFlagsScope memory(ALLEGRO_MEMORY_BITMAP);
        ALLEGRO_BITMAP* src = al_create_bitmap(w, h);
        write_image(src, Image(w, h, packed(200, 30, 40, 255)));
        ASSERT_EQ(selection_paste(&sel, doc, src, x, y), 1);
        al_destroy_bitmap(src);
    }
    void drag(int code, float x0, float y0, float x1, float y1, bool shift = false) {
        selection_drag_begin(&sel, code, x0, y0);
        selection_drag_update(&sel, x1, y1, shift ? 1 : 0);
        selection_drag_end(&sel);
    }
    std::pair<float, float> to_canvas(float lx, float ly) const {
        ALLEGRO_TRANSFORM t;
        selection_build_transform(&sel, &t);
        al_transform_coordinates(&t, &lx, &ly);
        return {lx, ly};
    }
};

TEST_F(SelectionTest, MarqueeLiftsTheCoveredPixelsClampedToTheDocument) {
    ASSERT_EQ(lift_marquee(10.3f, 5.7f, 20.2f, 15.1f), 1);
    EXPECT_TRUE(sel.phase == SELECTION_PHASE_FLOATING && sel.lifted && sel.layer == layer);
    EXPECT_TRUE(rect_is(10, 5, 11, 11));
    EXPECT_TRUE(rgba_near(pixel_at(sel.float_bitmap, 10, 10), pattern(20, 15), 0));
    EXPECT_TRUE(rgba_near(pixel_at(layer->bitmap, 15, 10), CLEAR, 0));
    EXPECT_TRUE(rgba_near(pixel_at(layer->bitmap, 21, 10), pattern(21, 10), 0));
    EXPECT_TRUE(committed_image(layer) == original && steps() == 0u); // nothing recorded
    selection_cancel(&sel);

    ASSERT_EQ(lift_marquee(580.5f, 390.2f, 700.0f, -30.0f), 1);
    EXPECT_TRUE(rect_is(580, 0, 20, 391));
    selection_cancel(&sel);
    EXPECT_EQ(lift_marquee(-50.0f, -40.0f, -2.0f, 100.0f), 0); // wholly outside

    // A locked layer is never cut.
    layer->locked = true;
    EXPECT_EQ(lift_marquee(0, 0, 50, 50), 0);
    EXPECT_EQ(lift_lasso({{0, 0}, {50, 0}, {0, 50}}), 0);
    EXPECT_EQ(sel.phase, SELECTION_PHASE_NONE);
    EXPECT_TRUE(layer_is(original));
}

TEST_F(SelectionTest, LassoThinsItsVerticesAndLiftsBothLoopsOfAFigureEight) {
    selection_begin_lasso(&sel, 0, 0);
    selection_add_lasso_point(&sel, 1, 1); // closer than 2 pixels
    selection_add_lasso_point(&sel, 2, 0);
    EXPECT_EQ(sel.point_count, 2);
    for (int i = 1; i <= 5000; i++)
        selection_add_lasso_point(&sel, 2.0f + 3.0f * i, 0);
    EXPECT_EQ(sel.point_count, SELECTION_LASSO_MAX_POINTS);
    EXPECT_EQ(sel.points[2 * 4095], 2.0f + 3.0f * 4094);
    EXPECT_EQ(lift_lasso({{10, 10}, {60, 60}}), 0); // two vertices enclose nothing
    EXPECT_EQ(sel.phase, SELECTION_PHASE_NONE);

    // A bow tie: the left and right lobes are inside, the wedges above and below are not.
    ASSERT_EQ(lift_lasso({{100, 100}, {200, 180}, {200, 100}, {100, 180}}), 1);
    EXPECT_TRUE(rect_is(100, 100, 100, 80));
    for (auto [x, y, inside] : {std::tuple{110, 140, true}, {190, 140, true}, {150, 110, false},
                                {150, 170, false}}) {
        const Rgba left = inside ? CLEAR : pattern(x, y), lifted = inside ? pattern(x, y) : CLEAR;
        EXPECT_TRUE(rgba_near(pixel_at(layer->bitmap, x, y), left, 0)) << x << "," << y;
        EXPECT_TRUE(rgba_near(pixel_at(sel.float_bitmap, x - 100, y - 100), lifted, 0));
    }
}

TEST_F(SelectionTest, CancelAndReplacingAFloatPutEveryPixelBack) {
    ASSERT_EQ(lift_marquee(250, 150, 420.5f, 260), 1); // across tiles and the pattern's edge
    selection_nudge(&sel, 40, -30);
    sel.scale[0] = 1.7f;
    sel.angle = 0.4f; // where the float was shown does not matter
    selection_cancel(&sel);
    EXPECT_TRUE(sel.float_bitmap == nullptr && layer_is(original));

    ASSERT_EQ(lift_lasso({{5, 5}, {290, 20}, {150, 195}, {40, 120}, {200, 60}}), 1);
    selection_cancel(&sel);
    EXPECT_TRUE(layer_is(original));

    // A new outline or a paste never strands lifted pixels; ending an outline never drops one.
    ASSERT_EQ(lift_marquee(20, 20, 80, 80), 1);
    selection_begin_marquee(&sel, 0, 0);
    EXPECT_TRUE(layer_is(original));
    ASSERT_EQ(lift_lasso({{20, 20}, {80, 20}, {50, 80}}), 1);
    EXPECT_TRUE(selection_end_marquee(&sel, doc) == 0 && sel.phase == SELECTION_PHASE_FLOATING);
    paste_solid(4, 4, 400, 300);
    EXPECT_TRUE(layer_is(original) && steps() == 0u);
}

TEST_F(SelectionTest, CommitIsOneStepOnTheFloatsLayerThatUndoesToBeforeTheLift) {
    ASSERT_EQ(lift_marquee(200, 100, 280, 180), 1);
    LAYER* other = add_clear_layer(doc, "B"); // active from now on
    selection_nudge(&sel, 250, 160); // onto transparent area in other tiles
    ASSERT_EQ(selection_commit(&sel, doc, nullptr), 1);
    EXPECT_TRUE(sel.phase == SELECTION_PHASE_NONE && steps() == 1u && doc->active_layer == other);
    EXPECT_TRUE(rgba_near(pixel_at(other->bitmap, 460, 270), CLEAR, 0));
    const Pixels committed = read_image(layer->bitmap);
    EXPECT_TRUE(layer_is(committed));                                    // the backup caught up
    EXPECT_TRUE(rgba_near(pixel_at(layer->bitmap, 240, 140), CLEAR, 0)); // the hole
    EXPECT_TRUE(rgba_near(pixel_at(layer->bitmap, 483, 321), pattern(233, 161), 0));
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(layer_is(original));
    ASSERT_EQ(redo_perform(doc), 1);

    // Unmoved, over the hole left before: the layer does not change by a single byte.
    doc->active_layer = layer;
    ASSERT_EQ(lift_marquee(0, 0, 300, 200), 1);
    ASSERT_EQ(selection_commit(&sel, doc, nullptr), 1);
    EXPECT_TRUE(layer_is(committed));
}

TEST_F(SelectionTest, CommitAndDeleteNeverChangePixelsOutsideAnUndoStep) {
    ASSERT_EQ(lift_marquee(10, 10, 60, 60), 1);
    const Pixels lifted = read_image(layer->bitmap);
    selection_nudge(&sel, 300, 200);
    ASSERT_EQ(undo_begin(doc), 1); // someone else's operation, as a stroke would hold
    LogCapture log(3);
    EXPECT_EQ(selection_commit(&sel, doc, nullptr), 0);
    EXPECT_EQ(selection_delete(&sel, doc), 0);
    EXPECT_EQ(sel.phase, SELECTION_PHASE_FLOATING); // the float waits for another try
    EXPECT_TRUE(read_image(layer->bitmap) == lifted);
    undo_abort(doc);
    ASSERT_EQ(selection_commit(&sel, doc, nullptr), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(layer_is(original));

    // A layer that left the document is not touched; its backup still has the pixels.
    ASSERT_EQ(lift_marquee(10, 10, 60, 60), 1);
    ASSERT_EQ(document_detach_layer(doc, 0), layer);
    EXPECT_EQ(selection_commit(&sel, doc, nullptr), 0);
    EXPECT_EQ(sel.phase, SELECTION_PHASE_NONE);
    EXPECT_TRUE(read_image(layer->bitmap) == lifted);
    EXPECT_TRUE(committed_image(layer) == original);
    ASSERT_EQ(document_insert_layer(doc, layer, 0), 1);
    doc->active_layer = layer;

    // Deleting records the hole of a lifted float; a pasted one leaves no step.
    ASSERT_EQ(lift_marquee(30, 30, 90, 70), 1);
    const Pixels holed = read_image(layer->bitmap);
    ASSERT_EQ(selection_delete(&sel, doc), 1);
    EXPECT_TRUE(layer_is(holed));
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(layer_is(original));
    paste_solid(10, 10, 5, 5);
    EXPECT_EQ(selection_delete(&sel, doc), 0);
    EXPECT_EQ(sel.phase, SELECTION_PHASE_NONE);
    EXPECT_TRUE(redo_available(doc)); // the history was left alone
}

// Placed floats repeat with the symmetry. Each commit is one step, and undoing it must restore
// every tile any copy touched.
TEST_F(SelectionTest, CommitWithEachSymmetryModeIsOneUndoableStep) {
    struct Case {
        int mode, count;
        std::vector<std::pair<int, int>> painted, blank; // centres of copies
    };
    // The float's centre is (44, 44), the symmetry centre (300, 200).
    const Case cases[] = {
        {SYMMETRY_OFF, 6, {{44, 44}}, {{556, 44}}},
        {SYMMETRY_X, 6, {{44, 44}, {556, 44}}, {{44, 356}}},
        {SYMMETRY_Y, 6, {{44, 44}, {44, 356}}, {{556, 44}}},
        {SYMMETRY_XY, 6, {{44, 44}, {556, 44}, {44, 356}, {556, 356}}, {}},
        {SYMMETRY_RADIAL, 1, {{44, 44}, {556, 356}}, {{556, 44}}}, // count clamped to 2
        {99, 6, {{44, 44}}, {{556, 44}}},                          // unknown: Off
    };
    SYMMETRY sym;
    symmetry_init(&sym, doc);
    fill_bitmap(layer->bitmap, al_map_rgba(0, 0, 0, 0));
    ASSERT_EQ(layer_backup(layer), 1);
    const Pixels empty = read_image(layer->bitmap);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " count " << c.count);
        sym.mode = c.mode;
        sym.count = c.count;
        paste_solid(8, 8, 40, 40);
        sel.placed = true;
        ASSERT_EQ(selection_commit(&sel, doc, &sym), 1);
        EXPECT_EQ(steps(), 1u);
        for (auto [x, y] : c.painted)
            EXPECT_EQ(pixel_at(layer->bitmap, x, y).a, 255) << x << "," << y;
        for (auto [x, y] : c.blank)
            EXPECT_EQ(pixel_at(layer->bitmap, x, y).a, 0) << x << "," << y;
        ASSERT_EQ(undo_perform(doc), 1);
        EXPECT_TRUE(layer_is(empty));
    }

    // A float that is not placed ignores the symmetry; one larger than the canvas commits what
    // falls on it.
    paste_solid(700, 500, -10, -10); // clamped to (0, 0): overhangs right and bottom
    selection_nudge(&sel, -50, -30);
    ASSERT_EQ(selection_commit(&sel, doc, &sym), 1);
    EXPECT_EQ(pixel_at(layer->bitmap, 599, 399).a, 255);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(layer_is(empty));
}

TEST_F(SelectionTest, CloneAndPasteCopyPixelsExactly) {
    EXPECT_EQ(selection_clone_float(&sel), nullptr);
    ASSERT_EQ(lift_marquee(100, 50, 130, 90), 1);
    sel.scale[0] = 3.0f; // the clone is untransformed
    ALLEGRO_BITMAP* clone = selection_clone_float(&sel);
    ASSERT_NE(clone, nullptr);
    EXPECT_TRUE(al_get_bitmap_flags(clone) & ALLEGRO_MEMORY_BITMAP);
    EXPECT_TRUE(al_get_bitmap_width(clone) == 30 && al_get_bitmap_height(clone) == 40);
    EXPECT_TRUE(rgba_near(pixel_at(clone, 29, 39), pattern(129, 89), 0));
    selection_cancel(&sel);

    for (auto [x, y, want_x, want_y] : {std::array{-30, 900, 0, 399}, std::array{1000, 5, 599, 5},
                                        std::array{12, 34, 12, 34}}) {
        ASSERT_EQ(selection_paste(&sel, doc, clone, x, y), 1);
        EXPECT_TRUE(sel.rect.x == want_x && sel.rect.y == want_y && !sel.lifted) << x << "," << y;
    }
    write_image(clone, Image(30, 40)); // the caller's own
    EXPECT_TRUE(rgba_near(pixel_at(sel.float_bitmap, 29, 39), pattern(129, 89), 0));
    layer->locked = true; // a refused paste leaves the current float alone
    EXPECT_EQ(selection_paste(&sel, doc, clone, 0, 0), 0);
    EXPECT_EQ(sel.rect.x, 12);
    al_destroy_bitmap(clone);
}

TEST_F(SelectionTest, ResizeHandlesKeepTheOppositeSideFixed) {
    // Local positions of codes 0..9 on a 40 x 20 float, and the corners that must not move.
    const float hx[] = {0, 0, 0, 40, 40, 0, 20, 40, 20, 0};
    const float hy[] = {0, 0, 0, 0, 20, 20, 0, 10, 20, 10};
    const int fixed[10][2] = {{},     {},     {4, 4}, {5, 5}, {2, 2},
                              {3, 3}, {4, 5}, {2, 5}, {2, 3}, {3, 4}};
    for (float angle : {0.0f, 0.6f}) {
        for (int code = SELECTION_HANDLE_TOP_LEFT; code <= SELECTION_HANDLE_LEFT; code++) {
            SCOPED_TRACE(testing::Message() << "handle " << code << " angle " << angle);
            paste_solid(40, 20, 100, 100);
            sel.angle = angle;
            std::pair<float, float> before[2];
            for (int i = 0; i < 2; i++)
                before[i] = to_canvas(hx[fixed[code][i]], hy[fixed[code][i]]);
            // Outwards by 10 canvas pixels along each axis the handle controls.
            const float ox = (hx[code] - 20) / 2, oy = hy[code] - 10;
            const float c = std::cos(angle), s = std::sin(angle);
            auto [px, py] = to_canvas(hx[code], hy[code]);
            drag(code, px, py, px + c * ox - s * oy, py + s * ox + c * oy);
            for (int i = 0; i < 2; i++) {
                auto [x, y] = to_canvas(hx[fixed[code][i]], hy[fixed[code][i]]);
                EXPECT_LT(std::hypot(x - before[i].first, y - before[i].second), 1e-3);
            }
            EXPECT_NEAR(sel.scale[0], ox != 0 ? 1.25f : 1.0f, 1e-4); // 40 -> 50 wide
            EXPECT_NEAR(sel.scale[1], oy != 0 ? 1.5f : 1.0f, 1e-4);  // 20 -> 30 high
        }
    }
}

TEST_F(SelectionTest, DragsClampScaleSnapWithShiftAndMove) {
    paste_solid(40, 20, 100, 100);
    drag(SELECTION_HANDLE_RIGHT, 140, 110, 20, 110); // far past the left edge
    EXPECT_FLOAT_EQ(sel.scale[0], SELECTION_MIN_SCALE);
    EXPECT_NEAR(to_canvas(0, 10).first, 100.0f, 1e-4);

    for (bool shift : {false, true}) { // the corner aims at factors (2.0, 0.5)
        paste_solid(40, 20, 100, 100);
        drag(SELECTION_HANDLE_BOTTOM_RIGHT, 140, 120, 180, 110, shift);
        EXPECT_TRUE(std::fabs(sel.scale[0] - 2.0f) < 1e-5 &&
                    std::fabs(sel.scale[1] - (shift ? 2.0f : 0.5f)) < 1e-5);
    }
    paste_solid(40, 20, 100, 100);
    drag(SELECTION_HANDLE_BOTTOM, 120, 120, 120, 140, true); // edges stay one-dimensional
    EXPECT_FLOAT_EQ(sel.scale[0], 1.0f);

    paste_solid(40, 20, 100, 100);
    drag(SELECTION_HANDLE_BODY, 110, 105, 135.5f, 95);
    float cx = 0, cy = 0;
    ASSERT_EQ(selection_get_center(&sel, &cx, &cy), 1);
    EXPECT_TRUE(cx == 145.5f && cy == 100.0f);
    auto rotate_to = [&](float degrees, bool shift) {
        drag(SELECTION_HANDLE_ROTATE, cx + 60, cy, cx + 60 * std::cos(degrees * DEG),
             cy + 60 * std::sin(degrees * DEG), shift);
    };
    rotate_to(50, false);
    EXPECT_NEAR(sel.angle, 50 * DEG, 1e-4);
    sel.angle = 0;
    rotate_to(50, true);
    rotate_to(-5, true); // 40 degrees rounds back to 45
    EXPECT_NEAR(sel.angle, 45 * DEG, 1e-5);
}

TEST_F(SelectionTest, HitTestingWorksInScreenPixelsAtAnyZoom) {
    VIEW view;
    view_init(&view);
    EXPECT_EQ(selection_hit_test(&sel, &view, 0, 0), SELECTION_HANDLE_NONE); // not floating
    paste_solid(100, 60, 50, 40);
    const std::pair<float, float> handles[] = {{50, 40},  {150, 40}, {150, 100}, {50, 100},
                                               {100, 40}, {150, 70}, {100, 100}, {50, 70}};
    for (float zoom : {1.0f, 2.0f}) {
        SCOPED_TRACE(testing::Message() << "zoom " << zoom);
        view.x = 10;
        view.y = 20;
        view.zoom = zoom;
        view_update(&view);
        auto at = [&](std::pair<float, float> canvas, float dx, float dy) {
            float sx = 0, sy = 0;
            view_canvas_to_screen(&view, canvas.first, canvas.second, &sx, &sy);
            return selection_hit_test(&sel, &view, sx + dx, sy + dy);
        };
        for (int i = 0; i < 8; i++)
            EXPECT_EQ(at(handles[i], 10, -10), SELECTION_HANDLE_TOP_LEFT + i);
        EXPECT_EQ(at({50, 70}, -16, 0), SELECTION_HANDLE_NONE);
        EXPECT_EQ(at({50, 70}, 16, 0), SELECTION_HANDLE_BODY);
        EXPECT_EQ(at({100, 40}, 0, -30), SELECTION_HANDLE_ROTATE);
        EXPECT_EQ(at({100, 40}, 3, -16), SELECTION_HANDLE_ROTATE); // the knob wins near the edge
        EXPECT_EQ(at({100, 40}, 0, -46), SELECTION_HANDLE_NONE);
    }
    sel.angle = 90 * DEG; // the knob follows the turned top edge
    view_init(&view);
    EXPECT_EQ(selection_hit_test(&sel, &view, 160, 70), SELECTION_HANDLE_ROTATE);
    EXPECT_EQ(selection_hit_test(&sel, &view, 130, 70), SELECTION_HANDLE_TOP);
}

} // namespace

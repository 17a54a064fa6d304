#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/brush.h"
#include "canvas/document.h"
#include "canvas/undo.h"
#include "canvas_test_util.h"

namespace {

const ALLEGRO_COLOR CLEAR = al_map_rgba(0, 0, 0, 0);

struct BrushTest : ::testing::Test {
    DOCUMENT* doc = nullptr;
    LAYER* layer = nullptr;
    BRUSH brush{};
    BRUSH_STROKE stroke{};

    void SetUp() override {
        brush_engine_flush_cache();
        brush_defaults(&brush);
        replace_document(256, 256);
    }
    // A document of that size with one cleared layer.
    void replace_document(int w, int h) {
        if (doc) document_free(&doc);
        ASSERT_NE(doc = document_new(w, h), nullptr);
        ASSERT_NE(layer = add_clear_layer(doc, nullptr), nullptr);
    }
    void TearDown() override {
        if (stroke.active) brush_stroke_abort(&stroke, doc);
        document_free(&doc);
        brush_engine_shutdown();
    }
    Image buffer() const { return read_image(brush_stroke_buffer()); }
};

using BrushStampTest = BrushTest;
using BrushDabTest = BrushTest;
using BrushStrokeTest = BrushTest;
using BrushPreviewTest = BrushTest;

} // namespace

TEST_F(BrushStampTest, DiameterRoundsUpAndNeverFallsBelowOnePixel) {
    const struct {
        float size;
        int side;
    } cases[] = {{0.5f, 1}, {24.2f, 25}, {24.0f, 24}, {0.0f, 1}, {-3.0f, 1}, {NAN, 1}};
    for (const auto& c : cases) {
        brush.size = c.size;
        ALLEGRO_BITMAP* stamp = _stamp_get(&brush);
        ASSERT_NE(stamp, nullptr) << c.size;
        EXPECT_EQ(al_get_bitmap_width(stamp), c.side) << c.size;
        EXPECT_EQ(al_get_bitmap_height(stamp), c.side) << c.size;
    }
}

TEST_F(BrushStampTest, EachTipCoversItsOwnOutline) {
    // 33 px, hardness 1: centre pixel 16. `in` lies inside the tip's outline, `out` outside.
    const struct {
        int tip;
        int in_x, in_y, out_x, out_y;
    } cases[] = {
        {BRUSH_TIP_ROUND, 16, 1, 3, 3},    {BRUSH_TIP_SQUARE, 1, 1, 0, 0}, // fills its box
        {BRUSH_TIP_CHISEL_L, 5, 5, 27, 5}, {BRUSH_TIP_CHISEL_R, 27, 5, 5, 5},
        {BRUSH_TIP_FLAT, 1, 16, 16, 3},    {BRUSH_TIP_DIAMOND, 16, 1, 4, 4},
        {BRUSH_TIP_SPRAY, 16, 1, 3, 3},    {42, 16, 1, 3, 3}, // unknown: round
    };
    for (const auto& c : cases) {
        ALLEGRO_BITMAP* stamp = _stamp_generate(33, 1.0f, c.tip);
        ASSERT_NE(stamp, nullptr);
        const Image p = read_image(stamp);
        al_destroy_bitmap(stamp);
        const bool out_is_clear = p.alpha(c.out_x, c.out_y) == 0 || c.tip == BRUSH_TIP_SQUARE;
        EXPECT_TRUE(p.alpha(16, 16) == 255 && p.alpha(c.in_x, c.in_y) == 255 && out_is_clear)
            << "tip " << c.tip;
        // Hard edged, and premultiplied white throughout.
        EXPECT_EQ(p.count(0) + p.count(0xFFFFFFFFu), p.px.size()) << "tip " << c.tip;
    }
}

TEST_F(BrushStampTest, CacheSharesRoundedHardnessAndEmptiesOnTheSixtyFifthStamp) {
    brush.hardness = 0.704f;
    ALLEGRO_BITMAP* first = _stamp_get(&brush);
    brush.hardness = 0.696f;
    EXPECT_EQ(_stamp_get(&brush), first); // both are d24_h70_s0
    for (int size = 1; _stamp_cache_count() < BRUSH_STAMP_CACHE_MAX; size++) {
        brush.size = static_cast<float>(size == 24 ? 200 : size);
        ASSERT_NE(_stamp_get(&brush), nullptr);
    }
    brush.size = 5.0f;
    ASSERT_NE(_stamp_get(&brush), nullptr); // a hit: nothing is dropped
    EXPECT_EQ(_stamp_cache_count(), BRUSH_STAMP_CACHE_MAX);
    brush.size = 300.0f;
    ASSERT_NE(_stamp_get(&brush), nullptr);
    EXPECT_EQ(_stamp_cache_count(), 1u);
}

TEST_F(BrushDabTest, FlowAndPressureSetTheDabAlphaAndZeroPressureStillMarksUndo) {
    brush.hardness = 1.0f;
    brush.size = 9.0f;
    const struct {
        float flow, pressure;
        int alpha;
    } cases[] = {{1.0f, 1.0f, 255}, {1.0f, 0.5f, 128}, {0.25f, 1.0f, 64}, {0.5f, 3.0f, 255}};
    for (const auto& c : cases) {
        brush.flow = c.flow;
        ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 100.5f, 100.5f, c.pressure, NULL));
        EXPECT_NEAR(buffer().alpha(100, 100), c.alpha, 2)
            << c.flow << " x " << c.pressure;
        ASSERT_TRUE(brush_stroke_abort(&stroke, doc));
    }

    ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 10.0f, 10.0f, 0.0f, NULL));
    EXPECT_TRUE(buffer().max_alpha() == 0 && doc->undo->dirty[0]);
}

TEST_F(BrushDabTest, ErasingScalesTheLayerByTheDabAndAbortPutsItBack) {
    fill_bitmap(layer->bitmap, al_map_rgba(200, 100, 50, 255));
    ASSERT_TRUE(layer_backup(layer));
    brush.mode = BRUSH_MODE_ERASE;
    brush.hardness = 1.0f;
    brush.size = 9.0f;
    const struct {
        float flow;
        Rgba want;
    } cases[] = {{1.0f, {0, 0, 0, 0}}, {0.5f, {100, 50, 25, 128}}};
    for (const auto& c : cases) {
        brush.flow = c.flow;
        ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 100.5f, 100.5f, 1.0f, NULL));
        EXPECT_EQ(brush_stroke_buffer(), nullptr); // erasing works on the layer itself
        EXPECT_TRUE(rgba_near(pixel_at(layer->bitmap, 100, 100), c.want)) << c.flow;
        EXPECT_TRUE(rgba_near(pixel_at(layer->bitmap, 110, 100), {200, 100, 50, 255}));
        ASSERT_TRUE(brush_stroke_abort(&stroke, doc));
        EXPECT_TRUE(rgba_near(pixel_at(layer->bitmap, 100, 100), {200, 100, 50, 255}, 0));
    }
    EXPECT_FALSE(undo_available(doc));
}

TEST_F(BrushDabTest, SprayPatternDependsOnlyOnTheTwoPixelCell) {
    EXPECT_EQ(_spray_particle_count(1.0f), BRUSH_SPRAY_MIN_PARTICLES);
    EXPECT_EQ(_spray_particle_count(64.0f), 24);
    EXPECT_EQ(_spray_particle_count(400.0f), BRUSH_SPRAY_MAX_PARTICLES);
    EXPECT_EQ(_spray_particle_count(NAN), BRUSH_SPRAY_MIN_PARTICLES);

    brush.tip = BRUSH_TIP_SPRAY;
    brush.size = 40.0f;
    // A preview dab, which never reaches the history, at (x, y); the 60-pixel box around it.
    auto dab_at = [&](float x, float y) {
        const float xy[] = {x, y, x, y};
        EXPECT_TRUE(brush_preview_polyline(doc, &brush, xy, 2, NULL));
        return read_image(brush_stroke_buffer(), static_cast<int>(x) - 30,
                          static_cast<int>(y) - 30, 60, 60);
    };
    const Image base = dab_at(100.0f, 100.0f);
    EXPECT_GT(base.max_alpha(), 200);
    EXPECT_EQ(dab_at(101.0f, 101.0f), base); // the same cell (50, 50): the same particles
    EXPECT_NE(dab_at(104.0f, 100.0f), base); // cell (52, 50)
    EXPECT_FALSE(undo_available(doc));
}

TEST_F(BrushDabTest, DrawingLeavesAllegroStateAsFound) {
    std::unique_ptr<ALLEGRO_BITMAP, decltype(&al_destroy_bitmap)> target(al_create_bitmap(8, 8),
                                                                         al_destroy_bitmap),
        swatch(al_create_bitmap(48, 48), al_destroy_bitmap);
    ASSERT_TRUE(target && swatch);
    TargetBitmapScope keep_target(target.get()); // restored before the bitmaps go
    BlenderScope keep_blender;
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ONE);
    const int flags = al_get_new_bitmap_flags();
    for (int tip : {BRUSH_TIP_ROUND, BRUSH_TIP_SPRAY}) {
        brush.tip = tip;
        EXPECT_TRUE(brush_render_tip_preview(&brush, swatch.get()));
        ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 30, 30, 1.0f, NULL));
        EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 90, 40, 1.0f));
        EXPECT_TRUE(brush_stroke_end(&stroke, doc));
        const float line[] = {10, 10, 60, 60};
        EXPECT_TRUE(brush_preview_polyline(doc, &brush, line, 2, NULL));
        int op, src, dst;
        al_get_blender(&op, &src, &dst);
        EXPECT_TRUE(al_get_target_bitmap() == target.get() && dst == ALLEGRO_ONE &&
                    al_get_new_bitmap_flags() == flags)
            << tip;
    }
}

TEST_F(BrushStrokeTest, DabsFallAtTheSpacingAndCarryTheRemainder) {
    ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 20, 50, 1.0f, NULL)); // 24 px: step 6
    EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 50, 50, 1.0f));
    EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 54, 50, 1.0f));
    EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 54, 50, 1.0f)); // no motion
    EXPECT_TRUE(stroke.last_dab[0] == 50.0f && stroke.carry == 4.0f);

    // Turning back across the last dab by less than 0.9 step lays nothing.
    const Image before = buffer();
    EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 47, 50, 1.0f));
    EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 53, 50, 1.0f));
    EXPECT_EQ(buffer(), before);
    brush_stroke_abort(&stroke, doc);

    // A 2 px tip with a 6 px step shows where each dab lands: pixels p - 1 and p.
    brush.size = 2.0f;
    brush.spacing = 3.0f;
    brush.hardness = 1.0f;
    ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 50, 100, 1.0f, NULL));
    EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 70, 100, 1.0f));
    EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 81, 100, 1.0f));
    const Image p = buffer();
    std::vector<int> painted;
    for (int x = 40; x < 100; x++)
        if (p.alpha(x, 100) > 0) painted.push_back(x);
    EXPECT_EQ(painted, (std::vector<int>{49, 50, 55, 56, 61, 62, 67, 68, 73, 74, 79, 80}));
}

TEST_F(BrushStrokeTest, ShrinkingTheBrushMidStrokeNeverDabsBehindTheSegment) {
    brush.size = 40.0f;
    brush.spacing = 1.0f;
    brush.hardness = 1.0f;
    ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 100, 100, 1.0f, NULL));
    EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 100, 130, 1.0f)); // carry 30
    brush.size = 4.0f;                                                       // step 4
    EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 130, 130, 1.0f));
    const Image p = buffer();
    EXPECT_TRUE(p.alpha(74, 130) == 0 && p.alpha(100, 130) > 200 && p.alpha(128, 130) > 200);
}

TEST_F(BrushStrokeTest, TinyOrUnspacedBrushesStepHalfAPixel) {
    // 1 px tip, spacing 0: every pixel along the way takes exactly two dabs of alpha 0.1.
    brush.size = 1.0f;
    brush.spacing = 0.0f;
    brush.hardness = 1.0f;
    brush.flow = 0.1f;
    ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 50.25f, 60.5f, 1.0f, NULL));
    EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 60.25f, 60.5f, 1.0f));
    const Image p = buffer();
    for (int x = 51; x < 60; x++)
        EXPECT_NEAR(p.alpha(x, 60), 48, 2) << x; // 1 - 0.9²
}

TEST_F(BrushStrokeTest, OverlappingDabsNeverExceedTheStrokeOpacity) {
    brush.opacity = 0.5f;
    brush.flow = 0.3f;
    brush.color = al_map_rgb(255, 0, 0);
    brush.spacing = 0.05f;
    ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 40, 40, 1.0f, NULL));
    for (int pass = 0; pass < 6; pass++) {
        EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 120, 45, 1.0f));
        EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 40, 40, 1.0f));
    }
    EXPECT_EQ(read_image(layer->bitmap).max_alpha(), 0); // nothing lands before the end
    EXPECT_TRUE(brush_stroke_end(&stroke, doc));
    EXPECT_LE(read_image(layer->bitmap).max_alpha(), 129);
    EXPECT_TRUE(rgba_near(pixel_at(layer->bitmap, 80, 42), {128, 0, 0, 128}));
}

TEST_F(BrushStrokeTest, AStrokeIsOneUndoStepAndMirroredDabsAreRecorded) {
    replace_document(600, 256);
    SYMMETRY sym;
    symmetry_init(&sym, doc);
    sym.mode = SYMMETRY_X; // centre 300: x = 20 mirrors to 580, two tiles apart

    ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 20, 20, 1.0f, &sym));
    EXPECT_TRUE(brush_stroke_segment(&stroke, doc, &brush, 40, 30, 1.0f));
    EXPECT_EQ(undo_perform(doc), 0); // the history refuses while the stroke is open
    EXPECT_TRUE(brush_stroke_end(&stroke, doc));
    EXPECT_EQ(brush_stroke_end(&stroke, doc), 0); // idle: nothing more is recorded
    EXPECT_EQ(doc->undo->undo_stack->count, 1u);
    EXPECT_GT(pixel_at(layer->bitmap, 580, 20).a, 200);
    ASSERT_TRUE(undo_perform(doc));
    EXPECT_EQ(read_image(layer->bitmap).max_alpha(), 0);
}

TEST_F(BrushStrokeTest, NoStrokeStartsWithoutAnUndoOperationOfItsOwn) {
    const float line[] = {10, 10, 200, 200};
    ASSERT_TRUE(brush_preview_polyline(doc, &brush, line, 2, NULL));
    const Image shown = buffer();

    layer->locked = true;
    EXPECT_EQ(brush_stroke_begin(&stroke, doc, &brush, 50, 50, 1.0f, NULL), 0);
    EXPECT_FALSE(stroke.active || doc->undo->active);
    layer->locked = false;
    ASSERT_TRUE(undo_begin(doc)); // another tool is mid-way
    for (int mode : {BRUSH_MODE_PAINT, BRUSH_MODE_ERASE}) {
        brush.mode = mode;
        EXPECT_EQ(brush_stroke_begin(&stroke, doc, &brush, 50, 50, 1.0f, NULL), 0);
    }
    undo_abort(doc);
    EXPECT_EQ(buffer(), shown); // the preview is still shown, untouched
    EXPECT_EQ(read_image(layer->bitmap).max_alpha(), 0);
}

TEST_F(BrushStrokeTest, BufferFollowsTheDocumentAndUnclearedLayersAreClearedFirst) {
    ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 50, 50, 1.0f, NULL));
    EXPECT_TRUE(brush_stroke_end(&stroke, doc));
    replace_document(128, 64);
    layer->needs_clear = true;
    // Fresh working bitmaps hold undefined pixels until the compositor clears them; a stroke
    // that arrives first must not end up on top of them (or be wiped with them).
    fill_bitmap(layer->bitmap, al_map_rgba(90, 90, 90, 255));
    ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 100, 40, 1.0f, NULL));
    ASSERT_NE(brush_stroke_buffer(), nullptr);
    EXPECT_EQ(al_get_bitmap_width(brush_stroke_buffer()), 128);
    EXPECT_TRUE(brush_stroke_end(&stroke, doc));
    EXPECT_TRUE(pixel_at(layer->bitmap, 100, 40).a > 200 && pixel_at(layer->bitmap, 5, 5).a == 0);
}

TEST_F(BrushPreviewTest, PreviewsShowInTheBufferWithoutTouchingLayerOrHistory) {
    brush.mode = BRUSH_MODE_ERASE; // an eraser previews as paint
    const float line[] = {20, 20, 120, 20, 120, 120};
    EXPECT_EQ(brush_preview_polyline(doc, &brush, line, 1, NULL), 0);
    EXPECT_EQ(brush_stroke_buffer(), nullptr);
    ASSERT_TRUE(brush_preview_polyline(doc, &brush, line, 3, NULL));
    const Image shown = buffer();
    EXPECT_GT(shown.alpha(120, 70), 200);
    EXPECT_EQ(read_image(layer->bitmap).max_alpha(), 0);
    EXPECT_FALSE(doc->undo->active || undo_available(doc));

    EXPECT_EQ(brush_preview_polyline(doc, &brush, line, 1, NULL), 0); // keeps the old one
    EXPECT_EQ(buffer(), shown);
    brush_preview_clear();
    EXPECT_EQ(brush_stroke_buffer(), nullptr);

    // An erasing stroke takes the preview off the screen too.
    ASSERT_TRUE(brush_preview_polyline(doc, &brush, line, 3, NULL));
    ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 200, 200, 1.0f, NULL));
    EXPECT_EQ(brush_stroke_buffer(), nullptr);
    brush_stroke_abort(&stroke, doc);
}

TEST_F(BrushPreviewTest, APaintingStrokeKeepsTheBufferAgainstPreviews) {
    ASSERT_TRUE(brush_stroke_begin(&stroke, doc, &brush, 200, 200, 1.0f, NULL));
    const float line[] = {20, 20, 120, 20};
    EXPECT_EQ(brush_preview_polyline(doc, &brush, line, 2, NULL), 0);
    brush_preview_clear();
    ASSERT_NE(brush_stroke_buffer(), nullptr);
    EXPECT_TRUE(brush_stroke_end(&stroke, doc));
    EXPECT_EQ(pixel_at(layer->bitmap, 70, 20).a, 0); // the shape never reached the layer
    EXPECT_GT(pixel_at(layer->bitmap, 200, 200).a, 200);
}

TEST(BrushPresetTest, PresetsKeepColourAndSwitchToPainting) {
    BRUSH brush;
    brush_defaults(&brush);
    brush.mode = BRUSH_MODE_ERASE;
    brush.color = al_map_rgb(1, 2, 3);
    const BRUSH before = brush;
    LogCapture log(3);
    EXPECT_EQ(brush_apply_preset(&brush, "Pen"), 0); // a short name, not a name
    EXPECT_EQ(memcmp(&brush, &before, sizeof brush), 0);
    ASSERT_TRUE(brush_apply_preset(&brush, "Airbrush"));
    EXPECT_TRUE(brush.mode == BRUSH_MODE_PAINT && brush.tip == BRUSH_TIP_SPRAY);
    EXPECT_EQ(memcmp(&brush.color, &before.color, sizeof brush.color), 0);
    brush_engine_shutdown();
}

TEST(BrushPressureTest, SpeedEasesPressureTowardsItsFloor) {
    EXPECT_FLOAT_EQ(pressure_from_speed(0.0f, 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(pressure_from_speed(3000.0f, 1.0f), 0.625f);
    EXPECT_FLOAT_EQ(pressure_from_speed(-100.0f, 0.0f), 0.5f); // backwards is standing still
    float p = 1.0f;
    for (int i = 0; i < 30; i++)
        p = pressure_from_speed(5000.0f, p);
    EXPECT_NEAR(p, 0.25f, 1e-6f);
}

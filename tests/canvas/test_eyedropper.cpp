// Picking colours from committed pixels: one layer's own, and the visible picture blended as
// the compositor blends it.
#include <gtest/gtest.h>

#include <cmath>

#include "canvas/eyedropper.h"
#include "canvas_test_util.h"

namespace {

struct EyedropperTest : testing::Test {
    DOCUMENT* doc = nullptr;
    void SetUp() override { doc = document_new(8, 8); }
    void TearDown() override { document_free(&doc); }
    // A layer whose committed pixels are all one premultiplied colour.
    LAYER* layer(uint32_t pixel) {
        LAYER* l = add_clear_layer(doc, nullptr);
        write_committed(l, Image(8, 8, pixel));
        return l;
    }
    PICKED_COLOUR pick(float x = 3.5f, float y = 3.5f) {
        PICKED_COLOUR c{};
        EXPECT_EQ(eyedropper_pick_composite(doc, x, y, &c), 1);
        return c;
    }
};

bool is(const PICKED_COLOUR& c, int r, int g, int b, int a = 255, int tolerance = 1) {
    const int want[4] = {r, g, b, a};
    for (int i = 0; i < 4; i++)
        if (std::abs(c.rgba[i] - want[i]) > tolerance) return false;
    return true;
}

} // namespace

TEST_F(EyedropperTest, CommittedPixelReadsTheBackupOnly) {
    LAYER* l = layer(packed(10, 20, 30, 40));
    EXPECT_EQ(layer_committed_pixel(l, 7, 7), packed(10, 20, 30, 40));
    for (auto [x, y] : {std::pair{-1, 0}, std::pair{0, 8}, std::pair{8, 0}})
        EXPECT_EQ(layer_committed_pixel(l, x, y), 0u);
    fill_bitmap(l->bitmap, al_map_rgba(255, 0, 0, 255)); // an open stroke: not committed
    EXPECT_EQ(layer_committed_pixel(l, 1, 1), packed(10, 20, 30, 40));
}

// Half-transparent red (premultiplied 128, 0, 0, 128) over grey paper in every blend mode, at
// full and at half opacity; hidden and transparent layers add nothing.
TEST_F(EyedropperTest, CompositeBlendsLikeTheCompositor) {
    doc->background = al_map_rgb(100, 100, 100);
    EXPECT_TRUE(is(pick(), 100, 100, 100));
    LAYER* l = layer(packed(128, 0, 0, 128));
    const struct {
        int blend;
        float opacity;
        int r, g;
    } cases[] = {{LAYER_BLEND_NORMAL, 1.0f, 178, 50},  {LAYER_BLEND_MULTIPLY, 1.0f, 100, 50},
                 {LAYER_BLEND_SCREEN, 1.0f, 178, 100}, {LAYER_BLEND_ADD, 1.0f, 228, 100},
                 {LAYER_BLEND_NORMAL, 0.5f, 139, 75},  {99, 1.0f, 178, 50}};
    for (const auto& c : cases) {
        l->blend = c.blend;
        l->opacity = c.opacity;
        EXPECT_TRUE(is(pick(), c.r, c.g, c.g)) << c.blend << " " << c.opacity;
    }
    l->blend = LAYER_BLEND_NORMAL;
    l->opacity = 1.0f;
    layer(0);                        // transparent on top
    layer(packed(0, 0, 255, 255))->visible = false;
    EXPECT_TRUE(is(pick(), 178, 50, 50));
    PICKED_COLOUR c{};
    EXPECT_EQ(eyedropper_pick_composite(doc, 8.0f, 1.0f, &c), 0);
    EXPECT_EQ(eyedropper_pick_composite(doc, NAN, 1.0f, &c), 0);
}

TEST_F(EyedropperTest, OneLayerIsUnpremultipliedAndEmptyPixelsHoldNothing) {
    LAYER* under = layer(packed(0, 0, 255, 255));
    LAYER* top = layer(packed(64, 32, 0, 128));
    PICKED_COLOUR c{};
    ASSERT_EQ(eyedropper_pick_layer(doc, top, 2, 2, &c), 1);
    EXPECT_TRUE(is(c, 128, 64, 0, 128));
    ASSERT_EQ(eyedropper_pick_layer(doc, under, 2, 2, &c), 1); // under a covering layer
    EXPECT_TRUE(is(c, 0, 0, 255));
    EXPECT_EQ(eyedropper_pick_layer(doc, layer(0), 2, 2, &c), 0);
    EXPECT_EQ(eyedropper_pick_layer(doc, top, -0.5f, 2, &c), 0);
}

// Tiles nobody painted are not stored: the eyedropper finds nothing in them on the layer and
// the paper through them in the picture, beside a painted tile of the same layer.
TEST(EyedropperTiles, AbsentTilesReadAsTransparent) {
    DOCUMENT* doc = document_new(600, 300);
    ASSERT_NE(doc, nullptr);
    doc->background = al_map_rgb(100, 100, 100);
    LAYER* l = add_clear_layer(doc, nullptr);
    write_committed(l, Image(10, 10, packed(0, 0, 200, 255)), 300, 10); // tile (1, 0) only
    ASSERT_EQ(l->stored_tiles, 1u);
    PICKED_COLOUR c{};
    EXPECT_EQ(eyedropper_pick_layer(doc, l, 305.5f, 15.5f, &c), 1);
    EXPECT_TRUE(is(c, 0, 0, 200));
    for (auto [x, y] : {std::pair{5.5f, 5.5f}, std::pair{595.5f, 295.5f}, std::pair{300.5f, 20.5f}}) {
        EXPECT_EQ(eyedropper_pick_layer(doc, l, x, y, &c), 0) << x << "," << y;
        ASSERT_EQ(eyedropper_pick_composite(doc, x, y, &c), 1);
        EXPECT_TRUE(is(c, 100, 100, 100)) << x << "," << y;
    }
    document_free(&doc);
}

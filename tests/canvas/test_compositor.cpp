#include <allegro5/allegro_primitives.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "canvas/allegro_state.h"
#include "canvas/compositor.h"
#include "canvas_test_util.h"

namespace {

constexpr int SIDE = 8;
const Rgba PAPER{255, 255, 255, 255};

using BitmapPtr = std::unique_ptr<ALLEGRO_BITMAP, decltype(&al_destroy_bitmap)>;

ALLEGRO_COLOR rgba(int r, int g, int b, int a) {
    return al_map_rgba(r, g, b, a);
}

bool default_blender() {
    int op, src, dst;
    al_get_blender(&op, &src, &dst);
    return op == ALLEGRO_ADD && src == ALLEGRO_ONE && dst == ALLEGRO_INVERSE_ALPHA;
}

struct CompositorTest : ::testing::Test {
    DOCUMENT* doc = nullptr;
    void SetUp() override { ASSERT_NE(doc = document_new(SIDE, SIDE), nullptr); }
    void TearDown() override { document_free(&doc); }
    // A layer holding one colour, given premultiplied as stored; `half` paints only x < 4.
    LAYER* solid(ALLEGRO_COLOR colour, int blend = LAYER_BLEND_NORMAL, bool half = false) {
        LAYER* layer = document_add_layer(doc, nullptr);
        fill_bitmap(layer->bitmap, half ? rgba(0, 0, 0, 0) : colour);
        if (half) {
            ALLEGRO_BITMAP* previous = al_get_target_bitmap();
            al_set_target_bitmap(layer->bitmap);
            al_draw_filled_rectangle(0, 0, SIDE / 2, SIDE, colour);
            al_set_target_bitmap(previous);
        }
        layer->needs_clear = false;
        layer->blend = blend;
        return layer;
    }
    BitmapPtr flatten(int x = 0, int y = 0, int w = SIDE, int h = SIDE) {
        return BitmapPtr(compositor_flatten_region(doc, x, y, w, h, true), al_destroy_bitmap);
    }
};

} // namespace

// Over an opaque (200, 100, 50): each blend mode, then opacity (capped at 1) and visibility.
TEST_F(CompositorTest, BlendModesOpacityAndVisibilityCombineWithWhatLiesBelow) {
    const ALLEGRO_COLOR black = rgba(0, 0, 0, 255);
    const struct {
        int blend;
        ALLEGRO_COLOR layer;
        float opacity;
        bool visible;
        Rgba want;
    } cases[] = {
        // Normal s + d(1 - s.a), multiply s*d + d(1 - s.a), screen s + d(1 - s), add s + d.
        {LAYER_BLEND_NORMAL, rgba(64, 32, 0, 128), 1, true, {164, 82, 25, 255}},
        {LAYER_BLEND_MULTIPLY, rgba(128, 128, 128, 255), 1, true, {100, 50, 25, 255}},
        {LAYER_BLEND_MULTIPLY, rgba(64, 64, 64, 128), 1, true, {150, 75, 37, 255}},
        {LAYER_BLEND_SCREEN, rgba(128, 128, 128, 255), 1, true, {228, 178, 153, 255}},
        {LAYER_BLEND_ADD, rgba(100, 100, 100, 255), 1, true, {255, 200, 150, 255}}, // saturated
        {9, rgba(64, 32, 0, 128), 1, true, {164, 82, 25, 255}}, // unknown: Normal
        {LAYER_BLEND_NORMAL, black, 0.5f, true, {100, 50, 25, 255}},
        {LAYER_BLEND_NORMAL, black, 1.5f, true, {0, 0, 0, 255}},
        {LAYER_BLEND_NORMAL, black, 0.0f, true, {200, 100, 50, 255}},
        {LAYER_BLEND_NORMAL, black, 1.0f, false, {200, 100, 50, 255}},
    };
    for (const auto& c : cases) {
        document_free(&doc);
        ASSERT_NE(doc = document_new(SIDE, SIDE), nullptr);
        solid(rgba(200, 100, 50, 255));
        LAYER* top = solid(c.layer, c.blend);
        top->opacity = c.opacity;
        top->visible = c.visible;
        EXPECT_TRUE(rgba_near(pixel_at(flatten().get(), 3, 5), c.want))
            << "blend " << c.blend << " opacity " << c.opacity << " visible " << c.visible;
    }
}

TEST_F(CompositorTest, RegionComesFromItsOffsetAndLeavesTheCallersState) {
    LogCapture log(3);
    LAYER* layer = solid(rgba(255, 0, 0, 255), LAYER_BLEND_MULTIPLY, true); // red on white
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(layer->bitmap);
    al_put_pixel(1, 1, rgba(0, 0, 255, 255));
    BitmapPtr target(al_create_bitmap(4, 4), al_destroy_bitmap);
    al_set_target_bitmap(target.get());
    const int saved_flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP | ALLEGRO_NO_PRESERVE_TEXTURE);

    BitmapPtr corner = flatten(1, 1, 2, 2);
    BitmapPtr past = flatten(2, -2, SIDE, SIDE); // x 2..9, y -2..5
    EXPECT_TRUE(al_get_target_bitmap() == target.get() && default_blender());
    EXPECT_EQ(al_get_new_bitmap_flags(), ALLEGRO_MEMORY_BITMAP | ALLEGRO_NO_PRESERVE_TEXTURE);
    al_set_new_bitmap_flags(saved_flags);
    al_set_target_bitmap(previous);

    ASSERT_TRUE(corner && past);
    EXPECT_FALSE(al_get_bitmap_flags(past.get()) & ALLEGRO_MEMORY_BITMAP);
    EXPECT_TRUE(rgba_near(pixel_at(corner.get(), 0, 0), {0, 0, 255, 255}, 0));
    EXPECT_TRUE(rgba_near(pixel_at(past.get(), 1, 7), {255, 0, 0, 255}, 0));
    EXPECT_TRUE(rgba_near(pixel_at(past.get(), 1, 1), PAPER, 0)); // above the document
    EXPECT_TRUE(rgba_near(pixel_at(past.get(), 7, 4), PAPER, 0)); // right of it
    EXPECT_EQ(flatten(0, 0, 0, 5), nullptr);
}

TEST_F(CompositorTest, DrawGoesThroughTheViewClearsPendingLayersAndResetsState) {
    // Leftovers never cleared, on a hidden layer and on one at opacity 0.
    LAYER* hidden = solid(rgba(9, 9, 9, 9));
    LAYER* faded = solid(rgba(9, 9, 9, 9));
    hidden->needs_clear = faded->needs_clear = true;
    hidden->visible = false;
    faded->opacity = 0.0f;
    solid(rgba(255, 0, 0, 255), LAYER_BLEND_NORMAL, true);

    // Where the view puts the paper on screen is followed by the end-to-end screen test.
    BitmapPtr screen(al_create_bitmap(32, 32), al_destroy_bitmap);
    TargetBitmapScope target(screen.get());
    ALLEGRO_TRANSFORM skewed, identity;
    al_build_transform(&skewed, 3, 4, 2, 2, 0.5f);
    al_use_transform(&skewed);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
    VIEW view;
    view_init(&view);
    compositor_draw(doc, &view);
    al_identity_transform(&identity);
    EXPECT_TRUE(default_blender());
    EXPECT_EQ(memcmp(al_get_current_transform(), &identity, sizeof identity), 0);
    for (LAYER* cleared : {hidden, faded})
        EXPECT_TRUE(!cleared->needs_clear && pixel_rgba(cleared->bitmap, 2, 2) == 0);
    EXPECT_TRUE(rgba_near(pixel_at(screen.get(), 1, 1), {255, 0, 0, 255}, 0));
}

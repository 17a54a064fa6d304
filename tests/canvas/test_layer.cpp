#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/layer.h"
#include "canvas_test_util.h"

TEST(Layer, NewLayerHasTransparentBackupAndLeavesNewBitmapFlagsAlone) {
    LAYER* layer = nullptr;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP | ALLEGRO_NO_PRESERVE_TEXTURE);
        layer = layer_new("Ink", 3, 2);
        EXPECT_EQ(al_get_new_bitmap_flags(), ALLEGRO_MEMORY_BITMAP | ALLEGRO_NO_PRESERVE_TEXTURE);
    }
    ASSERT_NE(layer, nullptr);
    EXPECT_TRUE(layer->needs_clear);
    EXPECT_FALSE(al_get_bitmap_flags(layer->bitmap) & ALLEGRO_MEMORY_BITMAP);
    EXPECT_EQ(read_image(layer->backup), Image(3, 2));
    layer_free(&layer);
}

TEST(Layer, SetNameTrimsSpacesAndKeepsTheOldNameWhenNothingRemains) {
    LAYER* layer = layer_new("Old", 2, 2);
    ASSERT_NE(layer, nullptr);
    auto name = [&] { return std::string(layer->name->data, layer->name->used); };
    EXPECT_EQ(layer_set_name(layer, "  Sky  "), 1);
    EXPECT_EQ(name(), "Sky");
    for (const char* nothing : {"", "    ", static_cast<const char*>(nullptr)})
        EXPECT_EQ(layer_set_name(layer, nothing), 0);
    EXPECT_EQ(name(), "Sky");
    EXPECT_EQ(layer_set_name(layer, " a  b\t "), 1); // only spaces, only at the ends
    EXPECT_EQ(name(), "a  b\t");
    layer_free(&layer);
}

// Pixels handed to a layer come back through the rectangle reader, which fills whatever lies
// outside the layer with transparency, on any side.
TEST(Layer, TakenPixelsReadBackThroughRectanglesThatCrossTheEdges) {
    LAYER* layer = layer_new("Ink", 5, 4);
    ASSERT_NE(layer, nullptr);
    ALLEGRO_BITMAP* pixels = nullptr;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        pixels = al_create_bitmap(5, 4);
    }
    ASSERT_NE(pixels, nullptr);
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap(pixels, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 5; x++)
            reinterpret_cast<uint32_t*>(static_cast<char*>(region->data) + y * region->pitch)[x] =
                0xff000000u | static_cast<uint32_t>(y * 16 + x);
    al_unlock_bitmap(pixels);
    const uint64_t stamp = layer_tile_stamp(layer, 0, 0);
    ASSERT_EQ(layer_take_pixels(layer, pixels), 1);
    EXPECT_GT(layer_tile_stamp(layer, 0, 0), stamp);
    EXPECT_EQ(layer_committed_pixel(layer, 4, 3), 0xff000034u);

    struct Case { int x, y, w, h; };
    for (const Case c : {Case{0, 0, 5, 4}, Case{-2, -1, 4, 3}, Case{3, 2, 4, 4}, Case{6, 0, 2, 2},
                         Case{-3, -3, 11, 10}}) {
        std::vector<uint32_t> out(static_cast<size_t>(c.h * (c.w + 1)), 0xdeadbeefu);
        ASSERT_EQ(layer_read_committed(layer, c.x, c.y, c.w, c.h, out.data(), c.w + 1), 1);
        for (int y = 0; y < c.h; y++)
            for (int x = 0; x < c.w; x++)
                EXPECT_EQ(out[static_cast<size_t>(y * (c.w + 1) + x)],
                          layer_committed_pixel(layer, c.x + x, c.y + y))
                    << c.x << "," << c.y << " +" << x << "," << y;
    }
    layer_free(&layer);
}

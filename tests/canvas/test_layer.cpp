#include <gtest/gtest.h>

#include <string>

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

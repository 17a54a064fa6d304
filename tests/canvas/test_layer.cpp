#include <gtest/gtest.h>

#include <string>

#include "canvas/layer.h"
#include "canvas_test_util.h"

TEST(Layer, NewLayerHasTransparentBackupAndLeavesNewBitmapFlagsAlone) {
    LogCapture log(3);
    EXPECT_EQ(layer_new("x", 5, 0), nullptr);
    EXPECT_TRUE(log.contains("bad layer size 5x0"));

    const int saved_flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP | ALLEGRO_NO_PRESERVE_TEXTURE);
    LAYER* layer = layer_new("Ink", 3, 2);
    EXPECT_EQ(al_get_new_bitmap_flags(), ALLEGRO_MEMORY_BITMAP | ALLEGRO_NO_PRESERVE_TEXTURE);
    al_set_new_bitmap_flags(saved_flags);
    ASSERT_NE(layer, nullptr);
    EXPECT_TRUE(layer->needs_clear);
    EXPECT_FALSE(al_get_bitmap_flags(layer->bitmap) & ALLEGRO_MEMORY_BITMAP);
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(pixel_rgba(layer->backup, i % 3, i / 3), 0u);
    layer_free(&layer);
    EXPECT_EQ(layer, nullptr);
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

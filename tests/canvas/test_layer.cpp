#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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
    EXPECT_EQ(committed_image(layer), Image(3, 2));
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

namespace {

// A layer of 600 x 300: three columns of tiles (the last 88 wide) and two rows (the last 44
// high), with its working bitmap cleared.
struct TiledLayer : ::testing::Test {
    LAYER* layer = nullptr;
    void SetUp() override {
        ASSERT_NE(layer = layer_new("Ink", 600, 300), nullptr);
        fill_bitmap(layer->bitmap, al_map_rgba(0, 0, 0, 0));
        layer->needs_clear = false;
    }
    void TearDown() override {
        layer_fail_tile_allocation(0);
        layer_free(&layer);
    }
    // The stored tiles as "col,row" in row-major order.
    std::string stored() const {
        std::string out;
        for (int row = 0; row < layer->tiles_y; row++)
            for (int col = 0; col < layer->tiles_x; col++)
                if (layer_committed_tile(layer, col, row))
                    out += (out.empty() ? "" : " ") + std::to_string(col) + "," +
                           std::to_string(row);
        return out;
    }
};

} // namespace

// A tile is stored once a visible pixel reaches it and freed once it is wholly transparent
// again; every write stamps the tiles it covers, and the memory report follows.
TEST_F(TiledLayer, TilesAreStoredOnFirstVisibleWriteAndFreedWhenClearAgain) {
    const uint32_t ink = packed(10, 20, 30, 255);
    struct Step {
        const char* what;
        int x, y, w, h;
        uint32_t pixel;
        const char* tiles; // stored afterwards
    };
    const Step steps[] = {
        {"transparent pixels store nothing", 0, 0, 600, 300, 0, ""},
        {"one pixel stores its tile", 300, 10, 1, 1, ink, "1,0"},
        {"a box over four tiles", 200, 200, 112, 80, ink, "1,0 0,0 0,1 1,1"},
        {"the narrow bottom-right tile", 590, 299, 10, 1, ink, "1,0 0,0 0,1 1,1 2,1"},
        {"clearing part of a tile keeps it", 200, 200, 28, 28, 0, "1,0 0,0 0,1 1,1 2,1"},
        {"clearing the rest frees what is clear", 0, 0, 512, 256, 0, "0,1 1,1 2,1"},
        {"a write past the edges is clipped", -50, -50, 2000, 2000, 0, ""},
    };
    auto sorted = [](std::string s) {
        std::vector<std::string> parts;
        for (size_t at = 0; at < s.size();) {
            const size_t end = std::min(s.find(' ', at), s.size());
            parts.push_back(s.substr(at, end - at));
            at = end + 1;
        }
        std::sort(parts.begin(), parts.end(), [](const std::string& a, const std::string& b) {
            return std::make_pair(a[a.size() - 1], a) < std::make_pair(b[b.size() - 1], b);
        });
        std::string out;
        for (const auto& p : parts) out += (out.empty() ? "" : " ") + p;
        return out;
    };
    Image want(600, 300);
    for (const Step& s : steps) {
        const uint64_t stamp = layer_tile_stamp(layer, 1, 0);
        Image block(s.w, s.h, s.pixel);
        ASSERT_EQ(layer_write_committed(layer, s.x, s.y, s.w, s.h, block.px.data(), s.w), 1)
            << s.what;
        for (int y = std::max(0, s.y); y < std::min(300, s.y + s.h); y++)
            for (int x = std::max(0, s.x); x < std::min(600, s.x + s.w); x++) want.at(x, y) = s.pixel;
        EXPECT_EQ(stored(), sorted(s.tiles)) << s.what;
        EXPECT_EQ(layer_committed_bytes(layer), layer->stored_tiles * LAYER_TILE_BYTES) << s.what;
        EXPECT_TRUE(committed_image(layer) == want) << s.what;
        const bool covers = s.x <= 511 && s.x + s.w > 256 && s.y <= 255 && s.y + s.h > 0;
        EXPECT_EQ(layer_tile_stamp(layer, 1, 0) != stamp, covers) << s.what;
    }
}

// The working bitmap is rebuilt from the stored tiles alone: whatever it held is replaced, and
// the tiles nobody painted come back transparent. It is not kept by the driver a second time.
TEST_F(TiledLayer, RestoreRebuildsTheWorkingBitmapFromStoredTiles) {
    Image ink(40, 30, packed(1, 2, 3, 255));
    write_committed(layer, ink, 240, 250); // four tiles
    fill_bitmap(layer->bitmap, al_map_rgba(9, 9, 9, 9));
    ASSERT_EQ(layer_restore(layer), 1);
    EXPECT_FALSE(layer->needs_clear);
    EXPECT_TRUE(al_get_bitmap_flags(layer->bitmap) & ALLEGRO_NO_PRESERVE_TEXTURE);
    EXPECT_TRUE(read_image(layer->bitmap) == committed_image(layer));

    // Nothing stored: a blank bitmap for the compositor to clear.
    write_committed(layer, Image(600, 300));
    ASSERT_EQ(layer_restore(layer), 1);
    EXPECT_TRUE(layer->needs_clear && layer->stored_tiles == 0u);
}

// Memory for a tile running out leaves the layer exactly as it was, whichever allocation fails.
TEST_F(TiledLayer, RefusedTileAllocationLeavesTheLayerAsItWas) {
    write_committed(layer, Image(10, 10, packed(5, 5, 5, 255)), 0, 0);
    const Image before = committed_image(layer);
    const std::string tiles = stored();
    ALLEGRO_BITMAP* picture = nullptr;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        picture = al_create_bitmap(600, 300);
    }
    ASSERT_NE(picture, nullptr);
    {
        TargetBitmapScope target(picture);
        al_clear_to_color(al_map_rgba(0, 0, 200, 255));
    }
    struct Case {
        const char* what;
        int fail_at;
        std::function<int()> run;
    };
    const Image wide(600, 300, packed(7, 7, 7, 255));
    const std::vector<Case> cases = {
        {"a write, first new tile", 1,
         [&] { return layer_write_committed(layer, 0, 0, 600, 300, wide.px.data(), 600); }},
        {"a write, fourth new tile", 4,
         [&] { return layer_write_committed(layer, 0, 0, 600, 300, wide.px.data(), 600); }},
        {"a reservation", 2, [&] { return layer_reserve_tiles(layer, 0, 0, 600, 300); }},
        {"a backup of the working bitmap", 3, [&] {
             fill_bitmap(layer->bitmap, al_map_rgba(0, 200, 0, 255));
             return layer_backup(layer);
         }},
        {"taking a picture", 5, [&] {
             NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
             return layer_take_pixels(layer, al_clone_bitmap(picture));
         }},
    };
    for (const Case& c : cases) {
        layer_fail_tile_allocation(c.fail_at);
        EXPECT_EQ(c.run(), 0) << c.what;
        layer_fail_tile_allocation(0);
        EXPECT_TRUE(committed_image(layer) == before) << c.what;
        EXPECT_EQ(stored(), tiles) << c.what;
        EXPECT_EQ(layer_committed_bytes(layer), layer->stored_tiles * LAYER_TILE_BYTES);
    }
    // With memory back, the same picture goes in whole.
    ASSERT_EQ(layer_take_pixels(layer, picture), 1);
    EXPECT_EQ(layer->stored_tiles, 6u);
    EXPECT_EQ(layer_committed_pixel(layer, 599, 299), packed(0, 0, 200, 255));
}

#include <gtest/gtest.h>

#include <allegro5/allegro_image.h>

#include <chrono>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/document.h"
#include "canvas/picture.h"
#include "canvas_test_util.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

void put_be32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

Bytes png_header(uint32_t w, uint32_t h) {
    Bytes b = {137, 80, 78, 71, 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    b.resize(33, 0);
    put_be32(b, 16, w);
    put_be32(b, 20, h);
    return b;
}

// A JPEG start: an APP0 segment to skip, then a start-of-frame of the given marker.
Bytes jpeg_header(unsigned char sof, int w, int h) {
    Bytes b = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x06, 'J', 'F', 'I', 'F', 0xFF, sof, 0x00, 0x0B, 8,
               static_cast<unsigned char>(h >> 8), static_cast<unsigned char>(h),
               static_cast<unsigned char>(w >> 8), static_cast<unsigned char>(w), 3};
    return b;
}

Bytes bmp_header(int32_t w, int32_t h) {
    Bytes b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    b[14] = 40;
    for (int i = 0; i < 4; i++) {
        b[18 + i] = static_cast<unsigned char>(static_cast<uint32_t>(w) >> (8 * i));
        b[22 + i] = static_cast<unsigned char>(static_cast<uint32_t>(h) >> (8 * i));
    }
    return b;
}

Bytes webp_header(const char* chunk, const Bytes& body) {
    Bytes b(40, 0);
    memcpy(b.data(), "RIFF", 4);
    memcpy(b.data() + 8, "WEBPVP8", 7);
    b[15] = static_cast<unsigned char>(chunk[3]);
    for (size_t i = 0; i < body.size(); i++) b[20 + i] = body[i];
    return b;
}

Bytes tga_header(int type, int depth, int w, int h) {
    Bytes b(18, 0);
    b[2] = static_cast<unsigned char>(type);
    b[12] = static_cast<unsigned char>(w);
    b[13] = static_cast<unsigned char>(w >> 8);
    b[14] = static_cast<unsigned char>(h);
    b[15] = static_cast<unsigned char>(h >> 8);
    b[16] = static_cast<unsigned char>(depth);
    return b;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cut_short(Bytes b, size_t size) {
    b.resize(size);
    return b;
}

TEST(Picture, ProbeKnowsKindAndSizeFromTheHeader) {
    struct Case {
        const char* what;
        Bytes bytes;
        int kind, w, h;
    };
    const Case cases[] = {
        {"png", png_header(640, 480), PICTURE_PNG, 640, 480},
        {"png 1x100000", png_header(1, 100000), PICTURE_PNG, 1, 100000},
        {"png of width 0", png_header(0, 5), PICTURE_NONE, 0, 0},
        {"png cut short", cut_short(png_header(4, 4), 23), PICTURE_NONE, 0, 0},
        {"png width past int", png_header(0x80000000u, 4), PICTURE_NONE, 0, 0},
        {"baseline jpeg", jpeg_header(0xC0, 800, 600), PICTURE_JPEG, 800, 600},
        {"progressive jpeg", jpeg_header(0xC2, 3, 70000 & 0xFFFF), PICTURE_JPEG, 3, 70000 & 0xFFFF},
        // 0xC4 is a table, not a frame: the size is not there.
        {"jpeg without a frame", jpeg_header(0xC4, 8, 8), PICTURE_NONE, 0, 0},
        {"bmp", bmp_header(31, 17), PICTURE_BMP, 31, 17},
        {"bmp top-down", bmp_header(31, -17), PICTURE_BMP, 31, 17},
        {"bmp of negative width", bmp_header(-3, 17), PICTURE_NONE, 0, 0},
        {"lossy webp", webp_header("VP8 ", {0, 0, 0, 0x9D, 0x01, 0x2A, 0x40, 0x01, 0xF0, 0x00}),
         PICTURE_WEBP, 320, 240},
        // 14 bits of width - 1 (99), 14 of height - 1 (49).
        {"lossless webp", webp_header("VP8L", {0x2F, 0x63, 0x40, 0x0C, 0x00}), PICTURE_WEBP, 100, 50},
        {"extended webp", webp_header("VP8X", {0, 0, 0, 0, 0xFF, 0x0F, 0x00, 0x7F, 0x00, 0x00}),
         PICTURE_WEBP, 4096, 128},
        {"tga", tga_header(2, 32, 300, 2), PICTURE_TGA, 300, 2},
        {"tga of a type that does not exist", tga_header(5, 32, 300, 2), PICTURE_NONE, 0, 0},
        {"tga of an odd depth", tga_header(2, 12, 300, 2), PICTURE_NONE, 0, 0},
        {"text named like a picture", text("hello, this is not a picture at all\n"), PICTURE_NONE, 0, 0},
        {"document", text("TVL3\x40\0\0\0\x40\0\0\0\0\0\0\0\0\0\0\0"), PICTURE_NONE, 0, 0},
        {"nothing", Bytes{}, PICTURE_NONE, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PICTURE_INFO info{};
        EXPECT_EQ(picture_probe(c.bytes.data(), c.bytes.size(), &info), c.kind != PICTURE_NONE);
        EXPECT_EQ(info.kind, c.kind);
        EXPECT_EQ(info.width, c.w);
        EXPECT_EQ(info.height, c.h);
    }
}

TEST(Picture, FitKeepsProportionsWithinTheLimits) {
    struct Case {
        int w, h, max_w, max_h, want_w, want_h, scaled;
    };
    const Case cases[] = {
        {300, 200, 16384, 16384, 300, 200, 0},
        {16384, 16384, 16384, 16384, 16384, 16384, 0},
        {16385, 16384, 16384, 16384, 16384, 16383, 1},
        {20000, 300, 16384, 16384, 16384, 246, 1},
        {1, 100000, 16384, 16384, 1, 16384, 1},
        {100000, 1, 16384, 16384, 16384, 1, 1},
        {4000, 3000, 100, 100, 100, 75, 1},
        {500, 500, 64, 128, 64, 64, 1},       // the tighter limit decides
        {1000, 10, 4096, 2048, 1000, 10, 0},  // a canvas wider than tall still takes it whole
        {300, 3000, 4096, 2048, 205, 2048, 1},
        {0, 0, 10, 10, 1, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " in " << c.max_w << "x" << c.max_h);
        int w = 0, h = 0;
        EXPECT_EQ(picture_fit(c.w, c.h, c.max_w, c.max_h, &w, &h), c.scaled);
        EXPECT_EQ(w, c.want_w);
        EXPECT_EQ(h, c.want_h);
    }
}

// A picture file written by the image addon: left half opaque red, right half half-transparent
// blue (0, 0, 128, 128 in the file, 0, 0, 64, 128 once premultiplied as the program keeps it).
std::string write_picture(const ScratchDir& dir, const char* name, int w, int h) {
    ALLEGRO_BITMAP* bitmap = nullptr;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        bitmap = al_create_bitmap(w, h);
    }
    {
        TargetBitmapScope target(bitmap);
        al_clear_to_color(al_map_rgba(255, 0, 0, 255));
        BlenderScope blender;
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
        ALLEGRO_LOCKED_REGION* r = al_lock_bitmap(bitmap, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_READWRITE);
        for (int y = 0; y < h; y++)
            for (int x = w / 2; x < w; x++) {
                auto* p = static_cast<unsigned char*>(r->data) + y * r->pitch + x * 4;
                p[0] = 0, p[1] = 0, p[2] = 128, p[3] = 128;
            }
        al_unlock_bitmap(bitmap);
    }
    const std::string path = dir.file(name);
    EXPECT_TRUE(al_save_bitmap(path.c_str(), bitmap)) << path;
    al_destroy_bitmap(bitmap);
    return path;
}

TEST(Picture, EveryKindOpensAsOneLayerOfItsSize) {
    ScratchDir dir;
    struct Case {
        const char* name;
        bool alpha;     // the format keeps transparency
        int tolerance;  // lossy formats come back near
    };
    const Case cases[] = {{"a.png", true, 0}, {"a.tga", true, 0}, {"a.bmp", false, 0}, {"a.jpg", false, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write_picture(dir, c.name, 40, 30);
        int error = -1;
        PICTURE_INFO info{};
        DOCUMENT* doc = document_open_file(path.c_str(), 16384, &error, &info);
        ASSERT_NE(doc, nullptr);
        EXPECT_EQ(error, PICTURE_OK);
        EXPECT_EQ(doc->width, 40);
        EXPECT_EQ(doc->height, 30);
        EXPECT_EQ(info.width, 40);
        ASSERT_EQ(document_layer_count(doc), 1u);
        LAYER* layer = doc->active_layer;
        EXPECT_TRUE(rgba_near(committed_at(layer, 3, 3), {255, 0, 0, 255}, c.tolerance));
        EXPECT_TRUE(rgba_near(pixel_at(layer->bitmap, 3, 3), {255, 0, 0, 255}, c.tolerance));
        const Rgba right = c.alpha ? Rgba{0, 0, 64, 128} : Rgba{0, 0, 128, 255};
        EXPECT_TRUE(rgba_near(committed_at(layer, 35, 20), right, c.tolerance + 1));
        document_free(&doc);
    }
}

TEST(Picture, LargerThanTheLimitIsScaledByAreaAverage) {
    ScratchDir dir;
    const std::string path = write_picture(dir, "wide.png", 400, 100);
    int error = -1;
    PICTURE_INFO info{};
    DOCUMENT* doc = document_from_picture(path.c_str(), 100, &error, &info);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->width, 100);
    EXPECT_EQ(doc->height, 25);
    EXPECT_EQ(info.width, 400);
    EXPECT_EQ(info.height, 100);
    LAYER* layer = doc->active_layer;
    EXPECT_TRUE(rgba_near(committed_at(layer, 10, 10), {255, 0, 0, 255}, 0));
    EXPECT_TRUE(rgba_near(committed_at(layer, 90, 10), {0, 0, 64, 128}, 0));
    document_free(&doc);

    // Three columns, red, red | blue, blue: the middle one is the average of what it covers,
    // in premultiplied values, so the half-transparent blue does not darken the red.
    const std::string odd = write_picture(dir, "odd.png", 6, 2);
    ALLEGRO_BITMAP* fitted = picture_load_fitted(odd.c_str(), 3, 3, &error, &info);
    ASSERT_NE(fitted, nullptr);
    EXPECT_EQ(al_get_bitmap_width(fitted), 3);
    EXPECT_EQ(al_get_bitmap_height(fitted), 1);
    EXPECT_TRUE(rgba_near(pixel_at(fitted, 0, 0), {255, 0, 0, 255}, 0));
    EXPECT_TRUE(rgba_near(pixel_at(fitted, 1, 0), {128, 0, 32, 192}, 0));
    EXPECT_TRUE(rgba_near(pixel_at(fitted, 2, 0), {0, 0, 64, 128}, 0));
    al_destroy_bitmap(fitted);
}

TEST(Picture, WhatCannotBeOpenedSaysWhyAndAllocatesNothing) {
    ScratchDir dir;
    write_file(dir.file("text.jpg"), "this is text, named like a picture\n");
    // A real header that claims far more pixels than the program holds, and nothing behind it.
    Bytes huge = png_header(100000, 100000);
    write_file(dir.file("huge.png"), std::string(huge.begin(), huge.end()));
    Bytes cut = png_header(50, 50);
    cut.resize(200, 0x55);
    write_file(dir.file("damaged.png"), std::string(cut.begin(), cut.end()));
    write_file(dir.file("damaged.tvl"), std::string("TVL3\x40\0\0\0", 8));
    ASSERT_EQ(mkfifo(dir.file("fifo.png").c_str(), 0600), 0);
    struct Case {
        const char* name;
        int error;
        const char* log;
    };
    const Case cases[] = {
        {"text.jpg", PICTURE_NOT_PICTURE, "is not a picture"},
        {"huge.png", PICTURE_TOO_LARGE, "is 100000x100000, too large to open"},
        {"damaged.png", PICTURE_UNDECODABLE, "could not decode the picture"},
        {"damaged.tvl", PICTURE_BAD_DOCUMENT, "not a TVL document"},
        {"fifo.png", PICTURE_UNREADABLE, "is not a regular file"},
        {"missing.png", PICTURE_MISSING, "does not exist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(3);
        int error = -1;
        const auto start = std::chrono::steady_clock::now();
        DOCUMENT* doc = document_open_file(dir.file(c.name).c_str(), 16384, &error, nullptr);
        EXPECT_EQ(doc, nullptr);
        EXPECT_EQ(error, c.error) << picture_error_text(error);
        EXPECT_TRUE(log.contains(c.log)) << log.text();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        document_free(&doc);
    }
}

TEST(Picture, DocumentsStillOpenAsDocuments) {
    ScratchDir dir;
    DOCUMENT* doc = document_new(70, 50);
    ASSERT_NE(doc, nullptr);
    document_add_layer(doc, "one");
    document_add_layer(doc, "two");
    const std::string path = dir.file("d.tvl");
    ASSERT_EQ(document_save(doc, path.c_str()), 1);
    document_free(&doc);
    int error = -1;
    PICTURE_INFO info{};
    doc = document_open_file(path.c_str(), 16, &error, &info);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(info.kind, PICTURE_NONE);
    // A document is never scaled: its size is its own whatever the picture limit.
    EXPECT_EQ(doc->width, 70);
    EXPECT_EQ(document_layer_count(doc), 2u);
    document_free(&doc);
}

} // namespace

// Scaling a layer tile by tile gives what scaling its whole committed picture gives, for sizes
// whose boxes do not fall on tile edges, with tiles stored, absent and partly painted; a
// document read for a thumbnail it fits holds the same tiles.
TEST(Picture, LayerScaledFromTilesEqualsTheWholePictureScaled) {
    ScratchDir dir;
    DOCUMENT* doc = document_new(700, 530);
    LAYER* layer = doc ? document_add_layer(doc, "Ink") : nullptr;
    ASSERT_NE(layer, nullptr);
    Image patch(300, 90);
    for (int y = 0; y < patch.h; y++)
        for (int x = 0; x < patch.w; x++)
            patch.at(x, y) = static_cast<uint32_t>((x * 7 + y * 3) % 200) * 0x01010101u | 0x40000000u;
    write_committed(layer, patch, 200, 240);
    write_committed(layer, Image(3, 2, 0xff102030u), 697, 528); // the corner tile, cut by the edge
    const std::string path = dir.path() + "/tiles.tvl";
    ASSERT_EQ(document_save(doc, path.c_str()), 1);

    struct Size { int w, h; };
    for (const Size size : {Size{256, 194}, Size{7, 5}, Size{700, 530}, Size{1, 1}, Size{333, 17}}) {
        SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h));
        ALLEGRO_BITMAP* whole = layer_committed_bitmap(layer);
        ALLEGRO_BITMAP* expected = whole ? picture_scale_down(whole, size.w, size.h) : nullptr;
        ALLEGRO_BITMAP* from_tiles = picture_scale_down_layer(layer, size.w, size.h);
        ASSERT_NE(expected, nullptr);
        ASSERT_NE(from_tiles, nullptr);
        EXPECT_EQ(read_image(from_tiles), read_image(expected));
        for (ALLEGRO_BITMAP* b : {whole, expected, from_tiles}) al_destroy_bitmap(b);
    }
    EXPECT_EQ(picture_scale_down_layer(layer, 701, 10), nullptr); // never scales up

    // Read for a thumbnail, which fits: at its size, tile for tile.
    int error = -1;
    DOCUMENT* read = document_load_reduced(path.c_str(), 700, 530, &error);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(error, DOCUMENT_LOAD_OK);
    EXPECT_EQ(committed_image(read->active_layer), committed_image(layer));
    EXPECT_EQ(read->active_layer->stored_tiles, layer->stored_tiles);
    document_free(&read);
    document_free(&doc);
}

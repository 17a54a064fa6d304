// Small helpers shared by the canvas tests.
#pragma once

#include <allegro5/allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "canvas/document.h"
#include "test_support.h"

// Fills a bitmap with one colour, given as stored (premultiplied).
inline void fill_bitmap(ALLEGRO_BITMAP* bitmap, ALLEGRO_COLOR colour) {
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(bitmap);
    al_clear_to_color(colour);
    al_set_target_bitmap(previous);
}

// Hardware blending rounds 8-bit channels its own way; a step or two either side is a match.
inline ::testing::AssertionResult rgba_near(Rgba got, Rgba want, int tolerance = 2) {
    const int d[] = {got.r - want.r, got.g - want.g, got.b - want.b, got.a - want.a};
    for (int v : d)
        if (std::abs(v) > tolerance)
            return ::testing::AssertionFailure()
                   << "got " << got.r << "," << got.g << "," << got.b << "," << got.a;
    return ::testing::AssertionSuccess();
}

// A pixel as a locked bitmap stores it: bytes R, G, B, A in memory.
inline uint32_t packed(int r, int g, int b, int a) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                                    static_cast<unsigned char>(b), static_cast<unsigned char>(a)};
    uint32_t p;
    memcpy(&p, bytes, 4);
    return p;
}

// Pixels as stored, read from or written to a bitmap with one lock.
struct Image {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    Image() = default;
    Image(int width, int height, uint32_t c = 0)
        : w(width), h(height), px(static_cast<size_t>(width) * height, c) {}
    uint32_t& at(int x, int y) { return px[static_cast<size_t>(y) * w + x]; }
    uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
    int alpha(int x, int y) const { return static_cast<int>(at(x, y) >> 24); }
    int max_alpha() const {
        int m = 0;
        for (uint32_t p : px)
            m = std::max(m, static_cast<int>(p >> 24));
        return m;
    }
    size_t count(uint32_t c) const {
        return static_cast<size_t>(std::count(px.begin(), px.end(), c));
    }
    bool operator==(const Image& o) const = default;
};

// The region from (x, y) of size w x h (the whole bitmap by default); empty when it cannot be
// locked.
inline Image read_image(ALLEGRO_BITMAP* bitmap, int x = 0, int y = 0, int w = -1, int h = -1) {
    if (w < 0) w = al_get_bitmap_width(bitmap) - x;
    if (h < 0) h = al_get_bitmap_height(bitmap) - y;
    Image image(w, h);
    ALLEGRO_LOCKED_REGION* r = al_lock_bitmap_region(
        bitmap, x, y, w, h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!r) return Image();
    for (int row = 0; row < h; row++)
        memcpy(&image.at(0, row), static_cast<const char*>(r->data) + row * r->pitch,
               static_cast<size_t>(w) * 4);
    al_unlock_bitmap(bitmap);
    return image;
}

// Writes the image into the bitmap with its top-left pixel at (x, y), as a tool's pixel work
// would.
inline void write_image(ALLEGRO_BITMAP* bitmap, const Image& image, int x = 0, int y = 0) {
    ALLEGRO_LOCKED_REGION* r = al_lock_bitmap_region(
        bitmap, x, y, image.w, image.h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    ASSERT_NE(r, nullptr);
    for (int row = 0; row < image.h; row++)
        memcpy(static_cast<char*>(r->data) + row * r->pitch,
               &image.px[static_cast<size_t>(row) * image.w], static_cast<size_t>(image.w) * 4);
    al_unlock_bitmap(bitmap);
}

// Adds a layer whose working bitmap is cleared, as the compositor leaves a new one.
inline LAYER* add_clear_layer(DOCUMENT* doc, const char* name) {
    LAYER* layer = document_add_layer(doc, name);
    if (!layer) return nullptr;
    fill_bitmap(layer->bitmap, al_map_rgba(0, 0, 0, 0));
    layer->needs_clear = false;
    return layer;
}

// The committed pixels of a layer: the region from (x, y) of size w x h (the whole layer by
// default).
inline Image committed_image(const LAYER* layer, int x = 0, int y = 0, int w = -1, int h = -1) {
    if (w < 0) w = layer->width - x;
    if (h < 0) h = layer->height - y;
    Image image(w, h);
    if (!layer_read_committed(layer, x, y, w, h, image.px.data(), static_cast<size_t>(w)))
        return Image();
    return image;
}

// One committed pixel as stored.
inline Rgba committed_at(const LAYER* layer, int x, int y) {
    const uint32_t p = layer_committed_pixel(layer, x, y);
    return Rgba{static_cast<int>(p & 255), static_cast<int>(p >> 8 & 255),
                static_cast<int>(p >> 16 & 255), static_cast<int>(p >> 24)};
}

// Writes the image into the layer's committed pixels with its top-left pixel at (x, y).
inline void write_committed(LAYER* layer, const Image& image, int x = 0, int y = 0) {
    ASSERT_EQ(layer_write_committed(layer, x, y, image.w, image.h, image.px.data(), image.w), 1);
}

// Sets every committed pixel of the layer to one colour, given as stored (premultiplied).
inline void fill_committed(LAYER* layer, ALLEGRO_COLOR colour) {
    unsigned char r, g, b, a;
    al_unmap_rgba(colour, &r, &g, &b, &a);
    write_committed(layer, Image(layer->width, layer->height, packed(r, g, b, a)));
}

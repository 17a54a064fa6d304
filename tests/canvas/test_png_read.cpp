#include <gtest/gtest.h>

#include <allegro5/allegro_memfile.h>
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/png_read.h"
#include "canvas_test_util.h"

namespace {

void be32(std::string& out, uint32_t v) {
    for (int i = 3; i >= 0; i--) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void chunk(std::string& out, const char* type, const std::string& data) {
    be32(out, static_cast<uint32_t>(data.size()));
    const std::string body = std::string(type, 4) + data;
    out += body;
    be32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

int paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// A PNG of straight pixels (bpp 4: RGBA, 3: RGB) whose rows use filter `filter` (5 cycles
// through all of them), split over two IDAT chunks. `rows` may claim fewer rows than the data
// has, and `depth`/`colour` other kinds.
std::string make_png(int w, int h, const std::vector<unsigned char>& pixels, int bpp, int filter,
                     int claim_h = -1, int depth = 8) {
    std::string raw;
    const size_t stride = static_cast<size_t>(w) * bpp;
    for (int y = 0; y < h; y++) {
        const int f = filter == 5 ? y % 5 : filter;
        raw.push_back(static_cast<char>(f));
        for (size_t i = 0; i < stride; i++) {
            const int x = pixels[y * stride + i];
            const int a = i >= static_cast<size_t>(bpp) ? pixels[y * stride + i - bpp] : 0;
            const int b = y > 0 ? pixels[(y - 1) * stride + i] : 0;
            const int c = y > 0 && i >= static_cast<size_t>(bpp) ? pixels[(y - 1) * stride + i - bpp] : 0;
            const int pred[] = {0, a, b, (a + b) / 2, paeth(a, b, c)};
            raw.push_back(static_cast<char>((x - pred[f]) & 0xFF));
        }
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string z(size, '\0');
    compress2(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
              static_cast<uLong>(raw.size()), 6);
    z.resize(size);
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    be32(ihdr, static_cast<uint32_t>(w));
    be32(ihdr, static_cast<uint32_t>(claim_h < 0 ? h : claim_h));
    ihdr += std::string{static_cast<char>(depth), static_cast<char>(bpp == 4 ? 6 : 2), 0, 0, 0};
    chunk(png, "IHDR", ihdr);
    chunk(png, "IDAT", z.substr(0, z.size() / 2));
    chunk(png, "IDAT", z.substr(z.size() / 2));
    chunk(png, "IEND", "");
    return png;
}

std::vector<unsigned char> noise(size_t n, unsigned seed) {
    std::vector<unsigned char> v(n);
    for (auto& b : v) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<unsigned char>(seed >> 16);
    }
    return v;
}

// What the image addon makes of the same bytes, premultiplied the same way.
Image reference(const std::string& png) {
    ALLEGRO_FILE* file = al_open_memfile(const_cast<char*>(png.data()), static_cast<int64_t>(png.size()), "r");
    ALLEGRO_BITMAP* bitmap;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        bitmap = al_load_bitmap_flags_f(file, ".png", ALLEGRO_NO_PREMULTIPLIED_ALPHA);
    }
    al_fclose(file);
    if (!bitmap) return Image();
    Image image = read_image(bitmap);
    al_destroy_bitmap(bitmap);
    for (uint32_t& p : image.px) {
        const uint32_t a = p >> 24;
        auto m = [a](uint32_t c) { return (c * a + 127) / 255; };
        p = m(p & 0xFF) | m((p >> 8) & 0xFF) << 8 | m((p >> 16) & 0xFF) << 16 | a << 24;
    }
    return image;
}

} // namespace

// Every filter, RGBA and RGB, odd sizes: the same pixels as the image addon gives.
TEST(PngRead, EveryFilterMatchesTheImageAddon) {
    for (int bpp : {4, 3})
        for (int filter = 0; filter <= 5; filter++) {
            SCOPED_TRACE("bpp " + std::to_string(bpp) + " filter " + std::to_string(filter));
            const int w = 13, h = 7;
            const std::string png = make_png(w, h, noise(static_cast<size_t>(w) * h * bpp, filter + bpp), bpp, filter);
            int status = -1;
            ALLEGRO_BITMAP* bitmap = png_read_premultiplied(reinterpret_cast<const unsigned char*>(png.data()),
                                                            png.size(), 64, &status);
            ASSERT_NE(bitmap, nullptr);
            EXPECT_EQ(status, PNG_READ_OK);
            EXPECT_EQ(read_image(bitmap), reference(png));
            al_destroy_bitmap(bitmap);
        }
}

// Damaged data is refused; nothing is allocated for a side past the limit. Image data that
// runs on past the last row is ignored, as every reader does.
TEST(PngRead, RefusesWhatItCannotRead) {
    const std::vector<unsigned char> px = noise(4 * 4 * 4, 9);
    const std::string good = make_png(4, 4, px, 4, 5);
    std::string bad_filter = make_png(4, 4, px, 4, 0);
    struct Case {
        const char* what;
        std::string png;
        int max_side;
        int status;
    };
    const Case cases[] = {
        {"truncated", good.substr(0, good.size() - 30), 64, PNG_READ_DAMAGED},
        {"more rows than claimed", make_png(4, 4, px, 4, 1, 3), 64, PNG_READ_OK},
        {"fewer rows than claimed", make_png(4, 4, px, 4, 1, 5), 64, PNG_READ_DAMAGED},
        {"past the largest side", good, 3, PNG_READ_DAMAGED},
        {"16 bits claimed over 8-bit data", make_png(2, 4, px, 4, 0, -1, 16), 64, PNG_READ_DAMAGED},
        {"not a PNG", std::string("GIF89a") + std::string(40, '\0'), 64, PNG_READ_DAMAGED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int status = -1;
        ALLEGRO_BITMAP* bitmap = png_read_premultiplied(reinterpret_cast<const unsigned char*>(c.png.data()),
                                                        c.png.size(), c.max_side, &status);
        EXPECT_EQ(bitmap != nullptr, c.status == PNG_READ_OK);
        if (bitmap) al_destroy_bitmap(bitmap);
        EXPECT_EQ(status, c.status);
    }
}

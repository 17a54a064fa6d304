#include "canvas/png_read.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/layer.h"
#include "q/q_common.h"
#include "q/q_log.h"

namespace {

uint32_t be32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p, pc = p > c ? p - c : c - p;
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes one row's filter in place; `prev` is the row above, unfiltered (zeros for the first).
bool unfilter(unsigned filter, unsigned char* row, const unsigned char* prev, size_t bytes, size_t bpp) {
    switch (filter) {
    case 0: return true;
    case 1:
        for (size_t i = bpp; i < bytes; i++) row[i] = static_cast<unsigned char>(row[i] + row[i - bpp]);
        return true;
    case 2:
        for (size_t i = 0; i < bytes; i++) row[i] = static_cast<unsigned char>(row[i] + prev[i]);
        return true;
    case 3:
        for (size_t i = 0; i < bytes; i++) {
            const int left = i >= bpp ? row[i - bpp] : 0;
            row[i] = static_cast<unsigned char>(row[i] + ((left + prev[i]) >> 1));
        }
        return true;
    case 4:
        for (size_t i = 0; i < bytes; i++) {
            const int left = i >= bpp ? row[i - bpp] : 0, up_left = i >= bpp ? prev[i - bpp] : 0;
            row[i] = static_cast<unsigned char>(row[i] + paeth(left, prev[i], up_left));
        }
        return true;
    default: return false;
    }
}

// Straight RGBA or RGB bytes to premultiplied pixels (bytes R, G, B, A in memory), rounding
// to nearest.
void premultiply_row(const unsigned char* src, uint32_t* dst, int width, size_t bpp) {
    for (int x = 0; x < width; x++, src += bpp) {
        const uint32_t a = bpp == 4 ? src[3] : 255;
        uint32_t r = src[0], g = src[1], b = src[2];
        if (a != 255) {
            r = (r * a + 127) / 255;
            g = (g * a + 127) / 255;
            b = (b * a + 127) / 255;
        }
        dst[x] = r | g << 8 | b << 16 | a << 24;
    }
}

struct Inflater {
    z_stream z{};
    bool open = false;
    ~Inflater() {
        if (open) inflateEnd(&z);
    }
};

} // namespace

ALLEGRO_BITMAP* png_read_premultiplied(const unsigned char* bytes, size_t size, int max_side, int* status) {
    int ignored = 0;
    if (!status) status = &ignored;
    *status = PNG_READ_DAMAGED;
    q_assert(bytes || size == 0, return nullptr);
    static const unsigned char SIG[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    if (size < 33 || memcmp(bytes, SIG, 8) != 0 || be32(bytes + 8) != 13 || memcmp(bytes + 12, "IHDR", 4) != 0)
        return nullptr;
    const uint32_t width = be32(bytes + 16), height = be32(bytes + 20);
    const unsigned depth = bytes[24], colour = bytes[25], interlace = bytes[28];
    if (width < 1 || height < 1 || width > static_cast<uint32_t>(max_side) || height > static_cast<uint32_t>(max_side))
        return nullptr;
    if (depth != 8 || (colour != 6 && colour != 2) || interlace != 0 || bytes[26] != 0 || bytes[27] != 0) {
        *status = PNG_READ_UNSUPPORTED;
        return nullptr;
    }
    const size_t bpp = colour == 6 ? 4 : 3;
    const size_t row_bytes = static_cast<size_t>(width) * bpp;
    std::vector<unsigned char> rows;
    Inflater inflater;
    if (inflateInit(&inflater.z) != Z_OK) {
        *status = PNG_READ_NO_MEMORY;
        return nullptr;
    }
    inflater.open = true;
    try {
        rows.assign(2 * (row_bytes + 1), 0);
    } catch (const std::bad_alloc&) {
        *status = PNG_READ_NO_MEMORY;
        return nullptr;
    }
    ALLEGRO_BITMAP* bitmap;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        bitmap = al_create_bitmap(static_cast<int>(width), static_cast<int>(height));
    }
    if (!bitmap) {
        *status = PNG_READ_NO_MEMORY;
        return nullptr;
    }
    ALLEGRO_LOCKED_REGION* region = al_lock_bitmap(bitmap, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY);
    if (!region) {
        al_destroy_bitmap(bitmap);
        *status = PNG_READ_NO_MEMORY;
        return nullptr;
    }
    // Two row buffers, each a filter byte and the row: the one being filled and the one above.
    unsigned char* current = rows.data();
    unsigned char* previous = rows.data() + row_bytes + 1;
    uint32_t y = 0;
    size_t filled = 0;
    bool damaged = false, ended = false;
    for (size_t at = 33; at + 12 <= size && !damaged && !ended;) {
        const uint32_t length = be32(bytes + at);
        if (length > size - at - 12) {
            damaged = true;
            break;
        }
        const unsigned char* type = bytes + at + 4;
        if (memcmp(type, "IEND", 4) == 0) break;
        if (memcmp(type, "IDAT", 4) == 0) {
            inflater.z.next_in = const_cast<Bytef*>(bytes + at + 8);
            inflater.z.avail_in = length;
            while (inflater.z.avail_in > 0 && !ended) {
                if (y == height) { // every row is in: only the stream's end may follow
                    unsigned char extra = 0;
                    inflater.z.next_out = &extra;
                    inflater.z.avail_out = 1;
                    const int z = inflate(&inflater.z, Z_NO_FLUSH);
                    damaged = inflater.z.avail_out == 0 || (z != Z_OK && z != Z_STREAM_END);
                    ended = z == Z_STREAM_END;
                    if (damaged || z != Z_STREAM_END) break;
                    continue;
                }
                inflater.z.next_out = current + filled;
                inflater.z.avail_out = static_cast<uInt>(row_bytes + 1 - filled);
                const int z = inflate(&inflater.z, Z_NO_FLUSH);
                if (z != Z_OK && z != Z_STREAM_END) {
                    damaged = true;
                    break;
                }
                filled = row_bytes + 1 - inflater.z.avail_out;
                if (filled == row_bytes + 1) {
                    if (!unfilter(current[0], current + 1, previous + 1, row_bytes, bpp)) {
                        damaged = true;
                        break;
                    }
                    premultiply_row(current + 1,
                                    reinterpret_cast<uint32_t*>(static_cast<char*>(region->data) +
                                                                static_cast<ptrdiff_t>(y) * region->pitch),
                                    static_cast<int>(width), bpp);
                    std::swap(current, previous);
                    filled = 0;
                    y++;
                }
                if (z == Z_STREAM_END) ended = true;
            }
        }
        at += static_cast<size_t>(length) + 12;
    }
    al_unlock_bitmap(bitmap);
    if (damaged || y != height) {
        al_destroy_bitmap(bitmap);
        *status = PNG_READ_DAMAGED;
        return nullptr;
    }
    *status = PNG_READ_OK;
    return bitmap;
}

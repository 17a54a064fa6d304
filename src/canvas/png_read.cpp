#include "canvas/png_read.h"

#include <png.h>

#include <cstdint>
#include <cstring>

#include "canvas/allegro_state.h"
#include "canvas/layer.h"
#include "q/q_common.h"
#include "q/q_log.h"

namespace {

// Straight alpha to premultiplied in place, rounding to nearest: the inverse of the PNG
// encoder's straight conversion, so a round trip stays within 1 per channel.
void premultiply_row(uint32_t* row, int width) {
    for (int x = 0; x < width; x++) {
        const uint32_t p = row[x], a = p >> 24;
        if (a == 255) continue;
        if (a == 0) {
            row[x] = 0;
            continue;
        }
        auto mul = [a](uint32_t c) { return (c * a + 127) / 255; };
        row[x] = mul(p & 0xFF) | mul((p >> 8) & 0xFF) << 8 | mul((p >> 16) & 0xFF) << 16 | a << 24;
    }
}

struct ImageGuard {
    png_image* image;
    ~ImageGuard() { png_image_free(image); }
};

} // namespace

ALLEGRO_BITMAP* png_read_premultiplied(const unsigned char* bytes, size_t size, int max_side, int* status) {
    int ignored = 0;
    if (!status) status = &ignored;
    *status = PNG_READ_DAMAGED;
    q_assert(bytes, return NULL);

    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ImageGuard guard{&image};
    if (!png_image_begin_read_from_memory(&image, bytes, size)) {
        q_log(4, "PNG refused: %s", image.message);
        return NULL;
    }
    // The header is all that has been read: a side past the limit costs nothing.
    if (image.width < 1 || image.height < 1 || image.width > static_cast<png_uint_32>(max_side) ||
        image.height > static_cast<png_uint_32>(max_side)) {
        q_log(4, "PNG of %ux%u is past the largest side %d", image.width, image.height, max_side);
        return NULL;
    }
    image.format = PNG_FORMAT_RGBA;

    ALLEGRO_BITMAP* bitmap = NULL;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        bitmap = al_create_bitmap(static_cast<int>(image.width), static_cast<int>(image.height));
    }
    ALLEGRO_LOCKED_REGION* region =
        bitmap ? al_lock_bitmap(bitmap, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY) : NULL;
    if (!region) {
        if (bitmap) al_destroy_bitmap(bitmap);
        q_log(3, "no memory for a PNG of %ux%u", image.width, image.height);
        *status = PNG_READ_NO_MEMORY;
        return NULL;
    }
    // libpng counts the stride in components, one byte each here: the lock's pitch in bytes
    // (negative for a bottom-up lock, which libpng takes as well).
    const png_int_32 stride = region->pitch;
    if (!png_image_finish_read(&image, NULL, region->data, stride, NULL)) {
        al_unlock_bitmap(bitmap);
        al_destroy_bitmap(bitmap);
        q_log(4, "PNG damaged: %s", image.message);
        return NULL;
    }
    for (png_uint_32 y = 0; y < image.height; y++)
        premultiply_row(reinterpret_cast<uint32_t*>(static_cast<char*>(region->data) +
                                                    static_cast<ptrdiff_t>(y) * region->pitch),
                        static_cast<int>(image.width));
    al_unlock_bitmap(bitmap);
    *status = PNG_READ_OK;
    return bitmap;
}

#include "canvas/layer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "canvas/allegro_state.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_log.h"

namespace {

const char* _layer_label(const LAYER* layer) {
    return (layer->name && layer->name->data) ? layer->name->data : "NULL";
}

void _layer_release(LAYER* layer) {
    if (layer->bitmap) al_destroy_bitmap(layer->bitmap);
    if (layer->backup) al_destroy_bitmap(layer->backup);
    if (layer->name) free_qstr(&layer->name);
    free(layer->tile_stamps);
    q_free(layer);
}

// Stamps only ever grow, and every layer draws from the same sequence, so a stamp names one
// state of one tile of one layer for the whole run. Layers live on the main thread only.
uint64_t last_stamp = 0;

// Zeroes every pixel of a memory bitmap, row by row through the lock's pitch (which may be
// negative or wider than the row).
int _layer_zero_backup(ALLEGRO_BITMAP* backup) {
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap(backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    q_assert(region, return 0);
    const int width = al_get_bitmap_width(backup);
    const int height = al_get_bitmap_height(backup);
    auto* row = static_cast<unsigned char*>(region->data);
    // Nothing has touched these pages yet: large pages make the first touch much cheaper.
    const ptrdiff_t pitch = region->pitch;
    platform_prefer_large_pages(pitch < 0 ? row + pitch * (height - 1) : row,
                                static_cast<size_t>(pitch < 0 ? -pitch : pitch) *
                                    static_cast<size_t>(height));
    for (int y = 0; y < height; y++, row += region->pitch)
        memset(row, 0, static_cast<size_t>(width) * 4);
    al_unlock_bitmap(backup);
    return 1;
}

constexpr std::array<const char*, 4> BLEND_NAMES = {"Normal", "Multiply", "Screen", "Add"};

} // namespace

int layer_bitmap_flags() {
    return al_get_current_display() ? LAYER_BITMAP_FLAGS : (ALLEGRO_MEMORY_BITMAP | ALLEGRO_MIN_LINEAR);
}

LAYER* layer_new(const char* name, int width, int height) {
    q_assert(name, return NULL);
    if (width < 1 || height < 1) {
        q_log(3, "bad layer size %dx%d", width, height);
        return NULL;
    }

    LAYER* layer = NULL;
    q_calloc(layer, LAYER, 1);
    if (!layer) return NULL;
    layer->name = char_to_qstr(name);
    if (!layer->name) {
        _layer_release(layer);
        return NULL;
    }
    layer->opacity = 1.0f;
    layer->visible = true;
    layer->locked = false;
    layer->blend = LAYER_BLEND_NORMAL;

    {
        NewBitmapFlagsScope flags(layer_bitmap_flags());
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        layer->bitmap = al_create_bitmap(width, height);
    }
    {
        NewBitmapFlagsScope flags(LAYER_BACKUP_FLAGS);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        layer->backup = al_create_bitmap(width, height);
    }
    if (!layer->bitmap || !layer->backup) {
        q_log(3, "could not create %dx%d layer bitmaps", width, height);
        _layer_release(layer);
        return NULL;
    }
    if (!_layer_zero_backup(layer->backup)) {
        q_log(3, "could not clear new layer backup");
        _layer_release(layer);
        return NULL;
    }
    layer->tiles_x = (width + LAYER_TILE_SIZE - 1) / LAYER_TILE_SIZE;
    layer->tiles_y = (height + LAYER_TILE_SIZE - 1) / LAYER_TILE_SIZE;
    q_calloc(layer->tile_stamps, uint64_t,
             static_cast<size_t>(layer->tiles_x) * static_cast<size_t>(layer->tiles_y));
    if (!layer->tile_stamps) {
        _layer_release(layer);
        return NULL;
    }
    layer_stamp_tiles(layer, 0, 0, width, height);

    layer->needs_clear = true;
    return layer;
}

void layer_free(LAYER** layer) {
    q_assert(layer, return);
    q_assert((*layer), return);
    _layer_release(*layer);
    *layer = NULL;
}

void layer_free_ptr(void* layer) {
    q_assert(layer, return);
    _layer_release(static_cast<LAYER*>(layer));
}

int layer_set_name(LAYER* layer, const char* text) {
    q_assert(layer, return 0);
    if (!text) return 0;

    size_t start = 0;
    size_t end = strlen(text);
    while (start < end && text[start] == ' ')
        start++;
    while (end > start && text[end - 1] == ' ')
        end--;
    if (start == end) return 0;

    Q_STR* renamed = NULL;
    if (!char_to_qstr_ex(text + start, end - start, &renamed) || !renamed) return 0;
    if (layer->name) free_qstr(&layer->name);
    layer->name = renamed;
    return 1;
}

const char* layer_blend_mode_name(int mode) {
    if (mode < 0 || static_cast<size_t>(mode) >= BLEND_NAMES.size()) return BLEND_NAMES[0];
    return BLEND_NAMES[static_cast<size_t>(mode)];
}

int layer_backup(LAYER* layer) {
    q_assert(layer, return 0);
    q_assert(layer->bitmap, return 0);

    ALLEGRO_BITMAP* copy = NULL;
    {
        NewBitmapFlagsScope flags(LAYER_BACKUP_FLAGS);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        copy = al_clone_bitmap(layer->bitmap);
    }
    if (!copy) {
        q_log(3, "could not back up layer %s", _layer_label(layer));
        return 0;
    }
    if (layer->backup) al_destroy_bitmap(layer->backup);
    layer->backup = copy;
    layer_stamp_tiles(layer, 0, 0, al_get_bitmap_width(copy), al_get_bitmap_height(copy));
    return 1;
}

size_t layer_committed_bytes(const LAYER* layer) {
    q_assert(layer, return 0);
    if (!layer->backup) return 0;
    // A memory bitmap keeps its rows packed, without padding.
    return static_cast<size_t>(al_get_pixel_size(al_get_bitmap_format(layer->backup))) *
           static_cast<size_t>(al_get_bitmap_width(layer->backup)) *
           static_cast<size_t>(al_get_bitmap_height(layer->backup));
}

void layer_stamp_tiles(LAYER* layer, int x, int y, int w, int h) {
    q_assert(layer, return);
    if (!layer->tile_stamps || w < 1 || h < 1) return;
    const int c0 = std::max(0, x / LAYER_TILE_SIZE);
    const int r0 = std::max(0, y / LAYER_TILE_SIZE);
    const int c1 = std::min(layer->tiles_x - 1, (x + w - 1) / LAYER_TILE_SIZE);
    const int r1 = std::min(layer->tiles_y - 1, (y + h - 1) / LAYER_TILE_SIZE);
    for (int row = r0; row <= r1; row++)
        for (int col = c0; col <= c1; col++)
            layer->tile_stamps[static_cast<size_t>(row) * layer->tiles_x + col] = ++last_stamp;
}

uint64_t layer_tile_stamp(const LAYER* layer, int col, int row) {
    q_assert(layer, return 0);
    if (!layer->tile_stamps || col < 0 || row < 0 || col >= layer->tiles_x ||
        row >= layer->tiles_y)
        return 0;
    return layer->tile_stamps[static_cast<size_t>(row) * layer->tiles_x + col];
}

int layer_restore(LAYER* layer) {
    q_assert(layer, return 0);

    int width = 0;
    int height = 0;
    if (layer->bitmap) {
        width = al_get_bitmap_width(layer->bitmap);
        height = al_get_bitmap_height(layer->bitmap);
        al_destroy_bitmap(layer->bitmap);
        layer->bitmap = NULL;
    } else if (layer->backup) {
        width = al_get_bitmap_width(layer->backup);
        height = al_get_bitmap_height(layer->backup);
    } else {
        q_log(3, "layer %s has neither bitmap nor backup", _layer_label(layer));
        return 0;
    }

    {
        NewBitmapFlagsScope flags(layer_bitmap_flags());
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        layer->bitmap =
            layer->backup ? al_clone_bitmap(layer->backup) : al_create_bitmap(width, height);
    }
    layer->needs_clear = (layer->backup == NULL);
    if (!layer->bitmap) {
        q_log(3, "could not restore layer %s", _layer_label(layer));
        return 0;
    }
    return 1;
}

uint32_t layer_committed_pixel(const LAYER* layer, int x, int y) {
    q_assert(layer, return 0);
    ALLEGRO_BITMAP* backup = layer->backup;
    if (!backup || x < 0 || y < 0 || x >= al_get_bitmap_width(backup) ||
        y >= al_get_bitmap_height(backup))
        return 0;
    // A memory bitmap locked in its own format hands out its rows without copying them.
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap_region(backup, x, y, 1, 1, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_READONLY);
    if (!region) return 0;
    const auto* bytes = static_cast<const unsigned char*>(region->data);
    const uint32_t pixel = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                           static_cast<uint32_t>(bytes[2]) << 16 |
                           static_cast<uint32_t>(bytes[3]) << 24;
    al_unlock_bitmap(backup);
    return pixel;
}

int layer_read_committed(const LAYER* layer, int x, int y, int w, int h, uint32_t* dst,
                         size_t dst_stride) {
    q_assert(layer, return 0);
    q_assert(dst, return 0);
    if (w < 1 || h < 1 || dst_stride < static_cast<size_t>(w)) return 0;
    for (int row = 0; row < h; row++)
        memset(dst + static_cast<size_t>(row) * dst_stride, 0, static_cast<size_t>(w) * 4);
    ALLEGRO_BITMAP* backup = layer->backup;
    if (!backup) return 0;
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + w, al_get_bitmap_width(backup));
    const int y1 = std::min(y + h, al_get_bitmap_height(backup));
    if (x0 >= x1 || y0 >= y1) return 1;
    ALLEGRO_LOCKED_REGION* region = al_lock_bitmap_region(backup, x0, y0, x1 - x0, y1 - y0,
                                                          LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_READONLY);
    if (!region) {
        q_log(3, "could not read the committed pixels of layer %s", _layer_label(layer));
        return 0;
    }
    for (int row = y0; row < y1; row++) {
        const auto* src = static_cast<const unsigned char*>(region->data) +
                          static_cast<ptrdiff_t>(row - y0) * region->pitch;
        memcpy(dst + static_cast<size_t>(row - y) * dst_stride + (x0 - x), src,
               static_cast<size_t>(x1 - x0) * 4);
    }
    al_unlock_bitmap(backup);
    return 1;
}

int layer_take_pixels(LAYER* layer, ALLEGRO_BITMAP* pixels) {
    q_assert(pixels, return 0);
    q_assert(layer, al_destroy_bitmap(pixels); return 0);
    const int w = al_get_bitmap_width(pixels), h = al_get_bitmap_height(pixels);
    if (layer->backup &&
        (w != al_get_bitmap_width(layer->backup) || h != al_get_bitmap_height(layer->backup))) {
        q_log(3, "pixels of %dx%d do not fit layer %s", w, h, _layer_label(layer));
        al_destroy_bitmap(pixels);
        return 0;
    }
    ALLEGRO_BITMAP* old = layer->backup;
    layer->backup = pixels;
    if (!layer_restore(layer)) {
        layer->backup = old;
        al_destroy_bitmap(pixels);
        layer_restore(layer);
        return 0;
    }
    if (old) al_destroy_bitmap(old);
    layer_stamp_tiles(layer, 0, 0, w, h);
    return 1;
}

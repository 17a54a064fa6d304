// ============================================================================================
// Layers
//   [SECTION] Tile storage
//   [SECTION] Life cycle and names
//   [SECTION] Committed pixels
//   [SECTION] Working bitmap
// ============================================================================================
#include "canvas/layer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "canvas/allegro_state.h"
#include "q/q_common.h"
#include "q/q_log.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Tile storage
// --------------------------------------------------------------------------------------------

namespace {

const char* _layer_label(const LAYER* layer) {
    return (layer->name && layer->name->data) ? layer->name->data : "NULL";
}

// Stamps only ever grow, and every layer draws from the same sequence, so a stamp names one
// state of one tile of one layer for the whole run. Layers live on the main thread only.
uint64_t last_stamp = 0;

// The test hook's countdown (0 = off) and the number of allocations asked for.
int fail_countdown = 0;
uint64_t allocations = 0;

uint32_t* _tile_alloc() {
    allocations++;
    if (fail_countdown > 0 && --fail_countdown == 0) {
        q_log(3, "tile allocation %llu refused by the test hook",
              static_cast<unsigned long long>(allocations));
        return NULL;
    }
    auto* tile = static_cast<uint32_t*>(malloc(LAYER_TILE_BYTES));
    if (!tile) q_log(3, "out of memory for a %zu byte layer tile", LAYER_TILE_BYTES);
    return tile;
}

size_t _tile_index(const LAYER* layer, int col, int row) {
    return static_cast<size_t>(row) * static_cast<size_t>(layer->tiles_x) +
           static_cast<size_t>(col);
}

void _tile_free(LAYER* layer, size_t index) {
    if (!layer->tiles[index]) return;
    free(layer->tiles[index]);
    layer->tiles[index] = NULL;
    layer->stored_tiles--;
}

bool _tile_clear(const uint32_t* tile) {
    const uint32_t* end = tile + LAYER_TILE_BYTES / 4;
    for (; tile < end; tile += 8) {
        if (tile[0] | tile[1] | tile[2] | tile[3] | tile[4] | tile[5] | tile[6] | tile[7])
            return false;
    }
    return true;
}

// A rectangle clipped to the layer and the tile span it covers; false when nothing is left.
struct Span {
    int x0, y0, x1, y1; // pixels, x1 and y1 exclusive
    int c0, r0, c1, r1; // tiles, inclusive
};

bool _span(const LAYER* layer, int x, int y, int w, int h, Span* s) {
    if (w < 1 || h < 1 || !layer->tiles) return false;
    s->x0 = std::max(x, 0);
    s->y0 = std::max(y, 0);
    s->x1 = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(x) + w, layer->width));
    s->y1 = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(y) + h, layer->height));
    if (s->x0 >= s->x1 || s->y0 >= s->y1) return false;
    s->c0 = s->x0 / LAYER_TILE_SIZE;
    s->r0 = s->y0 / LAYER_TILE_SIZE;
    s->c1 = (s->x1 - 1) / LAYER_TILE_SIZE;
    s->r1 = (s->y1 - 1) / LAYER_TILE_SIZE;
    return true;
}

// The part of a clipped rectangle inside one tile, in layer pixels.
struct Part {
    int x0, y0, x1, y1;
};

Part _part(const Span& s, int col, int row) {
    return Part{std::max(s.x0, col * LAYER_TILE_SIZE), std::max(s.y0, row * LAYER_TILE_SIZE),
                std::min(s.x1, (col + 1) * LAYER_TILE_SIZE),
                std::min(s.y1, (row + 1) * LAYER_TILE_SIZE)};
}

// True when `src` holds a visible pixel inside the part (src addresses the layer's pixel
// (x, y) of the written rectangle's origin).
bool _source_visible(const uint32_t* src, ptrdiff_t stride, int ox, int oy, const Part& p) {
    for (int y = p.y0; y < p.y1; y++) {
        const uint32_t* row = src + (y - oy) * stride + (p.x0 - ox);
        for (int x = 0; x < p.x1 - p.x0; x++)
            if (row[x]) return true;
    }
    return false;
}

// Stores a transparent tile at every position of the span that has none and, with `src`
// (addressing the layer pixel (ox, oy)), will receive a visible pixel from it. All or nothing:
// when an allocation fails the tiles made here are freed again and false is returned.
bool _make_tiles(LAYER* layer, const Span& s, const uint32_t* src, ptrdiff_t stride, int ox,
                 int oy) {
    std::vector<size_t> made;
    try {
        made.reserve(static_cast<size_t>(s.c1 - s.c0 + 1) * static_cast<size_t>(s.r1 - s.r0 + 1));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int row = s.r0; row <= s.r1; row++) {
        for (int col = s.c0; col <= s.c1; col++) {
            const size_t index = _tile_index(layer, col, row);
            if (layer->tiles[index] ||
                (src && !_source_visible(src, stride, ox, oy, _part(s, col, row))))
                continue;
            uint32_t* tile = _tile_alloc();
            if (!tile) {
                for (size_t i : made) _tile_free(layer, i);
                return false;
            }
            memset(tile, 0, LAYER_TILE_BYTES);
            layer->tiles[index] = tile;
            layer->stored_tiles++;
            made.push_back(index); // within the reserved capacity: cannot throw
        }
    }
    return true;
}

void _free_tiles(uint32_t** tiles, size_t count) {
    if (!tiles) return;
    for (size_t i = 0; i < count; i++) free(tiles[i]);
    free(tiles);
}

void _layer_release(LAYER* layer) {
    if (layer->bitmap) al_destroy_bitmap(layer->bitmap);
    if (layer->name) free_qstr(&layer->name);
    _free_tiles(layer->tiles, static_cast<size_t>(layer->tiles_x) * layer->tiles_y);
    free(layer->tile_stamps);
    q_free(layer);
}

// Clears a working bitmap to transparent. The graphics device clears a video bitmap; a memory
// bitmap (the command line's, without a display) is cleared row by row with memset, which is
// many times faster than the image library's pixel-by-pixel clear of memory bitmaps.
bool _clear_working_bitmap(ALLEGRO_BITMAP* bitmap) {
    if (!(al_get_bitmap_flags(bitmap) & ALLEGRO_MEMORY_BITMAP)) {
        TargetBitmapScope target(bitmap);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        return true;
    }
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap(bitmap, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY);
    if (!region) return false;
    const int width = al_get_bitmap_width(bitmap), height = al_get_bitmap_height(bitmap);
    for (int y = 0; y < height; y++)
        memset(static_cast<unsigned char*>(region->data) + static_cast<ptrdiff_t>(y) * region->pitch,
               0, static_cast<size_t>(width) * 4);
    al_unlock_bitmap(bitmap);
    return true;
}

constexpr std::array<const char*, 4> BLEND_NAMES = {"Normal", "Multiply", "Screen", "Add"};

} // namespace

void layer_fail_tile_allocation(int n) { fail_countdown = std::max(n, 0); }

uint64_t layer_tile_allocations() { return allocations; }

// --------------------------------------------------------------------------------------------
// [SECTION] Life cycle and names
// --------------------------------------------------------------------------------------------

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
    layer->width = width;
    layer->height = height;

    {
        NewBitmapFlagsScope flags(layer_bitmap_flags());
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        layer->bitmap = al_create_bitmap(width, height);
    }
    if (!layer->bitmap) {
        q_log(3, "could not create the %dx%d bitmap of a layer", width, height);
        _layer_release(layer);
        return NULL;
    }
    layer->tiles_x = (width + LAYER_TILE_SIZE - 1) / LAYER_TILE_SIZE;
    layer->tiles_y = (height + LAYER_TILE_SIZE - 1) / LAYER_TILE_SIZE;
    const size_t count = static_cast<size_t>(layer->tiles_x) * static_cast<size_t>(layer->tiles_y);
    q_calloc(layer->tile_stamps, uint64_t, count);
    q_calloc(layer->tiles, uint32_t*, count);
    if (!layer->tile_stamps || !layer->tiles) {
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

// --------------------------------------------------------------------------------------------
// [SECTION] Committed pixels
// --------------------------------------------------------------------------------------------

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

const uint32_t* layer_committed_tile(const LAYER* layer, int col, int row) {
    q_assert(layer, return NULL);
    if (!layer->tiles || col < 0 || row < 0 || col >= layer->tiles_x || row >= layer->tiles_y)
        return NULL;
    return layer->tiles[_tile_index(layer, col, row)];
}

size_t layer_committed_bytes(const LAYER* layer) {
    q_assert(layer, return 0);
    return layer->stored_tiles * LAYER_TILE_BYTES;
}

uint32_t layer_committed_pixel(const LAYER* layer, int x, int y) {
    q_assert(layer, return 0);
    if (x < 0 || y < 0 || x >= layer->width || y >= layer->height) return 0;
    const uint32_t* tile = layer_committed_tile(layer, x / LAYER_TILE_SIZE, y / LAYER_TILE_SIZE);
    if (!tile) return 0;
    return tile[static_cast<size_t>(y % LAYER_TILE_SIZE) * LAYER_TILE_SIZE + x % LAYER_TILE_SIZE];
}

int layer_read_committed(const LAYER* layer, int x, int y, int w, int h, uint32_t* dst,
                         size_t dst_stride) {
    q_assert(layer, return 0);
    q_assert(dst, return 0);
    if (w < 1 || h < 1 || dst_stride < static_cast<size_t>(w)) return 0;
    for (int row = 0; row < h; row++)
        memset(dst + static_cast<size_t>(row) * dst_stride, 0, static_cast<size_t>(w) * 4);
    if (!layer->tiles) return 0;
    Span s;
    if (!_span(layer, x, y, w, h, &s)) return 1;
    for (int row = s.r0; row <= s.r1; row++) {
        for (int col = s.c0; col <= s.c1; col++) {
            const uint32_t* tile = layer->tiles[_tile_index(layer, col, row)];
            if (!tile) continue; // already zero
            const Part p = _part(s, col, row);
            for (int py = p.y0; py < p.y1; py++)
                memcpy(dst + static_cast<size_t>(py - y) * dst_stride + (p.x0 - x),
                       tile + static_cast<size_t>(py % LAYER_TILE_SIZE) * LAYER_TILE_SIZE +
                           p.x0 % LAYER_TILE_SIZE,
                       static_cast<size_t>(p.x1 - p.x0) * 4);
        }
    }
    return 1;
}

ALLEGRO_BITMAP* layer_committed_bitmap(const LAYER* layer) {
    q_assert(layer, return NULL);
    ALLEGRO_BITMAP* copy = NULL;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        copy = al_create_bitmap(layer->width, layer->height);
    }
    if (!copy) {
        q_log(3, "could not make a %dx%d copy of layer %s", layer->width, layer->height,
              _layer_label(layer));
        return NULL;
    }
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap(copy, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY);
    bool ok = region && region->pitch > 0 && region->pitch % 4 == 0;
    if (ok)
        ok = layer_read_committed(layer, 0, 0, layer->width, layer->height,
                                  static_cast<uint32_t*>(region->data),
                                  static_cast<size_t>(region->pitch / 4)) == 1;
    if (region) al_unlock_bitmap(copy);
    if (!ok) {
        al_destroy_bitmap(copy);
        return NULL;
    }
    return copy;
}

int layer_reserve_tiles(LAYER* layer, int x, int y, int w, int h) {
    q_assert(layer, return 0);
    Span s;
    if (!_span(layer, x, y, w, h, &s)) return 1;
    if (_make_tiles(layer, s, NULL, 0, 0, 0)) return 1;
    q_log(3, "could not reserve the tiles of layer %s", _layer_label(layer));
    return 0;
}

void layer_release_clear_tiles(LAYER* layer, int x, int y, int w, int h) {
    q_assert(layer, return);
    Span s;
    if (!_span(layer, x, y, w, h, &s)) return;
    for (int row = s.r0; row <= s.r1; row++)
        for (int col = s.c0; col <= s.c1; col++) {
            const size_t index = _tile_index(layer, col, row);
            if (layer->tiles[index] && _tile_clear(layer->tiles[index])) _tile_free(layer, index);
        }
}

int layer_write_committed(LAYER* layer, int x, int y, int w, int h, const uint32_t* src,
                          ptrdiff_t src_stride) {
    q_assert(layer, return 0);
    q_assert(src, return 0);
    Span s;
    if (!_span(layer, x, y, w, h, &s)) return 1;

    // First every tile that will hold a visible pixel is made to exist, so running out of memory
    // leaves the layer untouched.
    if (!_make_tiles(layer, s, src, src_stride, x, y)) {
        q_log(3, "could not write the committed pixels of layer %s", _layer_label(layer));
        return 0;
    }
    for (int row = s.r0; row <= s.r1; row++) {
        for (int col = s.c0; col <= s.c1; col++) {
            const size_t index = _tile_index(layer, col, row);
            uint32_t* tile = layer->tiles[index];
            if (!tile) continue; // stays transparent
            const Part p = _part(s, col, row);
            bool visible = false;
            for (int py = p.y0; py < p.y1; py++) {
                const uint32_t* from = src + (py - y) * src_stride + (p.x0 - x);
                uint32_t* to = tile + static_cast<size_t>(py % LAYER_TILE_SIZE) * LAYER_TILE_SIZE +
                               p.x0 % LAYER_TILE_SIZE;
                memcpy(to, from, static_cast<size_t>(p.x1 - p.x0) * 4);
                if (!visible)
                    for (int i = 0; i < p.x1 - p.x0; i++)
                        if (from[i]) {
                            visible = true;
                            break;
                        }
            }
            if (!visible && _tile_clear(tile)) _tile_free(layer, index);
        }
    }
    layer_stamp_tiles(layer, s.x0, s.y0, s.x1 - s.x0, s.y1 - s.y0);
    return 1;
}

int layer_backup_region(LAYER* layer, int x, int y, int w, int h) {
    q_assert(layer, return 0);
    q_assert(layer->bitmap, return 0);
    Span s;
    if (!_span(layer, x, y, w, h, &s)) return 1;
    if (al_get_bitmap_width(layer->bitmap) != layer->width ||
        al_get_bitmap_height(layer->bitmap) != layer->height) {
        q_log(3, "layer %s has a working bitmap of the wrong size", _layer_label(layer));
        return 0;
    }
    // A band of one tile row at a time: locking the whole of a big layer would ask the driver
    // for a buffer as large as the layer. The writes of all bands go in only when every band
    // could be read, so that a failure leaves the committed pixels as they were.
    std::vector<uint32_t> band;
    const int band_h = std::min(s.y1 - s.y0, LAYER_TILE_SIZE);
    try {
        band.resize(static_cast<size_t>(s.x1 - s.x0) * static_cast<size_t>(band_h));
    } catch (const std::bad_alloc&) {
        q_log(3, "could not back up layer %s", _layer_label(layer));
        return 0;
    }
    // Tiles are reserved up front so no band can fail halfway for want of memory.
    if (!layer_reserve_tiles(layer, s.x0, s.y0, s.x1 - s.x0, s.y1 - s.y0)) return 0;
    for (int top = s.y0; top < s.y1;) {
        const int bottom = std::min(s.y1, (top / LAYER_TILE_SIZE + 1) * LAYER_TILE_SIZE);
        ALLEGRO_LOCKED_REGION* region = al_lock_bitmap_region(
            layer->bitmap, s.x0, top, s.x1 - s.x0, bottom - top, LAYER_PIXEL_FORMAT,
            ALLEGRO_LOCK_READONLY);
        if (!region) {
            q_log(3, "could not read the working pixels of layer %s", _layer_label(layer));
            layer_release_clear_tiles(layer, s.x0, s.y0, s.x1 - s.x0, s.y1 - s.y0);
            return 0;
        }
        for (int row = 0; row < bottom - top; row++)
            memcpy(band.data() + static_cast<size_t>(row) * (s.x1 - s.x0),
                   static_cast<const unsigned char*>(region->data) +
                       static_cast<ptrdiff_t>(row) * region->pitch,
                   static_cast<size_t>(s.x1 - s.x0) * 4);
        al_unlock_bitmap(layer->bitmap);
        // Cannot fail: every tile is stored.
        layer_write_committed(layer, s.x0, top, s.x1 - s.x0, bottom - top, band.data(),
                              s.x1 - s.x0);
        top = bottom;
    }
    return 1;
}

int layer_backup(LAYER* layer) {
    q_assert(layer, return 0);
    return layer_backup_region(layer, 0, 0, layer->width, layer->height);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Working bitmap
// --------------------------------------------------------------------------------------------

int layer_restore(LAYER* layer) {
    q_assert(layer, return 0);
    if (layer->width < 1 || layer->height < 1) {
        q_log(3, "layer %s has no size", _layer_label(layer));
        return 0;
    }
    if (layer->bitmap) {
        al_destroy_bitmap(layer->bitmap);
        layer->bitmap = NULL;
    }
    {
        NewBitmapFlagsScope flags(layer_bitmap_flags());
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        layer->bitmap = al_create_bitmap(layer->width, layer->height);
    }
    if (!layer->bitmap) {
        q_log(3, "could not restore layer %s", _layer_label(layer));
        return 0;
    }
    return layer_upload(layer);
}

int layer_upload(LAYER* layer) {
    q_assert(layer, return 0);
    q_assert(layer->bitmap, return 0);
    if (al_get_bitmap_width(layer->bitmap) != layer->width ||
        al_get_bitmap_height(layer->bitmap) != layer->height) {
        q_log(3, "layer %s has a working bitmap of the wrong size", _layer_label(layer));
        return 0;
    }
    // Nothing stored: the compositor clears it when it first draws, with its context current.
    layer->needs_clear = layer->stored_tiles == 0;
    if (layer->needs_clear) return 1;
    if (!_clear_working_bitmap(layer->bitmap)) {
        q_log(3, "could not clear the working bitmap of layer %s", _layer_label(layer));
        return 0;
    }
    prepare_pixel_write(layer->bitmap);
    for (int row = 0; row < layer->tiles_y; row++) {
        for (int col = 0; col < layer->tiles_x; col++) {
            const uint32_t* tile = layer->tiles[_tile_index(layer, col, row)];
            if (!tile) continue;
            const int x = col * LAYER_TILE_SIZE, y = row * LAYER_TILE_SIZE;
            const int w = std::min(LAYER_TILE_SIZE, layer->width - x);
            const int h = std::min(LAYER_TILE_SIZE, layer->height - y);
            ALLEGRO_LOCKED_REGION* region = al_lock_bitmap_region(
                layer->bitmap, x, y, w, h, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY);
            if (!region) {
                q_log(3, "could not upload a tile of layer %s", _layer_label(layer));
                return 0;
            }
            for (int r = 0; r < h; r++)
                memcpy(static_cast<unsigned char*>(region->data) +
                           static_cast<ptrdiff_t>(r) * region->pitch,
                       tile + static_cast<size_t>(r) * LAYER_TILE_SIZE, static_cast<size_t>(w) * 4);
            al_unlock_bitmap(layer->bitmap);
        }
    }
    return 1;
}

int layer_take_pixels(LAYER* layer, ALLEGRO_BITMAP* pixels) {
    q_assert(pixels, return 0);
    q_assert(layer, al_destroy_bitmap(pixels); return 0);
    const int w = al_get_bitmap_width(pixels), h = al_get_bitmap_height(pixels);
    if (w != layer->width || h != layer->height) {
        q_log(3, "pixels of %dx%d do not fit layer %s", w, h, _layer_label(layer));
        al_destroy_bitmap(pixels);
        return 0;
    }
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap(pixels, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_READONLY);
    if (!region || region->pitch % 4 != 0) {
        q_log(3, "could not read the pixels for layer %s", _layer_label(layer));
        if (region) al_unlock_bitmap(pixels);
        al_destroy_bitmap(pixels);
        return 0;
    }
    // The new tiles are built beside the old ones, which come back if anything fails.
    const size_t count = static_cast<size_t>(layer->tiles_x) * static_cast<size_t>(layer->tiles_y);
    uint32_t** old_tiles = layer->tiles;
    const size_t old_stored = layer->stored_tiles;
    uint32_t** fresh = NULL;
    q_calloc(fresh, uint32_t*, count);
    layer->tiles = fresh;
    layer->stored_tiles = 0;
    const int ok = fresh && layer_write_committed(layer, 0, 0, w, h,
                                                  static_cast<const uint32_t*>(region->data),
                                                  region->pitch / 4);
    al_unlock_bitmap(pixels);
    al_destroy_bitmap(pixels);
    // The working bitmap a new layer already has is reused: making a new one of a big layer
    // costs as much as filling it.
    if (ok && (layer->bitmap ? layer_upload(layer) : layer_restore(layer))) {
        _free_tiles(old_tiles, count);
        layer_stamp_tiles(layer, 0, 0, w, h);
        return 1;
    }
    _free_tiles(layer->tiles, count);
    layer->tiles = old_tiles;
    layer->stored_tiles = old_stored;
    if (ok) layer_restore(layer);
    return 0;
}

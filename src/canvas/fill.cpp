// ============================================================================================
// Flood fill, gradient and clear
//   [SECTION] Colours and the held-drawing guard
//   [SECTION] Layer pixels in and out
//   [SECTION] Scanline fill
//   [SECTION] Operations
// ============================================================================================
#include "canvas/fill.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "canvas/allegro_state.h"
#include "canvas/undo.h"
#include "q/q_common.h"
#include "q/q_log.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Colours and the held-drawing guard
// --------------------------------------------------------------------------------------------

namespace {

// Channels outside 0..1 (and NaN) would wrap around when turned into a byte.
float _unit(float channel) {
    if (!(channel > 0.0f)) return 0.0f;
    return channel < 1.0f ? channel : 1.0f;
}

unsigned char _channel_byte(float channel) {
    return static_cast<unsigned char>(static_cast<int>(_unit(channel) * 255.0f + 0.5f));
}

// The colour as an opaque RGBA pixel: the tools paint solid whatever alpha the brush has.
void _opaque_bytes(const ALLEGRO_COLOR* color, unsigned char out[4]) {
    out[0] = _channel_byte(color->r);
    out[1] = _channel_byte(color->g);
    out[2] = _channel_byte(color->b);
    out[3] = 255;
}

uint32_t _packed(const unsigned char bytes[4]) {
    uint32_t value;
    memcpy(&value, bytes, 4);
    return value;
}


size_t _buffer_bytes(int width, int height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Layer pixels in and out
// --------------------------------------------------------------------------------------------

LAYER* _fill_target(DOCUMENT* doc) {
    q_assert(doc, return NULL);
    LAYER* layer = doc->active_layer;
    q_assert(layer, return NULL);
    // The GUI tells the user about the lock; a message here would only repeat it.
    if (layer->locked) return NULL;
    return layer;
}

unsigned char* _layer_pixels(LAYER* layer, int width, int height) {
    q_assert(layer, return NULL);
    // The tools trust the size for every row; a layer of another size would leave rows of the
    // buffer meaningless.
    if (width < 1 || height < 1 || layer->width != width || layer->height != height) {
        q_log(3, "layer is %dx%d, not %dx%d", layer->width, layer->height, width, height);
        return NULL;
    }
    // Every byte is written by the read below.
    auto* pixels = static_cast<unsigned char*>(malloc(_buffer_bytes(width, height)));
    if (!pixels) {
        q_log(3, "out of memory for a %dx%d copy of a layer", width, height);
        return NULL;
    }
    if (!layer_read_committed(layer, 0, 0, width, height, reinterpret_cast<uint32_t*>(pixels),
                              static_cast<size_t>(width))) {
        free(pixels);
        return NULL;
    }
    return pixels;
}

int _layer_write_rect(LAYER* layer, const unsigned char* pixels, int width, int x0, int y0, int x1,
                      int y1) {
    q_assert(layer, return 0);
    q_assert(pixels, return 0);
    q_assert(layer->bitmap, return 0);
    const int bitmap_w = al_get_bitmap_width(layer->bitmap);
    const int bitmap_h = al_get_bitmap_height(layer->bitmap);
    if (x0 < 0 || y0 < 0 || x1 < x0 || y1 < y0 || x1 >= bitmap_w || y1 >= bitmap_h || x1 >= width) {
        q_log(3, "fill rectangle %d,%d to %d,%d does not fit the %dx%d layer", x0, y0, x1, y1,
              bitmap_w, bitmap_h);
        return 0;
    }
    HeldDrawingPause pause;
    const bool whole = x0 == 0 && y0 == 0 && x1 == bitmap_w - 1 && y1 == bitmap_h - 1;
    // Whatever the driver left in a fresh working bitmap would otherwise stay on screen around
    // the rectangle, since the compositor stops clearing once needs_clear is gone.
    if (layer->needs_clear && !whole) {
        TargetBitmapScope target(layer->bitmap);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    }

    prepare_pixel_write(layer->bitmap);
    // In bands of about 4 MiB: locking a video bitmap for writing allocates a buffer of the
    // locked size, and one of a whole large layer would be fresh memory every time.
    const int w = x1 - x0 + 1;
    const size_t row_bytes = static_cast<size_t>(w) * 4;
    const int band = std::max(1, static_cast<int>((size_t{4} << 20) / row_bytes));
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int top = y0; top <= y1; top += band) {
        const int h = std::min(band, y1 - top + 1);
        ALLEGRO_LOCKED_REGION* region =
            al_lock_bitmap_region(layer->bitmap, x0, top, w, h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE,
                                  ALLEGRO_LOCK_WRITEONLY);
        if (!region) {
            q_log(3, "could not lock layer video bitmap for fill");
            return 0;
        }
        const unsigned char* src =
            pixels + static_cast<size_t>(top) * stride + static_cast<size_t>(x0) * 4;
        auto* dst = static_cast<unsigned char*>(region->data);
        for (int y = 0; y < h; y++, src += stride, dst += region->pitch)
            memcpy(dst, src, row_bytes);
        al_unlock_bitmap(layer->bitmap);
    }
    layer->needs_clear = false;
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Scanline fill
// --------------------------------------------------------------------------------------------
//
// Each popped seed grows into the widest run of matching pixels on its row, which is filled
// in one go; only then are the rows above and below scanned, and only the first pixel of each
// matching run there becomes a new seed. A filled pixel must never be taken for an open one
// again: when the fill colour itself matches the seed, a visited map records the filled spans.
// Otherwise the fill colour marks them by itself, and the map (a byte per pixel to allocate,
// clear and read) is left out.

namespace {

// Pixels compare against the seed colour, never against their neighbours, so a smooth ramp
// cannot carry the fill further than the tolerance allows. A pixel matches when each of its
// bytes lies within the seed's byte plus or minus the tolerance: a box of byte ranges.
struct SeedBox {
    uint32_t low;  // lowest accepted value of each byte, packed as a pixel
    uint32_t high; // highest accepted value of each byte
    SeedBox(uint32_t seed, int tolerance) : low(0), high(0) {
        for (int k = 0; k < 4; k++) {
            const int s = static_cast<int>((seed >> (8 * k)) & 0xFFu);
            low |= static_cast<uint32_t>(std::max(0, s - tolerance)) << (8 * k);
            high |= static_cast<uint32_t>(std::min(255, s + tolerance)) << (8 * k);
        }
    }
    bool holds(uint32_t pixel) const {
        if (low == high) return pixel == low;
        for (int k = 0; k < 32; k += 8) {
            const uint32_t b = (pixel >> k) & 0xFFu;
            if (b < ((low >> k) & 0xFFu) || b > ((high >> k) & 0xFFu)) return false;
        }
        return true;
    }
};

// Doubles the seed stack. The new block is allocated fresh (rather than resized in place) so
// that a failure can be told apart from a success at the same address. Returns 1 or 0.
int _stack_grow(int** seeds, size_t* pairs) {
    if (*pairs > SIZE_MAX / (4 * sizeof(int))) return 0;
    const size_t grown = *pairs * 2;
    int* stack = NULL;
    q_realloc(stack, int, grown * 2);
    if (!stack) return 0;
    memcpy(stack, *seeds, *pairs * 2 * sizeof(int));
    free(*seeds);
    *seeds = stack;
    *pairs = grown;
    return 1;
}

struct FillWork {
    uint32_t* px;
    uint8_t* visited; // NULL when the fill colour marks filled pixels by itself
    int* stack;
    size_t pairs; // capacity of the stack in (x, y) pairs
    int width, height;
    size_t stride; // pixels from one row to the next, in px and visited alike
    const FillGuard* guard;
};

template <bool Visited> struct RowScanner {
    const uint32_t* px;
    const uint8_t* visited;
    SeedBox box;
#if defined(__SSE2__) || defined(_M_X64)
    __m128i low, high;
    RowScanner(const uint32_t* p, const uint8_t* v, SeedBox b)
        : px(p), visited(v), box(b), low(_mm_set1_epi32(static_cast<int>(b.low))),
          high(_mm_set1_epi32(static_cast<int>(b.high))) {}
#else
    RowScanner(const uint32_t* p, const uint8_t* v, SeedBox b) : px(p), visited(v), box(b) {}
#endif

    bool open(size_t i) const {
        return (!Visited || !visited[i]) && box.holds(px[i]);
    }

    // The first index in [i, end] of the row starting at `row` whose openness differs from
    // `open_run`, or end + 1. Four pixels at a time where the processor allows.
    int scan(size_t row, int i, int end, bool open_run) const {
#if defined(__SSE2__) || defined(_M_X64)
        static constexpr int FIRST_BIT[16] = {4, 0, 1, 0, 2, 0, 1, 0, 3, 0, 1, 0, 2, 0, 1, 0};
        const __m128i zero = _mm_setzero_si128();
        const __m128i ones = _mm_cmpeq_epi32(zero, zero);
        for (; i + 3 <= end; i += 4) {
            const size_t at = row + static_cast<size_t>(i);
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + at));
            // A byte lies in its range exactly when clamping it to the range leaves it alone.
            const __m128i clamped = _mm_min_epu8(_mm_max_epu8(v, low), high);
            __m128i inside = _mm_cmpeq_epi32(_mm_cmpeq_epi8(clamped, v), ones);
            if (Visited) {
                int flags;
                memcpy(&flags, visited + at, 4);
                __m128i f = _mm_cvtsi32_si128(flags);
                f = _mm_unpacklo_epi16(_mm_unpacklo_epi8(f, zero), zero);
                inside = _mm_and_si128(inside, _mm_cmpeq_epi32(f, zero));
            }
            const int open_mask = _mm_movemask_ps(_mm_castsi128_ps(inside));
            const int change = open_run ? (~open_mask & 0xF) : open_mask;
            if (change) return i + FIRST_BIT[change];
        }
#endif
        for (; i <= end; i++)
            if (open(row + static_cast<size_t>(i)) != open_run) return i;
        return end + 1;
    }
};

// False when the guard refused a span: the fill stopped there, part done.
template <bool Visited>
bool _flood(FillWork& work, int sx, int sy, uint32_t fill, SeedBox box, int bounds[4]) {
    const RowScanner<Visited> rows(work.px, work.visited, box);
    const int width = work.width;
    const int height = work.height;

    size_t count = 1;
    work.stack[0] = sx;
    work.stack[1] = sy;
    bounds[0] = bounds[2] = sx;
    bounds[1] = bounds[3] = sy;
    bool exhausted = false;

    const auto push = [&](int x, int y) {
        if (count == work.pairs && !_stack_grow(&work.stack, &work.pairs)) {
            q_log(3, "fill seed stack exhausted");
            exhausted = true;
            return false;
        }
        work.stack[2 * count] = x;
        work.stack[2 * count + 1] = y;
        count++;
        return true;
    };

    while (count > 0 && !exhausted) {
        count--;
        const int x = work.stack[2 * count];
        const int y = work.stack[2 * count + 1];
        const size_t row = static_cast<size_t>(y) * work.stride;
        if (!rows.open(row + static_cast<size_t>(x))) continue;

        int xl = x;
        while (xl > 0 && rows.open(row + static_cast<size_t>(xl - 1)))
            xl--;
        const int xr = rows.scan(row, x + 1, width - 1, true) - 1;
        if (work.guard && !work.guard->before_change(work.guard->context, y, xl, xr)) return false;
        const size_t first = row + static_cast<size_t>(xl);
        const size_t length = static_cast<size_t>(xr - xl + 1);
        if (Visited) memset(work.visited + first, 1, length);
        std::fill(work.px + first, work.px + first + length, fill);

        bounds[0] = std::min(bounds[0], xl);
        bounds[2] = std::max(bounds[2], xr);
        bounds[1] = std::min(bounds[1], y);
        bounds[3] = std::max(bounds[3], y);

        for (const int ny : {y - 1, y + 1}) {
            if (ny < 0 || ny >= height) continue;
            const size_t nrow = static_cast<size_t>(ny) * work.stride;
            for (int i = xl;;) {
                i = rows.scan(nrow, i, xr, false);
                if (i > xr) break;
                if (!push(i, ny)) break;
                i = rows.scan(nrow, i + 1, xr, true);
            }
            if (exhausted) break;
        }
    }
    return true;
}

} // namespace

int _fill_spans(unsigned char* pixels, int width, int height, int sx, int sy,
                const unsigned char fill[4], int tolerance, int bounds[4]) {
    return _fill_area(pixels, width, height, static_cast<size_t>(width), sx, sy, fill, tolerance,
                      bounds, NULL);
}

int _fill_area(unsigned char* pixels, int width, int height, size_t stride, int sx, int sy,
               const unsigned char fill[4], int tolerance, int bounds[4], const FillGuard* guard) {
    q_assert(pixels, return -1);
    q_assert(fill, return -1);
    q_assert(bounds, return -1);
    if (width < 1 || height < 1 || sx < 0 || sy < 0 || sx >= width || sy >= height) return 0;
    q_assert(stride >= static_cast<size_t>(width), return -1);
    tolerance = std::clamp(tolerance, 0, 255);

    auto* px = reinterpret_cast<uint32_t*>(pixels);
    const uint32_t seed = px[static_cast<size_t>(sy) * stride + sx];
    const uint32_t value = _packed(fill);
    if (tolerance == 0 && seed == value) return 0;
    const SeedBox box(seed, tolerance);
    const bool self_marking = !box.holds(value);

    FillWork work{px, NULL, NULL, static_cast<size_t>(FILL_STACK_PAIRS), width, height, stride,
                  guard};
    uint8_t* visited = NULL;
    if (!self_marking) {
        q_calloc(visited, uint8_t, stride * static_cast<size_t>(height));
        if (!visited) return -1;
    }
    int* stack = NULL;
    q_calloc(stack, int, static_cast<size_t>(FILL_STACK_PAIRS) * 2);
    if (!stack) {
        free(visited);
        return -1;
    }
    work.visited = visited;
    work.stack = stack;

    const bool whole = self_marking ? _flood<false>(work, sx, sy, value, box, bounds)
                                    : _flood<true>(work, sx, sy, value, box, bounds);
    free(work.stack);
    free(work.visited);
    return whole ? 1 : -1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Operations
// --------------------------------------------------------------------------------------------

namespace {

// One undo step for a buffer whose rectangle x0..x1, y0..y1 (inclusive) changed. A document
// with an operation already open belongs to another tool mid-change: leave it and its layer
// alone rather than mix our pixels into its step.
int _fill_commit(DOCUMENT* doc, LAYER* layer, const unsigned char* pixels, int x0, int y0, int x1,
                 int y1) {
    if (!undo_begin(doc)) {
        q_log(3, "could not open an undo step; the layer was left as it was");
        return 0;
    }
    undo_mark_dirty_rect(doc, static_cast<float>(x0), static_cast<float>(y0),
                         static_cast<float>(x1), static_cast<float>(y1));
    if (!_layer_write_rect(layer, pixels, doc->width, x0, y0, x1, y1)) {
        undo_abort(doc);
        return 0;
    }
    return undo_commit_pixels(doc, pixels, doc->width, doc->height);
}

} // namespace

namespace {

// Keeps each undo tile of the layer's copy before the fill first changes it.
struct TileKeeper {
    DOCUMENT* doc;
    const unsigned char* backup;
    size_t pitch;
};

bool _keep_tiles(void* context, int y, int x0, int x1) {
    const auto* keeper = static_cast<const TileKeeper*>(context);
    const int row = y / UNDO_TILE_SIZE;
    for (int col = x0 / UNDO_TILE_SIZE; col <= x1 / UNDO_TILE_SIZE; col++)
        if (!undo_keep_tile(keeper->doc, col, row, keeper->backup, keeper->pitch)) return false;
    return true;
}

} // namespace

// The fill works in a full copy of the committed pixels: each tile's earlier pixels go to the
// undo step just before the fill first changes it, so only the tiles it reaches are kept, and
// then the changed box is written to the working bitmap and the committed tiles.
int fill_flood(DOCUMENT* doc, float x, float y, const ALLEGRO_COLOR* color, float tolerance) {
    LAYER* layer = _fill_target(doc);
    if (!layer) return 0;
    q_assert(color, return 0);
    const int width = doc->width;
    const int height = doc->height;
    // Compared before converting: NaN, infinities and huge values are simply off the canvas.
    const double fx = std::floor(static_cast<double>(x));
    const double fy = std::floor(static_cast<double>(y));
    if (!(fx >= 0.0 && fx < width && fy >= 0.0 && fy < height)) return 0;
    unsigned char fill[4];
    _opaque_bytes(color, fill);
    const int levels =
        tolerance >= 0.0f ? static_cast<int>(std::min(1.0f, tolerance) * 255.0f + 0.5f) : 0;

    // A document with an operation already open belongs to another tool mid-change: leave it
    // and its layer alone rather than mix our pixels into its step.
    if (!undo_begin(doc)) {
        q_log(3, "could not open an undo step; the layer was left as it was");
        return 0;
    }
    unsigned char* pixels = _layer_pixels(layer, width, height);
    if (!pixels) {
        undo_abort(doc);
        return 0;
    }
    const size_t pitch = static_cast<size_t>(width) * 4;
    TileKeeper keeper{doc, pixels, pitch};
    const FillGuard guard{_keep_tiles, &keeper};
    int bounds[4] = {0, 0, 0, 0};
    int result = _fill_area(pixels, width, height, pitch / 4, static_cast<int>(fx),
                            static_cast<int>(fy), fill, levels, bounds, &guard);
    if (result == 1 && !_layer_write_rect(layer, pixels, width, bounds[0], bounds[1], bounds[2],
                                          bounds[3]))
        result = -1;
    if (result == 1 &&
        !layer_write_committed(layer, bounds[0], bounds[1], bounds[2] - bounds[0] + 1,
                               bounds[3] - bounds[1] + 1,
                               reinterpret_cast<const uint32_t*>(pixels) +
                                   static_cast<size_t>(bounds[1]) * width + bounds[0],
                               width)) {
        q_log(3, "out of memory filling layer %s; the fill was taken back",
              layer->name && layer->name->data ? layer->name->data : "NULL");
        doc->undo->refused = true;
        result = -1;
    }
    free(pixels);
    if (result == 1) return undo_commit_kept(doc);
    // Nothing changed, or part of the fill must be taken back from the kept tiles.
    if (result == 0) undo_abort(doc);
    else undo_revert(doc);
    return 0;
}

int fill_gradient(DOCUMENT* doc, float x0, float y0, float x1, float y1,
                  const ALLEGRO_COLOR* color) {
    LAYER* layer = _fill_target(doc);
    if (!layer) return 0;
    q_assert(color, return 0);
    if (!(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1))) {
        q_log(3, "gradient end points must be finite");
        return 0;
    }
    const int width = doc->width;
    const int height = doc->height;

    // In double, products of float coordinates and pixel indices are exact, so the tests
    // against 0 and L below decide exactly where t < 0 and t >= 1.
    const double ox = x0;
    const double oy = y0;
    const double dx = static_cast<double>(x1) - ox;
    const double dy = static_cast<double>(y1) - oy;
    const double length2 = dx * dx + dy * dy;
    const bool flat = length2 < 1.0;
    if (!flat) {
        // The projection is linear, so its smallest value over the layer is at a corner. When
        // even that one lies at or beyond the end, no pixel would change.
        double lowest = HUGE_VAL;
        for (const double i : {0.0, static_cast<double>(width - 1)})
            for (const double j : {0.0, static_cast<double>(height - 1)})
                lowest = std::min(lowest, (i - ox) * dx + (j - oy) * dy);
        if (lowest >= length2) return 0;
    }

    unsigned char* pixels = _layer_pixels(layer, width, height);
    if (!pixels) return 0;
    unsigned char solid_bytes[4];
    _opaque_bytes(color, solid_bytes);
    const uint32_t solid = _packed(solid_bytes);
    const double colour[3] = {_unit(color->r) * 255.0, _unit(color->g) * 255.0,
                              _unit(color->b) * 255.0};

    auto* px = reinterpret_cast<uint32_t*>(pixels);
    for (int j = 0; j < height; j++) {
        uint32_t* row = px + static_cast<size_t>(j) * static_cast<size_t>(width);
        if (flat) {
            std::fill(row, row + width, solid);
            continue;
        }
        const double along_y = (j - oy) * dy;
        for (int i = 0; i < width; i++) {
            const double projection = (i - ox) * dx + along_y;
            if (projection < 0.0) {
                row[i] = solid;
            } else if (projection < length2) {
                // The opaque colour over the old pixel with coverage s, in premultiplied form.
                const double t = projection / length2;
                const double s = 1.0 - t;
                auto* p = reinterpret_cast<unsigned char*>(row + i);
                p[0] = static_cast<unsigned char>(static_cast<int>(colour[0] * s + p[0] * t + 0.5));
                p[1] = static_cast<unsigned char>(static_cast<int>(colour[1] * s + p[1] * t + 0.5));
                p[2] = static_cast<unsigned char>(static_cast<int>(colour[2] * s + p[2] * t + 0.5));
                p[3] = static_cast<unsigned char>(static_cast<int>(255.0 * s + p[3] * t + 0.5));
            }
        }
    }
    const int result = _fill_commit(doc, layer, pixels, 0, 0, width - 1, height - 1);
    free(pixels);
    return result;
}

int fill_clear(DOCUMENT* doc) {
    LAYER* layer = _fill_target(doc);
    if (!layer) return 0;
    unsigned char* pixels = NULL;
    q_calloc(pixels, unsigned char, _buffer_bytes(doc->width, doc->height));
    q_assert(pixels, return 0);
    const int result = _fill_commit(doc, layer, pixels, 0, 0, doc->width - 1, doc->height - 1);
    free(pixels);
    return result;
}

// ============================================================================================
// Undo history
//   [SECTION] Records, tiles and pixel transfers
//   [SECTION] Keeping layers and records consistent
//   [SECTION] Life cycle
//   [SECTION] Pixel operations
//   [SECTION] Layer records
//   [SECTION] Undo and redo
// ============================================================================================
#include "canvas/undo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "canvas/allegro_state.h"
#include "canvas/document.h"
#include "q/q_common.h"
#include "q/q_log.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Records, tiles and pixel transfers
// --------------------------------------------------------------------------------------------

namespace {

constexpr size_t TILE_BYTES = static_cast<size_t>(UNDO_TILE_SIZE) * UNDO_TILE_SIZE * 4;

enum class Direction { undo, redo };

struct TileRect {
    int x, y, w, h;
};

const char* _layer_label(const LAYER* layer) {
    return (layer && layer->name && layer->name->data) ? layer->name->data : "NULL";
}

size_t _tile_bytes(const UNDO_TILE* tile) {
    return static_cast<size_t>(tile->w) * static_cast<size_t>(tile->h) * 4;
}

void _undo_tile_free(void* item) {
    auto* tile = static_cast<UNDO_TILE*>(item);
    if (!tile) return;
    free(tile->before);
    free(tile->after);
    free(tile);
}

void _undo_record_free(UNDO_RECORD* record) {
    if (!record) return;
    if (record->tiles) list_destroy(&record->tiles);
    if (record->owns_layer && record->layer) layer_free(&record->layer);
    free(record);
}

void _undo_record_free_ptr(void* record) { _undo_record_free(static_cast<UNDO_RECORD*>(record)); }

// Geometry of one tile of the document; false for a tile that lies wholly outside it.
bool _tile_rect(const DOCUMENT* doc, int col, int row, TileRect* rect) {
    rect->x = col * UNDO_TILE_SIZE;
    rect->y = row * UNDO_TILE_SIZE;
    rect->w = std::min(UNDO_TILE_SIZE, doc->width - rect->x);
    rect->h = std::min(UNDO_TILE_SIZE, doc->height - rect->y);
    return rect->w >= 1 && rect->h >= 1;
}

// Locks only regions that lie inside the bitmap: a layer of the wrong size must fail the
// transfer, not read or write past the lock.
ALLEGRO_LOCKED_REGION* _region_lock(ALLEGRO_BITMAP* bitmap, const TileRect& r, int flags) {
    if (!bitmap || r.x < 0 || r.y < 0 || r.w < 1 || r.h < 1 ||
        r.x > al_get_bitmap_width(bitmap) - r.w || r.y > al_get_bitmap_height(bitmap) - r.h)
        return NULL;
    return al_lock_bitmap_region(bitmap, r.x, r.y, r.w, r.h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE,
                                 flags);
}

// Copies a region into packed rows of r.w * 4 bytes. Returns 1 or 0.
int _region_read(ALLEGRO_BITMAP* bitmap, const TileRect& r, unsigned char* out) {
    ALLEGRO_LOCKED_REGION* region = _region_lock(bitmap, r, ALLEGRO_LOCK_READONLY);
    q_assert(region, return 0);
    const size_t row_bytes = static_cast<size_t>(r.w) * 4;
    const auto* src = static_cast<const unsigned char*>(region->data);
    for (int y = 0; y < r.h; y++, src += region->pitch)
        memcpy(out + static_cast<size_t>(y) * row_bytes, src, row_bytes);
    al_unlock_bitmap(bitmap);
    return 1;
}

// Copies packed rows into a region; does nothing when the region cannot be locked.
void _region_write(ALLEGRO_BITMAP* bitmap, const TileRect& r, const unsigned char* in) {
    prepare_pixel_write(bitmap);
    ALLEGRO_LOCKED_REGION* region = _region_lock(bitmap, r, ALLEGRO_LOCK_WRITEONLY);
    q_assert(region, return);
    const size_t row_bytes = static_cast<size_t>(r.w) * 4;
    auto* dst = static_cast<unsigned char*>(region->data);
    for (int y = 0; y < r.h; y++, dst += region->pitch)
        memcpy(dst, in + static_cast<size_t>(y) * row_bytes, row_bytes);
    al_unlock_bitmap(bitmap);
}

// Reads committed pixels into packed rows of r.w * 4 bytes (absent tiles read as 0).
int _committed_read(const LAYER* layer, const TileRect& r, unsigned char* out) {
    return layer_read_committed(layer, r.x, r.y, r.w, r.h, reinterpret_cast<uint32_t*>(out),
                                static_cast<size_t>(r.w));
}

// Writes committed pixels: the tile gets a new stamp, so copies of its old pixels go stale.
// Cannot run out of memory once the tile was reserved.
bool _committed_write(LAYER* layer, const TileRect& r, const unsigned char* in) {
    return layer_write_committed(layer, r.x, r.y, r.w, r.h, reinterpret_cast<const uint32_t*>(in),
                                 r.w) == 1;
}

// The tile indices covered by the pixel span [first_px, last_px], clamped to [0, count - 1].
// Computed in double and clamped before converting, so huge or NaN coordinates mark nothing
// rather than overflow.
bool _tile_span(double first_px, double last_px, int count, int* first, int* last) {
    double f = std::floor(first_px / UNDO_TILE_SIZE);
    double l = std::floor(last_px / UNDO_TILE_SIZE);
    if (!(f <= l)) return false;
    f = std::max(f, 0.0);
    l = std::min(l, static_cast<double>(count - 1));
    if (f > l) return false;
    *first = static_cast<int>(f);
    *last = static_cast<int>(l);
    return true;
}

void _undo_mark(DOCUMENT* doc, double x0, double y0, double x1, double y1) {
    q_assert(doc, return);
    q_assert(doc->undo, return);
    UNDO_SYSTEM* undo = doc->undo;
    if (!undo->active) return;
    int c0 = 0, c1 = 0, r0 = 0, r1 = 0;
    if (!_tile_span(x0, x1, undo->tiles_x, &c0, &c1)) return;
    if (!_tile_span(y0, y1, undo->tiles_y, &r0, &r1)) return;
    for (int row = r0; row <= r1; row++)
        memset(undo->dirty + static_cast<size_t>(row) * undo->tiles_x + c0, 1,
               static_cast<size_t>(c1 - c0 + 1));
}

size_t _dirty_size(const UNDO_SYSTEM* undo) {
    return static_cast<size_t>(undo->tiles_x) * static_cast<size_t>(undo->tiles_y);
}

void _undo_close(UNDO_SYSTEM* undo) {
    undo->active = false;
    undo->layer = NULL;
    if (undo->dirty) memset(undo->dirty, 0, _dirty_size(undo));
    if (!undo->kept) return;
    for (size_t i = 0; i < _dirty_size(undo); i++) {
        _undo_tile_free(undo->kept[i]);
        undo->kept[i] = NULL;
    }
}

// --------------------------------------------------------------------------------------------
// [SECTION] Keeping layers and records consistent
// --------------------------------------------------------------------------------------------
//
// Records name layers by pointer. A layer the document no longer holds lives inside the one
// record that owns it, and dies with that record. Any other record still naming the layer
// would then point at freed memory, so freeing an owning record always goes through
// _undo_discard, which drops those records first. In a history that only grew and shrank
// through its own operations no such record exists when the owner goes (every step naming a
// removed layer is older than the removal and leaves the history before it); the sweep is
// what keeps the failure paths safe, where a record is freed out of order because a list
// could not take it back.

bool _layer_in_stack(const DOCUMENT* doc, const LAYER* layer) {
    return layer && doc->layers && document_layer_index(doc, layer, NULL);
}

bool _layer_held(const UNDO_SYSTEM* undo, const LAYER* layer) {
    for (const LIST* stack : {undo->undo_stack, undo->redo_stack}) {
        if (!stack) continue;
        for (const LIST_NODE* node = stack->start; node; node = node->next) {
            const auto* record = static_cast<const UNDO_RECORD*>(node->ptr);
            if (record->owns_layer && record->layer == layer) return true;
        }
    }
    return false;
}

void _undo_forget_layer(UNDO_SYSTEM* undo, const LAYER* layer, const UNDO_RECORD* keeper) {
    for (LIST* stack : {undo->undo_stack, undo->redo_stack}) {
        if (!stack) continue;
        LIST_NODE* node = stack->start;
        while (node) {
            LIST_NODE* next = node->next;
            auto* record = static_cast<UNDO_RECORD*>(node->ptr);
            if (record != keeper && record->layer == layer) {
                remove_list_node_f(stack, node);
                record->owns_layer = false; // the keeper is the one owner and frees it
                _undo_record_free(record);
            }
            node = next;
        }
    }
    if (undo->layer == layer) _undo_close(undo);
}

void _undo_discard(UNDO_SYSTEM* undo, UNDO_RECORD* record) {
    if (!record) return;
    if (record->owns_layer && record->layer) _undo_forget_layer(undo, record->layer, record);
    _undo_record_free(record);
}

// Appends a new step, trims the history to max_records and drops the redo history.
int _undo_push(UNDO_SYSTEM* undo, UNDO_RECORD* record) {
    if (!list_push(undo->undo_stack, record, _undo_record_free_ptr)) {
        q_log(3, "could not push undo record");
        // A removed layer stays the caller's until the history has taken it: the caller puts
        // it back into the stack, so freeing it here would leave them holding freed memory.
        record->owns_layer = false;
        _undo_record_free(record);
        return 0;
    }
    while (undo->undo_stack->count > undo->max_records)
        _undo_discard(undo, static_cast<UNDO_RECORD*>(list_shift_f(undo->undo_stack)));
    while (undo->redo_stack->count > 0)
        _undo_discard(undo, static_cast<UNDO_RECORD*>(list_shift_f(undo->redo_stack)));
    return 1;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Life cycle
// --------------------------------------------------------------------------------------------

UNDO_SYSTEM* undo_new(int width, int height) {
    if (width < 1 || height < 1) {
        q_log(3, "bad undo size %dx%d", width, height);
        return NULL;
    }
    const int64_t tiles_x = (static_cast<int64_t>(width) + UNDO_TILE_SIZE - 1) / UNDO_TILE_SIZE;
    const int64_t tiles_y = (static_cast<int64_t>(height) + UNDO_TILE_SIZE - 1) / UNDO_TILE_SIZE;

    UNDO_SYSTEM* undo = NULL;
    q_calloc(undo, UNDO_SYSTEM, 1);
    if (undo) {
        undo->max_records = UNDO_MAX_RECORDS;
        undo->tiles_x = static_cast<int32_t>(tiles_x);
        undo->tiles_y = static_cast<int32_t>(tiles_y);
        undo->undo_stack = new_generic_list(SIZE_MAX);
        undo->redo_stack = new_generic_list(SIZE_MAX);
        q_calloc(undo->dirty, uint8_t, static_cast<size_t>(tiles_x * tiles_y));
        q_calloc(undo->kept, UNDO_TILE*, static_cast<size_t>(tiles_x * tiles_y));
    }
    if (!undo || !undo->undo_stack || !undo->redo_stack || !undo->dirty || !undo->kept) {
        q_log(3, "could not allocate undo system");
        if (undo) undo_free(&undo);
        return NULL;
    }
    return undo;
}

void undo_memory(const UNDO_SYSTEM* undo, UNDO_MEMORY* out) {
    q_assert(out, return);
    *out = UNDO_MEMORY{};
    q_assert(undo, return);
    auto add_tile = [out](const UNDO_TILE* tile) {
        out->tiles++;
        out->tile_bytes += _tile_bytes(tile) * ((tile->before ? 1 : 0) + (tile->after ? 1 : 0));
    };
    for (const LIST* stack : {undo->undo_stack, undo->redo_stack}) {
        if (!stack) continue;
        for (const LIST_NODE* node = stack->start; node; node = node->next) {
            const auto* record = static_cast<const UNDO_RECORD*>(node->ptr);
            if (record->tiles)
                for (const LIST_NODE* t = record->tiles->start; t; t = t->next)
                    add_tile(static_cast<const UNDO_TILE*>(t->ptr));
            if (record->owns_layer && record->layer) {
                out->layers++;
                out->layer_bytes += layer_committed_bytes(record->layer);
                out->layer_tiles += record->layer->stored_tiles;
            }
        }
    }
    if (undo->kept)
        for (size_t i = 0; i < static_cast<size_t>(undo->tiles_x) * undo->tiles_y; i++)
            if (undo->kept[i]) add_tile(undo->kept[i]);
}

void undo_free(UNDO_SYSTEM** undo) {
    q_assert(undo, return);
    q_assert((*undo), return);
    list_destroy(&(*undo)->undo_stack);
    list_destroy(&(*undo)->redo_stack);
    _undo_close(*undo);
    free((*undo)->dirty);
    free((*undo)->kept);
    q_free(*undo);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Pixel operations
// --------------------------------------------------------------------------------------------

int undo_begin(DOCUMENT* doc) {
    q_assert(doc, return 0);
    q_assert(doc->undo, return 0);
    q_assert(doc->active_layer, return 0);
    UNDO_SYSTEM* undo = doc->undo;
    if (undo->active) return 0;
    memset(undo->dirty, 0, _dirty_size(undo));
    undo->layer = doc->active_layer;
    undo->active = true;
    return 1;
}

void undo_mark_dirty(DOCUMENT* doc, float x, float y, float radius) {
    const double r = radius;
    _undo_mark(doc, x - r, y - r, x + r, y + r);
}

void undo_mark_dirty_rect(DOCUMENT* doc, float x0, float y0, float x1, float y1) {
    _undo_mark(doc, x0, y0, x1, y1);
}

namespace {

// Adds a tile to the pixel record being built for `layer`, creating the record first. The
// record owns the tile on 1; on 0 the caller still does.
bool _record_add_tile(UNDO_RECORD** record, LAYER* layer, UNDO_TILE* tile) {
    if (!*record) {
        q_calloc(*record, UNDO_RECORD, 1);
        if (!*record) return false;
        (*record)->type = UNDO_PIXELS;
        (*record)->layer = layer;
        (*record)->tiles = new_generic_list(SIZE_MAX);
        if (!(*record)->tiles) {
            q_free(*record);
            return false;
        }
    }
    return list_push((*record)->tiles, tile, _undo_tile_free) == 1;
}

// Calls `fn` with the rectangle of every dirty undo tile, row by row; stops at the first that
// returns false, and then returns false itself.
template <typename Fn> bool _each_dirty(DOCUMENT* doc, Fn fn) {
    UNDO_SYSTEM* undo = doc->undo;
    for (int row = 0; row < undo->tiles_y; row++)
        for (int col = 0; col < undo->tiles_x; col++) {
            TileRect r;
            if (undo->dirty[static_cast<size_t>(row) * undo->tiles_x + col] &&
                _tile_rect(doc, col, row, &r) && !fn(r))
                return false;
        }
    return true;
}

// Frees the committed tiles under the dirty undo tiles that hold nothing visible.
void _release_dirty(DOCUMENT* doc, LAYER* layer) {
    _each_dirty(doc, [layer](const TileRect& r) {
        layer_release_clear_tiles(layer, r.x, r.y, r.w, r.h);
        return true;
    });
}

// Pushes a finished pixel record, or frees it when it holds no tile. Nothing touched is a
// successful empty operation; touched tiles that could not be kept are a failure even though
// the layer itself is fine.
int _record_finish(UNDO_SYSTEM* undo, UNDO_RECORD* record, bool touched) {
    if (record && record->tiles->count > 0) return _undo_push(undo, record);
    _undo_record_free(record);
    return touched ? 0 : 1;
}

// The layer of the open operation; NULL when none is open, or when its layer is no longer in the
// document, which closes the operation. A layer that left the stack while it was being painted
// may already be freed; its pixels could not be undone in place anyway.
LAYER* _open_layer(DOCUMENT* doc) {
    UNDO_SYSTEM* undo = doc->undo;
    if (!undo->active) return NULL;
    if (_layer_in_stack(doc, undo->layer)) return undo->layer;
    q_log(3, "the layer of the open undo operation is no longer in the document");
    _undo_close(undo);
    return NULL;
}

// Reserves the committed tiles under every dirty undo tile; all or nothing.
bool _reserve_dirty(DOCUMENT* doc, LAYER* layer) {
    if (_each_dirty(doc, [layer](const TileRect& r) {
            return layer_reserve_tiles(layer, r.x, r.y, r.w, r.h) == 1;
        }))
        return true;
    _release_dirty(doc, layer);
    return false;
}

// Shared by both commits. `pixels` is the caller's full-layer buffer or NULL.
int _undo_commit(DOCUMENT* doc, const unsigned char* pixels, int pixels_w, int pixels_h) {
    q_assert(doc, return 0);
    q_assert(doc->undo, return 0);
    UNDO_SYSTEM* undo = doc->undo;
    LAYER* layer = _open_layer(doc);
    if (!layer) return 0;
    q_assert(layer->bitmap, return 0);

    const int width = al_get_bitmap_width(layer->bitmap);
    const int height = al_get_bitmap_height(layer->bitmap);
    if (pixels && (pixels_w != width || pixels_h != height)) pixels = NULL;

    // Every committed tile the operation touched must exist before any is written, or memory
    // could run out half way through a step. When it runs out here the operation is taken back:
    // the working bitmap returns to the committed pixels, which never changed.
    if (!_reserve_dirty(doc, layer)) {
        q_log(3, "out of memory committing a change to layer %s; the change was taken back",
              _layer_label(layer));
        undo->refused = true;
        undo_revert(doc);
        return 0;
    }
    unsigned char* current = NULL;
    q_calloc(current, unsigned char, TILE_BYTES);
    if (!current) {
        // Without a scratch tile no step can be kept, but the committed tiles must still learn
        // the new pixels: they are what gets saved and what the next step reads "before" from.
        _each_dirty(doc, [layer](const TileRect& r) {
            layer_backup_region(layer, r.x, r.y, r.w, r.h);
            return true;
        });
        _release_dirty(doc, layer);
        document_mark_changed(doc);
        _undo_close(undo);
        return 0;
    }

    UNDO_RECORD* record = NULL;
    bool touched = false;
    for (int row = 0; row < undo->tiles_y; row++) {
        bool recording = true; // after an allocation failure the rest of the row goes unkept
        for (int col = 0; col < undo->tiles_x; col++) {
            if (!undo->dirty[static_cast<size_t>(row) * undo->tiles_x + col]) continue;
            TileRect r;
            if (!_tile_rect(doc, col, row, &r)) continue;
            touched = true;

            UNDO_TILE* tile = NULL;
            if (recording) {
                q_calloc(tile, UNDO_TILE, 1);
                if (tile) {
                    tile->x = r.x;
                    tile->y = r.y;
                    tile->w = r.w;
                    tile->h = r.h;
                    q_calloc(tile->before, unsigned char, _tile_bytes(tile));
                    if (!tile->before) {
                        _undo_tile_free(tile);
                        tile = NULL;
                    }
                }
                recording = tile != NULL;
            }
            // A before copy that could not be read would "restore" zeros over the tile.
            if (tile && !_committed_read(layer, r, tile->before)) {
                _undo_tile_free(tile);
                tile = NULL;
            }

            // The committed tiles catch up on every touched tile, kept in the step or not, so the
            // saved file never loses painting that the history could not hold.
            bool have_current = true;
            if (pixels) {
                const size_t row_bytes = static_cast<size_t>(r.w) * 4;
                for (int y = 0; y < r.h; y++) {
                    const size_t src = (static_cast<size_t>(r.y + y) * width + r.x) * 4;
                    memcpy(current + static_cast<size_t>(y) * row_bytes, pixels + src, row_bytes);
                }
            } else {
                have_current = _region_read(layer->bitmap, r, current);
            }
            if (have_current) _committed_write(layer, r, current);

            if (tile && !_record_add_tile(&record, layer, tile)) _undo_tile_free(tile);
        }
    }
    free(current);
    _release_dirty(doc, layer); // tiles reserved for pixels that could not be read back
    _undo_close(undo);
    if (touched) document_mark_changed(doc);
    return _record_finish(undo, record, touched);
}

} // namespace

int undo_commit(DOCUMENT* doc) { return _undo_commit(doc, NULL, 0, 0); }

int undo_commit_pixels(DOCUMENT* doc, const unsigned char* pixels, int w, int h) {
    return _undo_commit(doc, pixels, w, h);
}

int undo_keep_tile(DOCUMENT* doc, int col, int row, const unsigned char* backup, size_t pitch) {
    q_assert(doc, return 0);
    q_assert(doc->undo, return 0);
    q_assert(backup, return 0);
    UNDO_SYSTEM* undo = doc->undo;
    if (!undo->active || col < 0 || row < 0 || col >= undo->tiles_x || row >= undo->tiles_y)
        return 0;
    const size_t index = static_cast<size_t>(row) * undo->tiles_x + col;
    if (undo->kept[index]) return 1;
    TileRect r;
    if (!_tile_rect(doc, col, row, &r)) return 0;
    UNDO_TILE* tile = NULL;
    q_calloc(tile, UNDO_TILE, 1);
    if (!tile) return 0;
    *tile = UNDO_TILE{r.x, r.y, r.w, r.h, NULL, NULL};
    // Every byte is copied below, so the block need not be cleared first.
    tile->before = static_cast<unsigned char*>(malloc(_tile_bytes(tile)));
    if (!tile->before) {
        q_log(3, "could not keep the undo tile at %d,%d", r.x, r.y);
        free(tile);
        return 0;
    }
    const size_t row_bytes = static_cast<size_t>(r.w) * 4;
    const unsigned char* src =
        backup + static_cast<size_t>(r.y) * pitch + static_cast<size_t>(r.x) * 4;
    for (int y = 0; y < r.h; y++, src += pitch)
        memcpy(tile->before + static_cast<size_t>(y) * row_bytes, src, row_bytes);
    undo->kept[index] = tile;
    undo->dirty[index] = 1;
    return 1;
}

int undo_commit_kept(DOCUMENT* doc) {
    q_assert(doc, return 0);
    q_assert(doc->undo, return 0);
    UNDO_SYSTEM* undo = doc->undo;
    LAYER* layer = _open_layer(doc);
    if (!layer) return 0;
    UNDO_RECORD* record = NULL;
    bool touched = false;
    for (size_t i = 0; i < _dirty_size(undo); i++) {
        if (!undo->dirty[i]) continue;
        touched = true;
        // The caller wrote these committed tiles: fresh stamps, so a snapshot never reuses an
        // encoding of their old pixels.
        TileRect r;
        if (_tile_rect(doc, static_cast<int>(i % undo->tiles_x), static_cast<int>(i / undo->tiles_x),
                       &r))
            layer_stamp_tiles(layer, r.x, r.y, r.w, r.h);
        // A tile the record cannot take stays kept and is freed when the operation closes.
        if (undo->kept[i] && _record_add_tile(&record, layer, undo->kept[i])) undo->kept[i] = NULL;
    }
    _undo_close(undo);
    if (touched) document_mark_changed(doc);
    return _record_finish(undo, record, touched);
}

void undo_abort(DOCUMENT* doc) {
    q_assert(doc, return);
    q_assert(doc->undo, return);
    if (doc->undo->active) _undo_close(doc->undo);
}

void undo_revert(DOCUMENT* doc) {
    q_assert(doc, return);
    q_assert(doc->undo, return);
    UNDO_SYSTEM* undo = doc->undo;
    LAYER* layer = undo->layer;
    if (undo->active && _layer_in_stack(doc, layer) && layer->bitmap) {
        unsigned char* buf = NULL;
        q_calloc(buf, unsigned char, TILE_BYTES);
        if (buf) {
            for (int row = 0; row < undo->tiles_y; row++) {
                for (int col = 0; col < undo->tiles_x; col++) {
                    TileRect r;
                    if (!undo->dirty[static_cast<size_t>(row) * undo->tiles_x + col] ||
                        !_tile_rect(doc, col, row, &r))
                        continue;
                    if (_committed_read(layer, r, buf)) _region_write(layer->bitmap, r, buf);
                }
            }
            free(buf);
        }
    }
    _undo_close(undo);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Layer records
// --------------------------------------------------------------------------------------------

namespace {

int _record_layer_change(UNDO_SYSTEM* undo, uint32_t type, LAYER* layer, size_t index,
                         size_t to_index) {
    UNDO_RECORD* record = NULL;
    q_calloc(record, UNDO_RECORD, 1);
    if (!record) return 0;
    record->type = type;
    record->layer = layer;
    record->owns_layer = type == UNDO_LAYER_REMOVE;
    record->index = index;
    record->to_index = to_index;
    return _undo_push(undo, record);
}

} // namespace

int undo_record_layer_add(DOCUMENT* doc, LAYER* layer, size_t index) {
    q_assert(doc, return 0);
    q_assert(doc->undo, return 0);
    q_assert(layer, return 0);
    return _record_layer_change(doc->undo, UNDO_LAYER_ADD, layer, index, 0);
}

int undo_record_layer_remove(DOCUMENT* doc, LAYER* layer, size_t index) {
    q_assert(doc, return 0);
    q_assert(doc->undo, return 0);
    q_assert(layer, return 0);
    // Taking ownership of a layer the stack still holds would free it twice.
    if (_layer_in_stack(doc, layer)) {
        q_log(3, "layer %s is still in the stack; its removal is not recorded",
              _layer_label(layer));
        return 0;
    }
    // Steps painted on a removed layer must be older than its removal, or they would
    // outlive it once the removal leaves the history.
    if (doc->undo->active && doc->undo->layer == layer) {
        q_log(3, "layer %s is being painted; its removal is not recorded", _layer_label(layer));
        return 0;
    }
    return _record_layer_change(doc->undo, UNDO_LAYER_REMOVE, layer, index, 0);
}

int undo_record_layer_move(DOCUMENT* doc, size_t from, size_t to) {
    q_assert(doc, return 0);
    q_assert(doc->undo, return 0);
    return _record_layer_change(doc->undo, UNDO_LAYER_MOVE, NULL, from, to);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Undo and redo
// --------------------------------------------------------------------------------------------

namespace {

int _apply_pixels(UNDO_RECORD* record, Direction direction) {
    q_assert(record->layer, return 0);
    q_assert(record->layer->bitmap, return 0);
    LAYER* layer = record->layer;
    if (!record->tiles) return 1;
    // The committed tiles this step writes must all exist first: running out of memory half
    // way would leave the layer part undone. Refused, the step stays where it was.
    for (LIST_NODE* node = record->tiles->start; node; node = node->next) {
        const auto* tile = static_cast<const UNDO_TILE*>(node->ptr);
        if (layer_reserve_tiles(layer, tile->x, tile->y, tile->w, tile->h)) continue;
        for (LIST_NODE* n = record->tiles->start; n != node; n = n->next) {
            const auto* t = static_cast<const UNDO_TILE*>(n->ptr);
            layer_release_clear_tiles(layer, t->x, t->y, t->w, t->h);
        }
        q_log(3, "out of memory %s a step on layer %s; the layer was left as it was",
              direction == Direction::undo ? "undoing" : "redoing", _layer_label(layer));
        return -1;
    }
    // Every read comes before any write: reading a video bitmap gives it a framebuffer object,
    // which each write then drops again.
    if (direction == Direction::undo) {
        for (LIST_NODE* node = record->tiles->start; node; node = node->next) {
            auto* tile = static_cast<UNDO_TILE*>(node->ptr);
            if (tile->after) continue;
            // Without an after copy the tile still goes back; it just stays put on redo.
            q_calloc(tile->after, unsigned char, _tile_bytes(tile));
            if (tile->after &&
                !_region_read(layer->bitmap, TileRect{tile->x, tile->y, tile->w, tile->h},
                              tile->after))
                q_free_quiet(tile->after);
        }
    }
    for (LIST_NODE* node = record->tiles->start; node; node = node->next) {
        auto* tile = static_cast<UNDO_TILE*>(node->ptr);
        const unsigned char* pixels = direction == Direction::undo ? tile->before : tile->after;
        if (!pixels) continue;
        const TileRect r{tile->x, tile->y, tile->w, tile->h};
        _region_write(layer->bitmap, r, pixels);
        _committed_write(layer, r, pixels);
    }
    for (LIST_NODE* node = record->tiles->start; node; node = node->next) {
        const auto* tile = static_cast<const UNDO_TILE*>(node->ptr);
        layer_release_clear_tiles(layer, tile->x, tile->y, tile->w, tile->h);
    }
    return 1;
}

// Takes the record's layer out of the stack into the record's keeping.
int _layer_take(DOCUMENT* doc, UNDO_RECORD* record) {
    q_assert(record->layer, return 0);
    size_t index = 0;
    if (!document_layer_index(doc, record->layer, &index)) return 0;
    if (!document_detach_layer(doc, index)) return 0;
    record->index = index;
    record->owns_layer = true;
    return 1;
}

// Puts the record's layer back at its index and makes it active.
int _layer_give_back(DOCUMENT* doc, UNDO_RECORD* record) {
    q_assert(record->layer, return 0);
    // The display may have been lost while the layer was out of the stack, and the stack
    // must never hold a layer without a working bitmap.
    if (!layer_restore(record->layer)) return 0;
    if (!document_insert_layer(doc, record->layer, record->index)) return 0;
    record->owns_layer = false;
    doc->active_layer = record->layer;
    return 1;
}

int _apply(DOCUMENT* doc, UNDO_RECORD* record, Direction direction) {
    q_assert(record, return 0);
    const bool undo = direction == Direction::undo;
    switch (record->type) {
    case UNDO_PIXELS:
        return _apply_pixels(record, direction);
    case UNDO_LAYER_ADD:
        return undo ? _layer_take(doc, record) : _layer_give_back(doc, record);
    case UNDO_LAYER_REMOVE:
        return undo ? _layer_give_back(doc, record) : _layer_take(doc, record);
    case UNDO_LAYER_MOVE:
        return undo ? document_move_layer(doc, record->to_index, record->index)
                    : document_move_layer(doc, record->index, record->to_index);
    default:
        q_log(3, "unknown undo record type %d", static_cast<int>(record->type));
        return 0;
    }
}

void _settle_active(DOCUMENT* doc) {
    if (doc->active_layer && _layer_in_stack(doc, doc->active_layer)) return;
    doc->active_layer = doc->layers && doc->layers->end
                            ? static_cast<LAYER*>(doc->layers->end->ptr)
                            : NULL;
}

int _perform(DOCUMENT* doc, Direction direction) {
    q_assert(doc, return 0);
    q_assert(doc->undo, return 0);
    UNDO_SYSTEM* undo = doc->undo;
    if (undo->active) return 0;
    LIST* from = direction == Direction::undo ? undo->undo_stack : undo->redo_stack;
    LIST* to = direction == Direction::undo ? undo->redo_stack : undo->undo_stack;
    auto* record = static_cast<UNDO_RECORD*>(list_pop_f(from));
    if (!record) return 0;

    int result = 0;
    if (record->type == UNDO_PIXELS && record->layer && !_layer_in_stack(doc, record->layer)) {
        // The layer is compared, never touched: it may already be freed.
        if (!_layer_held(undo, record->layer)) {
            // Neither the stack nor any step holds the layer, so nothing can ever bring it
            // back; keeping the step would block every older one for good.
            q_log(3, "dropped a step for a layer that no longer exists");
            _undo_record_free(record);
            _settle_active(doc);
            return 0;
        }
        q_log(3, "the layer of this step is not in the document");
    } else {
        result = _apply(doc, record, direction);
        if (result < 0) {
            // Refused before anything changed: the step stays where it was.
            undo->refused = true;
            result = 0;
        } else {
            // Even a step that failed half way may have changed pixels.
            document_mark_changed(doc);
        }
    }
    if (!list_push(result ? to : from, record, _undo_record_free_ptr))
        _undo_discard(undo, record);
    _settle_active(doc);
    return result;
}

} // namespace

int undo_perform(DOCUMENT* doc) { return _perform(doc, Direction::undo); }

int redo_perform(DOCUMENT* doc) { return _perform(doc, Direction::redo); }

bool undo_take_refusal(DOCUMENT* doc) {
    q_assert(doc, return false);
    q_assert(doc->undo, return false);
    const bool refused = doc->undo->refused;
    doc->undo->refused = false;
    return refused;
}

bool undo_available(const DOCUMENT* doc) {
    q_assert(doc, return false);
    q_assert(doc->undo, return false);
    return doc->undo->undo_stack && doc->undo->undo_stack->count > 0;
}

bool redo_available(const DOCUMENT* doc) {
    q_assert(doc, return false);
    q_assert(doc->undo, return false);
    return doc->undo->redo_stack && doc->undo->redo_stack->count > 0;
}

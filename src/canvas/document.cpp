// ============================================================================================
// Documents
//   [SECTION] Layer stack
//   [SECTION] File format: shared helpers
//   [SECTION] File format: writing
//   [SECTION] File format: reading
//   [SECTION] Export
// ============================================================================================
#include "canvas/document.h"

#include <allegro5/allegro_memfile.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>
#include <sys/stat.h>

#include "canvas/allegro_state.h"
#include "canvas/compositor.h"
#include "canvas/reduce.h"
#include "canvas/snapshot.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_log.h"
#include "template.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Layer stack
// --------------------------------------------------------------------------------------------

namespace {

const char* _layer_label(const LAYER* layer) {
    return (layer && layer->name && layer->name->data) ? layer->name->data : "NULL";
}

LIST_NODE* _node_at(const LIST* layers, size_t index) {
    LIST_NODE* node = layers->start;
    for (size_t i = 0; node && i < index; i++)
        node = node->next;
    return node;
}

// Makes `wanted` the active layer when it is still in the stack; otherwise the top layer
// takes its place, so active_layer never points at a layer the document no longer holds.
void _document_settle_active(DOCUMENT* doc, LAYER* wanted) {
    if (wanted && document_layer_index(doc, wanted, NULL)) {
        doc->active_layer = wanted;
        return;
    }
    doc->active_layer = doc->layers->end ? static_cast<LAYER*>(doc->layers->end->ptr) : NULL;
}

} // namespace

DOCUMENT* document_new(int width, int height) {
    if (width < 1 || height < 1) {
        q_log(3, "bad document size %dx%d", width, height);
        return NULL;
    }
    DOCUMENT* doc = NULL;
    q_calloc(doc, DOCUMENT, 1);
    if (!doc) return NULL;
    doc->width = width;
    doc->height = height;
    doc->active_layer = NULL;
    doc->background = al_map_rgb_f(1.0f, 1.0f, 1.0f);
    doc->layer_counter = 0;
    doc->template_index = 0;
    doc->changes = 0;
    doc->layers = new_generic_list(SIZE_MAX);
    doc->undo = undo_new(width, height);
    if (!doc->layers || !doc->undo) {
        q_log(3, "could not create layer list or undo system");
        if (doc->layers) list_destroy(&doc->layers);
        if (doc->undo) undo_free(&doc->undo);
        q_free(doc);
        return NULL;
    }
    return doc;
}

void document_free(DOCUMENT** doc) {
    q_assert(doc, return);
    q_assert((*doc), return);
    // Before the stack: the history only holds layers the stack no longer does.
    if ((*doc)->undo) undo_free(&(*doc)->undo);
    if ((*doc)->layers) list_destroy(&(*doc)->layers);
    q_free(*doc);
}

LAYER* document_add_layer(DOCUMENT* doc, const char* name) {
    q_assert(doc, return NULL);
    q_assert(doc->layers, return NULL);
    // More layers than a document file can hold would make the drawing unsaveable.
    if (doc->layers->count >= DOCUMENT_MAX_LAYERS) {
        q_log(3, "could not add a layer: a document holds at most %zu layers",
              DOCUMENT_MAX_LAYERS);
        return NULL;
    }

    doc->layer_counter++;
    char default_name[64];
    if (!name) {
        snprintf(default_name, sizeof default_name, "Layer %u", doc->layer_counter);
        name = default_name;
    }
    LAYER* layer = layer_new(name, doc->width, doc->height);
    if (!layer) return NULL;
    if (!list_push(doc->layers, layer, layer_free_ptr)) {
        q_log(3, "could not push layer %s", name);
        layer_free(&layer);
        return NULL;
    }
    doc->active_layer = layer;
    doc->changes++;
    q_log(6, "added layer %s (%dx%d)", name, doc->width, doc->height);
    return layer;
}

void document_mark_changed(DOCUMENT* doc) {
    q_assert(doc, return);
    doc->changes++;
}

size_t document_layer_count(const DOCUMENT* doc) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    return doc->layers->count;
}

void document_memory(const DOCUMENT* doc, DOCUMENT_MEMORY* out) {
    q_assert(out, return);
    *out = DOCUMENT_MEMORY{};
    q_assert(doc, return);
    if (doc->layers) {
        for (const LIST_NODE* node = doc->layers->start; node; node = node->next) {
            out->committed_bytes += layer_committed_bytes(static_cast<const LAYER*>(node->ptr));
            out->committed_tiles += static_cast<const LAYER*>(node->ptr)->stored_tiles;
            out->committed_layers++;
        }
    }
    if (!doc->undo) return;
    UNDO_MEMORY history;
    undo_memory(doc->undo, &history);
    out->committed_bytes += history.layer_bytes;
    out->committed_layers += history.layers;
    out->committed_tiles += history.layer_tiles;
    out->undo_tile_bytes = history.tile_bytes;
    out->undo_tiles = history.tiles;
}

LAYER* document_layer_at(const DOCUMENT* doc, size_t index) {
    q_assert(doc, return NULL);
    q_assert(doc->layers, return NULL);
    LIST_NODE* node = _node_at(doc->layers, index);
    return node ? static_cast<LAYER*>(node->ptr) : NULL;
}

int document_layer_index(const DOCUMENT* doc, const LAYER* layer, size_t* index) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    q_assert(layer, return 0);
    size_t i = 0;
    for (LIST_NODE* node = doc->layers->start; node; node = node->next, i++) {
        if (node->ptr == layer) {
            if (index) *index = i;
            return 1;
        }
    }
    return 0;
}

LAYER* document_detach_layer(DOCUMENT* doc, size_t index) {
    q_assert(doc, return NULL);
    q_assert(doc->layers, return NULL);
    LIST_NODE* detached = _node_at(doc->layers, index);
    q_assert(detached, return NULL);

    auto* layer = static_cast<LAYER*>(remove_list_node_f(doc->layers, detached));
    if (!layer) return NULL;
    doc->changes++;
    if (doc->active_layer == layer) {
        const size_t count = doc->layers->count;
        doc->active_layer = count ? document_layer_at(doc, std::min(index, count - 1)) : NULL;
    }
    return layer;
}

int document_insert_layer(DOCUMENT* doc, LAYER* layer, size_t index) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    q_assert(layer, return 0);
    // A second node for the same layer would free it twice when the stack is destroyed.
    if (document_layer_index(doc, layer, NULL)) {
        q_log(3, "layer %s is already in the stack", _layer_label(layer));
        return 0;
    }

    const size_t count = doc->layers->count;
    index = std::min(index, count);
    const size_t depth = count - index;
    if (depth > DOCUMENT_MAX_INSERT_DEPTH) {
        q_log(3, "layer stack too deep for insert (%zu)", count);
        return 0;
    }
    doc->changes++;
    if (depth == 0) return list_push(doc->layers, layer, layer_free_ptr);

    // The list only grows at its ends: lift the layers above the insertion point off the top
    // (top first), push the new layer, then put them back in their old order.
    std::array<LAYER*, DOCUMENT_MAX_INSERT_DEPTH> above{};
    for (size_t i = 0; i < depth; i++)
        above[i] = static_cast<LAYER*>(list_pop_f(doc->layers));

    LAYER* const active = doc->active_layer;
    int result = list_push(doc->layers, layer, layer_free_ptr);
    bool lost_active = false;
    for (size_t i = depth; i-- > 0;) {
        if (!above[i]) continue;
        if (!list_push(doc->layers, above[i], layer_free_ptr)) {
            q_log(3, "lost layer %s while rebuilding the stack", _layer_label(above[i]));
            lost_active = lost_active || above[i] == active;
            layer_free(&above[i]);
            result = 0;
        }
    }
    if (lost_active) _document_settle_active(doc, NULL);
    return result;
}

int document_move_layer(DOCUMENT* doc, size_t from, size_t to) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    const size_t count = doc->layers->count;
    if (from == to || std::max(from, to) >= count) return 0;

    // Once the layer is detached the stack holds count - 1 layers and `to` lies
    // count - 1 - to positions below its top. Refuse here rather than detach a layer the
    // insert would then turn away.
    if (count - 1 - to > DOCUMENT_MAX_INSERT_DEPTH) {
        q_log(3, "layer stack too deep for insert (%zu)", count - 1);
        return 0;
    }

    LAYER* const active = doc->active_layer;
    LAYER* moved = document_detach_layer(doc, from);
    if (!moved) return 0;
    const int result = document_insert_layer(doc, moved, to);
    // Only a failed allocation gets here: put the layer back where it was rather than drop it.
    if (!result && !document_layer_index(doc, moved, NULL) &&
        !document_insert_layer(doc, moved, from)) {
        q_log(3, "lost layer %s while rebuilding the stack", _layer_label(moved));
        layer_free(&moved);
    }
    _document_settle_active(doc, active);
    return result;
}

int document_backup_active(DOCUMENT* doc) {
    q_assert(doc, return 0);
    q_assert(doc->active_layer, return 0);
    doc->changes++;
    return layer_backup(doc->active_layer);
}

int document_restore_all(DOCUMENT* doc) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    int result = 1;
    for (LIST_NODE* node = doc->layers->start; node; node = node->next) {
        if (!layer_restore(static_cast<LAYER*>(node->ptr))) result = 0;
    }
    return result;
}

// --------------------------------------------------------------------------------------------
// [SECTION] File format: shared helpers
// --------------------------------------------------------------------------------------------

namespace {

constexpr uint32_t TVL_MAX_SIDE = 16384;
constexpr uint32_t TVL_MAX_LAYERS = DOCUMENT_MAX_LAYERS;
constexpr uint32_t TVL_MAX_NAME = DOCUMENT_MAX_NAME;

using MemFile = std::unique_ptr<ALLEGRO_FILE, decltype(&al_fclose)>;

uint32_t get_u32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Reads a document file field by field, never past the size the file had when it was opened,
// so a claimed size is always checked against the bytes that are really there.
struct FileReader {
    FILE* file;
    size_t size;
    size_t offset;

    size_t remaining() const { return size - offset; }
    bool bytes(void* out, size_t count) {
        if (remaining() < count) return false;
        if (count > 0 && fread(out, 1, count, file) != count) return false;
        offset += count;
        return true;
    }
    bool u32(uint32_t* value) {
        unsigned char raw[4];
        if (!bytes(raw, 4)) return false;
        *value = get_u32(raw);
        return true;
    }
};

// Checks an embedded TGA image before anything is decoded: its size must be the document's,
// and the bytes present must be able to describe that many pixels, so a tiny file can never
// make the decoder allocate a huge image.
bool tga_header_fits(const unsigned char* image, size_t size, uint32_t width, uint32_t height,
                     bool* size_mismatch, uint32_t* found_w, uint32_t* found_h) {
    *size_mismatch = false;
    if (size < 18) return false;
    const unsigned id_length = image[0];
    const unsigned colour_map_type = image[1];
    const unsigned type = image[2];
    const uint32_t w = static_cast<uint32_t>(image[12]) | static_cast<uint32_t>(image[13]) << 8;
    const uint32_t h = static_cast<uint32_t>(image[14]) | static_cast<uint32_t>(image[15]) << 8;
    const unsigned depth = image[16];
    if (w != width || h != height) {
        *size_mismatch = true;
        *found_w = w;
        *found_h = h;
        return false;
    }
    if (colour_map_type != 0 || (depth != 24 && depth != 32)) return false;
    const uint64_t pixels = static_cast<uint64_t>(w) * h;
    const uint64_t bytes_per_pixel = depth / 8;
    const uint64_t header = 18 + id_length;
    if (type == 2) return size >= header + pixels * bytes_per_pixel;
    if (type == 10) {
        // Run-length packets hold at most 128 pixels each: one count byte plus one pixel.
        const uint64_t packets = (pixels + 127) / 128;
        return size >= header + packets * (1 + bytes_per_pixel);
    }
    return false;
}

// The most bytes a layer image of the document's size can need: every pixel in a packet of
// its own, plus room for an image id and the optional areas at the end of a TGA file.
uint64_t tga_max_size(uint32_t width, uint32_t height) {
    return 18 + 255 + static_cast<uint64_t>(width) * height * 5 + 65536;
}

} // namespace

unsigned char* _bitmap_encode(ALLEGRO_BITMAP* bitmap, const char* extension, size_t* size) {
    q_assert(bitmap, return NULL);
    q_assert(extension, return NULL);
    q_assert(size, return NULL);
    *size = 0;
    const size_t capacity = static_cast<size_t>(al_get_bitmap_width(bitmap)) *
                                static_cast<size_t>(al_get_bitmap_height(bitmap)) * 4 +
                            65536;
    unsigned char* buffer = NULL;
    q_calloc(buffer, unsigned char, capacity);
    if (!buffer) return NULL;
    ALLEGRO_FILE* file = al_open_memfile(buffer, static_cast<int64_t>(capacity), "w");
    if (!file) {
        q_log(3, "could not open memfile for %s encode", extension);
        free(buffer);
        return NULL;
    }
    const bool saved = al_save_bitmap_f(file, extension, bitmap);
    const int64_t position = al_ftell(file);
    const bool file_error = al_ferror(file) != 0;
    al_fclose(file);
    // A write that ran out of room leaves a truncated image: that is a failure, not a result.
    if (!saved || file_error || position <= 0 || static_cast<size_t>(position) >= capacity) {
        if (!saved) q_log(3, "%s encode failed", extension);
        free(buffer);
        return NULL;
    }
    *size = static_cast<size_t>(position);
    return buffer;
}

// --------------------------------------------------------------------------------------------
// [SECTION] File format: writing
// --------------------------------------------------------------------------------------------

int document_save(DOCUMENT* doc, const char* path) {
    q_assert(doc, return 0);
    q_assert(path, return 0);
    // Every layer image is encoded afresh, on both cores, then written in one pass.
    SNAPSHOT_CACHE* cache = snapshot_cache_new();
    DOCUMENT_SNAPSHOT* snapshot = NULL;
    const bool ok = cache && snapshot_cache_update(cache, doc, 0.0) &&
                    (snapshot = snapshot_take(cache, doc)) != NULL &&
                    snapshot_write(snapshot, path);
    if (snapshot) snapshot_free(&snapshot);
    if (cache) snapshot_cache_free(&cache);
    // Every way of failing ends here, so a failed save is always reported as one.
    if (!ok) {
        q_log(3, "could not save document to %s", path);
        return 0;
    }
    q_log(6, "saved document to %s", path);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] File format: reading
// --------------------------------------------------------------------------------------------

namespace {

struct LoadFailure {
    const char* path;
    size_t size;
    DOCUMENT** doc;
    int* error;

    DOCUMENT* at(size_t offset) {
        q_log(3, "malformed TVL document %s (offset %zu of %zu)", path, offset, size);
        return fail(DOCUMENT_LOAD_MALFORMED);
    }
    // A valid file that could not be held now: worth keeping, not worth moving aside.
    DOCUMENT* no_resources(size_t offset) {
        q_log(3, "could not make room for TVL document %s (offset %zu of %zu)", path, offset, size);
        return fail(DOCUMENT_LOAD_NO_RESOURCES);
    }
    DOCUMENT* fail(int why) {
        if (error) *error = why;
        if (*doc) document_free(doc);
        return NULL;
    }
};

// Decodes a layer image of a kind the fast decoders leave alone through the image library and
// hands its rows to `use(rows, pitch in pixels)`, which returns 1 or -1 (no memory). 1 when
// used, 0 for a broken image, -1 when memory ran out.
template <typename Use>
int decode_with_library(const unsigned char* image, size_t size, int w, int h, const char* label,
                        Use use) {
    MemFile file(al_open_memfile(const_cast<unsigned char*>(image), static_cast<int64_t>(size), "r"),
                 &al_fclose);
    if (!file) return -1;
    std::unique_ptr<ALLEGRO_BITMAP, void (*)(ALLEGRO_BITMAP*)> decoded(NULL, &al_destroy_bitmap);
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        decoded.reset(al_load_bitmap_flags_f(file.get(), ".tga", ALLEGRO_NO_PREMULTIPLIED_ALPHA));
    }
    if (!decoded) return 0;
    if (al_get_bitmap_width(decoded.get()) != w || al_get_bitmap_height(decoded.get()) != h) {
        q_log(3, "layer %s has size %dx%d, expected %dx%d", label, al_get_bitmap_width(decoded.get()),
              al_get_bitmap_height(decoded.get()), w, h);
        return 0;
    }
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap(decoded.get(), LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_READONLY);
    if (!region || region->pitch % 4 != 0) {
        if (region) al_unlock_bitmap(decoded.get());
        return -1;
    }
    const int used = use(static_cast<const uint32_t*>(region->data), region->pitch / 4);
    al_unlock_bitmap(decoded.get());
    return used;
}

// Decodes one layer image a band of tile rows at a time through `band` (LAYER_TILE_SIZE rows
// of the layer's width) into the layer's committed tiles, which layer_new left empty: only
// tiles holding a visible pixel take memory, and the image is never held whole. The common
// kinds are decoded here; anything else goes through the image library. 1 when stored, 0 for
// a broken image, -1 when memory for the tiles ran out.
int decode_into_tiles(LAYER* layer, const unsigned char* image, size_t size, uint32_t* band) {
    const int w = layer->width, h = layer->height;
    const int result = snapshot_decode_tga(
        image, size, w, h, reinterpret_cast<unsigned char*>(band), std::min(h, LAYER_TILE_SIZE),
        [&](int top, int rows) { return layer_write_committed(layer, 0, top, w, rows, band, w) == 1; });
    if (result == SNAPSHOT_TGA_OK) return 1;
    if (result == SNAPSHOT_TGA_BROKEN) return 0;
    if (result == SNAPSHOT_TGA_REFUSED) return -1;
    return decode_with_library(image, size, w, h, _layer_label(layer),
                               [&](const uint32_t* rows, ptrdiff_t pitch) {
                                   return layer_write_committed(layer, 0, 0, w, h, rows, pitch) == 1 ? 1 : -1;
                               });
}

// Decodes a src_w x src_h layer image scaled down to the layer's size, straight into its
// committed tiles: the image is never held at its own size. `pixels` holds the layer's size.
// Results as decode_into_tiles.
int decode_reduced(LAYER* layer, const unsigned char* image, size_t size, int src_w, int src_h,
                   uint32_t* pixels) {
    const int w = layer->width, h = layer->height;
    auto* out = reinterpret_cast<unsigned char*>(pixels);
    const ptrdiff_t pitch = static_cast<ptrdiff_t>(w) * 4;
    REDUCTION reduction;
    if (!reduction_start(&reduction, src_w, src_h, w, h, out, pitch)) return -1;
    int result = snapshot_reduce_tga(image, size, src_w, src_h, &reduction);
    if (result == SNAPSHOT_TGA_BROKEN) return 0;
    if (result == SNAPSHOT_TGA_OTHER_KIND)
        result = decode_with_library(image, size, src_w, src_h, _layer_label(layer),
                                     [&](const uint32_t* rows, ptrdiff_t row_pitch) {
                                         for (int y = 0; y < src_h; y++)
                                             reduction_add_pixels(&reduction, 0, y, rows + y * row_pitch, src_w);
                                         reduction_finish(&reduction);
                                         return 1;
                                     });
    if (result != 1) return result; // broken, or no memory (the library's answers)
    return layer_write_committed(layer, 0, 0, w, h, pixels, w) == 1 ? 1 : -1;
}

// A block for the layer images and one for their decoded pixels, grown as needed and reused
// from layer to layer, and given back to the system when the load ends. A layer image is
// megabytes of pages nothing has touched yet: large pages.
class ImageBuffer {
  public:
    ImageBuffer() = default;
    ImageBuffer(const ImageBuffer&) = delete;
    ImageBuffer& operator=(const ImageBuffer&) = delete;
    ~ImageBuffer() { platform_large_free(data_, capacity_); }
    unsigned char* reserve(size_t size) {
        if (size <= capacity_) return data_;
        platform_large_free(data_, capacity_);
        data_ = static_cast<unsigned char*>(platform_large_alloc(size));
        capacity_ = data_ ? size : 0;
        return data_;
    }

  private:
    unsigned char* data_ = nullptr;
    size_t capacity_ = 0;
};

} // namespace

DOCUMENT* document_load(const char* path) { return document_load_checked(path, NULL); }

namespace {
// Reads a document at its size, or (when `fit_w` is above 0) scaled down to fit fit_w x fit_h.
DOCUMENT* document_read(const char* path, int* error, int fit_w, int fit_h);
} // namespace

DOCUMENT* document_load_checked(const char* path, int* error) {
    return document_read(path, error, 0, 0);
}

DOCUMENT* document_load_reduced(const char* path, int max_w, int max_h, int* error) {
    q_assert(max_w > 0 && max_h > 0, return NULL);
    return document_read(path, error, max_w, max_h);
}

namespace {

DOCUMENT* document_read(const char* path, int* error, int fit_w, int fit_h) {
    q_assert(path, return NULL);
    if (error) *error = DOCUMENT_LOAD_UNREADABLE;
    // Never waits on a FIFO or a device that took the document's name.
    size_t file_size = 0;
    std::unique_ptr<FILE, int (*)(FILE*)> file(platform_open_regular(path, &file_size), fclose);
    if (!file) {
        q_log(3, "could not read %s", path);
        return NULL;
    }
    FileReader in{file.get(), file_size, 0};

    // The magic first: a file of any other kind is refused after reading four bytes.
    unsigned char header[20] = {};
    int version = 0;
    if (in.bytes(header, 4)) {
        if (memcmp(header, "TVL1", 4) == 0) version = 1;
        else if (memcmp(header, "TVL2", 4) == 0) version = 2;
        else if (memcmp(header, "TVL3", 4) == 0) version = 3;
    }
    DOCUMENT* doc = NULL;
    LoadFailure fail{path, in.size, &doc, error};
    if (version == 0 || in.size < 16) {
        q_log(3, "%s is not a TVL document", path);
        return fail.fail(DOCUMENT_LOAD_MALFORMED);
    }
    const size_t header_end = version == 3 ? 20 : 16;
    if (!in.bytes(header + 4, header_end - 4)) return fail.at(16);
    const uint32_t width = get_u32(header + 4), height = get_u32(header + 8);
    const uint32_t template_index = version == 3 ? get_u32(header + 12) : 0;
    const uint32_t count = get_u32(header + header_end - 4);
    if (width < 1 || width > TVL_MAX_SIDE || height < 1 || height > TVL_MAX_SIDE ||
        count > TVL_MAX_LAYERS)
        return fail.at(header_end);

    // Every record needs at least its fixed fields and one image byte: a count that the
    // remaining bytes cannot hold is refused before anything is allocated.
    const size_t fixed = version == 1 ? 20 : 24;
    if (static_cast<uint64_t>(count) * (fixed + 1) > in.remaining()) return fail.at(header_end);

    int doc_w = static_cast<int>(width), doc_h = static_cast<int>(height);
    const bool reduced = fit_w > 0 && reduce_fit(doc_w, doc_h, fit_w, fit_h, &doc_w, &doc_h) == 1;
    doc = document_new(doc_w, doc_h);
    if (!doc) return fail.no_resources(header_end);
    doc->template_index = template_index < static_cast<uint32_t>(template_count())
                              ? static_cast<int32_t>(template_index)
                              : 0;

    ImageBuffer buffer, decoded;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t name_length = 0;
        if (!in.u32(&name_length) || name_length > TVL_MAX_NAME || in.remaining() < name_length)
            return fail.at(in.offset);
        char name[TVL_MAX_NAME + 1];
        if (!in.bytes(name, name_length)) return fail.at(in.offset);
        name[name_length] = 0;
        uint32_t opacity = 0, blend = 0, visible = 0, locked = 0, image_size = 0;
        if (!in.u32(&opacity) || !in.u32(&blend) || !in.u32(&visible))
            return fail.at(in.offset);
        if (version >= 2 && !in.u32(&locked)) return fail.at(in.offset);
        if (!in.u32(&image_size) || image_size == 0 || in.remaining() < image_size ||
            image_size > tga_max_size(width, height))
            return fail.at(in.offset);
        const size_t image_at = in.offset;
        unsigned char* image = buffer.reserve(image_size);
        if (!image) return fail.no_resources(image_at);
        if (!in.bytes(image, image_size)) return fail.at(image_at);
        bool size_mismatch = false;
        uint32_t found_w = 0, found_h = 0;
        if (!tga_header_fits(image, image_size, width, height, &size_mismatch, &found_w,
                             &found_h)) {
            if (size_mismatch)
                q_log(3, "layer %s has size %ux%u, expected %ux%u", name, found_w, found_h, width,
                      height);
            else
                q_log(3, "layer %s image is not a complete %ux%u TGA image", name, width, height);
            return fail.at(image_at);
        }

        LAYER* layer = document_add_layer(doc, name);
        if (!layer) return fail.no_resources(image_at);
        layer->opacity = std::min(static_cast<float>(opacity / 1000.0), 1.0f);
        layer->blend = static_cast<int32_t>(blend);
        layer->visible = visible != 0;
        layer->locked = locked != 0;
        // A band of tile rows, or the whole of a reduced layer.
        const size_t rows = reduced ? static_cast<size_t>(doc_h) : std::min<size_t>(height, LAYER_TILE_SIZE);
        auto* pixels = reinterpret_cast<uint32_t*>(decoded.reserve(static_cast<size_t>(doc_w) * rows * 4));
        if (!pixels) return fail.no_resources(image_at);
        const int decoded_ok =
            reduced ? decode_reduced(layer, image, image_size, static_cast<int>(width),
                                     static_cast<int>(height), pixels)
                    : decode_into_tiles(layer, image, image_size, pixels);
        // Memory running out for the tiles is not a broken file: it is kept as it is.
        if (decoded_ok < 0) return fail.no_resources(image_at);
        if (decoded_ok == 0) return fail.at(image_at);
        if (!layer_upload(layer)) return fail.no_resources(image_at);
        layer_stamp_tiles(layer, 0, 0, doc_w, doc_h);
    }

    doc->active_layer = doc->layers->end ? static_cast<LAYER*>(doc->layers->end->ptr) : NULL;
    if (reduced) q_log(6, "loaded document %s (%ux%u as %dx%d, %u layers)", path, width, height, doc_w, doc_h, count);
    else q_log(6, "loaded document %s (%ux%u, %u layers)", path, width, height, count);
    if (error) *error = DOCUMENT_LOAD_OK;
    return doc;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Export
// --------------------------------------------------------------------------------------------

namespace {

void put_be32(unsigned char* p, uint32_t value) {
    p[0] = static_cast<unsigned char>(value >> 24);
    p[1] = static_cast<unsigned char>(value >> 16);
    p[2] = static_cast<unsigned char>(value >> 8);
    p[3] = static_cast<unsigned char>(value);
}

uint32_t chunk_crc(const unsigned char* start, size_t length) {
    return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), start, static_cast<uInt>(length)));
}

// One scan line: straight alpha (PNG has no premultiplied form), filtered with None or Up,
// whichever leaves the smaller sum of distances from zero (the usual cheap estimate of what
// compresses better). `previous` holds the line above unfiltered (zeros for the first).
void png_filter_row(const unsigned char* src, int width, unsigned char* previous,
                    unsigned char* line, unsigned char* out) {
    const size_t bytes = static_cast<size_t>(width) * 4;
    memcpy(line, src, bytes);
    for (size_t i = 3; i < bytes; i += 4) {
        const unsigned a = line[i];
        if (a == 0 || a == 255) continue;
        for (size_t c = i - 3; c < i; c++)
            line[c] = static_cast<unsigned char>(std::min(255u, (line[c] * 255u + a / 2) / a));
    }
    unsigned none = 0, up = 0;
    for (size_t i = 0; i < bytes; i++) {
        none += static_cast<unsigned>(std::abs(static_cast<signed char>(line[i])));
        up += static_cast<unsigned>(
            std::abs(static_cast<signed char>(static_cast<unsigned char>(line[i] - previous[i]))));
    }
    if (up < none) {
        out[0] = 2;
        for (size_t i = 0; i < bytes; i++)
            out[1 + i] = static_cast<unsigned char>(line[i] - previous[i]);
    } else {
        out[0] = 0;
        memcpy(out + 1, line, bytes);
    }
    memcpy(previous, line, bytes);
}

// Raw deflate of one part of the scan lines. Every part but the last ends on a byte boundary
// without closing the stream, so the parts can simply be put one after the other; a part
// starts with the 32 KiB before it as its dictionary, as if compressed in one go.
struct DeflatePart {
    const unsigned char* data;
    size_t size;
    size_t dictionary; // bytes before `data` to prime the compressor with
    bool last;
    std::unique_ptr<unsigned char[]> out; // only the first `out_size` bytes are ever touched
    size_t out_size = 0;
    bool ok = false;

    void run() {
        z_stream z{};
        if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return;
        const size_t bound = deflateBound(&z, static_cast<uLong>(size)) + 16;
        out.reset(new (std::nothrow) unsigned char[bound]);
        if (out) {
            if (dictionary > 0)
                deflateSetDictionary(&z, data - dictionary, static_cast<uInt>(dictionary));
            z.next_in = const_cast<unsigned char*>(data);
            z.avail_in = static_cast<uInt>(size);
            z.next_out = out.get();
            z.avail_out = static_cast<uInt>(bound);
            const int result = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
            ok = last ? result == Z_STREAM_END : (result == Z_OK && z.avail_in == 0);
            out_size = z.total_out;
        }
        deflateEnd(&z);
    }
};

} // namespace

unsigned char* document_png_encode(ALLEGRO_BITMAP* bitmap, size_t* out_size) {
    q_assert(bitmap, return NULL);
    q_assert(out_size, return NULL);
    *out_size = 0;
    const int width = al_get_bitmap_width(bitmap);
    const int height = al_get_bitmap_height(bitmap);
    if (width < 1 || height < 1) return NULL;

    const size_t row_bytes = static_cast<size_t>(width) * 4 + 1;
    const size_t raw_size = static_cast<size_t>(height) * row_bytes;
    std::unique_ptr<unsigned char[]> raw(new (std::nothrow) unsigned char[raw_size]);
    std::unique_ptr<unsigned char[]> lines(new (std::nothrow) unsigned char[(row_bytes - 1) * 2]());
    if (!raw || !lines) {
        q_log(3, "could not allocate %zu bytes for the png encode", raw_size);
        return NULL;
    }
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!region) {
        q_log(3, "could not lock the bitmap for the png encode");
        return NULL;
    }
    for (int y = 0; y < height; y++)
        png_filter_row(static_cast<const unsigned char*>(region->data) + y * region->pitch, width,
                       lines.get(), lines.get() + row_bytes - 1,
                       raw.get() + static_cast<size_t>(y) * row_bytes);
    al_unlock_bitmap(bitmap);

    // Deflate is most of the time: the two halves go to both cores.
    const size_t half = static_cast<size_t>(height / 2) * row_bytes;
    const bool split = half >= (1u << 20);
    DeflatePart parts[2] = {
        {raw.get(), split ? half : raw_size, 0, !split, nullptr},
        {raw.get() + half, raw_size - half, std::min<size_t>(half, 32768), true, nullptr}};
    if (split) {
        try {
            std::thread helper([&parts] { parts[1].run(); });
            parts[0].run();
            helper.join();
        } catch (const std::system_error&) {
            parts[0].run();
            parts[1].run();
        }
    } else {
        parts[0].run();
    }
    if (!parts[0].ok || (split && !parts[1].ok)) {
        q_log(3, "png deflate failed (%d)", Z_MEM_ERROR);
        return NULL;
    }
    uLong adler = adler32(0L, Z_NULL, 0);
    adler = adler32(adler, raw.get(), static_cast<uInt>(split ? half : raw_size));
    if (split) {
        const uLong second = adler32(adler32(0L, Z_NULL, 0), raw.get() + half,
                                     static_cast<uInt>(raw_size - half));
        adler = adler32_combine(adler, second, static_cast<z_off_t>(raw_size - half));
    }
    raw.reset();

    // The zlib stream: a two-byte header (deflate, 32 KiB window, fastest level), the parts,
    // then the Adler-32 of everything.
    const size_t compressed_size = 2 + parts[0].out_size + (split ? parts[1].out_size : 0) + 4;
    const size_t total = compressed_size + 57;
    unsigned char* out = NULL;
    q_calloc(out, unsigned char, total);
    if (!out) return NULL;
    static constexpr unsigned char signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    memcpy(out, signature, 8);
    put_be32(out + 8, 13);
    memcpy(out + 12, "IHDR", 4);
    put_be32(out + 16, static_cast<uint32_t>(width));
    put_be32(out + 20, static_cast<uint32_t>(height));
    out[24] = 8; // bit depth
    out[25] = 6; // RGBA
    out[26] = out[27] = out[28] = 0;
    put_be32(out + 29, chunk_crc(out + 12, 17));
    put_be32(out + 33, static_cast<uint32_t>(compressed_size));
    memcpy(out + 37, "IDAT", 4);
    unsigned char* stream = out + 41;
    stream[0] = 0x78;
    stream[1] = 0x01;
    size_t at = 2;
    for (int i = 0; i < (split ? 2 : 1); i++) {
        memcpy(stream + at, parts[i].out.get(), parts[i].out_size);
        at += parts[i].out_size;
    }
    put_be32(stream + at, static_cast<uint32_t>(adler));
    put_be32(out + 41 + compressed_size, chunk_crc(out + 37, compressed_size + 4));
    put_be32(out + 45 + compressed_size, 0);
    memcpy(out + 49 + compressed_size, "IEND", 4);
    put_be32(out + 53 + compressed_size, chunk_crc(out + 49 + compressed_size, 4));
    *out_size = total;
    return out;
}

int document_export_png_region(DOCUMENT* doc, const char* path, int x, int y, int width,
                               int height, bool include_template, char* written_path,
                               size_t written_size) {
    q_assert(doc, return 0);
    q_assert(path, return 0);
    const bool report = written_path && written_size > 0;
    if (report) written_path[0] = 0;

    ALLEGRO_BITMAP* flat = compositor_flatten_region(doc, x, y, width, height, include_template);
    q_assert(flat, return 0);

    char tga_path[1024];
    const char* target = path;
    size_t size = 0;
    // Our own encoder first: it is several times faster than the image library's at a size
    // within a fifth of the library's default compression.
    unsigned char* image = document_png_encode(flat, &size);
    if (!image) image = _bitmap_encode(flat, ".png", &size);
    if (!image) {
        // Last resort: an image any viewer opens, under a name that says what it is.
        const int n = snprintf(tga_path, sizeof tga_path, "%s.tga", path);
        if (n > 0 && static_cast<size_t>(n) < sizeof tga_path) {
            image = _bitmap_encode(flat, ".tga", &size);
            target = tga_path;
        } else {
            q_log(3, "could not export %s: no room for the .tga fallback name", path);
        }
    }
    al_destroy_bitmap(flat);
    q_assert(image, return 0);

    // The caller shows and opens the path it gets back, so it must be the whole path.
    if (report && strlen(target) >= written_size) {
        q_log(3, "could not export %s: the written path does not fit", target);
        free(image);
        return 0;
    }
    const bool ok = platform_write_file(target, image, size, NULL);
    free(image);
    if (!ok) {
        q_log(3, "could not export %s", target);
        return 0;
    }
    if (report) snprintf(written_path, written_size, "%s", target);
    q_log(6, "exported composite to %s", target);
    return 1;
}

int document_export_png(DOCUMENT* doc, const char* path) {
    q_assert(doc, return 0);
    return document_export_png_region(doc, path, 0, 0, doc->width, doc->height, true, NULL, 0);
}

int document_content_bbox(DOCUMENT* doc, int* x0, int* y0, int* x1, int* y1) {
    q_assert(doc, return 0);
    q_assert(x0, return 0);
    q_assert(y0, return 0);
    q_assert(x1, return 0);
    q_assert(y1, return 0);
    if (document_layer_count(doc) == 0) return 0;
    int min_x = doc->width, min_y = doc->height, max_x = -1, max_y = -1;
    for (LIST_NODE* node = doc->layers->start; node; node = node->next) {
        LAYER* layer = static_cast<LAYER*>(node->ptr);
        if (!layer->visible || layer->opacity <= 0.0f) continue;
        // Only stored tiles can hold a visible pixel.
        for (int row = 0; row < layer->tiles_y; row++) {
            for (int col = 0; col < layer->tiles_x; col++) {
                const uint32_t* tile = layer_committed_tile(layer, col, row);
                if (!tile) continue;
                const int tx = col * LAYER_TILE_SIZE, ty = row * LAYER_TILE_SIZE;
                const int w = std::min(LAYER_TILE_SIZE, layer->width - tx);
                const int h = std::min(LAYER_TILE_SIZE, layer->height - ty);
                for (int y = 0; y < h; y++) {
                    const uint32_t* pixels = tile + static_cast<size_t>(y) * LAYER_TILE_SIZE;
                    for (int x = 0; x < w; x++) {
                        if ((pixels[x] >> 24) == 0) continue;
                        min_x = std::min(min_x, tx + x);
                        max_x = std::max(max_x, tx + x);
                        min_y = std::min(min_y, ty + y);
                        max_y = std::max(max_y, ty + y);
                    }
                }
            }
        }
    }
    if (max_x < 0) return 0;
    *x0 = min_x;
    *y0 = min_y;
    *x1 = max_x;
    *y1 = max_y;
    return 1;
}

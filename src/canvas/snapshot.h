// Document files written from snapshots of the committed pixels, and the layer images in them.
//
// A snapshot holds everything a document file needs: the size, the template, each layer's
// properties and its image as run-length encoded rows. Taking one is quick and happens on the
// main thread; writing one makes no Allegro call and touches nothing the document owns, so it
// may run on any thread while painting goes on.
//
// Layer images are encoded tile by tile (LAYER_TILE_SIZE square) and cached under the tile's
// stamp (layer.h), so a tile that did not change since the last snapshot is never encoded
// again. A run-length packet never crosses a tile's edge; since a packet holds at most 128
// pixels and tiles are 256 wide, that costs nothing in size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct DOCUMENT;
struct REDUCTION;
struct SNAPSHOT_TILE; // one encoded tile; immutable once made, shared by cache and snapshots
struct SNAPSHOT_CACHE;

struct SNAPSHOT_LAYER {
    std::string name;
    uint32_t opacity; // opacity x 1000, rounded, as the file stores it
    uint32_t blend;
    bool visible;
    bool locked;
    std::vector<std::shared_ptr<const SNAPSHOT_TILE>> tiles; // tiles_x * tiles_y, row-major
};

// The writer hands the file to the system in pieces of this size.
constexpr size_t SNAPSHOT_WRITE_PIECE = 1u << 20;

struct DOCUMENT_SNAPSHOT {
    int32_t width, height;
    int32_t template_index;
    int32_t tiles_x, tiles_y;
    uint64_t changes;   // the document's change counter when the snapshot was taken
    uint64_t signature; // snapshot_signature of the document when the snapshot was taken
    std::vector<SNAPSHOT_LAYER> layers; // bottom of the stack first
    // The writer's buffer, made with the snapshot: a writer on a thread of the lowest
    // priority then allocates nothing, so it never holds the memory allocator's locks that
    // the main thread may be waiting for while it cannot get a core.
    mutable std::vector<unsigned char> write_buffer;
};

SNAPSHOT_CACHE* snapshot_cache_new();
void snapshot_cache_free(SNAPSHOT_CACHE** cache);
// Bytes the cache's encoded tiles take, and how many tiles it holds (`tiles` may be NULL).
size_t snapshot_cache_bytes(const SNAPSHOT_CACHE* cache, size_t* tiles);
// Encodes the document's tiles that the cache does not hold yet. With a budget above 0 it
// stops once that many seconds have passed (the main loop's slices); with 0 it encodes
// everything, on both cores. Returns 1 when every tile is in the cache, and then forgets the
// tiles the document no longer has. Main thread.
int snapshot_cache_update(SNAPSHOT_CACHE* cache, DOCUMENT* doc, double budget);
// The document as it is now, built from the cache; NULL when a tile is not cached yet or the
// document could not be read back from a file (the reason is logged). Main thread.
DOCUMENT_SNAPSHOT* snapshot_take(SNAPSHOT_CACHE* cache, const DOCUMENT* doc);
void snapshot_free(DOCUMENT_SNAPSHOT** snapshot);
// Writes the snapshot as a version 3 document file, replacing `path` only once the whole file
// is written and synced. Any thread. Returns 1 or 0 (the reason is logged, and `error`, when
// given, gets its errno).
int snapshot_write(const DOCUMENT_SNAPSHOT* snapshot, const char* path, int* error = nullptr);
// A hash of what a file holds besides the pixels: size, template, layer count and every
// layer's name and properties. Tells a changed document from an unchanged one even when the
// change did not go through the change counter.
uint64_t snapshot_signature(const DOCUMENT* doc);

// What decoding a layer image gave.
enum SNAPSHOT_TGA {
    SNAPSHOT_TGA_OK = 1,
    SNAPSHOT_TGA_BROKEN = 0,
    SNAPSHOT_TGA_OTHER_KIND = -1, // a kind of TGA image these decoders leave to the image library
    SNAPSHOT_TGA_REFUSED = -2,    // the taker of a band said no (memory ran out)
};
// Decodes a 32-bit layer image with 8 alpha bits, uncompressed (type 2) or run-length (type
// 10), rows stored either way up, band by band: `band` holds `band_rows` rows of `width`
// pixels (R, G, B, A), and each time one is decoded `take(top, rows)` is given it (rows counted
// from the image's top; the last band may be shorter). So an image never needs a buffer of its
// own size. A SNAPSHOT_TGA value.
int snapshot_decode_tga(const unsigned char* image, size_t size, int width, int height,
                        unsigned char* band, int band_rows,
                        const std::function<bool(int top, int rows)>& take);
// The same image fed to a reduction started for width x height (reduce.h), which it finishes,
// without ever holding the image at its own size. The same results.
int snapshot_reduce_tga(const unsigned char* image, size_t size, int width, int height,
                        REDUCTION* into);

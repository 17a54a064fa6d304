// One raster layer of a document: a working bitmap that tools paint into and the compositor
// draws, plus a system-memory copy of the committed pixels kept as a grid of square tiles.
//
// Outside an open undo operation the committed tiles hold exactly the pixels of `bitmap`;
// during one they still hold the state from before, so the history can read "before" from the
// tiles and "after" from the working bitmap. After a display loss the working bitmap is rebuilt
// from the tiles. Pixels are premultiplied RGBA.
//
// A tile exists only once something visible was written to it: a tile never painted, or
// painted back to fully transparent, is not stored and reads as transparent. A drawing that
// covers a small part of a big canvas therefore costs memory for that part only.
#pragma once

#include <allegro5/allegro.h>

#include <cstddef>
#include <cstdint>

#include "q/q_str.h"

enum LAYER_BLEND {
    LAYER_BLEND_NORMAL = 0,
    LAYER_BLEND_MULTIPLY = 1,
    LAYER_BLEND_SCREEN = 2,
    LAYER_BLEND_ADD = 3,
};

// Working bitmaps are video bitmaps with linear minification so zoomed-out views stay smooth.
// They are not preserved by the driver: the committed tiles are the copy a lost texture is
// rebuilt from, and a second full-size copy kept by the driver would double the memory.
constexpr int LAYER_BITMAP_FLAGS =
    ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR | ALLEGRO_NO_PRESERVE_TEXTURE;
// The flags a working bitmap is made with now: LAYER_BITMAP_FLAGS under a display, memory
// bitmaps where there is none (the command-line conversions, which never open a window).
int layer_bitmap_flags();
// Layer pixels are stored in the byte order every CPU-side tool locks them in (R, G, B, A), so
// locking a 4096-pixel layer never converts 64 MB on the way in and out.
constexpr int LAYER_PIXEL_FORMAT = ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE;
// Committed pixels are tracked in square tiles of this size (the undo system's tiles). Every
// change to a committed tile gives it a stamp no tile of any layer ever had before, so
// anything derived from a tile (such as its encoding in a document file) stays valid for as
// long as the tile keeps its stamp.
constexpr int LAYER_TILE_SIZE = 256;
// Every stored tile is a full LAYER_TILE_SIZE square (edge tiles too; pixels past the layer's
// edge stay 0), rows LAYER_TILE_SIZE pixels apart.
constexpr size_t LAYER_TILE_BYTES = static_cast<size_t>(LAYER_TILE_SIZE) * LAYER_TILE_SIZE * 4;

struct LAYER {
    Q_STR* name;            // display name, owned
    ALLEGRO_BITMAP* bitmap; // working pixels, owned
    int32_t width, height;  // the layer's size in pixels
    float opacity;          // 0.0 to 1.0
    bool visible;
    bool locked;      // tools refuse to change a locked layer
    int32_t blend;    // a LAYER_BLEND; unknown values behave as Normal
    bool needs_clear; // working bitmap content is undefined until the compositor clears it
    uint64_t* tile_stamps; // tiles_x * tiles_y stamps of the committed tiles, row-major, owned
    uint32_t** tiles;      // tiles_x * tiles_y committed tiles, row-major; NULL = transparent
    int32_t tiles_x, tiles_y;
    size_t stored_tiles; // how many of `tiles` are not NULL
};

// A new layer of the given size: opacity 1, visible, unlocked, Normal, no committed tile.
// The working bitmap is left for the compositor to clear (needs_clear is set), because a video
// bitmap can only be cleared with the display's context current. NULL on failure.
LAYER* layer_new(const char* name, int width, int height);
// Destroys the working bitmap, the tiles and the name, frees the record and sets *layer to NULL.
void layer_free(LAYER** layer);
// Destructor for lists of layers.
void layer_free_ptr(void* layer);
// Replaces the name with `text` trimmed of leading and trailing spaces. Empty or all-space
// text (and NULL) keeps the old name. Returns 1 when the name was replaced, else 0.
int layer_set_name(LAYER* layer, const char* text);
// "Normal", "Multiply", "Screen" or "Add"; any unknown mode is "Normal".
const char* layer_blend_mode_name(int mode);
// Makes the committed tiles a copy of the whole working bitmap. On failure (the working bitmap
// cannot be read, or memory for the tiles ran out) the committed pixels stay as they were.
// Returns 1 or 0.
int layer_backup(LAYER* layer);
// The same for one rectangle of the working bitmap (clipped to the layer).
int layer_backup_region(LAYER* layer, int x, int y, int w, int h);
// Gives every tile overlapping the rectangle a fresh stamp. The writers below do it; anything
// else that changes committed pixels must, or copies made from the old pixels look current.
void layer_stamp_tiles(LAYER* layer, int x, int y, int w, int h);
// The stamp of one committed tile; 0 for a tile outside the layer.
uint64_t layer_tile_stamp(const LAYER* layer, int col, int row);
// The pixels of one committed tile (LAYER_TILE_SIZE rows of LAYER_TILE_SIZE pixels packed as
// layer_committed_pixel packs them), or NULL for a transparent or out-of-range tile. Valid
// until the next write to the layer.
const uint32_t* layer_committed_tile(const LAYER* layer, int col, int row);
// Rebuilds the working bitmap from the committed tiles: a new bitmap, cleared, and only the
// stored tiles uploaded. A layer without a stored tile gets a blank bitmap marked needs_clear.
// Returns 1 or 0.
int layer_restore(LAYER* layer);
// Makes the existing working bitmap show the committed pixels: cleared, then the stored tiles
// uploaded (without a stored tile it is only marked needs_clear). Returns 1 or 0.
int layer_upload(LAYER* layer);
// Bytes of system memory the committed tiles take.
size_t layer_committed_bytes(const LAYER* layer);
// Premultiplied RGBA of one committed pixel (bytes R, G, B, A in memory order packed as
// uint32_t little-endian), 0 for a pixel outside the layer or in an absent tile. Reads the
// committed copy only: what an open stroke or a floating selection shows is not in it yet.
uint32_t layer_committed_pixel(const LAYER* layer, int x, int y);
// Copies a rectangle of committed pixels (packed as layer_committed_pixel packs them) into
// `dst`, whose rows are `dst_stride` pixels apart; pixels outside the layer read as 0. The
// writers and the exports read layers through this, so they never care how the committed copy
// is stored. Returns 1, or 0 when nothing could be read.
int layer_read_committed(const LAYER* layer, int x, int y, int w, int h, uint32_t* dst,
                         size_t dst_stride);
// A new memory bitmap of the layer's size (LAYER_PIXEL_FORMAT, premultiplied) holding all its
// committed pixels, for code that wants them as one picture (scaling, tests). NULL on failure.
ALLEGRO_BITMAP* layer_committed_bitmap(const LAYER* layer);
// Writes a rectangle of committed pixels from `src` (rows `src_stride` pixels apart, which may
// be negative for bottom-up sources), clipped to the layer. Tiles are allocated where visible
// pixels arrive and freed where a tile ends up wholly transparent; every touched tile gets a
// fresh stamp. All or nothing: when memory for a tile runs out the layer keeps what it held
// and 0 is returned. The working bitmap is not touched.
int layer_write_committed(LAYER* layer, int x, int y, int w, int h, const uint32_t* src,
                          ptrdiff_t src_stride);
// Makes sure every tile overlapping the rectangle is stored (absent ones become transparent
// tiles), so later writes there cannot run out of memory. All or nothing; 1 or 0.
int layer_reserve_tiles(LAYER* layer, int x, int y, int w, int h);
// Frees the wholly transparent stored tiles overlapping the rectangle (after a reservation that
// was not used).
void layer_release_clear_tiles(LAYER* layer, int x, int y, int w, int h);
// Makes a memory bitmap of the layer's size (premultiplied) its committed pixels and rebuilds
// the working bitmap from them. Takes `pixels` in every case. Returns 1 or 0; on 0 the layer
// keeps what it held.
int layer_take_pixels(LAYER* layer, ALLEGRO_BITMAP* pixels);
// Test hook: the `n`th tile allocation from now fails (1 = the next one), as when memory runs
// out; 0 lets every allocation through again.
void layer_fail_tile_allocation(int n);
// How many tile allocations were asked for so far in this run (for tests and reports).
uint64_t layer_tile_allocations();

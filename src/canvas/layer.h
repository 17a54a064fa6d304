// One raster layer of a document: a working bitmap that tools paint into and the compositor
// draws, plus a system-memory copy of the committed pixels.
//
// Outside an open undo operation `backup` holds exactly the pixels of `bitmap`; during one it
// still holds the state from before, so the history can read "before" from the backup and
// "after" from the working bitmap. After a display loss the working bitmap is rebuilt from the
// backup. Pixels are premultiplied RGBA.
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
constexpr int LAYER_BITMAP_FLAGS = ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR; // 1088
constexpr int LAYER_BACKUP_FLAGS = ALLEGRO_MEMORY_BITMAP;                     // 1
// The flags a working bitmap is made with now: LAYER_BITMAP_FLAGS under a display, memory
// bitmaps where there is none (the command-line conversions, which never open a window).
int layer_bitmap_flags();
// Layer pixels are stored in the byte order every CPU-side tool locks them in (R, G, B, A), so
// locking a 4096-pixel layer never converts 64 MB on the way in and out.
constexpr int LAYER_PIXEL_FORMAT = ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE;
// Committed pixels are tracked in square tiles of this size (the undo system's tiles). Every
// change to a tile of the backup gives it a stamp no tile of any layer ever had before, so
// anything derived from a tile (such as its encoding in a document file) stays valid for as
// long as the tile keeps its stamp.
constexpr int LAYER_TILE_SIZE = 256;

struct LAYER {
    Q_STR* name;            // display name, owned
    ALLEGRO_BITMAP* bitmap; // working pixels, owned
    ALLEGRO_BITMAP* backup; // committed pixels in system memory, owned
    float opacity;          // 0.0 to 1.0
    bool visible;
    bool locked;      // tools refuse to change a locked layer
    int32_t blend;    // a LAYER_BLEND; unknown values behave as Normal
    bool needs_clear; // working bitmap content is undefined until the compositor clears it
    uint64_t* tile_stamps; // tiles_x * tiles_y stamps of the backup's tiles, row-major, owned
    int32_t tiles_x, tiles_y;
};

// A new layer of the given size: opacity 1, visible, unlocked, Normal, transparent backup.
// The working bitmap is left for the compositor to clear (needs_clear is set), because a video
// bitmap can only be cleared with the display's context current. NULL on failure.
LAYER* layer_new(const char* name, int width, int height);
// Destroys both bitmaps and the name, frees the record and sets *layer to NULL.
void layer_free(LAYER** layer);
// Destructor for lists of layers.
void layer_free_ptr(void* layer);
// Replaces the name with `text` trimmed of leading and trailing spaces. Empty or all-space
// text (and NULL) keeps the old name. Returns 1 when the name was replaced, else 0.
int layer_set_name(LAYER* layer, const char* text);
// "Normal", "Multiply", "Screen" or "Add"; any unknown mode is "Normal".
const char* layer_blend_mode_name(int mode);
// Replaces the backup with a fresh memory copy of the working bitmap. On failure the old
// backup stays. Returns 1 or 0.
int layer_backup(LAYER* layer);
// Gives every tile overlapping the rectangle a fresh stamp. Whatever writes into `backup` must
// call this (the undo system does), or copies made from the old pixels look current.
void layer_stamp_tiles(LAYER* layer, int x, int y, int w, int h);
// The stamp of one backup tile; 0 for a tile outside the layer.
uint64_t layer_tile_stamp(const LAYER* layer, int col, int row);
// Rebuilds the working bitmap as a video bitmap from the backup; with no backup a blank bitmap
// of the same size is made and marked needs_clear. Returns 1 or 0.
int layer_restore(LAYER* layer);
// Bytes of system memory the committed copy (`backup`) takes; 0 without one.
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
// Makes a memory bitmap of the layer's size (premultiplied) its committed pixels and rebuilds
// the working bitmap from them. Takes `pixels` in every case. Returns 1 or 0; on 0 the layer
// keeps what it held.
int layer_take_pixels(LAYER* layer, ALLEGRO_BITMAP* pixels);

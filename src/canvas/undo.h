// The per-document history of pixel and layer-stack changes.
//
// Pixel changes are kept as the "before" copies of the 256 x 256 tiles an operation touched.
// No copy is taken when a tool starts: the layer's committed tiles still hold the earlier
// pixels while an operation is open, so commit reads "before" from them and then brings them
// up to date. "After" pixels are read back from the working bitmap only when a step is
// first undone, so a step that is never undone costs one copy of its tiles.
//
// Calling order for every pixel-changing tool: undo_begin, report the touched areas with
// undo_mark_dirty or undo_mark_dirty_rect, change the pixels, then commit, abort or revert.
// Layer-stack changes are recorded after the document has made them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "canvas/layer.h"
#include "q/q_list.h"

struct DOCUMENT;

constexpr int UNDO_TILE_SIZE = 256;
constexpr size_t UNDO_MAX_RECORDS = 30;

enum UNDO_TYPE : uint32_t {
    UNDO_PIXELS = 0,
    UNDO_LAYER_ADD = 1,
    UNDO_LAYER_REMOVE = 2,
    UNDO_LAYER_MOVE = 3,
};

struct UNDO_SYSTEM {
    LIST* undo_stack;   // owned UNDO_RECORDs, oldest at the start
    LIST* redo_stack;   // owned UNDO_RECORDs, most recently undone at the end
    size_t max_records; // steps kept on undo_stack
    bool active;        // a pixel operation is open
    LAYER* layer;       // layer of the open operation, not owned; NULL when idle
    uint8_t* dirty;     // tiles_x * tiles_y flags, row-major; set = touched by the open operation
    int32_t tiles_x;
    int32_t tiles_y;
    struct UNDO_TILE** kept; // tiles_x * tiles_y; the tiles undo_keep_tile kept, else NULL
    bool refused; // a commit, undo or redo was refused for want of memory (undo_take_refusal)
};

struct UNDO_TILE {
    int32_t x, y;          // top-left pixel
    int32_t w, h;          // 256 except in the right column and bottom row
    unsigned char* before; // w * h * 4 bytes, packed RGBA rows
    unsigned char* after;  // same size, or NULL until the step is first undone
};

struct UNDO_RECORD {
    uint32_t type;   // an UNDO_TYPE
    LAYER* layer;    // the layer concerned; NULL for a move
    bool owns_layer; // the layer is detached from the document and freed with this record
    LIST* tiles;     // UNDO_TILEs of a pixel record, NULL otherwise
    size_t index;    // stack index of the added or removed layer; source index of a move
    size_t to_index; // destination index of a move
};

// An empty history for a document of the given size, or NULL.
UNDO_SYSTEM* undo_new(int width, int height);
// Frees both stacks with every record (and every layer a record holds), the dirty map and
// the record, and sets *undo to NULL.
void undo_free(UNDO_SYSTEM** undo);

// Opens a pixel operation on the active layer. 0 when one is already open (which stays as it
// was) or there is no active layer.
int undo_begin(DOCUMENT* doc);
// Marks the tiles touched by the square x +- radius, y +- radius (canvas pixels).
void undo_mark_dirty(DOCUMENT* doc, float x, float y, float radius);
// Marks the tiles touched by the rectangle with inclusive corners (canvas pixels).
void undo_mark_dirty_rect(DOCUMENT* doc, float x0, float y0, float x1, float y1);
// Closes the open operation and records the touched tiles as one step, taking the new pixels
// from the working bitmap. An operation that touched nothing returns 1 and adds no step.
int undo_commit(DOCUMENT* doc);
// As undo_commit, taking the new pixels from a full-layer buffer of packed RGBA rows
// (w * h * 4 bytes). A buffer of another size than the layer is ignored.
int undo_commit_pixels(DOCUMENT* doc, const unsigned char* pixels, int w, int h);
// For a tool that changes a full copy of the committed pixels rather than the working bitmap
// (the bucket fill): call before the first change to a tile. Keeps the tile's earlier pixels,
// read from `backup` (the copy's pixels from its top-left, rows of `pitch` bytes), and marks
// the tile touched; a tile already kept is left alone. 1, or 0 when no operation is open or the
// copy cannot be made.
int undo_keep_tile(DOCUMENT* doc, int col, int row, const unsigned char* backup, size_t pitch);
// Closes an operation whose every touched tile was kept with undo_keep_tile, once the committed
// tiles and the working bitmap both hold the new pixels: the kept tiles become one step. Returns as
// undo_commit does.
int undo_commit_kept(DOCUMENT* doc);
// Closes the open operation without recording it and without touching pixels.
void undo_abort(DOCUMENT* doc);
// Puts the touched tiles of the working bitmap back from the committed tiles and closes the
// operation.
void undo_revert(DOCUMENT* doc);
// True once after a commit, undo or redo was refused because memory for the layer's tiles ran
// out (the layer was left as it was before the operation); clears the flag.
bool undo_take_refusal(DOCUMENT* doc);

// Records that `layer` was added at `index`.
int undo_record_layer_add(DOCUMENT* doc, LAYER* layer, size_t index);
// Records that `layer`, already detached, was removed from `index`. On success the history
// owns the layer; on failure the caller still does.
int undo_record_layer_remove(DOCUMENT* doc, LAYER* layer, size_t index);
// Records a completed move from `from` to `to`.
int undo_record_layer_move(DOCUMENT* doc, size_t from, size_t to);

// Undoes the newest step; refused while an operation is open. Returns 1 or 0.
int undo_perform(DOCUMENT* doc);
// Redoes the most recently undone step; refused while an operation is open. Returns 1 or 0.
int redo_perform(DOCUMENT* doc);
bool undo_available(const DOCUMENT* doc);

// What the history holds in system memory: the pixel copies of its tiles (both stacks and
// the open operation's kept tiles), and the committed copies of the removed layers it keeps
// for an undo.
struct UNDO_MEMORY {
    size_t tile_bytes;
    size_t tiles;
    size_t layer_bytes;
    size_t layers;
    size_t layer_tiles; // the stored committed tiles of those layers
};
void undo_memory(const UNDO_SYSTEM* undo, UNDO_MEMORY* out);
bool redo_available(const DOCUMENT* doc);

// A fixed-size canvas holding an ordered stack of layers, one of which is active.
//
// Layer indices count from the bottom of the stack: index 0 is the list's start. A layer lives
// in exactly one place at a time (this stack, an undo record, or a caller's hand between
// detach and insert) and whoever holds it frees it.
#pragma once

#include <allegro5/allegro.h>

#include <cstddef>
#include <cstdint>

#include "canvas/layer.h"
#include "canvas/undo.h"
#include "q/q_list.h"

// What a document file can hold; the program never builds a document it could not read back.
constexpr size_t DOCUMENT_MAX_LAYERS = 1024;
constexpr size_t DOCUMENT_MAX_NAME = 4096;

// A layer can be inserted at most this many positions below the top of the stack.
constexpr size_t DOCUMENT_MAX_INSERT_DEPTH = 64;

struct DOCUMENT {
    int32_t width;            // at least 1; every layer has this size
    int32_t height;           // at least 1
    LIST* layers;             // owned; items are LAYER* destroyed with layer_free_ptr
    LAYER* active_layer;      // member of `layers`, NULL only when the stack is empty
    ALLEGRO_COLOR background; // paper colour under all layers
    UNDO_SYSTEM* undo;        // owned; the document's history
    uint32_t layer_counter;   // layers ever made by document_add_layer; never decreases
    int32_t template_index;   // background template drawn under the layers, 0 = none
    uint64_t changes;         // grows with every change to what a document file would hold
};

// What a document holds in system memory, for the memory report: the committed copies of its
// layers and of the removed layers its history keeps, and the history's tile copies. (The
// working bitmaps live with the graphics driver.)
struct DOCUMENT_MEMORY {
    size_t committed_bytes;
    size_t committed_layers;
    size_t committed_tiles; // stored tiles; absent (transparent) ones cost nothing
    size_t undo_tile_bytes;
    size_t undo_tiles;
};

// An empty document with white paper, or NULL when a size is below 1.
DOCUMENT* document_new(int width, int height);
// Frees every layer and the record, and sets *doc to NULL.
void document_free(DOCUMENT** doc);
// Creates a layer of the document's size on top of the stack and makes it active. A NULL
// name gives "Layer N", N counting every layer ever added, so names are never reused.
LAYER* document_add_layer(DOCUMENT* doc, const char* name);
size_t document_layer_count(const DOCUMENT* doc);
void document_memory(const DOCUMENT* doc, DOCUMENT_MEMORY* out);
// The layer at `index`, or NULL when the index is past the top.
LAYER* document_layer_at(const DOCUMENT* doc, size_t index);
// 1 and the index (when `index` is not NULL) for a layer in the stack, else 0.
int document_layer_index(const DOCUMENT* doc, const LAYER* layer, size_t* index);
// Unlinks the layer at `index` and hands it to the caller, or NULL. When it was the active
// layer, the layer now at min(index, count - 1) becomes active (NULL for an empty stack).
LAYER* document_detach_layer(DOCUMENT* doc, size_t index);
// Inserts a detached layer so that it ends at `index` (clamped to the count). Refuses when it
// would lie more than DOCUMENT_MAX_INSERT_DEPTH layers below the top, or when the layer is
// already in the stack. Never changes the active layer. Returns 1 or 0.
int document_insert_layer(DOCUMENT* doc, LAYER* layer, size_t index);
// Moves the layer at `from` so that it ends at `to`; the active layer stays the same object.
// A move that cannot complete is refused up front and changes nothing. Returns 1 or 0.
int document_move_layer(DOCUMENT* doc, size_t from, size_t to);
// Counts a change the document cannot see for itself: a layer's name, opacity, blend mode,
// visibility or lock, or the template. Layer stack changes and every undo step, undo and redo
// count themselves.
void document_mark_changed(DOCUMENT* doc);
// Writes the document as a version 3 ".tvl" file with run-length layer images, replacing the
// path atomically. Refuses documents the reader would reject. Returns 1 or 0.
int document_save(DOCUMENT* doc, const char* path);
// A new document read from a ".tvl" file of version 1, 2 or 3, or NULL. The file is read
// record by record, and every size it claims is checked against the bytes it has before
// anything is allocated for it; bytes after the last record are never read.
DOCUMENT* document_load(const char* path);
// Why a load failed: the file is missing or cannot be read (not a regular file, a read
// error), it is not a valid document, or it is but this machine could not hold it now (no
// memory, larger than the display's bitmaps allow).
enum DOCUMENT_LOAD_ERROR {
    DOCUMENT_LOAD_OK = 0,
    DOCUMENT_LOAD_UNREADABLE = 1,
    DOCUMENT_LOAD_MALFORMED = 2,
    DOCUMENT_LOAD_NO_RESOURCES = 3,
};
// document_load that also says why it failed (`error` may be NULL).
DOCUMENT* document_load_checked(const char* path, int* error);
// A document read scaled down to fit max_w x max_h (thumbnails), or at its size when it fits:
// each layer is the box average of its pixels (reduce.h), decoded straight into the smaller
// size, so no layer is ever held at its own size. The same checks and errors as a load.
DOCUMENT* document_load_reduced(const char* path, int max_w, int max_h, int* error);
// Flattens the region and writes it as PNG (or, when no PNG encoder works, as TGA at
// path + ".tga"). When written_path is given it receives the path actually written, which
// must fit whole. Returns 1 or 0.
int document_export_png_region(DOCUMENT* doc, const char* path, int x, int y, int width,
                               int height, bool include_template, char* written_path,
                               size_t written_size);
// The whole document with its template.
int document_export_png(DOCUMENT* doc, const char* path);
// Our own PNG writer: straight-alpha RGBA, no filtering. A malloc'd buffer the caller frees.
unsigned char* document_png_encode(ALLEGRO_BITMAP* bitmap, size_t* out_size);
// Inclusive bounds of every pixel with non-zero alpha over the visible layers; 0 when none.
int document_content_bbox(DOCUMENT* doc, int* x0, int* y0, int* x1, int* y1);
// Encodes a bitmap with Allegro's writer for ".tga" or ".png" into a malloc'd buffer.
unsigned char* _bitmap_encode(ALLEGRO_BITMAP* bitmap, const char* extension, size_t* size);

// layer_backup on the active layer.
int document_backup_active(DOCUMENT* doc);
// layer_restore on every layer, bottom to top; 1 only when every layer was restored.
int document_restore_all(DOCUMENT* doc);

// Pictures from other programs (PNG, JPEG, BMP, TGA, WebP) as documents or floating pixels.
//
// A picture is recognised by its first bytes, never by its name, and its size is read from
// its header before anything is decoded: a file that claims more pixels than the program
// would hold is refused before a single pixel is allocated for it. A picture larger than the
// largest document is scaled down (an area average, so nothing is dropped between samples).
// Files are read only when they are regular files, so a FIFO or a device never blocks.
#pragma once

#include <allegro5/allegro.h>

#include <cstddef>
#include <cstdint>

#include "canvas/document.h"

// More decoded pixels than this (1 GiB of RGBA) are refused before decoding.
constexpr uint64_t PICTURE_MAX_PIXELS = uint64_t{1} << 28;
// Files larger than this are not read at all.
constexpr size_t PICTURE_MAX_FILE = size_t{512} << 20;
// The largest side of a document made from a picture.
constexpr int PICTURE_DOC_MAX_SIDE = 16384;

enum PICTURE_KIND {
    PICTURE_NONE = 0,
    PICTURE_PNG,
    PICTURE_JPEG,
    PICTURE_BMP,
    PICTURE_TGA,
    PICTURE_WEBP,
    PICTURE_ORA, // a layered OpenRaster file: opened as a document, saved under a new name
};

enum PICTURE_ERROR {
    PICTURE_OK = 0,
    PICTURE_MISSING,      // nothing at the path
    PICTURE_UNREADABLE,   // not a regular file (a FIFO, a folder), or a read error
    PICTURE_NOT_PICTURE,  // none of the kinds above, or a header that makes no sense
    PICTURE_TOO_LARGE,    // more pixels than PICTURE_MAX_PIXELS, or a file past PICTURE_MAX_FILE
    PICTURE_UNDECODABLE,  // the header was fine, the decoder was not (damaged, unsupported)
    PICTURE_NO_RESOURCES, // the bitmaps could not be made
    PICTURE_BAD_DOCUMENT, // a document file that is damaged
};

struct PICTURE_INFO {
    int kind;       // PICTURE_KIND
    int width;      // as the header says
    int height;
    int scaled_w;   // the size it was given (equal to width and height when it was not scaled),
    int scaled_h;   // filled by whoever scales it
    unsigned ora_notes; // for PICTURE_ORA: what was normalised on the way in (ORA_NOTE bits)
    size_t ora_merged;  // layers merged away (with ORA_NOTE_MERGED)
};

// Recognises a picture from the first bytes of a file and reads its size. 1 when `bytes`
// starts a picture of a known kind whose header gives a size of at least 1x1.
int picture_probe(const unsigned char* bytes, size_t size, PICTURE_INFO* out);
// The size a width x height picture gets when neither side may pass max_w x max_h: the same
// proportions, each side at least 1. 1 when it had to shrink, 0 when it fits as it is.
int picture_fit(int width, int height, int max_w, int max_h, int* out_w, int* out_h);
// The file's extension the image addon decodes a kind with (".png", ...), or NULL.
const char* picture_extension(int kind);
// A short text for an error, for log lines and the command line ("not a picture", ...).
const char* picture_error_text(int error);

// Reads a picture and scales it down to fit max_w x max_h. A new memory bitmap in the layer
// pixel format with premultiplied alpha, owned by the caller, or NULL with `error` set. `info`
// (may be NULL) gets the picture's own size.
ALLEGRO_BITMAP* picture_load_fitted(const char* path, int max_w, int max_h, int* error,
                                    PICTURE_INFO* info);
// Scales `src` down (or copies it) into a new memory bitmap of w x h in the layer pixel format,
// each pixel the average of the source pixels it covers. NULL on failure.
ALLEGRO_BITMAP* picture_scale_down(ALLEGRO_BITMAP* src, int w, int h);
// The same box average of a layer's committed pixels, read tile by tile: tiles nobody painted
// cost nothing and no full-size copy is made. Equal, pixel for pixel, to picture_scale_down of
// the layer's committed picture.
ALLEGRO_BITMAP* picture_scale_down_layer(const LAYER* layer, int w, int h);

// Whether the file at `path` starts like a document (".tvl") rather than a picture.
bool picture_file_is_document(const char* path);
// A one-layer document holding the picture, no side longer than max_side (and never above
// PICTURE_DOC_MAX_SIDE). `info` gets the picture's own size; the document's size tells whether
// it was scaled. NULL with `error` set.
DOCUMENT* document_from_picture(const char* path, int max_side, int* error, PICTURE_INFO* info);
// A document file, an OpenRaster file or a picture, told apart by the first bytes. For a picture `info` gets its
// own size (kind PICTURE_NONE for a document). NULL with `error` set.
// `reduce_to`, when above 0, reads a document file already scaled down to fit that square
// (document_load_reduced, for thumbnails), and an OpenRaster file as its flattened picture
// scaled down (ora_load_preview) when it holds one; pictures open at their size.
DOCUMENT* document_open_file(const char* path, int max_side, int* error, PICTURE_INFO* info,
                             int reduce_to = 0);

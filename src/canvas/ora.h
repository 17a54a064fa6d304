// OpenRaster (.ora): the layered interchange file other painting programs read and write.
//
// A zip archive: "mimetype" first and stored ("image/openraster"), "stack.xml" describing the
// layers top first, one straight-alpha PNG per layer under data/, the flattened picture as
// "mergedimage.png" and a preview under Thumbnails/. Layers hold premultiplied pixels, the
// PNGs straight ones; both directions convert.
//
// The reader takes the archive as hostile: every entry name, claimed size, PNG header and
// XML depth is checked before anything is allocated for it, the archive is never extracted to
// disk, and what it cannot represent is normalised (with a note the caller can show) rather
// than refused: nested stacks become plain layers in order, unknown compositing becomes
// Normal, layers past DOCUMENT_MAX_LAYERS are merged into the topmost one kept.
#pragma once

#include <allegro5/allegro.h>

#include <cstddef>
#include <cstdint>

#include "canvas/document.h"

// The archive itself is never read past this size.
constexpr size_t ORA_MAX_FILE = size_t{1} << 30;
// Entries an archive may list, and layer elements stack.xml may hold; more is refused.
constexpr size_t ORA_MAX_ENTRIES = 8192;
constexpr size_t ORA_MAX_STACK_LAYERS = 4096;
// Nesting of stacks (and any other element) in stack.xml.
constexpr int ORA_MAX_DEPTH = 32;
// Uncompressed bytes: stack.xml, one entry, and everything the reader decompresses together.
constexpr uint64_t ORA_MAX_XML = uint64_t{8} << 20;
constexpr uint64_t ORA_MAX_ENTRY = uint64_t{1} << 30;
constexpr uint64_t ORA_MAX_TOTAL = uint64_t{4} << 30;
// The largest side of the preview under Thumbnails/.
constexpr int ORA_THUMBNAIL_SIDE = 256;

enum ORA_STATUS {
    ORA_OK = 0,
    ORA_UNREADABLE,   // missing, not a regular file, read or write error
    ORA_NOT_ORA,      // not a zip archive, or no OpenRaster stack in it
    ORA_MALFORMED,    // damaged archive, unsafe entry name, bad XML, bad or missing PNG
    ORA_TOO_LARGE,    // a picture larger than the largest document, or past the size bounds
    ORA_NO_RESOURCES, // memory or bitmaps could not be had
};

// What the reader changed on the way in; the file was read, but not exactly as it was.
enum ORA_NOTE : unsigned {
    ORA_NOTE_MERGED = 1u << 0,    // layers past DOCUMENT_MAX_LAYERS merged into the top one
    ORA_NOTE_BLEND = 1u << 1,     // compositing the document has not became Normal
    ORA_NOTE_STACKS = 1u << 2,    // nested stacks flattened into plain layers
};

struct ORA_RESULT {
    int status;       // ORA_STATUS
    unsigned notes;   // ORA_NOTE bits
    size_t merged;    // layers merged away (with ORA_NOTE_MERGED)
    char message[256]; // one line for a log or a terminal, empty on success without notes
};

// Whether these first bytes start a zip archive (and so possibly an OpenRaster file).
bool ora_probe(const unsigned char* bytes, size_t size);
// Whether the path ends in ".ora" (any case).
bool ora_path_has_extension(const char* path);
// A short text for a status ("damaged OpenRaster file", ...).
const char* ora_status_text(int status);

// Writes the document as OpenRaster, replacing `path` atomically. Layer PNGs are encoded on
// two threads; flattening runs on the calling thread (the one owning the display). 1 or 0.
int ora_save(DOCUMENT* doc, const char* path, ORA_RESULT* result);
// A new document from an OpenRaster file or its bytes, or NULL with `result` saying why.
// `result` may be NULL. A picture with a side longer than `max_side` (at most
// PICTURE_DOC_MAX_SIDE, the largest document) is refused as ORA_TOO_LARGE before any layer is
// read: a layered drawing is never scaled.
DOCUMENT* ora_load(const char* path, int max_side, ORA_RESULT* result);
DOCUMENT* ora_load_memory(const void* bytes, size_t size, int max_side, ORA_RESULT* result);
// A document for a preview of at most size x size: one layer of the file's flattened picture
// scaled down, from Thumbnails/thumbnail.png when that is large enough, else from
// mergedimage.png, without reading a layer. A file with neither (or a damaged one) gives its
// layers, as ora_load reads them, at full size. NULL with `result` saying why.
DOCUMENT* ora_load_preview(const char* path, int size, ORA_RESULT* result);
DOCUMENT* ora_load_preview_memory(const void* bytes, size_t length, int size, ORA_RESULT* result);

// Fills a result's status and message (printf-style); shared by the reader and the writer.
void _ora_set(ORA_RESULT* result, int status, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// ============================================================================================
// Pictures from other programs
//   [SECTION] Recognising a picture and its size
//   [SECTION] Fitting and scaling down
//   [SECTION] Reading and decoding
//   [SECTION] Documents from pictures
// ============================================================================================
#include "canvas/picture.h"

#include <allegro5/allegro_memfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/ora.h"
#include "canvas/reduce.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_log.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Recognising a picture and its size
// --------------------------------------------------------------------------------------------

namespace {

uint32_t be16(const unsigned char* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }
uint32_t le16(const unsigned char* p) { return static_cast<uint32_t>(p[1]) << 8 | p[0]; }
uint32_t be32(const unsigned char* p) { return be16(p) << 16 | be16(p + 2); }
uint32_t le32(const unsigned char* p) { return le16(p + 2) << 16 | le16(p); }
uint32_t le24(const unsigned char* p) { return static_cast<uint32_t>(p[2]) << 16 | le16(p); }

bool set_size(PICTURE_INFO* out, int kind, int64_t w, int64_t h) {
    if (w < 1 || h < 1 || w > INT32_MAX || h > INT32_MAX) return false;
    out->kind = kind;
    out->width = static_cast<int>(w);
    out->height = static_cast<int>(h);
    return true;
}

bool probe_png(const unsigned char* b, size_t n, PICTURE_INFO* out) {
    static const unsigned char SIG[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    if (n < 24 || memcmp(b, SIG, 8) != 0 || memcmp(b + 12, "IHDR", 4) != 0) return false;
    return set_size(out, PICTURE_PNG, be32(b + 16), be32(b + 20));
}

// The size is in the first start-of-frame segment; every segment before it says how long it is.
bool probe_jpeg(const unsigned char* b, size_t n, PICTURE_INFO* out) {
    if (n < 4 || b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF) return false;
    size_t at = 2;
    while (at + 4 <= n) {
        if (b[at] != 0xFF) return false;
        const unsigned marker = b[at + 1];
        if (marker == 0xFF) {
            at++;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            at += 2;
            continue;
        }
        const size_t length = be16(b + at + 2);
        if (length < 2) return false;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                           marker != 0xCC;
        if (frame) {
            if (at + 9 > n) return false;
            return set_size(out, PICTURE_JPEG, be16(b + at + 7), be16(b + at + 5));
        }
        at += 2 + length;
    }
    return false;
}

bool probe_bmp(const unsigned char* b, size_t n, PICTURE_INFO* out) {
    if (n < 26 || b[0] != 'B' || b[1] != 'M') return false;
    const uint32_t header = le32(b + 14);
    if (header == 12) return set_size(out, PICTURE_BMP, le16(b + 18), le16(b + 20));
    if (header < 40) return false;
    const int64_t h = static_cast<int32_t>(le32(b + 22));
    return set_size(out, PICTURE_BMP, static_cast<int32_t>(le32(b + 18)), h < 0 ? -h : h);
}

bool probe_webp(const unsigned char* b, size_t n, PICTURE_INFO* out) {
    if (n < 30 || memcmp(b, "RIFF", 4) != 0 || memcmp(b + 8, "WEBP", 4) != 0) return false;
    if (memcmp(b + 12, "VP8 ", 4) == 0) {
        if (b[23] != 0x9D || b[24] != 0x01 || b[25] != 0x2A) return false;
        return set_size(out, PICTURE_WEBP, le16(b + 26) & 0x3FFF, le16(b + 28) & 0x3FFF);
    }
    if (memcmp(b + 12, "VP8L", 4) == 0) {
        if (b[20] != 0x2F) return false;
        const uint32_t bits = le32(b + 21);
        return set_size(out, PICTURE_WEBP, (bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1);
    }
    if (memcmp(b + 12, "VP8X", 4) == 0)
        return set_size(out, PICTURE_WEBP, int64_t{le24(b + 24)} + 1, int64_t{le24(b + 27)} + 1);
    return false;
}

// TGA has no signature: its header must be one the format allows.
bool probe_tga(const unsigned char* b, size_t n, PICTURE_INFO* out) {
    if (n < 18 || b[1] > 1) return false;
    const unsigned type = b[2], depth = b[16];
    const bool type_ok = type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
    const bool depth_ok = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
    if (!type_ok || !depth_ok || ((type == 1 || type == 9) != (b[1] == 1))) return false;
    return set_size(out, PICTURE_TGA, le16(b + 12), le16(b + 14));
}

} // namespace

int picture_probe(const unsigned char* bytes, size_t size, PICTURE_INFO* out) {
    q_assert(out, return 0);
    *out = PICTURE_INFO{};
    if (!bytes) return 0;
    PICTURE_INFO info{};
    if (probe_png(bytes, size, &info) || probe_jpeg(bytes, size, &info) ||
        probe_bmp(bytes, size, &info) || probe_webp(bytes, size, &info) ||
        probe_tga(bytes, size, &info)) {
        *out = info;
        return 1;
    }
    return 0;
}

const char* picture_extension(int kind) {
    switch (kind) {
    case PICTURE_PNG: return ".png";
    case PICTURE_JPEG: return ".jpg";
    case PICTURE_BMP: return ".bmp";
    case PICTURE_TGA: return ".tga";
    case PICTURE_WEBP: return ".webp";
    default: return NULL;
    }
}

const char* picture_error_text(int error) {
    switch (error) {
    case PICTURE_OK: return "no error";
    case PICTURE_MISSING: return "no such file";
    case PICTURE_UNREADABLE: return "cannot be read";
    case PICTURE_BAD_DOCUMENT: return "a damaged document";
    case PICTURE_NOT_PICTURE: return "not a picture or document";
    case PICTURE_TOO_LARGE: return "too large";
    case PICTURE_UNDECODABLE: return "damaged or of an unsupported kind";
    default: return "out of memory";
    }
}

// --------------------------------------------------------------------------------------------
// [SECTION] Fitting and scaling down
// --------------------------------------------------------------------------------------------

int picture_fit(int width, int height, int max_w, int max_h, int* out_w, int* out_h) {
    return reduce_fit(width, height, max_w, max_h, out_w, out_h);
}

namespace {

// A new w x h memory bitmap in the layer format, locked for writing, or NULL.
ALLEGRO_LOCKED_REGION* new_locked_bitmap(int w, int h, ALLEGRO_BITMAP** bitmap) {
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        *bitmap = al_create_bitmap(w, h);
    }
    ALLEGRO_LOCKED_REGION* to = *bitmap ? al_lock_bitmap(*bitmap, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY) : NULL;
    if (!to && *bitmap) {
        al_destroy_bitmap(*bitmap);
        *bitmap = NULL;
    }
    if (!to) q_log(3, "no memory for a %dx%d reduction", w, h);
    return to;
}

} // namespace

ALLEGRO_BITMAP* picture_scale_down(ALLEGRO_BITMAP* src, int w, int h) {
    q_assert(src, return NULL);
    const int sw = al_get_bitmap_width(src), sh = al_get_bitmap_height(src);
    if (w < 1 || h < 1 || w > sw || h > sh) return NULL;
    ALLEGRO_LOCKED_REGION* from = al_lock_bitmap(src, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_READONLY);
    if (!from) return NULL;
    ALLEGRO_BITMAP* dst = NULL;
    ALLEGRO_LOCKED_REGION* to = new_locked_bitmap(w, h, &dst);
    REDUCTION reduction;
    if (!to || !reduction_start(&reduction, sw, sh, w, h, static_cast<unsigned char*>(to->data), to->pitch)) {
        al_unlock_bitmap(src);
        if (dst) al_destroy_bitmap(dst);
        return NULL;
    }
    for (int y = 0; y < sh; y++) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const unsigned char*>(from->data) +
                                                            static_cast<ptrdiff_t>(y) * from->pitch);
        reduction_add_pixels(&reduction, 0, y, row, sw);
    }
    reduction_finish(&reduction);
    al_unlock_bitmap(dst);
    al_unlock_bitmap(src);
    return dst;
}

ALLEGRO_BITMAP* picture_scale_down_layer(const LAYER* layer, int w, int h) {
    q_assert(layer, return NULL);
    const int sw = layer->width, sh = layer->height;
    if (w < 1 || h < 1 || w > sw || h > sh) return NULL;
    ALLEGRO_BITMAP* dst = NULL;
    ALLEGRO_LOCKED_REGION* to = new_locked_bitmap(w, h, &dst);
    REDUCTION reduction;
    if (!to || !reduction_start(&reduction, sw, sh, w, h, static_cast<unsigned char*>(to->data), to->pitch)) {
        if (dst) al_destroy_bitmap(dst);
        return NULL;
    }
    // Row by row across each band of tiles, as the reduction wants its rows in order.
    for (int band = 0; band < layer->tiles_y; band++) {
        const int top = band * LAYER_TILE_SIZE, th = std::min(LAYER_TILE_SIZE, sh - top);
        for (int r = 0; r < th; r++)
            for (int col = 0; col < layer->tiles_x; col++) {
                const uint32_t* tile = layer_committed_tile(layer, col, band);
                if (!tile) continue;
                const int left = col * LAYER_TILE_SIZE, tw = std::min(LAYER_TILE_SIZE, sw - left);
                reduction_add_pixels(&reduction, left, top + r, tile + static_cast<size_t>(r) * LAYER_TILE_SIZE, tw);
            }
    }
    reduction_finish(&reduction);
    al_unlock_bitmap(dst);
    return dst;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Reading and decoding
// --------------------------------------------------------------------------------------------

namespace {

// The whole file, or an error. Never opens anything but a regular file.
int read_whole(const char* path, std::string* bytes) {
    if (platform_file_kind(path) == PLATFORM_FILE_MISSING) {
        q_log(3, "%s does not exist", path);
        return PICTURE_MISSING;
    }
    size_t size = 0;
    std::unique_ptr<FILE, int (*)(FILE*)> file(platform_open_regular(path, &size), fclose);
    if (!file) return PICTURE_UNREADABLE;
    if (size > PICTURE_MAX_FILE) {
        q_log(3, "%s is %zu bytes, more than a picture may be", path, size);
        return PICTURE_TOO_LARGE;
    }
    try {
        bytes->resize(size);
    } catch (const std::exception&) {
        return PICTURE_NO_RESOURCES;
    }
    if (fread(bytes->data(), 1, size, file.get()) != size) {
        q_log(3, "could not read %s", path);
        return PICTURE_UNREADABLE;
    }
    return PICTURE_OK;
}

} // namespace

ALLEGRO_BITMAP* picture_load_fitted(const char* path, int max_w, int max_h, int* error,
                                    PICTURE_INFO* info) {
    int ignored = 0;
    if (!error) error = &ignored;
    *error = PICTURE_NO_RESOURCES;
    q_assert(path, return NULL);
    PICTURE_INFO own{};
    if (!info) info = &own;
    *info = PICTURE_INFO{};
    std::string bytes;
    if ((*error = read_whole(path, &bytes)) != PICTURE_OK) return NULL;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (!picture_probe(data, bytes.size(), info)) {
        q_log(3, "%s is not a picture", path);
        *error = PICTURE_NOT_PICTURE;
        return NULL;
    }
    // Refused on the header's word: the decoder would allocate all of it before we could.
    if (static_cast<uint64_t>(info->width) * static_cast<uint64_t>(info->height) > PICTURE_MAX_PIXELS) {
        q_log(3, "picture %s is %dx%d, too large to open", path, info->width, info->height);
        *error = PICTURE_TOO_LARGE;
        return NULL;
    }
    ALLEGRO_BITMAP* decoded = NULL;
    {
        ALLEGRO_FILE* file = al_open_memfile(bytes.data(), static_cast<int64_t>(bytes.size()), "r");
        if (!file) return NULL;
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        decoded = al_load_bitmap_flags_f(file, picture_extension(info->kind), 0);
        al_fclose(file);
    }
    if (!decoded || al_get_bitmap_width(decoded) != info->width ||
        al_get_bitmap_height(decoded) != info->height) {
        q_log(3, "could not decode the picture %s", path);
        if (decoded) al_destroy_bitmap(decoded);
        *error = PICTURE_UNDECODABLE;
        return NULL;
    }
    int w = 0, h = 0;
    picture_fit(info->width, info->height, max_w, max_h, &w, &h);
    info->scaled_w = w;
    info->scaled_h = h;
    ALLEGRO_BITMAP* fitted = picture_scale_down(decoded, w, h);
    al_destroy_bitmap(decoded);
    if (!fitted) {
        q_log(3, "no memory for the %dx%d picture %s", w, h, path);
        return NULL;
    }
    *error = PICTURE_OK;
    return fitted;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Documents from pictures
// --------------------------------------------------------------------------------------------

bool picture_file_is_document(const char* path) {
    q_assert(path, return false);
    std::string head;
    if (platform_read_file(path, 4, &head) != 1 || head.size() < 4) return false;
    return head.compare(0, 3, "TVL") == 0 && head[3] >= '1' && head[3] <= '9';
}

DOCUMENT* document_from_picture(const char* path, int max_side, int* error, PICTURE_INFO* info) {
    int ignored = 0;
    if (!error) error = &ignored;
    *error = PICTURE_NO_RESOURCES;
    q_assert(path, return NULL);
    const int side = std::clamp(max_side, 1, PICTURE_DOC_MAX_SIDE);
    ALLEGRO_BITMAP* pixels = picture_load_fitted(path, side, side, error, info);
    if (!pixels) return NULL;
    DOCUMENT* doc = document_new(al_get_bitmap_width(pixels), al_get_bitmap_height(pixels));
    LAYER* layer = doc ? document_add_layer(doc, "Layer 1") : NULL;
    if (!layer) {
        al_destroy_bitmap(pixels);
        document_free(&doc);
        *error = PICTURE_NO_RESOURCES;
        return NULL;
    }
    if (!layer_take_pixels(layer, pixels)) {
        document_free(&doc);
        *error = PICTURE_NO_RESOURCES;
        return NULL;
    }
    document_mark_changed(doc);
    *error = PICTURE_OK;
    return doc;
}

namespace {

// `preview_size` above 0: the file's own flattened picture scaled down to fit, when it has one.
DOCUMENT* open_ora(const char* path, int max_side, int* error, PICTURE_INFO* info, int preview_size) {
    ORA_RESULT result{};
    // A layered drawing is not scaled: one the display cannot hold is refused whole.
    DOCUMENT* doc = preview_size > 0 ? ora_load_preview(path, preview_size, &result)
                                     : ora_load(path, max_side, &result);
    switch (result.status) {
    case ORA_OK: *error = PICTURE_OK; break;
    case ORA_UNREADABLE: *error = PICTURE_UNREADABLE; break;
    case ORA_NOT_ORA: *error = PICTURE_NOT_PICTURE; break;
    case ORA_MALFORMED: *error = PICTURE_BAD_DOCUMENT; break;
    case ORA_TOO_LARGE: *error = PICTURE_TOO_LARGE; break;
    default: *error = PICTURE_NO_RESOURCES; break;
    }
    if (!doc) return NULL;
    info->kind = PICTURE_ORA;
    info->width = info->scaled_w = doc->width;
    info->height = info->scaled_h = doc->height;
    info->ora_notes = result.notes;
    info->ora_merged = result.merged;
    return doc;
}

} // namespace

DOCUMENT* document_open_file(const char* path, int max_side, int* error, PICTURE_INFO* info,
                             int reduce_to) {
    int ignored = 0;
    if (!error) error = &ignored;
    PICTURE_INFO own{};
    if (!info) info = &own;
    *info = PICTURE_INFO{};
    *error = PICTURE_NO_RESOURCES;
    q_assert(path, return NULL);
    // Only a regular file is looked into, once: a FIFO must not be opened twice (or at all).
    const int kind = platform_file_kind(path);
    if (kind != PLATFORM_FILE_REGULAR) {
        *error = kind == PLATFORM_FILE_MISSING ? PICTURE_MISSING : PICTURE_UNREADABLE;
        q_log(3, "%s %s", path, kind == PLATFORM_FILE_MISSING ? "does not exist" : "is not a regular file, not read");
        return NULL;
    }
    // A file named or made as an archive is read as OpenRaster, so a damaged one is told as such.
    std::string head;
    const bool archive = platform_read_file(path, 4, &head) == 1 &&
                         ora_probe(reinterpret_cast<const unsigned char*>(head.data()), head.size());
    if (archive || ora_path_has_extension(path)) return open_ora(path, max_side, error, info, reduce_to);
    // A file named as a document is read as one, so a damaged one is told as such.
    const size_t length = strlen(path);
    const bool document_name = length >= 4 && strcmp(path + length - 4, ".tvl") == 0;
    if (!document_name && !picture_file_is_document(path))
        return document_from_picture(path, max_side, error, info);
    int load_error = DOCUMENT_LOAD_OK;
    DOCUMENT* doc = reduce_to > 0 ? document_load_reduced(path, reduce_to, reduce_to, &load_error)
                                  : document_load_checked(path, &load_error);
    switch (load_error) {
    case DOCUMENT_LOAD_OK: *error = PICTURE_OK; break;
    case DOCUMENT_LOAD_MALFORMED: *error = PICTURE_BAD_DOCUMENT; break;
    case DOCUMENT_LOAD_UNREADABLE: *error = PICTURE_UNREADABLE; break;
    default: *error = PICTURE_NO_RESOURCES; break;
    }
    return doc;
}

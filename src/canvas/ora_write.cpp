// ============================================================================================
// OpenRaster writer
//   [SECTION] Shared helpers
//   [SECTION] stack.xml
//   [SECTION] Encoding the pictures
//   [SECTION] The archive
// ============================================================================================
#include <allegro5/allegro.h>
#include <zip.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/compositor.h"
#include "canvas/ora.h"
#include "canvas/picture.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_log.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Shared helpers
// --------------------------------------------------------------------------------------------

bool ora_probe(const unsigned char* bytes, size_t size) {
    q_assert(bytes || size == 0, return false);
    return size >= 4 && memcmp(bytes, "PK\x03\x04", 4) == 0;
}

bool ora_path_has_extension(const char* path) {
    q_assert(path, return false);
    const size_t length = strlen(path);
    return length >= 4 && strcasecmp(path + length - 4, ".ora") == 0;
}

const char* ora_status_text(int status) {
    switch (status) {
    case ORA_OK: return "no error";
    case ORA_UNREADABLE: return "cannot be read or written";
    case ORA_NOT_ORA: return "not an OpenRaster file";
    case ORA_MALFORMED: return "a damaged OpenRaster file";
    case ORA_TOO_LARGE: return "too large";
    default: return "out of memory";
    }
}

void _ora_set(ORA_RESULT* result, int status, const char* format, ...) {
    if (!result) return;
    result->status = status;
    va_list args;
    va_start(args, format);
    vsnprintf(result->message, sizeof result->message, format, args);
    va_end(args);
}

namespace {

// --------------------------------------------------------------------------------------------
// [SECTION] stack.xml
// --------------------------------------------------------------------------------------------

constexpr const char* COMPOSITE_OPS[] = {"svg:src-over", "svg:multiply", "svg:screen", "svg:plus"};

// Text for an attribute value: markup escaped, characters XML cannot carry as spaces, bytes
// that are not UTF-8 as '?', so whatever a layer is called the file stays readable.
void append_attribute(std::string* out, const char* text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text ? text : "");
    for (size_t i = 0; s[i];) {
        const unsigned char c = s[i];
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        for (size_t k = 1; k < n; k++)
            if ((s[i + k] & 0xC0) != 0x80) n = 0;
        if (n == 0) {
            out->push_back('?');
            i++;
            continue;
        }
        switch (c) {
        case '&': out->append("&amp;"); break;
        case '<': out->append("&lt;"); break;
        case '>': out->append("&gt;"); break;
        case '"': out->append("&quot;"); break;
        default:
            if (c < 0x20 || c == 0x7F) out->push_back(' ');
            else out->append(reinterpret_cast<const char*>(s + i), n);
        }
        i += n;
    }
}

std::string stack_xml(const DOCUMENT* doc) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    char line[256];
    snprintf(line, sizeof line, "<image version=\"0.0.5\" w=\"%d\" h=\"%d\">\n <stack>\n", doc->width,
             doc->height);
    xml += line;
    const size_t count = document_layer_count(doc);
    for (size_t i = count; i-- > 0;) { // top first
        const LAYER* layer = document_layer_at(doc, i);
        xml += "  <layer name=\"";
        append_attribute(&xml, layer->name ? layer->name->data : "");
        const int blend = layer->blend >= 0 && layer->blend <= LAYER_BLEND_ADD ? layer->blend : 0;
        snprintf(line, sizeof line,
                 "\" src=\"data/layer%zu.png\" x=\"0\" y=\"0\" visibility=\"%s\" opacity=\"%.3f\""
                 " composite-op=\"%s\"%s/>\n",
                 i, layer->visible ? "visible" : "hidden", static_cast<double>(layer->opacity),
                 COMPOSITE_OPS[blend], layer->locked ? " edit-locked=\"true\"" : "");
        xml += line;
    }
    xml += " </stack>\n</image>\n";
    return xml;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Encoding the pictures
// --------------------------------------------------------------------------------------------

struct Encoded {
    unsigned char* bytes = nullptr; // malloc'd by the encoder
    size_t size = 0;
    ~Encoded() { free(bytes); }
};

// One PNG to make: a layer's committed pixels, or a finished memory bitmap.
struct Job {
    const LAYER* layer;
    ALLEGRO_BITMAP* bitmap;
    int width, height;
    Encoded out;
};

// Runs on either thread: only memory bitmaps of its own, and the new-bitmap settings it
// changes are the calling thread's.
void encode(Job* job) {
    if (job->bitmap) {
        job->out.bytes = document_png_encode(job->bitmap, &job->out.size);
        return;
    }
    ALLEGRO_BITMAP* pixels = nullptr;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        pixels = al_create_bitmap(job->width, job->height);
    }
    if (!pixels) return;
    ALLEGRO_LOCKED_REGION* region = al_lock_bitmap(pixels, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY);
    const bool read = region && region->pitch > 0 &&
                      layer_read_committed(job->layer, 0, 0, job->width, job->height,
                                           static_cast<uint32_t*>(region->data),
                                           static_cast<size_t>(region->pitch) / 4);
    if (region) al_unlock_bitmap(pixels);
    if (read) job->out.bytes = document_png_encode(pixels, &job->out.size);
    al_destroy_bitmap(pixels);
}

// The layers are independent: a helper thread starts on them at once while this thread
// flattens the drawing (`prepare`, which must run on the display's thread and fills the last
// jobs); then both take the next job until none is left. The helper only reads committed
// pixels, which flattening never touches.
template <typename Prepare>
void encode_all(std::vector<Job>* jobs, size_t layers, Prepare prepare) {
    std::atomic<size_t> next{0};
    std::atomic<size_t> ready{layers}; // jobs past this wait for `prepare`
    auto work = [jobs, &next, &ready] {
        for (size_t i; (i = next.load()) < ready.load();)
            if (next.compare_exchange_weak(i, i + 1)) encode(&(*jobs)[i]);
    };
    std::thread helper;
    try {
        helper = std::thread(work);
    } catch (const std::system_error&) {
        // No second thread: all on this one.
    }
    // Jobs left by a helper that ran out before `prepare` was done are taken here.
    if (prepare()) ready.store(jobs->size());
    work();
    if (helper.joinable()) helper.join();
}

// The flattened picture in system memory, so it can be encoded off this thread.
ALLEGRO_BITMAP* flatten_to_memory(const DOCUMENT* doc) {
    ALLEGRO_BITMAP* flat = compositor_flatten(doc);
    if (!flat) return nullptr;
    if (al_get_bitmap_flags(flat) & ALLEGRO_MEMORY_BITMAP) return flat;
    ALLEGRO_BITMAP* copy = nullptr;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        copy = al_clone_bitmap(flat);
    }
    al_destroy_bitmap(flat);
    return copy;
}

// --------------------------------------------------------------------------------------------
// [SECTION] The archive
// --------------------------------------------------------------------------------------------

struct ZipDeleter {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};

// Adds bytes that outlive the archive; pictures are compressed already and go in stored.
bool add_entry(zip_t* zip, const char* name, const void* bytes, size_t size, bool deflate) {
    zip_source_t* source = zip_source_buffer(zip, bytes, size, 0);
    if (!source) return false;
    const zip_int64_t index = zip_file_add(zip, name, source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        return false;
    }
    // A fixed time keeps the same drawing's file the same bytes.
    zip_file_set_mtime(zip, static_cast<zip_uint64_t>(index), 0, 0);
    return zip_set_file_compression(zip, static_cast<zip_uint64_t>(index),
                                    deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, deflate ? 6 : 0) == 0;
}

// The archive built in memory: the file is then replaced in one step.
bool build_archive(const std::string& xml, const std::vector<Job>& jobs, size_t layers,
                   std::string* out) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!buffer) return false;
    zip_t* raw = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    zip_error_fini(&error);
    if (!raw) {
        zip_source_free(buffer);
        return false;
    }
    zip_source_keep(buffer); // the bytes are read from it after the archive is closed
    std::unique_ptr<zip_t, ZipDeleter> zip(raw);
    static const char MIMETYPE[] = "image/openraster";
    bool ok = add_entry(raw, "mimetype", MIMETYPE, sizeof MIMETYPE - 1, false) &&
              add_entry(raw, "stack.xml", xml.data(), xml.size(), true);
    char name[64];
    for (size_t i = 0; ok && i < layers; i++) {
        snprintf(name, sizeof name, "data/layer%zu.png", i);
        ok = add_entry(raw, name, jobs[i].out.bytes, jobs[i].out.size, false);
    }
    ok = ok && add_entry(raw, "mergedimage.png", jobs[layers].out.bytes, jobs[layers].out.size, false) &&
         add_entry(raw, "Thumbnails/thumbnail.png", jobs[layers + 1].out.bytes,
                   jobs[layers + 1].out.size, false);
    if (ok) ok = zip_close(zip.release()) == 0;
    if (ok) {
        zip_stat_t stat;
        ok = zip_source_stat(buffer, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) &&
             zip_source_open(buffer) == 0;
        if (ok) {
            out->resize(stat.size);
            ok = zip_source_read(buffer, out->data(), stat.size) == static_cast<zip_int64_t>(stat.size);
            zip_source_close(buffer);
        }
    }
    zip_source_free(buffer);
    return ok;
}

} // namespace

int ora_save(DOCUMENT* doc, const char* path, ORA_RESULT* result) {
    if (result) *result = ORA_RESULT{};
    q_assert(doc, return 0);
    q_assert(path, return 0);
    const size_t count = document_layer_count(doc);
    std::vector<Job> jobs(count + 2);
    for (size_t i = 0; i < count; i++) {
        const LAYER* layer = document_layer_at(doc, i);
        jobs[i].layer = layer;
        jobs[i].width = doc->width;
        jobs[i].height = doc->height;
    }
    // Flattening uses the display's bitmaps: this thread, while the helper encodes layers.
    ALLEGRO_BITMAP* merged = nullptr;
    ALLEGRO_BITMAP* thumbnail = nullptr;
    encode_all(&jobs, count, [&] {
        merged = flatten_to_memory(doc);
        int tw = 0, th = 0;
        picture_fit(doc->width, doc->height, ORA_THUMBNAIL_SIDE, ORA_THUMBNAIL_SIDE, &tw, &th);
        thumbnail = merged ? picture_scale_down(merged, tw, th) : nullptr;
        jobs[count].bitmap = merged;
        jobs[count + 1].bitmap = thumbnail;
        return merged && thumbnail;
    });
    if (merged) al_destroy_bitmap(merged);
    if (thumbnail) al_destroy_bitmap(thumbnail);
    if (!merged || !thumbnail) {
        _ora_set(result, ORA_NO_RESOURCES, "no memory to flatten the drawing for %s", path);
        q_log(3, "could not save %s: no memory to flatten the drawing", path);
        return 0;
    }
    for (const Job& job : jobs)
        if (!job.out.bytes) {
            _ora_set(result, ORA_NO_RESOURCES, "could not encode the pictures of %s", path);
            q_log(3, "could not save %s: a picture could not be encoded", path);
            return 0;
        }
    std::string archive;
    if (!build_archive(stack_xml(doc), jobs, count, &archive)) {
        _ora_set(result, ORA_NO_RESOURCES, "could not build the archive for %s", path);
        q_log(3, "could not save %s: the archive could not be built", path);
        return 0;
    }
    int error = 0;
    if (!platform_write_file(path, archive.data(), archive.size(), &error)) {
        _ora_set(result, ORA_UNREADABLE, "cannot write %s: %s", path, strerror(error));
        q_log(3, "could not save %s: %s", path, strerror(error));
        return 0;
    }
    q_log(6, "saved OpenRaster %s (%dx%d, %zu layers, %zu bytes)", path, doc->width, doc->height,
          count, archive.size());
    return 1;
}

// ============================================================================================
// OpenRaster reader
//   [SECTION] The archive
//   [SECTION] stack.xml
//   [SECTION] Layer pictures
//   [SECTION] Merging layers past the document's limit
//   [SECTION] Building the document
//   [SECTION] Previews
// ============================================================================================
#include <allegro5/allegro.h>
#include <allegro5/allegro_memfile.h>
#include <expat.h>
#include <zip.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/ora.h"
#include "canvas/picture.h"
#include "canvas/png_read.h"
#include "canvas/reduce.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_log.h"

namespace {

// --------------------------------------------------------------------------------------------
// [SECTION] The archive
// --------------------------------------------------------------------------------------------

struct ZipCloser {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
struct BitmapDeleter {
    void operator()(ALLEGRO_BITMAP* bitmap) const { al_destroy_bitmap(bitmap); }
};
using BitmapPtr = std::unique_ptr<ALLEGRO_BITMAP, BitmapDeleter>;

// A name that stays inside the archive wherever it were extracted: relative, forward slashes,
// no step up. The reader never extracts, but a name that would escape says the file was made
// to do harm, and nothing else in it is trusted either.
bool safe_entry_name(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.find('\\') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return false;
    if (name.size() >= 2 && name[1] == ':') return false; // a drive letter
    size_t start = 0;
    while (start <= name.size()) {
        const size_t end = std::min(name.find('/', start), name.size());
        if (name.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

struct Archive {
    std::unique_ptr<zip_t, ZipCloser> zip;
    std::unordered_map<std::string, zip_uint64_t> entries;
    uint64_t budget = ORA_MAX_TOTAL; // uncompressed bytes still allowed
};

// Opens the archive and checks every entry's name, method and claimed sizes before any of
// them is read.
int open_archive(const void* bytes, size_t size, Archive* out, ORA_RESULT* result) {
    if (!ora_probe(static_cast<const unsigned char*>(bytes), size)) {
        _ora_set(result, ORA_NOT_ORA, "not a zip archive");
        return 0;
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes, size, 0, &error);
    zip_t* zip = source ? zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr;
    if (!zip) {
        _ora_set(result, ORA_MALFORMED, "damaged zip archive (%s)", zip_error_strerror(&error));
        zip_error_fini(&error);
        if (source) zip_source_free(source);
        return 0;
    }
    zip_error_fini(&error);
    out->zip.reset(zip);
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    if (count < 0 || static_cast<uint64_t>(count) > ORA_MAX_ENTRIES) {
        _ora_set(result, ORA_TOO_LARGE, "the archive lists %lld entries", static_cast<long long>(count));
        return 0;
    }
    for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); i++) {
        zip_stat_t stat;
        if (zip_stat_index(zip, i, ZIP_FL_ENC_RAW, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME) ||
            !(stat.valid & ZIP_STAT_SIZE) || !(stat.valid & ZIP_STAT_COMP_SIZE) ||
            !(stat.valid & ZIP_STAT_COMP_METHOD)) {
            _ora_set(result, ORA_MALFORMED, "entry %llu cannot be read", static_cast<unsigned long long>(i));
            return 0;
        }
        if (!safe_entry_name(stat.name)) {
            _ora_set(result, ORA_MALFORMED, "unsafe entry name in the archive");
            return 0;
        }
        if (stat.comp_method != ZIP_CM_STORE && stat.comp_method != ZIP_CM_DEFLATE) {
            _ora_set(result, ORA_MALFORMED, "entry %s uses an unsupported compression", stat.name);
            return 0;
        }
        // Deflate cannot shrink anything more than about 1032 to 1: a larger claim is a lie,
        // and a claim past the bound is refused before a byte is inflated.
        const bool stored = stat.comp_method == ZIP_CM_STORE;
        if (stat.size > ORA_MAX_ENTRY || (stored && stat.size != stat.comp_size) ||
            (!stored && stat.size / 1100 > stat.comp_size + 1)) {
            _ora_set(result, stat.size > ORA_MAX_ENTRY ? ORA_TOO_LARGE : ORA_MALFORMED,
                     "entry %s claims %llu bytes from %llu", stat.name,
                     static_cast<unsigned long long>(stat.size),
                     static_cast<unsigned long long>(stat.comp_size));
            return 0;
        }
        out->entries.emplace(stat.name, i);
    }
    return 1;
}

// The whole entry, never more than it claims nor than the budget left.
int read_entry(Archive* archive, const std::string& name, uint64_t limit, std::string* out,
               ORA_RESULT* result) {
    const auto found = archive->entries.find(name);
    if (found == archive->entries.end()) {
        _ora_set(result, ORA_MALFORMED, "missing entry %s", name.c_str());
        return 0;
    }
    zip_stat_t stat;
    if (zip_stat_index(archive->zip.get(), found->second, 0, &stat) != 0) {
        _ora_set(result, ORA_MALFORMED, "entry %s cannot be read", name.c_str());
        return 0;
    }
    if (stat.size > limit || stat.size > archive->budget) {
        _ora_set(result, ORA_TOO_LARGE, "entry %s is too large (%llu bytes)", name.c_str(),
                 static_cast<unsigned long long>(stat.size));
        return 0;
    }
    archive->budget -= stat.size;
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(archive->zip.get(), found->second, 0));
    out->clear();
    try {
        out->resize(stat.size);
    } catch (const std::bad_alloc&) {
        _ora_set(result, ORA_NO_RESOURCES, "no memory for entry %s", name.c_str());
        return 0;
    }
    char extra = 0;
    // The size read must be the claimed one: one byte more means the claim was a lie.
    if (!file || zip_fread(file.get(), out->data(), stat.size) != static_cast<zip_int64_t>(stat.size) ||
        zip_fread(file.get(), &extra, 1) != 0) {
        _ora_set(result, ORA_MALFORMED, "entry %s is damaged", name.c_str());
        return 0;
    }
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] stack.xml
// --------------------------------------------------------------------------------------------

struct StackEntry {
    std::string name, src;
    int64_t x = 0, y = 0;
    float opacity = 1.0f;
    bool visible = true;
    bool locked = false;
    int blend = LAYER_BLEND_NORMAL;
};

// What a stack passes on to what it holds.
struct StackFrame {
    int64_t x = 0, y = 0;
    float opacity = 1.0f;
    bool visible = true;
};

struct StackParse {
    XML_Parser parser = nullptr;
    int depth = 0;
    bool have_image = false;
    int64_t width = 0, height = 0;
    std::vector<StackFrame> stacks;
    std::vector<StackEntry> layers; // top first, as the file lists them
    unsigned notes = 0;
    int status = ORA_OK;
    char why[128] = "";
};

const char* attribute(const XML_Char** attributes, const char* name) {
    for (size_t i = 0; attributes[i] && attributes[i + 1]; i += 2)
        if (strcmp(attributes[i], name) == 0) return attributes[i + 1];
    return nullptr;
}

// Positions far outside any picture are kept far outside; nothing overflows later.
int64_t position(const char* text) {
    if (!text) return 0;
    const double value = strtod(text, nullptr);
    if (!std::isfinite(value)) return 0;
    return static_cast<int64_t>(std::clamp(value, -1.0e9, 1.0e9));
}

float opacity_of(const char* text) {
    if (!text) return 1.0f;
    const double value = strtod(text, nullptr);
    return std::isfinite(value) ? static_cast<float>(std::clamp(value, 0.0, 1.0)) : 1.0f;
}

void stop(StackParse* parse, int status, const char* why) {
    if (parse->status == ORA_OK) {
        parse->status = status;
        snprintf(parse->why, sizeof parse->why, "%s", why);
    }
    XML_StopParser(parse->parser, XML_FALSE);
}

void XMLCALL on_start(void* user, const XML_Char* element, const XML_Char** attributes) {
    auto* parse = static_cast<StackParse*>(user);
    if (parse->status != ORA_OK) return;
    if (++parse->depth > ORA_MAX_DEPTH) return stop(parse, ORA_MALFORMED, "stack.xml nests too deep");
    if (parse->depth == 1) {
        if (strcmp(element, "image") != 0) return stop(parse, ORA_NOT_ORA, "stack.xml holds no image");
        parse->have_image = true;
        parse->width = position(attribute(attributes, "w"));
        parse->height = position(attribute(attributes, "h"));
        return;
    }
    const StackFrame outer = parse->stacks.empty() ? StackFrame{} : parse->stacks.back();
    const bool hidden = [&] {
        const char* v = attribute(attributes, "visibility");
        return v && strcmp(v, "hidden") == 0;
    }();
    const int64_t x = outer.x + position(attribute(attributes, "x"));
    const int64_t y = outer.y + position(attribute(attributes, "y"));
    const float opacity = outer.opacity * opacity_of(attribute(attributes, "opacity"));
    if (strcmp(element, "stack") == 0) {
        if (!parse->stacks.empty()) parse->notes |= ORA_NOTE_STACKS;
        parse->stacks.push_back({x, y, opacity, outer.visible && !hidden});
        return;
    }
    if (strcmp(element, "layer") != 0 || parse->stacks.empty()) return; // text, filters: not ours
    if (parse->layers.size() >= ORA_MAX_STACK_LAYERS)
        return stop(parse, ORA_TOO_LARGE, "stack.xml lists too many layers");
    StackEntry layer;
    const char* name = attribute(attributes, "name");
    const char* src = attribute(attributes, "src");
    if (!src || !src[0]) return stop(parse, ORA_MALFORMED, "a layer has no picture");
    layer.name = name ? name : "";
    if (layer.name.size() > DOCUMENT_MAX_NAME) {
        size_t cut = DOCUMENT_MAX_NAME; // whole characters only
        while (cut > 0 && (static_cast<unsigned char>(layer.name[cut]) & 0xC0) == 0x80) cut--;
        layer.name.resize(cut);
    }
    layer.src = src;
    layer.x = x;
    layer.y = y;
    layer.opacity = opacity;
    layer.visible = outer.visible && !hidden;
    const char* locked = attribute(attributes, "edit-locked");
    layer.locked = locked && strcmp(locked, "true") == 0;
    const char* op = attribute(attributes, "composite-op");
    static constexpr std::pair<const char*, int> OPS[] = {
        {"svg:src-over", LAYER_BLEND_NORMAL}, {"svg:multiply", LAYER_BLEND_MULTIPLY},
        {"svg:screen", LAYER_BLEND_SCREEN}, {"svg:plus", LAYER_BLEND_ADD}};
    layer.blend = -1;
    for (const auto& [text, mode] : OPS)
        if (!op || strcmp(op, text) == 0) layer.blend = op ? mode : LAYER_BLEND_NORMAL;
    if (layer.blend < 0) {
        layer.blend = LAYER_BLEND_NORMAL;
        parse->notes |= ORA_NOTE_BLEND;
    }
    parse->layers.push_back(std::move(layer));
}

void XMLCALL on_end(void* user, const XML_Char* element) {
    auto* parse = static_cast<StackParse*>(user);
    if (parse->status != ORA_OK) return;
    if (parse->depth >= 2 && strcmp(element, "stack") == 0 && !parse->stacks.empty()) parse->stacks.pop_back();
    parse->depth--;
}

// Entities are how a few hundred bytes of XML become gigabytes: a document type is refused.
void XMLCALL on_doctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    stop(static_cast<StackParse*>(user), ORA_MALFORMED, "stack.xml declares a document type");
}

int parse_stack(const std::string& xml, int max_side, StackParse* parse, ORA_RESULT* result) {
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, decltype(&XML_ParserFree)> parser(
        XML_ParserCreate("UTF-8"), XML_ParserFree);
    if (!parser) {
        _ora_set(result, ORA_NO_RESOURCES, "no memory for the XML parser");
        return 0;
    }
    parse->parser = parser.get();
    XML_SetUserData(parser.get(), parse);
    XML_SetElementHandler(parser.get(), on_start, on_end);
    XML_SetStartDoctypeDeclHandler(parser.get(), on_doctype);
    const bool parsed = XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE) ==
                        XML_STATUS_OK;
    if (parse->status != ORA_OK) {
        _ora_set(result, parse->status, "%s", parse->why);
        return 0;
    }
    if (!parsed || !parse->have_image) {
        _ora_set(result, ORA_MALFORMED, "stack.xml: %s",
                 parsed ? "no image" : XML_ErrorString(XML_GetErrorCode(parser.get())));
        return 0;
    }
    if (parse->width > max_side || parse->height > max_side) {
        _ora_set(result, ORA_TOO_LARGE, "the picture is %lldx%lld, larger than a drawing can be (%d)",
                 static_cast<long long>(parse->width), static_cast<long long>(parse->height), max_side);
        return 0;
    }
    if (parse->width < 1 || parse->height < 1) {
        _ora_set(result, ORA_MALFORMED, "stack.xml gives no picture size");
        return 0;
    }
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Layer pictures
// --------------------------------------------------------------------------------------------

// A layer's picture cut to the image, premultiplied, with where it lies.
struct Placed {
    BitmapPtr pixels; // NULL when nothing of it lies inside the image
    int x = 0, y = 0;
    int status = ORA_OK;
};

struct DecodeJob {
    const StackEntry* entry;
    std::string png;
    int image_w, image_h;
    Placed out;
};

// The whole picture premultiplied, whatever kind of PNG the layer is.
BitmapPtr decode_premultiplied(const std::string& png, int* status) {
    int read = PNG_READ_OK;
    BitmapPtr decoded(png_read_premultiplied(reinterpret_cast<const unsigned char*>(png.data()),
                                             png.size(), PICTURE_DOC_MAX_SIDE, &read));
    *status = decoded ? ORA_OK : read == PNG_READ_NO_MEMORY ? ORA_NO_RESOURCES : ORA_MALFORMED;
    return decoded;
}

// Runs on either thread: memory bitmaps only, new-bitmap settings of the calling thread.
void decode(DecodeJob* job) {
    PICTURE_INFO info{};
    const auto* bytes = reinterpret_cast<const unsigned char*>(job->png.data());
    if (!picture_probe(bytes, job->png.size(), &info) || info.kind != PICTURE_PNG) {
        job->out.status = ORA_MALFORMED;
        return;
    }
    // The header's size is checked before any decoder allocates it.
    if (info.width > PICTURE_DOC_MAX_SIDE || info.height > PICTURE_DOC_MAX_SIDE) {
        job->out.status = ORA_TOO_LARGE;
        return;
    }
    const int64_t x0 = std::max<int64_t>(job->entry->x, 0), y0 = std::max<int64_t>(job->entry->y, 0);
    const int64_t x1 = std::min<int64_t>(job->entry->x + info.width, job->image_w);
    const int64_t y1 = std::min<int64_t>(job->entry->y + info.height, job->image_h);
    if (x1 <= x0 || y1 <= y0) return; // wholly outside: an empty layer
    int status = ORA_OK;
    BitmapPtr decoded = decode_premultiplied(job->png, &status);
    std::string().swap(job->png);
    if (!decoded || al_get_bitmap_width(decoded.get()) != info.width ||
        al_get_bitmap_height(decoded.get()) != info.height) {
        job->out.status = decoded ? ORA_MALFORMED : status;
        return;
    }
    const int w = static_cast<int>(x1 - x0), h = static_cast<int>(y1 - y0);
    const int sx = static_cast<int>(x0 - job->entry->x), sy = static_cast<int>(y0 - job->entry->y);
    job->out.x = static_cast<int>(x0);
    job->out.y = static_cast<int>(y0);
    // The picture whole and in place needs no copy.
    if (sx == 0 && sy == 0 && w == info.width && h == info.height) {
        job->out.pixels = std::move(decoded);
        return;
    }
    BitmapPtr cut;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        cut.reset(al_create_bitmap(w, h));
    }
    ALLEGRO_LOCKED_REGION* dst = cut ? al_lock_bitmap(cut.get(), LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY) : nullptr;
    ALLEGRO_LOCKED_REGION* src = dst ? al_lock_bitmap(decoded.get(), LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_READONLY) : nullptr;
    if (src) {
        for (int y = 0; y < h; y++)
            memcpy(static_cast<char*>(dst->data) + static_cast<ptrdiff_t>(y) * dst->pitch,
                   static_cast<const char*>(src->data) + static_cast<ptrdiff_t>(sy + y) * src->pitch +
                       static_cast<ptrdiff_t>(sx) * 4,
                   static_cast<size_t>(w) * 4);
        al_unlock_bitmap(decoded.get());
    }
    if (dst) al_unlock_bitmap(cut.get());
    if (!src) {
        job->out.status = ORA_NO_RESOURCES;
        return;
    }
    job->out.pixels = std::move(cut);
}

// Reads every layer's PNG here (the archive is not for two threads), bounded by the budget.
int read_sources(Archive* archive, std::vector<DecodeJob>* jobs, ORA_RESULT* result) {
    for (DecodeJob& job : *jobs) {
        const std::string& src = job.entry->src;
        if (!safe_entry_name(src)) {
            _ora_set(result, ORA_MALFORMED, "unsafe layer source %s", src.c_str());
            return 0;
        }
        if (!read_entry(archive, src, ORA_MAX_ENTRY, &job.png, result)) return 0;
    }
    return 1;
}

// Decodes the layers in order on a helper thread while this one hands them to the document
// (which uploads them and must stay on the display's thread); this thread decodes too when it
// would otherwise wait. At most WINDOW decoded layers wait to be taken, so memory stays at a
// few layers whatever the count.
class DecodePipeline {
  public:
    explicit DecodePipeline(std::vector<DecodeJob>* jobs) : jobs_(jobs), done_(jobs->size(), 0) {
        try {
            helper_ = std::thread([this] { run_helper(); });
        } catch (const std::system_error&) {
            // No helper: this thread decodes every layer itself.
        }
    }
    ~DecodePipeline() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (helper_.joinable()) helper_.join();
    }
    DecodePipeline(const DecodePipeline&) = delete;
    DecodePipeline& operator=(const DecodePipeline&) = delete;

    // Job i decoded; the jobs before it must have been taken already.
    DecodeJob& take(size_t i) {
        std::unique_lock<std::mutex> lock(mutex_);
        taken_ = i;
        changed_.notify_all();
        while (!done_[i]) {
            if (next_ <= i) { // nobody has it yet: decode it here rather than wait
                decode_next(&lock);
            } else {
                changed_.wait(lock);
            }
        }
        return (*jobs_)[i];
    }

  private:
    static constexpr size_t WINDOW = 2;

    void run_helper() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stop_ || next_ >= jobs_->size() || next_ < taken_ + WINDOW; });
            if (stop_ || next_ >= jobs_->size()) return;
            decode_next(&lock);
        }
    }

    // Claims the next job, decodes it without the lock, and says it is done.
    void decode_next(std::unique_lock<std::mutex>* lock) {
        const size_t k = next_++;
        lock->unlock();
        decode(&(*jobs_)[k]);
        lock->lock();
        done_[k] = 1;
        changed_.notify_all();
    }

    std::vector<DecodeJob>* jobs_;
    std::vector<char> done_;
    size_t next_ = 0;  // the next job nobody has started
    size_t taken_ = 0; // the job this thread waits for or works on
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread helper_;
};

int decoded_ok(const DecodeJob& job, ORA_RESULT* result) {
    if (job.out.status == ORA_OK) return 1;
    _ora_set(result, job.out.status, "layer picture %s %s", job.entry->src.c_str(),
             job.out.status == ORA_TOO_LARGE ? "is too large" : "cannot be decoded");
    return 0;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Merging layers past the document's limit
// --------------------------------------------------------------------------------------------

// Composites premultiplied `s` onto `d` the way the layer's mode does, with its opacity.
inline uint32_t composite(uint32_t d, uint32_t s, int blend, uint32_t opacity) {
    auto ch = [](uint32_t p, int i) { return (p >> (8 * i)) & 0xFF; };
    auto mul = [](uint32_t a, uint32_t b) { return (a * b + 127) / 255; };
    uint32_t sc[4], dc[4], out[4];
    for (int i = 0; i < 4; i++) {
        sc[i] = mul(ch(s, i), opacity);
        dc[i] = ch(d, i);
    }
    const uint32_t sa = sc[3], da = dc[3];
    for (int i = 0; i < 3; i++) {
        switch (blend) {
        case LAYER_BLEND_MULTIPLY:
            out[i] = std::min<uint32_t>(255, mul(sc[i], dc[i]) + mul(sc[i], 255 - da) + mul(dc[i], 255 - sa));
            break;
        case LAYER_BLEND_SCREEN: out[i] = sc[i] + dc[i] - mul(sc[i], dc[i]); break;
        case LAYER_BLEND_ADD: out[i] = std::min<uint32_t>(255, sc[i] + dc[i]); break;
        default: out[i] = sc[i] + mul(dc[i], 255 - sa); break;
        }
    }
    out[3] = blend == LAYER_BLEND_ADD ? std::min<uint32_t>(255, sa + da) : sa + mul(da, 255 - sa);
    for (int i = 0; i < 3; i++) out[i] = std::min(out[i], out[3]); // stays premultiplied
    return out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24;
}

void merge_into(uint32_t* base, int image_w, const Placed& placed, const StackEntry& entry) {
    if (!placed.pixels || !entry.visible) return;
    ALLEGRO_BITMAP* bitmap = placed.pixels.get();
    ALLEGRO_LOCKED_REGION* region = al_lock_bitmap(bitmap, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_READONLY);
    if (!region) return;
    const auto opacity = static_cast<uint32_t>(std::lround(entry.opacity * 255.0f));
    const int w = al_get_bitmap_width(bitmap), h = al_get_bitmap_height(bitmap);
    for (int y = 0; y < h; y++) {
        const auto* src = reinterpret_cast<const uint32_t*>(static_cast<const char*>(region->data) +
                                                             static_cast<ptrdiff_t>(y) * region->pitch);
        uint32_t* dst = base + static_cast<size_t>(placed.y + y) * image_w + placed.x;
        for (int x = 0; x < w; x++) dst[x] = composite(dst[x], src[x], entry.blend, opacity);
    }
    al_unlock_bitmap(bitmap);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Building the document
// --------------------------------------------------------------------------------------------

// A picture of the image's size holding the placed pixels (the placed bitmap itself when it
// already is one).
BitmapPtr full_size(Placed* placed, int w, int h) {
    if (placed->pixels && placed->x == 0 && placed->y == 0 &&
        al_get_bitmap_width(placed->pixels.get()) == w && al_get_bitmap_height(placed->pixels.get()) == h)
        return std::move(placed->pixels);
    BitmapPtr full;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        full.reset(al_create_bitmap(w, h));
    }
    if (!full) return full;
    ALLEGRO_LOCKED_REGION* region = al_lock_bitmap(full.get(), LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY);
    if (!region) return BitmapPtr();
    for (int y = 0; y < h; y++)
        memset(static_cast<char*>(region->data) + static_cast<ptrdiff_t>(y) * region->pitch, 0,
               static_cast<size_t>(w) * 4);
    if (placed->pixels) {
        ALLEGRO_LOCKED_REGION* src =
            al_lock_bitmap(placed->pixels.get(), LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_READONLY);
        const int pw = al_get_bitmap_width(placed->pixels.get());
        for (int y = 0; src && y < al_get_bitmap_height(placed->pixels.get()); y++)
            memcpy(static_cast<char*>(region->data) + static_cast<ptrdiff_t>(placed->y + y) * region->pitch +
                       static_cast<ptrdiff_t>(placed->x) * 4,
                   static_cast<const char*>(src->data) + static_cast<ptrdiff_t>(y) * src->pitch,
                   static_cast<size_t>(pw) * 4);
        if (src) al_unlock_bitmap(placed->pixels.get());
    }
    al_unlock_bitmap(full.get());
    return full;
}

int add_layer(DOCUMENT* doc, const StackEntry& entry, BitmapPtr pixels, ORA_RESULT* result) {
    LAYER* layer = pixels ? document_add_layer(doc, entry.name.empty() ? nullptr : entry.name.c_str()) : nullptr;
    if (!layer || !layer_take_pixels(layer, pixels.release())) {
        _ora_set(result, ORA_NO_RESOURCES, "no memory for layer %zu", document_layer_count(doc));
        return 0;
    }
    layer->opacity = entry.opacity;
    layer->visible = entry.visible;
    layer->locked = entry.locked;
    layer->blend = entry.blend;
    return 1;
}

DOCUMENT* build(Archive* archive, StackParse* parse, ORA_RESULT* result) {
    const int w = static_cast<int>(parse->width), h = static_cast<int>(parse->height);
    std::vector<StackEntry>& stacked = parse->layers;
    std::reverse(stacked.begin(), stacked.end()); // bottom first, as the document counts
    // Every layer past the limit goes into the last one the document can hold.
    const size_t kept = std::min(stacked.size(), DOCUMENT_MAX_LAYERS);
    std::unique_ptr<DOCUMENT, void (*)(DOCUMENT*)> doc(document_new(w, h),
                                                       [](DOCUMENT* d) { document_free(&d); });
    if (!doc) {
        _ora_set(result, ORA_NO_RESOURCES, "no memory for a %dx%d drawing", w, h);
        return nullptr;
    }
    std::vector<uint32_t> merged; // the layers from kept - 1 up, composited
    if (stacked.size() > kept) {
        try {
            merged.assign(static_cast<size_t>(w) * h, 0);
        } catch (const std::bad_alloc&) {
            _ora_set(result, ORA_NO_RESOURCES, "no memory to merge layers");
            return nullptr;
        }
    }
    std::vector<DecodeJob> jobs;
    jobs.reserve(stacked.size());
    for (const StackEntry& entry : stacked) jobs.push_back(DecodeJob{&entry, {}, w, h, {}});
    if (!read_sources(archive, &jobs, result)) return nullptr;
    {
        DecodePipeline pipeline(&jobs);
        for (size_t index = 0; index < jobs.size(); index++) {
            DecodeJob& job = pipeline.take(index);
            if (!decoded_ok(job, result)) return nullptr;
            if (index + 1 < kept || merged.empty()) {
                if (!add_layer(doc.get(), stacked[index], full_size(&job.out, w, h), result)) return nullptr;
            } else {
                merge_into(merged.data(), w, job.out, stacked[index]);
            }
            job.out.pixels.reset();
        }
    }
    if (!merged.empty()) {
        BitmapPtr pixels;
        {
            NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
            NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
            pixels.reset(al_create_bitmap(w, h));
        }
        ALLEGRO_LOCKED_REGION* region =
            pixels ? al_lock_bitmap(pixels.get(), LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY) : nullptr;
        if (region) {
            for (int y = 0; y < h; y++)
                memcpy(static_cast<char*>(region->data) + static_cast<ptrdiff_t>(y) * region->pitch,
                       merged.data() + static_cast<size_t>(y) * w, static_cast<size_t>(w) * 4);
            al_unlock_bitmap(pixels.get());
        }
        StackEntry top;
        top.name = stacked[kept - 1].name;
        if (!region || !add_layer(doc.get(), top, std::move(pixels), result)) {
            _ora_set(result, ORA_NO_RESOURCES, "no memory for the merged layer");
            return nullptr;
        }
        if (result) {
            result->notes |= ORA_NOTE_MERGED;
            result->merged = stacked.size() - kept;
        }
    }
    return doc.release();
}

} // namespace

namespace {

// Opens the archive, checks that it is OpenRaster and reads its stack: everything a load or a
// preview does before any picture in it is read.
int open_stack(const void* bytes, size_t size, int max_side, Archive* archive, StackParse* parse,
               ORA_RESULT* result) {
    if (!open_archive(bytes, size, archive, result)) return 0;
    std::string text;
    if (archive->entries.count("mimetype")) {
        if (!read_entry(archive, "mimetype", 256, &text, result)) return 0;
        while (!text.empty() && isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
        if (text != "image/openraster") {
            _ora_set(result, ORA_NOT_ORA, "the archive is not an OpenRaster file");
            return 0;
        }
    }
    if (!archive->entries.count("stack.xml")) {
        _ora_set(result, ORA_NOT_ORA, "the archive has no stack.xml");
        return 0;
    }
    if (!read_entry(archive, "stack.xml", ORA_MAX_XML, &text, result)) return 0;
    return parse_stack(text, std::clamp(max_side, 1, PICTURE_DOC_MAX_SIDE), parse, result);
}

// The whole file, when it is a regular file no larger than an archive may be.
int read_archive_file(const char* path, std::string* bytes, ORA_RESULT* result) {
    size_t size = 0;
    FILE* file = platform_open_regular(path, &size);
    if (!file) {
        _ora_set(result, ORA_UNREADABLE, "cannot read %s", path);
        return 0;
    }
    bool read = size <= ORA_MAX_FILE;
    if (read) {
        try {
            bytes->resize(size);
            read = fread(bytes->data(), 1, size, file) == size;
        } catch (const std::bad_alloc&) {
            read = false;
        }
    }
    fclose(file);
    if (!read) _ora_set(result, size > ORA_MAX_FILE ? ORA_TOO_LARGE : ORA_UNREADABLE, "cannot read %s", path);
    return read ? 1 : 0;
}

} // namespace

namespace {

// The document of a file whose stack is read: its layers, and a message naming what was
// normalised on the way in.
DOCUMENT* load_layers(Archive* archive, StackParse* parse, ORA_RESULT* result) {
    result->notes |= parse->notes;
    DOCUMENT* doc = build(archive, parse, result);
    if (!doc) return nullptr;
    doc->active_layer = document_layer_count(doc) ? document_layer_at(doc, document_layer_count(doc) - 1) : nullptr;
    char* m = result->message;
    const size_t room = sizeof result->message;
    m[0] = 0;
    auto add = [m, room](const char* text) {
        const size_t used = strlen(m);
        snprintf(m + used, room - used, "%s%s", used ? "; " : "", text);
    };
    char merged[96];
    snprintf(merged, sizeof merged, "%zu layers merged into the top one", result->merged);
    if (result->notes & ORA_NOTE_MERGED) add(merged);
    if (result->notes & ORA_NOTE_BLEND) add("unknown layer modes became Normal");
    if (result->notes & ORA_NOTE_STACKS) add("layer groups flattened");
    document_mark_changed(doc); // not saved as a document yet
    return doc;
}

} // namespace

DOCUMENT* ora_load_memory(const void* bytes, size_t size, int max_side, ORA_RESULT* result) {
    ORA_RESULT own{};
    if (!result) result = &own;
    *result = ORA_RESULT{};
    q_assert(bytes || size == 0, return nullptr);
    Archive archive;
    StackParse parse;
    if (!open_stack(bytes, size, max_side, &archive, &parse, result)) return nullptr;
    return load_layers(&archive, &parse, result);
}

DOCUMENT* ora_load(const char* path, int max_side, ORA_RESULT* result) {
    ORA_RESULT own{};
    if (!result) result = &own;
    *result = ORA_RESULT{};
    q_assert(path, return nullptr);
    std::string bytes;
    if (!read_archive_file(path, &bytes, result)) {
        q_log(3, "could not open OpenRaster %s: %s", path, result->message);
        return nullptr;
    }
    DOCUMENT* doc = ora_load_memory(bytes.data(), bytes.size(), max_side, result);
    if (!doc) {
        q_log(3, "could not open OpenRaster %s: %s", path, result->message);
        return nullptr;
    }
    if (result->notes) q_log(4, "OpenRaster %s normalised: %s", path, result->message);
    q_log(6, "loaded OpenRaster %s (%dx%d, %zu layers)", path, doc->width, doc->height,
          document_layer_count(doc));
    return doc;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Previews
// --------------------------------------------------------------------------------------------

namespace {

// One of the file's own flattened pictures, scaled down to w x h, when it is at least that
// large (`exact`: exactly image_w x image_h) and decodes; NULL otherwise.
BitmapPtr flattened_picture(Archive* archive, const char* name, int w, int h, bool exact,
                            int image_w, int image_h) {
    if (!archive->entries.count(name)) return nullptr;
    ORA_RESULT ignored{};
    std::string png;
    if (!read_entry(archive, name, ORA_MAX_ENTRY, &png, &ignored)) return nullptr;
    PICTURE_INFO info{};
    const auto* data = reinterpret_cast<const unsigned char*>(png.data());
    if (!picture_probe(data, png.size(), &info) || info.kind != PICTURE_PNG) return nullptr;
    if (exact ? info.width != image_w || info.height != image_h : info.width < w || info.height < h)
        return nullptr;
    int status = PNG_READ_OK;
    BitmapPtr decoded(png_read_premultiplied(data, png.size(), PICTURE_DOC_MAX_SIDE, &status));
    if (!decoded || (info.width == w && info.height == h)) return decoded;
    return BitmapPtr(picture_scale_down(decoded.get(), w, h));
}

} // namespace

DOCUMENT* ora_load_preview_memory(const void* bytes, size_t length, int size, ORA_RESULT* result) {
    ORA_RESULT own{};
    if (!result) result = &own;
    *result = ORA_RESULT{};
    q_assert(bytes || length == 0, return nullptr);
    q_assert(size > 0, return nullptr);
    Archive archive;
    StackParse parse;
    if (!open_stack(bytes, length, PICTURE_DOC_MAX_SIDE, &archive, &parse, result)) return nullptr;
    const int image_w = static_cast<int>(parse.width), image_h = static_cast<int>(parse.height);
    int w = 0, h = 0;
    reduce_fit(image_w, image_h, size, size, &w, &h);
    // The preview when it is large enough, else the full picture every writer stores.
    BitmapPtr pixels = flattened_picture(&archive, "Thumbnails/thumbnail.png", w, h, false, image_w, image_h);
    if (!pixels) pixels = flattened_picture(&archive, "mergedimage.png", w, h, true, image_w, image_h);
    if (!pixels) {
        q_log(6, "no flattened picture of %dx%d or more: the layers are read", w, h);
        return load_layers(&archive, &parse, result);
    }
    DOCUMENT* doc = document_new(w, h);
    LAYER* layer = doc ? document_add_layer(doc, "preview") : nullptr;
    if (!layer || !layer_take_pixels(layer, pixels.release())) {
        document_free(&doc);
        _ora_set(result, ORA_NO_RESOURCES, "no memory for a %dx%d preview", w, h);
        return nullptr;
    }
    return doc;
}

DOCUMENT* ora_load_preview(const char* path, int size, ORA_RESULT* result) {
    ORA_RESULT own{};
    if (!result) result = &own;
    *result = ORA_RESULT{};
    q_assert(path, return nullptr);
    std::string bytes;
    DOCUMENT* doc = read_archive_file(path, &bytes, result)
                        ? ora_load_preview_memory(bytes.data(), bytes.size(), size, result)
                        : nullptr;
    if (doc) q_log(6, "OpenRaster %s previewed at %dx%d", path, doc->width, doc->height);
    else q_log(3, "could not open OpenRaster %s: %s", path, result->message);
    return doc;
}

// ============================================================================================
// Document snapshots
//   [SECTION] Run-length encoding of one tile
//   [SECTION] The tile cache
//   [SECTION] Taking a snapshot
//   [SECTION] Writing a snapshot
//   [SECTION] Decoding layer images
// ============================================================================================
#include "canvas/snapshot.h"

#include <allegro5/allegro.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <new>
#include <thread>
#include <unordered_map>

#include "canvas/document.h"
#include "canvas/reduce.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_str.h"

struct SNAPSHOT_TILE {
    int32_t w, h;
    std::vector<uint32_t> row_end; // h entries: where each row's packets end in `bytes`
    std::vector<unsigned char> bytes;
};

// --------------------------------------------------------------------------------------------
// [SECTION] Run-length encoding of one tile
// --------------------------------------------------------------------------------------------

namespace {

constexpr int MAX_PACKET = 128;
// Every packet of the image stream: a header byte, then one pixel (a run) or up to 128 (raw).
constexpr size_t WORST_BYTES_PER_PIXEL = 5;

// Pixels are kept R, G, B, A in memory; a TGA file stores B, G, R, A.
inline uint32_t swap_red_blue(uint32_t v) {
    return (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
}

inline unsigned char* put_pixel(unsigned char* out, uint32_t rgba) {
    const uint32_t bgra = swap_red_blue(rgba);
    memcpy(out, &bgra, 4);
    return out + 4;
}

inline uint32_t load_pixel(const unsigned char* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

// Encodes n pixels as TGA run-length packets; returns the bytes written (at most 5 * n).
size_t encode_row(const unsigned char* row, int n, unsigned char* out) {
    unsigned char* o = out;
    int i = 0;
    while (i < n) {
        const uint32_t first = load_pixel(row + 4 * i);
        int run = 1;
        while (i + run < n && run < MAX_PACKET && load_pixel(row + 4 * (i + run)) == first)
            run++;
        if (run >= 2) {
            *o++ = static_cast<unsigned char>(0x80 | (run - 1));
            o = put_pixel(o, first);
            i += run;
            continue;
        }
        // Raw pixels until two equal neighbours start a run (or the packet is full).
        const int start = i;
        int count = 0;
        while (i < n && count < MAX_PACKET &&
               !(i + 1 < n && load_pixel(row + 4 * (i + 1)) == load_pixel(row + 4 * i))) {
            i++;
            count++;
        }
        *o++ = static_cast<unsigned char>(count - 1);
        for (int k = start; k < start + count; k++) o = put_pixel(o, load_pixel(row + 4 * k));
    }
    return static_cast<size_t>(o - out);
}

// A row of transparent pixels, what an absent committed tile holds.
constexpr std::array<unsigned char, LAYER_TILE_SIZE * 4> CLEAR_ROW{};

// Encodes the top-left w x h pixels of a committed tile (NULL = transparent). NULL when memory
// ran out; `scratch` holds at least 5 bytes per tile pixel.
std::shared_ptr<const SNAPSHOT_TILE> encode_tile(const uint32_t* pixels, int w, int h,
                                                 std::vector<unsigned char>& scratch) {
    try {
        auto tile = std::make_shared<SNAPSHOT_TILE>();
        tile->w = w;
        tile->h = h;
        tile->row_end.resize(static_cast<size_t>(h));
        size_t used = 0;
        for (int r = 0; r < h; r++) {
            const unsigned char* row =
                pixels ? reinterpret_cast<const unsigned char*>(
                             pixels + static_cast<size_t>(r) * LAYER_TILE_SIZE)
                       : CLEAR_ROW.data();
            used += encode_row(row, w, scratch.data() + used);
            tile->row_end[static_cast<size_t>(r)] = static_cast<uint32_t>(used);
        }
        tile->bytes.assign(scratch.begin(), scratch.begin() + static_cast<ptrdiff_t>(used));
        return tile;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] The tile cache
// --------------------------------------------------------------------------------------------

struct SNAPSHOT_CACHE {
    struct Entry {
        std::shared_ptr<const SNAPSHOT_TILE> tile;
        uint64_t pass; // the last update that found the tile in a document
    };
    std::unordered_map<uint64_t, Entry> tiles; // by tile stamp
    uint64_t pass = 0;
};

namespace {

// One tile that is not in the cache yet, and where its encoding goes.
struct TileJob {
    const uint32_t* pixels; // the committed tile, NULL when transparent
    int w, h;
    uint64_t stamp;
    std::shared_ptr<const SNAPSHOT_TILE> result;
};

// Encodes jobs first, first + step, ... until `deadline` (none when zero). Returns how many of
// its jobs it finished; stops early when memory runs out.
size_t run_jobs(std::vector<TileJob>& jobs, size_t first, size_t step, std::chrono::steady_clock::time_point deadline) {
    std::vector<unsigned char> scratch;
    try {
        scratch.resize(static_cast<size_t>(LAYER_TILE_SIZE) * LAYER_TILE_SIZE *
                       WORST_BYTES_PER_PIXEL);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    size_t done = 0;
    for (size_t i = first; i < jobs.size(); i += step) {
        TileJob& job = jobs[i];
        job.result = encode_tile(job.pixels, job.w, job.h, scratch);
        if (!job.result) break;
        done++;
        if (deadline != std::chrono::steady_clock::time_point{} &&
            std::chrono::steady_clock::now() >= deadline)
            break;
    }
    return done;
}

} // namespace

SNAPSHOT_CACHE* snapshot_cache_new() {
    SNAPSHOT_CACHE* cache = new (std::nothrow) SNAPSHOT_CACHE();
    if (!cache) q_log(3, "could not allocate a snapshot cache");
    return cache;
}

void snapshot_cache_free(SNAPSHOT_CACHE** cache) {
    q_assert(cache, return);
    delete *cache;
    *cache = NULL;
}

size_t snapshot_cache_bytes(const SNAPSHOT_CACHE* cache, size_t* tiles) {
    if (tiles) *tiles = 0;
    q_assert(cache, return 0);
    size_t bytes = 0;
    for (const auto& [stamp, entry] : cache->tiles)
        bytes += sizeof(SNAPSHOT_TILE) + entry.tile->bytes.capacity() +
                 entry.tile->row_end.capacity() * sizeof(uint32_t);
    if (tiles) *tiles = cache->tiles.size();
    return bytes;
}

int snapshot_cache_update(SNAPSHOT_CACHE* cache, DOCUMENT* doc, double budget) {
    q_assert(cache, return 0);
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    const uint64_t pass = ++cache->pass;
    std::vector<TileJob> jobs;
    try {
        for (LIST_NODE* node = doc->layers->start; node; node = node->next) {
            LAYER* layer = static_cast<LAYER*>(node->ptr);
            // snapshot_take refuses a layer without tiles or of another size
            if (!layer->tiles || !layer->tile_stamps || layer->width != doc->width ||
                layer->height != doc->height)
                continue;
            for (int row = 0; row < layer->tiles_y; row++) {
                for (int col = 0; col < layer->tiles_x; col++) {
                    const uint64_t stamp = layer_tile_stamp(layer, col, row);
                    auto found = cache->tiles.find(stamp);
                    if (found != cache->tiles.end()) {
                        found->second.pass = pass;
                        continue;
                    }
                    const int x = col * LAYER_TILE_SIZE, y = row * LAYER_TILE_SIZE;
                    jobs.push_back(TileJob{layer_committed_tile(layer, col, row),
                                           std::min(LAYER_TILE_SIZE, doc->width - x),
                                           std::min(LAYER_TILE_SIZE, doc->height - y), stamp,
                                           nullptr});
                }
            }
        }
    } catch (const std::bad_alloc&) {
        q_log(3, "could not list the tiles to encode");
        return 0;
    }

    size_t done = 0;
    if (budget > 0.0) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(budget));
        done = run_jobs(jobs, 0, 1, deadline);
    } else if (!jobs.empty()) {
        // Tiles are independent: the other core takes every second one. The helper reads the
        // committed tiles only, which nothing changes while this thread waits for it.
        size_t helper_done = 0;
        std::thread helper;
        try {
            helper = std::thread([&] { helper_done = run_jobs(jobs, 1, 2, {}); });
            done = run_jobs(jobs, 0, 2, {});
            helper.join();
        } catch (const std::system_error&) {
            done = run_jobs(jobs, 0, 1, {}); // no second thread: do it all here
        }
        done += helper_done;
    }
    try {
        for (TileJob& job : jobs)
            if (job.result) cache->tiles[job.stamp] = SNAPSHOT_CACHE::Entry{job.result, pass};
    } catch (const std::bad_alloc&) {
        q_log(3, "could not keep the encoded tiles");
        return 0;
    }
    if (done < jobs.size()) return 0;
    std::erase_if(cache->tiles, [pass](const auto& item) { return item.second.pass != pass; });
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Taking a snapshot
// --------------------------------------------------------------------------------------------

namespace {

uint32_t stored_opacity(float opacity) {
    const float clamped = opacity > 0.0f ? std::min(opacity, 1.0f) : 0.0f; // NaN too
    return static_cast<uint32_t>(clamped * 1000.0 + 0.5);
}

struct Fnv {
    uint64_t hash = 1469598103934665603ull;
    void bytes(const void* data, size_t size) {
        for (size_t i = 0; i < size; i++) {
            hash ^= static_cast<const unsigned char*>(data)[i];
            hash *= 1099511628211ull;
        }
    }
    void u64(uint64_t value) { bytes(&value, sizeof value); }
};

const char* layer_name(const LAYER* layer) {
    return layer->name && layer->name->data ? layer->name->data : "layer";
}

size_t layer_name_length(const LAYER* layer) {
    return layer->name && layer->name->data ? layer->name->used : 5;
}

} // namespace

uint64_t snapshot_signature(const DOCUMENT* doc) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    Fnv fnv;
    fnv.u64(static_cast<uint64_t>(doc->width) << 32 | static_cast<uint32_t>(doc->height));
    fnv.u64(static_cast<uint64_t>(static_cast<uint32_t>(doc->template_index)));
    fnv.u64(doc->layers->count);
    for (LIST_NODE* node = doc->layers->start; node; node = node->next) {
        const LAYER* layer = static_cast<const LAYER*>(node->ptr);
        fnv.u64(layer_name_length(layer));
        fnv.bytes(layer_name(layer), layer_name_length(layer));
        fnv.u64(static_cast<uint64_t>(stored_opacity(layer->opacity)) << 32 |
                static_cast<uint32_t>(layer->blend));
        fnv.u64((layer->visible ? 1u : 0u) | (layer->locked ? 2u : 0u));
    }
    return fnv.hash;
}

DOCUMENT_SNAPSHOT* snapshot_take(SNAPSHOT_CACHE* cache, const DOCUMENT* doc) {
    q_assert(cache, return NULL);
    q_assert(doc, return NULL);
    q_assert(doc->layers, return NULL);
    // Refuse what the reader would refuse: a file we cannot open again is worse than none.
    if (doc->layers->count > DOCUMENT_MAX_LAYERS) {
        q_log(3, "%zu layers, at most %zu can be read back", doc->layers->count,
              DOCUMENT_MAX_LAYERS);
        return NULL;
    }
    std::unique_ptr<DOCUMENT_SNAPSHOT> snapshot(new (std::nothrow) DOCUMENT_SNAPSHOT());
    if (!snapshot) return NULL;
    snapshot->width = doc->width;
    snapshot->height = doc->height;
    snapshot->template_index = doc->template_index;
    snapshot->tiles_x = (doc->width + LAYER_TILE_SIZE - 1) / LAYER_TILE_SIZE;
    snapshot->tiles_y = (doc->height + LAYER_TILE_SIZE - 1) / LAYER_TILE_SIZE;
    snapshot->changes = doc->changes;
    snapshot->signature = snapshot_signature(doc);
    try {
        snapshot->layers.reserve(doc->layers->count);
        snapshot->write_buffer.resize(SNAPSHOT_WRITE_PIECE);
        for (LIST_NODE* node = doc->layers->start; node; node = node->next) {
            const LAYER* layer = static_cast<const LAYER*>(node->ptr);
            if (!layer->tiles || !layer->tile_stamps || layer->tiles_x != snapshot->tiles_x ||
                layer->tiles_y != snapshot->tiles_y || layer->width != doc->width ||
                layer->height != doc->height) {
                q_log(3, "layer %s has lost its committed pixels", layer_name(layer));
                return NULL;
            }
            if (layer_name_length(layer) > DOCUMENT_MAX_NAME) {
                q_log(3, "a layer name of %zu bytes, at most %zu can be read back",
                      layer_name_length(layer), DOCUMENT_MAX_NAME);
                return NULL;
            }
            SNAPSHOT_LAYER& out = snapshot->layers.emplace_back();
            out.name.assign(layer_name(layer), layer_name_length(layer));
            out.opacity = stored_opacity(layer->opacity);
            out.blend = static_cast<uint32_t>(layer->blend);
            out.visible = layer->visible;
            out.locked = layer->locked;
            out.tiles.reserve(static_cast<size_t>(layer->tiles_x) * layer->tiles_y);
            for (int row = 0; row < layer->tiles_y; row++) {
                for (int col = 0; col < layer->tiles_x; col++) {
                    auto found = cache->tiles.find(layer_tile_stamp(layer, col, row));
                    if (found == cache->tiles.end()) return NULL; // update first
                    out.tiles.push_back(found->second.tile);
                }
            }
        }
    } catch (const std::bad_alloc&) {
        q_log(3, "could not allocate a snapshot of %zu layers", doc->layers->count);
        return NULL;
    }
    return snapshot.release();
}

void snapshot_free(DOCUMENT_SNAPSHOT** snapshot) {
    q_assert(snapshot, return);
    delete *snapshot;
    *snapshot = NULL;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Writing a snapshot
// --------------------------------------------------------------------------------------------

namespace {

// Collects small pieces into large writes.
class BufferedFile {
  public:
    BufferedFile(PLATFORM_FILE_WRITER* file, std::vector<unsigned char>& buffer)
        : file_(file), buffer_(buffer) {}
    bool ready() {
        if (buffer_.size() >= SNAPSHOT_WRITE_PIECE) return true;
        try {
            buffer_.resize(SNAPSHOT_WRITE_PIECE);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    void put(const void* bytes, size_t count) {
        if (used_ + count > buffer_.size()) flush();
        if (count > buffer_.size()) {
            platform_file_write(file_, bytes, count);
            return;
        }
        memcpy(buffer_.data() + used_, bytes, count);
        used_ += count;
    }
    void u32(uint32_t value) {
        const unsigned char bytes[4] = {
            static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
            static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
        put(bytes, 4);
    }
    // Each piece handed to the system is a moment where a waiting thread may run first: a
    // background write at low priority then never holds a core for long.
    void flush() {
        platform_file_write(file_, buffer_.data(), used_);
        used_ = 0;
        std::this_thread::yield();
    }

  private:
    PLATFORM_FILE_WRITER* file_;
    std::vector<unsigned char>& buffer_;
    size_t used_ = 0;
};

// The layer image: a run-length TGA, 32 bits with 8 alpha bits, rows from the bottom up like
// the images every earlier version wrote.
void put_layer_image(BufferedFile& out, const DOCUMENT_SNAPSHOT& snapshot,
                     const SNAPSHOT_LAYER& layer) {
    uint64_t size = 18;
    for (const auto& tile : layer.tiles) size += tile->bytes.size();
    out.u32(static_cast<uint32_t>(size));
    const int w = snapshot.width, h = snapshot.height;
    const unsigned char header[18] = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                      static_cast<unsigned char>(w),
                                      static_cast<unsigned char>(w >> 8),
                                      static_cast<unsigned char>(h),
                                      static_cast<unsigned char>(h >> 8), 32, 8};
    out.put(header, sizeof header);
    for (int y = h - 1; y >= 0; y--) {
        const size_t tile_row = static_cast<size_t>(y / LAYER_TILE_SIZE);
        const size_t r = static_cast<size_t>(y % LAYER_TILE_SIZE);
        for (int col = 0; col < snapshot.tiles_x; col++) {
            const SNAPSHOT_TILE& tile =
                *layer.tiles[tile_row * static_cast<size_t>(snapshot.tiles_x) +
                             static_cast<size_t>(col)];
            const size_t start = r == 0 ? 0 : tile.row_end[r - 1];
            out.put(tile.bytes.data() + start, tile.row_end[r] - start);
        }
    }
}

int write_snapshot(const DOCUMENT_SNAPSHOT* snapshot, const char* path,
                   PLATFORM_FILE_WRITER& file) {
    if (!platform_file_open(&file, path)) return 0;
    BufferedFile out(&file, snapshot->write_buffer);
    if (!out.ready()) {
        q_log(3, "could not allocate a write buffer for %s", path);
        platform_file_abandon(&file);
        file.error = ENOMEM;
        return 0;
    }
    out.put("TVL3", 4);
    out.u32(static_cast<uint32_t>(snapshot->width));
    out.u32(static_cast<uint32_t>(snapshot->height));
    out.u32(static_cast<uint32_t>(snapshot->template_index));
    out.u32(static_cast<uint32_t>(snapshot->layers.size()));
    for (const SNAPSHOT_LAYER& layer : snapshot->layers) {
        out.u32(static_cast<uint32_t>(layer.name.size()));
        out.put(layer.name.data(), layer.name.size());
        out.u32(layer.opacity);
        out.u32(layer.blend);
        out.u32(layer.visible ? 1 : 0);
        out.u32(layer.locked ? 1 : 0);
        put_layer_image(out, *snapshot, layer);
    }
    out.flush();
    return platform_file_commit(&file);
}

} // namespace

int snapshot_write(const DOCUMENT_SNAPSHOT* snapshot, const char* path, int* error) {
    q_assert(snapshot, return 0);
    q_assert(path, return 0);
    PLATFORM_FILE_WRITER file;
    const int ok = write_snapshot(snapshot, path, file);
    if (error) *error = ok ? 0 : (file.error ? file.error : ENOMEM);
    return ok;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Decoding layer images
// --------------------------------------------------------------------------------------------

namespace {

// Where a layer's decoded pixels go: a band of whole rows, handed on each time the stream
// leaves it. Rows may come either way up, but a band's rows are next to each other in the
// stream either way, so a band is whole when the stream leaves it; and since every pixel of it
// is written, the band is never cleared in between.
struct BandSink {
    unsigned char* band;
    int band_rows, width, height;
    const std::function<bool(int top, int rows)>& take;
    int top = -1; // the first row of the band being filled
    bool refused = false;

    void hand_on() {
        if (top >= 0 && !refused) refused = !take(top, std::min(band_rows, height - top));
    }
    unsigned char* at(int x, int y) {
        if (y - y % band_rows != top) {
            hand_on();
            top = y - y % band_rows;
        }
        return band + (static_cast<ptrdiff_t>(y - top) * width + x) * 4;
    }
    void fill(int x, int y, uint32_t rgba, size_t n) {
        unsigned char* dst = at(x, y);
        for (size_t i = 0; i < n; i++) memcpy(dst + 4 * i, &rgba, 4);
    }
    void copy(int x, int y, const unsigned char* bgra, size_t n) {
        unsigned char* dst = at(x, y);
        for (size_t i = 0; i < n; i++, bgra += 4, dst += 4) {
            dst[0] = bgra[2];
            dst[1] = bgra[1];
            dst[2] = bgra[0];
            dst[3] = bgra[3];
        }
    }
};

// Where pixels go when they are only to be scaled down: into a reduction, which wants its rows
// in order, as the stream gives them.
struct ReductionSink {
    REDUCTION* reduction;
    static constexpr bool refused = false;

    void fill(int x, int y, uint32_t rgba, size_t n) {
        reduction_add_run(reduction, x, y, rgba, static_cast<int>(n));
    }
    void copy(int x, int y, const unsigned char* bgra, size_t n) {
        uint32_t converted[MAX_PACKET];
        for (size_t done = 0; done < n;) {
            const size_t part = std::min(n - done, static_cast<size_t>(MAX_PACKET));
            for (size_t i = 0; i < part; i++, bgra += 4) converted[i] = swap_red_blue(load_pixel(bgra));
            reduction_add_pixels(reduction, x + static_cast<int>(done), y, converted, static_cast<int>(part));
            done += part;
        }
    }
};

// A checked layer image: its size, row order and first pixel byte.
struct TgaImage {
    const unsigned char* data;
    const unsigned char* end;
    bool run_length;
    int width, height;
    bool top_down;
};

// Checks the header of a layer image for the kinds decoded here: SNAPSHOT_TGA_OK with `out`
// filled, or why not.
int tga_layer_header(const unsigned char* image, size_t size, int width, int height, TgaImage* out) {
    if (size < 18 || width < 1 || height < 1) return SNAPSHOT_TGA_BROKEN;
    const unsigned type = image[2], depth = image[16], descriptor = image[17];
    if (image[1] != 0 || depth != 32 || (descriptor & 0xDF) != 8 || (type != 2 && type != 10))
        return SNAPSHOT_TGA_OTHER_KIND;
    const int w = image[12] | image[13] << 8, h = image[14] | image[15] << 8;
    if (w != width || h != height) return SNAPSHOT_TGA_BROKEN;
    *out = TgaImage{image + 18 + image[0], image + size, type == 10, width, height, (descriptor & 0x20) != 0};
    return out->data <= out->end ? SNAPSHOT_TGA_OK : SNAPSHOT_TGA_BROKEN;
}

// The stream's pixels from `*next` on, `n` of them, handed to `span(x, y, done, count)` a row
// at a time: a packet may cross the end of a row in files other writers made.
template <typename Span>
void by_rows(const TgaImage& image, size_t* next, size_t n, Span span) {
    const auto width = static_cast<size_t>(image.width);
    for (size_t done = 0; done < n;) {
        const size_t row = *next / width, column = *next % width;
        const size_t count = std::min(n - done, width - column);
        const int y = image.top_down ? static_cast<int>(row) : image.height - 1 - static_cast<int>(row);
        span(static_cast<int>(column), y, done, count);
        *next += count;
        done += count;
    }
}

// Feeds the pixels of a checked image to `sink`; `skip_clear` passes transparent runs over.
template <typename Sink>
int decode_pixels(const TgaImage& image, Sink& sink, bool skip_clear) {
    const size_t total = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    const unsigned char* src = image.data;
    size_t next = 0;
    const auto copy = [&](size_t n) {
        by_rows(image, &next, n, [&](int x, int y, size_t done, size_t count) {
            sink.copy(x, y, src + done * 4, count);
        });
        src += n * 4;
    };
    if (!image.run_length) {
        if (static_cast<size_t>(image.end - src) / 4 < total) return SNAPSHOT_TGA_BROKEN;
        copy(total);
        return SNAPSHOT_TGA_OK;
    }
    while (next < total && !sink.refused) {
        if (src >= image.end) return SNAPSHOT_TGA_BROKEN;
        const unsigned header = *src++;
        const size_t count = (header & 0x7F) + 1u;
        if (count > total - next) return SNAPSHOT_TGA_BROKEN;
        if (header & 0x80) {
            if (image.end - src < 4) return SNAPSHOT_TGA_BROKEN;
            const uint32_t rgba = swap_red_blue(load_pixel(src));
            src += 4;
            if (skip_clear && rgba == 0) next += count;
            else by_rows(image, &next, count, [&](int x, int y, size_t, size_t n) { sink.fill(x, y, rgba, n); });
        } else {
            if (static_cast<size_t>(image.end - src) / 4 < count) return SNAPSHOT_TGA_BROKEN;
            copy(count);
        }
    }
    return SNAPSHOT_TGA_OK;
}

} // namespace

int snapshot_decode_tga(const unsigned char* image, size_t size, int width, int height,
                        unsigned char* band, int band_rows,
                        const std::function<bool(int top, int rows)>& take) {
    q_assert(image, return SNAPSHOT_TGA_BROKEN);
    q_assert(band && band_rows > 0, return SNAPSHOT_TGA_BROKEN);
    TgaImage checked{};
    const int header = tga_layer_header(image, size, width, height, &checked);
    if (header != SNAPSHOT_TGA_OK) return header;
    BandSink sink{band, band_rows, width, height, take};
    const int decoded = decode_pixels(checked, sink, false);
    if (decoded == SNAPSHOT_TGA_OK) sink.hand_on();
    return decoded == SNAPSHOT_TGA_OK && sink.refused ? SNAPSHOT_TGA_REFUSED : decoded;
}

int snapshot_reduce_tga(const unsigned char* image, size_t size, int width, int height,
                        REDUCTION* into) {
    q_assert(image, return SNAPSHOT_TGA_BROKEN);
    q_assert(into && into->src_w == width && into->src_h == height, return SNAPSHOT_TGA_BROKEN);
    TgaImage checked{};
    const int header = tga_layer_header(image, size, width, height, &checked);
    if (header != SNAPSHOT_TGA_OK) return header;
    ReductionSink sink{into};
    const int decoded = decode_pixels(checked, sink, true);
    reduction_finish(into);
    return decoded;
}

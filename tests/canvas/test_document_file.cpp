#include <gtest/gtest.h>

#include <allegro5/allegro_image.h>
#include <allegro5/allegro_memfile.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "canvas/allegro_state.h"
#include "canvas/document.h"
#include "canvas/picture.h"
#include "canvas_test_util.h"
#include "q/q_str.h"
#include "template.h"
#include "test_support.h"

namespace {

// Writes one stored (premultiplied) pixel into a layer's committed tiles and working bitmap.
void put_pixel(LAYER* layer, int x, int y, Rgba p) {
    const uint32_t value = packed(p.r, p.g, p.b, p.a);
    ASSERT_EQ(layer_write_committed(layer, x, y, 1, 1, &value, 1), 1);
    for (ALLEGRO_BITMAP* bitmap : {layer->bitmap}) {
        ALLEGRO_LOCKED_REGION* region =
            al_lock_bitmap_region(bitmap, x, y, 1, 1, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE,
                                  ALLEGRO_LOCK_READWRITE);
        ASSERT_NE(region, nullptr);
        auto* px = static_cast<unsigned char*>(region->data);
        px[0] = static_cast<unsigned char>(p.r);
        px[1] = static_cast<unsigned char>(p.g);
        px[2] = static_cast<unsigned char>(p.b);
        px[3] = static_cast<unsigned char>(p.a);
        al_unlock_bitmap(bitmap);
    }
    layer->needs_clear = false;
}

Rgba stored_pixel(ALLEGRO_BITMAP* bitmap, int x, int y) {
    ALLEGRO_LOCKED_REGION* region = al_lock_bitmap_region(
        bitmap, x, y, 1, 1, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!region) return Rgba{-1, -1, -1, -1};
    auto* px = static_cast<const unsigned char*>(region->data);
    Rgba p{px[0], px[1], px[2], px[3]};
    al_unlock_bitmap(bitmap);
    return p;
}

void u32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

uint32_t read_u32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

// A TGA image of a transparent w x h memory bitmap, with one red premultiplied pixel.
std::string tga_image(int w, int h) {
    int old = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* bitmap = al_create_bitmap(w, h);
    al_set_new_bitmap_flags(old);
    fill_bitmap(bitmap, al_map_rgba(0, 0, 0, 0));
    ALLEGRO_LOCKED_REGION* region = al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE,
                                                   ALLEGRO_LOCK_READWRITE);
    auto* px = static_cast<unsigned char*>(region->data);
    px[0] = 64;
    px[3] = 128;
    al_unlock_bitmap(bitmap);
    size_t size = 0;
    unsigned char* bytes = _bitmap_encode(bitmap, ".tga", &size);
    al_destroy_bitmap(bitmap);
    std::string out(reinterpret_cast<char*>(bytes), size);
    free(bytes);
    return out;
}

// One hand-built layer record of the given file version.
std::string record(int version, const std::string& name, uint32_t opacity, uint32_t blend,
                   uint32_t visible, uint32_t locked, const std::string& image) {
    std::string r;
    u32(r, static_cast<uint32_t>(name.size()));
    r += name;
    u32(r, opacity);
    u32(r, blend);
    u32(r, visible);
    if (version >= 2) u32(r, locked);
    u32(r, static_cast<uint32_t>(image.size()));
    return r + image;
}

std::string header(int version, uint32_t w, uint32_t h, uint32_t tpl, uint32_t count) {
    std::string s = "TVL" + std::to_string(version);
    u32(s, w);
    u32(s, h);
    if (version == 3) u32(s, tpl);
    u32(s, count);
    return s;
}

struct DocumentFile : testing::Test {
    ScratchDir dir;
    std::string path = dir.file("doc.tvl");

    DOCUMENT* load_bytes(const std::string& bytes) {
        EXPECT_TRUE(write_file(path, bytes));
        return document_load(path.c_str());
    }
};

} // namespace

// Random small documents, saved and loaded, come back as they were: size, template, and for
// every layer its name, opacity (to the thousandth the file keeps), blend mode (unknown ones
// too), visibility, lock and committed pixels, both in the saved copy and the working bitmap.
// The file keeps no active layer: the top one is active after a load.
TEST_F(DocumentFile, RandomDocumentsSurviveSaveAndLoad) {
    std::mt19937 rng(20240611);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 40; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        DOCUMENT* doc = document_new(pick(1, 90), pick(1, 70));
        ASSERT_NE(doc, nullptr);
        doc->template_index = pick(0, template_count() - 1);
        std::vector<Image> images;
        for (int i = pick(0, 4); i > 0; i--) {
            static const char* const pieces[] = {"a", "Z", " ", "7", "\xc3\xa9", "\xe8\x8d\x89"};
            std::string name;
            for (int n = pick(0, 12); n > 0; n--) name += pieces[pick(0, 5)];
            LAYER* layer = document_add_layer(doc, name.c_str());
            ASSERT_NE(layer, nullptr);
            layer->opacity = static_cast<float>(pick(0, 1000)) / 1000.0f;
            layer->blend = pick(0, 5);
            layer->visible = pick(0, 1);
            layer->locked = pick(0, 1);
            // Runs of one premultiplied colour between single pixels, for both kinds of packet.
            Image image(doc->width, doc->height);
            uint32_t colour = 0;
            for (uint32_t& p : image.px) {
                if (pick(0, 3) == 0) {
                    const int a = pick(0, 255);
                    colour = packed(pick(0, a), pick(0, a), pick(0, a), a);
                }
                p = colour;
            }
            write_committed(layer, image);
            write_image(layer->bitmap, image);
            layer->needs_clear = false;
            images.push_back(image);
        }
        ASSERT_EQ(document_save(doc, path.c_str()), 1);
        EXPECT_FALSE(std::ifstream(path + ".tmp").good());
        DOCUMENT* back = document_load(path.c_str());
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(std::vector<int>({back->width, back->height, back->template_index}),
                  std::vector<int>({doc->width, doc->height, doc->template_index}));
        ASSERT_EQ(document_layer_count(back), images.size());
        for (size_t i = 0; i < images.size(); i++) {
            const LAYER* a = document_layer_at(doc, i);
            const LAYER* b = document_layer_at(back, i);
            EXPECT_STREQ(b->name->data, a->name->data);
            EXPECT_EQ(std::lround(b->opacity * 1000), std::lround(a->opacity * 1000));
            EXPECT_EQ(std::vector<int>({b->blend, b->visible, b->locked}),
                      std::vector<int>({a->blend, a->visible, a->locked}));
            EXPECT_TRUE(committed_image(b) == images[i]) << "layer " << i;
            EXPECT_TRUE(read_image(b->bitmap) == images[i]) << "layer " << i;
        }
        EXPECT_EQ(back->active_layer,
                  images.empty() ? nullptr : document_layer_at(back, images.size() - 1));
        document_free(&back);
        document_free(&doc);
    }
}

TEST_F(DocumentFile, HeaderAndRecordLayout) {
    DOCUMENT* doc = document_new(64, 64);
    document_add_layer(doc, "Layer 1");
    ASSERT_EQ(document_save(doc, path.c_str()), 1);
    document_free(&doc);
    const std::string bytes = read_file(path);
    ASSERT_GT(bytes.size(), 51u);
    EXPECT_EQ(bytes.substr(0, 4), "TVL3");
    const uint32_t fields[] = {64, 64, 0, 1, 7};
    for (int i = 0; i < 5; i++) EXPECT_EQ(read_u32(bytes, 4 + 4 * i), fields[i]);
    EXPECT_EQ(bytes.substr(24, 7), "Layer 1");
    EXPECT_EQ(read_u32(bytes, 31), 1000u);
    EXPECT_EQ(read_u32(bytes, 35), 0u);
    EXPECT_EQ(read_u32(bytes, 39), 1u);
    EXPECT_EQ(read_u32(bytes, 43), 0u);
    EXPECT_EQ(read_u32(bytes, 47), bytes.size() - 51);
}

TEST_F(DocumentFile, OlderVersionsLoadWithTheirRules) {
    const std::string image = tga_image(40, 30);
    DOCUMENT* v1 = load_bytes(header(1, 40, 30, 0, 2) + record(1, "a", 500, 2, 1, 0, image) +
                              record(1, "b", 2500, 1, 0, 0, image));
    ASSERT_NE(v1, nullptr);
    ASSERT_EQ(document_layer_count(v1), 2u);
    EXPECT_FALSE(document_layer_at(v1, 0)->locked);
    EXPECT_FLOAT_EQ(document_layer_at(v1, 0)->opacity, 0.5f);
    EXPECT_FLOAT_EQ(document_layer_at(v1, 1)->opacity, 1.0f); // 2500 is capped
    EXPECT_FALSE(document_layer_at(v1, 1)->visible);
    EXPECT_TRUE(rgba_near(committed_at(document_layer_at(v1, 0), 0, 0), {64, 0, 0, 128}, 0));
    document_free(&v1);

    DOCUMENT* v2 = load_bytes(header(2, 40, 30, 0, 1) + record(2, "c", 1000, 0, 1, 1, image) +
                              "trailing bytes are ignored");
    ASSERT_NE(v2, nullptr);
    EXPECT_TRUE(document_layer_at(v2, 0)->locked);
    EXPECT_EQ(v2->template_index, 0);
    document_free(&v2);

    // An unknown template index reads as none; a file without layers has no active layer.
    DOCUMENT* empty = load_bytes(header(3, 40, 30, 99, 0));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->template_index, 0);
    EXPECT_EQ(document_layer_count(empty), 0u);
    EXPECT_EQ(empty->active_layer, nullptr);
    document_free(&empty);
}

TEST_F(DocumentFile, MalformedFilesFailWithTheirMessages) {
    const std::string image = tga_image(40, 30);
    const std::string good = record(3, "x", 1000, 0, 1, 0, image);
    struct Case {
        std::string bytes;
        std::string message;
    };
    const std::string whole = header(3, 40, 30, 0, 1) + good;
    const std::vector<Case> cases = {
        {"TVL", "is not a TVL document"},
        {"PNG\x0d" + std::string(40, '\0'), "is not a TVL document"},
        {"TVL2" + std::string(10, '\0'), "is not a TVL document"},
        {"TVL3" + std::string(14, '\0'), "(offset 16 of 18)"},
        {header(3, 16385, 30, 0, 0), "(offset 20 of 20)"},
        {header(3, 40, 0, 0, 0), "(offset 20 of 20)"},
        {header(3, 40, 30, 0, 1025), "(offset 20 of 20)"},
        {header(1, 40, 30, 0, 1000) + good, "(offset 16 of"},
        {header(1, 40, 30, 0, 3) + good, "malformed TVL document"},
        {header(3, 40, 30, 0, 1) + record(3, std::string(4097, 'n'), 1000, 0, 1, 0, image),
         "(offset 24 of"},
        {header(3, 40, 30, 0, 1) + record(3, "x", 1000, 0, 1, 0, tga_image(30, 40)),
         "layer x has size 30x40, expected 40x30"},
        {whole.substr(0, whole.size() - 1), "malformed TVL document"},
        {whole.substr(0, 20 + 4 + 1 + 12), "malformed TVL document"},
        {header(3, 40, 30, 0, 1) + record(3, "x", 1000, 0, 1, 0, image.substr(0, 17)),
         "malformed TVL document"},
    };
    for (const Case& c : cases) {
        LogCapture log(3);
        EXPECT_EQ(load_bytes(c.bytes), nullptr) << c.message;
        EXPECT_TRUE(log.contains(c.message)) << c.message << "\n" << log.text();
    }
    LogCapture log(3);
    EXPECT_EQ(document_load(dir.file("missing.tvl").c_str()), nullptr);
    EXPECT_TRUE(log.contains("could not read "));
}

// A tiny file must never make the reader allocate huge layers: claims are checked against
// the bytes actually present before anything is created.
TEST_F(DocumentFile, SmallFilesCannotClaimHugeImages) {
    std::string tga(18, '\0');
    tga[2] = 10; // run-length encoded
    tga[12] = tga[14] = 0;
    tga[13] = tga[15] = 0x40; // 16384 x 16384
    tga[16] = 32;
    tga += std::string(12, '\x7f');
    LogCapture log(3);
    EXPECT_EQ(load_bytes(header(3, 16384, 16384, 0, 1) + record(3, "", 1000, 0, 1, 0, tga)),
              nullptr);
    EXPECT_TRUE(log.contains("is not a complete 16384x16384 TGA image")) << log.text();
    EXPECT_EQ(load_bytes(header(3, 16384, 16384, 0, 1000) + std::string(30, 'x')), nullptr);
    EXPECT_FALSE(log.contains("added layer"));
}

// Every way a save can fail is reported as a failed save, and keeps the previous file.
TEST_F(DocumentFile, EveryFailedSaveIsReportedAndKeepsTheOldFile) {
    DOCUMENT* doc = document_new(600, 300);
    LAYER* layer = document_add_layer(doc, "ok");
    fill_committed(layer, al_map_rgba(1, 2, 3, 4)); // with the dots below, over 8 KiB
    for (int y = 0; y < 300; y += 2) put_pixel(layer, y, y / 2, {9, 9, 9, 9});
    uint32_t** const tiles = layer->tiles;
    const std::string long_path = dir.file(std::string(1000, 'p'));
    struct rlimit size_limit;
    getrlimit(RLIMIT_FSIZE, &size_limit);
    struct Case {
        const char* what;
        std::string target;
        std::function<void()> before, after;
    };
    const std::vector<Case> cases = {
        {"a name the reader refuses", path,
         [&] { layer_set_name(layer, std::string(4097, 'n').c_str()); },
         [&] { layer_set_name(layer, "ok"); }},
        {"a layer without its committed pixels", path, [&] { layer->tiles = nullptr; },
         [&] { layer->tiles = tiles; }},
        {"a missing folder", dir.file("no/such/folder/doc.tvl"), [] {}, [] {}},
        {"no room for the temporary name", long_path, [] {}, [] {}},
        {"a full disk", path,
         [&] {
             signal(SIGXFSZ, SIG_IGN);
             struct rlimit small = size_limit;
             small.rlim_cur = 8 * 1024;
             setrlimit(RLIMIT_FSIZE, &small);
         },
         [&] {
             setrlimit(RLIMIT_FSIZE, &size_limit);
             signal(SIGXFSZ, SIG_DFL);
         }},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(write_file(path, "previous version"));
        LogCapture log(3);
        c.before();
        EXPECT_EQ(document_save(doc, c.target.c_str()), 0) << c.what;
        c.after();
        EXPECT_TRUE(log.contains("could not save document to " + c.target)) << c.what;
        EXPECT_EQ(read_file(path), "previous version") << c.what;
    }
    EXPECT_EQ(document_save(doc, path.c_str()), 1);
    EXPECT_EQ(read_file(path).substr(0, 4), "TVL3");
    document_free(&doc);
}

// A file is judged by its first bytes: a huge file of another kind is refused after reading
// four of them, and bytes after the last layer are never read. Both files here are 64 GiB
// (sparse), more than the machine could hold in memory.
TEST_F(DocumentFile, HugeFilesAreJudgedByTheirHeader) {
    constexpr off_t huge = off_t{64} << 30;
    DOCUMENT* doc = document_new(64, 32);
    document_add_layer(doc, "kept");
    ASSERT_EQ(document_save(doc, path.c_str()), 1);
    document_free(&doc);
    ASSERT_EQ(truncate(path.c_str(), huge), 0);
    LogCapture log(3);
    doc = document_load(path.c_str());
    ASSERT_NE(doc, nullptr) << log.text();
    EXPECT_STREQ(doc->active_layer->name->data, "kept");
    document_free(&doc);

    ASSERT_TRUE(write_file(path, "\x89PNG\r\n\x1a\n"));
    ASSERT_EQ(truncate(path.c_str(), huge), 0);
    EXPECT_EQ(document_load(path.c_str()), nullptr);
    EXPECT_TRUE(log.contains("is not a TVL document")) << log.text();
    remove(path.c_str());
}

TEST(DocumentLimits, AddLayerStopsAtWhatAFileCanHold) {
    DOCUMENT* doc = document_new(1, 1);
    for (size_t i = 0; i < DOCUMENT_MAX_LAYERS; i++) ASSERT_NE(document_add_layer(doc, nullptr), nullptr);
    LogCapture log(3);
    EXPECT_EQ(document_add_layer(doc, nullptr), nullptr);
    EXPECT_EQ(document_layer_count(doc), DOCUMENT_MAX_LAYERS);
    EXPECT_TRUE(log.contains("a document holds at most 1024 layers"));
    document_free(&doc);
}

TEST(DocumentExport, OwnPngEncoderWritesStraightAlpha) {
    int old = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* bitmap = al_create_bitmap(3, 2);
    al_set_new_bitmap_flags(old);
    ALLEGRO_LOCKED_REGION* region = al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE,
                                                   ALLEGRO_LOCK_WRITEONLY);
    const unsigned char rows[2][12] = {{64, 0, 0, 128, 10, 20, 30, 255, 5, 5, 5, 0},
                                       {1, 1, 1, 1, 200, 100, 50, 254, 0, 0, 0, 0}};
    for (int y = 0; y < 2; y++)
        memcpy(static_cast<unsigned char*>(region->data) + y * region->pitch, rows[y], 12);
    al_unlock_bitmap(bitmap);

    size_t size = 0;
    unsigned char* png = document_png_encode(bitmap, &size);
    ASSERT_NE(png, nullptr);
    ALLEGRO_FILE* file = al_open_memfile(png, static_cast<int64_t>(size), "r");
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* decoded = al_load_bitmap_flags_f(file, ".png", ALLEGRO_NO_PREMULTIPLIED_ALPHA);
    al_set_new_bitmap_flags(old);
    al_fclose(file);
    free(png);
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(rgba_near(stored_pixel(decoded, 0, 0), {128, 0, 0, 128}, 0));
    EXPECT_TRUE(rgba_near(stored_pixel(decoded, 1, 0), {10, 20, 30, 255}, 0));
    EXPECT_TRUE(rgba_near(stored_pixel(decoded, 2, 0), {5, 5, 5, 0}, 0));
    EXPECT_TRUE(rgba_near(stored_pixel(decoded, 0, 1), {255, 255, 255, 1}, 0));
    EXPECT_TRUE(rgba_near(stored_pixel(decoded, 1, 1), {201, 100, 50, 254}, 0));
    al_destroy_bitmap(decoded);
    al_destroy_bitmap(bitmap);
}

// A picture whose scan lines come to more than 2 MiB is deflated in two parts on two threads
// and joined into one stream: zlib must read it back, pixel for pixel. The first half is
// noise, the second repeats rows (so both filters occur), with fully transparent pixels kept
// as they are.
TEST(DocumentExport, TwoPartDeflateDecodesToThePicture) {
    constexpr int W = 1024, H = 520; // 260 rows of 4097 bytes: just over the 1 MiB a part needs
    std::mt19937 rng(7);
    Image image(W, H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            image.at(x, y) = y < H / 2 ? (rng() | 0xff000000u)
                             : (x + y / 8) % 5 == 0 ? 0u
                                                   : packed(x % 256, y % 256, (x ^ y) % 256, 255);
    const int old = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* bitmap = al_create_bitmap(W, H);
    al_set_new_bitmap_flags(old);
    write_image(bitmap, image);
    size_t size = 0;
    unsigned char* png = document_png_encode(bitmap, &size);
    al_destroy_bitmap(bitmap);
    ASSERT_NE(png, nullptr);
    const std::string file(reinterpret_cast<char*>(png), size);
    free(png);

    // Chunks with good checksums; the IDAT data is one zlib stream of filtered rows.
    ASSERT_EQ(file.substr(0, 8), "\x89PNG\r\n\x1a\n");
    auto be32 = [&file](size_t at) {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++) v = v << 8 | static_cast<unsigned char>(file[at + i]);
        return v;
    };
    std::string idat;
    for (size_t at = 8; at + 12 <= file.size(); at += 12 + be32(at)) {
        const uint32_t length = be32(at);
        ASSERT_LE(at + 12 + length, file.size());
        const auto* bytes = reinterpret_cast<const Bytef*>(file.data() + at + 4);
        EXPECT_EQ(crc32(0, bytes, length + 4), be32(at + 8 + length)) << file.substr(at + 4, 4);
        if (file.substr(at + 4, 4) == "IDAT") idat += file.substr(at + 8, length);
    }
    EXPECT_EQ(be32(16), uint32_t{W});
    EXPECT_EQ(be32(20), uint32_t{H});
    const size_t row = W * 4 + 1;
    std::vector<unsigned char> raw(row * H + 1);
    uLongf raw_size = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &raw_size, reinterpret_cast<const Bytef*>(idat.data()),
                         idat.size()),
              Z_OK);
    ASSERT_EQ(raw_size, row * H);
    Image decoded(W, H);
    std::vector<unsigned char> above(W * 4, 0);
    for (int y = 0; y < H; y++) {
        unsigned char* line = &raw[y * row];
        ASSERT_TRUE(line[0] == 0 || line[0] == 2) << "filter " << int(line[0]) << " on row " << y;
        for (int i = 0; i < W * 4; i++)
            above[i] = static_cast<unsigned char>(line[1 + i] + (line[0] == 2 ? above[i] : 0));
        memcpy(&decoded.at(0, y), above.data(), W * 4);
    }
    EXPECT_TRUE(decoded == image);
}

TEST(DocumentExport, ReportsThePathItWroteAndNeverATruncatedOne) {
    ScratchDir dir;
    DOCUMENT* doc = document_new(20, 10);
    document_add_layer(doc, "a");
    const std::string path = dir.file("out.png");
    char written[512];
    ASSERT_EQ(document_export_png_region(doc, path.c_str(), 0, 0, 20, 10, true, written,
                                         sizeof written),
              1);
    EXPECT_EQ(written, path);
    ALLEGRO_BITMAP* image = al_load_bitmap(path.c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(al_get_bitmap_width(image), 20);
    EXPECT_TRUE(rgba_near(pixel_at(image, 5, 5), {255, 255, 255, 255}));
    al_destroy_bitmap(image);

    char tiny[8];
    const std::string other = dir.file("other.png");
    EXPECT_EQ(document_export_png_region(doc, other.c_str(), 0, 0, 20, 10, true, tiny,
                                         sizeof tiny),
              0);
    EXPECT_STREQ(tiny, "");
    EXPECT_FALSE(std::ifstream(other).good());
    document_free(&doc);
}

TEST(DocumentExport, ContentBoundingBox) {
    DOCUMENT* doc = document_new(50, 40);
    LAYER* bottom = document_add_layer(doc, "a");
    LAYER* hidden = document_add_layer(doc, "b");
    int x0, y0, x1, y1;
    EXPECT_EQ(document_content_bbox(doc, &x0, &y0, &x1, &y1), 0);
    put_pixel(bottom, 5, 7, {255, 0, 0, 255});
    put_pixel(hidden, 40, 30, {255, 0, 0, 255});
    hidden->visible = false;
    ASSERT_EQ(document_content_bbox(doc, &x0, &y0, &x1, &y1), 1);
    EXPECT_EQ(std::vector<int>({x0, y0, x1, y1}), std::vector<int>({5, 7, 5, 7}));
    hidden->visible = true;
    ASSERT_EQ(document_content_bbox(doc, &x0, &y0, &x1, &y1), 1);
    EXPECT_EQ(std::vector<int>({x0, y0, x1, y1}), std::vector<int>({5, 7, 40, 30}));
    document_free(&doc);
}

// Every file in the sample folder: the good ones open, the broken ones are refused with a
// logged reason and no crash.
TEST(DocumentSamples, GoodOpenBrokenRefused) {
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TAVOLIX_TEST_DATA "/document")) {
        const std::string name = entry.path().filename().string();
        LogCapture log(3);
        DOCUMENT* doc = document_load(entry.path().c_str());
        if (name.rfind("good_", 0) == 0) {
            EXPECT_NE(doc, nullptr) << name << "\n" << log.text();
        } else {
            EXPECT_EQ(doc, nullptr) << name;
            EXPECT_TRUE(log.contains("ERR:")) << name;
        }
        if (doc) document_free(&doc);
        seen++;
    }
    EXPECT_GE(seen, 10);
}

namespace {

// Rows of `a` whose stored pixels differ from those of `b` (the same size).
int differing_rows(ALLEGRO_BITMAP* a, ALLEGRO_BITMAP* b) {
    ALLEGRO_LOCKED_REGION* ra = al_lock_bitmap(a, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_READONLY);
    ALLEGRO_LOCKED_REGION* rb = al_lock_bitmap(b, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_READONLY);
    int differing = 0;
    for (int y = 0; y < al_get_bitmap_height(a); y++)
        differing += memcmp(static_cast<char*>(ra->data) + y * ra->pitch,
                            static_cast<char*>(rb->data) + y * rb->pitch,
                            al_get_bitmap_width(a) * 4u) != 0;
    al_unlock_bitmap(a);
    al_unlock_bitmap(b);
    return differing;
}

} // namespace

// Layer images are written and read by our own codec; every other reader of the format uses
// the image library's TGA loader, which must decode each written image to exactly the saved
// pixels. The library's own uncompressed images, either way up, must keep loading.
TEST(DocumentTga, WrittenImagesDecodeExactlyInTheLibrary) {
    // 600 x 300: a narrow last column of tiles and a short last row; runs across packet and
    // tile edges, noise and transparency.
    DOCUMENT* doc = document_new(600, 300);
    LAYER* layer = document_add_layer(doc, "t");
    ALLEGRO_BITMAP* saved = NULL;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        saved = al_create_bitmap(600, 300);
    }
    ALLEGRO_LOCKED_REGION* region =
        al_lock_bitmap(saved, LAYER_PIXEL_FORMAT, ALLEGRO_LOCK_WRITEONLY);
    unsigned seed = 7;
    for (int y = 0; y < 300; y++)
        for (int x = 0; x < 600; x++) {
            seed = seed * 1103515245u + 12345u;
            const uint32_t v = (x / 50 + y / 40) % 3 == 0 ? 0u
                               : y % 7 == 0               ? 0xFF000000u | x / 300
                                                          : seed & 0xFF3F3F3Fu;
            memcpy(static_cast<char*>(region->data) + y * region->pitch + 4 * x, &v, 4);
        }
    al_unlock_bitmap(saved);
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        ASSERT_EQ(layer_take_pixels(layer, al_clone_bitmap(saved)), 1);
    }
    ScratchDir dir;
    const std::string path = dir.file("d.tvl");
    ASSERT_EQ(document_save(doc, path.c_str()), 1);

    const std::string file = read_file(path);
    const size_t at = 20 + 4 + 1 + 20; // header, name length and name, fields, image size
    EXPECT_EQ(file[at + 2], 10) << "a run-length image";
    ALLEGRO_FILE* image = al_open_memfile(const_cast<char*>(file.data() + at),
                                          static_cast<int64_t>(file.size() - at), "r");
    ALLEGRO_BITMAP* decoded = NULL;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        decoded = al_load_bitmap_flags_f(image, ".tga", ALLEGRO_NO_PREMULTIPLIED_ALPHA);
    }
    al_fclose(image);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(differing_rows(decoded, saved), 0);
    al_destroy_bitmap(decoded);
    // A thumbnail's read scales each image down as it decodes it, to what scaling the whole
    // picture gives: 600 x 300 into 77 x 77 is 77 x 39, boxes of 7 or 8 pixels each way.
    ALLEGRO_BITMAP* expected_small = picture_scale_down(saved, 77, 39);
    const auto expect_reduced = [&](const char* what) {
        int error = -1;
        DOCUMENT* small = document_load_reduced(path.c_str(), 77, 77, &error);
        ASSERT_NE(small, nullptr) << what;
        EXPECT_EQ(error, DOCUMENT_LOAD_OK);
        ALLEGRO_BITMAP* got = layer_committed_bitmap(document_layer_at(small, 0));
        EXPECT_EQ(differing_rows(got, expected_small), 0) << what;
        al_destroy_bitmap(got);
        document_free(&small);
    };
    expect_reduced("run-length");

    size_t size = 0;
    unsigned char* library = _bitmap_encode(saved, ".tga", &size);
    ASSERT_NE(library, nullptr);
    for (bool top_down : {false, true}) {
        std::string bytes(reinterpret_cast<char*>(library), size);
        if (top_down) {
            bytes[17] = static_cast<char>(8 | 0x20);
            for (int y = 0; y < 300; y++)
                memcpy(&bytes[18 + y * 2400], library + 18 + (299 - y) * 2400, 2400);
        }
        ASSERT_TRUE(
            write_file(path, header(3, 600, 300, 0, 1) + record(3, "t", 1000, 0, 1, 0, bytes)));
        DOCUMENT* back = document_load(path.c_str());
        ASSERT_NE(back, nullptr);
        ALLEGRO_BITMAP* loaded = layer_committed_bitmap(document_layer_at(back, 0));
        EXPECT_EQ(differing_rows(loaded, saved), 0) << top_down;
        al_destroy_bitmap(loaded);
        document_free(&back);
        expect_reduced(top_down ? "uncompressed, top down" : "uncompressed, bottom up");
    }
    al_destroy_bitmap(expected_small);
    free(library);
    al_destroy_bitmap(saved);
    document_free(&doc);
}

// A mostly transparent layer costs only its painted tiles once loaded, and comes back pixel for
// pixel; memory running out for its tiles fails the load as "no resources", never as a
// damaged file, and leaves the file alone.
TEST_F(DocumentFile, MostlyTransparentLayersLoadOnlyTheirPaintedTiles) {
    DOCUMENT* doc = document_new(1000, 700);
    ASSERT_NE(doc, nullptr);
    // A band over tiles (0, 1) and (1, 1), a dot in the narrow last column, an empty layer.
    LAYER* band = document_add_layer(doc, "band");
    Image stripe(300, 20);
    for (int x = 0; x < 300; x++)
        for (int y = 0; y < 20; y++) stripe.at(x, y) = packed(x & 255, y, 7, 255);
    write_committed(band, stripe, 100, 400);
    put_pixel(band, 999, 699, {1, 2, 3, 4});
    document_add_layer(doc, "empty");
    ASSERT_EQ(document_save(doc, path.c_str()), 1);
    const std::string file = read_file(path);

    const uint64_t allocations = layer_tile_allocations();
    DOCUMENT* back = document_load(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(layer_tile_allocations() - allocations, 3u);
    EXPECT_EQ(document_layer_at(back, 0)->stored_tiles, 3u);
    EXPECT_EQ(document_layer_at(back, 1)->stored_tiles, 0u);
    for (size_t i = 0; i < 2; i++) {
        EXPECT_TRUE(committed_image(document_layer_at(back, i)) ==
                    committed_image(document_layer_at(doc, i)))
            << i;
        EXPECT_TRUE(read_image(document_layer_at(back, i)->bitmap) ==
                        committed_image(document_layer_at(doc, i)) ||
                    document_layer_at(back, i)->needs_clear)
            << i;
    }
    document_free(&back);

    for (int fail_at : {1, 3}) {
        LogCapture log(3);
        layer_fail_tile_allocation(fail_at);
        int error = DOCUMENT_LOAD_OK;
        EXPECT_EQ(document_load_checked(path.c_str(), &error), nullptr) << fail_at;
        layer_fail_tile_allocation(0);
        EXPECT_EQ(error, DOCUMENT_LOAD_NO_RESOURCES) << fail_at;
        EXPECT_EQ(read_file(path), file) << fail_at;
    }
    document_free(&doc);
}

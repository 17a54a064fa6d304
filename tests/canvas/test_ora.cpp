#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "canvas/allegro_state.h"
#include "canvas/ora.h"
#include "canvas/picture.h"
#include "canvas_test_util.h"
#include "test_support.h"

namespace {

// A layer's committed pixels, read the way the writers read them.
Image committed(const LAYER* layer, int w, int h) {
    Image image(w, h);
    EXPECT_EQ(layer_read_committed(layer, 0, 0, w, h, image.px.data(), static_cast<size_t>(w)), 1);
    return image;
}

// Hands the layer a picture in one go, as a reader would.
void give_pixels(LAYER* layer, const Image& image) {
    ALLEGRO_BITMAP* bitmap;
    {
        NewBitmapFlagsScope flags(ALLEGRO_MEMORY_BITMAP);
        NewBitmapFormatScope format(LAYER_PIXEL_FORMAT);
        bitmap = al_create_bitmap(image.w, image.h);
    }
    ASSERT_NE(bitmap, nullptr);
    write_image(bitmap, image);
    ASSERT_EQ(layer_take_pixels(layer, bitmap), 1);
}

// Premultiplied pixels of every kind the conversion meets: opaque, clear, faint, half.
Image pattern(int w, int h, int seed) {
    Image image(w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const int a = (x * 37 + y * 11 + seed * 53) % 256;
            auto c = [a](int v) { return v * a / 255; }; // premultiplied: never above alpha
            image.at(x, y) = packed(c((x * 7 + seed) % 256), c((y * 5) % 256), c((x + y + seed * 9) % 256), a);
        }
    return image;
}

bool within_one(const Image& got, const Image& want) {
    if (got.w != want.w || got.h != want.h) return false;
    for (size_t i = 0; i < got.px.size(); i++)
        for (int c = 0; c < 4; c++) {
            const int g = (got.px[i] >> (8 * c)) & 0xFF, w = (want.px[i] >> (8 * c)) & 0xFF;
            if (std::abs(g - w) > 1) {
                ADD_FAILURE() << "pixel " << i << " channel " << c << ": " << g << " vs " << w;
                return false;
            }
        }
    return true;
}

DOCUMENT* load_sample(const char* name, ORA_RESULT* result) {
    return ora_load((std::string(TAVOLIX_TEST_DATA "/ora/") + name).c_str(), PICTURE_DOC_MAX_SIDE, result);
}

} // namespace

// Four layers with every property the format carries come back with the same pixels (to the
// rounding of straight alpha) and the same properties; the file is what other programs expect.
TEST(Ora, RoundTripKeepsPixelsAndProperties) {
    ScratchDir dir;
    const int W = 61, H = 37; // odd sizes: no row is a multiple of anything
    DOCUMENT* doc = document_new(W, H);
    ASSERT_NE(doc, nullptr);
    struct Row {
        const char* name;
        bool visible;
        float opacity;
        int blend;
        bool locked;
    };
    const Row rows[] = {{"paper & <ink>", true, 1.0f, LAYER_BLEND_NORMAL, false},
                        {"hidden", false, 1.0f, LAYER_BLEND_NORMAL, true},
                        {"half", true, 0.5f, LAYER_BLEND_MULTIPLY, false},
                        {"\"screen\"", true, 0.8f, LAYER_BLEND_SCREEN, false}};
    std::vector<Image> images;
    for (size_t i = 0; i < 4; i++) {
        LAYER* layer = document_add_layer(doc, rows[i].name);
        ASSERT_NE(layer, nullptr);
        images.push_back(pattern(W, H, static_cast<int>(i)));
        give_pixels(layer, images.back());
        layer->visible = rows[i].visible;
        layer->opacity = rows[i].opacity;
        layer->blend = rows[i].blend;
        layer->locked = rows[i].locked;
    }
    const std::string path = dir.file("four.ora");
    ORA_RESULT result{};
    ASSERT_EQ(ora_save(doc, path.c_str(), &result), 1) << result.message;
    document_free(&doc);

    DOCUMENT* back = ora_load(path.c_str(), PICTURE_DOC_MAX_SIDE, &result);
    ASSERT_NE(back, nullptr) << result.message;
    EXPECT_EQ(result.status, ORA_OK);
    EXPECT_EQ(result.notes, 0u);
    ASSERT_EQ(document_layer_count(back), 4u);
    EXPECT_EQ(back->width, W);
    EXPECT_EQ(back->height, H);
    for (size_t i = 0; i < 4; i++) {
        SCOPED_TRACE(rows[i].name);
        const LAYER* layer = document_layer_at(back, i);
        EXPECT_STREQ(layer->name->data, rows[i].name);
        EXPECT_EQ(layer->visible, rows[i].visible);
        EXPECT_NEAR(layer->opacity, rows[i].opacity, 0.001f);
        EXPECT_EQ(layer->blend, rows[i].blend);
        EXPECT_EQ(layer->locked, rows[i].locked);
        EXPECT_TRUE(within_one(committed(layer, W, H), images[i]));
    }
    EXPECT_EQ(back->active_layer, document_layer_at(back, 3));
    document_free(&back);

    // Checked from outside by Python's zipfile and XML reader.
    const std::string command = "python3 " TAVOLIX_TEST_DATA "/ora/check_ora.py '" + path + "' 4 >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

// Hand-made files: offsets clip at the picture's edges, groups flatten in order, what the
// document cannot hold is normalised with a note.
TEST(Ora, SamplesOpenNormalised) {
    struct Case {
        const char* file;
        int w, h;
        std::vector<const char*> names; // bottom first
        unsigned notes;
    };
    const Case cases[] = {
        {"offsets.ora", 8, 6, {"red", "blue"}, 0},
        {"nested.ora", 4, 4, {"bottom", "inner", "top"}, ORA_NOTE_STACKS},
        {"no_thumbnail.ora", 2, 2, {"only"}, 0},
        {"unknown_op.ora", 2, 2, {"screen", "odd"}, ORA_NOTE_BLEND},
        {"grey.ora", 3, 2, {"grey"}, 0},
    };
    // (many_layers.ora has its own test below.)
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ORA_RESULT result{};
        DOCUMENT* doc = load_sample(c.file, &result);
        ASSERT_NE(doc, nullptr) << result.message;
        EXPECT_EQ(result.notes, c.notes);
        EXPECT_EQ(result.notes != 0, result.message[0] != 0);
        EXPECT_EQ(doc->width, c.w);
        EXPECT_EQ(doc->height, c.h);
        ASSERT_EQ(document_layer_count(doc), c.names.size());
        for (size_t i = 0; i < c.names.size(); i++)
            EXPECT_STREQ(document_layer_at(doc, i)->name->data, c.names[i]);
        document_free(&doc);
    }

    ORA_RESULT result{};
    DOCUMENT* doc = load_sample("offsets.ora", &result);
    ASSERT_NE(doc, nullptr);
    const Image red = committed(document_layer_at(doc, 0), 8, 6);
    const Image blue = committed(document_layer_at(doc, 1), 8, 6);
    EXPECT_EQ(red.count(packed(255, 0, 0, 255)), 6u); // 3x2 at (2, 1)
    EXPECT_EQ(red.at(2, 1), packed(255, 0, 0, 255));
    EXPECT_EQ(red.at(4, 2), packed(255, 0, 0, 255));
    EXPECT_EQ(red.at(5, 2), 0u);
    EXPECT_EQ(blue.count(packed(0, 0, 128, 128)), 6u); // 4x4 at (-1, 4): 3x2 inside
    EXPECT_EQ(blue.at(0, 5), packed(0, 0, 128, 128));
    document_free(&doc);

    // A grey PNG (not the RGBA the writer makes) reads the same.
    doc = load_sample("grey.ora", &result);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(committed(document_layer_at(doc, 0), 3, 2).count(packed(128, 128, 128, 255)), 6u);
    document_free(&doc);

    // A group hides and fades what it holds and moves it with itself.
    doc = load_sample("nested.ora", &result);
    ASSERT_NE(doc, nullptr);
    const LAYER* inner = document_layer_at(doc, 1);
    EXPECT_FALSE(inner->visible);
    EXPECT_NEAR(inner->opacity, 0.25f, 0.001f);
    const Image moved = committed(inner, 4, 4);
    EXPECT_EQ(moved.at(1, 0), 0u);
    EXPECT_EQ(moved.at(2, 0), packed(0, 255, 0, 255));
    EXPECT_EQ(moved.at(3, 1), packed(0, 255, 0, 255));
    document_free(&doc);
}

// More layers than a document holds: the ones past the limit are merged into the last layer
// kept, which shows what they showed.
TEST(Ora, LayersPastTheLimitMergeIntoTheTop) {
    ORA_RESULT result{};
    DOCUMENT* doc = load_sample("many_layers.ora", &result);
    ASSERT_NE(doc, nullptr) << result.message;
    EXPECT_EQ(document_layer_count(doc), DOCUMENT_MAX_LAYERS);
    EXPECT_TRUE(result.notes & ORA_NOTE_MERGED);
    EXPECT_EQ(result.merged, 3u);
    EXPECT_NE(std::string(result.message).find("3 layers merged"), std::string::npos);
    const Image top = committed(document_layer_at(doc, DOCUMENT_MAX_LAYERS - 1), 2, 1);
    EXPECT_EQ(top.at(0, 0), packed(255, 0, 0, 255));
    EXPECT_EQ(top.at(1, 0), packed(0, 0, 255, 255));
    document_free(&doc);
}

// Every damaged or hostile sample is refused with a status and a reason, nothing allocated
// for what it claims.
TEST(Ora, BadSamplesRefused) {
    struct Case {
        const char* file;
        int status;
    };
    const Case cases[] = {
        {"dotdot.ora", ORA_MALFORMED},         {"absolute.ora", ORA_MALFORMED},
        {"backslash.ora", ORA_MALFORMED},      {"src_dotdot.ora", ORA_MALFORMED},
        {"many_layers.ora", ORA_TOO_LARGE},    {"deep.ora", ORA_MALFORMED},
        {"invalid_xml.ora", ORA_MALFORMED},    {"entities.ora", ORA_MALFORMED},
        {"png_huge_ihdr.ora", ORA_TOO_LARGE},  {"image_too_large.ora", ORA_TOO_LARGE},
        {"missing_png.ora", ORA_MALFORMED},    {"not_png.ora", ORA_MALFORMED},
        {"wrong_mimetype.ora", ORA_NOT_ORA},   {"no_stack.ora", ORA_NOT_ORA},
        {"bomb_expands.ora", ORA_MALFORMED},   {"bomb_claims.ora", ORA_TOO_LARGE},
        {"truncated.ora", ORA_MALFORMED},      {"middle_damaged.ora", ORA_MALFORMED},
    };
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TAVOLIX_TEST_DATA "/ora/bad")) {
        (void)entry;
        files++;
    }
    EXPECT_EQ(files, std::size(cases)) << "every bad sample has a row";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ORA_RESULT result{};
        LogCapture log(3);
        DOCUMENT* doc = load_sample((std::string("bad/") + c.file).c_str(), &result);
        EXPECT_EQ(doc, nullptr);
        if (doc) document_free(&doc);
        EXPECT_EQ(result.status, c.status) << result.message;
        EXPECT_NE(result.message[0], 0);
        EXPECT_TRUE(log.contains("ERR:")) << log.text();
    }
    // Not even a zip, and nothing at all.
    ORA_RESULT result{};
    EXPECT_EQ(ora_load_memory("GIF89a", 6, PICTURE_DOC_MAX_SIDE, &result), nullptr);
    EXPECT_EQ(result.status, ORA_NOT_ORA);
    EXPECT_EQ(ora_load(TAVOLIX_TEST_DATA "/ora/none.ora", PICTURE_DOC_MAX_SIDE, &result), nullptr);
    EXPECT_EQ(result.status, ORA_UNREADABLE);
}

// The opener tells an OpenRaster file by its bytes as well as by its name, and reports a bad
// one as a damaged document rather than as a picture it could not decode.
TEST(Ora, OpenFileRoutesOpenRaster) {
    ScratchDir dir;
    const std::string copy = dir.file("renamed.png");
    ASSERT_TRUE(write_file(copy, read_file(TAVOLIX_TEST_DATA "/ora/offsets.ora")));
    struct Case {
        std::string path;
        int error;
    };
    const Case cases[] = {{copy, PICTURE_OK},
                          {TAVOLIX_TEST_DATA "/ora/nested.ora", PICTURE_OK},
                          {TAVOLIX_TEST_DATA "/ora/bad/truncated.ora", PICTURE_BAD_DOCUMENT},
                          {TAVOLIX_TEST_DATA "/ora/bad/image_too_large.ora", PICTURE_TOO_LARGE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        int error = -1;
        PICTURE_INFO info{};
        DOCUMENT* doc = document_open_file(c.path.c_str(), PICTURE_DOC_MAX_SIDE, &error, &info);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(doc != nullptr, c.error == PICTURE_OK);
        if (doc) {
            EXPECT_EQ(info.kind, PICTURE_ORA);
            document_free(&doc);
        }
    }
    // A layered drawing is never scaled: one past the largest side allowed is refused.
    int error = 0;
    EXPECT_EQ(document_open_file(TAVOLIX_TEST_DATA "/ora/offsets.ora", 4, &error, nullptr), nullptr);
    EXPECT_EQ(error, PICTURE_TOO_LARGE);
}

// Names are bytes to a document but text to XML: what XML cannot carry is written as something
// it can, so the file stays readable (here and elsewhere) instead of failing to parse.
TEST(Ora, NamesXmlCannotCarryStayReadable) {
    ScratchDir dir;
    struct Case {
        const char* name;
        const char* read_back;
    };
    const Case cases[] = {{"tab\there", "tab here"},
                          {"bad \xff byte", "bad ? byte"},
                          {"cut \xc3", "cut ?"},
                          {"été & <co>", "été & <co>"}};
    DOCUMENT* doc = document_new(2, 2);
    ASSERT_NE(doc, nullptr);
    for (const Case& c : cases) ASSERT_NE(document_add_layer(doc, c.name), nullptr);
    const std::string path = dir.file("names.ora");
    ASSERT_EQ(ora_save(doc, path.c_str(), nullptr), 1);
    document_free(&doc);
    ORA_RESULT result{};
    doc = ora_load(path.c_str(), PICTURE_DOC_MAX_SIDE, &result);
    ASSERT_NE(doc, nullptr) << result.message;
    for (size_t i = 0; i < std::size(cases); i++)
        EXPECT_STREQ(document_layer_at(doc, i)->name->data, cases[i].read_back);
    document_free(&doc);
}

// A preview comes from the file's own flattened pictures when it can: the thumbnail when it
// is large enough, else the merged image; a file with neither usable gives its layers, and a
// damaged one is still refused.
TEST(Ora, PreviewsReadTheFlattenedPictures) {
    const uint32_t red = packed(255, 0, 0, 255), blue = packed(0, 0, 255, 255), green = packed(0, 255, 0, 255);
    struct Case {
        const char* file;
        int size;
        int w, h;        // of what comes back; 0: nothing
        uint32_t colour; // in its middle
        int status;
    };
    const Case cases[] = {
        {"previews.ora", 16, 16, 8, blue, ORA_OK},          // the thumbnail, scaled down
        {"previews.ora", 20, 20, 10, blue, ORA_OK},         // the thumbnail as it is
        {"previews.ora", 40, 40, 20, red, ORA_OK},          // larger than the thumbnail
        {"previews.ora", 500, 60, 30, red, ORA_OK},         // the merged image at its size
        {"preview_damaged.ora", 16, 16, 8, blue, ORA_OK},
        {"preview_damaged.ora", 40, 60, 30, green, ORA_OK}, // the merged image is no picture
        {"no_thumbnail.ora", 1, 2, 2, green, ORA_OK},       // neither: the layers
        {"bad/missing_png.ora", 8, 0, 0, 0, ORA_MALFORMED},
        {"bad/truncated.ora", 8, 0, 0, 0, ORA_MALFORMED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.size));
        const std::string path = std::string(TAVOLIX_TEST_DATA "/ora/") + c.file;
        ORA_RESULT result{};
        LogCapture log(3);
        DOCUMENT* preview = ora_load_preview(path.c_str(), c.size, &result);
        EXPECT_EQ(result.status, c.status) << result.message;
        ASSERT_EQ(preview != nullptr, c.w > 0);
        if (!preview) continue;
        EXPECT_EQ(preview->width, c.w);
        EXPECT_EQ(preview->height, c.h);
        EXPECT_EQ(committed(document_layer_at(preview, 0), c.w, c.h).at(c.w / 2, c.h / 2), c.colour);
        document_free(&preview);
    }
    // A thumbnail's open goes this way.
    int error = -1;
    DOCUMENT* opened = document_open_file(TAVOLIX_TEST_DATA "/ora/previews.ora", PICTURE_DOC_MAX_SIDE, &error, nullptr, 16);
    ASSERT_NE(opened, nullptr) << picture_error_text(error);
    EXPECT_EQ(opened->width, 16);
    document_free(&opened);
}

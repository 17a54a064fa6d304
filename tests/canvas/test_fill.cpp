#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "canvas/document.h"
#include "canvas/fill.h"
#include "canvas/undo.h"
#include "canvas_test_util.h"

namespace {

const uint32_t CLEAR = 0, BLACK = packed(0, 0, 0, 255), TEAL = packed(51, 102, 153, 255);
const ALLEGRO_COLOR TEAL_COLOUR = al_map_rgba_f(0.2f, 0.4f, 0.6f, 0.5f); // alpha is ignored

struct FillTest : ::testing::Test {
    DOCUMENT* doc = nullptr;
    LAYER* layer = nullptr;
    void make(int w, int h) {
        if (doc) document_free(&doc);
        ASSERT_NE(doc = document_new(w, h), nullptr);
        ASSERT_NE(layer = add_clear_layer(doc, nullptr), nullptr);
    }
    void SetUp() override { make(64, 48); }
    void TearDown() override { document_free(&doc); }
    void load(const Image& img) {
        write_image(layer->bitmap, img);
        write_committed(layer, img);
    }
    Image shown() const { return read_image(layer->bitmap); }
    Image committed() const { return committed_image(layer); }
    size_t steps() const { return doc->undo->undo_stack->count; }
    UNDO_RECORD* newest() const {
        return static_cast<UNDO_RECORD*>(doc->undo->undo_stack->end->ptr);
    }
};

} // namespace

TEST_F(FillTest, TransparentLayerFillsWhollyAsOneUndoStep) {
    ASSERT_EQ(fill_flood(doc, 10.7f, 20.2f, &TEAL_COLOUR, 0.1f), 1);
    EXPECT_EQ(shown().count(TEAL), 64u * 48);
    EXPECT_EQ(committed(), shown());
    // Refilling with the same colour does nothing unless a tolerance lets it match again.
    EXPECT_EQ(fill_flood(doc, 1, 1, &TEAL_COLOUR, 0.0f), 0);
    EXPECT_EQ(steps(), 1u);
    EXPECT_EQ(fill_flood(doc, 1, 1, &TEAL_COLOUR, 0.1f), 1);
    EXPECT_EQ(steps(), 2u);
    ASSERT_EQ(undo_perform(doc), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(shown().count(CLEAR) == 64u * 48 && committed() == shown());
}

TEST_F(FillTest, ToleranceIsCountedInLevelsFromTheSeed) {
    Image img(64, 48, packed(100, 100, 100, 255));
    img.at(5, 5) = packed(126, 100, 100, 255);  // 26 levels off: inside 0.1
    img.at(9, 5) = packed(100, 100, 127, 255);  // 27 off: outside
    img.at(13, 5) = packed(100, 100, 100, 228); // alpha counts too
    load(img);
    ASSERT_EQ(fill_flood(doc, 0.5f, 0.5f, &TEAL_COLOUR, 0.1f), 1);
    Image after = shown();
    EXPECT_EQ(after.at(5, 5), TEAL);
    EXPECT_EQ(after.at(9, 5), img.at(9, 5));
    EXPECT_EQ(after.at(13, 5), img.at(13, 5));
    // A negative tolerance is exact: one level off is a wall.
    load(img);
    ASSERT_EQ(fill_flood(doc, 9, 5, &TEAL_COLOUR, -1.0f), 1);
    EXPECT_EQ(shown().count(TEAL), 1u);
}

TEST_F(FillTest, DiagonalGapsDoNotLeak) {
    Image img(64, 48, CLEAR);
    for (int i = 0; i <= 7; i++)
        img.at(i, 7 - i) = BLACK; // a diagonal line cutting a corner
    for (int y = 0; y < 48; y++)
        img.at(10, y) = y == 12 ? CLEAR : BLACK; // a wall with a gap
    load(img);
    ASSERT_EQ(fill_flood(doc, 40, 3, &TEAL_COLOUR, 0.1f), 1);
    Image after = shown();
    EXPECT_EQ(after.at(9, 3), TEAL);    // through the orthogonal gap
    EXPECT_EQ(after.count(CLEAR), 28u); // the 28 pixels inside the corner
}

TEST_F(FillTest, WritesAndRecordsOnlyTheFilledBoundingBox) {
    make(600, 300); // three by two undo tiles
    Image img(600, 300, CLEAR);
    for (int i = 300; i <= 340; i++)
        img.at(i, 20) = img.at(i, 60) = img.at(300, i - 280) = img.at(340, i - 280) = BLACK;
    load(img);
    // A probe on screen only, on the wall next to the box: a rewrite from the buffer would
    // turn it back to black.
    Image probed = img;
    probed.at(300, 40) = packed(0, 200, 0, 255);
    write_image(layer->bitmap, probed);

    ASSERT_EQ(fill_flood(doc, 320.5f, 40.5f, &TEAL_COLOUR, 0.1f), 1);
    Image after = shown();
    EXPECT_EQ(after.at(300, 40), packed(0, 200, 0, 255));
    EXPECT_EQ(after.count(TEAL), 39u * 39);
    ASSERT_EQ(newest()->tiles->count, 1u);
    EXPECT_EQ(static_cast<UNDO_TILE*>(newest()->tiles->start->ptr)->x, 256);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(committed(), img);
}

// A locked layer, a point off the canvas, a drag that changes nothing and another tool's open
// operation all leave the layer, the history and that operation exactly as they were.
TEST_F(FillTest, RefusalsChangeNothing) {
    const Image before = shown();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    LogCapture log(3);
    for (float x : {-0.5f, 64.0f, nan, inf, -inf, 3e9f})
        EXPECT_EQ(fill_flood(doc, x, 3, &TEAL_COLOUR, 0.1f), 0);
    EXPECT_EQ(fill_flood(doc, 3, 48.0f, &TEAL_COLOUR, 0.1f), 0);
    EXPECT_EQ(fill_gradient(doc, -300, 0, -200, 0, &TEAL_COLOUR), 0); // every pixel past the end
    EXPECT_EQ(fill_gradient(doc, nan, 0, 10, 0, &TEAL_COLOUR), 0);
    for (bool locked : {true, false}) { // locked, then another tool's operation open
        layer->locked = locked;
        if (!locked) {
            ASSERT_EQ(undo_begin(doc), 1);
        }
        EXPECT_EQ(fill_flood(doc, 3, 3, &TEAL_COLOUR, 0.1f), 0);
        EXPECT_EQ(fill_gradient(doc, 0, 0, 30, 0, &TEAL_COLOUR), 0);
        EXPECT_EQ(fill_clear(doc), 0);
    }
    EXPECT_TRUE(doc->undo->active); // still the other tool's, not aborted under it
    undo_abort(doc);

    EXPECT_FALSE(undo_available(doc));
    EXPECT_EQ(shown(), before);
    EXPECT_EQ(fill_flood(doc, 63.99f, 47.99f, &TEAL_COLOUR, 0.1f), 1); // the last pixel is in
}

TEST_F(FillTest, GradientFadesFromFullColourToTheOldPixels) {
    make(128, 4);
    const uint32_t old = packed(0, 0, 200, 200), solid = packed(255, 128, 0, 255);
    const ALLEGRO_COLOR orange = al_map_rgba_f(1.0f, 0.5f, 0.0f, 0.3f);
    load(Image(128, 4, old));

    ASSERT_EQ(fill_gradient(doc, 0, 0, 100, 0, &orange), 1);
    Image after = shown();
    EXPECT_TRUE(after.at(0, 3) == solid && after.count(old) == 28u * 4 && committed() == after);
    EXPECT_EQ(after.at(50, 2), packed(128, 64, 100, 228)); // half coverage over the old pixel
    EXPECT_EQ(after.at(99, 1), packed(3, 1, 198, 201));
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(shown(), Image(128, 4, old));

    // Dragged leftwards: everything behind the start takes the full colour.
    ASSERT_EQ(fill_gradient(doc, 100, 1.5f, 20, 1.5f, &orange), 1);
    after = shown();
    EXPECT_TRUE(after.at(127, 0) == solid && after.at(100, 3) == solid && after.at(20, 3) == old);
    EXPECT_EQ(after.at(60, 2), packed(128, 64, 100, 228));

    // A drag under a pixel long paints everything; channels past 1 or below 0 are clamped.
    const ALLEGRO_COLOR wild = al_map_rgba_f(1.7f, -0.4f, 0.5f, 1.0f);
    ASSERT_EQ(fill_gradient(doc, 5.2f, 1.2f, 5.6f, 1.7f, &wild), 1);
    EXPECT_EQ(shown().count(packed(255, 0, 128, 255)), 128u * 4);
    EXPECT_EQ(steps(), 2u);
}

TEST_F(FillTest, ClearEmptiesTheLayerAsOneUndoStep) {
    make(600, 300);
    const Image img(600, 300, packed(10, 20, 30, 40));
    load(img);
    ASSERT_EQ(fill_clear(doc), 1);
    EXPECT_TRUE(shown().count(CLEAR) == 600u * 300 && committed() == shown());
    EXPECT_EQ(newest()->tiles->count, 6u);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(shown() == img && committed() == img);
}

// A fresh working bitmap holds whatever the driver left in it until it is first cleared.
TEST_F(FillTest, WritingAnUnclearedLayerLeavesNothingUndefined) {
    const uint32_t junk = packed(200, 0, 200, 255), green = packed(0, 255, 0, 255);
    const Image buf(64, 48, green);
    const auto* bytes = reinterpret_cast<const unsigned char*>(buf.px.data());
    fill_bitmap(layer->bitmap, al_map_rgba(200, 0, 200, 255));
    layer->needs_clear = true;
    ASSERT_EQ(_layer_write_rect(layer, bytes, 64, 2, 3, 5, 6), 1);
    EXPECT_FALSE(layer->needs_clear);
    EXPECT_EQ(shown().count(green), 16u);
    EXPECT_EQ(shown().count(CLEAR), 64u * 48 - 16);

    // Once cleared, the rest of the layer is real content and stays.
    fill_bitmap(layer->bitmap, al_map_rgba(200, 0, 200, 255));
    ASSERT_EQ(_layer_write_rect(layer, bytes, 64, 10, 10, 10, 10), 1);
    const Image after = shown();
    EXPECT_EQ(after.count(junk), 64u * 48 - 1);

    LogCapture log(3);
    EXPECT_EQ(_layer_write_rect(layer, bytes, 64, 60, 0, 64, 3), 0);
    EXPECT_EQ(_layer_write_rect(layer, bytes, 64, 5, 5, 4, 5), 0);
    EXPECT_EQ(_layer_write_rect(layer, bytes, 32, 30, 0, 40, 3), 0); // wider than the buffer
    EXPECT_EQ(shown(), after);
}

// The scanline fill against a pixel-by-pixel 4-connected search on small random images with
// blotches of nearby colours (a chain of them, so comparing with neighbours instead of the
// seed would leak), with fill colours both far from the seed and inside its tolerance (where
// only the visited map stops the fill going round again).
TEST(FillSpans, AgreesWithAPixelByPixelSearch) {
    uint32_t rng = 12345;
    auto next = [&rng] { return rng ^= rng << 13, rng ^= rng >> 17, rng ^= rng << 5; };
    const uint32_t palette[] = {packed(64, 64, 64, 128), packed(72, 64, 64, 128),
                                packed(64, 64, 88, 128), packed(64, 64, 112, 128), BLACK, CLEAR};
    for (int round = 0; round < 200; round++) {
        Image img(1 + int(next() % 37), 1 + int(next() % 23), 0);
        for (auto& p : img.px)
            p = palette[next() % 6];
        const int sx = int(next() % unsigned(img.w)), sy = int(next() % unsigned(img.h));
        const int tolerance = int(next() % 30);
        const uint32_t seed = img.at(sx, sy),
                       value = round % 2 ? packed(192, 192, 0, 255) : seed ^ 1u;

        Image want = img;
        std::vector<int> todo{sy * img.w + sx}, bounds_want{sx, sy, sx, sy};
        std::vector<char> seen(img.px.size(), 0);
        seen[size_t(todo[0])] = 1;
        auto near = [&](uint32_t p) {
            for (int k = 0; k < 32; k += 8)
                if (std::abs(int((p >> k) & 255) - int((seed >> k) & 255)) > tolerance)
                    return false;
            return true;
        };
        while (!todo.empty()) {
            const int i = todo.back(), x = i % img.w, y = i / img.w;
            todo.pop_back();
            want.px[size_t(i)] = value;
            bounds_want = {std::min(bounds_want[0], x), std::min(bounds_want[1], y),
                           std::max(bounds_want[2], x), std::max(bounds_want[3], y)};
            const int nx[] = {x - 1, x + 1, x, x}, ny[] = {y, y, y - 1, y + 1};
            for (int d = 0; d < 4; d++) {
                const size_t j = size_t(ny[d]) * img.w + nx[d];
                if (nx[d] < 0 || ny[d] < 0 || nx[d] >= img.w || ny[d] >= img.h || seen[j] ||
                    !near(img.px[j]))
                    continue;
                seen[j] = 1;
                todo.push_back(int(j));
            }
        }

        // Rows 3 pixels longer than the image, as a locked bitmap may have: the margin stays.
        Image padded(img.w + 3, img.h, 0x5A5A5A5Au);
        for (int y = 0; y < img.h; y++)
            std::copy_n(&img.at(0, y), img.w, &padded.at(0, y));
        int bounds[4];
        const int result =
            _fill_area(reinterpret_cast<unsigned char*>(padded.px.data()), img.w, img.h, padded.w,
                       sx, sy, reinterpret_cast<const unsigned char*>(&value), tolerance, bounds,
                       nullptr);
        if (tolerance == 0 && seed == value) continue;
        ASSERT_EQ(result, 1) << "round " << round;
        ASSERT_EQ(padded.count(0x5A5A5A5Au), size_t(3 * img.h)) << "round " << round;
        for (int y = 0; y < img.h; y++)
            ASSERT_TRUE(std::equal(&want.at(0, y), &want.at(0, y) + img.w, &padded.at(0, y)))
                << "round " << round << " row " << y;
        EXPECT_EQ(std::vector<int>(bounds, bounds + 4), bounds_want);
    }
}

// One open row over more than four thousand one-pixel teeth: every tooth becomes a pending
// seed while the top span is scanned, beyond the stack's first capacity.
TEST(FillSpans, ManyPendingSeedsGrowTheStack) {
    Image img(2 * FILL_STACK_PAIRS + 3, 4, CLEAR);
    for (int y = 1; y < img.h; y++)
        for (int x = 1; x < img.w; x += 2)
            img.at(x, y) = BLACK;
    const uint32_t value = TEAL;
    int bounds[4];
    ASSERT_EQ(_fill_spans(reinterpret_cast<unsigned char*>(img.px.data()), img.w, img.h, img.w / 2,
                          0, reinterpret_cast<const unsigned char*>(&value), 0, bounds),
              1);
    EXPECT_EQ(img.count(BLACK), size_t(img.w / 2) * 3);
    EXPECT_EQ(img.count(TEAL), img.px.size() - img.count(BLACK));
    EXPECT_EQ(std::vector<int>(bounds, bounds + 4), (std::vector<int>{0, 0, img.w - 1, 3}));
}

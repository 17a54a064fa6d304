#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "canvas/reduce.h"

namespace {

// The box average worked out directly: each target pixel over the source pixels whose box
// (by proportion, rounded down at both ends) it is, rounded to nearest.
std::vector<uint8_t> reference(const std::vector<uint32_t>& src, int sw, int sh, int w, int h) {
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
    for (int ty = 0; ty < h; ty++)
        for (int tx = 0; tx < w; tx++) {
            const int x0 = static_cast<int>(int64_t{tx} * sw / w), x1 = static_cast<int>(int64_t{tx + 1} * sw / w);
            const int y0 = static_cast<int>(int64_t{ty} * sh / h), y1 = static_cast<int>(int64_t{ty + 1} * sh / h);
            uint64_t sum[4] = {};
            for (int y = y0; y < y1; y++)
                for (int x = x0; x < x1; x++) {
                    uint8_t b[4];
                    memcpy(b, &src[static_cast<size_t>(y) * sw + x], 4);
                    for (int k = 0; k < 4; k++) sum[k] += b[k];
                }
            const uint64_t count = static_cast<uint64_t>(x1 - x0) * (y1 - y0);
            for (int k = 0; k < 4; k++)
                out[(static_cast<size_t>(ty) * w + tx) * 4 + k] = static_cast<uint8_t>((sum[k] + count / 2) / count);
        }
    return out;
}

} // namespace

// Runs of every length (across box edges, whole rows, single pixels) and literal spans, fed top
// down and bottom up, give the direct box average; a target row no pixel reached, with stale
// bytes in the output beforehand, comes out transparent.
TEST(Reduce, RunsAndSpansInEitherRowOrderGiveTheBoxAverage) {
    struct Case { int sw, sh, w, h; };
    for (const Case c : {Case{7, 5, 3, 2}, Case{600, 300, 77, 39}, Case{256, 256, 256, 256},
                         Case{1000, 3, 1, 1}, Case{5, 400, 5, 9}}) {
        for (const bool bottom_up : {false, true}) {
            SCOPED_TRACE(std::to_string(c.sw) + "x" + std::to_string(c.sh) + " to " + std::to_string(c.w) +
                         "x" + std::to_string(c.h) + (bottom_up ? " bottom up" : " top down"));
            std::mt19937 random(static_cast<unsigned>(c.sw * 31 + c.h));
            std::vector<uint32_t> src(static_cast<size_t>(c.sw) * c.sh, 0);
            std::vector<uint8_t> out(static_cast<size_t>(c.w) * c.h * 4 + 1, 0xAB); // a byte past the end
            REDUCTION r;
            ASSERT_EQ(reduction_start(&r, c.sw, c.sh, c.w, c.h, out.data(), static_cast<ptrdiff_t>(c.w) * 4), 1);
            for (int i = 0; i < c.sh; i++) {
                const int y = bottom_up ? c.sh - 1 - i : i;
                if (y == c.sh / 2 && c.sh > 4) continue; // a row left transparent
                uint32_t* row = &src[static_cast<size_t>(y) * c.sw];
                for (int x = 0; x < c.sw;) {
                    const int n = std::min<int>(c.sw - x, 1 + static_cast<int>(random() % 40));
                    const uint32_t colour = random() % 3 == 0 ? 0u : static_cast<uint32_t>(random());
                    if (random() % 2) {
                        for (int k = 0; k < n; k++) row[x + k] = colour;
                        reduction_add_run(&r, x, y, colour, n);
                    } else {
                        for (int k = 0; k < n; k++) row[x + k] = static_cast<uint32_t>(random());
                        reduction_add_pixels(&r, x, y, row + x, n);
                    }
                    x += n;
                }
            }
            reduction_finish(&r);
            EXPECT_EQ(out[out.size() - 1], 0xAB);
            out.pop_back();
            EXPECT_TRUE(out == reference(src, c.sw, c.sh, c.w, c.h));
        }
    }
}

TEST(Reduce, RefusesToScaleUpOrAnEmptyTarget) {
    uint8_t out[64];
    REDUCTION r;
    EXPECT_EQ(reduction_start(&r, 4, 4, 5, 4, out, 20), 0);
    EXPECT_EQ(reduction_start(&r, 4, 4, 0, 4, out, 16), 0);
    EXPECT_EQ(reduction_start(&r, 4, 4, 2, 2, out, 4), 0); // a pitch shorter than a row
}

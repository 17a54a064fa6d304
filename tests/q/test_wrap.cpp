#include <gtest/gtest.h>

#include <vector>

#include "q/q_wrap.h"

namespace {

struct Line {
    size_t first, end;
    double width;
};

std::vector<Line> wrap(const std::vector<Q_WRAP_ITEM>& items, double max_width, int* count) {
    std::vector<Line> lines;
    *count = q_wrap_layout(
        items.data(), items.size(), max_width,
        [](size_t first, size_t end, int, double width, void* user) {
            static_cast<std::vector<Line>*>(user)->push_back({first, end, width});
        },
        &lines);
    return lines;
}

constexpr Q_WRAP_ITEM word(double w) { return {w, 0}; }
constexpr Q_WRAP_ITEM blank() { return {5, Q_WRAP_BLANK}; }
constexpr Q_WRAP_ITEM newline() { return {0, Q_WRAP_BREAK}; }

} // namespace

TEST(Wrap, BreaksAtTheLastBlankAndDropsIt) {
    int n = 0;
    // "aaa bbb ccc" with words 30 wide and blanks 5: two words fit in 70.
    auto lines = wrap({word(30), blank(), word(30), blank(), word(30)}, 70, &n);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(lines[0].first, 0u);
    EXPECT_EQ(lines[0].end, 3u);
    EXPECT_DOUBLE_EQ(lines[0].width, 65);
    EXPECT_EQ(lines[1].first, 4u);
    EXPECT_DOUBLE_EQ(lines[1].width, 30);
}

TEST(Wrap, OverlongWordStandsAloneAndIsNotSplit) {
    int n = 0;
    auto lines = wrap({word(10), blank(), word(500), blank(), word(10)}, 100, &n);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(lines[1].first, 2u);
    EXPECT_EQ(lines[1].end, 3u);
    EXPECT_DOUBLE_EQ(lines[1].width, 500);
}

TEST(Wrap, ForcedBreaksAndEmptyLines) {
    int n = 0;
    auto lines = wrap({word(10), newline(), newline(), word(10)}, 100, &n);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(lines[1].first, lines[1].end); // the empty line between two breaks
    EXPECT_DOUBLE_EQ(lines[1].width, 0);
    EXPECT_EQ(lines[2].first, 3u);
}

TEST(Wrap, NoBlankMeansBreakBeforeTheItem) {
    int n = 0;
    auto lines = wrap({word(60), word(60), word(60)}, 100, &n);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(lines[0].end, 1u);
    EXPECT_EQ(lines[2].first, 2u);
    EXPECT_EQ(q_wrap_layout(nullptr, 3, 100, nullptr, nullptr), 1);
    const Q_WRAP_ITEM one = word(1);
    EXPECT_EQ(q_wrap_layout(&one, 0, 100, nullptr, nullptr), 1);
}

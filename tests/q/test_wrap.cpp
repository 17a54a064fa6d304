#include <gtest/gtest.h>

#include <vector>

#include "q/q_wrap.h"

namespace {

struct Line {
    size_t first, end;
    double width;
};

std::vector<Line> wrap(const std::vector<Q_WRAP_ITEM>& items, double max_width) {
    std::vector<Line> lines;
    const int count = q_wrap_layout(
        items.data(), items.size(), max_width,
        [](size_t first, size_t end, int, double width, void* user) {
            static_cast<std::vector<Line>*>(user)->push_back({first, end, width});
        },
        &lines);
    EXPECT_EQ(count, static_cast<int>(lines.size()));
    return lines;
}

constexpr Q_WRAP_ITEM word(double w) { return {w, 0}; }
constexpr Q_WRAP_ITEM blank() { return {5, Q_WRAP_BLANK}; }
constexpr Q_WRAP_ITEM newline() { return {0, Q_WRAP_BREAK}; }

} // namespace

TEST(Wrap, LinesBreakAtBlanksAndForcedBreaks) {
    struct Case {
        const char* what;
        double max_width;
        std::vector<Q_WRAP_ITEM> items;
        std::vector<Line> lines; // first item, end item, width
    };
    const Case cases[] = {
        {"two 30-wide words fit in 70, the blank at the break is dropped", 70,
         {word(30), blank(), word(30), blank(), word(30)}, {{0, 3, 65}, {4, 5, 30}}},
        {"an overlong word stands alone, not split", 100,
         {word(10), blank(), word(500), blank(), word(10)}, {{0, 1, 10}, {2, 3, 500}, {4, 5, 10}}},
        {"two breaks leave an empty line", 100, {word(10), newline(), newline(), word(10)},
         {{0, 1, 10}, {2, 2, 0}, {3, 4, 10}}},
        {"without blanks the break comes before the item", 100, {word(60), word(60), word(60)},
         {{0, 1, 60}, {1, 2, 60}, {2, 3, 60}}},
    };
    for (const Case& c : cases) {
        const std::vector<Line> lines = wrap(c.items, c.max_width);
        ASSERT_EQ(lines.size(), c.lines.size()) << c.what;
        for (size_t i = 0; i < lines.size(); i++)
            EXPECT_TRUE(lines[i].first == c.lines[i].first && lines[i].end == c.lines[i].end &&
                        lines[i].width == c.lines[i].width)
                << c.what << ": line " << i;
    }
    EXPECT_EQ(q_wrap_layout(nullptr, 3, 100, nullptr, nullptr), 1);
}

// The stroke stabilizer's string, and matching pen samples with pointer events.
#include <gtest/gtest.h>

#include <cmath>

#include "input/pen.h"
#include "input/stabilizer.h"

TEST(Stabilizer, StringHoldsSmallMovesAndPullsTaut) {
    EXPECT_EQ(stabilizer_string(0, 1.0f), 0.0f);
    EXPECT_FLOAT_EQ(stabilizer_string(STABILIZER_MAX, 2.0f), STABILIZER_STRING_PX / 2.0f);
    EXPECT_FLOAT_EQ(stabilizer_string(500, -1.0f), STABILIZER_STRING_PX); // clamped, zoom 1
    STABILIZER s{};
    stabilizer_begin(&s, 0, 0, 10);
    float x = -1, y = -1;
    EXPECT_EQ(stabilizer_follow(&s, 6, 8, &x, &y), 0); // 10 away: the string is just taut
    ASSERT_EQ(stabilizer_follow(&s, 30, 0, &x, &y), 1);
    EXPECT_TRUE(std::fabs(x - 20) < 1e-4f && y == 0.0f);
    EXPECT_EQ(stabilizer_follow(&s, NAN, 0, &x, &y), 0);
    stabilizer_begin(&s, 5, 5, 0); // no string: the pointer exactly
    ASSERT_EQ(stabilizer_follow(&s, 7, 9, &x, &y), 1);
    EXPECT_TRUE(x == 7 && y == 9);
}

// A zig-zag of +-12 pixels along a line comes out within a fraction of that.
TEST(Stabilizer, ZigZagIsFlattened) {
    STABILIZER s{};
    stabilizer_begin(&s, 0, 0, 30);
    float worst = 0, x = 0, y = 0;
    for (int i = 1; i <= 100; i++) {
        if (stabilizer_follow(&s, i * 4.0f, (i % 2 ? 12.0f : -12.0f), &x, &y) && x > 60)
            worst = std::max(worst, std::fabs(y));
    }
    EXPECT_LT(worst, 12.0f * 0.35f);
}

namespace {
PEN_SAMPLE sample(float x, float y, float p, double t, int device = 7, bool gone = false) {
    PEN_SAMPLE s{};
    s.x = x;
    s.y = y;
    s.pressure = p;
    s.time = t;
    s.device = device;
    s.gone = gone;
    return s;
}
} // namespace

TEST(PenInput, MatchesByPlaceAndTime) {
    PEN_INPUT pen;
    pen_input_reset(&pen);
    const PEN_SAMPLE in[] = {sample(10, 10, 0.2f, 1.0), sample(11, 10, 0.4f, 1.01),
                             sample(11, 10, 0.6f, 1.02), sample(40, 40, 0.9f, 1.03)};
    EXPECT_EQ(pen_input_add(&pen, in, 4), 0);
    PEN_SAMPLE out{};
    const struct {
        float x, y;
        double t;
        int found;
        float pressure;
    } cases[] = {
        {10, 10, 1.0, 1, 0.2f},  // exactly there
        {11, 10, 1.02, 1, 0.6f}, // two at one place: the newest
        {12, 11, 1.0, 1, 0.6f},  // the nearest within reach
        {20, 20, 1.0, 0, 0},     // too far from every sample
        {40, 40, 2.0, 0, 0},     // too late
    };
    for (const auto& c : cases) {
        ASSERT_EQ(pen_input_match(&pen, c.x, c.y, c.t, &out), c.found) << c.x << "," << c.y;
        if (c.found) {
            EXPECT_FLOAT_EQ(out.pressure, c.pressure);
        }
    }
    // The ring keeps the newest samples only.
    for (int i = 0; i < PEN_HISTORY; i++) {
        const PEN_SAMPLE s = sample(100, 100, 1, 1.0);
        pen_input_add(&pen, &s, 1);
    }
    EXPECT_EQ(pen_input_match(&pen, 10, 10, 1.0, &out), 0);
    // A device leaving ends only the stroke it drives.
    const PEN_SAMPLE gone = sample(0, 0, 0, 1.0, 7, true);
    EXPECT_EQ(pen_input_add(&pen, &gone, 1), 0);
    pen.stroke = true;
    pen.device = 8;
    EXPECT_EQ(pen_input_add(&pen, &gone, 1), 0);
    pen.device = 7;
    EXPECT_EQ(pen_input_add(&pen, &gone, 1), 1);
}

TEST(PenInput, CurvesShapeThePressure) {
    EXPECT_FLOAT_EQ(pen_pressure_curve(0.5f, PEN_CURVE_LINEAR), 0.5f);
    EXPECT_GT(pen_pressure_curve(0.5f, PEN_CURVE_SOFT), 0.6f);
    EXPECT_LT(pen_pressure_curve(0.5f, PEN_CURVE_FIRM), 0.35f);
    for (int curve : {0, 1, 2, 9}) {
        EXPECT_EQ(pen_pressure_curve(-2.0f, curve), 0.0f);
        EXPECT_EQ(pen_pressure_curve(NAN, curve), 0.0f);
        EXPECT_EQ(pen_pressure_curve(7.0f, curve), 1.0f);
    }
    EXPECT_STREQ(pen_curve_name(9), "Linear");
}

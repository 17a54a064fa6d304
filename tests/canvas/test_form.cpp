#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "canvas/form.h"

namespace {

FORM make(int kind, float x0, float y0, float x1, float y1) {
    FORM form;
    form_init(&form);
    EXPECT_EQ(form_begin(&form, kind, x0, y0, x1, y1), 1);
    return form;
}

bool points_equal(const FORM& a, const FORM& b) {
    for (int i = 0; i < 4; ++i)
        if (a.x[i] != b.x[i] || a.y[i] != b.y[i]) return false;
    return a.kind == b.kind && a.count == b.count && a.dragging == b.dragging;
}

// What the canvas passes for a press: handles within 9, the body within 8 screen pixels.
int press(const FORM& form, float x, float y, float zoom) {
    return form_hit_test(&form, x, y, 9.0f / zoom, 8.0f / zoom);
}

void expect_point(const FORM& form, float t, float wx, float wy) {
    float x = NAN, y = NAN;
    ASSERT_EQ(form_point(&form, t, &x, &y), 1);
    EXPECT_TRUE(std::fabs(x - wx) < 1e-4f && std::fabs(y - wy) < 1e-4f) << "t " << t;
}

} // namespace

TEST(Form, LinesAndCurvesEvaluateFromStartToEnd) {
    const FORM line = make(FORM_LINE, 10, 20, 50, -20);
    expect_point(line, 0.5f, 30, 0);
    expect_point(line, 7.0f, 50, -20); // t is kept on the form
    expect_point(line, NAN, 10, 20);

    FORM curve = make(FORM_BEZIER, 0, 0, 90, 0); // a fresh curve is straight: handles at thirds
    curve.y[1] = curve.y[2] = -40;
    expect_point(curve, 0.0f, 0, 0);
    expect_point(curve, 0.5f, 45, -30);
    expect_point(curve, 1.0f, 90, 0);

    // Ends come back exactly, not merely close: a snapped end must be painted on the grid.
    expect_point(make(FORM_LINE, 0.1f, -7.3f, 16777215.0f, 3.3e-3f), 1.0f, 16777215.0f, 3.3e-3f);
}

TEST(Form, HitTestPicksHandlesThenBodyAndScalesWithZoom) {
    FORM curve = make(FORM_BEZIER, 0, 0, 90, 0); // handles at 30 and 60
    const struct {
        float x, y, zoom;
        int hit;
    } presses[] = {{35, 0, 1, 1},     {45, 5, 1, FORM_HIT_BODY}, {45, 9, 1, FORM_HIT_MISS},
                   {35, 0, 4, FORM_HIT_BODY}, // four times as far on screen
                   {45, 5, 4, FORM_HIT_MISS}, {45, 20, 0.25f, 2}}; // equally near: the later
    for (const auto& p : presses)
        EXPECT_EQ(press(curve, p.x, p.y, p.zoom), p.hit) << p.x << "," << p.y << " x" << p.zoom;
    EXPECT_EQ(form_hit_test(&curve, 30, 0, -9, 8), FORM_HIT_BODY); // no negative catch

    // The box edge belongs to the body, computed the way the canvas computes it.
    const float pad = 8.0f / 3.0f;
    EXPECT_EQ(form_hit_test(&curve, 90 + pad, -pad, 0, pad), FORM_HIT_BODY);
    EXPECT_EQ(form_hit_test(&curve, std::nextafter(90 + pad, 1e3f), 0, 0, pad), FORM_HIT_MISS);

    // An end dropped onto its handle can still be pulled off by the end.
    curve.x[3] = 60;
    EXPECT_EQ(press(curve, 60, 1, 1), 3);

    curve.x[2] = 120; // a handle outside the curve widens the box
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    ASSERT_EQ(form_bounds(&curve, 2, &x0, &y0, &x1, &y1), 1);
    EXPECT_TRUE(x0 == -2 && y0 == -2 && x1 == 122 && y1 == 2);
    form_clear(&curve);
    EXPECT_EQ(form_hit_test(&curve, 0, 0, 9, 8), FORM_HIT_MISS);
}

TEST(Form, DragMovesOnePointOrTheWholeForm) {
    FORM curve = make(FORM_BEZIER, 0, 0, 90, 0);
    ASSERT_EQ(form_drag_begin(&curve, 3, 90, 0), 1);
    form_drag_update(&curve, 120, 30);
    EXPECT_TRUE(curve.x[3] == 120 && curve.y[3] == 30 && curve.x[2] == 60 && curve.y[2] == 0);
    form_drag_end(&curve);
    EXPECT_EQ(form_drag_update(&curve, 0, 0), 0);

    // The whole form follows the pointer's travel since the press; updates do not add up.
    ASSERT_EQ(form_drag_begin(&curve, FORM_HIT_BODY, 50, 50), 1);
    form_drag_update(&curve, 60, 45);
    form_drag_update(&curve, 55, 40);
    const float want_x[] = {5, 35, 65, 125}, want_y[] = {-10, -10, -10, 20};
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(curve.x[i] == want_x[i] && curve.y[i] == want_y[i]);

    // Non-finite positions, or shifts past the float range, are refused; the drag goes on.
    const FORM before = curve;
    EXPECT_EQ(form_drag_update(&curve, NAN, 0), 0);
    form_drag_begin(&curve, FORM_HIT_BODY, -3e38f, 0);
    EXPECT_EQ(form_drag_update(&curve, 3e38f, 0), 0);
    EXPECT_TRUE(points_equal(curve, before));
    EXPECT_EQ(form_drag_update(&curve, -3e38f + 1e32f, 0), 1);

    FORM line = make(FORM_LINE, 0, 0, 10, 0);
    for (int index : {4, 2, FORM_HIT_MISS}) EXPECT_EQ(form_drag_begin(&line, index, 1, 1), 0);
    EXPECT_FALSE(line.dragging);
}

TEST(Form, FlatteningFollowsZoomAndFitsTheCanvasBuffer) {
    FORM curve = make(FORM_BEZIER, 0, 0, 90, 0); // control polygon 90 long
    for (auto [zoom, segments] : {std::pair{1.0f, 15}, {4.0f, 60}, {0.0f, 15}, {NAN, 15},
                                  {INFINITY, FORM_MAX_SEGMENTS}})
        EXPECT_EQ(form_flatten_segments(&curve, zoom), segments) << zoom;

    std::vector<float> out(2 * FORM_FLATTEN_POINTS + 2, -999.0f);
    // No room for 17 points: nothing is written.
    EXPECT_TRUE(form_flatten(&curve, 16, out.data(), 16) == 0 && out[0] == -999.0f);
    ASSERT_EQ(form_flatten(&curve, 15, out.data(), FORM_FLATTEN_POINTS), 16);
    EXPECT_TRUE(out[2] == 6 && out[30] == 90 && out[32] == -999.0f);

    curve = make(FORM_BEZIER, 0, 0, 5000, 3000);
    EXPECT_EQ(form_flatten_segments(&curve, 32), FORM_MAX_SEGMENTS);
    EXPECT_EQ(form_flatten(&curve, 100000, out.data(), FORM_FLATTEN_POINTS), 257);
    EXPECT_TRUE(out[512] == 5000 && out[513] == 3000 && out[514] == -999.0f);

    // A line is one segment; asking for more spaces the points evenly.
    const FORM line = make(FORM_LINE, 0, 0, 40, 20);
    EXPECT_EQ(form_flatten_segments(&line, 8), 1);
    ASSERT_EQ(form_flatten(&line, 4, out.data(), 5), 5);
    EXPECT_TRUE(out[2] == 10 && out[3] == 5 && out[8] == 40);
}

TEST(Form, DegenerateFormsStayHarmless) {
    const FORM dot = make(FORM_BEZIER, 7, 7, 7, 7);
    EXPECT_EQ(form_flatten_segments(&dot, 32), 1);
    float out[4] = {};
    ASSERT_EQ(form_flatten(&dot, 0, out, 2), 2);
    EXPECT_TRUE(out[0] == 7 && out[3] == 7);

    FORM empty;
    form_init(&empty);
    EXPECT_TRUE(form_flatten_segments(&empty, 1) == 0 && form_flatten(&empty, 1, out, 2) == 0);

    // Fields written directly: an oversized count and a NaN point must neither read past the
    // arrays nor give an absurd segment count.
    FORM odd = make(FORM_BEZIER, 0, 0, 90, 0);
    odd.count = 99;
    odd.x[1] = NAN;
    EXPECT_EQ(form_flatten_segments(&odd, 1), 1);
    EXPECT_EQ(form_hit_test(&odd, 90, 0, 9, 8), 3);
}

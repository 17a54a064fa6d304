// The colour wheel: its colours read back from a drawing, and the pointer dragging hue,
// saturation and value.
#include <cmath>

#include "gui_fixture.h"
#include "q/q_gui_internal.h"
#include "test_support.h"

namespace {

struct Wheel {
    int count = 0;
    float h = -1, s = -1, v = -1;
};

void on_wheel(int, float h, float s, float v, void* user) {
    Wheel* w = static_cast<Wheel*>(user);
    w->count++;
    w->h = h;
    w->s = s;
    w->v = v;
}

struct ColorWheelTest : GuiTest {
    Wheel calls;
    int wheel = -1;
    Q_GUI_COLORWHEEL_GEOMETRY g{};
    void SetUp() override {
        GuiTest::SetUp();
        const int win = plain_window(0, 0, 300, 300);
        wheel = q_gui_add_colorwheel(ctx, win, 50, 50, 200, 200, on_wheel, &calls);
        ASSERT_GE(wheel, 0);
        g = _colorwheel_geometry(50, 50, 200, 200);
    }
    // The ring's middle at a hue, in screen pixels.
    std::pair<int, int> on_ring(float hue) const {
        const float a = hue * 6.2831853f, r = (g.inner + g.outer) / 2;
        return {static_cast<int>(std::lround(g.cx + std::cos(a) * r)),
                static_cast<int>(std::lround(g.cy - std::sin(a) * r))};
    }
};

bool near(Rgba p, int r, int g, int b, int tolerance = 6) {
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance &&
           std::abs(p.b - b) <= tolerance;
}

} // namespace

TEST_F(ColorWheelTest, RingShowsHuesAndSquareTheShades) {
    q_gui_colorwheel_set_hsv(ctx, wheel, 1.0f / 3.0f, 0.0f, 1.0f); // green, its marker top left
    ALLEGRO_BITMAP* target = al_create_bitmap(300, 300);
    ASSERT_NE(target, nullptr);
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(target);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    q_gui_draw(ctx);
    al_set_target_bitmap(previous);
    const struct {
        float hue;
        int r, g, b;
    } ring[] = {{0.0f, 255, 0, 0}, {1.0f / 6, 255, 255, 0}, {0.5f, 0, 255, 255}, {2.0f / 3, 0, 0, 255}};
    for (const auto& c : ring) {
        const auto [x, y] = on_ring(c.hue);
        EXPECT_TRUE(near(pixel_at(target, x, y), c.r, c.g, c.b)) << "hue " << c.hue;
    }
    const int left = static_cast<int>(g.cx - g.half), right = static_cast<int>(g.cx + g.half);
    const int top = static_cast<int>(g.cy - g.half), bottom = static_cast<int>(g.cy + g.half);
    EXPECT_TRUE(near(pixel_at(target, right - 2, top + 2), 0, 250, 0, 10));    // the hue itself
    EXPECT_TRUE(near(pixel_at(target, left + 12, bottom - 2), 0, 0, 0, 10));   // black below
    EXPECT_TRUE(near(pixel_at(target, (left + right) / 2, (top + bottom) / 2), 64, 128, 64, 10));
    const Rgba corner = pixel_at(target, 52, 52), body = pixel_at(target, 10, 290);
    EXPECT_TRUE(corner.r == body.r && corner.g == body.g && corner.b == body.b); // no ring there
    al_destroy_bitmap(target);
}

// A press on the ring turns the hue and keeps the shade; a press in the square sets the shade
// and a drag beyond its edge stays on the edge.
TEST_F(ColorWheelTest, PointerDragsHueOrShade) {
    q_gui_colorwheel_set_hsv(ctx, wheel, 0.0f, 0.5f, 0.5f);
    const auto [rx, ry] = on_ring(0.25f);
    move(rx, ry);
    button(true, rx, ry);
    EXPECT_NEAR(calls.h, 0.25f, 0.01f);
    EXPECT_TRUE(calls.s == 0.5f && calls.v == 0.5f);
    move(static_cast<int>(g.cx) - 60, static_cast<int>(g.cy)); // still the ring: hue 0.5
    EXPECT_NEAR(calls.h, 0.5f, 0.01f);
    button(false, 0, 0);
    const int x = static_cast<int>(g.cx), y = static_cast<int>(g.cy);
    click(x, y);
    EXPECT_NEAR(calls.s, 0.5f, 0.02f);
    EXPECT_NEAR(calls.v, 0.5f, 0.02f);
    move(x, y);
    button(true, x, y);
    move(x + 500, y - 500);
    EXPECT_TRUE(calls.s == 1.0f && calls.v == 1.0f);
    button(false, x + 500, y - 500);
    const int before = calls.count;
    click(52, 52); // outside the ring: nothing
    EXPECT_EQ(calls.count, before);
    float h, s, v;
    ASSERT_EQ(q_gui_colorwheel_get_hsv(ctx, wheel, &h, &s, &v), 1);
    EXPECT_NEAR(h, 0.5f, 0.01f);
}

TEST(ColorConversion, RoundTripsAndGreysKeepTheirHue) {
    const float colours[][3] = {{1, 0, 0}, {0.2f, 0.6f, 0.4f}, {0.5f, 0.5f, 1}, {0, 0, 0}, {1, 1, 1}};
    for (const auto& c : colours) {
        float h = 0.7f, s, v, r, g, b;
        q_gui_rgb_to_hsv(c[0], c[1], c[2], &h, &s, &v);
        q_gui_hsv_to_rgb(h, s, v, &r, &g, &b);
        EXPECT_NEAR(r, c[0], 1e-5f);
        EXPECT_NEAR(g, c[1], 1e-5f);
        EXPECT_NEAR(b, c[2], 1e-5f);
        if (c[0] == c[1] && c[1] == c[2]) {
            EXPECT_EQ(h, 0.7f);
        }
    }
    float r, g, b;
    q_gui_hsv_to_rgb(1.0f, 1, 1, &r, &g, &b); // hue 1 is hue 0
    EXPECT_TRUE(r == 1 && g == 0 && b == 0);
}

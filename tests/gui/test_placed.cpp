#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

#include "app/app_fixture.h"
#include "test_support.h"

namespace {

struct Placed : AppRecordTest {
    void SetUp() override {
        AppRecordTest::SetUp();
        app.brush.size = 4.0f;
        app.brush.color = al_map_rgba(255, 0, 0, 255);
        app.gui.text_size = 20;
        view_center(&app.view, app.doc->width, app.doc->height, app.display_w, app.display_h);
    }
    int float_w() { return al_get_bitmap_width(app.selection.float_bitmap); }
    int float_h() { return al_get_bitmap_height(app.selection.float_bitmap); }
    void place_text(const char* text) {
        _text_edit_begin(&app);
        _on_text_field_change(&app, text);
        _on_text_ok(&app);
    }
    // Renders, reads what `look` wants from the bitmap, and frees it.
    template <typename Look> auto shape(int kind, bool filled, int w, int h, Look look) {
        ALLEGRO_BITMAP* b = _render_shape_bitmap_wh(&app, kind, filled, w, h);
        EXPECT_NE(b, nullptr);
        auto seen = look(b);
        al_destroy_bitmap(b);
        return seen;
    }
};

} // namespace

TEST(PlacedGeometry, OutlinesSpanTheInsetBoxAndThicknessIsCapped) {
    for (int kind : {PLACED_RECT, PLACED_TRIANGLE, PLACED_STAR, PLACED_PENTAGON, PLACED_HEXAGON,
                     PLACED_ARROW}) {
        float v[20];
        const int n = _shape_vertices(kind, 120, 60, 6.0f, v);
        ASSERT_GE(n, 3) << kind;
        float lo[2] = {1e9f, 1e9f}, hi[2] = {-1e9f, -1e9f};
        for (int i = 0; i < 2 * n; i++) {
            lo[i % 2] = std::min(lo[i % 2], v[i]);
            hi[i % 2] = std::max(hi[i % 2], v[i]);
        }
        for (int a = 0; a < 2; a++) {
            EXPECT_NEAR(lo[a], 3.0f, 1e-3f) << kind;
            EXPECT_NEAR(hi[a], a == 0 ? 117.0f : 57.0f, 1e-3f) << kind;
        }
    }
    float v[20];
    ASSERT_EQ(_shape_vertices(PLACED_ARROW, 120, 60, 6.0f, v), 7);
    EXPECT_NEAR(v[7], 30.0f, 1e-3f); // the tip at mid height
    ASSERT_EQ(_shape_vertices(PLACED_STAR, 120, 60, 6.0f, v), 10);
    EXPECT_NEAR(v[0], 60.0f, 0.01f); // the top point centred
    EXPECT_EQ(_shape_vertices(PLACED_ELLIPSE, 120, 60, 6.0f, v), 0);

    EXPECT_NEAR(_shape_thickness(24.0f, 100, 40), 40.0f / 6.0f, 1e-4f);
    EXPECT_FLOAT_EQ(_shape_thickness(24.0f, 400, 400), 24.0f);
    EXPECT_FLOAT_EQ(_shape_thickness(0.5f, 400, 400), 2.0f);
}

TEST_F(Placed, RenderedShapesReadBackByPixel) {
    struct Probe {
        int kind;
        bool filled;
        int w, h, x, y;
        bool ink;
    };
    const Probe probes[] = {
        {PLACED_HEXAGON, false, 120, 120, 60, 60, false},
        {PLACED_HEXAGON, false, 120, 120, 60, 3, true},
        {PLACED_STAR, true, 120, 120, 60, 70, true},
        {PLACED_STAR, true, 120, 120, 30, 20, false},
        {PLACED_ARROW, true, 200, 100, 60, 50, true},
        {PLACED_ARROW, true, 200, 100, 60, 15, false},
        {PLACED_ARROW, true, 200, 100, 150, 50, true},
        {PLACED_ARROW, true, 200, 100, 150, 8, false},
        {PLACED_ELLIPSE, true, 100, 50, 2, 2, false},
        {PLACED_RECT, true, 100, 50, 1, 1, true},
    };
    for (const Probe& p : probes) {
        const Rgba px = shape(p.kind, p.filled, p.w, p.h,
                              [&](ALLEGRO_BITMAP* b) { return pixel_at(b, p.x, p.y); });
        EXPECT_EQ(px.a > 127 && px.r > 200, p.ink) << p.kind << " at " << p.x << "," << p.y;
    }
    // The outline is as wide as the brush whatever the shape's size, until a sixth caps it.
    app.brush.size = 6.0f;
    for (auto [side, want] : {std::pair{100, 6}, {300, 6}, {24, 4}}) {
        const int run = shape(PLACED_RECT, false, side, side, [](ALLEGRO_BITMAP* b) {
            int x = 0;
            while (pixel_at(b, x, al_get_bitmap_height(b) / 2).a > 127)
                x++;
            return x;
        });
        EXPECT_NEAR(run, want, 1) << side;
    }
}

TEST_F(Placed, TextMarginsAndSizeLimits) {
    EXPECT_EQ(_render_text_bitmap(&app, "", 0, 40), nullptr);
    ALLEGRO_BITMAP* two = _render_text_bitmap(&app, "Hi\nthere", 0, 40);
    ASSERT_NE(two, nullptr);
    const int w = al_get_bitmap_width(two), h = al_get_bitmap_height(two), m = 12;
    int inside = 0, margin = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            if (pixel_at(two, x, y).a > 0)
                (x < m || y < m || x >= w - m || y >= h - m ? margin : inside)++;
    EXPECT_GT(inside, 100);
    EXPECT_EQ(margin, 0);
    al_destroy_bitmap(two);

    auto dims = [&](int font, int size) {
        ALLEGRO_BITMAP* b = _render_text_bitmap(&app, ".", font, size);
        const std::pair<int, int> d{al_get_bitmap_width(b), al_get_bitmap_height(b)};
        al_destroy_bitmap(b);
        return d;
    };
    EXPECT_EQ(dims(0, 1), dims(0, 6));
    EXPECT_EQ(dims(0, 4000), dims(0, 512));
    EXPECT_EQ(dims(9, 30), dims(0, 30)); // an unknown font is the sans
    EXPECT_NE(dims(2, 30), dims(0, 30));
}

TEST_F(Placed, NewShapeSideFollowsViewDocumentAndGrid) {
    DOCUMENT* real = app.doc;
    DOCUMENT fake{};
    app.doc = &fake;
    const struct {
        int doc_w, doc_h;
        float zoom, grid;
        int want;
    } cases[] = {{4096, 4096, 1.0f, 0, 288},  {4096, 4096, 4.0f, 0, 72},
                 {4000, 3000, 0.1f, 0, 2048}, {500, 300, 0.1f, 0, 300},
                 {4096, 4096, 1.0f, 64, 320}, {4096, 4096, 32.0f, 0, 32}};
    app.display_w = 1280;
    app.display_h = 720;
    for (const auto& c : cases) {
        fake.width = c.doc_w;
        fake.height = c.doc_h;
        app.view.zoom = c.zoom;
        app.grid.visible = app.grid.snap = c.grid > 0;
        app.grid.size = c.grid > 0 ? c.grid : 128.0f;
        EXPECT_EQ(_placed_shape_side(&app), c.want) << c.doc_w << " zoom " << c.zoom;
    }
    app.doc = real;
}

// A stretched shape is drawn anew at its shown size over the same canvas area, centred on half
// grid steps; text is only stretched.
TEST_F(Placed, ShapeIsPlacedAndRedrawnAtItsShownSize) {
    app.doc->active_layer->locked = true;
    _on_shape_star(&app);
    EXPECT_EQ(app.selection.phase, SELECTION_PHASE_NONE);
    app.doc->active_layer->locked = false;
    app.grid.visible = app.grid.snap = true;
    app.grid.size = 16.0f;
    _on_shape_hexagon(&app);
    ASSERT_TRUE(app.selection.placed);
    EXPECT_EQ(app.selection.placed_kind, PLACED_HEXAGON);
    EXPECT_EQ(app.tool, TOOL_SELECT);
    EXPECT_EQ(float_w(), 80); // 96 on a 240-high display, capped by the 80-high document
    float cx = 0, cy = 0, cx2 = 0, cy2 = 0;
    ASSERT_EQ(selection_get_center(&app.selection, &cx, &cy), 1);
    EXPECT_EQ(std::fmod(cx, 8.0f) + std::fmod(cy, 8.0f), 0.0f);

    app.selection.scale[0] = 2.0f;
    app.selection.scale[1] = 0.5f;
    tavolix_gui_placed_float_refresh(&app);
    EXPECT_EQ(std::pair(float_w(), float_h()), std::pair(160, 40));
    EXPECT_EQ(std::pair(app.selection.scale[0], app.selection.scale[1]), std::pair(1.0f, 1.0f));
    selection_get_center(&app.selection, &cx2, &cy2);
    EXPECT_EQ(std::pair(cx, cy), std::pair(cx2, cy2));
    app.brush.color = al_map_rgba(0, 0, 255, 255);
    _on_shape_fill_toggle(&app);
    EXPECT_GT(pixel_at(app.selection.float_bitmap, 80, 20).b, 200); // filled, in the new colour

    place_text("Hi");
    ASSERT_EQ(app.selection.placed_kind, PLACED_TEXT);
    const int text_w = float_w();
    app.selection.scale[0] = 2.0f;
    tavolix_gui_placed_float_refresh(&app);
    EXPECT_EQ(float_w(), text_w);
}

TEST_F(Placed, TextPopupEditsThePlacedTextLive) {
    place_text("");
    EXPECT_EQ(app.selection.phase, SELECTION_PHASE_NONE); // empty text places nothing
    place_text("Hello");
    ASSERT_TRUE(_placed_text_floating(&app));
    const int small_w = float_w();
    _text_edit_begin(&app);
    _on_text_size_change(&app, 39.6f);
    EXPECT_EQ(app.placed_text_size, 40);
    EXPECT_GT(float_w(), small_w);
    _on_text_font_select(&app, 7);
    EXPECT_EQ(app.gui.text_font, 0);
    _on_text_cancel(&app);
    EXPECT_EQ(app.placed_text_size, 20);
    EXPECT_EQ(float_w(), small_w);

    _text_edit_begin(&app);
    _on_text_field_change(&app, "");
    _on_text_ok(&app); // emptied words keep the text the float shows
    EXPECT_STREQ(app.text, "Hello");

    std::string long_text;
    for (int i = 0; i < 300; i++)
        long_text += "\xC3\xA9";
    _on_text_field_change(&app, long_text.c_str());
    EXPECT_EQ(std::string(app.text), long_text.substr(0, 510));
    app.doc->active_layer->locked = true;
    selection_discard(&app.selection);
    place_text("x");
    EXPECT_EQ(app.selection.phase, SELECTION_PHASE_NONE);
}

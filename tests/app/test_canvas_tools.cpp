// The canvas dispatch of the tools that have no key yet (fill, gradient, line, curve), driven
// with synthetic pointer and key events through the canvas state's handler. The tools' own
// pixel work is tested with their modules; here it is the routing: the view mapping of press
// and release, snapping, the drag threshold, handle drags and committing.
#include <gtest/gtest.h>

#include "app_fixture.h"
#include "canvas/canvas_test_util.h"
#include "app_state.h"
#include "canvas/fill.h"
#include "canvas/undo.h"
#include "tavolix_app.h"
#include "test_support.h"

namespace {

struct CanvasTools : AppRecordTest {
    void SetUp() override {
        AppRecordTest::SetUp();
        app.brush.size = 4.0f;
        app.state_id = APP_STATE_CANVAS;
        app.state = app_state_get(APP_STATE_CANVAS);
    }

    // Canvas pixel (x, y) shows at screen (view.x + zoom * x, view.y + zoom * y).
    void set_view(float x, float y, float zoom) {
        app.view.x = x;
        app.view.y = y;
        app.view.zoom = zoom;
        view_update(&app.view);
    }

    void send(ALLEGRO_EVENT_TYPE type, int sx, int sy, unsigned button = 1) {
        ALLEGRO_EVENT event{};
        event.type = type;
        event.mouse.x = sx;
        event.mouse.y = sy;
        event.mouse.button = button;
        event.mouse.timestamp = al_get_time();
        app.state->handle_event(&app, &event);
    }
    void press(int sx, int sy) { send(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, sx, sy); }
    void move(int sx, int sy) { send(ALLEGRO_EVENT_MOUSE_AXES, sx, sy); }
    void release(int sx, int sy) { send(ALLEGRO_EVENT_MOUSE_BUTTON_UP, sx, sy); }
    // A key event as the main loop passes it on: modifiers followed first, then the canvas.
    void key_event(ALLEGRO_EVENT_TYPE type, int keycode) {
        ALLEGRO_EVENT event{};
        event.type = type;
        event.keyboard.keycode = keycode;
        tavolix_app_track_modifiers(&app, &event);
        app.state->handle_event(&app, &event);
    }
    void key(int keycode) { key_event(ALLEGRO_EVENT_KEY_DOWN, keycode); }

    Rgba at(int x, int y) { return pixel_at(app.doc->active_layer->bitmap, x, y); }
    // One committed brush stroke, so the fill sees it in the layer's committed pixels.
    void paint_line(float x0, float y0, float x1, float y1) {
        ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, x0, y0, 1.0f,
                                     &app.symmetry),
                  1);
        brush_stroke_segment(&app.stroke, app.doc, &app.brush, x1, y1, 1.0f);
        brush_stroke_end(&app.stroke, app.doc);
    }
};

} // namespace

TEST_F(CanvasTools, GradientRunsFromTheSnappedPressToTheSnappedRelease) {
    set_view(0.0f, 0.0f, 1.0f);
    app.grid.visible = app.grid.snap = true;
    app.grid.size = 10.0f;
    app.tool = TOOL_GRADIENT;
    press(13, 41); // snaps to (10, 40)
    EXPECT_EQ(at(5, 40).a, 0); // nothing until the release
    move(50, 41);
    release(88, 39); // snaps to (90, 40)
    EXPECT_TRUE(at(9, 10).a == 255 && at(95, 40).a == 0);
    EXPECT_NEAR(at(50, 40).a, 128, 27);
    EXPECT_TRUE(undo_available(app.doc));
}

TEST_F(CanvasTools, HandleDragMovesAPointAndAPressElsewhereCommits) {
    set_view(0.0f, 0.0f, 1.0f);
    app.grid.visible = app.grid.snap = true;
    app.grid.size = 10.0f;
    app.tool = TOOL_LINE;
    ASSERT_EQ(form_begin(&app.form, FORM_LINE, 10.0f, 40.0f, 90.0f, 40.0f), 1);
    press(88, 42); // within reach of the end point
    EXPECT_TRUE(app.form.dragging && app.form.drag_index == 1);
    move(88, 72); // the point follows the pointer onto the grid
    release(88, 72);
    EXPECT_FALSE(app.form.dragging);
    EXPECT_TRUE(app.form.x[0] == 10.0f && app.form.x[1] == 90.0f && app.form.y[1] == 70.0f);

    press(50, 8); // far from the line and its box: commits, starts nothing new
    release(50, 8);
    EXPECT_FALSE(form_pending(&app.form) || app.form_press);
    EXPECT_GT(at(50, 55).a, 200); // on the moved line, halfway
    EXPECT_EQ(at(50, 40).a, 0);   // where the line was before the drag
}

TEST_F(CanvasTools, RightButtonDoesNothingAndMiddleButtonPansWhateverTheTool) {
    set_view(0.0f, 0.0f, 1.0f);
    for (int tool : {TOOL_BRUSH, TOOL_FILL, TOOL_LINE}) {
        app.tool = tool;
        for (unsigned button : {2u, 3u}) {
            send(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 30, 30, button);
            ALLEGRO_EVENT motion{};
            motion.type = ALLEGRO_EVENT_MOUSE_AXES;
            motion.mouse.dx = 5;
            motion.mouse.dy = 3;
            app.state->handle_event(&app, &motion);
            send(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 35, 33, button);
        }
        EXPECT_FALSE(app.stroke.active || app.form_press || app.panning) << "tool " << tool;
    }
    EXPECT_FLOAT_EQ(app.view.x, 15.0f); // three middle drags of (5, 3)
    EXPECT_FLOAT_EQ(app.view.y, 9.0f);
    EXPECT_EQ(at(30, 30).a, 0);
    EXPECT_FALSE(undo_available(app.doc));
}

// A modifier whose release went to another window is forgotten when the focus changes; quick
// shortcuts handled after Ctrl is let go are followed by the end-to-end modifiers test.
TEST_F(CanvasTools, AFocusChangeForgetsHeldModifiers) {
    key_event(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_LCTRL);
    ALLEGRO_EVENT focus{};
    focus.type = ALLEGRO_EVENT_DISPLAY_SWITCH_OUT;
    tavolix_app_track_modifiers(&app, &focus);
    key(ALLEGRO_KEY_E);
    EXPECT_EQ(app.brush.mode, BRUSH_MODE_ERASE);
}

// Dragging a placed shape's handle draws it anew at the new size instead of stretching it;
// the bracket keys give it the new brush size.
TEST_F(CanvasTools, PlacedShapeIsRedrawnWhileAHandleIsDragged) {
    set_view(110.0f, 80.0f, 1.0f); // the display's middle shows the document's middle
    _on_shape_hexagon(&app);
    ASSERT_EQ(app.selection.rect.w, 80);
    ASSERT_EQ(app.tool, TOOL_SELECT);
    press(110 + 90, 80 + 40); // the right edge's handle
    move(110 + 170, 80 + 40);
    EXPECT_EQ(al_get_bitmap_width(app.selection.float_bitmap), 160);
    EXPECT_NEAR(app.selection.scale[0], 1.0f, 1e-4f);
    release(110 + 170, 80 + 40);
    EXPECT_EQ(al_get_bitmap_width(app.selection.float_bitmap), 160);
    ALLEGRO_BITMAP* before = app.selection.float_bitmap;
    key(ALLEGRO_KEY_CLOSEBRACE);
    EXPECT_NE(app.selection.float_bitmap, before);
    EXPECT_EQ(al_get_bitmap_width(app.selection.float_bitmap), 160);
}

// Whatever the order of keys and presses, the layer's committed pixels (what is saved) end up
// equal to its working pixels (what is shown): no tool but select and lasso lifts pixels, and
// a float lifted before goes down before another tool paints.
TEST_F(CanvasTools, OtherToolsNeverPaintOverALiftedHole) {
    set_view(0.0f, 0.0f, 1.0f);
    const struct {
        int outline_tool, switch_key, tool_after; // no key: switched by the tool bar, after
    } cases[] = {{TOOL_SELECT, ALLEGRO_KEY_B, TOOL_BRUSH},
                 {TOOL_LASSO, ALLEGRO_KEY_E, TOOL_BRUSH},
                 {TOOL_SELECT, 0, TOOL_FILL},
                 {TOOL_LASSO, 0, TOOL_LINE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.outline_tool << " " << c.switch_key);
        paint_line(20.0f, 40.0f, 80.0f, 40.0f);
        app.tool = c.outline_tool;
        press(30, 20);
        move(60, 20);
        move(60, 60);
        if (c.switch_key) key(c.switch_key);
        release(60, 60);
        if (!c.switch_key) {
            ASSERT_EQ(app.selection.phase, SELECTION_PHASE_FLOATING);
            selection_nudge(&app.selection, 0.0f, 20.0f);
            tavolix_app_set_tool(&app, c.tool_after);
        }
        press(45, 10);
        move(45, 70);
        release(45, 70);
        if (c.tool_after == TOOL_LINE) key(ALLEGRO_KEY_ENTER);
        EXPECT_NE(app.selection.phase, SELECTION_PHASE_FLOATING);
        EXPECT_EQ(committed_image(app.doc->active_layer),
                  read_image(app.doc->active_layer->bitmap));
        fill_clear(app.doc);
        app.brush.mode = BRUSH_MODE_PAINT;
    }
}

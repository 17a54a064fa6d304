#include <gtest/gtest.h>

#include <cmath>

#include "app_fixture.h"
#include "../canvas/canvas_test_util.h"
#include "canvas/undo.h"
#include "tavolix_app.h"
#include "test_support.h"
#include "ui_scale.h"

namespace {

// The shared record, plus a look at the active layer's working pixels.
struct AppFixture : AppRecordTest {
    int alpha_at(int x, int y) { return pixel_at(app.doc->active_layer->bitmap, x, y).a; }
};

} // namespace

TEST_F(AppFixture, NewDocumentClampsAndReplaces) {
    ASSERT_EQ(tavolix_app_new_document(&app, 10), 1);
    EXPECT_TRUE(app.doc->width == 64 && document_layer_count(app.doc) == 1u);
    EXPECT_FLOAT_EQ(app.view.x, (app.display_w - 64) * 0.5f);
    // Without a display the bitmap limit is unknown: nothing is clamped or refused for it.
    app.display = nullptr;
    ASSERT_EQ(tavolix_app_new_document(&app, 300), 1);
    EXPECT_EQ(app.doc->width, 300);
}

// A shape committed while a stroke still runs must not take over the stroke's open undo
// operation: the stroke finishes as its own step first.
TEST_F(AppFixture, ShapeCommitDuringAStrokeEndsTheStrokeFirst) {
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 20.0f, 20.0f, 1.0f,
                                 &app.symmetry),
              1);
    ASSERT_EQ(form_begin(&app.form, FORM_LINE, 10.0f, 60.0f, 90.0f, 60.0f), 1);
    tavolix_app_commit_form(&app);
    EXPECT_FALSE(app.stroke.active);
    ASSERT_EQ(undo_perform(app.doc), 1); // the shape
    EXPECT_TRUE(alpha_at(50, 60) == 0 && alpha_at(20, 20) > 0);
    ASSERT_EQ(undo_perform(app.doc), 1); // the stroke
}

TEST_F(AppFixture, ToolSwitchCommitsTheShapeAndPaintsAgain) {
    app.brush.mode = BRUSH_MODE_ERASE;
    ASSERT_EQ(form_begin(&app.form, FORM_LINE, 10.0f, 40.0f, 90.0f, 40.0f), 1);
    tavolix_app_set_tool(&app, TOOL_SELECT);
    EXPECT_TRUE(app.tool == TOOL_SELECT && app.brush.mode == BRUSH_MODE_PAINT);
    EXPECT_FALSE(form_pending(&app.form));
    EXPECT_TRUE(undo_available(app.doc)); // an eraser line on an empty layer is still a step
}

TEST_F(AppFixture, SettlingCommitsEverythingInProgress) {
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 20.0f, 20.0f, 1.0f,
                                 &app.symmetry),
              1);
    tavolix_app_settle_canvas(&app);
    // The committed pixels reached the tiles, which is what gets saved.
    EXPECT_TRUE(!app.stroke.active && committed_at(app.doc->active_layer, 20, 20).a > 0);
    selection_begin_marquee(&app.selection, 10.0f, 10.0f);
    selection_update_marquee(&app.selection, 30.0f, 30.0f);
    ASSERT_EQ(selection_end_marquee(&app.selection, app.doc), 1);
    selection_nudge(&app.selection, 40.0f, 0.0f);
    tavolix_app_settle_canvas(&app);
    EXPECT_EQ(app.selection.phase, SELECTION_PHASE_NONE);
    EXPECT_TRUE(committed_at(app.doc->active_layer, 60, 20).a > 0 &&
                committed_at(app.doc->active_layer, 20, 20).a == 0);
}

// Drawing can stop and start again mid-stroke; the stroke is forgotten, not recorded as a step
// of unchanged tiles that would wipe the redo history.
TEST_F(AppFixture, ResumeForgetsAStrokeWithoutTouchingTheHistory) {
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 20.0f, 20.0f, 1.0f, nullptr), 1);
    ASSERT_EQ(brush_stroke_end(&app.stroke, app.doc), 1);
    ASSERT_EQ(undo_perform(app.doc), 1);
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 60.0f, 40.0f, 1.0f, nullptr), 1);
    _app_on_resume(&app);
    EXPECT_FALSE(app.stroke.active);
    EXPECT_FALSE(undo_available(app.doc));
    ASSERT_EQ(redo_perform(app.doc), 1);
    EXPECT_GT(alpha_at(20, 20), 0);
    EXPECT_EQ(alpha_at(60, 40), 0);
}

TEST_F(AppFixture, ReplacingTheDocumentDropsWhatBelongedToTheOldOne) {
    selection_begin_marquee(&app.selection, 10.0f, 10.0f);
    selection_update_marquee(&app.selection, 30.0f, 30.0f);
    ASSERT_EQ(selection_end_marquee(&app.selection, app.doc), 1);
    ASSERT_EQ(form_begin(&app.form, FORM_LINE, 1.0f, 1.0f, 50.0f, 50.0f), 1);
    app.symmetry.center[0] = 3.0f;
    ASSERT_EQ(tavolix_app_new_document(&app, 200), 1);
    EXPECT_TRUE(app.selection.phase == SELECTION_PHASE_NONE && !form_pending(&app.form));
    EXPECT_TRUE(app.symmetry.center[0] == 100.0f && app.symmetry.center[1] == 100.0f);
}

TEST(UiScale, DensityAndSizeChoice) {
    // Density, size choice, density used, scale. A density that is not a finite number is unset.
    const float cases[][4] = {{3, 1, 1, 2},          {6, 1, 1, 2.5f},  {1, 1, 1, 1},
                              {3, 1, 0, 1},          {1, 9, 0, 1.3f},  {1, -4, 0, 0.85f},
                              {NAN, 2, 1, 1.15f},    {INFINITY, 2, 1, 1.15f},
                              {-INFINITY, 2, 1, 1.15f}};
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(tavolix_ui_scale_from_density(c[0], int(c[1]), int(c[2])), c[3]) << c[0];
}

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "canvas/document.h"
#include "canvas/undo.h"
#include "canvas_test_util.h"

namespace {

const Rgba CLEAR{0, 0, 0, 0};
const Rgba BLUE{0, 0, 200, 255};
const Rgba RED{200, 0, 0, 255};

// Writes exact bytes into a rectangle, as a tool's pixel work would.
void fill_rect(ALLEGRO_BITMAP* bitmap, int x, int y, int w, int h, Rgba c) {
    write_image(bitmap, Image(w, h, packed(c.r, c.g, c.b, c.a)), x, y);
}

// The same pixel in the working bitmap and the committed tiles.
::testing::AssertionResult both_are(const LAYER* layer, int x, int y, Rgba want) {
    auto working = rgba_near(pixel_at(layer->bitmap, x, y), want, 0);
    if (!working) return working << " in the working bitmap at " << x << "," << y;
    auto backup = rgba_near(committed_at(layer, x, y), want, 0);
    if (!backup) return backup << " in the committed tiles at " << x << "," << y;
    return ::testing::AssertionSuccess();
}

std::vector<int> dirty_tiles(const UNDO_SYSTEM* undo) {
    std::vector<int> out;
    for (int i = 0; i < undo->tiles_x * undo->tiles_y; i++)
        if (undo->dirty[i]) out.push_back(i);
    return out;
}

UNDO_RECORD* newest(LIST* stack) {
    return stack->end ? static_cast<UNDO_RECORD*>(stack->end->ptr) : nullptr;
}

struct UndoTest : ::testing::Test {
    DOCUMENT* doc = nullptr;
    void SetUp() override { ASSERT_NE(doc = document_new(600, 300), nullptr); }
    void TearDown() override { document_free(&doc); }

    // A layer on top of the stack whose working bitmap is cleared as the compositor would.
    LAYER* add(const char* name, bool record = false) {
        LAYER* layer = add_clear_layer(doc, name);
        EXPECT_NE(layer, nullptr);
        if (record) {
            EXPECT_EQ(undo_record_layer_add(doc, layer, document_layer_count(doc) - 1), 1);
        }
        return layer;
    }
    // One step on the active layer: the rectangle painted in one colour.
    int stroke(int x, int y, int w, int h, Rgba c) {
        if (!undo_begin(doc)) return 0;
        undo_mark_dirty_rect(doc, x, y, x + w - 1, y + h - 1);
        fill_rect(doc->active_layer->bitmap, x, y, w, h, c);
        return undo_commit(doc);
    }
    std::string stack() const {
        std::string out;
        for (size_t i = 0; i < document_layer_count(doc); i++)
            out += document_layer_at(doc, i)->name->data;
        return out;
    }
    std::string active() const { return doc->active_layer ? doc->active_layer->name->data : "-"; }
};

} // namespace

TEST(UndoSystem, TilesCoverTheDocumentWithNarrowEdgeTiles) {
    DOCUMENT* doc = document_new(1000, 600);
    ASSERT_NE(doc, nullptr);
    EXPECT_TRUE(doc->undo->tiles_x == 4 && doc->undo->tiles_y == 3);
    LAYER* layer = add_clear_layer(doc, "L");
    ASSERT_EQ(undo_begin(doc), 1);
    undo_mark_dirty_rect(doc, 0, 0, 999, 599);
    fill_rect(layer->bitmap, 990, 590, 10, 10, RED);
    ASSERT_EQ(undo_commit(doc), 1);

    UNDO_RECORD* record = newest(doc->undo->undo_stack);
    ASSERT_TRUE(record && record->tiles->count == 12u);
    auto* last = static_cast<UNDO_TILE*>(record->tiles->end->ptr);
    EXPECT_TRUE(last->x == 768 && last->y == 512 && last->w == 232 && last->h == 88);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(both_are(layer, 999, 599, CLEAR));
    document_free(&doc);
}

TEST_F(UndoTest, DirtyMarkingClampsToTheCanvas) {
    add("A");
    UNDO_SYSTEM* undo = doc->undo; // 3 x 2 tiles
    undo_mark_dirty(doc, 10, 10, 5); // idle: ignored
    ASSERT_EQ(undo_begin(doc), 1);
    EXPECT_TRUE(dirty_tiles(undo).empty());
    EXPECT_EQ(undo_commit(doc), 1); // nothing touched: a success that adds no step
    EXPECT_FALSE(undo_available(doc) || undo->active);
    EXPECT_EQ(undo_commit(doc), 0); // nothing open

    struct Case {
        float x0, y0, x1, y1;
        std::vector<int> want;
    };
    const Case cases[] = {
        {-50, -50, -1, -1, {}},
        {-50, -50, 10, 10, {0}},
        {599, 299, 5000, 5000, {5}},
        {-1e30f, -1e30f, 1e30f, 1e30f, {0, 1, 2, 3, 4, 5}},
        {NAN, 0, 10, 10, {}},
        {300, 0, 200, 10, {}}, // corners given the wrong way round
        {254.5f, 9, 256.5f, 11, {0, 1}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(undo_begin(doc), 1);
        undo_mark_dirty_rect(doc, c.x0, c.y0, c.x1, c.y1);
        EXPECT_EQ(dirty_tiles(undo), c.want) << c.x0 << "," << c.y0 << " " << c.x1 << "," << c.y1;
        undo_abort(doc);
    }
}

TEST_F(UndoTest, PixelStepsUndoAndRedoThroughBothBitmaps) {
    LAYER* layer = add("A");
    ASSERT_EQ(stroke(0, 0, 600, 300, BLUE), 1);
    ASSERT_EQ(stroke(250, 20, 10, 10, RED), 1); // straddles tiles 0 and 1
    EXPECT_TRUE(both_are(layer, 255, 25, RED));

    EXPECT_EQ(newest(doc->undo->undo_stack)->tiles->count, 2u);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(both_are(layer, 255, 25, BLUE));
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(both_are(layer, 599, 299, CLEAR));
    EXPECT_EQ(undo_perform(doc), 0);
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_TRUE(both_are(layer, 599, 299, BLUE));
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_TRUE(both_are(layer, 256, 29, RED));
    EXPECT_TRUE(both_are(layer, 260, 25, BLUE));
    EXPECT_EQ(redo_perform(doc), 0);

    // A second round trip uses the after copies kept from the first.
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(both_are(layer, 255, 25, BLUE));
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_TRUE(both_are(layer, 255, 25, RED));
}

TEST_F(UndoTest, CommitPixelsReadsTheCallersBufferOnlyWhenItHasTheLayersSize) {
    LAYER* layer = add("A");
    // Every pixel distinct by position, so a wrong stride or offset shows.
    Image pixels(600, 300);
    for (int y = 0; y < 300; y++)
        for (int x = 0; x < 600; x++) pixels.at(x, y) = packed(x & 255, y & 255, x >> 8, 255);
    const auto* bytes = reinterpret_cast<const unsigned char*>(pixels.px.data());
    ASSERT_EQ(undo_begin(doc), 1);
    undo_mark_dirty_rect(doc, 300, 260, 301, 261); // tile 4 only: x 256..511, y 256..299
    fill_rect(layer->bitmap, 256, 256, 256, 44, RED);
    ASSERT_EQ(undo_commit_pixels(doc, bytes, 600, 300), 1);
    EXPECT_TRUE(rgba_near(committed_at(layer, 300, 270), {300 & 255, 270 & 255, 1, 255}, 0));
    EXPECT_TRUE(rgba_near(committed_at(layer, 511, 299), {511 & 255, 299 & 255, 1, 255}, 0));
    EXPECT_TRUE(rgba_near(committed_at(layer, 255, 270), CLEAR, 0)); // untouched tile

    ASSERT_EQ(undo_begin(doc), 1);
    undo_mark_dirty_rect(doc, 0, 0, 1, 1);
    fill_rect(layer->bitmap, 0, 0, 4, 4, BLUE);
    ASSERT_EQ(undo_commit_pixels(doc, bytes, 599, 300), 1); // falls back to the bitmap
    EXPECT_TRUE(rgba_near(committed_at(layer, 3, 3), BLUE, 0));
}

TEST_F(UndoTest, RevertRestoresTheTouchedTilesAndRecordsNothing) {
    LAYER* layer = add("A");
    ASSERT_EQ(stroke(0, 0, 600, 300, BLUE), 1);
    ASSERT_EQ(undo_begin(doc), 1);
    undo_mark_dirty(doc, 300, 100, 50);
    fill_rect(layer->bitmap, 250, 50, 100, 100, RED);
    undo_revert(doc);
    EXPECT_TRUE(both_are(layer, 300, 100, BLUE));
    EXPECT_TRUE(both_are(layer, 250, 50, BLUE));
    EXPECT_FALSE(doc->undo->active);
    EXPECT_EQ(doc->undo->undo_stack->count, 1u);
    undo_revert(doc); // idle: harmless

    // A tool that changed its own copy of the committed pixels gets the working bitmap back.
    ASSERT_EQ(undo_begin(doc), 1);
    Image copy = committed_image(layer);
    auto* bytes = reinterpret_cast<unsigned char*>(copy.px.data());
    ASSERT_EQ(undo_keep_tile(doc, 1, 0, bytes, static_cast<size_t>(copy.w) * 4), 1);
    memset(bytes + 10 * copy.w * 4 + 300 * 4, 0, 4 * 5);
    fill_rect(layer->bitmap, 300, 10, 5, 1, CLEAR);
    undo_revert(doc);
    EXPECT_TRUE(both_are(layer, 302, 10, BLUE));
    EXPECT_EQ(doc->undo->undo_stack->count, 1u);
}

TEST_F(UndoTest, HistoryKeepsTheNewestThirtySteps) {
    LAYER* layer = add("A");
    for (int i = 1; i <= 31; i++)
        ASSERT_EQ(stroke(5, 5, 1, 1, {i, 0, 0, 255}), 1);
    EXPECT_EQ(doc->undo->undo_stack->count, 30u);
    int undone = 0;
    while (undo_perform(doc))
        undone++;
    EXPECT_EQ(undone, 30);
    EXPECT_TRUE(both_are(layer, 5, 5, {1, 0, 0, 255})); // the first step can no longer go
}

TEST_F(UndoTest, LayerStepsRestoreTheStackAndTheActiveLayer) {
    add("A");
    LAYER* b = add("B");
    add("C");

    // Removing the middle layer, the way the layer panel does.
    doc->active_layer = b;
    LAYER* removed = document_detach_layer(doc, 1);
    ASSERT_EQ(undo_record_layer_remove(doc, removed, 1), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(stack() + active(), "ABCB");
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_EQ(stack() + active(), "ACC"); // the layer now at its index
    ASSERT_EQ(undo_perform(doc), 1);

    // Removing the top: on redo its index is past the top, so the new top becomes active.
    LAYER* top = document_detach_layer(doc, 2);
    ASSERT_EQ(undo_record_layer_remove(doc, top, 2), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_EQ(stack() + active(), "ABB");
    ASSERT_EQ(undo_perform(doc), 1);

    // A move keeps the active layer object and goes back to its source on undo.
    doc->active_layer = b;
    ASSERT_EQ(document_move_layer(doc, 1, 2), 1);
    ASSERT_EQ(undo_record_layer_move(doc, 1, 2), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(stack() + active(), "ABCB");
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_EQ(stack() + active(), "ACBB");

    // An added layer goes and comes back with its pixels, and is active again.
    LAYER* d = add("D", true);
    ASSERT_EQ(stroke(0, 0, 10, 10, RED), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    ASSERT_EQ(stroke(0, 0, 5, 5, BLUE), 1); // replaces the undone red step
    ASSERT_EQ(undo_perform(doc), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(stack() + active(), "ACBB");
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_EQ(stack() + active(), "ACBDD");
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_TRUE(both_are(d, 2, 2, BLUE) && both_are(d, 7, 7, CLEAR));
}

TEST_F(UndoTest, ANewStepDropsTheRedoHistoryAndFreesAnUndoneLayer) {
    add("A");
    add("B", true);
    ASSERT_EQ(stroke(0, 0, 10, 10, RED), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    ASSERT_EQ(undo_perform(doc), 1); // B now lives in its add record
    EXPECT_EQ(stack() + active(), "AA");
    ASSERT_TRUE(redo_available(doc));
    ASSERT_EQ(stroke(0, 0, 10, 10, BLUE), 1);
    EXPECT_FALSE(redo_available(doc)); // B was freed with it; the leak checker would tell
    EXPECT_TRUE(undo_available(doc));
}

TEST_F(UndoTest, AnOpenOperationIsExclusive) {
    LAYER* a = add("A");
    add("B");
    ASSERT_EQ(stroke(0, 0, 5, 5, RED), 1);
    doc->active_layer = a;
    ASSERT_EQ(undo_begin(doc), 1);
    undo_mark_dirty(doc, 10, 10, 1);
    doc->active_layer = document_layer_at(doc, 1);
    EXPECT_EQ(undo_begin(doc), 0);
    EXPECT_EQ(doc->undo->layer, a);
    EXPECT_EQ(dirty_tiles(doc->undo), std::vector<int>{0});
    EXPECT_EQ(undo_perform(doc), 0);
    EXPECT_EQ(redo_perform(doc), 0);
    undo_abort(doc);
    EXPECT_EQ(undo_perform(doc), 1);
}

// A step whose layer left the document without the history's knowledge (the delete path frees
// a layer that neither the history nor the stack would take back) is dropped, never applied.
TEST_F(UndoTest, AStepForAFreedLayerIsDroppedWithoutTouchingIt) {
    LogCapture log(3);
    LAYER* a = add("A");
    ASSERT_EQ(stroke(0, 0, 5, 5, BLUE), 1);
    add("B");
    ASSERT_EQ(stroke(0, 0, 5, 5, RED), 1);
    LAYER* gone = document_detach_layer(doc, 1);
    layer_free(&gone);

    EXPECT_EQ(undo_perform(doc), 0);
    EXPECT_TRUE(log.contains("dropped a step for a layer that no longer exists"));
    EXPECT_EQ(undo_perform(doc), 1); // the older step on A is reachable again
    EXPECT_TRUE(both_are(a, 1, 1, CLEAR));
}

TEST_F(UndoTest, ARemovalTheHistoryCannotTakeStaysWithTheCaller) {
    LogCapture log(3);
    add("A");
    LAYER* b = add("B");

    EXPECT_EQ(undo_record_layer_remove(doc, b, 1), 0); // still in the stack

    // Painting B while it is removed would leave a step that outlives it.
    ASSERT_EQ(undo_begin(doc), 1);
    undo_mark_dirty(doc, 1, 1, 1);
    LAYER* detached = document_detach_layer(doc, 1);
    EXPECT_EQ(undo_record_layer_remove(doc, detached, 1), 0);
    EXPECT_EQ(undo_commit(doc), 0);
    EXPECT_FALSE(undo_available(doc));

    // The list refuses the record: the layer is not freed, so the caller can put it back.
    ASSERT_EQ(stroke(0, 0, 1, 1, RED), 1); // on A
    LIST* history = doc->undo->undo_stack;
    history->max_count = history->count;
    EXPECT_EQ(undo_record_layer_remove(doc, detached, 1), 0);
    history->max_count = SIZE_MAX;
    ASSERT_EQ(document_insert_layer(doc, detached, 1), 1);
    EXPECT_EQ(stack(), "AB");
}

// The memory report's figures: the committed copies of the stack and of a removed layer the
// history keeps, and the tile copies on both stacks, narrow edge tiles at their own size and
// after copies once a step was undone.
TEST_F(UndoTest, MemoryReportCountsEveryCopyTheHistoryHolds) {
    add("A");
    add("B");
    const size_t corner = 88 * 44 * 4, whole = 256 * 256 * 4;
    DOCUMENT_MEMORY m;
    document_memory(doc, &m);
    EXPECT_EQ(m.committed_bytes, 0u); // nothing painted, no tile stored
    EXPECT_EQ(m.committed_layers, 2u);
    EXPECT_EQ(m.undo_tiles, 0u);

    ASSERT_EQ(stroke(590, 290, 10, 10, RED), 1); // the bottom-right tile, 88 x 44
    ASSERT_EQ(stroke(0, 0, 10, 10, RED), 1);
    document_memory(doc, &m);
    EXPECT_EQ(m.undo_tiles, 2u);
    EXPECT_EQ(m.undo_tile_bytes, corner + whole);
    ASSERT_EQ(undo_perform(doc), 1); // the step moves to the redo stack with an after copy
    document_memory(doc, &m);
    EXPECT_EQ(m.undo_tiles, 2u);
    EXPECT_EQ(m.undo_tile_bytes, corner + 2 * whole);

    // A removed layer still costs its committed copy while an undo can bring it back; the new
    // step dropped the redo history.
    LAYER* removed = document_detach_layer(doc, 1);
    ASSERT_EQ(undo_record_layer_remove(doc, removed, 1), 1);
    document_memory(doc, &m);
    // The undone stroke's tile went back to transparent and was freed; the corner one stays
    // (every stored tile is a full 256 x 256 block).
    EXPECT_EQ(m.committed_bytes, whole);
    EXPECT_EQ(m.committed_layers, 2u);
    EXPECT_EQ(m.undo_tile_bytes, corner);
}

// A stroke over the corner where four tiles meet stores those four tiles; undoing it gives
// them back to transparency (and frees them), redoing stores them again.
TEST_F(UndoTest, StrokeOverFourTilesUndoesAndRedoesTileByTile) {
    LAYER* layer = add("A");
    ASSERT_EQ(stroke(200, 200, 112, 80, RED), 1);
    EXPECT_EQ(layer->stored_tiles, 4u);
    struct Probe {
        int x, y;
    };
    const Probe inside[] = {{200, 200}, {311, 200}, {200, 279}, {311, 279}, {255, 255}, {256, 256}};
    for (const Probe p : inside) EXPECT_TRUE(both_are(layer, p.x, p.y, RED));
    ASSERT_EQ(undo_perform(doc), 1);
    for (const Probe p : inside) EXPECT_TRUE(both_are(layer, p.x, p.y, CLEAR));
    EXPECT_EQ(layer->stored_tiles, 0u);
    ASSERT_EQ(redo_perform(doc), 1);
    for (const Probe p : inside) EXPECT_TRUE(both_are(layer, p.x, p.y, RED));
    EXPECT_TRUE(both_are(layer, 199, 199, CLEAR));
    EXPECT_EQ(layer->stored_tiles, 4u);
}

// When memory for the committed tiles runs out, a commit is taken back (the working bitmap
// shows the committed pixels again) and an undo or redo is refused and stays available; the
// layer keeps exactly what it held, and the refusal is reported once.
TEST_F(UndoTest, OutOfMemoryForTilesTakesBackCommitsAndRefusesUndoAndRedo) {
    struct Case {
        const char* what;
        std::function<void(UndoTest&)> before; // untested set-up
        std::function<int(UndoTest&)> run;     // what meets the refused allocation
        Rgba at_300_10;                        // what the layer shows afterwards
        size_t undo_steps, redo_steps;
    };
    const std::vector<Case> cases = {
        {"a stroke's commit", [](UndoTest&) {},
         [](UndoTest& t) { return t.stroke(250, 5, 20, 20, RED); }, CLEAR, 0, 0},
        {"undoing an erase", [](UndoTest& t) {
             ASSERT_EQ(t.stroke(250, 5, 100, 20, BLUE), 1);
             ASSERT_EQ(t.stroke(250, 5, 100, 20, CLEAR), 1); // frees both tiles
         },
         [](UndoTest& t) { return undo_perform(t.doc); }, CLEAR, 2, 0},
        {"redoing a stroke", [](UndoTest& t) {
             ASSERT_EQ(t.stroke(250, 5, 100, 20, BLUE), 1);
             ASSERT_EQ(undo_perform(t.doc), 1);
         },
         [](UndoTest& t) { return redo_perform(t.doc); }, CLEAR, 0, 1},
    };
    for (const Case& c : cases) {
        document_free(&doc);
        ASSERT_NE(doc = document_new(600, 300), nullptr);
        LAYER* layer = add("A");
        c.before(*this);
        const Image committed = committed_image(layer);
        const size_t tiles = layer->stored_tiles;
        layer_fail_tile_allocation(2); // the first tile goes in, the second does not
        {
            LogCapture log(3);
            EXPECT_EQ(c.run(*this), 0) << c.what;
            EXPECT_TRUE(log.contains("out of memory")) << c.what;
        }
        layer_fail_tile_allocation(0);
        EXPECT_TRUE(committed_image(layer) == committed) << c.what;
        EXPECT_TRUE(read_image(layer->bitmap) == committed) << c.what;
        EXPECT_EQ(layer->stored_tiles, tiles) << c.what;
        EXPECT_TRUE(both_are(layer, 300, 10, c.at_300_10)) << c.what;
        EXPECT_EQ(doc->undo->undo_stack->count, c.undo_steps) << c.what;
        EXPECT_EQ(doc->undo->redo_stack->count, c.redo_steps) << c.what;
        EXPECT_FALSE(doc->undo->active) << c.what;
        EXPECT_TRUE(undo_take_refusal(doc)) << c.what;
        EXPECT_FALSE(undo_take_refusal(doc)) << c.what;
        // With memory back the refused operation goes through.
        EXPECT_EQ(c.run(*this), 1) << c.what;
    }
}

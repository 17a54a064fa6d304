#include <gtest/gtest.h>

#include <string>

#include "canvas/document.h"
#include "canvas_test_util.h"

namespace {

struct DocumentTest : ::testing::Test {
    DOCUMENT* doc = nullptr;
    void SetUp() override { ASSERT_NE(doc = document_new(4, 4), nullptr); }
    void TearDown() override { document_free(&doc); }
    void add(int count) { // layers named "0", "1", ... bottom first
        for (int i = 0; i < count; i++)
            ASSERT_NE(document_add_layer(doc, std::to_string(i).c_str()), nullptr);
    }
    static std::string name(const LAYER* layer) { return layer ? layer->name->data : "-"; }
    std::string at(size_t index) const { return name(document_layer_at(doc, index)); }
    std::string stack() const {
        std::string out;
        for (size_t i = 0; i < document_layer_count(doc); i++)
            out += at(i);
        return out;
    }
};

} // namespace

TEST_F(DocumentTest, DefaultNamesCountEveryLayerEverAdded) {
    LogCapture log(3);
    EXPECT_EQ(document_new(0, 10), nullptr);
    EXPECT_EQ(name(document_add_layer(doc, nullptr)), "Layer 1");
    EXPECT_EQ(name(document_add_layer(doc, "Sketch")), "Sketch"); // still uses up a number
    LAYER* gone = document_detach_layer(doc, 1);
    layer_free(&gone);
    EXPECT_EQ(name(document_add_layer(doc, nullptr)), "Layer 3");
    EXPECT_EQ(name(doc->active_layer), "Layer 3");
}

TEST_F(DocumentTest, DetachingTheActiveLayerActivatesTheLayerNowAtItsIndex) {
    add(4);
    LAYER* top = document_detach_layer(doc, 3);
    EXPECT_EQ(name(doc->active_layer), "2");
    ASSERT_EQ(document_insert_layer(doc, top, 3), 1);
    EXPECT_EQ(name(doc->active_layer), "2"); // insert never changes it
    LAYER* other = document_detach_layer(doc, 0);
    EXPECT_EQ(name(doc->active_layer), "2");
    layer_free(&other);
    doc->active_layer = document_layer_at(doc, 0);
    for (const char* next : {"2", "3", "-"}) {
        LAYER* bottom = document_detach_layer(doc, 0);
        EXPECT_EQ(name(doc->active_layer), next);
        layer_free(&bottom);
    }
    EXPECT_EQ(document_detach_layer(doc, 0), nullptr);
}

TEST_F(DocumentTest, InsertClampsToTheTopAndReachesAtMost64Deep) {
    LogCapture log(3);
    add(64);
    LAYER* top = document_detach_layer(doc, 63);
    ASSERT_EQ(document_insert_layer(doc, top, 1000), 1);
    EXPECT_EQ(document_insert_layer(doc, top, 0), 0); // a second node would free it twice
    ASSERT_EQ(document_insert_layer(doc, layer_new("B", 4, 4), 0), 1); // 64 layers above it
    LAYER* deep = layer_new("D", 4, 4);
    const std::string before = stack();
    EXPECT_EQ(document_insert_layer(doc, deep, 0), 0); // 65 above it
    EXPECT_EQ(stack(), before);
    ASSERT_EQ(document_insert_layer(doc, deep, 1), 1);
    EXPECT_EQ(at(1) + at(2) + at(65), "D063");
}

TEST_F(DocumentTest, MoveEndsAtTheTargetIndexAndKeepsTheActiveLayer) {
    add(3);
    LAYER* active = doc->active_layer;
    ASSERT_EQ(document_move_layer(doc, 0, 2), 1);
    ASSERT_EQ(document_move_layer(doc, 1, 0), 1); // the active layer itself
    EXPECT_EQ(document_move_layer(doc, 1, 1), 0);
    EXPECT_EQ(document_move_layer(doc, 1, 3), 0);
    EXPECT_TRUE(stack() == "210" && doc->active_layer == active);
}

TEST_F(DocumentTest, MoveTooDeepIsRefusedBeforeAnyLayerIsDetached) {
    LogCapture log(3);
    add(67);
    LAYER* active = doc->active_layer = document_layer_at(doc, 1);
    const std::string before = stack();
    EXPECT_EQ(document_move_layer(doc, 66, 1), 0); // 65 below the top once detached
    EXPECT_EQ(document_move_layer(doc, 1, 0), 0); // not even its old place would take it back
    EXPECT_TRUE(stack() == before && doc->active_layer == active);

    ASSERT_EQ(document_move_layer(doc, 66, 2), 1); // exactly 64 deep
    ASSERT_EQ(document_move_layer(doc, 1, 66), 1);
    EXPECT_TRUE(at(1) + at(2) + at(66) == "6621" && doc->active_layer == active);
}

TEST_F(DocumentTest, RestoreAllRebuildsEveryLayerAndReportsAnyFailure) {
    LogCapture log(3);
    add(3);
    LAYER* lost_backup = document_layer_at(doc, 0);
    LAYER* broken = document_layer_at(doc, 1);
    LAYER* top = document_layer_at(doc, 2);
    lost_backup->needs_clear = top->needs_clear = false; // it holds no committed tile
    fill_bitmap(top->bitmap, al_map_rgba(1, 2, 3, 4));
    ASSERT_EQ(document_backup_active(doc), 1);
    fill_bitmap(top->bitmap, al_map_rgba(0, 0, 0, 0));

    EXPECT_EQ(document_restore_all(doc), 1);
    EXPECT_TRUE(lost_backup->bitmap && lost_backup->needs_clear); // blank, marked for clearing
    EXPECT_TRUE(pixel_rgba(top->bitmap, 0, 0) == 0x01020304u && !top->needs_clear);

    // Nothing to rebuild from: the call fails, yet the layer above still comes back.
    al_destroy_bitmap(broken->bitmap);
    broken->bitmap = nullptr;
    broken->width = 0;
    fill_bitmap(top->bitmap, al_map_rgba(50, 50, 50, 50));
    EXPECT_EQ(document_restore_all(doc), 0);
    EXPECT_EQ(pixel_rgba(top->bitmap, 0, 0), 0x01020304u);
}

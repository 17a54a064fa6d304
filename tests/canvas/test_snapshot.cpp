#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "canvas/document.h"
#include "canvas/fill.h"
#include "canvas/snapshot.h"
#include "canvas/undo.h"
#include "canvas_test_util.h"

namespace {

// An undo step over the tile holding (x, y) of the active layer, as every tool makes one.
void commit_tile(DOCUMENT* doc, int x, int y) {
    ASSERT_EQ(undo_begin(doc), 1);
    undo_mark_dirty_rect(doc, x, y, x, y);
    ASSERT_EQ(undo_commit(doc), 1);
}

DOCUMENT_SNAPSHOT* take(SNAPSHOT_CACHE* cache, DOCUMENT* doc) {
    EXPECT_EQ(snapshot_cache_update(cache, doc, 0.0), 1);
    return snapshot_take(cache, doc);
}

// Noise with runs in it, so that both kinds of packet are written.
void fill_noise(LAYER* layer, unsigned seed) {
    Image noise(layer->width, layer->height);
    std::mt19937 random(seed);
    for (uint32_t& p : noise.px)
        p = 0xFF000000u | (random() % 4 == 0 ? 0u : static_cast<uint32_t>(random()));
    write_committed(layer, noise);
}

} // namespace

// The session file is rewritten only when the change counter or a tile stamp moved, so every
// change to what a file holds must move them, and nothing else should.
TEST(Snapshot, ChangeCounterAndStampsFollowEveryChange) {
    DOCUMENT* doc = document_new(600, 300);
    document_add_layer(doc, "a");
    LAYER* painted = document_add_layer(doc, "b");
    struct Case {
        const char* what;
        std::function<void()> change;
        bool counts;
        bool pixels; // tile (1, 0) of the painted layer changes, tile (0, 0) does not
    };
    const std::vector<Case> cases = {
        {"a stroke's step", [&] { commit_tile(doc, 300, 10); }, true, true},
        {"an operation that touched nothing", [&] { undo_begin(doc); undo_commit(doc); }, false,
         false},
        {"undo back to the pixels of before", [&] { undo_perform(doc); }, true, true},
        {"redo", [&] { redo_perform(doc); }, true, true},
        {"a layer moved", [&] { document_move_layer(doc, 0, 1); }, true, false},
        {"a layer added", [&] { document_add_layer(doc, nullptr); }, true, false},
        {"a layer removed", [&] { layer_free_ptr(document_detach_layer(doc, 2)); }, true, false},
        {"a property change its editor reports", [&] { document_mark_changed(doc); }, true, false},
        {"looking at the layers", [&] { document_layer_at(doc, 0); }, false, false},
    };
    for (const Case& c : cases) {
        const uint64_t before = doc->changes;
        const uint64_t touched = layer_tile_stamp(painted, 1, 0);
        const uint64_t other = layer_tile_stamp(painted, 0, 0);
        c.change();
        EXPECT_EQ(doc->changes != before, c.counts) << c.what;
        EXPECT_EQ(layer_tile_stamp(painted, 1, 0) != touched, c.pixels) << c.what;
        EXPECT_EQ(layer_tile_stamp(painted, 0, 0), other) << c.what;
    }
    // The flood fill changes the committed pixels in place rather than through a tile copy.
    doc->active_layer = painted;
    const uint64_t before = doc->changes, stamp = layer_tile_stamp(painted, 0, 0);
    const ALLEGRO_COLOR ink = al_map_rgb(10, 20, 30);
    ASSERT_EQ(fill_flood(doc, 10, 10, &ink, 0.0f), 1);
    EXPECT_NE(doc->changes, before);
    EXPECT_NE(layer_tile_stamp(painted, 0, 0), stamp);
    document_free(&doc);
}

// Only tiles that changed are encoded again, and a snapshot built from the cache writes the
// same bytes as a save that encodes everything afresh.
TEST(Snapshot, CacheReencodesOnlyChangedTiles) {
    ScratchDir dir;
    DOCUMENT* doc = document_new(600, 300);
    fill_noise(document_add_layer(doc, "noise"), 1);
    document_add_layer(doc, "empty");
    SNAPSHOT_CACHE* cache = snapshot_cache_new();
    DOCUMENT_SNAPSHOT* first = take(cache, doc);
    ASSERT_NE(first, nullptr);

    commit_tile(doc, 300, 10); // tile (1, 0) of the top layer
    EXPECT_EQ(snapshot_take(cache, doc), nullptr) << "a stale tile is never used";
    DOCUMENT_SNAPSHOT* second = take(cache, doc);
    ASSERT_NE(second, nullptr);
    for (size_t layer = 0; layer < 2; layer++)
        for (size_t tile = 0; tile < 6; tile++)
            EXPECT_EQ(first->layers[layer].tiles[tile] == second->layers[layer].tiles[tile],
                      !(layer == 1 && tile == 1))
                << "layer " << layer << " tile " << tile;
    size_t tiles = 0;
    EXPECT_GT(snapshot_cache_bytes(cache, &tiles), 600u * 300u * 3u)
        << "most of the noise is kept raw, four bytes a pixel";
    EXPECT_EQ(tiles, 12u) << "the tile the change replaced is forgotten";

    ASSERT_EQ(snapshot_write(second, dir.file("cached.tvl").c_str()), 1);
    ASSERT_EQ(document_save(doc, dir.file("fresh.tvl").c_str()), 1);
    EXPECT_EQ(read_file(dir.file("cached.tvl")), read_file(dir.file("fresh.tvl")));
    snapshot_free(&first);
    snapshot_free(&second);
    snapshot_cache_free(&cache);
    document_free(&doc);
}

// A write killed at any moment (a crash, a kill, a power cut) leaves the previous file or the
// new one, whole: never a mix, never nothing.
TEST(Snapshot, AWriteKilledAtAnyMomentLeavesTheOldOrTheNewFile) {
    ScratchDir dir;
    DOCUMENT* doc = document_new(512, 512);
    LAYER* layer = document_add_layer(doc, "noise");
    fill_noise(layer, 2);
    SNAPSHOT_CACHE* cache = snapshot_cache_new();
    DOCUMENT_SNAPSHOT* old_snapshot = take(cache, doc);
    fill_noise(layer, 3);
    DOCUMENT_SNAPSHOT* new_snapshot = take(cache, doc);
    const std::string path = dir.file("session.tvl");
    ASSERT_EQ(snapshot_write(new_snapshot, path.c_str()), 1);
    const std::string new_bytes = read_file(path);
    ASSERT_EQ(snapshot_write(old_snapshot, path.c_str()), 1);
    const std::string old_bytes = read_file(path);
    ASSERT_NE(old_bytes, new_bytes);
    // How long a whole write takes in a child, so that the kills spread over all of it.
    auto write_in_child = [&] {
        const pid_t child = fork();
        if (child == 0) _exit(snapshot_write(new_snapshot, path.c_str()) ? 0 : 1);
        return child;
    };
    const double start = al_get_time();
    const pid_t timed = write_in_child();
    ASSERT_GE(timed, 0);
    waitpid(timed, nullptr, 0);
    const double write_seconds = al_get_time() - start;

    std::mt19937 random(4);
    int old_seen = 0, new_seen = 0;
    bool is_new = true;
    for (int i = 0; i < 50; i++) {
        if (is_new) {
            ASSERT_EQ(snapshot_write(old_snapshot, path.c_str()), 1);
        }
        const pid_t child = write_in_child();
        ASSERT_GE(child, 0);
        usleep(static_cast<useconds_t>(write_seconds * 1.2e6 * (random() % 1000) / 1000.0));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string now = read_file(path);
        ASSERT_TRUE(now == old_bytes || now == new_bytes) << "kill " << i << ": a broken file";
        is_new = now == new_bytes;
        (is_new ? new_seen : old_seen)++;
    }
    // Kills fell before the rename and after it.
    EXPECT_GT(old_seen, 0);
    EXPECT_GT(new_seen, 0);
    DOCUMENT* back = document_load(path.c_str());
    EXPECT_NE(back, nullptr);
    if (back) document_free(&back);
    snapshot_free(&old_snapshot);
    snapshot_free(&new_snapshot);
    snapshot_cache_free(&cache);
    document_free(&doc);
}

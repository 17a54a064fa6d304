#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app_fixture.h"
#include "autosave.h"
#include "canvas/undo.h"
#include "platform/platform.h"
#include "test_support.h"
#include "../canvas/canvas_test_util.h"

namespace {

// The application record with its save folder in a scratch directory.
struct AutosaveTest : AppRecordTest {
    ScratchDir dir;
    std::string session;
    void SetUp() override {
        AppRecordTest::SetUp();
        setenv("APPDATA", dir.path().c_str(), 1);
        mkdir((dir.path() + "/Tavolix").c_str(), 0700);
        session = dir.path() + "/Tavolix/session.tvl";
    }
    void TearDown() override {
        AppRecordTest::TearDown();
        unsetenv("APPDATA");
    }
    // A stroke's worth of change: one committed undo step.
    void paint() {
        ASSERT_EQ(undo_begin(app.doc), 1);
        undo_mark_dirty_rect(app.doc, 0, 0, 10, 10);
        ASSERT_EQ(undo_commit(app.doc), 1);
    }
    // Ticks at `now` until the background write it starts has finished.
    void tick_until_written(double now) {
        autosave_tick(&app.autosave, app.doc, session.c_str(), false, now);
        while (app.autosave.job) {
            al_rest(0.005);
            autosave_tick(&app.autosave, app.doc, session.c_str(), false, now);
        }
    }
};

} // namespace

TEST(AutosaveRule, WaitsForIdleButNeverLongerThanAMinute) {
    struct Case {
        double last_input, dirty_since, now;
        bool due;
    };
    const Case cases[] = {
        {100.0, 99.0, 102.9, false}, // input 2.9 s ago
        {100.0, 99.0, 103.0, true},  // 3 s of quiet
        {158.0, 99.0, 158.9, false}, // busy user, change 59.9 s old
        {158.5, 99.0, 159.0, true},  // busy user, change a minute old
    };
    for (const Case& c : cases) {
        AUTOSAVE autosave;
        autosave_init(&autosave);
        autosave.last_input = c.last_input;
        autosave.dirty_since = c.dirty_since;
        EXPECT_EQ(autosave_due(&autosave, c.now), c.due) << c.now;
    }
}

// The file follows the document in the background, only once the user is idle and nothing is
// in progress, and exit writes nothing when the file already holds the document.
TEST_F(AutosaveTest, WritesInTheBackgroundAndExitSkipsACurrentFile) {
    LogCapture log(6);
    autosave_set_clean(&app.autosave, app.doc); // a blank page: nothing to write yet
    autosave_tick(&app.autosave, app.doc, session.c_str(), false, 100.0);
    EXPECT_EQ(app.autosave.job, nullptr);
    app.doc->active_layer->opacity = 0.75f; // a change, though no one counted it
    app.autosave.last_input = 100.0;
    autosave_tick(&app.autosave, app.doc, session.c_str(), false, 101.0);
    autosave_tick(&app.autosave, app.doc, session.c_str(), true, 104.0);
    EXPECT_EQ(app.autosave.job, nullptr) << "not while the user is busy or before the idle delay";
    tick_until_written(104.0);
    EXPECT_TRUE(log.contains("session persisted to " + session + " in the background"));
    EXPECT_TRUE(log.contains(" at low priority)")) << "the worker must not compete with frames";
    const uint64_t written = platform_file_stamp(session.c_str());
    ASSERT_NE(written, 0u);

    tavolix_app_session_persist(&app);
    EXPECT_TRUE(log.contains("is current, not written again"));
    EXPECT_EQ(platform_file_stamp(session.c_str()), written);

    // Changes that must be written again: another document that looks the same from outside
    // (size, layer, change count) but not inside, a stroke, a layer property even unreported,
    // and a file replaced behind the program's back.
    DOCUMENT* look_alike = document_new(100, 80);
    LAYER* other = document_add_layer(look_alike, "Layer 1");
    other->opacity = 0.75f;
    fill_committed(other, al_map_rgba(9, 9, 9, 9));
    ASSERT_EQ(look_alike->changes, app.doc->changes);
    ASSERT_EQ(document_save(look_alike, dir.file("look_alike.tvl").c_str()), 1);
    document_free(&look_alike);
    const std::function<void()> changes[] = {
        [&] { tavolix_app_load_document(&app, dir.file("look_alike.tvl").c_str()); },
        [&] { paint(); },
        [&] { app.doc->active_layer->opacity = 0.5f; },
        [&] { write_file(session, "replaced"); },
    };
    for (const auto& change : changes) {
        change();
        const uint64_t before = platform_file_stamp(session.c_str());
        tavolix_app_session_persist(&app);
        EXPECT_NE(platform_file_stamp(session.c_str()), before);
    }
    DOCUMENT* back = document_load(session.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_FLOAT_EQ(back->active_layer->opacity, 0.5f);
    EXPECT_EQ(committed_at(back->active_layer, 5, 5).a, 9);
    document_free(&back);
}

// A floating selection, paste, placed shape or text holds nothing off (the file gets the
// committed pixels), and only presses, keys and the wheel count as the user being at work.
TEST_F(AutosaveTest, FloatsDoNotHoldOffWritesAndMotionIsNoActivity) {
    ALLEGRO_BITMAP* ink = al_create_bitmap(8, 8);
    fill_bitmap(ink, al_map_rgba(255, 0, 0, 255));
    ASSERT_EQ(selection_paste(&app.selection, app.doc, ink, 10, 10), 1);
    al_destroy_bitmap(ink);
    EXPECT_FALSE(tavolix_app_autosave_busy(&app));
    app.stroke.active = true;
    EXPECT_TRUE(tavolix_app_autosave_busy(&app)) << "a stroke changes committed pixels";
    app.stroke.active = false;

    ALLEGRO_EVENT event{};
    const struct {
        ALLEGRO_EVENT_TYPE type;
        int dz;
        bool activity;
    } cases[] = {{ALLEGRO_EVENT_MOUSE_AXES, 0, false}, {ALLEGRO_EVENT_MOUSE_AXES, 1, true},
                 {ALLEGRO_EVENT_MOUSE_BUTTON_UP, 0, false}, {ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 0, true},
                 {ALLEGRO_EVENT_KEY_DOWN, 0, true}, {ALLEGRO_EVENT_KEY_UP, 0, false}};
    for (const auto& c : cases) {
        event.type = c.type;
        event.mouse.dz = c.dz;
        EXPECT_EQ(tavolix_app_is_activity(&event), c.activity) << c.type << " " << c.dz;
    }

    // With the float still up, the idle tick writes the committed pixels.
    paint();
    app.autosave.last_input = 100.0;
    tick_until_written(104.0);
    EXPECT_TRUE(app.autosave.on_disk);
}

// A failed write leaves the drawing marked as not on disk until a write succeeds again; the
// retry makes a vanished folder again.
TEST_F(AutosaveTest, FailedWritesStayVisibleUntilOneSucceeds) {
    LogCapture quiet(0);
    paint();
    const std::string folder = dir.path() + "/Tavolix";
    ASSERT_EQ(mkdir(session.c_str(), 0700), 0); // a folder where the file should go
    EXPECT_EQ(tavolix_app_session_persist(&app), -1);
    EXPECT_TRUE(autosave_failing(&app.autosave));
    EXPECT_STREQ(_app_write_error_text(app.autosave.last_error), "a write error");
    std::filesystem::remove_all(folder);
    app.autosave.last_input = 100.0;
    tick_until_written(200.0);
    EXPECT_FALSE(autosave_failing(&app.autosave));
    EXPECT_TRUE(std::filesystem::exists(session));
}

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>

#include "app_fixture.h"
#include "platform/platform.h"
#include "session.h"
#include "test_support.h"
#include "../canvas/canvas_test_util.h"

namespace {

struct SessionTest : AppRecordTest {
    ScratchDir root;
    EnvOverride env;
    std::string folder;
    void SetUp() override {
        AppRecordTest::SetUp();
        env.set("APPDATA", root.path().c_str());
        ASSERT_EQ(platform_init(), 1);
        folder = root.path() + "/Tavolix/";
    }
    // The documents of the save folder whose names start with "kept ".
    int kept_documents() {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            count += entry.path().filename().string().rfind("kept ", 0) == 0;
        return count;
    }
};

} // namespace

TEST(SessionNames, TheProgramsOwnNamesAreReserved) {
    for (const char* stem : {"session", "Session", "session-2", "SESSION-17", "settings", "palette", "layout"})
        EXPECT_TRUE(session_reserved_stem(stem)) << stem;
    for (const char* stem : {"sessions", "session-", "session-2a", "my session", "sketch", ""})
        EXPECT_FALSE(session_reserved_stem(stem)) << stem;
    for (const char* file : {"session.tvl", "session-3.tvl", "session.lock", "session-2.lock",
                             "settings.dat", "palette.dat", "layout.json", "session.tvl.bad",
                             "session.tvl.bad-2", "palette.dat.bad", "session.tvl.tmp.Ab12Cd"})
        EXPECT_TRUE(session_reserved_file(file)) << file;
    for (const char* file : {"session.png", "layout.tvl", "cat.tvl", "session", "session.tvl.old"})
        EXPECT_FALSE(session_reserved_file(file)) << file;
}

TEST_F(SessionTest, ReservedPathsAreFoundHoweverTheyAreWritten) {
    ASSERT_EQ(mkdir((root.path() + "/other").c_str(), 0700), 0);
    EXPECT_TRUE(session_reserved_path((folder + "session.tvl").c_str()));
    EXPECT_TRUE(session_reserved_path((root.path() + "/other/../Tavolix//settings.dat").c_str()));
    EXPECT_FALSE(session_reserved_path((root.path() + "/other/session.tvl").c_str()));
    EXPECT_FALSE(session_reserved_path((folder + "sketch.tvl").c_str()));
}

// Two windows on one save folder: each gets a session file of its own, a folder in a
// session file's place is passed over, and a file left by a window that closed becomes a
// document the open list offers, while one that is still open is left alone.
TEST_F(SessionTest, EachWindowClaimsItsOwnSlotAndLeftSessionsBecomeDocuments) {
    SESSION first{}, second{}, third{};
    ASSERT_EQ(session_claim(&first), 1);
    EXPECT_EQ(std::string(first.path), folder + "session.tvl");
    ASSERT_EQ(mkdir((folder + "session-2.tvl").c_str(), 0700), 0);
    LogCapture quiet(0);
    ASSERT_EQ(session_claim(&second), 1);
    EXPECT_EQ(std::string(second.path), folder + "session-3.tvl");
    ASSERT_TRUE(write_file(second.path, "drawing of the second window"));

    char name[PLATFORM_PATH_MAX];
    EXPECT_EQ(session_keep_orphans(&first, name, sizeof name), 0) << "its window is open";
    session_release(&second);
    EXPECT_EQ(session_keep_orphans(&first, name, sizeof name), 1);
    EXPECT_EQ(read_file(folder + name + ".tvl"), "drawing of the second window");
    EXPECT_FALSE(std::filesystem::exists(second.path));
    ASSERT_EQ(session_claim(&third), 1);
    EXPECT_EQ(third.slot, 3) << "the freed slot is taken again";
    session_release(&third);
    session_release(&first);
}

// What a file given on the command line will use: the drawing as it is goes to a document of
// its own, and a second keep never replaces the first.
TEST_F(SessionTest, KeepingTheSessionWritesItFirstAndNeverReplaces) {
    ASSERT_EQ(session_claim(&app.session), 1);
    fill_committed(app.doc->active_layer, al_map_rgba(0, 0, 200, 255));
    layer_stamp_tiles(app.doc->active_layer, 0, 0, 100, 80);
    document_mark_changed(app.doc);
    char first[64], second[64];
    ASSERT_EQ(tavolix_app_keep_session(&app, first, sizeof first), 1);
    ASSERT_EQ(tavolix_app_keep_session(&app, second, sizeof second), 1);
    EXPECT_STRNE(first, second);
    EXPECT_EQ(kept_documents(), 2);
    DOCUMENT* back = document_load((folder + first + ".tvl").c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(committed_at(back->active_layer, 5, 5).b, 200);
    document_free(&back);
    session_release(&app.session);
}

// A session file that is not a document goes aside under a numbered name, an earlier copy
// kept; anything but a regular file is never opened.
TEST_F(SessionTest, RestoreKeepsBrokenFilesAsideAndOpensNothingElse) {
    LogCapture log(3);
    const std::string session = folder + "session.tvl";
    ASSERT_TRUE(write_file(session + ".bad", "an older one"));
    ASSERT_TRUE(write_file(session, "TVL3 broken"));
    EXPECT_EQ(tavolix_app_session_restore(&app), 0);
    EXPECT_EQ(read_file(session + ".bad"), "an older one");
    EXPECT_EQ(read_file(session + ".bad-2"), "TVL3 broken");

    ASSERT_EQ(mkfifo(session.c_str(), 0600), 0);
    EXPECT_EQ(tavolix_app_session_restore(&app), 0);
    EXPECT_TRUE(log.contains("session file " + session + " is not a regular file, not read"));
    EXPECT_EQ(kept_documents(), 0);
}

#include <allegro5/allegro.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "platform/platform.h"
#include "test_support.h"

namespace {

std::string save_path_of(const char* file) {
    char out[PLATFORM_PATH_MAX];
    return platform_save_path(file, out, sizeof out) ? out : "<failed>";
}

} // namespace

TEST(Platform, SaveFolderFollowsAppDataThenXdgThenHome) {
    ScratchDir dir;
    EnvOverride env;
    env.set("APPDATA", dir.path().c_str());
    env.set("XDG_DATA_HOME", (dir.path() + "/xdg").c_str());
    EXPECT_EQ(save_path_of("a.tvl"), dir.path() + "/Tavolix/a.tvl");

    env.set("APPDATA", ""); // empty counts as unset
    EXPECT_EQ(save_path_of("a.tvl"), dir.path() + "/xdg/Tavolix/a.tvl");
    ASSERT_EQ(platform_init(), 1);
    struct stat info;
    ASSERT_EQ(stat((dir.path() + "/xdg/Tavolix").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    env.set("HOME", (dir.path() + "/home").c_str());
    for (const char* xdg : {static_cast<const char*>(nullptr), "", "relative/xdg"}) {
        env.set("XDG_DATA_HOME", xdg); // unset, empty and relative all mean $HOME/.local/share
        EXPECT_EQ(save_path_of("s"), dir.path() + "/home/.local/share/Tavolix/s") << xdg;
    }
    ASSERT_EQ(platform_init(), 1); // creates the missing parents too
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/home/.local/share/Tavolix"));

    env.set("HOME", nullptr);
    EXPECT_EQ(save_path_of("s"), "./save/s");
}

TEST(Platform, FailsRatherThanTruncates) {
    EnvOverride env;
    const std::string long_root(1020, 'x');
    env.set("APPDATA", ("/tmp/" + long_root).c_str());
    LogCapture log(3);
    char out[PLATFORM_PATH_MAX];
    EXPECT_EQ(platform_save_path("a.tvl", out, sizeof out), 0);
    EXPECT_EQ(platform_init(), 0);
    EXPECT_TRUE(log.contains("save dir path truncated (need ")) << log.text();
    EXPECT_EQ(platform_list_documents(out, sizeof out), -1);

    ScratchDir dir;
    env.set("APPDATA", dir.path().c_str());
    char small[8];
    EXPECT_EQ(platform_save_path("a.tvl", small, sizeof small), 0);
    EXPECT_EQ(small[0], 0);
}

// Newest first, so the open list's rows are the latest work; a name too long for a row is left
// out whole, never cut into the name of another file.
TEST(Platform, ListsRegularTvlFilesNewestFirst) {
    ScratchDir dir;
    EnvOverride env;
    env.set("APPDATA", dir.path().c_str());
    ASSERT_EQ(platform_init(), 1);
    const std::string folder = dir.path() + "/Tavolix/";
    const std::string fits(PLATFORM_DOC_NAME_ROW - 5, 'f'), too_long(PLATFORM_DOC_NAME_ROW - 4, 'l');
    const std::string names[] = {"old.tvl", "new.tvl", fits + ".tvl", too_long + ".tvl",
                                 "CAPS.TVL", ".tvl", "notes.txt", "a\nb.tvl"};
    const auto now = std::filesystem::file_time_type::clock::now();
    int age = 0;
    for (const std::string& name : names) {
        ASSERT_TRUE(write_file(folder + name, "x"));
        std::filesystem::last_write_time(folder + name, now - std::chrono::hours(24 - age++));
    }
    std::filesystem::last_write_time(folder + "old.tvl", now - std::chrono::hours(48));
    std::filesystem::create_directory(folder + "folder.tvl");

    char out[256];
    ASSERT_EQ(platform_list_documents(out, sizeof out), 3);
    EXPECT_EQ(std::string(out), fits + ".tvl\nnew.tvl\nold.tvl");

    char tight[80]; // room for the newest name only
    EXPECT_EQ(platform_list_documents(tight, sizeof tight), 1);
    EXPECT_EQ(std::string(tight), fits + ".tvl");
    EXPECT_EQ(platform_list_documents(nullptr, 5), -1);
}

// Layered OpenRaster files are offered beside documents, in any case; other endings are not.
TEST(Platform, ListsOpenRasterFiles) {
    ScratchDir dir;
    EnvOverride env;
    env.set("APPDATA", dir.path().c_str());
    ASSERT_EQ(platform_init(), 1);
    const std::string folder = dir.path() + "/Tavolix/";
    const auto now = std::filesystem::file_time_type::clock::now();
    int age = 0;
    for (const char* name : {"layers.ora", "SHOUT.ORA", "x.oraa", ".ora", "ora"}) {
        ASSERT_TRUE(write_file(folder + name, "x"));
        std::filesystem::last_write_time(folder + name, now - std::chrono::hours(24 - age++));
    }
    char out[256];
    ASSERT_EQ(platform_list_documents(out, sizeof out), 2);
    EXPECT_EQ(std::string(out), "SHOUT.ORA\nlayers.ora");
}

TEST(Platform, FileChooserOverrides) {
    EnvOverride env;
    char out[PLATFORM_PATH_MAX];
    env.set("TAVOLIX_FILE_CHOICE", "/tmp/picked.tvl");
    env.set("TAVOLIX_NO_NATIVE_CHOOSER", nullptr);
    EXPECT_EQ(platform_choose_file(1, "", "*.tvl", out, sizeof out), 1);
    EXPECT_STREQ(out, "/tmp/picked.tvl");
    char small[4]; // a path that does not fit is no choice
    EXPECT_EQ(platform_choose_file(0, "", "*.tvl", small, sizeof small), -1);
    env.set("TAVOLIX_NO_NATIVE_CHOOSER", "");
    EXPECT_EQ(platform_choose_file(0, "", "*.tvl", out, sizeof out), -1);
}

TEST(Platform, DensityThatIsNotAFiniteNumberCountsAsUnset) {
    EnvOverride env;
    for (const char* text : {"nan", "inf", "-inf", "1e99"}) {
        env.set("TAVOLIX_TEST_DENSITY", text);
        EXPECT_FLOAT_EQ(platform_display_density(), 1.0f) << text;
    }
}

// The viewer gets the path as one argument (nothing in a file name is run as a command), and
// the program does not wait for it: a viewer that stays open never freezes the main loop.
TEST(Platform, RevealExportStartsTheViewerAndReturns) {
    ScratchDir dir;
    EnvOverride env;
    const std::string bin = dir.path() + "/bin";
    std::filesystem::create_directory(bin);
    const std::string record = dir.file("args.txt");
    ASSERT_TRUE(write_file(bin + "/xdg-open",
                           "#!/bin/sh\necho noise; echo noise >&2\n"
                           "printf '%s|%s' \"$#\" \"$1\" > '" + record + ".part'\n"
                           "/bin/mv '" + record + ".part' '" + record + "'\n/bin/sleep 2\n"));
    std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
    env.set("PATH", bin.c_str());

    const std::string marker = dir.file("pwned");
    const std::string path = dir.path() + "/my \"best\" $(touch " + marker + ") 'x'; `id`.png";
    const double start = al_get_time();
    EXPECT_EQ(platform_reveal_export(path.c_str()), 1);
    EXPECT_LT(al_get_time() - start, 1.0);
    for (int i = 0; i < 200 && !std::filesystem::exists(record); i++) al_rest(0.01);
    EXPECT_EQ(read_file(record), "1|" + path);
    EXPECT_FALSE(std::filesystem::exists(marker));

    LogCapture log(3);
    env.set("PATH", dir.path().c_str()); // no viewer there
    EXPECT_EQ(platform_reveal_export("/tmp/a.png"), 0);
    EXPECT_TRUE(log.contains("could not open /tmp/a.png with the system viewer"));
}

// The background writer lowers its own thread, and only it: a call that named the process
// would lower the main thread, which draws the frames, instead. It stays in the ordinary class,
// where a busy machine still gives it a share; the idle class would starve it.
TEST(Platform, LowersOnlyTheCallingThread) {
    const auto lowest = [] {
        return sched_getscheduler(0) == SCHED_OTHER &&
               getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())) == PLATFORM_BACKGROUND_NICE;
    };
    const int policy = sched_getscheduler(0);
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    int lowered = 0;
    bool worker_lowest = false;
    std::thread worker([&] {
        lowered = platform_lower_thread_priority();
        worker_lowest = lowest();
    });
    worker.join();
    EXPECT_EQ(lowered, 1);
    EXPECT_TRUE(worker_lowest);
    EXPECT_EQ(sched_getscheduler(0), policy);
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), nice);
}

// Resident memory counts pages once they are touched, not when they are reserved.
TEST(Platform, ResidentMemoryCountsTouchedPages) {
    constexpr size_t size = 64u << 20;
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    const uint64_t reserved = platform_resident_bytes();
    ASSERT_GT(reserved, 0u);
    memset(block.get(), 1, size);
    ASSERT_EQ(block[size / 3], 1);
    const uint64_t touched = platform_resident_bytes();
    EXPECT_GT(touched, reserved + size / 2) << reserved << " -> " << touched;
    EXPECT_LT(touched, reserved + size * 2);
}

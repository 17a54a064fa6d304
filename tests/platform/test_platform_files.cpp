#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "test_support.h"

namespace {

// Runs `body` in a child process that reports through a pipe once it has done it, then either
// exits or waits to be killed; returns the child's pid.
pid_t in_child(bool stay, const std::function<void()>& body) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        body();
        if (write(ready[1], "x", 1) != 1) _exit(2);
        if (stay) pause();
        _exit(0);
    }
    char byte;
    close(ready[1]);
    if (read(ready[0], &byte, 1) != 1) ADD_FAILURE() << "the child did not report";
    close(ready[0]);
    return child;
}

} // namespace

TEST(PlatformFiles, ALockIsExclusiveAndEndsWithItsProcess) {
    ScratchDir dir;
    const std::string path = dir.file("session.lock");
    const int first = platform_lock_file(path.c_str());
    ASSERT_GE(first, 0);
    EXPECT_EQ(platform_lock_file(path.c_str()), PLATFORM_LOCK_HELD) << "a second lock must fail";
    platform_unlock_file(first);

    // A living holder keeps it; a dead one, however it died, does not.
    const pid_t holder = in_child(true, [&] { platform_lock_file(path.c_str()); });
    EXPECT_EQ(platform_lock_file(path.c_str()), PLATFORM_LOCK_HELD);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    const int after = platform_lock_file(path.c_str());
    EXPECT_GE(after, 0) << "the lock of a killed process is free";
    platform_unlock_file(after);

    ASSERT_EQ(mkdir(dir.file("folder.lock").c_str(), 0700), 0);
    LogCapture quiet(0);
    EXPECT_EQ(platform_lock_file(dir.file("folder.lock").c_str()), PLATFORM_LOCK_FAILED);
}

// Every write makes a new file of its own name: two writers never share one, a link planted
// where a temporary file could be expected is never followed, and the replaced file keeps its
// permissions.
TEST(PlatformFiles, WritesGoThroughUniqueTemporaryFilesThatFollowNoLink) {
    ScratchDir dir;
    const std::string path = dir.file("session.tvl"), victim = dir.file("victim");
    ASSERT_TRUE(write_file(victim, "precious"));
    ASSERT_EQ(symlink(victim.c_str(), (path + ".tmp").c_str()), 0);
    ASSERT_TRUE(write_file(path, "old"));
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);

    PLATFORM_FILE_WRITER a, b;
    ASSERT_EQ(platform_file_open(&a, path.c_str()), 1);
    ASSERT_EQ(platform_file_open(&b, path.c_str()), 1);
    EXPECT_STRNE(a.tmp, b.tmp);
    platform_file_write(&a, "first", 5);
    platform_file_write(&b, "second", 6);
    EXPECT_EQ(platform_file_commit(&a), 1);
    EXPECT_EQ(platform_file_commit(&b), 1);
    EXPECT_EQ(read_file(path), "second");
    EXPECT_EQ(read_file(victim), "precious");
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    // A run killed in the middle of a write leaves its temporary file; a later one removes it.
    PLATFORM_FILE_WRITER left;
    ASSERT_EQ(platform_file_open(&left, path.c_str()), 1);
    close(left.fd);
    const char* paths[] = {path.c_str()};
    platform_remove_stale_temps(paths, 1, 0.0);
    EXPECT_FALSE(std::filesystem::exists(left.tmp));
    EXPECT_FALSE(std::filesystem::is_symlink(path + ".tmp")) << "the earlier versions' name";
    EXPECT_EQ(read_file(victim), "precious") << "a link is removed, never followed";

    int error = 0;
    LogCapture quiet(0);
    EXPECT_EQ(platform_write_file(dir.file("no/such/folder").c_str(), "x", 1, &error), 0);
    EXPECT_EQ(error, ENOENT);
}

TEST(PlatformFiles, OnlyRegularFilesAreReadAndNothingWaits) {
    ScratchDir dir;
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
    ASSERT_TRUE(write_file(dir.file("file"), "abcdef"));
    const struct {
        std::string path;
        int kind, read;
        const char* text;
    } cases[] = {
        {dir.file("fifo"), PLATFORM_FILE_OTHER, -1, ""},
        {"/dev/zero", PLATFORM_FILE_OTHER, -1, ""},
        {dir.file("folder"), PLATFORM_FILE_FOLDER, -1, ""},
        {dir.file("missing"), PLATFORM_FILE_MISSING, 0, ""},
        {dir.file("file"), PLATFORM_FILE_REGULAR, 1, "abcd"},
    };
    LogCapture log(3);
    for (const auto& c : cases) {
        std::string text;
        EXPECT_EQ(platform_file_kind(c.path.c_str()), c.kind) << c.path;
        EXPECT_EQ(platform_read_file(c.path.c_str(), 4, &text), c.read) << c.path;
        EXPECT_EQ(text, c.text) << c.path;
    }
    EXPECT_TRUE(log.contains(dir.file("fifo") + " is not a regular file, not read"));
}

TEST(PlatformFiles, KeptCopiesAreNumberedAndNeverReplaced) {
    ScratchDir dir;
    const std::string path = dir.file("session.tvl");
    char kept[PLATFORM_PATH_MAX + 16];
    for (const char* suffix : {".bad", ".bad-2", ".bad-3"}) {
        ASSERT_TRUE(write_file(path, suffix));
        ASSERT_EQ(platform_keep_aside(path.c_str(), 0, kept, sizeof kept), 1);
        EXPECT_EQ(std::string(kept), path + suffix);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    for (const char* suffix : {".bad", ".bad-2", ".bad-3"})
        EXPECT_EQ(read_file(path + suffix), suffix) << "an earlier copy was replaced";
    ASSERT_TRUE(write_file(path, "damaged"));
    ASSERT_EQ(platform_keep_aside(path.c_str(), 1, kept, sizeof kept), 1);
    EXPECT_EQ(read_file(path + ".bad-4"), "damaged");
    EXPECT_EQ(read_file(path), "damaged") << "a copy leaves the file in use";
}

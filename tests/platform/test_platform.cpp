#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>

#include "platform/platform.h"
#include "test_support.h"

namespace {

// Sets or clears environment variables for one test and puts the old values back.
class EnvOverride {
  public:
    void set(const char* name, const char* value) {
        const char* old = getenv(name);
        if (!saved_.count(name))
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~EnvOverride() {
        for (auto& [name, value] : saved_)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

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

TEST(Platform, ListsOnlyRegularTvlFilesThatFit) {
    ScratchDir dir;
    EnvOverride env;
    env.set("APPDATA", dir.path().c_str());
    ASSERT_EQ(platform_init(), 1);
    const std::string folder = dir.path() + "/Tavolix/";
    for (const char* name : {"one.tvl", "two.tvl", "CAPS.TVL", ".tvl", "notes.txt", "a\nb.tvl"})
        ASSERT_TRUE(write_file(folder + name, "x"));
    std::filesystem::create_directory(folder + "folder.tvl");

    char out[256];
    ASSERT_EQ(platform_list_documents(out, sizeof out), 2);
    const std::string list = out;
    EXPECT_TRUE(list == "one.tvl\ntwo.tvl" || list == "two.tvl\none.tvl") << list;
    char tight[12]; // room for one name only
    EXPECT_TRUE(platform_list_documents(tight, sizeof tight) == 1 && strlen(tight) == 7u);
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

// The viewer gets the path as one argument: nothing in a file name is run as a command.
TEST(Platform, RevealExportNeverGoesThroughAShell) {
    ScratchDir dir;
    EnvOverride env;
    const std::string bin = dir.path() + "/bin";
    std::filesystem::create_directory(bin);
    const std::string record = dir.file("args.txt");
    ASSERT_TRUE(write_file(bin + "/xdg-open",
                           "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" + record + "'\n"
                           "case \"$1\" in *fail*) exit 4;; esac\n"));
    std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
    env.set("PATH", (bin + ":" + getenv("PATH")).c_str());

    const std::string marker = dir.file("pwned");
    const std::string path = dir.path() + "/my \"best\" $(touch " + marker + ") 'x'; `id`.png";
    EXPECT_EQ(platform_reveal_export(path.c_str()), 1);
    EXPECT_EQ(read_file(record), "1|" + path);
    EXPECT_FALSE(std::filesystem::exists(marker));

    LogCapture log(3);
    EXPECT_EQ(platform_reveal_export("/tmp/should fail.png"), 0);
}

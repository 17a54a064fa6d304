#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdline.h"

namespace {

struct Case {
    std::vector<const char*> args; // without the program's name
    int mode;
    const char* in;
    const char* out;
    int size;
    bool verbose;
    const char* error; // a part of the error text, for CMDLINE_ERROR
};

std::string text(const char* s) { return s ? s : "(null)"; }

TEST(Cmdline, WordsGiveTheirMode) {
    const Case cases[] = {
        {{}, CMDLINE_RUN, nullptr, nullptr, 0, false, nullptr},
        {{"-v"}, CMDLINE_RUN, nullptr, nullptr, 0, true, nullptr},
        // Only the exact switch raises logging; anything else beginning with "-" is ignored.
        {{"-vv"}, CMDLINE_RUN, nullptr, nullptr, 0, false, nullptr},
        {{"drawing.tvl"}, CMDLINE_RUN, "drawing.tvl", nullptr, 0, false, nullptr},
        {{"cat.png", "-v"}, CMDLINE_RUN, "cat.png", nullptr, 0, true, nullptr},
        {{"--", "-v"}, CMDLINE_RUN, "-v", nullptr, 0, false, nullptr},
        {{"-"}, CMDLINE_RUN, "-", nullptr, 0, false, nullptr},
        {{"a.tvl", "b.tvl"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "only one file"},
        {{""}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "empty"},
        {{"--help"}, CMDLINE_HELP, nullptr, nullptr, 0, false, nullptr},
        {{"x.tvl", "-h"}, CMDLINE_HELP, nullptr, nullptr, 0, false, nullptr},
        {{"--version", "--help"}, CMDLINE_VERSION, nullptr, nullptr, 0, false, nullptr},
        {{"--export", "out.png", "in.tvl"}, CMDLINE_EXPORT, "in.tvl", "out.png", 0, false, nullptr},
        {{"-v", "--export", "OUT.PNG", "in.jpg"}, CMDLINE_EXPORT, "in.jpg", "OUT.PNG", 0, true, nullptr},
        {{"out.png", "--export", "in.tvl"}, CMDLINE_EXPORT, "in.tvl", "out.png", 0, false, nullptr},
        {{"--export", "out.ora", "in.tvl"}, CMDLINE_EXPORT, "in.tvl", "out.ora", 0, false, nullptr},
        {{"--export", "OUT.ORA", "in.tvl"}, CMDLINE_EXPORT, "in.tvl", "OUT.ORA", 0, false, nullptr},
        {{"--export", "out.jpg", "in.tvl"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "only PNG and OpenRaster"},
        {{"--thumbnail", "in.ora", "t.ora", "64"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "only PNG is supported"},
        {{"--export", "out", "in.tvl"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "only PNG and OpenRaster"},
        {{"--export", "dir.png/out", "in.tvl"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "only PNG"},
        {{"--export", "out.png"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "--export OUT.png IN"},
        {{"--export", "out.png", ""}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "empty"},
        {{"--export", "a.png", "b", "c"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "--export OUT.png IN"},
        {{"--thumbnail", "in.tvl", "t.png", "256"}, CMDLINE_THUMBNAIL, "in.tvl", "t.png", 256, false, nullptr},
        {{"--thumbnail", "in.tvl", "t.png", "4096"}, CMDLINE_THUMBNAIL, "in.tvl", "t.png", 4096, false, nullptr},
        {{"--thumbnail", "in.tvl", "t.png", "1"}, CMDLINE_THUMBNAIL, "in.tvl", "t.png", 1, false, nullptr},
        {{"--thumbnail", "in.tvl", "t.png", "0"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "from 1 to 4096"},
        {{"--thumbnail", "in.tvl", "t.png", "4097"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "from 1 to 4096"},
        {{"--thumbnail", "in.tvl", "t.png", "12px"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "not a number"},
        // A word that begins with "-" is an option, so the size is missing.
        {{"--thumbnail", "in.tvl", "t.png", "-5"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "IN OUT SIZE"},
        {{"--thumbnail", "in.tvl", "t.png", "99999999999"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "not a number"},
        {{"--thumbnail", "in.tvl", "t.jpg", "64"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "only PNG"},
        {{"--thumbnail", "in.tvl", "t.png"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "IN OUT SIZE"},
        {{"--thumbnail", "a", "b.png", "5", "--export"}, CMDLINE_ERROR, nullptr, nullptr, 0, false, "together"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"tavolix"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string words;
        for (const char* a : c.args) words += std::string("'") + a + "' ";
        SCOPED_TRACE(words);
        CMDLINE cmd;
        cmdline_parse(static_cast<int>(argv.size()), const_cast<char* const*>(argv.data()), &cmd);
        EXPECT_EQ(cmd.mode, c.mode) << cmd.error;
        if (c.mode == CMDLINE_ERROR) {
            EXPECT_NE(std::string(cmd.error).find(c.error), std::string::npos) << cmd.error;
            continue;
        }
        if (c.mode == CMDLINE_HELP || c.mode == CMDLINE_VERSION) continue;
        EXPECT_EQ(text(cmd.in), text(c.in));
        EXPECT_EQ(text(cmd.out), text(c.out));
        EXPECT_EQ(cmd.size, c.size);
        EXPECT_EQ(cmd.verbose, c.verbose);
    }
}

} // namespace

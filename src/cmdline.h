// The command line: what the program is asked to do before anything else starts.
//
//   tavolix [-v] [FILE]                    the window; FILE (a document or picture) opened
//   tavolix --export OUT.png IN            IN flattened to a PNG, no window
//   tavolix --thumbnail IN OUT SIZE        a PNG of at most SIZE pixels on its longer side
//   tavolix --help | --version
//
// "-v" may stand anywhere and raises logging; other unknown options are ignored. "--" ends the options, so a file named like one
// can still be opened. Parsing only reads the words; it touches no file.
#pragma once

#include <cstddef>

enum CMDLINE_MODE {
    CMDLINE_RUN = 0,   // the window, with the session or with `in`
    CMDLINE_EXPORT,    // `in` to the PNG `out`
    CMDLINE_THUMBNAIL, // `in` to the PNG `out`, at most `size` pixels on the longer side
    CMDLINE_HELP,
    CMDLINE_VERSION,
    CMDLINE_ERROR,     // `error` tells what is wrong
};

constexpr int CMDLINE_THUMBNAIL_MAX = 4096;

struct CMDLINE {
    int mode;          // CMDLINE_MODE
    bool verbose;      // "-v"
    const char* in;    // the file to open, convert or preview; NULL for none (argv's storage)
    const char* out;   // the file to write
    int size;          // the thumbnail's longer side, 1 to CMDLINE_THUMBNAIL_MAX
    const char* ignored; // the first unknown option, which is ignored; NULL when none
    char error[256];   // for CMDLINE_ERROR: one line, without the program's name
};

// Reads argv[1..argc-1]. Always fills `out`; CMDLINE_ERROR when the words make no sense.
void cmdline_parse(int argc, char* const* argv, CMDLINE* out);
// The text `--help` prints.
const char* cmdline_usage();

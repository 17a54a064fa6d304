#include "cmdline.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int fail(CMDLINE* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(out->error, sizeof out->error, format, args);
    va_end(args);
    out->mode = CMDLINE_ERROR;
    return 0;
}

std::string lower_extension(const char* path) {
    const char* slash = strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    const char* dot = strrchr(name, '.');
    std::string ext(dot ? dot : "");
    for (char& c : ext) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return ext;
}

// Only what the name says is written: any other ending would give a file that is not what its
// name says. Exports may also be layered OpenRaster files.
int check_out(CMDLINE* out, const char* path, bool layered) {
    if (!path[0]) return fail(out, "the output file name is empty");
    const std::string ext = lower_extension(path);
    if (ext == ".png" || (layered && ext == ".ora")) return 1;
    if (layered)
        return fail(out, "cannot write %s: only PNG and OpenRaster are supported (name the output "
                         "*.png or *.ora)", path);
    return fail(out, "cannot write %s: only PNG is supported (name the output *.png)", path);
}

// A whole decimal number from 1 to the maximum, nothing else.
int parse_size(const char* text) {
    if (!text || !*text || strlen(text) > 6) return -1;
    int value = 0;
    for (const char* c = text; *c; c++) {
        if (!isdigit(static_cast<unsigned char>(*c))) return -1;
        value = value * 10 + (*c - '0');
    }
    return value >= 1 && value <= CMDLINE_THUMBNAIL_MAX ? value : -1;
}

} // namespace

void cmdline_parse(int argc, char* const* argv, CMDLINE* out) {
    if (!out) return;
    memset(out, 0, sizeof *out);
    out->mode = CMDLINE_RUN;
    // The words left once the options are read, in order.
    const char* words[8];
    int count = 0;
    const char* command = nullptr; // "--export" or "--thumbnail"
    bool options = true;
    for (int i = 1; i < argc && argv; i++) {
        const char* arg = argv[i];
        if (!arg) continue;
        if (options && strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && strcmp(arg, "-v") == 0) {
            out->verbose = true;
        } else if (options && (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0)) {
            out->mode = CMDLINE_HELP;
            return;
        } else if (options && strcmp(arg, "--version") == 0) {
            out->mode = CMDLINE_VERSION;
            return;
        } else if (options && (strcmp(arg, "--export") == 0 || strcmp(arg, "--thumbnail") == 0)) {
            if (command) {
                fail(out, "%s and %s cannot be used together", command, arg);
                return;
            }
            command = arg;
        } else if (options && arg[0] == '-' && arg[1]) {
            // Earlier versions ignored every word but "-v"; a start-up script that passes
            // something else still gets its window.
            if (!out->ignored) out->ignored = arg;
        } else {
            if (count == 8) {
                fail(out, "too many file names");
                return;
            }
            words[count++] = arg;
        }
    }
    if (!command) {
        if (count > 1) {
            fail(out, "only one file can be opened, got %d", count);
            return;
        }
        if (count == 1 && !words[0][0]) {
            fail(out, "the file name is empty");
            return;
        }
        out->in = count ? words[0] : nullptr;
        return;
    }
    if (strcmp(command, "--export") == 0) {
        if (count != 2) {
            fail(out, "--export takes an output file and an input file: --export OUT.png IN");
            return;
        }
        if (!check_out(out, words[0], true)) return;
        if (!words[1][0]) {
            fail(out, "the input file name is empty");
            return;
        }
        out->mode = CMDLINE_EXPORT;
        out->out = words[0];
        out->in = words[1];
        return;
    }
    if (count != 3) {
        fail(out, "--thumbnail takes an input file, an output PNG and a size: --thumbnail IN OUT SIZE");
        return;
    }
    const int size = parse_size(words[2]);
    if (size < 0) {
        fail(out, "thumbnail size %s is not a number from 1 to %d", words[2], CMDLINE_THUMBNAIL_MAX);
        return;
    }
    if (!words[0][0]) {
        fail(out, "the input file name is empty");
        return;
    }
    if (!check_out(out, words[1], false)) return;
    out->mode = CMDLINE_THUMBNAIL;
    out->in = words[0];
    out->out = words[1];
    out->size = size;
}

const char* cmdline_usage() {
    return "Usage: tavolix [-v] [FILE]\n"
           "       tavolix --export OUT.png|OUT.ora IN\n"
           "       tavolix --thumbnail IN OUT.png SIZE\n"
           "       tavolix --help | --version\n"
           "\n"
           "Opens FILE, a Tavolix document (.tvl), an OpenRaster file (.ora) or a PNG, JPEG,\n"
           "BMP, TGA or WebP picture, in place of the last session; the session's unsaved\n"
           "drawing is kept in the Load list.\n"
           "\n"
           "  --export OUT.png IN        flatten the document or picture IN into the PNG OUT\n"
           "  --export OUT.ora IN        write IN with its layers as the OpenRaster file OUT\n"
           "  --thumbnail IN OUT SIZE    write a PNG preview of IN, at most SIZE (1 to 4096)\n"
           "                             pixels on its longer side\n"
           "  -v                         log everything (level 7)\n"
           "  --help                     show this text\n"
           "  --version                  show the version\n"
           "\n"
           "Exit status: 0 on success; 1 when a conversion failed; 2 for words that make no sense.\n";
}

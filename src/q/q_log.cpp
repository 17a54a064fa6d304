#include "q/q_log.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

namespace {

int log_threshold = -1;
int log_target = LOG_TARGET_STDERR;
FILE* log_file = nullptr;
char* journal_identity = nullptr;
bool colour_flag = false;

struct LevelInfo {
    const char* name;
    int syslog_priority;
    const char* colour;
};

constexpr LevelInfo level_table[] = {
    {"EMERG", LOG_EMERG, "\033[31m"},  {"ALERT", LOG_ALERT, "\033[35m"},
    {"CRITICAL", LOG_CRIT, "\033[31m"}, {"ERR", LOG_ERR, "\033[31m"},
    {"WARNING", LOG_WARNING, "\033[33m"}, {"NOTICE", LOG_NOTICE, "\033[32m"},
    {"INFO", LOG_INFO, "\033[36m"},     {"DEBUG", LOG_DEBUG, "\033[34m"},
};
constexpr const char* unknown_colour = "\033[37m";
constexpr const char* reset_colour = "\033[0m";

// Colour escapes only make sense on a terminal, and the log goes to standard error.
bool stderr_wants_colour() {
    const char* no_colour = getenv("NO_COLOR");
    if (no_colour && no_colour[0]) return false;
    return isatty(STDERR_FILENO) == 1;
}

} // namespace

void set_log_level(int value) {
    if (value == LOG_TARGET_JOURNAL || value == LOG_TARGET_FILE || value == LOG_TARGET_STDERR) {
        log_target = value;
        return;
    }
    log_threshold = value;
    colour_flag = stderr_wants_colour();
}

int get_log_level() { return log_threshold; }

bool q_log_colour_enabled() { return colour_flag; }

int set_log_file(const char* path) {
    if (!path) return 0;
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        q_log(3, "couldn't create %s with 0600 permission", path);
        return 0;
    }
    FILE* stream = fdopen(fd, "a");
    if (!stream) {
        q_log(3, "fdopen returned an invalid file descriptor pointer for %s:%d", path, fd);
        close(fd);
        return 0;
    }
    if (log_file) fclose(log_file);
    log_file = stream;
    log_target = LOG_TARGET_FILE;
    return 1;
}

FILE* get_log_file() { return log_file; }

void close_log_file() {
    if (log_file) fclose(log_file);
    log_file = nullptr;
    log_target = LOG_TARGET_STDERR;
}

int open_sysjrnl(const char* identity) {
    close_sysjrnl();
    journal_identity = strdup(identity ? identity : "NULL");
    if (!journal_identity) return 0;
    openlog(journal_identity, LOG_PID, LOG_USER);
    return 1;
}

void close_sysjrnl() {
    if (!journal_identity) return;
    closelog();
    free(journal_identity);
    journal_identity = nullptr;
}

void _q_log(int level, const char* file, const char* function, int line, const char* format,
            ...) {
    if (level == -1 || !format) return;
    if (level > log_threshold) return;

    const bool known = level >= 0 && level <= 7;
    if (log_target == LOG_TARGET_JOURNAL) {
        // The journal gets the message through syslog(3) directly: nothing is ever handed
        // to a shell, so message text cannot be interpreted as a command.
        va_list args;
        va_start(args, format);
        char* message = nullptr;
        if (vasprintf(&message, format, args) < 0) message = nullptr;
        va_end(args);
        syslog(known ? level_table[level].syslog_priority : LOG_INFO, "%s",
               message ? message : "<log: vasprintf failed>");
        free(message);
        return;
    }

    FILE* out = log_file ? log_file : stderr;
    // Colour only where it can be seen: never inside a log file.
    const bool colour = colour_flag && out == stderr;
    const char* start = colour ? (known ? level_table[level].colour : unknown_colour) : "";
    const char* reset = colour ? reset_colour : "";
    const char* name = known ? level_table[level].name : "UNKNOWN";

    // One line is several writes: holding the stream keeps a line from another thread (a
    // background save) from landing in the middle of it.
    flockfile(out);
    fprintf(out, "%s%s:%jd:%s->%s:%d ", start, name, static_cast<intmax_t>(time(nullptr)),
            file ? file : "NULL", function ? function : "NULL", line);
    va_list args;
    va_start(args, format);
    vfprintf(out, format, args);
    va_end(args);
    fprintf(out, "%s\n", reset);
    fflush(out);
    funlockfile(out);
}

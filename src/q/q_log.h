// Process-wide logging: one line per message, "LEVEL:seconds:file->function:line message".
#pragma once

#include <cstdarg>
#include <cstdio>

enum {
    LOG_TARGET_FILE = -3,
    LOG_TARGET_STDERR = -4,
    LOG_TARGET_JOURNAL = 100,
};

// 100, -3 and -4 select a target; any other value becomes the level threshold.
void set_log_level(int value);
int get_log_level();
int set_log_file(const char* path);
FILE* get_log_file();
// Drops the log file (if any) and goes back to standard error.
void close_log_file();
int open_sysjrnl(const char* identity);
void close_sysjrnl();

// Colour codes are used only when standard error is a terminal and NO_COLOR is unset.
bool q_log_colour_enabled();

void _q_log(int level, const char* file, const char* function, int line, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

#define q_log(level, ...) _q_log((level), __FILE__, __func__, __LINE__, __VA_ARGS__)

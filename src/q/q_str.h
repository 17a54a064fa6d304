// Growable byte string: always zero-terminated, used to build and read whole files in memory.
#pragma once

#include <cstddef>

struct Q_STR {
    char* data;      // NULL while capacity is 0
    size_t capacity; // usable bytes; the buffer holds capacity + 1
    size_t used;     // content length; data[used] is always 0
};

Q_STR* new_qstr(size_t size);
Q_STR* char_to_qstr(const char* text);
int char_to_qstr_ex(const char* source, size_t length, Q_STR** destination);
Q_STR* qstrcat_ex(Q_STR** destination, const char* source, size_t length, int resize);
void _free_qstr(Q_STR** record, const char* expression);
#define free_qstr(record) _free_qstr((record), #record)
Q_STR* file_to_qstr(const char* path);
// Writes the content to the file at `path` in one go. 1 on success, 0 on failure. Not crash
// safe: a program that must never leave a half-written file writes through its platform.
int qstr_to_file(const Q_STR* record, const char* path);

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
// Replaces the file at `path` atomically: the content goes to a temporary file in the same
// folder, is flushed and synced, then renamed over the target. 1 on success, 0 on failure
// (the previous file, if any, is left untouched).
int qstr_to_file(const Q_STR* record, const char* path);
// Copies the file at `from` to `to` the same way: `to` is replaced whole or not at all.
int file_copy(const char* from, const char* to);

// The same replacement for content written piece by piece. Open, write any number of times,
// then commit (sync, close, rename) or abandon. After a failed write every later call fails
// too, so a writer may check only the commit. Uses no global state: any thread may write.
struct Q_FILE_WRITER {
    int fd;               // -1 when not open
    bool failed;          // a write failed: commit removes the temporary file
    int error;            // errno of the first failure
    char tmp[1024];       // path + ".tmp"
    const char* path;     // not owned; must outlive the writer
};
int q_file_open(Q_FILE_WRITER* out, const char* path);
int q_file_write(Q_FILE_WRITER* out, const void* bytes, size_t count);
// 1 when the whole content is at `path`; 0 (and the previous file untouched) otherwise.
int q_file_commit(Q_FILE_WRITER* out);
void q_file_abandon(Q_FILE_WRITER* out);

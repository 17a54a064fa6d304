#include "q/q_str.h"

#include "q/q_common.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

Q_STR* new_qstr(size_t size) {
    if (size == SIZE_MAX) {
        q_log(3, "new_qstr: size %zu would wrap the terminator allocation", size);
        return NULL;
    }
    Q_STR* str = NULL;
    q_calloc(str, Q_STR, 1);
    if (!str) return NULL;
    if (size > 0) {
        q_calloc(str->data, char, size + 1);
        if (!str->data) {
            free(str);
            return NULL;
        }
    }
    str->capacity = size;
    return str;
}

Q_STR* char_to_qstr(const char* text) {
    q_assert(text, return NULL);
    Q_STR* str = NULL;
    if (!char_to_qstr_ex(text, strlen(text), &str)) return NULL;
    return str;
}

int char_to_qstr_ex(const char* source, size_t length, Q_STR** destination) {
    q_assert(destination, return 0);
    q_assert(source || length == 0, return 0);
    if (*destination) {
        q_log(3,
              "destination Q_STR **str is not NULL (%p), it contain (%s). You must provide an "
              "empty destination.",
              static_cast<void*>(*destination), (*destination)->data ? (*destination)->data : "");
        q_log(3, "Data to copy: %.*s", static_cast<int>(length > INT_MAX ? INT_MAX : length),
              source ? source : "");
        return 0;
    }
    if (length == SIZE_MAX) {
        q_log(3, "integer overflow in qstrcat_ex size calculation");
        return 0;
    }
    Q_STR* str = new_qstr(length + 1);
    if (!str) return 0;
    if (length) memcpy(str->data, source, length);
    str->used = length;
    str->data[length] = 0;
    *destination = str;
    return 1;
}

Q_STR* qstrcat_ex(Q_STR** destination, const char* source, size_t length, int resize) {
    q_assert(destination, return NULL);
    q_assert(source || length == 0, return NULL);
    if (!*destination) {
        if (!resize) {
            q_log(3, "%p to %p: not enough space. Resize forbidden. %zu needed, destination is NULL",
                  static_cast<const void*>(source), static_cast<void*>(destination), length);
            return NULL;
        }
        if (length >= SIZE_MAX - 1) {
            q_log(3, "integer overflow in qstrcat_ex size calculation");
            return NULL;
        }
        *destination = new_qstr(length + 1);
        if (!*destination) return NULL;
    }
    Q_STR* str = *destination;
    if (length > SIZE_MAX - 1 - str->used) {
        q_log(3, "integer overflow in qstrcat_ex size calculation");
        return NULL;
    }
    const size_t needed = str->used + length;
    // A record made with capacity 0 has no buffer at all, not even for the terminator.
    if (needed > str->capacity || !str->data) {
        if (!resize) {
            q_log(3, "%p to %p: not enough space. Resize forbidden. %zu needed, %zu available",
                  static_cast<const void*>(source), static_cast<void*>(str), needed,
                  str->capacity - str->used);
            return NULL;
        }
        const size_t new_capacity = needed + 1;
        char* grown = static_cast<char*>(realloc(str->data, new_capacity + 1));
        if (!grown) {
            q_log(3, "( %s *)realloc( %s * sizeof( %zu ) ) %s at line %d of %s", "str->data",
                  "char", new_capacity + 1, "realloc error", __LINE__, __FILE__);
            free_qstr(destination);
            return NULL;
        }
        memset(grown + str->used, 0, new_capacity + 1 - str->used);
        str->data = grown;
        str->capacity = new_capacity;
    }
    if (length) memcpy(str->data + str->used, source, length);
    str->used = needed;
    str->data[str->used] = 0;
    return str;
}

void _free_qstr(Q_STR** record, const char* expression) {
    if (!record || !*record) {
        q_log(7, "%s is already NULL", expression ? expression : "NULL");
        return;
    }
    free((*record)->data);
    free(*record);
    *record = NULL;
}

Q_STR* file_to_qstr(const char* path) {
    q_assert(path, return NULL);
    std::unique_ptr<FILE, int (*)(FILE*)> in(fopen(path, "rb"), fclose);
    if (!in) {
        q_log(3, "couldn't open %s for reading: %s", path, strerror(errno));
        return NULL;
    }
    struct stat info;
    if (fstat(fileno(in.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
        q_log(3, "%s is not a regular file", path);
        return NULL;
    }
    Q_STR* str = new_qstr(static_cast<size_t>(info.st_size) + 1);
    if (!str) return NULL;
    size_t got = fread(str->data, 1, static_cast<size_t>(info.st_size), in.get());
    if (ferror(in.get())) {
        q_log(3, "couldn't read %s: %s", path, strerror(errno));
        free_qstr(&str);
        return NULL;
    }
    str->used = got;
    str->data[got] = 0;
    return str;
}

int qstr_to_file(const Q_STR* record, const char* path) {
    q_assert(record, return 0);
    q_assert(path, return 0);
    std::unique_ptr<FILE, int (*)(FILE*)> out(fopen(path, "wb"), fclose);
    if (!out) {
        q_log(3, "couldn't open %s for writing: %s", path, strerror(errno));
        return 0;
    }
    const bool written = fwrite(record->data ? record->data : "", 1, record->used, out.get()) == record->used;
    if (!written || fclose(out.release()) != 0) {
        q_log(3, "couldn't write %s: %s", path, strerror(errno));
        return 0;
    }
    return 1;
}

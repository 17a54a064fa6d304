// Checking macros shared by every module: assertions that log the failing expression, and
// allocations whose failure message names the variable and the record type.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "q/q_log.h"

#define q_assert(expression, action)                                                            \
    do {                                                                                        \
        if (!(expression)) {                                                                    \
            q_log(7, "if( !(%s) ) assert at line %d of %s", #expression, __LINE__, __FILE__);   \
            action;                                                                             \
        }                                                                                       \
    } while (0)

#define q_calloc(pointer, type, count)                                                          \
    do {                                                                                        \
        errno = 0;                                                                              \
        (pointer) = static_cast<type*>(calloc((count), sizeof(type)));                          \
        if (!(pointer)) {                                                                       \
            q_log(3, "( %s *)calloc( %zu , sizeof( %s ) ) %s at line %d of %s", #pointer,       \
                  static_cast<size_t>(count), #type, errno ? strerror(errno) : "malloc error",  \
                  __LINE__, __FILE__);                                                          \
        }                                                                                       \
    } while (0)

// On failure the old block stays valid and `pointer` is left unchanged.
#define q_realloc(pointer, type, count)                                                         \
    do {                                                                                        \
        errno = 0;                                                                              \
        void* q_realloc_tmp_ = realloc((pointer), (count) * sizeof(type));                      \
        if (!q_realloc_tmp_) {                                                                  \
            q_log(3, "( %s *)realloc( %s * sizeof( %zu ) ) %s at line %d of %s", #pointer,      \
                  #type, static_cast<size_t>((count) * sizeof(type)),                           \
                  errno ? strerror(errno) : "realloc error", __LINE__, __FILE__);               \
        } else {                                                                                \
            (pointer) = static_cast<type*>(q_realloc_tmp_);                                     \
        }                                                                                       \
    } while (0)

#define q_free(pointer)                                                                         \
    do {                                                                                        \
        if (pointer) {                                                                          \
            free(pointer);                                                                      \
            (pointer) = NULL;                                                                   \
        } else {                                                                                \
            q_log(7, "Free( %s ) already done or NULL at line %d of %s", #pointer, __LINE__,    \
                  __FILE__);                                                                    \
        }                                                                                       \
    } while (0)

#define q_free_quiet(pointer)                                                                   \
    do {                                                                                        \
        free(pointer);                                                                          \
        (pointer) = NULL;                                                                       \
    } while (0)

// String-keyed hash table with a fixed bucket count (no rehashing). Keys are hashed with
// MurmurHash3_x64_128 and a per-table seed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "q/q_list.h"

enum {
    HASH_INT = 1,
    HASH_DOUBLE = 2,
    HASH_STRING = 4,
    HASH_PTR = 8,
};

enum { HASH_CLASSIC = 1 };

typedef void (*HASH_DESTROY_FUNC)(void*);

struct HASH_NODE {
    char* key;
    uint64_t hash;
    int type;
    union {
        int ival;
        double fval;
        char* string;
        void* ptr;
    } data;
    HASH_DESTROY_FUNC destroy_func;
    void* extra;
};

struct HASH_TABLE {
    size_t size;
    size_t nb_keys;
    uint32_t seed;
    LIST** hash_table; // `size` bucket lists of HASH_NODE pointers
    int mode;
};

void q_murmurhash3_x64_128(const void* key, size_t length, uint32_t seed, uint64_t out[2]);
const char* ht_node_type(int type);

HASH_TABLE* new_ht(size_t size);
int ht_put_ptr(HASH_TABLE* table, const char* key, void* item, HASH_DESTROY_FUNC destroy_func,
               void* extra);
int ht_get_ptr(HASH_TABLE* table, const char* key, void** item);
int ht_put_int(HASH_TABLE* table, const char* key, int value);
int ht_get_int(HASH_TABLE* table, const char* key, int* value);
int ht_put_string(HASH_TABLE* table, const char* key, const char* text);
int ht_get_string(HASH_TABLE* table, const char* key, const char** text);
int ht_remove(HASH_TABLE* table, const char* key);
void empty_ht(HASH_TABLE* table);
void destroy_ht(HASH_TABLE** table);

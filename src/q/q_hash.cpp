#include "q/q_hash.h"

#include "q/q_common.h"

#include <random>

// ---- MurmurHash3, x64 128-bit variant ----
namespace {

inline uint64_t rotl64(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

inline uint64_t fmix64(uint64_t k) {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdULL;
    k ^= k >> 33;
    k *= 0xc4ceb9fe1a85ec53ULL;
    k ^= k >> 33;
    return k;
}

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

void q_murmurhash3_x64_128(const void* key, size_t length, uint32_t seed, uint64_t out[2]) {
    const uint8_t* data = static_cast<const uint8_t*>(key);
    const size_t nblocks = length / 16;
    uint64_t h1 = seed, h2 = seed;
    constexpr uint64_t c1 = 0x87c37b91114253d5ULL;
    constexpr uint64_t c2 = 0x4cf5ad432745937fULL;

    for (size_t i = 0; i < nblocks; i++) {
        uint64_t k1 = load64(data + i * 16);
        uint64_t k2 = load64(data + i * 16 + 8);
        k1 *= c1; k1 = rotl64(k1, 31); k1 *= c2; h1 ^= k1;
        h1 = rotl64(h1, 27); h1 += h2; h1 = h1 * 5 + 0x52dce729;
        k2 *= c2; k2 = rotl64(k2, 33); k2 *= c1; h2 ^= k2;
        h2 = rotl64(h2, 31); h2 += h1; h2 = h2 * 5 + 0x38495ab5;
    }

    const uint8_t* tail = data + nblocks * 16;
    uint64_t k1 = 0, k2 = 0;
    switch (length & 15) {
    case 15: k2 ^= static_cast<uint64_t>(tail[14]) << 48; [[fallthrough]];
    case 14: k2 ^= static_cast<uint64_t>(tail[13]) << 40; [[fallthrough]];
    case 13: k2 ^= static_cast<uint64_t>(tail[12]) << 32; [[fallthrough]];
    case 12: k2 ^= static_cast<uint64_t>(tail[11]) << 24; [[fallthrough]];
    case 11: k2 ^= static_cast<uint64_t>(tail[10]) << 16; [[fallthrough]];
    case 10: k2 ^= static_cast<uint64_t>(tail[9]) << 8; [[fallthrough]];
    case 9:
        k2 ^= static_cast<uint64_t>(tail[8]);
        k2 *= c2; k2 = rotl64(k2, 33); k2 *= c1; h2 ^= k2;
        [[fallthrough]];
    case 8: k1 ^= static_cast<uint64_t>(tail[7]) << 56; [[fallthrough]];
    case 7: k1 ^= static_cast<uint64_t>(tail[6]) << 48; [[fallthrough]];
    case 6: k1 ^= static_cast<uint64_t>(tail[5]) << 40; [[fallthrough]];
    case 5: k1 ^= static_cast<uint64_t>(tail[4]) << 32; [[fallthrough]];
    case 4: k1 ^= static_cast<uint64_t>(tail[3]) << 24; [[fallthrough]];
    case 3: k1 ^= static_cast<uint64_t>(tail[2]) << 16; [[fallthrough]];
    case 2: k1 ^= static_cast<uint64_t>(tail[1]) << 8; [[fallthrough]];
    case 1:
        k1 ^= static_cast<uint64_t>(tail[0]);
        k1 *= c1; k1 = rotl64(k1, 31); k1 *= c2; h1 ^= k1;
        break;
    default: break;
    }

    h1 ^= length; h2 ^= length;
    h1 += h2; h2 += h1;
    h1 = fmix64(h1); h2 = fmix64(h2);
    h1 += h2; h2 += h1;
    out[0] = h1;
    out[1] = h2;
}

// ---- node helpers ----
namespace {

void free_node_data(HASH_NODE* node) {
    if (node->type == HASH_STRING) {
        free(node->data.string);
        node->data.string = NULL;
    } else if (node->type == HASH_PTR && node->destroy_func && node->data.ptr) {
        node->destroy_func(node->data.ptr);
        node->data.ptr = NULL;
    }
}

void hash_node_destroy(void* ptr) {
    HASH_NODE* node = static_cast<HASH_NODE*>(ptr);
    free_node_data(node);
    free(node->key);
    free(node);
}

uint64_t key_hash(const HASH_TABLE* table, const char* key) {
    uint64_t h[2];
    q_murmurhash3_x64_128(key, strlen(key), table->seed, h);
    return h[0];
}

HASH_NODE* find_node(const HASH_TABLE* table, const char* key, LIST_NODE** list_node) {
    if (!key[0]) return NULL; // the empty key is never stored
    const uint64_t h = key_hash(table, key);
    LIST* bucket = table->hash_table[h % table->size];
    for (LIST_NODE* n = bucket->start; n; n = n->next) {
        HASH_NODE* node = static_cast<HASH_NODE*>(n->ptr);
        if (node->hash == h && strcmp(node->key, key) == 0) {
            if (list_node) *list_node = n;
            return node;
        }
    }
    return NULL;
}

// Finds the node for `key` or appends a new one of `type`. A key already holding another
// type is refused so a caller never reads an int as a pointer.
HASH_NODE* node_for_put(HASH_TABLE* table, const char* key, int type) {
    if (!key[0]) {
        q_log(3, "Can't add an empty key");
        return NULL;
    }
    HASH_NODE* node = find_node(table, key, NULL);
    if (node) {
        if (node->type != type) {
            q_log(3, "Can't add key[\"%s\"] with type %s , key already exist with type %s", key,
                  ht_node_type(type), ht_node_type(node->type));
            return NULL;
        }
        return node;
    }
    q_calloc(node, HASH_NODE, 1);
    if (!node) return NULL;
    node->key = strdup(key);
    if (!node->key) {
        free(node);
        return NULL;
    }
    node->hash = key_hash(table, key);
    node->type = type;
    if (!list_push(table->hash_table[node->hash % table->size], node, hash_node_destroy)) {
        hash_node_destroy(node);
        return NULL;
    }
    table->nb_keys++;
    return node;
}

HASH_NODE* node_for_get(HASH_TABLE* table, const char* key, int type) {
    HASH_NODE* node = find_node(table, key, NULL);
    if (!node) return NULL;
    if (node->type != type) {
        q_log(3, "Can't get key[\"%s\"] of type %s, key is type %s", key, ht_node_type(type),
              ht_node_type(node->type));
        return NULL;
    }
    return node;
}

} // namespace

const char* ht_node_type(int type) {
    switch (type) {
    case HASH_INT: return "HASH_INT";
    case HASH_DOUBLE: return "HASH_DOUBLE";
    case HASH_STRING: return "HASH_STRING";
    case HASH_PTR: return "HASH_PTR";
    default: return "HASH_UNKNOWN";
    }
}

HASH_TABLE* new_ht(size_t size) {
    if (size == 0) {
        q_log(3, "Invalid size %zu for new_ht()", size);
        return NULL;
    }
    HASH_TABLE* table = NULL;
    q_calloc(table, HASH_TABLE, 1);
    if (!table) return NULL;
    q_calloc(table->hash_table, LIST*, size);
    if (!table->hash_table) {
        free(table);
        return NULL;
    }
    table->size = size;
    for (size_t i = 0; i < size; i++) {
        table->hash_table[i] = new_generic_list(SIZE_MAX);
        if (!table->hash_table[i]) {
            destroy_ht(&table);
            return NULL;
        }
    }
    static std::minstd_rand generator{std::random_device{}()};
    table->seed = static_cast<uint32_t>(generator() % 100000);
    table->mode = HASH_CLASSIC;
    return table;
}

int ht_put_ptr(HASH_TABLE* table, const char* key, void* item, HASH_DESTROY_FUNC destroy_func,
               void* extra) {
    q_assert(table, return 0);
    q_assert(key, return 0);
    HASH_NODE* node = node_for_put(table, key, HASH_PTR);
    if (!node) return 0;
    if (node->data.ptr && node->data.ptr != item && node->destroy_func)
        node->destroy_func(node->data.ptr);
    node->data.ptr = item;
    node->destroy_func = destroy_func;
    node->extra = extra;
    return 1;
}

int ht_get_ptr(HASH_TABLE* table, const char* key, void** item) {
    q_assert(table, return 0);
    q_assert(key, return 0);
    HASH_NODE* node = node_for_get(table, key, HASH_PTR);
    if (!node) return 0;
    if (item) *item = node->data.ptr;
    return 1;
}

int ht_put_int(HASH_TABLE* table, const char* key, int value) {
    q_assert(table, return 0);
    q_assert(key, return 0);
    HASH_NODE* node = node_for_put(table, key, HASH_INT);
    if (!node) return 0;
    node->data.ival = value;
    return 1;
}

int ht_get_int(HASH_TABLE* table, const char* key, int* value) {
    q_assert(table, return 0);
    q_assert(key, return 0);
    HASH_NODE* node = node_for_get(table, key, HASH_INT);
    if (!node) return 0;
    if (value) *value = node->data.ival;
    return 1;
}

int ht_put_string(HASH_TABLE* table, const char* key, const char* text) {
    q_assert(table, return 0);
    q_assert(key, return 0);
    q_assert(text, return 0);
    char* copy = strdup(text);
    if (!copy) return 0;
    HASH_NODE* node = node_for_put(table, key, HASH_STRING);
    if (!node) {
        free(copy);
        return 0;
    }
    free(node->data.string);
    node->data.string = copy;
    return 1;
}

int ht_get_string(HASH_TABLE* table, const char* key, const char** text) {
    q_assert(table, return 0);
    q_assert(key, return 0);
    HASH_NODE* node = node_for_get(table, key, HASH_STRING);
    if (!node) return 0;
    if (text) *text = node->data.string;
    return 1;
}

int ht_remove(HASH_TABLE* table, const char* key) {
    q_assert(table, return 0);
    q_assert(key, return 0);
    LIST_NODE* list_node = NULL;
    HASH_NODE* node = find_node(table, key, &list_node);
    if (!node) return 0;
    remove_list_node_f(table->hash_table[node->hash % table->size], list_node);
    hash_node_destroy(node);
    table->nb_keys--;
    return 1;
}

void empty_ht(HASH_TABLE* table) {
    q_assert(table, return);
    for (size_t i = 0; i < table->size; i++)
        if (table->hash_table[i]) list_empty(table->hash_table[i]);
    table->nb_keys = 0;
}

void destroy_ht(HASH_TABLE** table) {
    q_assert(table, return);
    if (!*table) return;
    if ((*table)->hash_table) {
        for (size_t i = 0; i < (*table)->size; i++) list_destroy(&(*table)->hash_table[i]);
        free((*table)->hash_table);
    }
    free(*table);
    *table = NULL;
}

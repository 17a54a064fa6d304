#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <string>

#include "q/q_hash.h"
#include "q/q_list.h"
#include "q/q_str.h"
#include "test_support.h"

namespace {

int destroyed = 0;
void count_destroy(void* item) {
    destroyed++;
    delete static_cast<int*>(item);
}

} // namespace

// ---- Q_STR ----

TEST(QStr, AppendGrowsAndKeepsTerminator) {
    // From nothing, and from a record made with capacity 0, which has no buffer yet.
    for (Q_STR* str : {static_cast<Q_STR*>(nullptr), new_qstr(0)}) {
        ASSERT_NE(qstrcat_ex(&str, "", 0, 1), nullptr);
        EXPECT_EQ(str->used, 0u);
        EXPECT_EQ(str->data[0], 0);
        std::string expected;
        for (int i = 0; i < 100; i++) {
            ASSERT_NE(qstrcat_ex(&str, "abc", 3, 1), nullptr);
            expected += "abc";
        }
        EXPECT_EQ(std::string(str->data, str->used), expected);
        EXPECT_EQ(str->data[str->used], 0);
        free_qstr(&str);
    }
}

TEST(QStr, RefusesWithoutResizeAndGuardsWrapAround) {
    LogCapture log(3);
    Q_STR* str = new_qstr(4);
    ASSERT_NE(str, nullptr);
    EXPECT_NE(qstrcat_ex(&str, "abcd", 4, 0), nullptr);
    EXPECT_EQ(qstrcat_ex(&str, "e", 1, 0), nullptr);
    EXPECT_STREQ(str->data, "abcd"); // a refused append changes nothing
    EXPECT_EQ(qstrcat_ex(&str, "e", SIZE_MAX, 1), nullptr);
    EXPECT_TRUE(log.contains("integer overflow in qstrcat_ex size calculation"));
    EXPECT_EQ(new_qstr(SIZE_MAX), nullptr);
    EXPECT_TRUE(log.contains("would wrap the terminator allocation"));
    Q_STR* none = nullptr;
    EXPECT_EQ(qstrcat_ex(&none, "x", 1, 0), nullptr);
    EXPECT_TRUE(log.contains("destination is NULL"));
    EXPECT_EQ(char_to_qstr_ex("second", 6, &str), 0); // a copy needs an empty destination
    EXPECT_STREQ(str->data, "abcd");
    free_qstr(&str);
}

TEST(QStr, FileRoundTripReplacesAtomically) {
    ScratchDir dir;
    const std::string path = dir.file("data.bin");
    ASSERT_TRUE(write_file(path, "old content"));
    Q_STR* str = nullptr;
    const char bytes[] = {'a', 0, 'b', '\n'};
    ASSERT_NE(qstrcat_ex(&str, bytes, sizeof bytes, 1), nullptr);
    ASSERT_EQ(qstr_to_file(str, path.c_str()), 1);
    Q_STR* back = file_to_qstr(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::string(back->data, back->used), std::string(bytes, sizeof bytes));
    EXPECT_FALSE(std::ifstream(path + ".tmp").good()); // no temporary left behind
    free_qstr(&back);

    // A target that cannot be written leaves nothing half-done.
    LogCapture log(3);
    EXPECT_EQ(qstr_to_file(str, (dir.path() + "/missing/folder/x").c_str()), 0);
    EXPECT_EQ(file_to_qstr((dir.path() + "/nope").c_str()), nullptr);
    free_qstr(&str);
}

// ---- LIST ----

TEST(List, OrderLinksLimitAndDestructors) {
    LogCapture log(3);
    LIST* list = new_generic_list(3);
    int a = 1, b = 2, c = 3;
    EXPECT_EQ(list_push(list, &b, nullptr), 1);
    EXPECT_EQ(list_push(list, &c, nullptr), 1);
    EXPECT_EQ(list_unshift(list, &a, nullptr), 1);
    EXPECT_EQ(list_push(list, &a, nullptr), 0); // full
    EXPECT_EQ(list_push(list, nullptr, nullptr), 0);
    EXPECT_TRUE(list->start->ptr == &a && list->end->prev->ptr == &b && list->end->ptr == &c);
    EXPECT_EQ(list_pop_f(list), &c);
    EXPECT_EQ(list_shift_f(list), &a);
    EXPECT_EQ(list->start, list->end);
    EXPECT_EQ(list_pop_f(list), &b);
    EXPECT_TRUE(list->start == nullptr && list->end == nullptr && list->count == 0u);
    EXPECT_EQ(list_pop_f(list), nullptr); // empty stays empty
    list_destroy(&list);

    destroyed = 0;
    list = new_generic_list(SIZE_MAX);
    for (int i = 0; i < 5; i++) list_push(list, new int(i), count_destroy);
    delete static_cast<int*>(remove_list_node_f(list, list->start->next)); // not destroyed
    list_destroy(&list);
    EXPECT_EQ(destroyed, 4);
    EXPECT_EQ(list, nullptr);
}

// ---- HASH_TABLE ----

TEST(Hash, MurmurKnownValues) {
    // Reference outputs of MurmurHash3_x64_128 (first 64-bit word), seed 0.
    uint64_t h[2];
    const std::pair<std::string, uint64_t> cases[] = {
        {"", 0},
        {"hello", 0xcbd8a7b341bd9b02ULL},
        {"The quick brown fox jumps over the lazy dog", 0xe34bbc7bbc071b6cULL}};
    for (const auto& [text, first] : cases) {
        q_murmurhash3_x64_128(text.data(), text.size(), 0, h);
        EXPECT_EQ(h[0], first) << text;
    }
}

TEST(Hash, PutGetReplaceDestroysOldItemOnce) {
    destroyed = 0;
    HASH_TABLE* table = new_ht(1); // one bucket: every key collides
    ASSERT_NE(table, nullptr);
    for (int i = 0; i < 20; i++)
        ASSERT_EQ(ht_put_ptr(table, ("key" + std::to_string(i)).c_str(), new int(i),
                             count_destroy, nullptr),
                  1);
    void* item = nullptr;
    ASSERT_EQ(ht_get_ptr(table, "key7", &item), 1);
    EXPECT_EQ(*static_cast<int*>(item), 7);
    ASSERT_EQ(ht_put_ptr(table, "key7", new int(70), count_destroy, nullptr), 1);
    EXPECT_TRUE(destroyed == 1 && table->nb_keys == 20u);
    // Storing the very same pointer again must not free it under the caller's feet.
    ASSERT_EQ(ht_get_ptr(table, "key7", &item), 1);
    ASSERT_EQ(ht_put_ptr(table, "key7", item, count_destroy, nullptr), 1);
    EXPECT_TRUE(destroyed == 1 && *static_cast<int*>(item) == 70);
    EXPECT_TRUE(ht_get_ptr(table, "", &item) == 0 && ht_get_ptr(table, "absent", &item) == 0);
    destroy_ht(&table);
    EXPECT_EQ(destroyed, 21);
}

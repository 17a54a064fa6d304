// Doubly linked list of untyped pointers; items are owned through their destroy functions.
#pragma once

#include <cstddef>

typedef void (*LIST_DESTROY_FUNC)(void*);

struct LIST_NODE {
    void* ptr;
    LIST_DESTROY_FUNC destroy_func;
    LIST_NODE* next;
    LIST_NODE* prev;
};

struct LIST {
    size_t count;
    size_t max_count; // 0 means unlimited
    LIST_NODE* start;
    LIST_NODE* end;
};

LIST* new_generic_list(size_t max_count);
void list_empty(LIST* list);
void list_destroy(LIST** list);
int list_push(LIST* list, void* item, LIST_DESTROY_FUNC destroy_func);
int list_unshift(LIST* list, void* item, LIST_DESTROY_FUNC destroy_func);
void* list_pop_f(LIST* list);
void* list_shift_f(LIST* list);
void* remove_list_node_f(LIST* list, LIST_NODE* node);

#include "q/q_list.h"

#include "q/q_common.h"

LIST* new_generic_list(size_t max_count) {
    LIST* list = NULL;
    q_calloc(list, LIST, 1);
    if (!list) return NULL;
    list->max_count = max_count;
    return list;
}

void list_empty(LIST* list) {
    q_assert(list, return);
    LIST_NODE* node = list->start;
    while (node) {
        LIST_NODE* next = node->next;
        if (node->destroy_func && node->ptr) node->destroy_func(node->ptr);
        free(node);
        node = next;
    }
    list->start = list->end = NULL;
    list->count = 0;
}

void list_destroy(LIST** list) {
    q_assert(list, return);
    if (!*list) return;
    list_empty(*list);
    free(*list);
    *list = NULL;
}

namespace {

LIST_NODE* make_node(LIST* list, void* item, LIST_DESTROY_FUNC destroy_func) {
    if (!list) {
        q_log(3, "invalid list: NULL");
        return NULL;
    }
    if (!item) {
        q_log(3, "invalid ptr: NULL");
        return NULL;
    }
    if (list->max_count != 0 && list->count >= list->max_count) {
        q_log(3, "list is full");
        return NULL;
    }
    LIST_NODE* node = static_cast<LIST_NODE*>(calloc(1, sizeof(LIST_NODE)));
    if (!node) {
        q_log(3, "Couldn't allocate new node");
        return NULL;
    }
    node->ptr = item;
    node->destroy_func = destroy_func;
    return node;
}

} // namespace

int list_push(LIST* list, void* item, LIST_DESTROY_FUNC destroy_func) {
    LIST_NODE* node = make_node(list, item, destroy_func);
    if (!node) return 0;
    node->prev = list->end;
    if (list->end) list->end->next = node;
    else list->start = node;
    list->end = node;
    list->count++;
    return 1;
}

int list_unshift(LIST* list, void* item, LIST_DESTROY_FUNC destroy_func) {
    LIST_NODE* node = make_node(list, item, destroy_func);
    if (!node) return 0;
    node->next = list->start;
    if (list->start) list->start->prev = node;
    else list->end = node;
    list->start = node;
    list->count++;
    return 1;
}

void* list_pop_f(LIST* list) {
    q_assert(list, return NULL);
    if (!list->end) return NULL;
    return remove_list_node_f(list, list->end);
}

void* list_shift_f(LIST* list) {
    q_assert(list, return NULL);
    if (!list->start) return NULL;
    return remove_list_node_f(list, list->start);
}

void* remove_list_node_f(LIST* list, LIST_NODE* node) {
    if (!list) {
        q_log(3, "can't remove from NULL list");
        return NULL;
    }
    if (!list->start) {
        q_log(3, "can't remove from NULL list->start");
        return NULL;
    }
    if (!list->end) {
        q_log(3, "can't remove from NULL list->end");
        return NULL;
    }
    if (!node) {
        q_log(3, "can't remove from NULL node");
        return NULL;
    }
    if (node->prev) node->prev->next = node->next;
    else list->start = node->next;
    if (node->next) node->next->prev = node->prev;
    else list->end = node->prev;
    void* item = node->ptr;
    free(node);
    list->count--;
    return item;
}

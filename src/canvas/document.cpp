#include "canvas/document.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "q/q_common.h"
#include "q/q_log.h"

namespace {

const char* _layer_label(const LAYER* layer) {
    return (layer && layer->name && layer->name->data) ? layer->name->data : "NULL";
}

LIST_NODE* _node_at(const LIST* layers, size_t index) {
    LIST_NODE* node = layers->start;
    for (size_t i = 0; node && i < index; i++)
        node = node->next;
    return node;
}

// Makes `wanted` the active layer when it is still in the stack; otherwise the top layer
// takes its place, so active_layer never points at a layer the document no longer holds.
void _document_settle_active(DOCUMENT* doc, LAYER* wanted) {
    if (wanted && document_layer_index(doc, wanted, NULL)) {
        doc->active_layer = wanted;
        return;
    }
    doc->active_layer = doc->layers->end ? static_cast<LAYER*>(doc->layers->end->ptr) : NULL;
}

} // namespace

DOCUMENT* document_new(int width, int height) {
    if (width < 1 || height < 1) {
        q_log(3, "bad document size %dx%d", width, height);
        return NULL;
    }
    DOCUMENT* doc = NULL;
    q_calloc(doc, DOCUMENT, 1);
    if (!doc) return NULL;
    doc->width = width;
    doc->height = height;
    doc->active_layer = NULL;
    doc->background = al_map_rgb_f(1.0f, 1.0f, 1.0f);
    doc->layer_counter = 0;
    doc->template_index = 0;
    doc->layers = new_generic_list(SIZE_MAX);
    if (!doc->layers) {
        q_log(3, "could not create layer list or undo system");
        q_free(doc);
        return NULL;
    }
    return doc;
}

void document_free(DOCUMENT** doc) {
    q_assert(doc, return);
    q_assert((*doc), return);
    if ((*doc)->layers) list_destroy(&(*doc)->layers);
    q_free(*doc);
}

LAYER* document_add_layer(DOCUMENT* doc, const char* name) {
    q_assert(doc, return NULL);
    q_assert(doc->layers, return NULL);

    doc->layer_counter++;
    char default_name[64];
    if (!name) {
        snprintf(default_name, sizeof default_name, "Layer %u", doc->layer_counter);
        name = default_name;
    }
    LAYER* layer = layer_new(name, doc->width, doc->height);
    if (!layer) return NULL;
    if (!list_push(doc->layers, layer, layer_free_ptr)) {
        q_log(3, "could not push layer %s", name);
        layer_free(&layer);
        return NULL;
    }
    doc->active_layer = layer;
    q_log(6, "added layer %s (%dx%d)", name, doc->width, doc->height);
    return layer;
}

size_t document_layer_count(const DOCUMENT* doc) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    return doc->layers->count;
}

LAYER* document_layer_at(const DOCUMENT* doc, size_t index) {
    q_assert(doc, return NULL);
    q_assert(doc->layers, return NULL);
    LIST_NODE* node = _node_at(doc->layers, index);
    return node ? static_cast<LAYER*>(node->ptr) : NULL;
}

int document_layer_index(const DOCUMENT* doc, const LAYER* layer, size_t* index) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    q_assert(layer, return 0);
    size_t i = 0;
    for (LIST_NODE* node = doc->layers->start; node; node = node->next, i++) {
        if (node->ptr == layer) {
            if (index) *index = i;
            return 1;
        }
    }
    return 0;
}

LAYER* document_detach_layer(DOCUMENT* doc, size_t index) {
    q_assert(doc, return NULL);
    q_assert(doc->layers, return NULL);
    LIST_NODE* detached = _node_at(doc->layers, index);
    q_assert(detached, return NULL);

    auto* layer = static_cast<LAYER*>(remove_list_node_f(doc->layers, detached));
    if (!layer) return NULL;
    if (doc->active_layer == layer) {
        const size_t count = doc->layers->count;
        doc->active_layer = count ? document_layer_at(doc, std::min(index, count - 1)) : NULL;
    }
    return layer;
}

int document_insert_layer(DOCUMENT* doc, LAYER* layer, size_t index) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    q_assert(layer, return 0);
    // A second node for the same layer would free it twice when the stack is destroyed.
    if (document_layer_index(doc, layer, NULL)) {
        q_log(3, "layer %s is already in the stack", _layer_label(layer));
        return 0;
    }

    const size_t count = doc->layers->count;
    index = std::min(index, count);
    const size_t depth = count - index;
    if (depth > DOCUMENT_MAX_INSERT_DEPTH) {
        q_log(3, "layer stack too deep for insert (%zu)", count);
        return 0;
    }
    if (depth == 0) return list_push(doc->layers, layer, layer_free_ptr);

    // The list only grows at its ends: lift the layers above the insertion point off the top
    // (top first), push the new layer, then put them back in their old order.
    std::array<LAYER*, DOCUMENT_MAX_INSERT_DEPTH> above{};
    for (size_t i = 0; i < depth; i++)
        above[i] = static_cast<LAYER*>(list_pop_f(doc->layers));

    LAYER* const active = doc->active_layer;
    int result = list_push(doc->layers, layer, layer_free_ptr);
    bool lost_active = false;
    for (size_t i = depth; i-- > 0;) {
        if (!above[i]) continue;
        if (!list_push(doc->layers, above[i], layer_free_ptr)) {
            q_log(3, "lost layer %s while rebuilding the stack", _layer_label(above[i]));
            lost_active = lost_active || above[i] == active;
            layer_free(&above[i]);
            result = 0;
        }
    }
    if (lost_active) _document_settle_active(doc, NULL);
    return result;
}

int document_move_layer(DOCUMENT* doc, size_t from, size_t to) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    const size_t count = doc->layers->count;
    if (from == to || std::max(from, to) >= count) return 0;

    // Once the layer is detached the stack holds count - 1 layers and `to` lies
    // count - 1 - to positions below its top. Refuse here rather than detach a layer the
    // insert would then turn away.
    if (count - 1 - to > DOCUMENT_MAX_INSERT_DEPTH) {
        q_log(3, "layer stack too deep for insert (%zu)", count - 1);
        return 0;
    }

    LAYER* const active = doc->active_layer;
    LAYER* moved = document_detach_layer(doc, from);
    if (!moved) return 0;
    const int result = document_insert_layer(doc, moved, to);
    // Only a failed allocation gets here: put the layer back where it was rather than drop it.
    if (!result && !document_layer_index(doc, moved, NULL) &&
        !document_insert_layer(doc, moved, from)) {
        q_log(3, "lost layer %s while rebuilding the stack", _layer_label(moved));
        layer_free(&moved);
    }
    _document_settle_active(doc, active);
    return result;
}

int document_backup_active(DOCUMENT* doc) {
    q_assert(doc, return 0);
    q_assert(doc->active_layer, return 0);
    return layer_backup(doc->active_layer);
}

int document_restore_all(DOCUMENT* doc) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    int result = 1;
    for (LIST_NODE* node = doc->layers->start; node; node = node->next) {
        if (!layer_restore(static_cast<LAYER*>(node->ptr))) result = 0;
    }
    return result;
}

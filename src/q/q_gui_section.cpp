// ============================================================================================
// Toolkit section lists: collapsible sections stacked in one window
//   [SECTION] Life cycle
//   [SECTION] Sections and their widgets
//   [SECTION] Layout and folding
//
// The context keeps a list of the live section lists. Destroying the context unhooks them, and
// freeing a list first unhooks its header buttons, so neither can reach the other afterwards.
// ============================================================================================
#include <cstdio>
#include <cstring>

#include "q/q_common.h"
#include "q/q_gui_internal.h"

namespace {

void header_clicked(int widget_id, void* user);

bool valid_section(const Q_GUI_SECTIONLIST* list, int section) {
    return list && section >= 0 && section < list->section_count;
}

void set_header_label(Q_GUI_SECTIONLIST* list, const Q_GUI_SECTION& s) {
    char label[sizeof s.title + 4];
    snprintf(label, sizeof label, "%s %s", s.folded ? "+" : "-", s.title);
    q_gui_button_set_label(list->ctx, s.header_id, label);
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Life cycle
// --------------------------------------------------------------------------------------------

Q_GUI_SECTIONLIST* q_gui_sectionlist_create(Q_GUI_CTX* ctx, int window_id, float x, float y,
                                            float w, float header_h, float gap,
                                            Q_GUI_SECTION_CB toggle_cb, void* user) {
    q_assert(ctx, return NULL);
    Q_GUI_SECTIONLIST* sl = NULL;
    q_calloc(sl, Q_GUI_SECTIONLIST, 1);
    if (!sl) return NULL;
    sl->ctx = ctx;
    sl->window_id = window_id;
    sl->x = _sane_position(x);
    sl->y = _sane_position(y);
    sl->w = _sane_extent(w);
    sl->header_h = _sane_extent(header_h);
    sl->gap = _sane_extent(gap);
    sl->toggle_cb = toggle_cb;
    sl->user = user;
    if (!list_push(ctx->sectionlists, sl, NULL)) {
        free(sl);
        return NULL;
    }
    return sl;
}

void q_gui_sectionlist_free(Q_GUI_SECTIONLIST** list) {
    q_assert(list, return );
    Q_GUI_SECTIONLIST* sl = *list;
    if (!sl) return;
    if (Q_GUI_CTX* ctx = sl->ctx) {
        // The header buttons outlive the list: they must not call back into freed memory.
        for (int i = 0; i < sl->section_count; i++)
            if (Q_GUI_WIDGET* w = _widget_of(ctx, sl->sections[i].header_id, Q_GUI_KIND_BUTTON)) {
                Q_GUI_BUTTON_DATA* bd = static_cast<Q_GUI_BUTTON_DATA*>(w->data);
                bd->cb = NULL;
                bd->user = NULL;
            }
        for (LIST_NODE* n = ctx->sectionlists->start; n; n = n->next)
            if (n->ptr == sl) {
                remove_list_node_f(ctx->sectionlists, n);
                break;
            }
    }
    free(sl);
    *list = NULL;
}

int q_gui_sectionlist_get_count(Q_GUI_SECTIONLIST* list) {
    q_assert(list, return 0);
    return list->section_count;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Sections and their widgets
// --------------------------------------------------------------------------------------------

int q_gui_sectionlist_add_section(Q_GUI_SECTIONLIST* list, const char* title, float y, int folded) {
    q_assert(list, return -1);
    q_assert(title, return -1);
    if (!list->ctx || list->section_count >= Q_GUI_SECTIONS_MAX) return -1;
    Q_GUI_SECTION& s = list->sections[list->section_count];
    memset(&s, 0, sizeof s);
    _copy_text(s.title, sizeof s.title, title);
    s.folded = folded != 0;
    char label[sizeof s.title + 4];
    snprintf(label, sizeof label, "%s %s", s.folded ? "+" : "-", s.title);
    s.header_id = q_gui_add_button(list->ctx, list->window_id, label, list->x, y, list->w,
                                   list->header_h, Q_GUI_SHAPE_ROUNDED, header_clicked, list);
    if (s.header_id < 0) return -1;
    return list->section_count++;
}

void q_gui_sectionlist_add_widget(Q_GUI_SECTIONLIST* list, int section, int widget_id) {
    q_assert(list, return );
    if (!valid_section(list, section) || !list->ctx) return;
    Q_GUI_SECTION& s = list->sections[section];
    if (s.widget_count >= Q_GUI_SECTION_WIDGETS_MAX) return;
    const Q_GUI_WIDGET* w = _widget(list->ctx, widget_id);
    const Q_GUI_WIDGET* header = _widget(list->ctx, s.header_id);
    if (!w || !header) return;
    const float offset = w->y - (header->y + list->header_h + list->gap);
    s.widget_ids[s.widget_count] = widget_id;
    s.widget_offsets[s.widget_count] = offset;
    s.widget_count++;
    s.content_h = std::max(s.content_h, offset + w->h);
}

void q_gui_sectionlist_set_first_inset(Q_GUI_SECTIONLIST* list, float inset) {
    q_assert(list, return );
    list->first_inset = std::isfinite(inset) ? std::clamp(inset, 0.0f, Q_GUI_MAX_COORD) : 0.0f;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Layout and folding
// --------------------------------------------------------------------------------------------

void q_gui_sectionlist_relayout(Q_GUI_SECTIONLIST* list) {
    q_assert(list, return );
    Q_GUI_CTX* ctx = list->ctx;
    if (!ctx) return;
    float cursor = list->y;
    for (int i = 0; i < list->section_count; i++) {
        Q_GUI_SECTION& s = list->sections[i];
        const float inset = i == 0 ? list->first_inset : 0.0f;
        if (Q_GUI_WIDGET* header = _widget(ctx, s.header_id)) {
            header->x = list->x + inset;
            header->y = cursor;
            header->w = std::max(0.0f, list->w - inset);
            _capture_widget_norm(header);
        }
        cursor += list->header_h + list->gap;
        for (int k = 0; k < s.widget_count; k++) {
            Q_GUI_WIDGET* w = _widget(ctx, s.widget_ids[k]);
            if (!w) continue;
            if (s.folded) {
                q_gui_set_widget_visible(ctx, w->id, 0);
                continue;
            }
            w->visible = 1;
            w->y = cursor + s.widget_offsets[k];
            _capture_widget_norm(w);
        }
        if (!s.folded) cursor += s.content_h + list->gap;
        set_header_label(list, s);
    }
    ctx->dirty = 1;
}

void q_gui_sectionlist_set_folded(Q_GUI_SECTIONLIST* list, int section, int folded) {
    q_assert(list, return );
    if (!valid_section(list, section)) return;
    list->sections[section].folded = folded != 0;
    q_gui_sectionlist_relayout(list);
}

int q_gui_sectionlist_is_folded(Q_GUI_SECTIONLIST* list, int section) {
    q_assert(list, return 0);
    return (valid_section(list, section) && list->sections[section].folded) ? 1 : 0;
}

float q_gui_sectionlist_content_height(Q_GUI_SECTIONLIST* list) {
    q_assert(list, return 0.0f);
    float height = list->y;
    for (int i = 0; i < list->section_count; i++) {
        const Q_GUI_SECTION& s = list->sections[i];
        height += list->header_h + list->gap;
        if (!s.folded) height += s.content_h + list->gap;
    }
    return height;
}

namespace {

void header_clicked(int widget_id, void* user) {
    Q_GUI_SECTIONLIST* list = static_cast<Q_GUI_SECTIONLIST*>(user);
    if (!list) return;
    for (int i = 0; i < list->section_count; i++) {
        if (list->sections[i].header_id != widget_id) continue;
        const int folded = !list->sections[i].folded;
        list->sections[i].folded = folded;
        q_gui_sectionlist_relayout(list);
        if (list->toggle_cb) list->toggle_cb(i, folded, list->user);
        return;
    }
}

} // namespace

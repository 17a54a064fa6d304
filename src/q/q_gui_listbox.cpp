// ============================================================================================
// Toolkit list boxes and combo boxes: items, selection, pointer, wheel, keys and drawing
//   [SECTION] Item arrays
//   [SECTION] List box: creation, items and selection
//   [SECTION] List box: pointer, wheel and keys
//   [SECTION] Combo box: creation, items and selection
//   [SECTION] Combo box: drop-down list
//   [SECTION] Drawing
// ============================================================================================
#include <allegro5/allegro_primitives.h>

#include <climits>
#include <cstring>

#include "q/q_common.h"
#include "q/q_gui_internal.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Item arrays
// --------------------------------------------------------------------------------------------

namespace {

// No list the interface shows comes near this; it keeps the doubling far from overflowing.
constexpr int ITEMS_MAX = 1 << 20;

// Grows the array to hold one more item: 8 first, then twice the size.
bool _items_grow(Q_GUI_LISTITEM** items, int count, int* capacity) {
    if (count < *capacity) return true;
    if (*capacity >= ITEMS_MAX) {
        q_log(3, "list holds %d items already, refusing more", *capacity);
        return false;
    }
    const int wanted = *capacity == 0 ? 8 : *capacity * 2;
    Q_GUI_LISTITEM* tmp = NULL;
    q_calloc(tmp, Q_GUI_LISTITEM, static_cast<size_t>(wanted));
    if (!tmp) return false;
    if (count > 0) memcpy(tmp, *items, static_cast<size_t>(count) * sizeof *tmp);
    free(*items);
    *items = tmp;
    *capacity = wanted;
    return true;
}

int items_add(Q_GUI_LISTITEM** items, int* count, int* capacity, const char* text) {
    if (!_items_grow(items, *count, capacity)) return -1;
    Q_GUI_LISTITEM& item = (*items)[*count];
    memset(&item, 0, sizeof item);
    _copy_text(item.text, sizeof item.text, text);
    return (*count)++;
}

Q_GUI_LISTBOX_DATA* listbox(Q_GUI_CTX* ctx, int id) {
    Q_GUI_WIDGET* w = _widget_of(ctx, id, Q_GUI_KIND_LISTBOX);
    return w ? static_cast<Q_GUI_LISTBOX_DATA*>(w->data) : NULL;
}

Q_GUI_COMBOBOX_DATA* combobox(Q_GUI_CTX* ctx, int id) {
    Q_GUI_WIDGET* w = _widget_of(ctx, id, Q_GUI_KIND_COMBOBOX);
    return w ? static_cast<Q_GUI_COMBOBOX_DATA*>(w->data) : NULL;
}

} // namespace

float _row_height(const Q_GUI_CTX* ctx, const ALLEGRO_FONT* font, float item_height) {
    if (!font) return item_height > 0.0f ? item_height : 16.0f;
    const float line = static_cast<float>(al_get_font_line_height(font));
    return item_height > line ? item_height : line + ctx->style.item_height_pad;
}

// --------------------------------------------------------------------------------------------
// [SECTION] List box: creation, items and selection
// --------------------------------------------------------------------------------------------

int q_gui_add_listbox(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h,
                      int selection_mode, Q_GUI_LISTBOX_CB cb, void* user) {
    Q_GUI_WIDGET* wgt = _widget_begin(ctx, window_id, Q_GUI_KIND_LISTBOX, x, y, w, h);
    if (!wgt) return -1;
    Q_GUI_LISTBOX_DATA* ld = NULL;
    q_calloc(ld, Q_GUI_LISTBOX_DATA, 1);
    if (ld) {
        ld->selection_mode =
            selection_mode == Q_GUI_LISTBOX_MULTIPLE ? selection_mode : Q_GUI_LISTBOX_SINGLE;
        ld->item_height = ctx->style.listbox_default_item_height;
        ld->hovered_row = -1;
        ld->cb = cb;
        ld->user = user;
    }
    return _widget_finish(ctx, wgt, ld);
}

int q_gui_listbox_add_item(Q_GUI_CTX* ctx, int id, const char* text) {
    q_assert(ctx, return -1);
    q_assert(text, return -1);
    Q_GUI_LISTBOX_DATA* ld = listbox(ctx, id);
    return ld ? items_add(&ld->items, &ld->count, &ld->capacity, text) : -1;
}

int q_gui_listbox_remove_item(Q_GUI_CTX* ctx, int id, int index) {
    q_assert(ctx, return -1);
    Q_GUI_LISTBOX_DATA* ld = listbox(ctx, id);
    if (!ld || index < 0 || index >= ld->count) return -1;
    memmove(&ld->items[index], &ld->items[index + 1],
            static_cast<size_t>(ld->count - index - 1) * sizeof *ld->items);
    ld->count--;
    if (ld->count == 0)
        ld->first_visible = 0;
    else if (ld->first_visible >= ld->count)
        ld->first_visible = ld->count - 1;
    ld->hovered_row = -1;
    return 0;
}

void q_gui_listbox_clear(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    Q_GUI_LISTBOX_DATA* ld = listbox(ctx, id);
    if (!ld) return;
    ld->count = 0;
    ld->first_visible = 0;
    ld->hscroll = 0.0f;
    ld->hovered_row = -1;
}

int q_gui_listbox_get_count(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    const Q_GUI_LISTBOX_DATA* ld = listbox(ctx, id);
    return ld ? ld->count : 0;
}

const char* q_gui_listbox_get_item_text(Q_GUI_CTX* ctx, int id, int index) {
    q_assert(ctx, return NULL);
    const Q_GUI_LISTBOX_DATA* ld = listbox(ctx, id);
    return (ld && index >= 0 && index < ld->count) ? ld->items[index].text : NULL;
}

int q_gui_listbox_get_selected(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return -1);
    const Q_GUI_LISTBOX_DATA* ld = listbox(ctx, id);
    if (!ld) return -1;
    for (int i = 0; i < ld->count; i++)
        if (ld->items[i].selected) return i;
    return -1;
}

int q_gui_listbox_is_selected(Q_GUI_CTX* ctx, int id, int index) {
    q_assert(ctx, return 0);
    const Q_GUI_LISTBOX_DATA* ld = listbox(ctx, id);
    return (ld && index >= 0 && index < ld->count && ld->items[index].selected) ? 1 : 0;
}

namespace {

void select_only(Q_GUI_LISTBOX_DATA* ld, int index) {
    for (int i = 0; i < ld->count; i++)
        ld->items[i].selected = i == index;
}

} // namespace

void q_gui_listbox_set_selected(Q_GUI_CTX* ctx, int id, int index, int selected) {
    q_assert(ctx, return );
    Q_GUI_LISTBOX_DATA* ld = listbox(ctx, id);
    if (!ld || index < 0 || index >= ld->count) return;
    if (ld->selection_mode == Q_GUI_LISTBOX_SINGLE && selected) select_only(ld, index);
    ld->items[index].selected = selected != 0;
}

int q_gui_listbox_get_scroll_offset(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    const Q_GUI_LISTBOX_DATA* ld = listbox(ctx, id);
    return ld ? ld->first_visible : 0;
}

void q_gui_listbox_set_scroll_offset(Q_GUI_CTX* ctx, int id, int first_visible) {
    q_assert(ctx, return );
    Q_GUI_LISTBOX_DATA* ld = listbox(ctx, id);
    if (ld) ld->first_visible = std::clamp(first_visible, 0, std::max(0, ld->count - 1));
}

void q_gui_listbox_set_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* background,
                               ALLEGRO_BITMAP* item, ALLEGRO_BITMAP* item_selected) {
    q_assert(ctx, return );
    Q_GUI_LISTBOX_DATA* ld = listbox(ctx, id);
    if (!ld) {
        q_log(4, "q_gui_listbox_set_bitmaps: widget %d is not a listbox", id);
        return;
    }
    ld->background = background;
    ld->item_bitmap = item;
    ld->item_selected_bitmap = item_selected;
}

// --------------------------------------------------------------------------------------------
// [SECTION] List box: pointer, wheel and keys
// --------------------------------------------------------------------------------------------

namespace {

float listbox_row_height(const Q_GUI_CTX* ctx, const Q_GUI_WIDGET* w) {
    const Q_GUI_LISTBOX_DATA* ld = static_cast<const Q_GUI_LISTBOX_DATA*>(w->data);
    return _row_height(ctx, _widget_font(ctx, w), ld->item_height);
}

bool listbox_has_scrollbar(const Q_GUI_CTX* ctx, const Q_GUI_WIDGET* w) {
    const Q_GUI_LISTBOX_DATA* ld = static_cast<const Q_GUI_LISTBOX_DATA*>(w->data);
    return ld->count > _listbox_visible_rows(ctx, w);
}

int max_first_visible(const Q_GUI_CTX* ctx, const Q_GUI_WIDGET* w) {
    const Q_GUI_LISTBOX_DATA* ld = static_cast<const Q_GUI_LISTBOX_DATA*>(w->data);
    return std::max(0, ld->count - _listbox_visible_rows(ctx, w));
}

void listbox_scroll_to(const Q_GUI_CTX* ctx, const Q_GUI_WIDGET* w, int row) {
    Q_GUI_LISTBOX_DATA* ld = static_cast<Q_GUI_LISTBOX_DATA*>(w->data);
    const int rows = _listbox_visible_rows(ctx, w);
    if (row < ld->first_visible)
        ld->first_visible = row;
    else if (row >= ld->first_visible + rows)
        ld->first_visible = row - rows + 1;
    ld->first_visible = std::clamp(ld->first_visible, 0, max_first_visible(ctx, w));
}

void listbox_scroll_from_pointer(const Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gy) {
    Q_GUI_LISTBOX_DATA* ld = static_cast<Q_GUI_LISTBOX_DATA*>(w->data);
    const Q_GUI_RECT r = _widget_screen_rect(w);
    const float rows = static_cast<float>(_listbox_visible_rows(ctx, w));
    const float scroll = _scroll_from_pointer(gy, r.y, r.h, rows, static_cast<float>(ld->count),
                                              ctx->style.scrollbar_thumb_min);
    ld->first_visible =
        std::clamp(static_cast<int>(std::lround(scroll)), 0, max_first_visible(ctx, w));
}

} // namespace

int _listbox_visible_rows(const Q_GUI_CTX* ctx, const Q_GUI_WIDGET* w) {
    const float row_h = listbox_row_height(ctx, w);
    return std::max(1, static_cast<int>(w->h / row_h));
}

int _listbox_row_at(const Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gy) {
    const Q_GUI_LISTBOX_DATA* ld = static_cast<const Q_GUI_LISTBOX_DATA*>(w->data);
    const Q_GUI_RECT r = _widget_screen_rect(w);
    const float offset = gy - r.y;
    if (offset < 0.0f || offset >= r.h) return -1;
    const int row = static_cast<int>(offset / listbox_row_height(ctx, w)) + ld->first_visible;
    return row < ld->count ? row : -1;
}

Q_GUI_RECT _listbox_row_rect(const Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, int row) {
    const Q_GUI_LISTBOX_DATA* ld = static_cast<const Q_GUI_LISTBOX_DATA*>(w->data);
    const Q_GUI_RECT r = _widget_screen_rect(w);
    const float row_h = listbox_row_height(ctx, w);
    const float top = r.y + static_cast<float>(row - ld->first_visible) * row_h;
    if (row < 0 || top >= r.y + r.h || top + row_h <= r.y) return Q_GUI_RECT{r.x, r.y, 0, 0};
    const float y0 = std::max(r.y, top), y1 = std::min(r.y + r.h, top + row_h);
    return Q_GUI_RECT{r.x, y0, r.w, y1 - y0};
}

void _listbox_press(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gx, float gy) {
    Q_GUI_LISTBOX_DATA* ld = static_cast<Q_GUI_LISTBOX_DATA*>(w->data);
    const Q_GUI_RECT r = _widget_screen_rect(w);
    if (listbox_has_scrollbar(ctx, w) && gx >= r.x + r.w - ctx->style.scrollbar_size) {
        ld->scroll_drag = 1;
        listbox_scroll_from_pointer(ctx, w, gy);
        return;
    }
    const int row = _listbox_row_at(ctx, w, gy);
    if (row < 0) return;
    if (ld->selection_mode == Q_GUI_LISTBOX_SINGLE) {
        select_only(ld, row);
        if (ld->cb) ld->cb(w->id, row, 1, ld->user);
    } else {
        ld->items[row].selected = !ld->items[row].selected;
        if (ld->cb) ld->cb(w->id, row, ld->items[row].selected, ld->user);
    }
}

void _listbox_drag(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float gy) {
    if (static_cast<Q_GUI_LISTBOX_DATA*>(w->data)->scroll_drag)
        listbox_scroll_from_pointer(ctx, w, gy);
}

int _listbox_wheel(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, int dz, int dw) {
    Q_GUI_LISTBOX_DATA* ld = static_cast<Q_GUI_LISTBOX_DATA*>(w->data);
    if (dz) {
        const long first = static_cast<long>(ld->first_visible) - dz;
        ld->first_visible =
            static_cast<int>(std::clamp(first, 0L, static_cast<long>(max_first_visible(ctx, w))));
    }
    if (dw) {
        const ALLEGRO_FONT* font = _widget_font(ctx, w);
        float widest = 0.0f;
        for (int i = 0; i < ld->count; i++) {
            const Q_GUI_LISTITEM& item = ld->items[i];
            widest = std::max(
                widest, _text_width(ctx, font, item.text, static_cast<int>(strlen(item.text))));
        }
        const float room = w->w - 2.0f * ctx->style.item_text_padding -
                           (listbox_has_scrollbar(ctx, w) ? ctx->style.scrollbar_size : 0.0f);
        ld->hscroll = std::clamp(ld->hscroll + static_cast<float>(dw) * ctx->style.scroll_step,
                                 0.0f, std::max(0.0f, widest - room));
    }
    return 1;
}

int _listbox_key(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, int keycode) {
    Q_GUI_LISTBOX_DATA* ld = static_cast<Q_GUI_LISTBOX_DATA*>(w->data);
    if (ld->selection_mode != Q_GUI_LISTBOX_SINGLE || ld->count == 0) return 0;
    int current = -1;
    for (int i = 0; i < ld->count; i++)
        if (ld->items[i].selected) {
            current = i;
            break;
        }
    int next = current;
    switch (keycode) {
    case ALLEGRO_KEY_UP:
        next = current < 0 ? 0 : std::max(0, current - 1);
        break;
    case ALLEGRO_KEY_DOWN:
        next = std::min(ld->count - 1, current + 1);
        break;
    case ALLEGRO_KEY_HOME:
        next = 0;
        break;
    case ALLEGRO_KEY_END:
        next = ld->count - 1;
        break;
    default:
        return 0;
    }
    select_only(ld, next);
    listbox_scroll_to(ctx, w, next);
    if (next != current && ld->cb) ld->cb(w->id, next, 1, ld->user);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Combo box: creation, items and selection
// --------------------------------------------------------------------------------------------

int q_gui_add_combobox(Q_GUI_CTX* ctx, int window_id, float x, float y, float w, float h,
                       Q_GUI_COMBO_CB cb, void* user) {
    Q_GUI_WIDGET* wgt = _widget_begin(ctx, window_id, Q_GUI_KIND_COMBOBOX, x, y, w, h);
    if (!wgt) return -1;
    Q_GUI_COMBOBOX_DATA* cd = NULL;
    q_calloc(cd, Q_GUI_COMBOBOX_DATA, 1);
    if (cd) {
        cd->selected = -1;
        cd->highlighted = -1;
        cd->max_visible = std::max(1, ctx->style.combobox_max_visible);
        cd->cb = cb;
        cd->user = user;
    }
    return _widget_finish(ctx, wgt, cd);
}

int q_gui_combobox_add_item(Q_GUI_CTX* ctx, int id, const char* text) {
    q_assert(ctx, return -1);
    q_assert(text, return -1);
    Q_GUI_COMBOBOX_DATA* cd = combobox(ctx, id);
    return cd ? items_add(&cd->items, &cd->count, &cd->capacity, text) : -1;
}

void q_gui_combobox_clear(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return );
    Q_GUI_COMBOBOX_DATA* cd = combobox(ctx, id);
    if (!cd) return;
    if (cd->items) memset(cd->items, 0, static_cast<size_t>(cd->capacity) * sizeof *cd->items);
    cd->count = 0;
    cd->selected = -1;
    cd->highlighted = -1;
    cd->first_visible = 0;
    if (ctx->open_combo_id == id) _combo_close(ctx);
}

int q_gui_combobox_get_count(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return 0);
    const Q_GUI_COMBOBOX_DATA* cd = combobox(ctx, id);
    return cd ? cd->count : 0;
}

int q_gui_combobox_get_selected(Q_GUI_CTX* ctx, int id) {
    q_assert(ctx, return -1);
    const Q_GUI_COMBOBOX_DATA* cd = combobox(ctx, id);
    return cd ? cd->selected : -1;
}

const char* q_gui_combobox_get_item_text(Q_GUI_CTX* ctx, int id, int index) {
    q_assert(ctx, return NULL);
    const Q_GUI_COMBOBOX_DATA* cd = combobox(ctx, id);
    return (cd && index >= 0 && index < cd->count) ? cd->items[index].text : NULL;
}

void q_gui_combobox_set_selected(Q_GUI_CTX* ctx, int id, int index) {
    q_assert(ctx, return );
    Q_GUI_COMBOBOX_DATA* cd = combobox(ctx, id);
    if (cd && index >= -1 && index < cd->count) cd->selected = index;
}

void q_gui_combobox_set_flags(Q_GUI_CTX* ctx, int id, int flags) {
    q_assert(ctx, return );
    if (Q_GUI_COMBOBOX_DATA* cd = combobox(ctx, id)) cd->flags = flags;
}

void q_gui_combobox_set_bitmaps(Q_GUI_CTX* ctx, int id, ALLEGRO_BITMAP* field) {
    q_assert(ctx, return );
    Q_GUI_COMBOBOX_DATA* cd = combobox(ctx, id);
    if (!cd) {
        q_log(4, "q_gui_combobox_set_bitmaps: widget %d is not a combobox", id);
        return;
    }
    cd->field_bitmap = field;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Combo box: drop-down list
// --------------------------------------------------------------------------------------------

namespace {

Q_GUI_WIDGET* open_combo(Q_GUI_CTX* ctx) {
    return _widget_of(ctx, ctx->open_combo_id, Q_GUI_KIND_COMBOBOX);
}

// Keeps the highlighted row among the visible rows of the open list.
void keep_highlight_visible(Q_GUI_COMBOBOX_DATA* cd) {
    const int rows = std::min(cd->count, cd->max_visible);
    if (cd->highlighted < cd->first_visible)
        cd->first_visible = cd->highlighted;
    else if (cd->highlighted >= cd->first_visible + rows)
        cd->first_visible = cd->highlighted - rows + 1;
    cd->first_visible = std::clamp(cd->first_visible, 0, std::max(0, cd->count - rows));
}

void choose(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, int index) {
    Q_GUI_COMBOBOX_DATA* cd = static_cast<Q_GUI_COMBOBOX_DATA*>(w->data);
    cd->selected = index;
    _combo_close(ctx);
    if (cd->cb) cd->cb(w->id, index, cd->user);
}

} // namespace

void _combo_close(Q_GUI_CTX* ctx) {
    if (Q_GUI_WIDGET* w = open_combo(ctx)) static_cast<Q_GUI_COMBOBOX_DATA*>(w->data)->open = 0;
    ctx->open_combo_id = -1;
}

void _combo_toggle(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w) {
    Q_GUI_COMBOBOX_DATA* cd = static_cast<Q_GUI_COMBOBOX_DATA*>(w->data);
    if (cd->open) {
        _combo_close(ctx);
        return;
    }
    _combo_close(ctx);
    cd->open = 1;
    ctx->open_combo_id = w->id;
    cd->highlighted = cd->selected;
    cd->first_visible = 0;
    if (cd->count > cd->max_visible && cd->selected >= 0)
        cd->first_visible =
            std::clamp(cd->selected - cd->max_visible / 2, 0, cd->count - cd->max_visible);
}

Q_GUI_DROPDOWN _combo_dropdown(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w) {
    const Q_GUI_COMBOBOX_DATA* cd = static_cast<const Q_GUI_COMBOBOX_DATA*>(w->data);
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    const Q_GUI_STYLE& st = ctx->style;
    Q_GUI_DROPDOWN dd{};
    dd.rows = std::min(cd->count, cd->max_visible);
    dd.row_h = _row_height(ctx, font, cd->item_height);
    dd.scrollbar = cd->count > dd.rows;
    float widest = 0.0f;
    for (int i = 0; i < cd->count; i++)
        widest = std::max(widest, _text_width(ctx, font, cd->items[i].text,
                                              static_cast<int>(strlen(cd->items[i].text))));
    float width = widest + 2.0f * st.item_text_padding;
    if (dd.scrollbar) width += std::max(10.0f, st.scrollbar_size);
    if (st.combobox_max_dropdown_width > 0.0f)
        width = std::min(width, st.combobox_max_dropdown_width);
    const Q_GUI_RECT field = _widget_screen_rect(w);
    const float list_h = static_cast<float>(dd.rows) * dd.row_h;
    const Q_GUI_VIEWPORT vp = _viewport(ctx);
    const float top = ctx->global_scroll_y, bottom = top + vp.h;
    const float right = ctx->global_scroll_x + vp.w;
    dd.rect = Q_GUI_RECT{field.x, field.y + field.h, width, list_h};
    const bool room_above = field.y - list_h >= top;
    const bool passes_bottom = vp.h > 0.0f && field.y + field.h + list_h > bottom;
    if (room_above && ((cd->flags & Q_GUI_COMBOBOX_OPEN_UP) || passes_bottom))
        dd.rect.y = field.y - list_h;
    // A list that would leave the display on the right is moved left as far as needed.
    if (vp.w > 0.0f && dd.rect.x + width > right)
        dd.rect.x = std::max(ctx->global_scroll_x, right - width);
    return dd;
}

void _combo_dropdown_press(Q_GUI_CTX* ctx, float gx, float gy) {
    Q_GUI_WIDGET* w = open_combo(ctx);
    if (!w) {
        ctx->open_combo_id = -1;
        return;
    }
    Q_GUI_COMBOBOX_DATA* cd = static_cast<Q_GUI_COMBOBOX_DATA*>(w->data);
    const Q_GUI_DROPDOWN dd = _combo_dropdown(ctx, w);
    if (!dd.rect.contains(gx, gy) || dd.rows == 0) {
        _combo_close(ctx);
        return;
    }
    const float bar = std::max(10.0f, ctx->style.scrollbar_size);
    if (dd.scrollbar && gx >= dd.rect.x + dd.rect.w - bar) {
        const float scroll = _scroll_from_pointer(
            gy, dd.rect.y, dd.rect.h, static_cast<float>(dd.rows), static_cast<float>(cd->count),
            std::max(12.0f, ctx->style.scrollbar_thumb_min));
        cd->first_visible =
            std::clamp(static_cast<int>(std::lround(scroll)), 0, cd->count - dd.rows);
        return;
    }
    const int row = cd->first_visible + static_cast<int>((gy - dd.rect.y) / dd.row_h);
    if (row >= 0 && row < cd->count)
        choose(ctx, w, row);
    else
        _combo_close(ctx);
}

int _combo_dropdown_wheel(Q_GUI_CTX* ctx, int dz) {
    Q_GUI_WIDGET* w = open_combo(ctx);
    if (!w) return 0;
    Q_GUI_COMBOBOX_DATA* cd = static_cast<Q_GUI_COMBOBOX_DATA*>(w->data);
    if (cd->count == 0) return 1;
    const long from = cd->highlighted >= 0 ? cd->highlighted : std::max(0, cd->selected);
    cd->highlighted = static_cast<int>(std::clamp(from - dz, 0L, static_cast<long>(cd->count - 1)));
    keep_highlight_visible(cd);
    return 1;
}

int _combo_dropdown_key(Q_GUI_CTX* ctx, int keycode) {
    Q_GUI_WIDGET* w = open_combo(ctx);
    if (!w) return 0;
    Q_GUI_COMBOBOX_DATA* cd = static_cast<Q_GUI_COMBOBOX_DATA*>(w->data);
    const int from = cd->highlighted >= 0 ? cd->highlighted : std::max(0, cd->selected);
    switch (keycode) {
    case ALLEGRO_KEY_UP:
        cd->highlighted = from - 1;
        break;
    case ALLEGRO_KEY_DOWN:
        cd->highlighted = from + 1;
        break;
    case ALLEGRO_KEY_HOME:
        cd->highlighted = 0;
        break;
    case ALLEGRO_KEY_END:
        cd->highlighted = cd->count - 1;
        break;
    case ALLEGRO_KEY_ENTER:
    case ALLEGRO_KEY_PAD_ENTER:
        if (cd->highlighted >= 0 && cd->highlighted < cd->count)
            choose(ctx, w, cd->highlighted);
        else
            _combo_close(ctx);
        return 1;
    case ALLEGRO_KEY_ESCAPE:
        _combo_close(ctx);
        return 1;
    default:
        return 0;
    }
    cd->highlighted = cd->count > 0 ? std::clamp(cd->highlighted, 0, cd->count - 1) : -1;
    if (cd->highlighted >= 0) keep_highlight_visible(cd);
    return 1;
}

int _combo_key(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, int keycode) {
    (void)ctx;
    Q_GUI_COMBOBOX_DATA* cd = static_cast<Q_GUI_COMBOBOX_DATA*>(w->data);
    if (cd->count == 0) return 0;
    int next = cd->selected;
    switch (keycode) {
    case ALLEGRO_KEY_UP:
        if (cd->selected > 0) next = cd->selected - 1;
        break;
    case ALLEGRO_KEY_DOWN:
        if (cd->selected < cd->count - 1) next = cd->selected + 1;
        break;
    case ALLEGRO_KEY_HOME:
        next = 0;
        break;
    case ALLEGRO_KEY_END:
        next = cd->count - 1;
        break;
    default:
        return 0;
    }
    if (next != cd->selected) {
        cd->selected = next;
        if (cd->cb) cd->cb(w->id, next, cd->user);
    }
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Drawing
// --------------------------------------------------------------------------------------------

namespace {

void draw_row_text(Q_GUI_CTX* ctx, const ALLEGRO_FONT* font, ALLEGRO_COLOR colour, float x,
                   float row_y, float row_h, float max_w, const char* text) {
    if (!font) return;
    const float ty = row_y + (row_h - static_cast<float>(al_get_font_line_height(font))) / 2.0f;
    _draw_text_fit(ctx, font, colour, x, ty, max_w, text, static_cast<int>(strlen(text)));
}

void fill_inset(Q_GUI_RECT r, float inset, ALLEGRO_COLOR colour) {
    _fill_rect(r.x + inset, r.y + inset, r.x + r.w - inset, r.y + r.h - inset, colour);
}

} // namespace

void _draw_listbox(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y) {
    Q_GUI_LISTBOX_DATA* ld = static_cast<Q_GUI_LISTBOX_DATA*>(w->data);
    const Q_GUI_THEME& th = w->theme;
    const Q_GUI_STYLE& st = ctx->style;
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    const Q_GUI_RECT r{x, y, w->w, w->h};
    if (ld->background)
        _draw_bitmap_scaled(ld->background, r);
    else
        _fill_rect(r.x, r.y, r.x + r.w, r.y + r.h, th.bg_normal);
    const float row_h = _row_height(ctx, font, ld->item_height);
    const int rows = _listbox_visible_rows(ctx, w);
    ld->first_visible = std::clamp(ld->first_visible, 0, std::max(0, ld->count - rows));
    const bool bar = ld->count > rows;
    const float text_right = r.x + r.w - (bar ? st.scrollbar_size : 0.0f);
    {
        Q_GUI_CLIP_SCOPE clip(Q_GUI_RECT{r.x, r.y, text_right - r.x, r.h});
        for (int i = ld->first_visible; i < ld->count && i < ld->first_visible + rows + 1; i++) {
            const Q_GUI_LISTITEM& item = ld->items[i];
            const Q_GUI_RECT row{r.x, r.y + static_cast<float>(i - ld->first_visible) * row_h,
                                 text_right - r.x, row_h};
            if (_clipped_away(row)) continue; // a partial redraw of other rows
            ALLEGRO_BITMAP* skin = item.selected ? ld->item_selected_bitmap : ld->item_bitmap;
            if (skin)
                _draw_bitmap_scaled(skin, row);
            else if (item.selected)
                fill_inset(row, st.item_selection_inset, th.bg_active);
            else if (i == ld->hovered_row)
                fill_inset(row, st.item_selection_inset, th.bg_hover);
            const ALLEGRO_COLOR colour = item.selected ? th.text_active : th.text_normal;
            const float tx = row.x + st.item_text_padding - ld->hscroll;
            draw_row_text(ctx, font, colour, tx, row.y, row_h, 1e9f, item.text);
        }
    }
    if (bar) {
        const Q_GUI_RECT track{text_right, r.y, st.scrollbar_size, r.h};
        _draw_vscrollbar(ctx, track, static_cast<float>(rows), static_cast<float>(ld->count),
                         static_cast<float>(ld->first_visible), th.bg_normal, th.bg_hover,
                         st.scrollbar_thumb_min);
        _line(text_right, r.y, text_right, r.y + r.h, th.border_normal, _line_width(1.0f));
    }
    const float lw = _line_width(th.border_thickness);
    _rect_outline(r.x + lw / 2, r.y + lw / 2, r.x + r.w - lw / 2, r.y + r.h - lw / 2,
                  th.border_normal, lw);
}

void _draw_combobox(Q_GUI_CTX* ctx, Q_GUI_WIDGET* w, float x, float y) {
    const Q_GUI_COMBOBOX_DATA* cd = static_cast<const Q_GUI_COMBOBOX_DATA*>(w->data);
    const Q_GUI_STYLE& st = ctx->style;
    const Q_GUI_RECT r{x, y, w->w, w->h};
    if (cd->field_bitmap)
        _draw_bitmap_scaled(cd->field_bitmap, r);
    else
        _draw_themed_rect(&w->theme, w->state, r, st.shape_mode == 1);
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    if (font && cd->selected >= 0 && cd->selected < cd->count) {
        const ALLEGRO_COLOR colour = _state_colours(&w->theme, w->state).text;
        const float max_w = r.w - st.item_text_padding - st.dropdown_arrow_reserve;
        draw_row_text(ctx, font, colour, r.x + st.item_text_padding, r.y, r.h, max_w,
                      cd->items[cd->selected].text);
    }
    const float cx = r.x + r.w - st.dropdown_arrow_reserve / 2.0f;
    const float cy = r.y + r.h / 2.0f;
    const float lw = _line_width(st.dropdown_arrow_thickness);
    _line(cx - st.dropdown_arrow_half_w, cy - st.dropdown_arrow_half_h, cx,
          cy + st.dropdown_arrow_half_h, w->theme.text_normal, lw);
    _line(cx, cy + st.dropdown_arrow_half_h, cx + st.dropdown_arrow_half_w,
          cy - st.dropdown_arrow_half_h, w->theme.text_normal, lw);
}

void _draw_combo_dropdown(Q_GUI_CTX* ctx) {
    Q_GUI_WIDGET* w = open_combo(ctx);
    if (!w || !w->visible || !(w->window->state & Q_GUI_WIN_OPEN)) return;
    Q_GUI_COMBOBOX_DATA* cd = static_cast<Q_GUI_COMBOBOX_DATA*>(w->data);
    const Q_GUI_DROPDOWN dd = _combo_dropdown(ctx, w);
    if (dd.rows == 0) return;
    const Q_GUI_THEME& th = w->theme;
    const Q_GUI_STYLE& st = ctx->style;
    const ALLEGRO_FONT* font = _widget_font(ctx, w);
    const Q_GUI_RECT& r = dd.rect;
    _fill_rect(r.x, r.y, r.x + r.w, r.y + r.h, th.bg_normal);
    const float bar = dd.scrollbar ? std::max(10.0f, st.scrollbar_size) : 0.0f;
    cd->first_visible = std::clamp(cd->first_visible, 0, cd->count - dd.rows);
    for (int k = 0; k < dd.rows; k++) {
        const int i = cd->first_visible + k;
        const Q_GUI_RECT row{r.x, r.y + static_cast<float>(k) * dd.row_h, r.w - bar, dd.row_h};
        if (i == cd->selected)
            fill_inset(row, st.item_selection_inset, th.bg_active);
        else if (i == cd->highlighted)
            fill_inset(row, st.item_selection_inset, th.bg_hover);
        const ALLEGRO_COLOR colour = i == cd->selected ? th.text_active : th.text_normal;
        draw_row_text(ctx, font, colour, row.x + st.item_text_padding, row.y, dd.row_h,
                      r.w - 2.0f * st.item_text_padding - bar, cd->items[i].text);
    }
    if (dd.scrollbar)
        _draw_vscrollbar(ctx, Q_GUI_RECT{r.x + r.w - bar, r.y, bar, r.h},
                         static_cast<float>(dd.rows), static_cast<float>(cd->count),
                         static_cast<float>(cd->first_visible), st.scrollbar_track_color,
                         st.scrollbar_thumb_color, std::max(12.0f, st.scrollbar_thumb_min));
    const float lw = _line_width(st.dropdown_border_thickness);
    _rect_outline(r.x, r.y, r.x + r.w, r.y + r.h, th.border_normal, lw);
}

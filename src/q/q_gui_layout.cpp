// ============================================================================================
// Toolkit layout and theme files (JSON)
//   [SECTION] Reading files and guarding the parser
//   [SECTION] Checked numbers
//   [SECTION] Saving the layout
//   [SECTION] Loading the layout: reading entries
//   [SECTION] Loading the layout: applying entries
//   [SECTION] Theme and style fields
//   [SECTION] Saving and loading the theme
//
// Readers validate everything first and change the context only once the whole file has been
// read: a refused file leaves the GUI exactly as it was. Numbers that are not finite are
// treated as missing, sizes and positions are kept within sane bounds, and the nesting depth
// and the number of values are limited before the parser allocates anything.
// ============================================================================================
#include <cjson/cJSON.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

#include "q/q_common.h"
#include "q/q_gui_internal.h"
#include "q/q_str.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Reading files and guarding the parser
// --------------------------------------------------------------------------------------------

namespace {

constexpr size_t LAYOUT_MAX_BYTES = 4u << 20;
constexpr size_t THEME_MAX_BYTES = 1u << 20;
// Layout files nest five levels deep; anything much deeper is not one of ours.
constexpr int JSON_MAX_DEPTH = 32;
// An upper bound on the values a file may hold, so a file of tiny values cannot make the
// parser build millions of nodes.
constexpr size_t JSON_MAX_VALUES = 1u << 18;

struct JsonDeleter {
    void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// Counts containers, strings and separators (at least one per value) and the nesting depth,
// skipping string contents.
bool json_within_limits(const char* text, size_t size) {
    int depth = 0;
    size_t values = 0;
    bool in_string = false, escaped = false;
    for (size_t i = 0; i < size; i++) {
        const char c = text[i];
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
            continue;
        }
        switch (c) {
        case '"':
            in_string = true;
            values++;
            break;
        case '{':
        case '[':
            if (++depth > JSON_MAX_DEPTH) return false;
            values++;
            break;
        case '}':
        case ']':
            depth--;
            break;
        case ',':
        case ':':
            values++;
            break;
        default:
            break;
        }
        if (values > JSON_MAX_VALUES) return false;
    }
    return true;
}

// Parses `size` bytes after checking size and shape limits; NULL (logged) when refused.
JsonPtr parse_limited(const char* who, const char* text, size_t size, size_t max_bytes) {
    if (size == 0 || size > max_bytes) {
        q_log(3, "%s: %zu bytes is not a usable size (1 to %zu)", who, size, max_bytes);
        return nullptr;
    }
    if (!json_within_limits(text, size)) {
        q_log(3, "%s: nesting deeper than %d or more than %zu values, refused", who, JSON_MAX_DEPTH,
              JSON_MAX_VALUES);
        return nullptr;
    }
    JsonPtr root(cJSON_ParseWithLength(text, size));
    if (!root) q_log(3, "%s: not valid JSON", who);
    return root;
}

// Reads a whole regular file of 1 to `max_bytes` bytes. Sets `missing` when it does not exist.
bool read_small_file(const char* who, const char* path, size_t max_bytes, std::string* out,
                     bool* missing) {
    *missing = false;
    std::unique_ptr<FILE, int (*)(FILE*)> in(fopen(path, "rb"), fclose);
    if (!in) {
        *missing = errno == ENOENT;
        if (!*missing) q_log(3, "%s: couldn't open %s: %s", who, path, strerror(errno));
        return false;
    }
    struct stat info;
    if (fstat(fileno(in.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
        q_log(3, "%s: %s is not a regular file", who, path);
        return false;
    }
    const size_t size = static_cast<size_t>(info.st_size);
    if (info.st_size <= 0 || size > max_bytes) {
        q_log(3, "%s: %s has %lld bytes (1 to %zu accepted)", who, path,
              static_cast<long long>(info.st_size), max_bytes);
        return false;
    }
    char* buf = NULL;
    q_calloc(buf, char, size + 1);
    if (!buf) return false;
    const size_t got = fread(buf, 1, size, in.get());
    out->assign(buf, got);
    free(buf);
    if (got != size) {
        q_log(3, "%s: couldn't read %s", who, path);
        return false;
    }
    return true;
}

// The printed JSON text with a final line feed; empty when it could not be printed.
std::string print_json(const char* who, cJSON* root) {
    char* printed = cJSON_Print(root);
    if (!printed) {
        q_log(3, "%s: couldn't print the JSON text", who);
        return "";
    }
    std::string text(printed);
    cJSON_free(printed);
    text.push_back('\n');
    return text;
}

bool write_json(const char* who, cJSON* root, const char* path) {
    std::string text = print_json(who, root);
    if (text.empty()) return false;
    Q_STR record{text.data(), text.size(), text.size()};
    return qstr_to_file(&record, path) == 1;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Checked numbers
// --------------------------------------------------------------------------------------------

namespace {

// The finite number under `key`, if there is one.
bool number_at(const cJSON* obj, const char* key, double* out) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(obj, key);
    if (!cJSON_IsNumber(item) || !std::isfinite(item->valuedouble)) return false;
    *out = item->valuedouble;
    return true;
}

// A whole number within lo..hi (a fraction is truncated); false when missing or outside.
bool int_at(const cJSON* obj, const char* key, double lo, double hi, long long* out) {
    double v = 0.0;
    if (!number_at(obj, key, &v)) return false;
    v = std::trunc(v);
    if (v < lo || v > hi) return false;
    *out = static_cast<long long>(v);
    return true;
}

bool float_at(const cJSON* obj, const char* key, float lo, float hi, float* out) {
    double v = 0.0;
    if (!number_at(obj, key, &v)) return false;
    *out = static_cast<float>(std::clamp(v, static_cast<double>(lo), static_cast<double>(hi)));
    return true;
}

// A number within lo..hi; anything outside is refused rather than clamped.
bool float_within(const cJSON* obj, const char* key, float lo, float hi, float* out) {
    double v = 0.0;
    if (!number_at(obj, key, &v) || v < lo || v > hi) return false;
    *out = static_cast<float>(v);
    return true;
}

void add_number(cJSON* obj, const char* key, double value) {
    cJSON_AddNumberToObject(obj, key, value);
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Saving the layout
// --------------------------------------------------------------------------------------------

namespace {

JsonPtr layout_json(Q_GUI_CTX* ctx) {
    JsonPtr root(cJSON_CreateObject());
    if (!root) return root;
    add_number(root.get(), "version", 1);
    add_number(root.get(), "display_w", ctx->display_w);
    add_number(root.get(), "display_h", ctx->display_h);
    cJSON* windows = cJSON_AddArrayToObject(root.get(), "windows");
    if (!windows) return nullptr;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        const Q_GUI_WINDOW* win = static_cast<const Q_GUI_WINDOW*>(n->ptr);
        cJSON* obj = cJSON_CreateObject();
        if (!obj || !cJSON_AddItemToArray(windows, obj)) {
            cJSON_Delete(obj);
            return nullptr;
        }
        cJSON_AddStringToObject(obj, "title", win->title);
        const struct {
            const char* key;
            double value;
        } fields[] = {
            {"x", win->x},
            {"y", win->y},
            {"w", win->w},
            {"h", win->h},
            {"state", static_cast<double>(win->state & (Q_GUI_WIN_OPEN | Q_GUI_WIN_MINIMISED |
                                                        Q_GUI_WIN_MAXIMISED))},
            {"flags", static_cast<double>(win->flags)},
            {"z_order", static_cast<double>(win->z_order)},
            {"z_value", static_cast<double>(win->z_value)},
            {"norm_x", win->norm_x},
            {"norm_y", win->norm_y},
            {"norm_w", win->norm_w},
            {"norm_h", win->norm_h},
            {"autofit_flags", static_cast<double>(win->autofit_flags)},
            {"autofit_border", win->autofit_border},
            {"resize_policy", static_cast<double>(win->resize_policy)},
        };
        for (const auto& f : fields)
            add_number(obj, f.key, f.value);
    }
    return root;
}

} // namespace

int q_gui_save_layout_json(Q_GUI_CTX* ctx, const char* filepath) {
    q_assert(ctx, return -1);
    q_assert(filepath, return -1);
    JsonPtr root = layout_json(ctx);
    return root && write_json("q_gui_save_layout_json", root.get(), filepath) ? 0 : -1;
}

int q_gui_layout_json_text(Q_GUI_CTX* ctx, std::string* out) {
    q_assert(ctx, return -1);
    q_assert(out, return -1);
    JsonPtr root = layout_json(ctx);
    *out = root ? print_json("q_gui_layout_json_text", root.get()) : "";
    return out->empty() ? -1 : 0;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Loading the layout: reading entries
// --------------------------------------------------------------------------------------------

namespace {

// One window object of the file, checked; `has_*` tell which keys were present and usable.
struct WindowEntry {
    char title[Q_GUI_TITLE_MAX + 1];
    float x, y, w, h;
    bool has_x, has_y, has_w, has_h;
    long long state, flags, z_order, z_value, autofit_flags, resize_policy;
    bool has_state, has_flags, has_z_order, has_z_value, has_autofit_flags, has_resize_policy;
    float norm[4];
    bool has_norm[4];
    float autofit_border;
    bool has_autofit_border;
    bool consumed;
};

bool read_window_entry(const cJSON* obj, WindowEntry* e) {
    const cJSON* title = cJSON_GetObjectItemCaseSensitive(obj, "title");
    if (!cJSON_IsObject(obj) || !cJSON_IsString(title) || !title->valuestring) return false;
    *e = WindowEntry{};
    _copy_text(e->title, sizeof e->title, title->valuestring);
    const float m = Q_GUI_MAX_COORD;
    e->has_x = float_at(obj, "x", -m, m, &e->x);
    e->has_y = float_at(obj, "y", -m, m, &e->y);
    e->has_w = float_at(obj, "w", 0.0f, m, &e->w);
    e->has_h = float_at(obj, "h", 0.0f, m, &e->h);
    e->has_state = int_at(obj, "state", 0, UINT32_MAX, &e->state);
    e->has_flags = int_at(obj, "flags", 0, UINT32_MAX, &e->flags);
    e->has_z_order = int_at(obj, "z_order", Q_GUI_ZORDER_NORMAL, Q_GUI_ZORDER_POPUP, &e->z_order);
    e->has_z_value = int_at(obj, "z_value", INT_MIN, INT_MAX, &e->z_value);
    e->has_autofit_flags = int_at(obj, "autofit_flags", 0, UINT32_MAX, &e->autofit_flags);
    e->has_resize_policy = int_at(obj, "resize_policy", 0, 2, &e->resize_policy);
    e->has_autofit_border = float_at(obj, "autofit_border", 0.0f, m, &e->autofit_border);
    const char* norm_keys[4] = {"norm_x", "norm_y", "norm_w", "norm_h"};
    for (int i = 0; i < 4; i++)
        e->has_norm[i] = float_within(obj, norm_keys[i], -16.0f, 16.0f, &e->norm[i]);
    return true;
}

// Exactly `count` numbers within lo..hi; false otherwise.
bool number_array(const cJSON* obj, const char* key, int count, double lo, double hi, double* out) {
    const cJSON* arr = cJSON_GetObjectItemCaseSensitive(obj, key);
    if (!cJSON_IsArray(arr) || cJSON_GetArraySize(arr) != count) return false;
    int i = 0;
    const cJSON* item = NULL;
    cJSON_ArrayForEach(item, arr) {
        if (!cJSON_IsNumber(item) || !std::isfinite(item->valuedouble)) return false;
        if (item->valuedouble < lo || item->valuedouble > hi) return false;
        out[i++] = item->valuedouble;
    }
    return true;
}

// A split-pane or data-grid state; false (and the entry is dropped) when anything is off.
bool read_widget_entry(const cJSON* obj, const char* window_title, Q_GUI_PENDING_WIDGET* p) {
    const cJSON* key = cJSON_GetObjectItemCaseSensitive(obj, "key");
    const cJSON* kind = cJSON_GetObjectItemCaseSensitive(obj, "kind");
    if (!cJSON_IsString(key) || !cJSON_IsString(kind) || !key->valuestring || !kind->valuestring)
        return false;
    *p = Q_GUI_PENDING_WIDGET{};
    _copy_text(p->window_title, sizeof p->window_title, window_title);
    _copy_text(p->key, sizeof p->key, key->valuestring);
    if (strcmp(kind->valuestring, "splitpane") == 0) {
        p->kind = Q_GUI_KIND_SPLITPANE;
        return float_at(obj, "ratio", 0.0f, 1.0f, &p->ratio);
    }
    if (strcmp(kind->valuestring, "datagrid") != 0) return false;
    p->kind = Q_GUI_KIND_DATAGRID;
    long long ncols = 0;
    if (!int_at(obj, "ncols", 0, Q_GUI_PENDING_MAX_COLUMNS, &ncols)) return false;
    p->ncols = static_cast<int>(ncols);
    double order[Q_GUI_PENDING_MAX_COLUMNS], visible[Q_GUI_PENDING_MAX_COLUMNS],
        width[Q_GUI_PENDING_MAX_COLUMNS];
    if (!number_array(obj, "order", p->ncols, 0, p->ncols - 1, order) ||
        !number_array(obj, "visible", p->ncols, 0, 1, visible) ||
        !number_array(obj, "width", p->ncols, 0, Q_GUI_MAX_COORD, width))
        return false;
    bool seen[Q_GUI_PENDING_MAX_COLUMNS] = {};
    for (int i = 0; i < p->ncols; i++) {
        const int column = static_cast<int>(order[i]);
        if (seen[column] || column != order[i]) return false; // the order must be a permutation
        seen[column] = true;
        p->order[i] = column;
        p->visible[i] = visible[i] != 0.0;
        p->width[i] = std::max(16.0f, static_cast<float>(width[i]));
    }
    return true;
}

struct LayoutFile {
    float display_w = 0.0f, display_h = 0.0f;
    std::vector<WindowEntry> windows;
    std::vector<Q_GUI_PENDING_WIDGET> widgets;
};

bool read_layout(const cJSON* root, LayoutFile* out) {
    const cJSON* windows = cJSON_GetObjectItemCaseSensitive(root, "windows");
    if (!cJSON_IsObject(root) || !cJSON_IsArray(windows)) return false;
    float_at(root, "display_w", 0.0f, Q_GUI_MAX_COORD, &out->display_w);
    float_at(root, "display_h", 0.0f, Q_GUI_MAX_COORD, &out->display_h);
    const cJSON* obj = NULL;
    cJSON_ArrayForEach(obj, windows) {
        WindowEntry e;
        if (!read_window_entry(obj, &e)) continue;
        out->windows.push_back(e);
        const cJSON* widgets = cJSON_GetObjectItemCaseSensitive(obj, "widgets");
        if (!e.title[0] || !cJSON_IsArray(widgets)) continue;
        const cJSON* wobj = NULL;
        cJSON_ArrayForEach(wobj, widgets) {
            Q_GUI_PENDING_WIDGET p;
            if (read_widget_entry(wobj, e.title, &p))
                out->widgets.push_back(p);
            else
                q_log(4, "q_gui_load_layout_json: a widget entry of \"%s\" is malformed, skipped",
                      e.title);
        }
    }
    return true;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Loading the layout: applying entries
// --------------------------------------------------------------------------------------------

namespace {

constexpr uint32_t STATE_KEPT = Q_GUI_WIN_OPEN | Q_GUI_WIN_MINIMISED | Q_GUI_WIN_MAXIMISED;

// A closed entry gives way to a later open one of the same title, so the open one wins.
void prefer_open_duplicates(std::vector<WindowEntry>& entries) {
    for (size_t i = 0; i < entries.size(); i++) {
        if (entries[i].has_state && (entries[i].state & Q_GUI_WIN_OPEN)) continue;
        for (size_t j = i + 1; j < entries.size(); j++)
            if (strcmp(entries[i].title, entries[j].title) == 0 && entries[j].has_state &&
                (entries[j].state & Q_GUI_WIN_OPEN)) {
                entries[i].consumed = true;
                break;
            }
    }
}

WindowEntry* match(std::vector<WindowEntry>& entries, const char* title) {
    if (!title[0]) return NULL;
    for (WindowEntry& e : entries)
        if (!e.consumed && strncmp(e.title, title, sizeof e.title) == 0) return &e;
    return NULL;
}

// A position outside the display becomes 0; a size is kept between 20 and the display.
float place(float v, float display) {
    return (display > 0.0f && (v < 0.0f || v > display)) ? 0.0f : v;
}
float extent(float v, float display) {
    return std::clamp(v, 20.0f, display > 0.0f ? std::max(20.0f, display) : Q_GUI_MAX_COORD);
}

void apply_entry(Q_GUI_CTX* ctx, Q_GUI_WINDOW* win, const WindowEntry& e, float sx, float sy) {
    if (e.has_x) win->x = place(e.x * sx, ctx->display_w);
    if (e.has_y) win->y = place(e.y * sy, ctx->display_h);
    if (e.has_w) win->w = extent(e.w, ctx->display_w);
    if (e.has_h) win->h = extent(e.h, ctx->display_h);
    if (e.has_state)
        win->state = (win->state & ~STATE_KEPT) | (static_cast<uint32_t>(e.state) & STATE_KEPT);
    if (e.has_flags) win->flags = static_cast<uint32_t>(e.flags);
    if (e.has_z_order) win->z_order = static_cast<int>(e.z_order);
    if (e.has_z_value) win->z_value = static_cast<int>(e.z_value);
    float* norm[4] = {&win->norm_x, &win->norm_y, &win->norm_w, &win->norm_h};
    for (int i = 0; i < 4; i++)
        if (e.has_norm[i]) *norm[i] = e.norm[i];
    if (e.has_autofit_flags) win->autofit_flags = static_cast<uint32_t>(e.autofit_flags);
    if (e.has_autofit_border) win->autofit_border = e.autofit_border;
    if (e.has_resize_policy) win->resize_policy = static_cast<int>(e.resize_policy);
}

template <typename T> bool copy_array(const std::vector<T>& from, T** to) {
    *to = NULL;
    if (from.empty()) return true;
    T* arr = NULL;
    q_calloc(arr, T, from.size());
    if (!arr) return false;
    memcpy(arr, from.data(), from.size() * sizeof(T));
    *to = arr;
    return true;
}

} // namespace

int q_gui_load_layout_json_mem(Q_GUI_CTX* ctx, const char* text, size_t size) {
    q_assert(ctx, return -1);
    q_assert(text, return -1);
    JsonPtr root = parse_limited("q_gui_load_layout_json", text, size, LAYOUT_MAX_BYTES);
    if (!root) return -1;
    LayoutFile file;
    if (!read_layout(root.get(), &file)) {
        q_log(3, "q_gui_load_layout_json: no \"windows\" array, not a layout");
        return -1;
    }
    root.reset();
    const float sx =
        (ctx->display_w > 0.0f && file.display_w > 0.0f) ? ctx->display_w / file.display_w : 1.0f;
    const float sy =
        (ctx->display_h > 0.0f && file.display_h > 0.0f) ? ctx->display_h / file.display_h : 1.0f;

    // Match first, allocate second, change the context last: a failure on the way leaves it
    // untouched.
    prefer_open_duplicates(file.windows);
    std::vector<std::pair<Q_GUI_WINDOW*, const WindowEntry*>> matches;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        Q_GUI_WINDOW* win = static_cast<Q_GUI_WINDOW*>(n->ptr);
        if (WindowEntry* e = match(file.windows, win->title)) {
            e->consumed = true;
            matches.emplace_back(win, e);
        }
    }
    std::vector<Q_GUI_PENDING_GEOM> pending;
    for (const WindowEntry& e : file.windows) {
        if (e.consumed || !e.title[0]) continue;
        Q_GUI_PENDING_GEOM p{};
        memcpy(p.title, e.title, sizeof p.title);
        p.x = e.has_x ? e.x * sx : 0.0f;
        p.y = e.has_y ? e.y * sy : 0.0f;
        // The window that takes these clamps them to the display; 0 means "keep your own".
        p.w = e.has_w ? std::max(20.0f, e.w) : 0.0f;
        p.h = e.has_h ? std::max(20.0f, e.h) : 0.0f;
        p.state = e.has_state ? static_cast<int>(e.state & STATE_KEPT) : 0;
        pending.push_back(p);
    }
    Q_GUI_PENDING_GEOM* new_layout = NULL;
    Q_GUI_PENDING_WIDGET* new_widgets = NULL;
    if (!copy_array(pending, &new_layout)) return -1;
    if (!copy_array(file.widgets, &new_widgets)) {
        free(new_layout);
        return -1;
    }
    for (const auto& [win, entry] : matches)
        apply_entry(ctx, win, *entry, sx, sy);
    free(ctx->pending_layout);
    ctx->pending_layout = new_layout;
    ctx->pending_layout_count = static_cast<int>(pending.size());
    free(ctx->pending_widgets);
    ctx->pending_widgets = new_widgets;
    ctx->pending_widgets_count = static_cast<int>(file.widgets.size());
    _sort_zorder(ctx);
    ctx->dirty = 1;
    return 0;
}

int q_gui_load_layout_json(Q_GUI_CTX* ctx, const char* filepath) {
    q_assert(ctx, return -1);
    q_assert(filepath, return -1);
    std::string text;
    bool missing = false;
    if (!read_small_file("q_gui_load_layout_json", filepath, LAYOUT_MAX_BYTES, &text, &missing)) {
        if (missing) q_log(7, "q_gui_load_layout_json: %s not found (first run?)", filepath);
        return -1;
    }
    return q_gui_load_layout_json_mem(ctx, text.data(), text.size());
}

// --------------------------------------------------------------------------------------------
// [SECTION] Theme and style fields
// --------------------------------------------------------------------------------------------

namespace {

enum FieldType { FIELD_COLOUR, FIELD_FLOAT, FIELD_INT };

struct Field {
    const char* name;
    size_t offset;
    FieldType type;
    float lo, hi; // accepted range of numbers
};

#define THEME_COLOUR(name)                                                                         \
    { #name, offsetof(Q_GUI_THEME, name), FIELD_COLOUR, 0, 0 }
#define STYLE_COLOUR(name)                                                                         \
    { #name, offsetof(Q_GUI_STYLE, name), FIELD_COLOUR, 0, 0 }
#define STYLE_FLOAT(name)                                                                          \
    { #name, offsetof(Q_GUI_STYLE, name), FIELD_FLOAT, 0, 4096 }

constexpr Field THEME_FIELDS[] = {
    THEME_COLOUR(bg_normal),
    THEME_COLOUR(bg_hover),
    THEME_COLOUR(bg_active),
    THEME_COLOUR(border_normal),
    THEME_COLOUR(border_hover),
    THEME_COLOUR(border_active),
    THEME_COLOUR(text_normal),
    THEME_COLOUR(text_hover),
    THEME_COLOUR(text_active),
    {"border_thickness", offsetof(Q_GUI_THEME, border_thickness), FIELD_FLOAT, 0, 64},
    {"corner_rx", offsetof(Q_GUI_THEME, corner_rx), FIELD_FLOAT, 0, 256},
    {"corner_ry", offsetof(Q_GUI_THEME, corner_ry), FIELD_FLOAT, 0, 256},
    THEME_COLOUR(selection_color),
};

// Every style field but the tooltip ones, in the record's order.
constexpr Field STYLE_FIELDS[] = {
    STYLE_FLOAT(titlebar_h),
    STYLE_FLOAT(min_win_w),
    STYLE_FLOAT(min_win_h),
    STYLE_FLOAT(title_padding),
    STYLE_FLOAT(title_max_w_reserve),
    STYLE_FLOAT(tb_btn_size),
    STYLE_FLOAT(tb_btn_spacing),
    STYLE_FLOAT(tb_btn_right_margin),
    STYLE_FLOAT(tb_btn_glyph_thickness),
    STYLE_FLOAT(scrollbar_size),
    STYLE_FLOAT(scrollbar_thumb_min),
    STYLE_FLOAT(scrollbar_thumb_padding),
    STYLE_FLOAT(scrollbar_thumb_corner_r),
    STYLE_COLOUR(scrollbar_track_color),
    STYLE_COLOUR(scrollbar_thumb_color),
    STYLE_FLOAT(global_scrollbar_size),
    STYLE_FLOAT(global_scrollbar_thumb_min),
    STYLE_FLOAT(global_scrollbar_thumb_padding),
    STYLE_FLOAT(global_scrollbar_thumb_corner_r),
    STYLE_FLOAT(global_scrollbar_border_thickness),
    STYLE_COLOUR(global_scrollbar_track_color),
    STYLE_COLOUR(global_scrollbar_thumb_color),
    STYLE_COLOUR(global_scrollbar_thumb_border_color),
    STYLE_FLOAT(grip_size),
    STYLE_FLOAT(grip_line_thickness),
    STYLE_COLOUR(grip_color),
    STYLE_FLOAT(slider_track_size),
    STYLE_FLOAT(slider_track_corner_r),
    STYLE_FLOAT(slider_track_border_thickness),
    STYLE_FLOAT(slider_handle_min_r),
    STYLE_FLOAT(slider_handle_edge_offset),
    STYLE_FLOAT(slider_handle_border_thickness),
    STYLE_FLOAT(slider_value_label_offset),
    STYLE_FLOAT(textarea_padding),
    STYLE_FLOAT(textarea_cursor_width),
    STYLE_FLOAT(textarea_cursor_blink_period),
    STYLE_FLOAT(checkbox_max_size),
    STYLE_FLOAT(checkbox_mark_margin),
    STYLE_FLOAT(checkbox_mark_thickness),
    STYLE_FLOAT(checkbox_label_gap),
    STYLE_FLOAT(checkbox_label_offset),
    STYLE_FLOAT(radio_circle_min_r),
    STYLE_FLOAT(radio_circle_border_thickness),
    STYLE_FLOAT(radio_inner_offset),
    STYLE_FLOAT(radio_label_gap),
    STYLE_FLOAT(listbox_default_item_height),
    STYLE_FLOAT(radiolist_default_item_height),
    {"combobox_max_visible", offsetof(Q_GUI_STYLE, combobox_max_visible), FIELD_INT, 1, 100},
    {"dropmenu_max_visible", offsetof(Q_GUI_STYLE, dropmenu_max_visible), FIELD_INT, 1, 100},
    STYLE_FLOAT(item_text_padding),
    STYLE_FLOAT(item_selection_inset),
    STYLE_FLOAT(item_height_pad),
    STYLE_FLOAT(dropdown_arrow_reserve),
    STYLE_FLOAT(dropdown_arrow_thickness),
    STYLE_FLOAT(dropdown_arrow_half_h),
    STYLE_FLOAT(dropdown_arrow_half_w),
    STYLE_FLOAT(dropdown_border_thickness),
    {"shape_mode", offsetof(Q_GUI_STYLE, shape_mode), FIELD_INT, -1, 1},
    STYLE_FLOAT(label_padding),
    STYLE_FLOAT(link_underline_thickness),
    STYLE_COLOUR(link_color_normal),
    STYLE_COLOUR(link_color_hover),
    STYLE_FLOAT(scroll_step),
    STYLE_FLOAT(global_scroll_step),
    STYLE_FLOAT(combobox_max_dropdown_width),
};

#undef THEME_COLOUR
#undef STYLE_COLOUR
#undef STYLE_FLOAT

template <typename RECORD>
void fields_to_json(cJSON* obj, const RECORD& record, const Field* fields, size_t count) {
    const char* base = reinterpret_cast<const char*>(&record);
    for (size_t i = 0; i < count; i++) {
        const Field& f = fields[i];
        if (f.type == FIELD_COLOUR) {
            ALLEGRO_COLOR c;
            memcpy(&c, base + f.offset, sizeof c);
            unsigned char rgba[4];
            al_unmap_rgba(c, &rgba[0], &rgba[1], &rgba[2], &rgba[3]);
            const int parts[4] = {rgba[0], rgba[1], rgba[2], rgba[3]};
            cJSON_AddItemToObject(obj, f.name, cJSON_CreateIntArray(parts, 4));
        } else if (f.type == FIELD_FLOAT) {
            float v;
            memcpy(&v, base + f.offset, sizeof v);
            add_number(obj, f.name, v);
        } else {
            int v;
            memcpy(&v, base + f.offset, sizeof v);
            add_number(obj, f.name, v);
        }
    }
}

// A colour is an array of at least four numbers; each is truncated and kept to its low byte.
bool colour_from_json(const cJSON* item, ALLEGRO_COLOR* out) {
    if (!cJSON_IsArray(item) || cJSON_GetArraySize(item) < 4) return false;
    unsigned char parts[4];
    for (int i = 0; i < 4; i++) {
        const cJSON* part = cJSON_GetArrayItem(item, i);
        if (!cJSON_IsNumber(part) || !std::isfinite(part->valuedouble) ||
            std::fabs(part->valuedouble) > 1e9)
            return false;
        parts[i] = static_cast<unsigned char>(static_cast<long long>(part->valuedouble) & 0xFF);
    }
    *out = al_map_rgba(parts[0], parts[1], parts[2], parts[3]);
    return true;
}

// Replaces the fields present and valid in `obj`; others keep their values.
template <typename RECORD>
void fields_from_json(const cJSON* obj, RECORD* record, const Field* fields, size_t count) {
    char* base = reinterpret_cast<char*>(record);
    for (size_t i = 0; i < count; i++) {
        const Field& f = fields[i];
        if (f.type == FIELD_COLOUR) {
            ALLEGRO_COLOR c;
            if (colour_from_json(cJSON_GetObjectItemCaseSensitive(obj, f.name), &c))
                memcpy(base + f.offset, &c, sizeof c);
        } else if (f.type == FIELD_FLOAT) {
            float v;
            if (float_at(obj, f.name, f.lo, f.hi, &v)) memcpy(base + f.offset, &v, sizeof v);
        } else {
            long long v;
            if (int_at(obj, f.name, f.lo, f.hi, &v)) {
                const int iv = static_cast<int>(v);
                memcpy(base + f.offset, &iv, sizeof iv);
            }
        }
    }
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Saving and loading the theme
// --------------------------------------------------------------------------------------------

int q_gui_save_theme_json(Q_GUI_CTX* ctx, const char* filepath) {
    q_assert(ctx, return -1);
    q_assert(filepath, return -1);
    JsonPtr root(cJSON_CreateObject());
    cJSON* theme = root ? cJSON_AddObjectToObject(root.get(), "theme") : NULL;
    cJSON* style = root ? cJSON_AddObjectToObject(root.get(), "style") : NULL;
    if (!theme || !style) return -1;
    fields_to_json(theme, ctx->default_theme, THEME_FIELDS, std::size(THEME_FIELDS));
    fields_to_json(style, ctx->style, STYLE_FIELDS, std::size(STYLE_FIELDS));
    return write_json("q_gui_save_theme_json", root.get(), filepath) ? 0 : -1;
}

int q_gui_load_theme_json_mem(Q_GUI_CTX* ctx, const char* text, size_t size) {
    q_assert(ctx, return -1);
    q_assert(text, return -1);
    JsonPtr root = parse_limited("q_gui_load_theme_json", text, size, THEME_MAX_BYTES);
    if (!root) return -1;
    const cJSON* theme = cJSON_GetObjectItemCaseSensitive(root.get(), "theme");
    const cJSON* style = cJSON_GetObjectItemCaseSensitive(root.get(), "style");
    if (!cJSON_IsObject(root.get()) || (theme && !cJSON_IsObject(theme)) ||
        (style && !cJSON_IsObject(style))) {
        q_log(3, "q_gui_load_theme_json: not a theme file");
        return -1;
    }
    if (theme) {
        Q_GUI_THEME t = ctx->default_theme;
        fields_from_json(theme, &t, THEME_FIELDS, std::size(THEME_FIELDS));
        ctx->default_theme = t;
        for (LIST_NODE* n = ctx->windows->start; n; n = n->next)
            static_cast<Q_GUI_WINDOW*>(n->ptr)->theme = t;
        q_gui_reset_all_widget_themes(ctx);
    }
    if (style) {
        Q_GUI_STYLE s = ctx->style;
        fields_from_json(style, &s, STYLE_FIELDS, std::size(STYLE_FIELDS));
        ctx->style = s;
    }
    ctx->dirty = 1;
    return 0;
}

int q_gui_load_theme_json(Q_GUI_CTX* ctx, const char* filepath) {
    q_assert(ctx, return -1);
    q_assert(filepath, return -1);
    std::string text;
    bool missing = false;
    if (!read_small_file("q_gui_load_theme_json", filepath, THEME_MAX_BYTES, &text, &missing)) {
        if (missing) q_log(3, "q_gui_load_theme_json: %s not found", filepath);
        return -1;
    }
    return q_gui_load_theme_json_mem(ctx, text.data(), text.size());
}

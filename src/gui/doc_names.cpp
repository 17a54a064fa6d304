// ============================================================================================
// Names, paths and regions the file popups work with
//   [SECTION] UTF-8 cuts
//   [SECTION] Document names
//   [SECTION] Save-folder paths and loading by name
//   [SECTION] Export region
//   [SECTION] Notification text
// ============================================================================================
#include "gui/gui.h"

#include <allegro5/allegro_font.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <string>

#include "canvas/ora.h"
#include "i18n.h"
#include "platform/platform.h"
#include "session.h"
#include "q/q_common.h"
#include "tavolix_app.h"

// --------------------------------------------------------------------------------------------
// [SECTION] UTF-8 cuts
// --------------------------------------------------------------------------------------------

namespace {

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Bytes a character takes, judged from its first byte; a stray byte counts as one.
size_t sequence_length(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

} // namespace

size_t _utf8_fit(const char* text, size_t limit) {
    q_assert(text, return 0);
    const size_t length = strnlen(text, limit + 1);
    if (length <= limit) return length;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    // Walk back over at most three continuation bytes to the start of the character the cut
    // falls in; when that character ends before the cut, the byte at the cut was a stray one.
    size_t start = limit;
    for (int back = 0; back < 3 && start > 0 && is_continuation(bytes[start]); back++)
        start--;
    if (start == limit) return limit;
    return start + sequence_length(bytes[start]) <= limit ? limit : start;
}

void _utf8_copy(char* out, size_t size, const char* text) {
    q_assert(out, return);
    if (size == 0) return;
    if (!text) {
        out[0] = 0;
        return;
    }
    const size_t length = _utf8_fit(text, size - 1);
    memmove(out, text, length);
    out[length] = 0;
}

int _utf8_format(char* out, size_t size, const char* format, ...) {
    q_assert(out, return 0);
    q_assert(format, return 0);
    if (size == 0) return 0;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string whole(needed > 0 ? static_cast<size_t>(needed) : 0, '\0');
    if (needed > 0) vsnprintf(whole.data(), whole.size() + 1, format, again);
    va_end(again);
    _utf8_copy(out, size, whole.c_str());
    return needed >= 0 && static_cast<size_t>(needed) < size ? 1 : 0;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Document names
// --------------------------------------------------------------------------------------------

namespace {

constexpr const char* DEFAULT_DOC_NAME = "sketch";
constexpr size_t DOC_NAME_CHARS = 63;
// The last path component considered when a name is taken from a path.
constexpr size_t DERIVE_COMPONENT_MAX = 71;

bool name_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '-' || c == '_';
}

} // namespace

void _sanitize_doc_name(const char* text, char* out, size_t size) {
    q_assert(out, return);
    if (size == 0) return;
    const size_t room = std::min(DOC_NAME_CHARS, size - 1);
    std::string name;
    for (const char* c = text ? text : ""; *c && name.size() < room; c++)
        if (name_char(*c)) name += *c;
    const size_t first = name.find_first_not_of(' ');
    name = first == std::string::npos ? ""
                                      : name.substr(first, name.find_last_not_of(' ') - first + 1);
    snprintf(out, size, "%s", name.empty() ? DEFAULT_DOC_NAME : name.c_str());
}

void _derive_doc_name(TAVOLIX_APP* app, const char* path) {
    q_assert(app, return);
    q_assert(path, return);
    if (!path[0]) return;
    const char* slash = strrchr(path, '/');
    const char* last = slash ? slash + 1 : path;
    char component[DERIVE_COMPONENT_MAX + 1];
    _utf8_copy(component, sizeof component, last);
    const size_t length = strlen(component);
    if (length >= 4 && strcmp(component + length - 4, ".tvl") == 0) component[length - 4] = 0;
    // A picture's name without its ending: saving it makes "cat.tvl" beside "cat.png" (or
    // "cat.ora").
    else if (const char* dot = strrchr(component, '.');
             dot && dot != component && (_picture_name(component) || ora_path_has_extension(component)))
        component[dot - component] = 0;
    // "été.tvl" saved again is "été.tvl", not "t.tvl", which may be another drawing.
    if (_doc_name_keeps(component) && strlen(component) < sizeof app->gui.doc_name)
        snprintf(app->gui.doc_name, sizeof app->gui.doc_name, "%s", component);
    else
        _sanitize_doc_name(component, app->gui.doc_name, sizeof app->gui.doc_name);
}

void _save_name_of(const TAVOLIX_APP* app, const char* field, char* out, size_t size) {
    q_assert(app && field && out, return);
    if (strcmp(field, app->gui.doc_name) == 0 && _doc_name_keeps(field)) snprintf(out, size, "%s", field);
    else _sanitize_doc_name(field, out, size);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Save-folder paths and loading by name
// --------------------------------------------------------------------------------------------

int _path_add_extension(char* path, size_t size, const char* extension) {
    q_assert(path, return 0);
    q_assert(extension, return 0);
    const char* slash = strrchr(path, '/');
    if (strchr(slash ? slash + 1 : path, '.')) return 0;
    const size_t length = strlen(path);
    if (length + strlen(extension) >= size) return 0;
    memcpy(path + length, extension, strlen(extension) + 1);
    return 1;
}

namespace {

// A listed name must name a file inside the save folder: no path step and nothing a terminal
// or a log line would misread.
// Whole characters only: a name cut inside one is not the name of any file the user made.
bool valid_utf8(const char* text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; bytes[i];) {
        const size_t n = sequence_length(bytes[i]);
        if (n == 1 && bytes[i] >= 0x80) return false;
        for (size_t k = 1; k < n; k++)
            if (!is_continuation(bytes[i + k])) return false;
        i += n;
    }
    return true;
}

bool safe_document_name(const char* name) {
    if (!name[0] || strchr(name, '/') || strstr(name, "..")) return false;
    for (const char* c = name; *c; c++)
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) return false;
    return true;
}

} // namespace

bool _doc_name_keeps(const char* name) {
    q_assert(name, return false);
    const size_t length = strlen(name);
    if (length == 0 || length > DOC_NAME_CHARS || name[0] == '.' || !valid_utf8(name) ||
        session_reserved_stem(name))
        return false;
    const std::string file = std::string(name) + ".tvl";
    return safe_document_name(file.c_str());
}

bool _picture_name(const char* name) {
    q_assert(name, return false);
    const char* dot = strrchr(name, '.');
    if (!dot || dot == name) return false;
    for (const char* ending : {".png", ".jpg", ".jpeg", ".bmp", ".tga", ".webp"})
        if (strcasecmp(dot, ending) == 0) return true;
    return false;
}

bool _open_list_shows(const char* name) {
    q_assert(name, return false);
    return safe_document_name(name) && !session_reserved_file(name);
}

int _load_named_path(const char* name, char* out, size_t size) {
    q_assert(name, return 0);
    q_assert(out, return 0);
    if (size > 0) out[0] = 0;
    if (!safe_document_name(name)) {
        q_log(3, "refusing to load unsafe document name: %s", name);
        return 0;
    }
    return platform_save_path(name, out, size);
}

int _load_named(TAVOLIX_APP* app, const char* name) {
    q_assert(app, return 0);
    q_assert(name, return 0);
    char path[PLATFORM_PATH_MAX];
    if (!_load_named_path(name, path, sizeof path)) {
        tavolix_gui_notify(app, tavolix_tr("Load failed."));
        return 0;
    }
    // A platform that takes the document over loads it itself; the desktop never does.
    if (platform_import_document(name) != -1) return 1;
    int error = 0;
    PICTURE_INFO info{};
    if (!tavolix_app_open_file(app, path, &error, &info)) {
        _notify_load_failed(app, error, name);
        return 0;
    }
    tavolix_gui_opened_file(app, path, info.kind != PICTURE_NONE);
    if (tavolix_app_notify_scaled(app, &info)) return 1;
    char message[256];
    _utf8_format(message, sizeof message, tavolix_tr("Loaded: %s"), name);
    tavolix_gui_notify(app, message);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Export region
// --------------------------------------------------------------------------------------------

namespace {

// Canvas coordinates of far-off display corners stay representable as int.
int to_int(double v) {
    return static_cast<int>(std::clamp(v, -1.0e9, 1.0e9));
}

bool displayed_box(const TAVOLIX_APP* app, int box[4]) {
    const float corners[4][2] = {
        {0.0f, 0.0f},
        {static_cast<float>(app->display_w), 0.0f},
        {0.0f, static_cast<float>(app->display_h)},
        {static_cast<float>(app->display_w), static_cast<float>(app->display_h)}};
    double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
    for (const auto& corner : corners) {
        float c[2];
        if (!view_screen_to_canvas(&app->view, corner[0], corner[1], &c[0], &c[1])) return false;
        for (int i = 0; i < 2; i++) {
            lo[i] = std::min(lo[i], static_cast<double>(c[i]));
            hi[i] = std::max(hi[i], static_cast<double>(c[i]));
        }
    }
    box[0] = to_int(std::floor(lo[0]));
    box[1] = to_int(std::floor(lo[1]));
    box[2] = to_int(std::ceil(hi[0]));
    box[3] = to_int(std::ceil(hi[1]));
    return true;
}

// A floating selection and a pending line or curve are not in the layers yet; the export
// commits them first, so their extent counts: the size shown is the size written.
bool pending_box(const TAVOLIX_APP* app, float lo[2], float hi[2]) {
    bool any = false;
    auto take = [&](float x, float y) {
        lo[0] = std::min(lo[0], x), lo[1] = std::min(lo[1], y);
        hi[0] = std::max(hi[0], x), hi[1] = std::max(hi[1], y);
        any = true;
    };
    const SELECTION& sel = app->selection;
    if (sel.phase == SELECTION_PHASE_FLOATING && sel.float_bitmap) {
        ALLEGRO_TRANSFORM t;
        selection_build_transform(&sel, &t);
        const float w = static_cast<float>(sel.rect.w), h = static_cast<float>(sel.rect.h);
        for (std::array<float, 2> c : {std::array{0.0f, 0.0f}, {w, 0.0f}, {0.0f, h}, {w, h}}) {
            al_transform_coordinates(&t, &c[0], &c[1]);
            take(c[0], c[1]);
        }
    }
    float f[4];
    if (form_bounds(&app->form, app->brush.size / 2 + 1, &f[0], &f[1], &f[2], &f[3])) {
        take(f[0], f[1]);
        take(f[2], f[3]);
    }
    return any;
}

bool content_box(TAVOLIX_APP* app, int box[4]) {
    TAVOLIX_GUI* gui = &app->gui;
    if (!gui->export_bbox_valid &&
        document_content_bbox(app->doc, &gui->export_bbox[0], &gui->export_bbox[1],
                              &gui->export_bbox[2], &gui->export_bbox[3]))
        gui->export_bbox_valid = true; // nothing drawn is asked again: the drawing may change
    float lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
    if (gui->export_bbox_valid) { // inclusive pixels, as the area they cover
        for (int i = 0; i < 2; i++) {
            lo[i] = static_cast<float>(gui->export_bbox[i]);
            hi[i] = static_cast<float>(gui->export_bbox[i + 2] + 1);
        }
    }
    if (!pending_box(app, lo, hi) && !gui->export_bbox_valid) return false;
    box[0] = to_int(std::floor(lo[0]));
    box[1] = to_int(std::floor(lo[1]));
    box[2] = to_int(std::ceil(hi[0]) - 1.0);
    box[3] = to_int(std::ceil(hi[1]) - 1.0);
    return true;
}

} // namespace

int _export_region(TAVOLIX_APP* app, int* x, int* y, int* w, int* h) {
    q_assert(app, return 0);
    q_assert(x && y && w && h, return 0);
    if (!app->doc) return 0;
    int box[4] = {0, 0, -1, -1};
    if (!(app->gui.export_mode == 0 ? displayed_box(app, box) : content_box(app, box))) return 0;
    const int border = std::clamp(app->gui.export_border, 0, 256);
    const int x0 = std::max(box[0] - border, 0);
    const int y0 = std::max(box[1] - border, 0);
    const int x1 = std::min(box[2] + border, app->doc->width - 1);
    const int y1 = std::min(box[3] + border, app->doc->height - 1);
    if (x0 > x1 || y0 > y1) return 0;
    *x = x0;
    *y = y0;
    *w = x1 - x0 + 1;
    *h = y1 - y0 + 1;
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Notification text
// --------------------------------------------------------------------------------------------

void _notify_fit(const ALLEGRO_FONT* font, const char* text, int limit, char* out, size_t size) {
    q_assert(text, return);
    q_assert(out, return);
    if (size == 0) return;
    char whole[256];
    _utf8_copy(whole, sizeof whole, text);
    if (!font || al_get_text_width(font, whole) < limit) {
        _utf8_copy(out, size, whole);
        return;
    }
    // Drop whole characters from the front until the rest fits after the "..." it gets.
    const size_t length = strlen(whole);
    char shown[sizeof whole + 3];
    size_t start = 0;
    do {
        start++; // a lead byte or a stray one, then the rest of its character
        while (start < length && is_continuation(static_cast<unsigned char>(whole[start])))
            start++;
        snprintf(shown, sizeof shown, "...%s", whole + start);
    } while (start < length && al_get_text_width(font, shown) >= limit);
    _utf8_copy(out, size, shown);
}

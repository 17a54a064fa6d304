// ============================================================================================
// Toolkit text: UTF-8 boundaries, safe copies, measurement cache, drawing by length
//   [SECTION] UTF-8
//   [SECTION] Copies into fixed and owned fields
//   [SECTION] Measurement cache
//   [SECTION] Measuring and drawing
//   [SECTION] Wrapping
//
// Every text routine works from an explicit byte length. A byte that does not begin a
// well-formed sequence counts as one character of its own, so caret movement and cutting
// never step into the middle of a real character and never read past the end.
// ============================================================================================
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

#include <cstring>

#include "q/q_common.h"
#include "q/q_gui_internal.h"
#include "q/q_wrap.h"

// --------------------------------------------------------------------------------------------
// [SECTION] UTF-8
// --------------------------------------------------------------------------------------------

namespace {

inline bool continuation(unsigned char c) {
    return c >= 0x80 && c <= 0xBF;
}

// Whether the bytes from `pos` form a well-formed sequence of exactly `need` bytes.
bool well_formed(const unsigned char* s, int len, int pos, int need) {
    if (pos + need > len) return false;
    const unsigned char lead = s[pos];
    const unsigned char second = s[pos + 1];
    // The second byte's range depends on the lead: this rules out overlong forms, surrogates
    // and code points above 0x10FFFF.
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead == 0xE0)
        lo = 0xA0;
    else if (lead == 0xED)
        hi = 0x9F;
    else if (lead == 0xF0)
        lo = 0x90;
    else if (lead == 0xF4)
        hi = 0x8F;
    if (second < lo || second > hi) return false;
    for (int i = 2; i < need; i++)
        if (!continuation(s[pos + i])) return false;
    return true;
}

bool is_boundary(const char* text, int len, int pos) {
    if (pos <= 0 || pos >= len) return true;
    for (int back = 1; back <= 3 && pos - back >= 0; back++)
        if (_utf8_char_len(text, len, pos - back) > back) return false;
    return true;
}

} // namespace

int _utf8_char_len(const char* text, int len, int pos) {
    if (!text || pos < 0 || pos >= len) return 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    const unsigned char lead = s[pos];
    int need = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        need = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        need = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        need = 4;
    if (need == 1) return 1;
    return well_formed(s, len, pos, need) ? need : 1;
}

int _utf8_next(const char* text, int len, int pos) {
    if (pos < 0) return 0;
    if (pos >= len) return len;
    return pos + _utf8_char_len(text, len, pos);
}

int _utf8_prev(const char* text, int len, int pos) {
    if (pos > len) pos = len;
    if (pos <= 0) return 0;
    // The longest sequence that ends exactly here wins; a stray byte is one character.
    for (int back = 4; back >= 2; back--)
        if (pos - back >= 0 && _utf8_char_len(text, len, pos - back) == back) return pos - back;
    return pos - 1;
}

int _utf8_cut(const char* text, int len, int limit) {
    if (limit >= len) return len < 0 ? 0 : len;
    if (limit <= 0) return 0;
    int pos = limit;
    while (pos > 0 && !is_boundary(text, len, pos))
        pos--;
    return pos;
}

int _utf8_decode(const char* text, int len, int pos) {
    const int n = _utf8_char_len(text, len, pos);
    if (n == 0) return -1;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text) + pos;
    if (n == 1) return s[0] < 0x80 ? s[0] : -1;
    int cp = s[0] & (0x7F >> n);
    for (int i = 1; i < n; i++)
        cp = (cp << 6) | (s[i] & 0x3F);
    return cp;
}

int _utf8_encode(int cp, char out[4]) {
    if (cp < 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

bool _utf8_valid(const char* text, int len) {
    for (int pos = 0; pos < len;) {
        const int n = _utf8_char_len(text, len, pos);
        if (n == 1 && static_cast<unsigned char>(text[pos]) >= 0x80) return false;
        pos += n;
    }
    return true;
}

std::string _utf8_clean(const char* text, size_t len, size_t limit) {
    std::string out;
    if (!text) return out;
    const int n = static_cast<int>(len > 0x7FFFFFFF ? 0x7FFFFFFF : len);
    for (int pos = 0; pos < n;) {
        const int step = _utf8_char_len(text, n, pos);
        const bool stray = step == 1 && static_cast<unsigned char>(text[pos]) >= 0x80;
        if (!stray) {
            if (out.size() + static_cast<size_t>(step) > limit) break;
            out.append(text + pos, static_cast<size_t>(step));
        }
        pos += step;
    }
    return out;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Copies into fixed and owned fields
// --------------------------------------------------------------------------------------------

void _copy_text(char* dst, size_t capacity, const char* src) {
    if (!dst || capacity == 0) return;
    if (!src) {
        dst[0] = 0;
        return;
    }
    // Look no further than one byte past what fits: the source need not be short.
    const size_t room = capacity - 1;
    const size_t seen = strnlen(src, room + 4);
    const int len = static_cast<int>(seen);
    const int keep = _utf8_cut(src, len, static_cast<int>(room));
    memcpy(dst, src, static_cast<size_t>(keep));
    dst[keep] = 0;
}

void _set_owned_text(char** slot, const char* src, size_t limit) {
    free(*slot);
    *slot = NULL;
    if (!src || !src[0]) return;
    char* copy = NULL;
    q_calloc(copy, char, limit + 1);
    if (!copy) return;
    _copy_text(copy, limit + 1, src);
    *slot = copy;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Measurement cache
// --------------------------------------------------------------------------------------------

namespace {

constexpr int CACHE_SLOTS = 1024; // a power of two
constexpr int CACHE_TEXT_MAX = 31;

struct CacheEntry {
    const ALLEGRO_FONT* font; // NULL: empty slot
    unsigned char len;
    char text[CACHE_TEXT_MAX];
    float width;
};

uint32_t cache_hash(const ALLEGRO_FONT* font, const char* text, int len) {
    uint32_t h = 2166136261u;
    const uintptr_t f = reinterpret_cast<uintptr_t>(font);
    for (size_t i = 0; i < sizeof f; i++)
        h = (h ^ ((f >> (i * 8)) & 0xFF)) * 16777619u;
    for (int i = 0; i < len; i++)
        h = (h ^ static_cast<unsigned char>(text[i])) * 16777619u;
    return h;
}

float measure(const ALLEGRO_FONT* font, const char* text, int len) {
    ALLEGRO_USTR_INFO info;
    return static_cast<float>(al_get_ustr_width(font, al_ref_buffer(&info, text, len)));
}

} // namespace

// One direct-mapped table: a collision simply replaces the older entry.
struct Q_GUI_TEXT_CACHE {
    CacheEntry entries[CACHE_SLOTS];
};

void _text_cache_create(Q_GUI_CTX* ctx) {
    q_calloc(ctx->text_cache, Q_GUI_TEXT_CACHE, 1);
}

void _text_cache_destroy(Q_GUI_CTX* ctx) {
    free(ctx->text_cache);
    ctx->text_cache = NULL;
}

// A font that is destroyed and another created in its place may share an address, so every
// font change empties the whole table rather than the entries of one font.
void _text_cache_clear(Q_GUI_CTX* ctx) {
    if (ctx && ctx->text_cache) memset(ctx->text_cache, 0, sizeof *ctx->text_cache);
}

float _text_width(Q_GUI_CTX* ctx, const ALLEGRO_FONT* font, const char* text, int len) {
    if (!font || !text || len <= 0) return 0.0f;
    if (!ctx || !ctx->text_cache || len > CACHE_TEXT_MAX) return measure(font, text, len);
    CacheEntry& e = ctx->text_cache->entries[cache_hash(font, text, len) & (CACHE_SLOTS - 1)];
    if (e.font == font && e.len == len && memcmp(e.text, text, static_cast<size_t>(len)) == 0)
        return e.width;
    e.font = font;
    e.len = static_cast<unsigned char>(len);
    memcpy(e.text, text, static_cast<size_t>(len));
    e.width = measure(font, text, len);
    return e.width;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Measuring and drawing
// --------------------------------------------------------------------------------------------

float _text_x_at(const ALLEGRO_FONT* font, const char* text, int len, int offset) {
    if (!font || !text || offset <= 0) return 0.0f;
    return measure(font, text, offset < len ? offset : len);
}

namespace {

std::vector<int> boundaries(const char* text, int len) {
    std::vector<int> out;
    for (int pos = 0; pos < len; pos = _utf8_next(text, len, pos))
        out.push_back(pos);
    out.push_back(len);
    return out;
}

} // namespace

int _text_offset_at(const ALLEGRO_FONT* font, const char* text, int len, float x) {
    if (!font || !text || len <= 0 || x <= 0.0f) return 0;
    const std::vector<int> b = boundaries(text, len);
    // First boundary whose pen position reaches x, then the nearer of it and the one before.
    size_t lo = 0, hi = b.size() - 1;
    if (_text_x_at(font, text, len, b[hi]) <= x) return len;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (_text_x_at(font, text, len, b[mid]) < x)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == 0) return 0;
    const float right = _text_x_at(font, text, len, b[lo]);
    const float left = _text_x_at(font, text, len, b[lo - 1]);
    return (x - left <= right - x) ? b[lo - 1] : b[lo];
}

void _draw_text_fit(Q_GUI_CTX* ctx, const ALLEGRO_FONT* font, ALLEGRO_COLOR colour, float x,
                    float y, float max_w, const char* text, int len) {
    if (!font || !text || len <= 0) return;
    if (_text_width(ctx, font, text, len) <= max_w) {
        _draw_text(font, colour, x, y, text, len);
        return;
    }
    const float ellipsis = _text_width(ctx, font, "...", 3);
    const std::vector<int> b = boundaries(text, len);
    // Longest whole-character prefix that leaves room for the ellipsis.
    size_t lo = 0, hi = b.size() - 1;
    while (lo < hi) {
        const size_t mid = (lo + hi + 1) / 2;
        if (_text_x_at(font, text, len, b[mid]) + ellipsis <= max_w)
            lo = mid;
        else
            hi = mid - 1;
    }
    const int keep = b[lo];
    _draw_text(font, colour, x, y, text, keep);
    _draw_text(font, colour, x + _text_x_at(font, text, len, keep), y, "...", 3);
}

Q_GUI_TEXT_DIMS q_gui_get_text_dims(ALLEGRO_FONT* font, const char* text) {
    Q_GUI_TEXT_DIMS dims{0, 0, 0, 0};
    if (!font || !text) return dims;
    al_get_text_dimensions(font, text, &dims.x, &dims.y, &dims.w, &dims.h);
    return dims;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Wrapping
// --------------------------------------------------------------------------------------------

namespace {

struct Piece {
    int start, end;
};

struct WrapSink {
    const std::vector<Piece>* pieces;
    int len;
    std::vector<Q_GUI_LINE>* lines;
};

void emit_line(size_t first, size_t end, int, double width, void* user) {
    WrapSink* sink = static_cast<WrapSink*>(user);
    const std::vector<Piece>& p = *sink->pieces;
    Q_GUI_LINE line;
    line.start = first < p.size() ? p[first].start : sink->len;
    line.end = end > first ? p[end - 1].end : line.start;
    line.width = static_cast<float>(width);
    sink->lines->push_back(line);
}

} // namespace

std::vector<Q_GUI_LINE> _wrap_text(Q_GUI_CTX* ctx, const ALLEGRO_FONT* font, const char* text,
                                   int len, float max_w, bool per_char) {
    std::vector<Piece> pieces;
    std::vector<Q_WRAP_ITEM> items;
    for (int pos = 0; pos < len;) {
        const char c = text[pos];
        int end = _utf8_next(text, len, pos);
        uint32_t flags = 0;
        if (c == '\n')
            flags = Q_WRAP_BREAK;
        else if (c == ' ')
            flags = Q_WRAP_BLANK;
        else if (!per_char)
            while (end < len && text[end] != ' ' && text[end] != '\n')
                end = _utf8_next(text, len, end);
        const float width =
            flags == Q_WRAP_BREAK ? 0.0f : _text_width(ctx, font, text + pos, end - pos);
        pieces.push_back(Piece{pos, end});
        items.push_back(Q_WRAP_ITEM{width, flags});
        pos = end;
    }
    std::vector<Q_GUI_LINE> lines;
    WrapSink sink{&pieces, len, &lines};
    if (items.empty())
        lines.push_back(Q_GUI_LINE{0, 0, 0.0f});
    else
        q_wrap_layout(items.data(), items.size(), max_w, emit_line, &sink);
    return lines;
}

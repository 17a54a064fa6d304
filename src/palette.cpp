#include "palette.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_log.h"

namespace {

struct FACTORY_PALETTE {
    const char* name;
    PALETTE_RGB colors[PALETTE_SWATCHES];
};

constexpr FACTORY_PALETTE FACTORY[PALETTE_PRESETS] = {
    {"Default",
     {{40, 40, 40},
      {255, 255, 255},
      {214, 45, 32},
      {255, 140, 26},
      {255, 213, 0},
      {0, 152, 70},
      {0, 100, 200},
      {136, 60, 180}}},
    {"Grayscale",
     {{0, 0, 0},
      {36, 36, 36},
      {72, 72, 72},
      {108, 108, 108},
      {144, 144, 144},
      {180, 180, 180},
      {216, 216, 216},
      {255, 255, 255}}},
    {"Warm",
     {{60, 20, 20},
      {120, 30, 30},
      {200, 40, 40},
      {230, 90, 30},
      {240, 140, 40},
      {250, 190, 60},
      {255, 225, 150},
      {120, 70, 40}}},
    {"Cool",
     {{10, 20, 60},
      {20, 50, 120},
      {30, 100, 180},
      {40, 150, 200},
      {30, 170, 160},
      {40, 180, 120},
      {120, 90, 200},
      {200, 210, 255}}},
    {"Pastel",
     {{255, 179, 186},
      {255, 223, 186},
      {255, 255, 186},
      {186, 255, 201},
      {186, 225, 255},
      {201, 186, 255},
      {255, 186, 240},
      {220, 220, 220}}},
};

constexpr char MAGIC[4] = {'T', 'P', 'A', 'L'};
constexpr uint32_t VERSION = 1;
constexpr size_t HEADER_SIZE = 20;
constexpr size_t RECORD_SIZE = PALETTE_NAME_SIZE + 4 + PALETTE_SWATCHES * 3;
static_assert(RECORD_SIZE == 60);
// Room for the largest image (20 + 16 x 60 = 980 bytes), so writing never has to grow it.
constexpr size_t SERIALIZE_CAPACITY = 1024;

bool _is_factory(int index) {
    return index >= 0 && index < PALETTE_PRESETS;
}

int _user_slot(const PALETTE_SET* set, int index) {
    if (index < PALETTE_PRESETS) return -1;
    const long slot = static_cast<long>(index) - PALETTE_PRESETS;
    return slot < static_cast<long>(set->user_count) ? static_cast<int>(slot) : -1;
}

int _active_slot(const PALETTE_SET* set) {
    return _user_slot(set, set->active);
}

// The factory palette an edit of a non-user active palette starts from. A stale index (left by
// palette_reset_all) shows the "Default" colours, so that is what it copies.
int _active_factory(const PALETTE_SET* set) {
    return _is_factory(set->active) ? set->active : 0;
}

// Fills the next free user slot and makes it active; -1 when the set is full.
int _append_user(PALETTE_SET* set, const PALETTE_RGB* colors, int base) {
    if (set->user_count >= PALETTE_USER_MAX) return -1;
    PALETTE* p = &set->user[set->user_count];
    memset(p, 0, sizeof *p);
    snprintf(p->name, sizeof p->name, "Custom %d", static_cast<int>(set->user_count) + 1);
    memcpy(p->colors, colors, sizeof p->colors);
    p->base = base;
    set->user_count++;
    set->active = PALETTE_PRESETS + static_cast<int>(set->user_count) - 1;
    q_log(6, "palette: created %s (index %d, base %d)", p->name, set->active, base);
    return set->active;
}

bool _blank(const char* text) {
    for (; *text; text++) {
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r' && *text != '\v' &&
            *text != '\f')
            return false;
    }
    return true;
}

// How many bytes of text fit in a name: at most 31, and never the first bytes of a character
// whose continuation bytes would be cut off (the chooser would show a broken glyph). Reads at
// most 32 bytes, so it serves the unterminated name field of a file record as well.
size_t _name_length(const char* text) {
    const size_t limit = PALETTE_NAME_SIZE - 1;
    size_t length = strnlen(text, limit + 1);
    if (length <= limit) return length;
    length = limit;
    // A UTF-8 character is at most four bytes, so at most three continuation bytes can lie
    // before the cut; walk back to the lead byte and cut there.
    for (int back = 0; back < 3 && length > 0; back++) {
        if ((static_cast<unsigned char>(text[length]) & 0xC0) != 0x80) break;
        length--;
    }
    return length;
}

void _put_u32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t _get_u32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

bool _append(Q_STR** out, const void* bytes, size_t length) {
    return qstrcat_ex(out, static_cast<const char*>(bytes), length, 1) != NULL;
}

bool _append_u32(Q_STR** out, uint32_t value) {
    uint8_t bytes[4];
    _put_u32(bytes, value);
    return _append(out, bytes, sizeof bytes);
}

} // namespace

void palette_set_defaults(PALETTE_SET* set) {
    q_assert(set, return);
    memset(set, 0, sizeof *set);
}

int palette_preset_count() {
    return PALETTE_PRESETS;
}

int palette_count(const PALETTE_SET* set) {
    q_assert(set, return PALETTE_PRESETS);
    return static_cast<int>(set->user_count) + PALETTE_PRESETS;
}

const char* palette_name(const PALETTE_SET* set, int index) {
    q_assert(set, return "");
    if (_is_factory(index)) return FACTORY[index].name;
    const int slot = _user_slot(set, index);
    return slot >= 0 ? set->user[slot].name : "";
}

int palette_is_user(const PALETTE_SET* set, int index) {
    q_assert(set, return 0);
    return _user_slot(set, index) >= 0;
}

const PALETTE_RGB* palette_colors(const PALETTE_SET* set, int index) {
    q_assert(set, return FACTORY[0].colors);
    if (_is_factory(index)) return FACTORY[index].colors;
    const int slot = _user_slot(set, index);
    return slot >= 0 ? set->user[slot].colors : FACTORY[0].colors;
}

const PALETTE_RGB* palette_active_colors(const PALETTE_SET* set) {
    q_assert(set, return FACTORY[0].colors);
    return palette_colors(set, set->active);
}

void palette_select(PALETTE_SET* set, int index) {
    q_assert(set, return);
    const int last = palette_count(set) - 1;
    set->active = index < 0 ? 0 : index > last ? last : index;
}

int palette_assign(PALETTE_SET* set, int slot, const uint8_t rgb[3]) {
    q_assert(set, return -1);
    q_assert(rgb, return -1);
    if (slot < 0 || slot >= PALETTE_SWATCHES) return set->active;
    if (_active_slot(set) < 0) {
        const int factory = _active_factory(set);
        if (_append_user(set, FACTORY[factory].colors, factory) < 0) return -1;
    }
    memcpy(set->user[_active_slot(set)].colors[slot], rgb, 3);
    return set->active;
}

int palette_new_from_active(PALETTE_SET* set) {
    q_assert(set, return -1);
    if (set->user_count >= PALETTE_USER_MAX) return -1;
    const int slot = _active_slot(set);
    if (slot >= 0) {
        // Copied first: the new slot is written before the source would be read otherwise.
        const PALETTE source = set->user[slot];
        return _append_user(set, source.colors, source.base);
    }
    const int factory = _active_factory(set);
    return _append_user(set, FACTORY[factory].colors, factory);
}

void palette_reset_active(PALETTE_SET* set) {
    q_assert(set, return);
    const int slot = _active_slot(set);
    if (slot < 0) return;
    PALETTE* p = &set->user[slot];
    const int factory = _is_factory(p->base) ? p->base : 0;
    memcpy(p->colors, FACTORY[factory].colors, sizeof p->colors);
}

int palette_remove_active(PALETTE_SET* set) {
    q_assert(set, return 0);
    const int slot = _active_slot(set);
    if (slot < 0) return 0;
    const int base = set->user[slot].base;
    q_log(6, "palette: removed %s (index %d)", set->user[slot].name, set->active);
    const uint32_t after = set->user_count - static_cast<uint32_t>(slot) - 1;
    memmove(&set->user[slot], &set->user[slot + 1], after * sizeof(PALETTE));
    set->user_count--;
    memset(&set->user[set->user_count], 0, sizeof(PALETTE));
    set->active = _is_factory(base) ? base : 0;
    return 1;
}

int palette_rename_active(PALETTE_SET* set, const char* text) {
    q_assert(set, return 0);
    q_assert(text, return 0);
    const int slot = _active_slot(set);
    if (slot < 0) return 0;
    PALETTE* p = &set->user[slot];
    const size_t length = _name_length(text);
    memset(p->name, 0, sizeof p->name);
    memcpy(p->name, text, length);
    // A name of spaces would be an invisible entry in the chooser.
    if (_blank(p->name)) {
        memset(p->name, 0, sizeof p->name);
        snprintf(p->name, sizeof p->name, "Custom %d", slot + 1);
    }
    q_log(6, "palette: index %d renamed to %s", set->active, p->name);
    return 1;
}

void palette_reset_all(PALETTE_SET* set) {
    q_assert(set, return);
    q_log(6, "palette: removed all %u user palette(s)", set->user_count);
    memset(set->user, 0, sizeof set->user);
    set->user_count = 0;
}

Q_STR* palette_serialize(const PALETTE_SET* set) {
    q_assert(set, return NULL);
    Q_STR* out = new_qstr(SERIALIZE_CAPACITY);
    q_assert(out, return NULL);
    // The flag says "the active index lies past the factory palettes", not "names a user
    // palette": a stale index left by palette_reset_all then reads back as "Default" (a user
    // choice with no user palettes), rather than as the last factory palette.
    const bool user = set->active >= PALETTE_PRESETS;
    const int32_t within = user ? set->active - PALETTE_PRESETS : set->active < 0 ? 0 : set->active;
    const uint32_t count =
        set->user_count > PALETTE_USER_MAX ? uint32_t{PALETTE_USER_MAX} : set->user_count;
    bool ok = _append(&out, MAGIC, sizeof MAGIC) && _append_u32(&out, VERSION) &&
              _append_u32(&out, user ? 1 : 0) && _append_u32(&out, static_cast<uint32_t>(within)) &&
              _append_u32(&out, count);
    for (uint32_t i = 0; ok && i < count; i++) {
        const PALETTE* p = &set->user[i];
        ok = _append(&out, p->name, sizeof p->name) &&
             _append_u32(&out, static_cast<uint32_t>(p->base < 0 ? -1 : p->base)) &&
             _append(&out, p->colors, sizeof p->colors);
    }
    if (!ok) {
        // qstrcat_ex frees the string when it cannot grow it.
        if (out) free_qstr(&out);
        q_log(3, "palette: could not build the file image");
        return NULL;
    }
    return out;
}

int palette_deserialize(PALETTE_SET* set, const void* bytes, size_t size, uint32_t* dropped) {
    q_assert(set, return 0);
    q_assert(bytes, return 0);
    if (dropped) *dropped = 0;
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    if (size < 4 || memcmp(in, MAGIC, sizeof MAGIC) != 0) {
        q_log(3, "palette file refused: not a palette file (%zu bytes, no \"TPAL\" magic)", size);
        return 0;
    }
    if (size < 8 || _get_u32(in + 4) != VERSION) {
        if (size < 8)
            q_log(3, "palette file refused: %zu bytes, too short for a version", size);
        else
            q_log(3, "palette file refused: version %u is not supported", _get_u32(in + 4));
        return 0;
    }
    if (size < HEADER_SIZE) {
        q_log(3, "palette file refused: %zu bytes, too short for the %zu-byte header", size,
              HEADER_SIZE);
        return 0;
    }
    const uint32_t user_flag = _get_u32(in + 8);
    const uint32_t stored_index = _get_u32(in + 12);
    const uint32_t count = _get_u32(in + 16);
    // A count past 16, or a file cut short, still holds the user's palettes in every record
    // that is complete: those are kept, and only what is missing or past 16 is lost.
    const size_t complete = (size - HEADER_SIZE) / RECORD_SIZE;
    const uint32_t kept = static_cast<uint32_t>(
        std::min<size_t>({count, static_cast<size_t>(PALETTE_USER_MAX), complete}));
    if (kept < count) {
        q_log(3, "palette file damaged: %u user palette(s) announced, %u kept (%zu bytes)", count,
              kept, size);
        if (dropped) *dropped = count - kept;
    }

    // Built aside and copied in at the end, so a refused file leaves the caller's set alone.
    PALETTE_SET read;
    memset(&read, 0, sizeof read);
    for (uint32_t i = 0; i < kept; i++) {
        const uint8_t* record = in + HEADER_SIZE + i * RECORD_SIZE;
        PALETTE* p = &read.user[i];
        // Up to the first zero only, so the rest of the field stays zero as in a set built here;
        // a field with no zero at all is cut like a typed name, between characters.
        memcpy(p->name, record, _name_length(reinterpret_cast<const char*>(record)));
        const uint32_t base = _get_u32(record + PALETTE_NAME_SIZE);
        p->base = base < PALETTE_PRESETS ? static_cast<int32_t>(base) : -1;
        memcpy(p->colors, record + PALETTE_NAME_SIZE + 4, sizeof p->colors);
    }
    read.user_count = kept;
    if (user_flag) {
        if (kept == 0)
            read.active = 0;
        else if (stored_index < kept)
            read.active = PALETTE_PRESETS + static_cast<int32_t>(stored_index);
        else
            read.active = PALETTE_PRESETS + static_cast<int32_t>(kept) - 1;
    } else {
        read.active = stored_index < PALETTE_PRESETS ? static_cast<int32_t>(stored_index)
                                                     : PALETTE_PRESETS - 1;
    }
    *set = read;
    return 1;
}

int palette_save(const PALETTE_SET* set, const char* path) {
    q_assert(set, return 0);
    q_assert(path, return 0);
    Q_STR* image = palette_serialize(set);
    if (!image) return 0;
    const int ok = platform_write_file(path, image->data, image->used, nullptr);
    free_qstr(&image);
    return ok;
}

int palette_load(PALETTE_SET* set, const char* path) {
    q_assert(set, return 0);
    q_assert(path, return 0);
    palette_set_defaults(set);
    // A palette file is a few hundred bytes; whatever lies past 4096 is never read, so a huge
    // file cannot make the program read it all into memory.
    std::string bytes;
    if (platform_read_file(path, 4096, &bytes) != 1) return 0;
    return palette_deserialize(set, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

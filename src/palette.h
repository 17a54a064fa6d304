// Colour palettes: five built-in palettes that never change and up to sixteen of the user's
// own, with the choice of the active one, and the "palette.dat" file image that keeps them.
//
// Palette indices: 0..4 are the factory palettes, 5..user_count + 4 the user palettes (user
// slot = index - 5).
#pragma once

#include <cstddef>
#include <cstdint>

#include "q/q_str.h"

enum {
    PALETTE_PRESETS = 5,   // factory palettes
    PALETTE_USER_MAX = 16, // user palettes the set can hold
    PALETTE_SWATCHES = 8,  // colours in one palette
    PALETTE_NAME_SIZE = 32 // name field, terminating zero included
};

// One swatch: R, G, B.
typedef uint8_t PALETTE_RGB[3];

struct PALETTE {
    char name[PALETTE_NAME_SIZE];        // zero-terminated, zero-filled after the text
    PALETTE_RGB colors[PALETTE_SWATCHES];
    int32_t base;                        // factory palette it came from (0..4), or -1
};

struct PALETTE_SET {
    PALETTE user[PALETTE_USER_MAX]; // slots from user_count on are zero
    uint32_t user_count;            // 0..16
    int32_t active;                 // palette index of the active palette
};

// Everything zero: no user palettes, "Default" active.
void palette_set_defaults(PALETTE_SET* set);
// 5.
int palette_preset_count();
// user_count + 5; 5 for a NULL set.
int palette_count(const PALETTE_SET* set);
// The factory palette's English name (the GUI translates it) or the user palette's name; ""
// for an index out of range.
const char* palette_name(const PALETTE_SET* set, int index);
// 1 when 5 <= index < user_count + 5.
int palette_is_user(const PALETTE_SET* set, int index);
// The eight swatches of a palette; an index out of range gives the "Default" colours.
const PALETTE_RGB* palette_colors(const PALETTE_SET* set, int index);
const PALETTE_RGB* palette_active_colors(const PALETTE_SET* set);
// active = index clamped to 0..user_count + 4.
void palette_select(PALETTE_SET* set, int index);
// Sets swatch `slot` (0..7) of the active palette to rgb. A factory palette is first copied
// into a new user palette, which becomes active. Returns the active index afterwards (also for
// a slot out of range, which changes nothing), or -1 when a new palette was needed but all
// sixteen user slots are taken.
int palette_assign(PALETTE_SET* set, int slot, const uint8_t rgb[3]);
// Copies the active palette into a new user palette and makes it active; its index, or -1
// when all sixteen user slots are taken.
int palette_new_from_active(PALETTE_SET* set);
// An active user palette gets the colours of its base factory palette back ("Default" for no
// base). The name stays.
void palette_reset_active(PALETTE_SET* set);
// Deletes the active user palette; the palettes after it move down one slot and its base
// factory palette (or "Default") becomes active. 0 when the active palette is not a user one.
int palette_remove_active(PALETTE_SET* set);
// Renames the active user palette. The name is cut to 31 bytes without splitting a UTF-8
// character; an empty or blank name becomes "Custom <slot number>". 0 when text is NULL or the
// active palette is not a user one.
int palette_rename_active(PALETTE_SET* set, const char* text);
// Deletes every user palette. A user palette that was active leaves a stale index behind,
// which reads as "Default" and is written to the file so that it reads back as index 0.
void palette_reset_all(PALETTE_SET* set);

// The file image: "TPAL", version 1, user flag, active index within its group, user count,
// then one 60-byte record per user palette (name field, base, colours). NULL when no memory.
Q_STR* palette_serialize(const PALETTE_SET* set);
// Parses a file image into the set. A bad magic, version or header is refused: the reason is
// logged at level 3, the result is 0 and the set is left exactly as it was. Otherwise the result
// is 1 and every complete record up to the sixteenth is read; when the count claims more than
// that (over 16, or a file cut inside or before a record) the loss is logged at level 3 and,
// when `dropped` is given, the number of records not read is stored there. Bytes after the last
// record are ignored.
int palette_deserialize(PALETTE_SET* set, const void* bytes, size_t size,
                        uint32_t* dropped = nullptr);
// Serializes and replaces the file at path atomically. 1 on success.
int palette_save(const PALETTE_SET* set, const char* path);
// Resets the set to the factory defaults, then reads the file at path into it. 1 on success;
// on failure the defaults stand.
int palette_load(PALETTE_SET* set, const char* path);

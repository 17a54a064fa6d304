// What version 5 of "settings.dat" adds after the 124 bytes of version 4: the stroke
// stabilizer, the pen options and the recently used brush colours. A file of an older version
// simply lacks them and leaves their defaults.
//
//   124  stabilizer strength, 0..100
//   128  pen pressure curve (0 soft, 1 linear, 2 firm)
//   132  pen pressure changes the size (bool)
//   136  number of recent colours, 0..8
//   140  8 recent colours, newest first, each packed like the brush colour at offset 48
#pragma once

#include <cstddef>
#include <cstdint>

struct TAVOLIX_APP;

constexpr uint32_t SETTINGS_VERSION = 5;
constexpr size_t SETTINGS_V4_SIZE = 124;
constexpr size_t SETTINGS_V5_SIZE = 172;
constexpr int RECENT_COLOUR_COUNT = 8;

// Straight RGBA bytes of the colours painted with most recently, newest first, no repeats.
struct RECENT_COLOURS {
    unsigned char rgba[RECENT_COLOUR_COUNT][4];
    int count;
};

// Puts a colour at the front; an equal colour further back moves up rather than repeating.
// 1 when the list changed.
int recent_colours_push(RECENT_COLOURS* list, const unsigned char rgba[4]);

// The new options' first-run values.
void settings_v5_defaults(TAVOLIX_APP* app);
// Applies the version 5 fields of a settings record of `count` bytes: only when the record
// says version 5 or later and holds them. Values out of range are clamped, with a log line.
void settings_v5_apply(TAVOLIX_APP* app, const unsigned char* bytes, size_t count);
// Writes the version 5 fields into a record of SETTINGS_V5_SIZE bytes.
void settings_v5_build(const TAVOLIX_APP* app, unsigned char* out);

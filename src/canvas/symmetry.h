// Symmetry: every brush dab (and every committed placed shape) is repeated at mirrored or
// rotated positions about a centre, so one stroke paints two, four or up to sixteen times.
//
// The application keeps one record; the GUI cycles its mode and moves its centre, and each
// brush stroke takes a copy when it begins, so changing the settings never splits a stroke.
#pragma once

#include <allegro5/allegro.h>

#include <cstdint>

#include "canvas/document.h"
#include "canvas/view.h"

enum SYMMETRY_MODE {
    SYMMETRY_OFF = 0,
    SYMMETRY_X = 1,      // mirrored across the vertical axis through the centre
    SYMMETRY_Y = 2,      // mirrored across the horizontal axis
    SYMMETRY_XY = 3,     // both axes: four copies
    SYMMETRY_RADIAL = 4, // `count` copies evenly spaced around the centre
};
constexpr int SYMMETRY_MODE_COUNT = 5; // the GUI toggle cycles 0 .. SYMMETRY_MODE_COUNT - 1

// Radial repetitions are used clamped to this range: one copy would be no symmetry at all, and
// beyond sixteen the copies crowd into a blur.
constexpr int32_t SYMMETRY_COUNT_MIN = 2;
constexpr int32_t SYMMETRY_COUNT_MAX = 16;
constexpr int32_t SYMMETRY_COUNT_DEFAULT = 6;
// The most points any mode produces for one input point; a buffer of this many is always enough.
constexpr int SYMMETRY_MAX_POINTS = 16;

struct SYMMETRY {
    int32_t mode;    // SYMMETRY_MODE; anything else behaves as Off
    float center[2]; // centre of the mirror axes or of rotation, canvas pixels
    int32_t count;   // radial repetitions, used clamped to SYMMETRY_COUNT_MIN..MAX
};

// Off, centred on the document (on (0, 0) when `doc` is NULL), six radial copies. 1, or 0 for
// a NULL record.
int symmetry_init(SYMMETRY* sym, const DOCUMENT* doc);

// Writes the symmetric positions of (x, y) to `out` as x, y pairs, the point itself first, and
// returns how many points it wrote: never more than `max`. A NULL `sym` counts as Off. 0 when
// `out` is NULL or `max` is 0 or less. A `max` smaller than the mode's count keeps the first
// points of the full set (radial copies stay at their angles of 2πi/n, not bunched into `max`).
int symmetry_mirror(const SYMMETRY* sym, float x, float y, float* out, int max);

// "Off", "X", "Y", "XY" or "Rad"; "Off" for any unknown mode. The GUI translates the result.
const char* symmetry_mode_name(int mode);

// Draws the axes (or the radial spokes) and a small cross at the centre onto the current
// target, through the view. Nothing for a NULL `sym` or a mode that behaves as Off. The
// target's transform and blender are as they were on return.
void symmetry_draw(const SYMMETRY* sym, const DOCUMENT* doc, const VIEW* view);

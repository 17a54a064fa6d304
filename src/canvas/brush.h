// The brush engine: tip shapes, presets, stamps, dabs and strokes.
//
// A brush paints by repeating one pre-rendered imprint of its tip, the stamp, along the path
// of the pointer. Stamps are premultiplied white coverage masks cached per (diameter, hardness
// percentage, tip); tinting one when it is drawn gives it its colour and strength.
//
// A painting stroke collects its dabs as a white coverage mask in one document-sized stroke
// buffer and merges that mask into the layer once, when it ends, tinted with the stroke's
// colour and opacity: however many dabs overlap, the stroke never exceeds its opacity. An
// erasing stroke works on the layer directly. Either way a stroke is exactly one undo step.
// Shape previews borrow the same buffer while no painting stroke owns it.
//
// Everything here runs on the main thread with a display's context current, and puts back the
// Allegro state it changes (target bitmap, blender, new-bitmap flags, held drawing).
#pragma once

#include <allegro5/allegro.h>

#include <cstddef>
#include <cstdint>

#include "canvas/document.h"
#include "canvas/layer.h"
#include "canvas/symmetry.h"

enum BRUSH_MODE {
    BRUSH_MODE_PAINT = 0,
    BRUSH_MODE_ERASE = 1,
};

// Tip shape indices; any other index is drawn as Round.
enum BRUSH_TIP {
    BRUSH_TIP_ROUND = 0,
    BRUSH_TIP_SQUARE = 1,
    BRUSH_TIP_CHISEL_L = 2,
    BRUSH_TIP_SPRAY = 3,
    BRUSH_TIP_CHISEL_R = 4,
    BRUSH_TIP_FLAT = 5,
    BRUSH_TIP_DIAMOND = 6,
};

// Stamps and the stroke buffer are video bitmaps with linear minification.
constexpr int BRUSH_BITMAP_FLAGS = ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR; // 1088
// Bounded so that a long session with many sizes keeps a fixed amount of texture memory.
constexpr size_t BRUSH_STAMP_CACHE_MAX = 64;
// Spray particles per dab.
constexpr int BRUSH_SPRAY_MIN_PARTICLES = 4;
constexpr int BRUSH_SPRAY_MAX_PARTICLES = 96;

// The GUI's sliders write these fields directly.
struct BRUSH {
    float size;          // dab diameter in canvas pixels
    float hardness;      // fraction of the radius, from the centre, fully covered; 0 to 1
    float flow;          // alpha of one dab, times the pen pressure; 0 to 1
    float opacity;       // ceiling alpha of a whole stroke, applied once at its end; 0 to 1
    ALLEGRO_COLOR color; // straight (not premultiplied) paint colour
    float spacing;       // distance between dabs as a fraction of `size`
    int32_t mode;        // BRUSH_MODE
    int32_t tip;         // BRUSH_TIP
};

// A built-in preset: everything but the colour and the mode.
struct BRUSH_PRESET {
    const char* name;
    const char* short_name;
    float size;
    float hardness;
    float flow;
    float opacity;
    float spacing;
    int32_t tip;
};

// The stroke in progress. The layer, colour, opacity, symmetry and paint-or-erase are fixed
// when it begins; size, spacing, flow, hardness and tip come from the brush of each call.
struct BRUSH_STROKE {
    bool active;         // a stroke is in progress
    float last_point[2]; // the last input position
    float carry;         // distance walked since the last spacing step
    LAYER* layer;        // the layer painted, not owned; NULL for a preview
    bool use_buffer;     // dabs go into the stroke buffer (paint mode)
    ALLEGRO_COLOR color; // brush colour at the start
    float opacity;       // brush opacity at the start
    float last_dab[2];   // position of the last dab actually drawn
    SYMMETRY symmetry;   // symmetry settings at the start
    bool preview;        // a shape preview: no layer, no undo
};

// 24 px, hardness 0.7, flow 1, opacity 1, dark grey, spacing 0.25, painting, Round.
void brush_defaults(BRUSH* brush);

int brush_tip_shape_count();
// The tip's display name, or NULL for an index outside the table.
const char* brush_tip_shape_name(int index);

int brush_preset_count();
// The preset's name or short name, or NULL for an index outside the table.
const char* brush_preset_name(int index);
const char* brush_preset_short_name(int index);
// The preset row with this (full) name, or NULL.
const BRUSH_PRESET* brush_preset_get(const char* name);
// Copies the preset's values into the brush and switches it to painting; the colour stays.
// 0 with the brush unchanged when no preset has that name.
int brush_apply_preset(BRUSH* brush, const char* name);

// Draws the tip swatch shown in the brush panel into `dest`, on a background that contrasts
// with the brush colour. Returns 1 or 0.
int brush_render_tip_preview(const BRUSH* brush, ALLEGRO_BITMAP* dest);

// Drops every cached stamp and the stroke buffer, and hides the buffer. Called whenever the
// document or the display is replaced, since both depend on them.
void brush_engine_flush_cache();
// Releases everything the engine holds, the preset table included.
void brush_engine_shutdown();

// Starts a stroke on the document's active layer with a first dab at (x, y). A NULL
// `symmetry` means none, centred on the document. Returns the first dab's result; 0 without
// starting anything when the layer is locked or another undo operation is already open. When
// it returns 1, or 0 from a failed first dab with `active` set, the caller must end or abort.
int brush_stroke_begin(BRUSH_STROKE* stroke, DOCUMENT* doc, const BRUSH* brush, float x, float y,
                       float pressure, const SYMMETRY* symmetry);
// Lays dabs at the brush spacing from the last point to (x, y), all at this pressure. 1 when
// every dab succeeded (or none was due); 0 when the stroke is idle or a dab failed.
int brush_stroke_segment(BRUSH_STROKE* stroke, DOCUMENT* doc, const BRUSH* brush, float x, float y,
                         float pressure);
// Merges a painting stroke into its layer and commits the stroke as one undo step. Returns
// the commit's result; 0 for an idle stroke.
int brush_stroke_end(BRUSH_STROKE* stroke, DOCUMENT* doc);
// Throws the stroke away and puts back every pixel it erased. 1, or 0 for an idle stroke.
int brush_stroke_abort(BRUSH_STROKE* stroke, DOCUMENT* doc);

// The stroke buffer while it holds something to show (a painting stroke or a shape preview),
// else NULL. It is a white coverage mask: draw it tinted with the brush colour.
ALLEGRO_BITMAP* brush_stroke_buffer();
// Draws a polyline of `count` (x, y) pairs into the stroke buffer with the brush's tip,
// spacing, flow and symmetry, as paint even for an eraser, and shows it. Refused (0, buffer
// untouched) for fewer than two points or while a painting stroke owns the buffer. Returns 1
// when every dab succeeded.
int brush_preview_polyline(DOCUMENT* doc, const BRUSH* brush, const float* xy, int count,
                           const SYMMETRY* symmetry);
// Hides a shape preview; leaves a painting stroke's buffer alone.
void brush_preview_clear();

// Pen pressure derived from pointer speed (canvas pixels per second): standing still tends to
// 1, fast motion to 0.25, each sample moving halfway from `previous` towards the target.
float pressure_from_speed(float speed, float previous);

// ---- internal, for tests -------------------------------------------------------------------

// The cached stamp for the brush's diameter, hardness and tip, generated on a miss. Owned by
// the cache: valid until the next call that may generate a stamp, a flush or a shutdown.
ALLEGRO_BITMAP* _stamp_get(const BRUSH* brush);
// A new d x d stamp (caller owns it), or NULL.
ALLEGRO_BITMAP* _stamp_generate(int d, float hardness, int tip);
// Destructor of cached stamps.
void _stamp_destroy(void* stamp);
// Number of stamps in the cache (0 before the first).
size_t _stamp_cache_count();
// The stroke buffer sized to the document, or NULL.
ALLEGRO_BITMAP* _stroke_buffer_get(const DOCUMENT* doc);
// Draws one dab of the stroke at (x, y) at every symmetric position. Returns 1 or 0.
int _brush_dab(DOCUMENT* doc, BRUSH_STROKE* stroke, const BRUSH* brush, float x, float y,
               float pressure);
// Spray particles laid by one dab of a brush of this size.
int _spray_particle_count(float size);

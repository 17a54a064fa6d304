// Shape forms: a straight line or a cubic curve that stays editable until it is painted. The
// user drags one out, moves its control points or the whole form, and commits it by pressing
// off it; committing flattens the form into a polyline that the canvas paints as one brush
// stroke. This module holds only the geometry; pressing, previewing and painting are the
// canvas's business.
//
// Control points live in canvas pixels. A line has its ends in slots 0 and 1; a curve has its
// start in slot 0, its two handles in slots 1 and 2 and its end in slot 3.
//
// Every point a form holds is finite: creating or moving a form with NaN or infinite
// coordinates is refused, so a committed stroke can never receive a NaN position.
#pragma once

#include <cstdint>

enum FORM_KIND : uint32_t {
    FORM_NONE = 0,
    FORM_LINE = 1,
    FORM_BEZIER = 2,
};

// What form_hit_test picked when it was not a control point, and what a drag moves.
constexpr int32_t FORM_HIT_BODY = -1; // the whole form
constexpr int32_t FORM_HIT_MISS = -2; // nothing

// Flattening never makes more segments than this, so a buffer of FORM_FLATTEN_POINTS points
// always holds a flattened form.
constexpr int FORM_MAX_SEGMENTS = 256;
constexpr int FORM_FLATTEN_POINTS = FORM_MAX_SEGMENTS + 1;

struct FORM {
    uint32_t kind;        // FORM_KIND
    int32_t count;        // control points: 2 for a line, 4 for a curve, 0 when empty
    float x[4];           // control points, canvas pixels
    float y[4];
    bool dragging;        // a drag is in progress
    int32_t drag_index;   // 0..count - 1 a control point, FORM_HIT_BODY, or FORM_HIT_MISS
    float drag_start[2];  // pointer position where the drag began
    float saved_x[4];     // the control points when the drag began
    float saved_y[4];
};

// Both empty the record: no form, no drag. 1, or 0 for NULL.
int form_init(FORM* form);
int form_clear(FORM* form);

// 1 when a form exists (`kind` set and at least two control points), else 0, also for NULL.
int form_pending(const FORM* form);

// Replaces whatever the record held with a new form from (x0, y0) to (x1, y1) and returns 1.
// A curve starts straight, its handles on the chord at one and two thirds. 0 for a kind other
// than FORM_LINE or FORM_BEZIER or for a non-finite coordinate; the record is then unchanged.
int form_begin(FORM* form, int kind, float x0, float y0, float x1, float y1);

// 1 and the box around every control point (handles included), grown by `pad` on each side;
// 0 with the outputs untouched when no form is pending.
int form_bounds(const FORM* form, float pad, float* x0, float* y0, float* x1, float* y1);

// The control point within `radius` of (x, y), the nearest one, the later one on a tie;
// otherwise FORM_HIT_BODY when (x, y) lies in the control-point box grown by `pad` (edges
// included), else FORM_HIT_MISS. FORM_HIT_MISS too when no form is pending. A negative radius
// picks no control point.
int form_hit_test(const FORM* form, float x, float y, float radius, float pad);

// Starts moving control point `index` or, for FORM_HIT_BODY, the whole form, from the pointer
// position (x, y). 1 when the drag started; 0 (nothing changes) when no form is pending, the
// index is not one of the form's points or FORM_HIT_BODY, or the position is not finite.
int form_drag_begin(FORM* form, int index, float x, float y);

// Moves the dragged point to (x, y), or shifts the whole form by the pointer's travel since the
// drag began. The other points stay put: moving a curve's end leaves its handles. 1 when the
// form moved; 0 when no drag is in progress or a point would become non-finite (the form stays
// as it was, and a later update can still move it).
int form_drag_update(FORM* form, float x, float y);

// Ends any drag. 1, or 0 for NULL.
int form_drag_end(FORM* form);

// 1 and the point of the form at parameter t, clamped to 0..1 (a NaN t counts as 0); t = 0 and
// t = 1 give the end points exactly. 0 with nothing written when no form is pending.
int form_point(const FORM* form, float t, float* x, float* y);

// How many straight segments draw the form smoothly at this zoom: 1 for a line; for a curve
// about one per 6 screen pixels of its control polygon, 1..FORM_MAX_SEGMENTS. A zoom that is
// not positive counts as 1. 0 when no form is pending.
int form_flatten_segments(const FORM* form, float zoom);

// Writes segments + 1 points, evenly spaced in t from start to end, to `out_xy` as x, y pairs
// and returns their count. `segments` is used clamped to 1..FORM_MAX_SEGMENTS and `capacity`
// counts points. 0 with nothing written when no form is pending or the points do not fit.
int form_flatten(const FORM* form, int segments, float* out_xy, int capacity);

// Selections and floating pixels: a marquee or lasso outline cuts a region of the active layer
// into a floating bitmap that can be moved, scaled about any handle, rotated, deleted, copied
// and dropped back as one undoable change. Pasted images, placed shapes and text arrive as the
// same kind of float.
//
// Lifting does not open an undo operation: the layer's working bitmap gets the hole while its
// committed tiles still hold the pixels from before the lift. Committing records one step that
// covers both the hole and the dropped pixels, cancelling refills the hole so the layer equals
// its committed tiles again, deleting records the hole alone.
#pragma once

#include <allegro5/allegro.h>

#include <cstdint>

#include "canvas/document.h"
#include "canvas/layer.h"
#include "canvas/symmetry.h"
#include "canvas/view.h"

enum SELECTION_PHASE {
    SELECTION_PHASE_NONE = 0,
    SELECTION_PHASE_OUTLINING = 1, // a marquee or lasso is being drawn
    SELECTION_PHASE_FLOATING = 2,
};

// Handle codes, as stored in `drag_mode` and returned by selection_hit_test. Each resize handle
// scales about the handle opposite it, which stays where it is.
enum SELECTION_HANDLE {
    SELECTION_HANDLE_NONE = 0,
    SELECTION_HANDLE_BODY = 1,         // move
    SELECTION_HANDLE_TOP_LEFT = 2,     // (0, 0), opposite 4
    SELECTION_HANDLE_TOP_RIGHT = 3,    // (w, 0), opposite 5
    SELECTION_HANDLE_BOTTOM_RIGHT = 4, // (w, h), opposite 2
    SELECTION_HANDLE_BOTTOM_LEFT = 5,  // (0, h), opposite 3
    SELECTION_HANDLE_TOP = 6,          // (w/2, 0), opposite 8
    SELECTION_HANDLE_RIGHT = 7,        // (w, h/2), opposite 9
    SELECTION_HANDLE_BOTTOM = 8,       // (w/2, h), opposite 6
    SELECTION_HANDLE_LEFT = 9,         // (0, h/2), opposite 7
    SELECTION_HANDLE_ROTATE = 10,      // the knob beyond the top edge
};

// Floats are drawn scaled and rotated, so they filter both ways.
constexpr int SELECTION_FLOAT_FLAGS =
    ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR | ALLEGRO_MAG_LINEAR; // 1216

constexpr int32_t SELECTION_LASSO_START_CAPACITY = 256;
constexpr int32_t SELECTION_LASSO_MAX_POINTS = 4096;
// A handle drag never scales below this: a float cannot be flipped or collapsed by dragging
// past its anchor.
constexpr float SELECTION_MIN_SCALE = 0.02f;
// Handles, and the rotation knob, react within this many screen pixels.
constexpr float SELECTION_HANDLE_REACH = 15.0f;
// The rotation knob sits this many screen pixels beyond the top edge's middle.
constexpr float SELECTION_KNOB_DISTANCE = 30.0f;
// Shift rounds a rotation to multiples of 15 degrees.
constexpr float SELECTION_ANGLE_SNAP = 0.2617994f;

struct SELECTION {
    int32_t phase;          // a SELECTION_PHASE
    bool lasso;             // the outline is a lasso polygon rather than a rectangle
    float* points;          // owned; lasso vertices as x, y pairs in canvas pixels
    int32_t point_count;    // vertices in use
    int32_t point_capacity; // vertices allocated
    float marquee_start[2]; // corner where the marquee drag began
    float marquee_end[2];   // corner under the pointer
    struct {
        int32_t x, y, w, h;
    } rect;                       // where the float's pixels came from; where it sits untransformed
    ALLEGRO_BITMAP* float_bitmap; // owned; the floating pixels, rect.w x rect.h
    float offset[2];              // translation from rect's position, canvas pixels
    float scale[2];               // about the float's centre
    float angle;                  // radians, about the float's centre
    bool lifted;                  // the pixels were cut out of the layer: cancel puts them back
    bool placed;           // a placed shape or text: committing also draws the symmetry copies
    int32_t placed_kind;   // which shape or text the placed float is; -1 for none
    bool tracking;         // the canvas is following a press on the selection
    int32_t drag_mode;     // the SELECTION_HANDLE being dragged; 0 when no drag
    float drag_start[2];   // pointer at drag start, canvas pixels
    float drag_offset[2];  // offset at drag start
    float drag_angle;      // angle at drag start
    float anchor[2];       // canvas position of the fixed point of a handle drag
    float anchor_local[2]; // the same point in the float's own pixel coordinates
    LAYER* layer;          // not owned; where the float came from and will be committed
};

// Everything zero, no placed kind, unit scale.
void selection_init(SELECTION* sel);
// Drops the float and the lasso points without touching any layer (the document is being
// replaced, or the display came back and the layers were rebuilt from their committed tiles).
void selection_discard(SELECTION* sel);

// Starts a marquee at (x, y). A float that was cut out of its layer is put back first.
void selection_begin_marquee(SELECTION* sel, float x, float y);
void selection_update_marquee(SELECTION* sel, float x, float y);
// Starts a lasso at (x, y). A float that was cut out of its layer is put back first. When the
// vertex buffer cannot be allocated the selection stays empty.
void selection_begin_lasso(SELECTION* sel, float x, float y);
// Appends a vertex at least 2 pixels from the previous one; at most 4096 are kept.
void selection_add_lasso_point(SELECTION* sel, float x, float y);
// Lifts the outlined pixels of the active layer into the float. 1 when a float was lifted;
// 0 for an empty outline or a locked, missing or unusable layer (the outline is then dropped
// and the layer untouched). A float already floating is left alone and 0 returned.
int selection_end_marquee(SELECTION* sel, DOCUMENT* doc);

// 1 and the float's centre on the canvas when floating, else 0.
int selection_get_center(const SELECTION* sel, float* cx, float* cy);
// Moves a floating selection by (dx, dy).
void selection_nudge(SELECTION* sel, float dx, float dy);
// The float's pixel coordinates to canvas coordinates: scale and rotation about the centre,
// then the offset from rect.
void selection_build_transform(const SELECTION* sel, ALLEGRO_TRANSFORM* out);
// 1 when the float sits exactly on rect (also for NULL), else 0.
int selection_is_identity(const SELECTION* sel);
// The SELECTION_HANDLE under the screen position (sx, sy); 0 for a miss or when not floating.
int selection_hit_test(const SELECTION* sel, const VIEW* view, float sx, float sy);

void selection_drag_begin(SELECTION* sel, int code, float x, float y);
// Follows the pointer at (x, y) for the drag begun last. Shift (shift_held != 0) snaps a
// rotation to 15 degrees and makes a corner drag scale uniformly.
void selection_drag_update(SELECTION* sel, float x, float y, int shift_held);
void selection_drag_end(SELECTION* sel);

// Drops the float into its layer (with symmetry copies for a placed float; `symmetry` may be
// NULL) as one undo step and resets. Returns the result of undo_commit; 0 when there was
// nothing to commit. When the step cannot be opened (another operation is open) nothing is
// drawn, the float stays as it is and 0 is returned. A float whose layer has left the document
// is dropped: that layer's committed tiles still hold the lifted pixels.
int selection_commit(SELECTION* sel, DOCUMENT* doc, const SYMMETRY* symmetry);
// Puts lifted pixels back where they came from and resets; records nothing.
void selection_cancel(SELECTION* sel);
// Removes a lifted float for good as one undo step (its hole) and returns undo_commit's result.
// A float that was not lifted is dropped and 0 returned. When the step cannot be opened the
// float stays and 0 is returned.
int selection_delete(SELECTION* sel, DOCUMENT* doc);
// A new memory bitmap with an exact, untransformed copy of the float; the caller owns it. NULL
// when not floating.
ALLEGRO_BITMAP* selection_clone_float(const SELECTION* sel);
// Makes a copy of `src` the float, top-left at (x, y) clamped into the document, on the active
// layer. 0 (and the selection unchanged) when the active layer is missing or locked, `src` is
// empty or the copy cannot be made. The caller keeps `src`.
int selection_paste(SELECTION* sel, DOCUMENT* doc, ALLEGRO_BITMAP* src, int x, int y);
// Replace a placed (not lifted) float's bitmap with a re-rendered one, keeping its centre.
// Resample keeps the on-canvas size (for a shape re-rendered at a new resolution); restyle
// keeps the scale (for new style or content). On 1 the selection owns `bitmap`; on 0 (lifted or
// missing float, empty bitmap) the caller still does.
int selection_resample_float(SELECTION* sel, ALLEGRO_BITMAP* bitmap);
int selection_restyle_float(SELECTION* sel, ALLEGRO_BITMAP* bitmap);

// Draws the outline, or the float with its frame, rotation knob and handles, onto the current
// target (the screen). Transform, blender and target are as they were on return.
void selection_draw(const SELECTION* sel, const DOCUMENT* doc, const VIEW* view);

// Mapping between canvas pixels and the screen: the canvas is scaled by `zoom`, turned by
// `rotation` and placed with its origin at (x, y).
//
//   screen x = x + zoom * (cx * cos(rotation) - cy * sin(rotation))
//   screen y = y + zoom * (cx * sin(rotation) + cy * cos(rotation))
//
// Screen y grows downwards, so a positive rotation turns the canvas clockwise on screen.
// Every operation that changes a field rebuilds `transform` and `inverse` before returning.
#pragma once

#include <allegro5/allegro.h>

constexpr float VIEW_ZOOM_MIN = 0.05f;
constexpr float VIEW_ZOOM_MAX = 32.0f;

struct VIEW {
    float x; // screen position of canvas pixel (0, 0)
    float y;
    float zoom;                  // screen pixels per canvas pixel
    float rotation;              // radians, accumulated without wrapping
    ALLEGRO_TRANSFORM transform; // canvas to screen
    ALLEGRO_TRANSFORM inverse;   // screen to canvas
};

// Each operation returns 1 when it did its work, 0 when it refused (NULL arguments, bad
// sizes, a non-positive zoom factor) and left the view untouched.

// Origin at (0, 0), zoom 1, no rotation.
int view_init(VIEW* view);
// Fits the whole canvas into the screen with a small margin, unrotated and centred.
int view_fit(VIEW* view, int canvas_w, int canvas_h, int screen_w, int screen_h);
// Zoom 1, no rotation, canvas centred on the screen.
int view_center(VIEW* view, int canvas_w, int canvas_h, int screen_w, int screen_h);
// Keeps the canvas where it was relative to the screen centre after a resize.
int view_recenter(VIEW* view, int old_w, int old_h, int new_w, int new_h);
// Rebuilds transform and inverse from x, y, zoom and rotation.
int view_update(VIEW* view);
// Uses the view's transform on the current target.
int view_apply(const VIEW* view);
int view_screen_to_canvas(const VIEW* view, float screen_x, float screen_y, float* canvas_x,
                          float* canvas_y);
int view_canvas_to_screen(const VIEW* view, float canvas_x, float canvas_y, float* screen_x,
                          float* screen_y);
// Moves the canvas by (dx, dy) screen pixels.
int view_pan(VIEW* view, float dx, float dy);
// Multiplies the zoom by `factor` (limited to VIEW_ZOOM_MIN..VIEW_ZOOM_MAX) keeping the canvas
// point under the screen point (px, py) in place.
int view_zoom_at(VIEW* view, float factor, float px, float py);
// Rotates by `angle` radians about the screen point (px, py).
int view_rotate_at(VIEW* view, float angle, float px, float py);

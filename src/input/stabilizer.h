// Steadying a shaky hand: the stroke follows a point pulled behind the pointer on a string.
//
// The pulled point stays where it is while the pointer moves within the string's length of it;
// once the pointer goes farther, the point is dragged along the line towards the pointer until
// the string is taut again. Small tremors never reach the stroke, and corners come out rounded.
// When the stroke ends the canvas draws the last stretch to where the pointer was lifted, so the
// line still ends there.
#pragma once

// The Stabilizer slider's range and the string it gives at the strongest setting, in display
// pixels (the canvas divides by the zoom, so the feel does not change with the view).
constexpr int STABILIZER_MAX = 100;
constexpr float STABILIZER_STRING_PX = 72.0f;

struct STABILIZER {
    float x, y;   // the pulled point
    float length; // the string; 0 or less follows the pointer exactly
    bool active;  // between begin and the end of the stroke
};

// String length in canvas pixels for a slider strength of 0..STABILIZER_MAX at a zoom (a zoom
// that is not positive counts as 1). 0 for a strength of 0 or less.
float stabilizer_string(int strength, float zoom);
void stabilizer_begin(STABILIZER* s, float x, float y, float length);
// Pulls the point towards the pointer at (x, y). 1 when it moved (its new place in *out_x,
// *out_y), 0 while the pointer stays within the string's length.
int stabilizer_follow(STABILIZER* s, float x, float y, float* out_x, float* out_y);
void stabilizer_end(STABILIZER* s);

// Touch gestures: two or more fingers on the canvas navigate the view instead of painting.
//
// One finger paints through the platform's emulated mouse events, so this module only tracks
// the fingers that are down, drives the view from the first two (pan, pinch zoom and turn, all
// about their midpoint), and tells the canvas to hold its tools back while a navigation lasts.
// Once a navigation starts it stays on until every finger has been lifted, so letting go of
// one finger never turns the remaining one into a brush.
#pragma once

#include <allegro5/allegro.h>

#include <cstdint>

#include "canvas/view.h"

// Fingers beyond this many are ignored entirely: no slot, no count, and their end is ignored.
constexpr int GESTURE_MAX_TOUCHES = 8;
// Marks a free slot; a touch reported with this id cannot be told apart from one and is ignored.
constexpr int32_t GESTURE_FREE_ID = -1;

struct GESTURE_TOUCH {
    int32_t id; // the platform's touch id, GESTURE_FREE_ID when the slot is free
    float x;    // last known position, display pixels
    float y;
};

struct GESTURE {
    GESTURE_TOUCH slots[GESTURE_MAX_TOUCHES]; // fingers currently down, by touch id
    int32_t count;                            // number of fingers down
    bool active;                              // a navigation is in progress; strokes are blocked
};

// Every slot free with position (0, 0), no fingers, not active. 1, or 0 for NULL.
int gesture_init(GESTURE* gesture);

// Feeds one event. Touch begin, end, move and cancel return 1 whether or not they changed
// anything; any other event type returns 0. A move of one of the first two fingers during a
// navigation pans, zooms and rotates `view` so the canvas follows the fingers. NULL arguments
// return 0.
int gesture_handle_event(GESTURE* gesture, const ALLEGRO_EVENT* event, VIEW* view);

// 1 while a navigation is in progress, else 0 (also 0 for NULL).
int gesture_blocks_strokes(const GESTURE* gesture);

// Ends the navigation but keeps the fingers tracked: used when a second finger lands during a
// stroke and should be taken for a resting palm. A further finger touching down while another
// is still down starts navigating again. 1, or 0 for NULL.
int gesture_cancel_navigation(GESTURE* gesture);

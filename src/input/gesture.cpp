#include "input/gesture.h"

#include <cmath>
#include <numbers>

#include "q/q_common.h"
#include "q/q_log.h"

namespace {

// Fingers closer than this (display pixels) give no usable distance or angle: the pair still
// pans, but a pinch or turn measured from them would be noise or a division by zero.
constexpr float MIN_PAIR_DISTANCE = 1.0f;

// Slot index holding `id`, or -1. The free marker never matches, so an end or move carrying
// it cannot free or move an empty slot and push the count below zero.
int _gesture_find(const GESTURE* gesture, int32_t id) {
    if (id == GESTURE_FREE_ID) return -1;
    for (int i = 0; i < GESTURE_MAX_TOUCHES; i++) {
        if (gesture->slots[i].id == id) return i;
    }
    return -1;
}

// The first two occupied slots in index order; 0 when fewer than two fingers are down.
int _gesture_pair(const GESTURE* gesture, int* first, int* second) {
    int found = 0;
    for (int i = 0; i < GESTURE_MAX_TOUCHES && found < 2; i++) {
        if (gesture->slots[i].id == GESTURE_FREE_ID) continue;
        if (found == 0)
            *first = i;
        else
            *second = i;
        found++;
    }
    return found == 2;
}

void _gesture_begin(GESTURE* gesture, int32_t id, float x, float y) {
    // A touch that cannot be told from a free slot, or with a position that would poison the
    // view later, is not tracked; its end then finds nothing and is ignored as well.
    if (id == GESTURE_FREE_ID || !std::isfinite(x) || !std::isfinite(y)) {
        q_log(7, "touch %d ignored: unusable id or position", id);
        return;
    }
    // A repeated begin for a finger already down only refreshes its position: a second slot
    // for the same id would never be freed and would block strokes for good.
    const int existing = _gesture_find(gesture, id);
    if (existing >= 0) {
        gesture->slots[existing].x = x;
        gesture->slots[existing].y = y;
        return;
    }
    for (GESTURE_TOUCH& slot : gesture->slots) {
        if (slot.id != GESTURE_FREE_ID) continue;
        slot.id = id;
        slot.x = x;
        slot.y = y;
        gesture->count++;
        if (gesture->count >= 2) gesture->active = true;
        return;
    }
    q_log(7, "touch %d ignored: all %d slots taken", id, GESTURE_MAX_TOUCHES);
}

void _gesture_end(GESTURE* gesture, int32_t id) {
    const int i = _gesture_find(gesture, id);
    if (i < 0) return;
    gesture->slots[i].id = GESTURE_FREE_ID;
    gesture->count--;
    // A navigation that lost a finger stays on until the last one lifts, so the remaining
    // finger never starts painting halfway through a pinch.
    if (gesture->count <= 0) {
        gesture->count = 0;
        gesture->active = false;
    }
}

void _gesture_move(GESTURE* gesture, int32_t id, float nx, float ny, VIEW* view) {
    const int i = _gesture_find(gesture, id);
    if (i < 0) return;
    if (!std::isfinite(nx) || !std::isfinite(ny)) return;

    int first = -1, second = -1;
    if (gesture->active && _gesture_pair(gesture, &first, &second) && (i == first || i == second)) {
        // Only the moving finger changed; the other is held where it was last seen. The view
        // change is the similarity that takes the old pair onto the new one, so the canvas
        // points under both fingers stay under them.
        const GESTURE_TOUCH& other = gesture->slots[i == first ? second : first];
        const float px = gesture->slots[i].x, py = gesture->slots[i].y;
        const float qx = other.x, qy = other.y;
        const float m0x = (px + qx) * 0.5f, m0y = (py + qy) * 0.5f;
        const float m1x = (nx + qx) * 0.5f, m1y = (ny + qy) * 0.5f;
        view_pan(view, m1x - m0x, m1y - m0y);

        const float d0 = std::hypot(px - qx, py - qy);
        const float d1 = std::hypot(nx - qx, ny - qy);
        if (d0 > MIN_PAIR_DISTANCE && d1 > MIN_PAIR_DISTANCE) {
            view_zoom_at(view, d1 / d0, m1x, m1y);
            // The turn is the short way round: crossing the ±π seam of atan2 is a small turn,
            // not nearly a full one added to the accumulated rotation.
            float turn = std::atan2(ny - qy, nx - qx) - std::atan2(py - qy, px - qx);
            constexpr float pi = std::numbers::pi_v<float>;
            if (turn > pi)
                turn -= 2.0f * pi;
            else if (turn < -pi)
                turn += 2.0f * pi;
            view_rotate_at(view, turn, m1x, m1y);
        }
    }
    gesture->slots[i].x = nx;
    gesture->slots[i].y = ny;
}

} // namespace

int gesture_init(GESTURE* gesture) {
    q_assert(gesture, return 0);
    for (GESTURE_TOUCH& slot : gesture->slots) {
        slot.id = GESTURE_FREE_ID;
        slot.x = 0.0f;
        slot.y = 0.0f;
    }
    gesture->count = 0;
    gesture->active = false;
    return 1;
}

int gesture_handle_event(GESTURE* gesture, const ALLEGRO_EVENT* event, VIEW* view) {
    q_assert(gesture, return 0);
    q_assert(event, return 0);
    q_assert(view, return 0);
    const ALLEGRO_TOUCH_EVENT& touch = event->touch;
    switch (event->type) {
    case ALLEGRO_EVENT_TOUCH_BEGIN:
        _gesture_begin(gesture, touch.id, touch.x, touch.y);
        return 1;
    case ALLEGRO_EVENT_TOUCH_END:
    case ALLEGRO_EVENT_TOUCH_CANCEL:
        _gesture_end(gesture, touch.id);
        return 1;
    case ALLEGRO_EVENT_TOUCH_MOVE:
        _gesture_move(gesture, touch.id, touch.x, touch.y, view);
        return 1;
    default:
        return 0;
    }
}

int gesture_blocks_strokes(const GESTURE* gesture) {
    q_assert(gesture, return 0);
    return gesture->active ? 1 : 0;
}

int gesture_cancel_navigation(GESTURE* gesture) {
    q_assert(gesture, return 0);
    gesture->active = false;
    return 1;
}

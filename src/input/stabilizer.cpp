#include "input/stabilizer.h"

#include <algorithm>
#include <cmath>

#include "q/q_common.h"

float stabilizer_string(int strength, float zoom) {
    if (strength <= 0) return 0.0f;
    const float z = zoom > 0.0f && std::isfinite(zoom) ? zoom : 1.0f;
    const float t = static_cast<float>(std::min(strength, STABILIZER_MAX)) / STABILIZER_MAX;
    return t * STABILIZER_STRING_PX / z;
}

void stabilizer_begin(STABILIZER* s, float x, float y, float length) {
    q_assert(s, return);
    s->x = x;
    s->y = y;
    s->length = std::isfinite(length) ? std::max(length, 0.0f) : 0.0f;
    s->active = true;
}

int stabilizer_follow(STABILIZER* s, float x, float y, float* out_x, float* out_y) {
    q_assert(s && out_x && out_y, return 0);
    if (!std::isfinite(x) || !std::isfinite(y)) return 0;
    const float dx = x - s->x, dy = y - s->y;
    const float d = std::sqrt(dx * dx + dy * dy);
    if (d <= s->length) return 0;
    const float pull = (d - s->length) / d; // moves the point until the string is taut
    s->x += dx * pull;
    s->y += dy * pull;
    *out_x = s->x;
    *out_y = s->y;
    return 1;
}

void stabilizer_end(STABILIZER* s) {
    q_assert(s, return);
    s->active = false;
}

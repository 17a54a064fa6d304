#include "input/pen.h"

#include <cmath>
#include <cstring>

#include "q/q_common.h"
#include "q/q_log.h"

void pen_input_reset(PEN_INPUT* pen) {
    q_assert(pen, return);
    memset(static_cast<void*>(pen), 0, sizeof *pen);
    pen->device = -1;
    pen->pressure = 1.0f;
}

int pen_input_add(PEN_INPUT* pen, const PEN_SAMPLE* samples, int count) {
    q_assert(pen, return 0);
    q_assert(samples || count <= 0, return 0);
    int left = 0;
    for (int i = 0; i < count; i++) {
        const PEN_SAMPLE& s = samples[i];
        if (s.gone) {
            if (pen->stroke && s.device == pen->device) left = 1;
            continue;
        }
        pen->samples[pen->next] = s;
        pen->next = (pen->next + 1) % PEN_HISTORY;
        if (pen->count < PEN_HISTORY) pen->count++;
    }
    return left;
}

int pen_input_match(const PEN_INPUT* pen, float x, float y, double time, PEN_SAMPLE* out) {
    q_assert(pen, return 0);
    q_assert(out, return 0);
    int best = -1;
    float best_d2 = PEN_MATCH_PX * PEN_MATCH_PX;
    // Newest first, so that of equally near samples the newest wins.
    for (int k = 1; k <= pen->count; k++) {
        const int i = (pen->next - k + PEN_HISTORY) % PEN_HISTORY;
        const PEN_SAMPLE& s = pen->samples[i];
        if (!(std::fabs(s.time - time) <= PEN_MATCH_SECONDS)) continue;
        const float dx = s.x - x, dy = s.y - y;
        const float d2 = dx * dx + dy * dy;
        if (d2 < best_d2 || (best < 0 && d2 <= best_d2)) {
            best = i;
            best_d2 = d2;
        }
    }
    if (best < 0) return 0;
    *out = pen->samples[best];
    return 1;
}

float pen_pressure_curve(float pressure, int curve) {
    const float p = std::isfinite(pressure) ? (pressure < 0.0f ? 0.0f : (pressure > 1.0f ? 1.0f : pressure)) : 0.0f;
    switch (curve) {
    case PEN_CURVE_SOFT: return std::pow(p, 0.55f);
    case PEN_CURVE_FIRM: return std::pow(p, 1.8f);
    default: return p;
    }
}

const char* pen_curve_name(int curve) {
    switch (curve) {
    case PEN_CURVE_SOFT: return "Soft";
    case PEN_CURVE_FIRM: return "Firm";
    default: return "Linear";
    }
}

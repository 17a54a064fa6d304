#include "canvas/form.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "q/q_common.h"
#include "q/q_log.h"

namespace {

constexpr int MAX_POINTS = 4;

// About one flattened segment per this many screen pixels of control polygon keeps a curve
// looking smooth at any zoom without flooding the brush with tiny segments.
constexpr double SCREEN_PIXELS_PER_SEGMENT = 6.0;

bool _finite(float a, float b) {
    return std::isfinite(a) && std::isfinite(b);
}

// The control points actually present: `count` is a plain field, and a bad value must never
// make the loops read past the arrays.
int _point_count(const FORM* form) {
    return std::clamp<int32_t>(form->count, 0, MAX_POINTS);
}

bool _is_curve(const FORM* form) {
    return form->kind == FORM_BEZIER && form->count >= MAX_POINTS;
}

void _reset(FORM* form) {
    std::memset(form, 0, sizeof(*form));
    form->drag_index = FORM_HIT_MISS;
}

// Evaluated in double as weighted sums rather than P0 + t·(P1 − P0), so that t = 0 and t = 1
// land exactly on the end points: the painted stroke must end where the user put the end,
// snapped grid points included.
void _evaluate(const FORM* form, double t, float* out_x, float* out_y) {
    const double u = 1.0 - t;
    if (_is_curve(form)) {
        const double w[MAX_POINTS] = {u * u * u, 3.0 * u * u * t, 3.0 * u * t * t, t * t * t};
        double x = 0.0, y = 0.0;
        for (int i = 0; i < MAX_POINTS; ++i) {
            x += w[i] * form->x[i];
            y += w[i] * form->y[i];
        }
        *out_x = static_cast<float>(x);
        *out_y = static_cast<float>(y);
        return;
    }
    *out_x = static_cast<float>(u * form->x[0] + t * form->x[1]);
    *out_y = static_cast<float>(u * form->y[0] + t * form->y[1]);
}

} // namespace

int form_init(FORM* form) {
    q_assert(form, return 0);
    _reset(form);
    return 1;
}

int form_clear(FORM* form) {
    q_assert(form, return 0);
    _reset(form);
    return 1;
}

int form_pending(const FORM* form) {
    q_assert(form, return 0);
    return form->kind != FORM_NONE && form->count >= 2;
}

int form_begin(FORM* form, int kind, float x0, float y0, float x1, float y1) {
    q_assert(form, return 0);
    if (kind != FORM_LINE && kind != FORM_BEZIER) return 0;
    if (!_finite(x0, y0) || !_finite(x1, y1)) {
        q_log(3, "refused a form with a non-finite end point");
        return 0;
    }
    _reset(form);
    form->kind = static_cast<uint32_t>(kind);
    if (kind == FORM_LINE) {
        form->count = 2;
        form->x[0] = x0, form->y[0] = y0;
        form->x[1] = x1, form->y[1] = y1;
        return 1;
    }
    // The handles sit on the chord so a fresh curve is straight until one is dragged. In
    // double, because x1 − x0 overflows a float for ends near the float range.
    form->count = 4;
    form->x[0] = x0, form->y[0] = y0;
    form->x[3] = x1, form->y[3] = y1;
    for (int i = 1; i <= 2; ++i) {
        const double f = i / 3.0;
        form->x[i] = static_cast<float>(x0 + (static_cast<double>(x1) - x0) * f);
        form->y[i] = static_cast<float>(y0 + (static_cast<double>(y1) - y0) * f);
    }
    return 1;
}

int form_bounds(const FORM* form, float pad, float* x0, float* y0, float* x1, float* y1) {
    q_assert(form, return 0);
    q_assert(x0, return 0);
    q_assert(y0, return 0);
    q_assert(x1, return 0);
    q_assert(y1, return 0);
    if (!form_pending(form)) return 0;
    const int n = _point_count(form);
    float min_x = form->x[0], max_x = form->x[0];
    float min_y = form->y[0], max_y = form->y[0];
    for (int i = 1; i < n; ++i) {
        min_x = std::min(min_x, form->x[i]);
        max_x = std::max(max_x, form->x[i]);
        min_y = std::min(min_y, form->y[i]);
        max_y = std::max(max_y, form->y[i]);
    }
    *x0 = min_x - pad;
    *y0 = min_y - pad;
    *x1 = max_x + pad;
    *y1 = max_y + pad;
    return 1;
}

int form_hit_test(const FORM* form, float x, float y, float radius, float pad) {
    q_assert(form, return FORM_HIT_MISS);
    if (!form_pending(form)) return FORM_HIT_MISS;

    // A negative radius squares to a positive one; it means "no handles", not a wide catch.
    if (radius >= 0.0f) {
        const int n = _point_count(form);
        double best = static_cast<double>(radius) * radius;
        int pick = FORM_HIT_MISS;
        for (int i = 0; i < n; ++i) {
            const double dx = static_cast<double>(form->x[i]) - x;
            const double dy = static_cast<double>(form->y[i]) - y;
            const double d = dx * dx + dy * dy;
            // "<=" lets the later of two coincident points win: a curve's end dragged onto its
            // handle can still be pulled away by the end.
            if (d <= best) {
                best = d;
                pick = i;
            }
        }
        if (pick != FORM_HIT_MISS) return pick;
    }

    float x0 = 0.0f, y0 = 0.0f, x1 = 0.0f, y1 = 0.0f;
    form_bounds(form, pad, &x0, &y0, &x1, &y1);
    if (x >= x0 && x <= x1 && y >= y0 && y <= y1) return FORM_HIT_BODY;
    return FORM_HIT_MISS;
}

int form_drag_begin(FORM* form, int index, float x, float y) {
    q_assert(form, return 0);
    if (!form_pending(form)) return 0;
    if (index != FORM_HIT_BODY && (index < 0 || index >= _point_count(form))) return 0;
    if (!_finite(x, y)) return 0;
    form->dragging = true;
    form->drag_index = index;
    form->drag_start[0] = x;
    form->drag_start[1] = y;
    std::memcpy(form->saved_x, form->x, sizeof(form->x));
    std::memcpy(form->saved_y, form->y, sizeof(form->y));
    return 1;
}

int form_drag_update(FORM* form, float x, float y) {
    q_assert(form, return 0);
    if (!form->dragging || !form_pending(form)) return 0;
    const int n = _point_count(form);
    const int index = form->drag_index;
    if (!_finite(x, y)) return 0;

    if (index == FORM_HIT_BODY) {
        // Whole-form moves start from the saved points, so rounding never accumulates over a
        // long drag. A shift that would carry a point past the float range is refused whole,
        // keeping the form's shape.
        const float dx = x - form->drag_start[0];
        const float dy = y - form->drag_start[1];
        float nx[MAX_POINTS], ny[MAX_POINTS];
        for (int i = 0; i < n; ++i) {
            nx[i] = form->saved_x[i] + dx;
            ny[i] = form->saved_y[i] + dy;
            if (!_finite(nx[i], ny[i])) return 0;
        }
        std::copy(nx, nx + n, form->x);
        std::copy(ny, ny + n, form->y);
        return 1;
    }
    if (index < 0 || index >= n) return 0;
    form->x[index] = x;
    form->y[index] = y;
    return 1;
}

int form_drag_end(FORM* form) {
    q_assert(form, return 0);
    form->dragging = false;
    form->drag_index = FORM_HIT_MISS;
    return 1;
}

int form_point(const FORM* form, float t, float* x, float* y) {
    q_assert(form, return 0);
    q_assert(x, return 0);
    q_assert(y, return 0);
    if (!form_pending(form)) return 0;
    // std::clamp passes NaN through; a NaN t would give a NaN point.
    const double tc = std::isnan(t) ? 0.0 : std::clamp(static_cast<double>(t), 0.0, 1.0);
    _evaluate(form, tc, x, y);
    return 1;
}

int form_flatten_segments(const FORM* form, float zoom) {
    q_assert(form, return 0);
    if (!form_pending(form)) return 0;
    if (!_is_curve(form)) return 1;

    double length = 0.0;
    for (int i = 1; i < MAX_POINTS; ++i)
        length += std::hypot(static_cast<double>(form->x[i]) - form->x[i - 1],
                             static_cast<double>(form->y[i]) - form->y[i - 1]);
    const double scale = zoom > 0.0f ? static_cast<double>(zoom) : 1.0;
    // Clamped before the conversion: a huge polygon or an infinite zoom must not overflow the
    // int, and a NaN (from points set directly on the record) falls to one segment.
    const double segments = scale * length / SCREEN_PIXELS_PER_SEGMENT + 0.5;
    if (!(segments >= 1.0)) return 1;
    if (segments >= FORM_MAX_SEGMENTS) return FORM_MAX_SEGMENTS;
    return static_cast<int>(segments);
}

int form_flatten(const FORM* form, int segments, float* out_xy, int capacity) {
    q_assert(form, return 0);
    q_assert(out_xy, return 0);
    if (!form_pending(form)) return 0;
    const int n = std::clamp(segments, 1, FORM_MAX_SEGMENTS);
    if (capacity <= n) return 0;
    for (int i = 0; i <= n; ++i) {
        const double t = std::clamp(static_cast<double>(i) / n, 0.0, 1.0);
        _evaluate(form, t, &out_xy[2 * i], &out_xy[2 * i + 1]);
    }
    return n + 1;
}

#include "template.h"

#include <allegro5/allegro_primitives.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "q/q_common.h"
#include "q/q_log.h"

namespace {

constexpr std::array<const char*, 25> TEMPLATE_NAMES = {
    "Blank",         "Narrow ruled",     "Medium ruled",  "Wide ruled",     "Lined with margin",
    "Lined heading", "Two-column",       "Dayplanner",    "Small grid",     "Medium grid",
    "Large grid",    "Small dots",       "Medium dots",   "Large dots",     "Isometric",
    "Hexagon",       "Perspective grid", "Daily planner", "Weekly planner", "Monthly planner",
    "To-do list",    "Year/calendar",    "Storyboard",    "Music sheet",    "Sketching guide",
};

// Narrow, medium and wide ruling: lines every H/n.
constexpr std::array<float, 3> RULED_DIVISIONS = {45.0f, 32.0f, 22.0f};
// Small, medium and large grids and dots: cells of m/n, m the canvas's shorter side.
constexpr std::array<float, 3> CELL_DIVISIONS = {64.0f, 40.0f, 24.0f};

// Guides closer than an output pixel are a grey wash rather than lines: a family spaced under
// one pixel draws nothing. In an export a pixel is a canvas pixel; on screen it is also a
// screen pixel, which keeps a frame's primitives to about what the screen can show.
constexpr float MIN_SPACING = 1.0f;

// Clipped pieces shorter than this are invisible and dropped.
constexpr float MIN_PIECE = 1.0f / 256.0f;

constexpr float SQRT3 = 1.7320508f;
// Vertices of a flat-topped hexagon at 60-degree steps, as multiples of the circumradius.
constexpr std::array<float, 6> HEX_COS = {1.0f, 0.5f, -0.5f, -1.0f, -0.5f, 0.5f};
constexpr std::array<float, 6> HEX_SIN = {0.0f, SQRT3 / 2.0f,  SQRT3 / 2.0f,
                                          0.0f, -SQRT3 / 2.0f, -SQRT3 / 2.0f};

// Where every primitive goes: drawn with the colour, counted into the stats, or both. The
// geometry below knows nothing of which, so what is counted is exactly what is drawn.
struct PEN {
    const ALLEGRO_COLOR* color = nullptr;
    TEMPLATE_STATS* stats = nullptr;
    float thickness = 1.0f;
    float min_spacing = MIN_SPACING; // canvas pixels
    float clip[4] = {-HUGE_VALF, -HUGE_VALF, HUGE_VALF, HUGE_VALF}; // x0, y0, x1, y1
    int dropped = 0;
    bool placed = false;

    // Whether a primitive within this box (grown by the line thickness) can touch the clip.
    bool visible(float x0, float y0, float x1, float y1) const {
        const float pad = thickness;
        return std::min(x0, x1) - pad <= clip[2] && std::max(x0, x1) + pad >= clip[0] &&
               std::min(y0, y1) - pad <= clip[3] && std::max(y0, y1) + pad >= clip[1];
    }

    void extend(float x, float y) {
        if (!placed) {
            stats->min_x = stats->max_x = x;
            stats->min_y = stats->max_y = y;
            placed = true;
            return;
        }
        stats->min_x = std::min(stats->min_x, x);
        stats->max_x = std::max(stats->max_x, x);
        stats->min_y = std::min(stats->min_y, y);
        stats->max_y = std::max(stats->max_y, y);
    }
    void line(float x0, float y0, float x1, float y1) {
        if (!visible(x0, y0, x1, y1)) return;
        if (color) al_draw_line(x0, y0, x1, y1, *color, thickness);
        if (!stats) return;
        stats->lines++;
        extend(x0, y0);
        extend(x1, y1);
    }
    void circle(float cx, float cy, float r) {
        if (!visible(cx - r, cy - r, cx + r, cy + r)) return;
        if (color) al_draw_filled_circle(cx, cy, r, *color);
        if (!stats) return;
        stats->circles++;
        stats->radius = r;
        extend(cx, cy);
    }
    void rect(float x0, float y0, float x1, float y1) {
        if (!visible(x0, y0, x1, y1)) return;
        if (color) al_draw_rectangle(x0, y0, x1, y1, *color, thickness);
        if (!stats) return;
        stats->rects++;
        extend(x0, y0);
        extend(x1, y1);
    }
    void ellipse(float cx, float cy, float rx, float ry) {
        if (!visible(cx - rx, cy - ry, cx + rx, cy + ry)) return;
        if (color) al_draw_ellipse(cx, cy, rx, ry, *color, thickness);
        if (!stats) return;
        stats->ellipses++;
        extend(cx - rx, cy - ry);
        extend(cx + rx, cy + ry);
    }
};

// Position k of a run; the counting and the drawing must agree to the last bit.
float _at(float origin, float step, int k) {
    return origin + static_cast<float>(k) * step;
}

// How many positions origin + k·step, k = 1, 2, ..., lie below `limit` (or on it when
// `inclusive`). -1 when there would be some but they are closer than the pen's minimum
// spacing: the caller then leaves the whole family out.
int _run(const PEN& pen, float origin, float step, float limit, bool inclusive) {
    // Steps like H/45 are rounded, so the 45th line may land a hair above or below H. Within
    // about a thousandth of a step of the limit counts as on it, which keeps edge lines out
    // (or in, when inclusive) whatever the rounding did.
    const float slack = step / 1024.0f;
    const auto inside = [&](int k) {
        const float v = _at(origin, step, k);
        return inclusive ? v <= limit + slack : v < limit - slack;
    };
    if (!inside(1)) return 0;
    if (!(step >= pen.min_spacing)) return -1;
    // At least a pixel apart on a canvas of at most 16384 x 16384: far inside an int.
    int n = std::max(0, static_cast<int>((static_cast<double>(limit) - origin) / step));
    while (n > 0 && !inside(n))
        --n;
    while (inside(n + 1))
        ++n;
    return n;
}

// _run for one family of lines, which the pen notes when it has to be left out.
int _lines(PEN& pen, float origin, float step, float limit) {
    const int n = _run(pen, origin, step, limit, false);
    if (n >= 0) return n;
    pen.dropped++;
    return 0;
}

// Calls draw(k) for each k in first..last whose position origin + k·step along `axis` (0 for
// x, 1 for y) can be seen in the pen's clip, give or take `reach` (half a primitive's extent).
// Only those are visited, so the work follows what is visible, not the size of the canvas.
template <class Draw>
void _each(const PEN& pen, int axis, float origin, float step, int first, int last, float reach,
           Draw draw) {
    reach += pen.thickness;
    const double lo = std::ceil((static_cast<double>(pen.clip[axis]) - reach - origin) / step);
    const double hi = std::floor((static_cast<double>(pen.clip[axis + 2]) + reach - origin) / step);
    // Compared in double first: a clip far off the canvas must not overflow an int.
    if (lo > first) first = lo > last ? last + 1 : static_cast<int>(lo);
    if (hi < last) last = hi < first ? first - 1 : static_cast<int>(hi);
    for (int k = first; k <= last; ++k)
        draw(k);
}

void _hline(PEN& pen, float y, float x0, float x1) {
    pen.line(x0, y, x1, y);
}

void _vline(PEN& pen, float x, float y0, float y1) {
    pen.line(x, y0, x, y1);
}

// Full-width lines at y = k·d below H.
void _ruled(PEN& pen, float W, float H, float d) {
    _each(pen, 1, 0.0f, d, 1, _lines(pen, 0.0f, d, H), 0.0f,
          [&](int k) { _hline(pen, _at(0.0f, d, k), 0.0f, W); });
}

// The segment (x0, y0)-(x1, y1) clipped to 0..W x 0..H (Liang-Barsky); nothing when it misses
// or only touches the rectangle.
void _cline(PEN& pen, float W, float H, float x0, float y0, float x1, float y1) {
    const float dx = x1 - x0;
    const float dy = y1 - y0;
    const float p[4] = {-dx, dx, -dy, dy};
    const float q[4] = {x0, W - x0, y0, H - y0};
    float t0 = 0.0f;
    float t1 = 1.0f;
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0f) {
            if (q[i] < 0.0f) return; // parallel to this edge and outside it
            continue;
        }
        const float t = q[i] / p[i];
        if (p[i] < 0.0f) {
            if (t > t1) return;
            t0 = std::max(t0, t);
        } else {
            if (t < t0) return;
            t1 = std::min(t1, t);
        }
    }
    // A line that only grazes a corner keeps a speck whose existence depends on rounding.
    if ((t1 - t0) * std::hypot(dx, dy) < MIN_PIECE) return;
    pen.line(x0 + t0 * dx, y0 + t0 * dy, x0 + t1 * dx, y0 + t1 * dy);
}

// Every line of direction (cos angle, sin angle) whose distance from the origin along the
// normal is a multiple of `spacing`, across the whole canvas.
void _family(PEN& pen, float W, float H, float angle, float spacing) {
    const float dx = std::cos(angle);
    const float dy = std::sin(angle);
    const float nx = -dy;
    const float ny = dx;
    const float corners[4][2] = {{0.0f, 0.0f}, {W, 0.0f}, {0.0f, H}, {W, H}};
    float pmin = 0.0f, pmax = 0.0f, tmin = 0.0f, tmax = 0.0f; // (0, 0) projects to 0
    for (const auto& c : corners) {
        const float p = c[0] * nx + c[1] * ny;
        const float t = c[0] * dx + c[1] * dy;
        pmin = std::min(pmin, p);
        pmax = std::max(pmax, p);
        tmin = std::min(tmin, t);
        tmax = std::max(tmax, t);
    }
    if (!(spacing >= pen.min_spacing)) {
        pen.dropped++;
        return;
    }
    const float first = std::ceil(pmin / spacing) * spacing;
    if (first > pmax) return;
    const int n = _run(pen, first, spacing, pmax, true);
    // The lines that can cross the clip are those whose distance lies within the clip's own
    // projection onto the normal.
    PEN along = pen;
    along.clip[0] = HUGE_VALF;
    along.clip[2] = -HUGE_VALF;
    for (float cx : {pen.clip[0], pen.clip[2]})
        for (float cy : {pen.clip[1], pen.clip[3]}) {
            const float p = std::clamp(cx, -1e9f, 1e9f) * nx + std::clamp(cy, -1e9f, 1e9f) * ny;
            along.clip[0] = std::min(along.clip[0], p);
            along.clip[2] = std::max(along.clip[2], p);
        }
    _each(along, 0, first, spacing, 0, n, 0.0f, [&](int k) {
        const float dist = _at(first, spacing, k);
        const float ox = nx * dist;
        const float oy = ny * dist;
        _cline(pen, W, H, ox + dx * tmin, oy + dy * tmin, ox + dx * tmax, oy + dy * tmax);
    });
}

// Square grid of cell q: the vertical lines, then the horizontal ones.
void _grid(PEN& pen, float W, float H, float q) {
    _each(pen, 0, 0.0f, q, 1, _lines(pen, 0.0f, q, W), 0.0f,
          [&](int k) { _vline(pen, _at(0.0f, q, k), 0.0f, H); });
    _each(pen, 1, 0.0f, q, 1, _lines(pen, 0.0f, q, H), 0.0f,
          [&](int k) { _hline(pen, _at(0.0f, q, k), 0.0f, W); });
}

// Dots at (i·d, j·d) inside the canvas, never smaller than the line thickness.
void _dots(PEN& pen, float W, float H, float d) {
    const int ni = _run(pen, 0.0f, d, W, false);
    const int nj = _run(pen, 0.0f, d, H, false);
    if (ni == 0 || nj == 0) return;
    if (ni < 0 || nj < 0) {
        pen.dropped++;
        return;
    }
    const float r = std::max(pen.thickness, 0.045f * d);
    _each(pen, 0, 0.0f, d, 1, ni, r, [&](int i) {
        _each(pen, 1, 0.0f, d, 1, nj, r,
              [&](int j) { pen.circle(_at(0.0f, d, i), _at(0.0f, d, j), r); });
    });
}

void _isometric(PEN& pen, float W, float H, float s) {
    // From the left edge to the right edge inclusive.
    const int n = _run(pen, 0.0f, s, W, true);
    if (n < 0)
        pen.dropped++;
    else
        _each(pen, 0, 0.0f, s, 0, n, 0.0f, [&](int k) { _vline(pen, _at(0.0f, s, k), 0.0f, H); });
    _family(pen, W, H, 0.5235988f, s);
    _family(pen, W, H, 2.617994f, s);
}

// Flat-topped hexagons of circumradius R, odd columns half a row lower. Rows and columns go one
// hexagon past the canvas so the border is covered; edges are clipped, shared ones drawn twice.
void _hexagons(PEN& pen, float W, float H, float R) {
    const float pitch_x = 1.5f * R;
    const float pitch_y = SQRT3 * R;
    const float shift = pitch_y / 2.0f;
    const int cols = _run(pen, 0.0f, pitch_x, W + R, false);
    const int rows_even = _run(pen, 0.0f, pitch_y, H + pitch_y, false);
    const int rows_odd = _run(pen, shift, pitch_y, H + pitch_y, false);
    if (cols < 0 || rows_even < 0 || rows_odd < 0) {
        pen.dropped++;
        return;
    }
    _each(pen, 0, 0.0f, pitch_x, 0, cols, R, [&](int i) {
        const bool odd = i % 2 == 1;
        const float x = _at(0.0f, pitch_x, i);
        const float top = odd ? shift : 0.0f;
        _each(pen, 1, top, pitch_y, 0, odd ? rows_odd : rows_even, shift, [&](int j) {
            const float y = _at(top, pitch_y, j);
            for (int k = 0; k < 6; ++k) {
                const int e = (k + 1) % 6;
                _cline(pen, W, H, x + R * HEX_COS[k], y + R * HEX_SIN[k], x + R * HEX_COS[e],
                       y + R * HEX_SIN[e]);
            }
        });
    });
}

void _perspective(PEN& pen, float W, float H) {
    const float vx = W / 2.0f;
    const float vy = 0.42f * H;
    _hline(pen, vy, 0.0f, W);
    for (int i = 0; i <= 18; ++i) {
        const float x = static_cast<float>(i) * W / 18.0f;
        _cline(pen, W, H, vx, vy, x, H);
        _cline(pen, W, H, vx, vy, x, 0.0f);
    }
    for (int j = 0; j <= 10; ++j) {
        const float y = static_cast<float>(j) * H / 10.0f;
        _cline(pen, W, H, vx, vy, 0.0f, y);
        _cline(pen, W, H, vx, vy, W, y);
    }
    pen.circle(vx, vy, 2.5f * pen.thickness);
}

void _daily(PEN& pen, float W, float H) {
    const float top = 0.1f * H;
    const float split = 0.62f * W;
    _hline(pen, top, 0.0f, W);
    _vline(pen, split, top, H);
    for (int k = 1; k <= 12; ++k)
        _hline(pen, top + static_cast<float>(k) * 0.9f * H / 12.0f, 0.0f, split);
    _each(pen, 1, top, H / 30.0f, 1, _lines(pen, top, H / 30.0f, H), 0.0f,
          [&](int k) { _hline(pen, _at(top, H / 30.0f, k), split, W); });
}

// Weekly and monthly: seven columns below a header, the area under it in six rows.
void _planner(PEN& pen, float W, float H, float header) {
    const float top = header * H;
    _hline(pen, top, 0.0f, W);
    for (int k = 1; k <= 6; ++k)
        _vline(pen, static_cast<float>(k) * W / 7.0f, 0.0f, H);
    for (int k = 1; k <= 5; ++k)
        _hline(pen, top + static_cast<float>(k) * (1.0f - header) * H / 6.0f, 0.0f, W);
}

void _todo(PEN& pen, float W, float H) {
    const float p = H / 22.0f;
    const float box_x = 0.03f * W;
    const float box = p / 2.0f;
    const float line_x0 = box_x + box + 0.01f * W;
    const float line_x1 = 0.97f * W;
    // On a canvas some forty times taller than wide the boxes alone are wider than the page.
    if (line_x0 >= line_x1) return;
    _each(pen, 1, 0.0f, p, 1, _lines(pen, 0.0f, p, H), box, [&](int k) {
        const float y = _at(0.0f, p, k);
        pen.rect(box_x, y - box, box_x + box, y);
        _hline(pen, y, line_x0, line_x1);
    });
}

// Twelve months, 4 x 3, each a framed block with a header and a 7 x 6 day grid.
void _calendar(PEN& pen, float W, float H) {
    const float cell_w = W / 4.0f;
    const float cell_h = H / 3.0f;
    const float pad = 0.06f * cell_w; // from the width on every side, so blocks stay square-ish
    const float bw = cell_w - 2.0f * pad;
    const float bh = cell_h - 2.0f * pad;
    // Past about 11:1 the padding eats the whole row height and blocks would turn inside out.
    if (!(bh > 0.0f)) return;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 4; ++col) {
            const float x0 = static_cast<float>(col) * cell_w + pad;
            const float y0 = static_cast<float>(row) * cell_h + pad;
            const float x1 = x0 + bw;
            const float y1 = y0 + bh;
            const float head = y0 + 0.16f * bh;
            pen.rect(x0, y0, x1, y1);
            _hline(pen, head, x0, x1);
            for (int k = 1; k <= 6; ++k)
                _vline(pen, x0 + static_cast<float>(k) * bw / 7.0f, head, y1);
            for (int k = 1; k <= 5; ++k)
                _hline(pen, head + static_cast<float>(k) * (y1 - head) / 6.0f, x0, x1);
        }
    }
}

// Six frames, 2 x 3, each with three caption lines under it. Margins and gaps follow the width
// so the frames keep their proportions on tall pages.
void _storyboard(PEN& pen, float W, float H) {
    const float margin = 0.04f * W;
    const float gap = 0.03f * W;
    const float fw = (W - 2.0f * margin - gap) / 2.0f;
    const float r = (H - 2.0f * margin - 2.0f * gap) / 3.0f;
    // Past about 7:1 the margins take the whole height; frames would overlap upside down.
    if (!(r > 0.0f)) return;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 2; ++col) {
            const float x0 = margin + static_cast<float>(col) * (fw + gap);
            const float y0 = margin + static_cast<float>(row) * (r + gap);
            const float frame_h = 0.74f * r;
            pen.rect(x0, y0, x0 + fw, y0 + frame_h);
            for (int k = 1; k <= 3; ++k)
                _hline(pen, y0 + frame_h + static_cast<float>(k) * 0.26f * r / 4.0f, x0, x0 + fw);
        }
    }
}

void _music(PEN& pen, float W, float H) {
    const float g = H / 9.0f;
    for (int i = 1; i <= 8; ++i)
        for (int k = -2; k <= 2; ++k)
            _hline(pen, static_cast<float>(i) * g + static_cast<float>(k) * 0.13f * g, 0.05f * W,
                   0.95f * W);
}

void _sketching(PEN& pen, float W, float H) {
    _vline(pen, W / 3.0f, 0.0f, H);
    _vline(pen, 2.0f * W / 3.0f, 0.0f, H);
    _hline(pen, H / 3.0f, 0.0f, W);
    _hline(pen, 2.0f * H / 3.0f, 0.0f, W);
    _vline(pen, W / 2.0f, 0.0f, H);
    _hline(pen, H / 2.0f, 0.0f, W);
    pen.ellipse(W / 2.0f, H / 2.0f, 0.45f * W, 0.45f * H);
    _cline(pen, W, H, 0.0f, 0.0f, W, H);
    _cline(pen, W, H, W, 0.0f, 0.0f, H);
}

// The one place that knows every template's geometry, whichever sink the pen feeds.
void _geometry(PEN& pen, int index, int width, int height) {
    if (width < 1 || height < 1) return;
    const float W = static_cast<float>(width);
    const float H = static_cast<float>(height);
    const float m = std::min(W, H);
    switch (index) {
    case 1:
    case 2:
    case 3:
        _ruled(pen, W, H, H / RULED_DIVISIONS[index - 1]);
        break;
    case 4:
        _ruled(pen, W, H, H / 32.0f);
        _vline(pen, 0.12f * W, 0.0f, H);
        break;
    case 5: {
        const float top = 0.13f * H;
        pen.rect(0.04f * W, 0.03f * H, 0.96f * W, top);
        _each(pen, 1, top, H / 32.0f, 1, _lines(pen, top, H / 32.0f, H), 0.0f,
              [&](int k) { _hline(pen, _at(top, H / 32.0f, k), 0.04f * W, 0.96f * W); });
        break;
    }
    case 6:
        _vline(pen, W / 2.0f, 0.0f, H);
        _ruled(pen, W, H, H / 30.0f);
        break;
    case 7:
        _hline(pen, 0.08f * H, 0.0f, W);
        _vline(pen, 0.14f * W, 0.0f, H);
        for (int k = 1; k <= 14; ++k)
            _hline(pen, 0.08f * H + static_cast<float>(k) * 0.92f * H / 14.0f, 0.0f, W);
        break;
    case 8:
    case 9:
    case 10:
        _grid(pen, W, H, m / CELL_DIVISIONS[index - 8]);
        break;
    case 11:
    case 12:
    case 13:
        _dots(pen, W, H, m / CELL_DIVISIONS[index - 11]);
        break;
    case 14:
        _isometric(pen, W, H, m / 28.0f);
        break;
    case 15:
        _hexagons(pen, W, H, m / 26.0f);
        break;
    case 16:
        _perspective(pen, W, H);
        break;
    case 17:
        _daily(pen, W, H);
        break;
    case 18:
        _planner(pen, W, H, 0.08f);
        break;
    case 19:
        _planner(pen, W, H, 0.07f);
        break;
    case 20:
        _todo(pen, W, H);
        break;
    case 21:
        _calendar(pen, W, H);
        break;
    case 22:
        _storyboard(pen, W, H);
        break;
    case 23:
        _music(pen, W, H);
        break;
    case 24:
        _sketching(pen, W, H);
        break;
    default:
        break; // 0 is blank paper; anything else is unknown and draws nothing
    }
}

float _line_thickness(float thickness) {
    return thickness > 0.0f && std::isfinite(thickness) ? thickness : 1.0f;
}

PEN _pen(float thickness, const TEMPLATE_VIEW* view) {
    PEN pen;
    pen.thickness = _line_thickness(thickness);
    if (!view) return pen;
    if (view->scale > 0.0f && std::isfinite(view->scale))
        pen.min_spacing = std::max(MIN_SPACING, 1.0f / view->scale);
    const float clip[4] = {view->x0, view->y0, view->x1, view->y1};
    for (int i = 0; i < 4; ++i)
        if (!std::isnan(clip[i])) pen.clip[i] = clip[i];
    return pen;
}

} // namespace

int template_count() {
    return static_cast<int>(TEMPLATE_NAMES.size());
}

const char* template_name(unsigned index) {
    return index < TEMPLATE_NAMES.size() ? TEMPLATE_NAMES[index] : TEMPLATE_NAMES[0];
}

void template_draw(int index, int W, int H, const ALLEGRO_COLOR* color, float thickness,
                   const TEMPLATE_VIEW* view) {
    q_assert(color, return);
    PEN pen = _pen(thickness, view);
    pen.color = color;
    _geometry(pen, index, W, H);
    // Once per template and size, not once per frame.
    static int reported[3] = {0, 0, 0};
    if (pen.dropped > 0 && (reported[0] != index || reported[1] != W || reported[2] != H)) {
        reported[0] = index;
        reported[1] = W;
        reported[2] = H;
        q_log(7, "template %d on %dx%d: %d run(s) closer than a pixel, left out", index, W, H,
              pen.dropped);
    }
}

void template_draw_stats(int index, int W, int H, float thickness, TEMPLATE_STATS* out,
                         const TEMPLATE_VIEW* view) {
    q_assert(out, return);
    *out = TEMPLATE_STATS{};
    PEN pen = _pen(thickness, view);
    pen.stats = out;
    _geometry(pen, index, W, H);
    out->dropped = pen.dropped;
}

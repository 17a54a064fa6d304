#include "canvas/grid.h"

#include <allegro5/allegro_primitives.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "canvas/allegro_state.h"
#include "q/q_common.h"
#include "q/q_log.h"

namespace {

// Interactive snapping with diagonals, as fractions of the cell size: the cell centre catches
// points within a quarter cell; a diagonal is only considered once the point is clearly off
// every grid line, and is then taken unless the nearest grid line is closer than three
// quarters of the diagonal's distance.
constexpr double CENTRE_CATCH = 0.25;
constexpr double LINE_CATCH = 0.15;
constexpr double DIAGONAL_BIAS = 0.75;
constexpr double INV_SQRT2 = 0.70710677;

constexpr float QUARTER_TURN = 1.5707964f;
constexpr float EIGHTH_TURN = 0.7853982f;

// Lines shift by half a screen pixel so that one-pixel lines cover whole pixels, not two halves.
constexpr float CRISP_SHIFT = 0.5f;

// Bounds on one frame's work. A real display at the smallest drawable cell needs a few hundred
// lines each way and a few hundred thousand cells even when rotated; only nonsense display
// sizes reach these, and then the grid is left out rather than stalling the frame.
constexpr double MAX_LINES = 4096.0;
constexpr double MAX_CELLS = 1048576.0;

// Vertices per draw call for the batched lines, six (two triangles) per segment.
constexpr size_t BATCH_VERTICES = 6 * 2048;

// A size the rules can work with: NaN, infinities and sizes of zero or less disable the grid
// instead of producing NaN or infinite positions.
bool _size_ok(float s) {
    return std::isfinite(s) && s > 0.0f;
}

bool _active(const GRID* grid) {
    return grid->snap && _size_ok(grid->size) && (grid->visible || grid->diagonals);
}

// The rules run in double: with a tiny cell, x/s overflows a float and the snapped point would
// land at infinity.
struct SNAP_POINT {
    double x, y;
};

SNAP_POINT _lattice(double x, double y, double s) {
    return {std::round(x / s) * s, std::round(y / s) * s};
}

SNAP_POINT _cell_centre(double x, double y, double s) {
    return {(std::floor(x / s) + 0.5) * s, (std::floor(y / s) + 0.5) * s};
}

double _distance_sq(SNAP_POINT a, double x, double y) {
    return (a.x - x) * (a.x - x) + (a.y - y) * (a.y - y);
}

// The lattice point, or with diagonals the cell centre when strictly nearer.
SNAP_POINT _snap_point(const GRID* grid, double x, double y) {
    const double s = grid->size;
    const SNAP_POINT lattice = _lattice(x, y, s);
    if (!grid->diagonals) return lattice;
    const SNAP_POINT centre = _cell_centre(x, y, s);
    return _distance_sq(centre, x, y) < _distance_sq(lattice, x, y) ? centre : lattice;
}

SNAP_POINT _snap_view_point(const GRID* grid, double x, double y) {
    const double s = grid->size;
    const SNAP_POINT lattice = _lattice(x, y, s);
    if (!grid->diagonals) return lattice;

    const SNAP_POINT centre = _cell_centre(x, y, s);
    if (_distance_sq(centre, x, y) <= (CENTRE_CATCH * s) * (CENTRE_CATCH * s)) return centre;

    const double off_line = std::min(std::fabs(x - lattice.x), std::fabs(y - lattice.y));
    if (off_line > LINE_CATCH * s) {
        // Offsets from the nearest diagonal of each family: y - x and x + y are multiples of s
        // on them.
        const double d1 = (y - x) - std::round((y - x) / s) * s;
        const double d2 = (x + y) - std::round((x + y) / s) * s;
        const double p1 = INV_SQRT2 * std::fabs(d1);
        const double p2 = INV_SQRT2 * std::fabs(d2);
        if (off_line >= DIAGONAL_BIAS * std::min(p1, p2)) {
            if (p2 < p1) return {x - d2 / 2.0, y - d2 / 2.0};
            return {x + d1 / 2.0, y - d1 / 2.0};
        }
    }
    return lattice;
}

bool _cells_visible(float s, float zoom) {
    return _size_ok(s) && zoom > 0.0f && s * zoom >= GRID_MIN_SCREEN_CELL;
}

// Segments of one thickness and colour gathered into triangle lists, so a dense grid costs a
// handful of draw calls instead of one per line. Each segment becomes the same quad a thick
// line would: the segment widened by half the thickness on either side, square ends.
class LINE_BATCH {
  public:
    LINE_BATCH(ALLEGRO_COLOR colour, float thickness) : colour_(colour), half_(thickness * 0.5f) {
        vertices_.reserve(BATCH_VERTICES);
    }
    ~LINE_BATCH() { flush(); }
    LINE_BATCH(const LINE_BATCH&) = delete;
    LINE_BATCH& operator=(const LINE_BATCH&) = delete;

    void line(float x0, float y0, float x1, float y1) {
        const float dx = x1 - x0;
        const float dy = y1 - y0;
        const float length = std::sqrt(dx * dx + dy * dy);
        if (!(length > 0.0f)) return;
        const float nx = -dy / length * half_;
        const float ny = dx / length * half_;
        const ALLEGRO_VERTEX a = vertex(x0 + nx, y0 + ny);
        const ALLEGRO_VERTEX b = vertex(x0 - nx, y0 - ny);
        const ALLEGRO_VERTEX c = vertex(x1 - nx, y1 - ny);
        const ALLEGRO_VERTEX d = vertex(x1 + nx, y1 + ny);
        for (const ALLEGRO_VERTEX& v : {a, b, c, a, c, d})
            vertices_.push_back(v);
        if (vertices_.size() + 6 > BATCH_VERTICES) flush();
    }

    void flush() {
        if (vertices_.empty()) return;
        al_draw_prim(vertices_.data(), nullptr, nullptr, 0, static_cast<int>(vertices_.size()),
                     ALLEGRO_PRIM_TRIANGLE_LIST);
        vertices_.clear();
    }

  private:
    ALLEGRO_VERTEX vertex(float x, float y) const { return {x, y, 0.0f, 0.0f, 0.0f, colour_}; }

    ALLEGRO_COLOR colour_;
    float half_;
    std::vector<ALLEGRO_VERTEX> vertices_;
};

// The part of the document a display shows: the bounding box of the display's corners in
// canvas coordinates, cut to the document. 0 when nothing of the document is on screen.
struct VISIBLE_AREA {
    double x0, y0, x1, y1;
};

int _visible_area(const DOCUMENT* doc, const VIEW* view, int display_w, int display_h,
                  VISIBLE_AREA* area) {
    const std::array<float, 4> sx = {0.0f, static_cast<float>(display_w), 0.0f,
                                     static_cast<float>(display_w)};
    const std::array<float, 4> sy = {0.0f, 0.0f, static_cast<float>(display_h),
                                     static_cast<float>(display_h)};
    double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
    for (size_t i = 0; i < sx.size(); ++i) {
        float cx = 0.0f, cy = 0.0f;
        view_screen_to_canvas(view, sx[i], sy[i], &cx, &cy);
        x0 = std::min<double>(x0, cx);
        y0 = std::min<double>(y0, cy);
        x1 = std::max<double>(x1, cx);
        y1 = std::max<double>(y1, cy);
    }
    area->x0 = std::max(x0, 0.0);
    area->y0 = std::max(y0, 0.0);
    area->x1 = std::min(x1, static_cast<double>(doc->width));
    area->y1 = std::min(y1, static_cast<double>(doc->height));
    // Comparisons written so that a view mapping no corner to a number leaves the area empty.
    return area->x1 > area->x0 && area->y1 > area->y0;
}

// Both diagonals of every cell that meets the area, cut where the document ends: the one
// from the top-left corner runs until it leaves the document; the one from the top-right
// corner is drawn only over the part inside it.
void _draw_diagonals(const GRID* grid, const DOCUMENT* doc, const VISIBLE_AREA& area, float t) {
    const double s = grid->size;
    const double w = doc->width;
    const double h = doc->height;
    const double col0 = std::floor(area.x0 / s);
    const double row0 = std::floor(area.y0 / s);
    const double cols = std::ceil(area.x1 / s) - col0;
    const double rows = std::ceil(area.y1 / s) - row0;
    if (cols * rows > MAX_CELLS) return;

    LINE_BATCH batch(grid->diagonal_color, t);
    // Integer counters: with a tiny cell far from the origin, adding 1 to a double cell index
    // may not change it.
    const auto row_count = static_cast<long>(rows);
    const auto col_count = static_cast<long>(cols);
    for (long r = 0; r < row_count; ++r) {
        const double y = (row0 + static_cast<double>(r)) * s;
        const double fy = std::min(1.0, (h - y) / s);
        if (fy <= 0.0) break;
        for (long c = 0; c < col_count; ++c) {
            const double x = (col0 + static_cast<double>(c)) * s;
            const double fx = std::min(1.0, (w - x) / s);
            if (fx <= 0.0) break;
            const double f = std::min(fx, fy);
            batch.line(static_cast<float>(x), static_cast<float>(y), static_cast<float>(x + f * s),
                       static_cast<float>(y + f * s));
            // (x + (1 - u)·s, y + u·s) for u in [1 - fx, fy].
            const double u0 = 1.0 - fx;
            const double u1 = fy;
            if (u0 < u1)
                batch.line(static_cast<float>(x + (1.0 - u0) * s), static_cast<float>(y + u0 * s),
                           static_cast<float>(x + (1.0 - u1) * s), static_cast<float>(y + u1 * s));
        }
    }
}

void _draw_lines(const GRID* grid, const VISIBLE_AREA& area, float t) {
    const double s = grid->size;
    const double col0 = std::floor(area.x0 / s);
    const double row0 = std::floor(area.y0 / s);
    const double cols = std::floor(area.x1 / s) - col0 + 1.0;
    const double rows = std::floor(area.y1 / s) - row0 + 1.0;
    if (cols > MAX_LINES || rows > MAX_LINES) return;

    LINE_BATCH batch(grid->line_color, t);
    const auto x0 = static_cast<float>(area.x0);
    const auto y0 = static_cast<float>(area.y0);
    const auto x1 = static_cast<float>(area.x1);
    const auto y1 = static_cast<float>(area.y1);
    for (long i = 0; i < static_cast<long>(cols); ++i) {
        const auto x = static_cast<float>((col0 + static_cast<double>(i)) * s);
        batch.line(x, y0, x, y1);
    }
    for (long j = 0; j < static_cast<long>(rows); ++j) {
        const auto y = static_cast<float>((row0 + static_cast<double>(j)) * s);
        batch.line(x0, y, x1, y);
    }
}

} // namespace

int grid_init(GRID* grid) {
    q_assert(grid, return 0);
    grid->visible = false;
    grid->size = GRID_SIZE_DEFAULT;
    grid->snap = false;
    grid->diagonals = false;
    grid->line_color = al_premul_rgba(70, 110, 180, 170);
    grid->diagonal_color = al_premul_rgba(150, 110, 60, 120);
    return 1;
}

int grid_snap(const GRID* grid, float x, float y, float* snapped_x, float* snapped_y) {
    q_assert(grid, return 0);
    q_assert(snapped_x, return 0);
    q_assert(snapped_y, return 0);
    if (!_active(grid)) {
        *snapped_x = x;
        *snapped_y = y;
        return 0;
    }
    const SNAP_POINT p = _snap_point(grid, x, y);
    *snapped_x = static_cast<float>(p.x);
    *snapped_y = static_cast<float>(p.y);
    return 1;
}

int grid_snap_anchor(const GRID* grid, float x, float y, float* anchor_x, float* anchor_y) {
    q_assert(grid, return 0);
    q_assert(anchor_x, return 0);
    q_assert(anchor_y, return 0);
    if (!_active(grid)) return 0;
    const SNAP_POINT p = _snap_point(grid, x, y);
    *anchor_x = static_cast<float>(p.x);
    *anchor_y = static_cast<float>(p.y);
    return 1;
}

int grid_snap_view(const GRID* grid, float x, float y, float* snapped_x, float* snapped_y) {
    q_assert(grid, return 0);
    q_assert(snapped_x, return 0);
    q_assert(snapped_y, return 0);
    if (!_active(grid)) {
        *snapped_x = x;
        *snapped_y = y;
        return 0;
    }
    const SNAP_POINT p = _snap_view_point(grid, x, y);
    *snapped_x = static_cast<float>(p.x);
    *snapped_y = static_cast<float>(p.y);
    return 1;
}

int grid_snap_step(const GRID* grid, float* step) {
    q_assert(grid, return 0);
    q_assert(step, return 0);
    if (!_active(grid)) return 0;
    *step = grid->size;
    return 1;
}

int grid_snap_length(const GRID* grid, float length, float* snapped) {
    q_assert(grid, return 0);
    q_assert(snapped, return 0);
    if (!_active(grid)) {
        *snapped = length;
        return 0;
    }
    const double s = grid->size;
    *snapped = static_cast<float>(std::max(s, std::round(length / s) * s));
    return 1;
}

int grid_visible_step(const GRID* grid, float zoom, float* step) {
    q_assert(grid, return 0);
    q_assert(step, return 0);
    if (!_cells_visible(grid->size, zoom)) return 0;
    *step = grid->size;
    return 1;
}

int grid_segment_dir(float dx, float dy, int diagonals, int* step_x, int* step_y) {
    q_assert(step_x, return 0);
    q_assert(step_y, return 0);
    // atan2 would call a zero vector "east" and a walking stroke would march off to the right.
    if ((dx == 0.0f && dy == 0.0f) || std::isnan(dx) || std::isnan(dy)) {
        *step_x = 0;
        *step_y = 0;
        return 0;
    }
    const float unit = diagonals ? EIGHTH_TURN : QUARTER_TURN;
    const float k = std::round(std::atan2(dy, dx) / unit);
    const float p = std::cos(k * unit);
    const float q = std::sin(k * unit);
    *step_x = p > 0.5f ? 1 : (p < -0.5f ? -1 : 0);
    *step_y = q > 0.5f ? 1 : (q < -0.5f ? -1 : 0);
    return 1;
}

void grid_draw(const GRID* grid, const DOCUMENT* doc, const VIEW* view, int display_w,
               int display_h) {
    q_assert(grid, return );
    q_assert(doc, return );
    q_assert(view, return );
    if (!(grid->visible || grid->diagonals) || !_size_ok(grid->size)) return;
    if (!_cells_visible(grid->size, view->zoom)) return;
    VISIBLE_AREA area{};
    if (!_visible_area(doc, view, display_w, display_h, &area)) return;

    TransformScope keep_transform;
    BlenderScope keep_blender;
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    ALLEGRO_TRANSFORM crisp;
    al_copy_transform(&crisp, &view->transform);
    al_translate_transform(&crisp, CRISP_SHIFT, CRISP_SHIFT);
    al_use_transform(&crisp);

    const float t = 1.0f / view->zoom; // one screen pixel
    if (grid->diagonals) _draw_diagonals(grid, doc, area, t);
    if (grid->visible) _draw_lines(grid, area, t);
}

// The grid: a square lattice of one cell size drawn over the canvas, optionally with the two
// diagonals of every cell, and the snapping rules that pull pointer positions, lengths and
// stroke directions onto it.
//
// Snapping is active when `snap` is set, `size` is a positive finite number, and the grid shows
// something (`visible` or `diagonals`): the user never snaps to a grid they cannot see, and
// hiding it keeps their snap choice for when it comes back.
//
// In the rules below s is `size`; a lattice point is (round(x/s)·s, round(y/s)·s) with rounding
// half away from zero, and a cell centre is ((floor(x/s) + 0.5)·s, (floor(y/s) + 0.5)·s).
#pragma once

#include <allegro5/allegro.h>

#include "canvas/document.h"
#include "canvas/view.h"

constexpr float GRID_SIZE_DEFAULT = 128.0f;
// The range the GUI offers for the cell size; the functions below accept any positive size.
constexpr float GRID_SIZE_MIN = 2.0f;
constexpr float GRID_SIZE_MAX = 256.0f;
// Cells smaller than this many screen pixels are too dense to draw.
constexpr float GRID_MIN_SCREEN_CELL = 6.0f;

struct GRID {
    bool visible;                 // grid lines are shown
    float size;                   // cell size and snap step, canvas pixels
    bool snap;                    // snapping is on
    bool diagonals;               // cell diagonals are shown and snapped to, even with hidden lines
    ALLEGRO_COLOR line_color;     // premultiplied
    ALLEGRO_COLOR diagonal_color; // premultiplied
};

// Hidden, 128-pixel cells, no snapping, no diagonals, the default colours. 1, or 0 for NULL.
int grid_init(GRID* grid);

// The nearest lattice point, or with diagonals the cell centre when it is strictly nearer.
// Returns 1 when snapping is active; otherwise 0 with the outputs set to (x, y).
int grid_snap(const GRID* grid, float x, float y, float* snapped_x, float* snapped_y);

// The same point as grid_snap and 1 when snapping is active; else 0 with the outputs untouched.
// Grid-walking strokes start from this point.
int grid_snap_anchor(const GRID* grid, float x, float y, float* anchor_x, float* anchor_y);

// Snapping for interactive positions (shape points, marquee corners, selection handles,
// press points). Without diagonals, the lattice point. With them, the cell centre when the
// point is within a quarter cell of it, else a point of the nearest diagonal when that is
// clearly nearer than any grid line, else the lattice point: a position never lands merely
// somewhere on a grid line. Returns 1 when snapping is active; otherwise 0 with the outputs
// set to (x, y).
int grid_snap_view(const GRID* grid, float x, float y, float* snapped_x, float* snapped_y);

// 1 and the cell size when snapping is active, else 0 (`step` untouched).
int grid_snap_step(const GRID* grid, float* step);

// Lengths snap to whole cells, never below one: 1 and max(s, round(length/s)·s) when snapping
// is active, else 0 with `snapped` = `length`.
int grid_snap_length(const GRID* grid, float length, float* snapped);

// 1 and the cell size when cells would be at least GRID_MIN_SCREEN_CELL screen pixels at this
// zoom, whether or not the grid is shown; else 0 (`step` untouched).
int grid_visible_step(const GRID* grid, float zoom, float* step);

// Quantises the direction (dx, dy) to the nearest of the 4 axis directions (8 with
// `diagonals` non-zero), each component -1, 0 or 1. Returns 1; for a zero or non-finite vector,
// which has no direction, 0 with (0, 0).
int grid_segment_dir(float dx, float dy, int diagonals, int* step_x, int* step_y);

// Draws the diagonals and then the lines over the part of the document that a display of
// display_w x display_h shows through the view, one screen pixel wide. Nothing when cells are
// smaller than GRID_MIN_SCREEN_CELL screen pixels. The target's transform and blender are as
// they were on return.
void grid_draw(const GRID* grid, const DOCUMENT* doc, const VIEW* view, int display_w,
               int display_h);

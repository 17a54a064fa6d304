// Background templates: paper guides (ruled lines, grids, dots, planners, a music staff...)
// drawn under every layer. All geometry follows the document's width and height, so a template
// scales with the canvas.
#pragma once

#include <allegro5/allegro.h>

// 25: index 0 is "Blank", 1..24 are the guides.
int template_count();
// The template's English name; "Blank" for any index past the last one.
const char* template_name(unsigned index);
// What a template is drawn for: the part of the canvas that can be seen, in canvas pixels, and
// how many output pixels one canvas pixel covers there (the zoom on screen, 1 in an export).
struct TEMPLATE_VIEW {
    float x0, y0, x1, y1;
    float scale;
};

// Draws template `index` for a W x H canvas onto the current target, with the current transform
// and blender (the caller sets both). A thickness of 0 or less, or NaN, means 1. Index 0, an
// unknown index, or W or H below 1 draw nothing. A family of lines, dots or hexagons spaced
// under one output pixel is left out (a pixel being a canvas pixel, and on screen also a screen
// pixel). Only what lies within the view's rectangle is drawn; a NULL view is the whole canvas
// at scale 1.
void template_draw(int index, int W, int H, const ALLEGRO_COLOR* color, float thickness,
                   const TEMPLATE_VIEW* view = nullptr);

// What a template would draw, counted by the same geometry code without touching any bitmap.
struct TEMPLATE_STATS {
    int lines, circles, rects, ellipses;
    int dropped;                      // families left out for being spaced under a pixel
    float radius;                     // radius of the last dot, 0 when none
    float min_x, min_y, max_x, max_y; // extent of everything drawn (dots by their centres)
};
void template_draw_stats(int index, int W, int H, float thickness, TEMPLATE_STATS* out,
                         const TEMPLATE_VIEW* view = nullptr);

// Whole-layer pixel operations of the drawing tools: the bucket fill, the linear gradient and
// clearing the active layer.
//
// Unlike brush strokes, which draw with the graphics device, these work on the layer's
// committed pixels copied out of the layer's tiles into system memory and write the changed box
// into the working bitmap in one locked copy, so the undo system never has to read the video
// bitmap back. The bucket fill changes its copy, handing each tile to the undo step just before
// its first change, then writes the changed box back into the tiles; the gradient and clear build a whole new layer. Each is one undo step. A locked layer is refused without a
// message (the GUI tells the user), and so is a document whose undo operation is already open
// (another tool is mid-change), in which case nothing at all is touched.
//
// Colours are straight Allegro colours; the fill and the gradient ignore the alpha and paint
// opaque. Channels outside 0..1 are clamped.
#pragma once

#include <allegro5/allegro.h>

#include <cstddef>

#include "canvas/document.h"
#include "canvas/layer.h"

// Seeds that wait for their span start with room for this many (x, y) pairs; the stack
// doubles whenever it fills up.
constexpr int FILL_STACK_PAIRS = 4096;

// Fills the 4-connected area around the pixel under (x, y) whose pixels are each within
// `tolerance` (0..1, in 1/255 steps, per channel including alpha) of that seed pixel, with the
// opaque colour. 1 when pixels were filled and committed; 0 for a locked layer, a point off the
// canvas, a click that would change nothing (exact match at tolerance 0) or any failure.
int fill_flood(DOCUMENT* doc, float x, float y, const ALLEGRO_COLOR* color, float tolerance);

// Lays the opaque colour at the drag's start (x0, y0) fading linearly to the untouched layer
// at its end (x1, y1); pixels behind the start get the full colour. A drag shorter than one
// pixel paints the whole layer. 1 when the layer was rewritten and committed; 0 for a locked
// layer, non-finite coordinates, a drag that leaves every pixel beyond its end (nothing would
// change) or any failure.
int fill_gradient(DOCUMENT* doc, float x0, float y0, float x1, float y1,
                  const ALLEGRO_COLOR* color);

// Clears the active layer to transparent. 1 when cleared and committed, else 0.
int fill_clear(DOCUMENT* doc);

// ---- internal, for tests and benchmarks ----------------------------------------------------

// The active layer, or NULL: with an assertion when the document or its active layer is
// missing, silently when the layer is locked.
LAYER* _fill_target(DOCUMENT* doc);
// A new buffer of width x height packed RGBA rows copied from the layer's committed tiles, or
// NULL (also when the layer is not of that size). The caller frees it.
unsigned char* _layer_pixels(LAYER* layer, int width, int height);
// Copies the inclusive rectangle x0..x1, y0..y1 of a buffer whose rows are `width` pixels into
// the same rectangle of the working bitmap and clears needs_clear; a layer still marked
// needs_clear is cleared to transparent first, so nothing undefined survives outside the
// rectangle. 0 when the rectangle does not fit the bitmap or the bitmap cannot be locked.
int _layer_write_rect(LAYER* layer, const unsigned char* pixels, int width, int x0, int y0, int x1,
                      int y1);
// The scanline fill on a buffer: fills the area around (sx, sy) with the four bytes `fill`,
// matching pixels within `tolerance` levels of the seed pixel. On 1, `bounds` receives the
// inclusive x0, y0, x1, y1 of everything filled. 0 when nothing was to be done (seed off the
// buffer, or tolerance 0 and the seed already equal to `fill`); -1 when the work memory could
// not be allocated (the buffer is untouched).
int _fill_spans(unsigned char* pixels, int width, int height, int sx, int sy,
                const unsigned char fill[4], int tolerance, int bounds[4]);
// Asked before the fill changes the span x0..x1 of row y; returning false stops the fill.
struct FillGuard {
    bool (*before_change)(void* context, int y, int x0, int x1);
    void* context;
};
// _fill_spans on rows `stride` pixels apart, asking `guard` (when not NULL) before each
// change. -1 also when the guard stopped the fill, which may then be done in part.
int _fill_area(unsigned char* pixels, int width, int height, size_t stride, int sx, int sy,
               const unsigned char fill[4], int tolerance, int bounds[4], const FillGuard* guard);

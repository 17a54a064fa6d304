// Turns a document's layer stack into pixels: on screen through a view every frame, or flat
// into a new bitmap for export. All blending runs on the graphics hardware through Allegro's
// blender; bitmaps hold premultiplied RGBA.
#pragma once

#include <allegro5/allegro.h>

#include "canvas/document.h"
#include "canvas/view.h"

// Draws paper, frame and visible layers onto the current target through the view. Layers
// still marked needs_clear are cleared first, visible or not. On return the blender is the
// default one and the identity transform is in use, whatever they were before.
void compositor_draw(DOCUMENT* doc, const VIEW* view);
// A new opaque video bitmap of width x height with the document's pixels from (x, y); areas
// outside the document show the paper colour. The caller owns the result. The current target
// and new-bitmap flags are left as they were, the blender at the default. NULL on failure.
ALLEGRO_BITMAP* compositor_flatten_region(const DOCUMENT* doc, int x, int y, int width, int height,
                                          bool include_template);
// The whole document, template included.
ALLEGRO_BITMAP* compositor_flatten(const DOCUMENT* doc);

// Picking a colour off the canvas: what the visible layers show at one pixel, or what one
// layer holds there, read from the layers' committed pixels without flattening anything.
#pragma once

#include <cstdint>

#include "canvas/document.h"
#include "canvas/layer.h"

// Straight (not premultiplied) colour bytes R, G, B, A.
struct PICKED_COLOUR {
    unsigned char rgba[4];
};

// The visible picture at canvas pixel (x, y): the paper, then every visible layer from the
// bottom with its blend mode and opacity, as the compositor blends them. 1 and *out, or 0
// for a point outside the document.
int eyedropper_pick_composite(const DOCUMENT* doc, float x, float y, PICKED_COLOUR* out);
// One layer of the document on its own at (x, y), un-premultiplied. 0 for a point outside the
// document and for a fully transparent pixel, which holds no colour to take.
int eyedropper_pick_layer(const DOCUMENT* doc, const LAYER* layer, float x, float y,
                          PICKED_COLOUR* out);

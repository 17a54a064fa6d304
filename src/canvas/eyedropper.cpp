#include "canvas/eyedropper.h"

#include <algorithm>
#include <cmath>

#include "q/q_common.h"
#include "q/q_log.h"

namespace {

// A premultiplied pixel in 0..1 floats.
struct PREMUL {
    float c[4];
};

PREMUL unpack(uint32_t pixel) {
    PREMUL p;
    for (int i = 0; i < 4; i++) p.c[i] = static_cast<float>((pixel >> (8 * i)) & 0xffu) / 255.0f;
    return p;
}

// The target of the compositor holds 8 bits a channel: every layer's result is clamped and
// rounded there before the next layer is blended onto it.
void quantise(PREMUL* d) {
    for (float& v : d->c) v = std::round(std::clamp(v, 0.0f, 1.0f) * 255.0f) / 255.0f;
}

// One layer onto the picture below, with the factors the compositor gives the blender:
//   Normal   s + d(1 - s.a)      Multiply s*d + d(1 - s.a)
//   Screen   s + d(1 - s)        Add      s + d
void blend(PREMUL* d, const PREMUL& s, int mode) {
    const float sa = s.c[3];
    for (int i = 0; i < 4; i++) {
        const float dv = d->c[i], sv = s.c[i];
        switch (mode) {
        case LAYER_BLEND_MULTIPLY: d->c[i] = sv * dv + dv * (1.0f - sa); break;
        case LAYER_BLEND_SCREEN: d->c[i] = sv + dv * (1.0f - sv); break;
        case LAYER_BLEND_ADD: d->c[i] = sv + dv; break;
        default: d->c[i] = sv + dv * (1.0f - sa); break;
        }
    }
    quantise(d);
}

void straight(const PREMUL& p, PICKED_COLOUR* out) {
    const float a = p.c[3];
    for (int i = 0; i < 3; i++) {
        const float v = a > 0.0f ? std::clamp(p.c[i] / a, 0.0f, 1.0f) : 0.0f;
        out->rgba[i] = static_cast<unsigned char>(v * 255.0f + 0.5f);
    }
    out->rgba[3] = static_cast<unsigned char>(std::clamp(a, 0.0f, 1.0f) * 255.0f + 0.5f);
}

bool pixel_of(float x, float y, int width, int height, int* px, int* py) {
    if (!std::isfinite(x) || !std::isfinite(y)) return false;
    const float fx = std::floor(x), fy = std::floor(y);
    if (fx < 0.0f || fy < 0.0f || fx >= static_cast<float>(width) ||
        fy >= static_cast<float>(height))
        return false;
    *px = static_cast<int>(fx);
    *py = static_cast<int>(fy);
    return true;
}

} // namespace

int eyedropper_pick_composite(const DOCUMENT* doc, float x, float y, PICKED_COLOUR* out) {
    q_assert(doc, return 0);
    q_assert(doc->layers, return 0);
    q_assert(out, return 0);
    int px = 0, py = 0;
    if (!pixel_of(x, y, doc->width, doc->height, &px, &py)) return 0;
    const ALLEGRO_COLOR paper = doc->background;
    PREMUL d{{paper.r, paper.g, paper.b, paper.a}};
    quantise(&d);
    for (LIST_NODE* node = doc->layers->start; node; node = node->next) {
        const auto* layer = static_cast<const LAYER*>(node->ptr);
        if (!layer || !layer->visible || !(layer->opacity > 0.0f)) continue;
        const uint32_t pixel = layer_committed_pixel(layer, px, py);
        if (pixel == 0) continue; // a transparent pixel changes nothing in any mode
        PREMUL s = unpack(pixel);
        const float o = std::min(layer->opacity, 1.0f);
        for (float& v : s.c) v *= o;
        blend(&d, s, layer->blend);
    }
    straight(d, out);
    return 1;
}

int eyedropper_pick_layer(const DOCUMENT* doc, const LAYER* layer, float x, float y,
                          PICKED_COLOUR* out) {
    q_assert(doc, return 0);
    q_assert(layer, return 0);
    q_assert(out, return 0);
    int px = 0, py = 0;
    if (!pixel_of(x, y, doc->width, doc->height, &px, &py)) return 0;
    const uint32_t pixel = layer_committed_pixel(layer, px, py);
    if ((pixel >> 24) == 0) return 0;
    straight(unpack(pixel), out);
    return 1;
}

#include "canvas/compositor.h"

#include <allegro5/allegro_primitives.h>

#include <algorithm>
#include <cmath>

#include "canvas/allegro_state.h"
#include "q/q_common.h"
#include "q/q_log.h"
#include "template.h"

namespace {

struct BLEND_FACTORS {
    int source;
    int destination;
};

// Factors for premultiplied sources, indexed by LAYER_BLEND; the operation is always ADD.
//   Normal   s + d(1 - s.a)
//   Multiply s*d + d(1 - s.a)
//   Screen   s + d(1 - s)
//   Add      s + d
constexpr BLEND_FACTORS BLEND_TABLE[] = {
    {ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA},
    {ALLEGRO_DEST_COLOR, ALLEGRO_INVERSE_ALPHA},
    {ALLEGRO_ONE, ALLEGRO_INVERSE_SRC_COLOR},
    {ALLEGRO_ONE, ALLEGRO_ONE},
};
constexpr int BLEND_COUNT = static_cast<int>(sizeof BLEND_TABLE / sizeof BLEND_TABLE[0]);

ALLEGRO_COLOR template_colour() { return al_premul_rgba(70, 110, 160, 110); }

void _set_default_blender() {
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
}

// Draws one layer at (dx, dy) with its blend mode and opacity, the opacity applied as a tint
// that scales all four premultiplied channels. Opacity above 1 would brighten: cap it.
void _draw_layer(const LAYER* layer, float dx, float dy) {
    const int mode = (layer->blend >= 0 && layer->blend < BLEND_COUNT) ? layer->blend : 0;
    const float o = std::min(layer->opacity, 1.0f);
    al_set_blender(ALLEGRO_ADD, BLEND_TABLE[mode].source, BLEND_TABLE[mode].destination);
    al_draw_tinted_bitmap(layer->bitmap, al_map_rgba_f(o, o, o, o), dx, dy, 0);
}

// The canvas rectangle that the current target shows through the view: the bounds of its four
// corners, which a rotated view turns.
TEMPLATE_VIEW _visible_part(const VIEW* view) {
    ALLEGRO_BITMAP* target = al_get_target_bitmap();
    const float w = static_cast<float>(al_get_bitmap_width(target));
    const float h = static_cast<float>(al_get_bitmap_height(target));
    TEMPLATE_VIEW seen{HUGE_VALF, HUGE_VALF, -HUGE_VALF, -HUGE_VALF, view->zoom};
    for (float sx : {0.0f, w})
        for (float sy : {0.0f, h}) {
            float cx = 0.0f, cy = 0.0f;
            view_screen_to_canvas(view, sx, sy, &cx, &cy);
            seen.x0 = std::min(seen.x0, cx);
            seen.y0 = std::min(seen.y0, cy);
            seen.x1 = std::max(seen.x1, cx);
            seen.y1 = std::max(seen.y1, cy);
        }
    return seen;
}

// Fresh working bitmaps hold whatever the driver left in them.
void _clear_pending(LAYER* layer) {
    TargetBitmapScope target(layer->bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    layer->needs_clear = false;
}

} // namespace

void compositor_draw(DOCUMENT* doc, const VIEW* view) {
    q_assert(doc, return);
    q_assert(view, return);
    q_assert(doc->layers, return);
    q_assert(al_get_target_bitmap(), return);

    view_apply(view);
    const float w = static_cast<float>(doc->width);
    const float h = static_cast<float>(doc->height);
    al_draw_filled_rectangle(0.0f, 0.0f, w, h, doc->background);
    // One screen pixel wide at any zoom, laid just outside the paper so that it frames every
    // edge alike instead of covering the paper's first row and last column.
    const float thickness = view->zoom > 0.0f ? 1.0f / view->zoom : 1.0f;
    const float half = thickness * 0.5f;
    al_draw_rectangle(-half, -half, w + half, h + half, al_map_rgb(90, 90, 90), thickness);

    if (doc->template_index != 0) {
        _set_default_blender();
        const ALLEGRO_COLOR colour = template_colour();
        const TEMPLATE_VIEW seen = _visible_part(view);
        template_draw(doc->template_index, doc->width, doc->height, &colour, thickness, &seen);
    }

    for (LIST_NODE* node = doc->layers->start; node; node = node->next) {
        auto* layer = static_cast<LAYER*>(node->ptr);
        if (!layer || !layer->bitmap) continue; // lost with the display, rebuilt later
        if (layer->needs_clear) _clear_pending(layer);
        if (!layer->visible || !(layer->opacity > 0.0f)) continue;
        _draw_layer(layer, 0.0f, 0.0f);
    }

    _set_default_blender();
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    al_use_transform(&identity);
}

ALLEGRO_BITMAP* compositor_flatten_region(const DOCUMENT* doc, int x, int y, int width, int height,
                                          bool include_template) {
    q_assert(doc, return NULL);
    q_assert(doc->layers, return NULL);
    if (width < 1 || height < 1) {
        q_log(3, "bad flatten region %dx%d", width, height);
        return NULL;
    }

    ALLEGRO_BITMAP* flat = NULL;
    {
        // Without a display (a conversion from the command line) it is flattened in memory.
        NewBitmapFlagsScope flags(al_get_current_display() ? ALLEGRO_VIDEO_BITMAP : ALLEGRO_MEMORY_BITMAP);
        flat = al_create_bitmap(width, height);
    }
    q_assert(flat, return NULL);

    {
        TargetBitmapScope target(flat);
        // Opaque result: whatever no layer covers, including area past the document, is paper.
        al_clear_to_color(doc->background);
        if (include_template && doc->template_index != 0) {
            // Exports keep the guide legible at print size: about 1.5 px per 2048 px of the
            // short side, never thinner than one pixel.
            ALLEGRO_TRANSFORM shift;
            al_build_transform(&shift, -static_cast<float>(x), -static_cast<float>(y), 1.0f, 1.0f,
                               0.0f);
            al_use_transform(&shift);
            _set_default_blender();
            const float thickness = std::max(
                1.0f, static_cast<float>(std::min(doc->width, doc->height)) * (1.0f / 2048.0f) * 1.5f);
            const ALLEGRO_COLOR colour = template_colour();
            // Every primitive the region holds, at one pixel per canvas pixel.
            const TEMPLATE_VIEW region{static_cast<float>(x), static_cast<float>(y),
                                       static_cast<float>(x + width),
                                       static_cast<float>(y + height), 1.0f};
            template_draw(doc->template_index, doc->width, doc->height, &colour, thickness,
                          &region);
            ALLEGRO_TRANSFORM identity;
            al_identity_transform(&identity);
            al_use_transform(&identity);
        }
        const float dx = -static_cast<float>(x);
        const float dy = -static_cast<float>(y);
        for (LIST_NODE* node = doc->layers->start; node; node = node->next) {
            const auto* layer = static_cast<const LAYER*>(node->ptr);
            if (!layer || !layer->visible || !layer->bitmap || !(layer->opacity > 0.0f)) continue;
            _draw_layer(layer, dx, dy);
        }
        _set_default_blender();
    }
    return flat;
}

ALLEGRO_BITMAP* compositor_flatten(const DOCUMENT* doc) {
    q_assert(doc, return NULL);
    return compositor_flatten_region(doc, 0, 0, doc->width, doc->height, true);
}

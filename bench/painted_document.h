// Documents for the file, session and export benchmarks: what a sketch session leaves behind.
#pragma once

#include <allegro5/allegro.h>

#include <algorithm>

#include <allegro5/allegro_primitives.h>

#include "canvas/brush.h"
#include "canvas/document.h"
#include "canvas/symmetry.h"

// Paints one stroke of the given colour through the brush engine, so that the layer and its
// history end up exactly as a user's stroke leaves them.
inline void bench_stroke(DOCUMENT* doc, unsigned* seed, ALLEGRO_COLOR colour, float size) {
    BRUSH brush;
    brush_defaults(&brush);
    brush.size = size;
    brush.color = colour;
    SYMMETRY symmetry;
    symmetry_init(&symmetry, doc);
    BRUSH_STROKE stroke{};
    auto next = [seed](int range) {
        *seed = *seed * 1103515245u + 12345u;
        return static_cast<float>((*seed >> 8) % static_cast<unsigned>(range));
    };
    float x = next(doc->width), y = next(doc->height);
    brush_stroke_begin(&stroke, doc, &brush, x, y, 1.0f, &symmetry);
    for (int i = 0; i < 12; i++) {
        x = std::clamp(x + next(1200) - 600.0f, 0.0f, static_cast<float>(doc->width));
        y = std::clamp(y + next(1200) - 600.0f, 0.0f, static_cast<float>(doc->height));
        brush_stroke_segment(&stroke, doc, &brush, x, y, 1.0f);
    }
    brush_stroke_end(&stroke, doc);
}

// A side x side document of `layers` layers, each holding `strokes` strokes of its own colour.
inline DOCUMENT* bench_painted_document(int side, int layers, int strokes) {
    DOCUMENT* doc = document_new(side, side);
    unsigned seed = 12345;
    for (int i = 0; i < layers; i++) {
        document_add_layer(doc, nullptr);
        const ALLEGRO_COLOR colour = al_map_rgb(static_cast<unsigned char>(40 + 25 * i),
                                                static_cast<unsigned char>(200 - 20 * i), 90);
        for (int s = 0; s < strokes; s++) bench_stroke(doc, &seed, colour, 16.0f + 8.0f * s);
    }
    return doc;
}

// The drawing the file benchmarks share: four layers of six strokes each, made once.
inline DOCUMENT* bench_sketch_layers(int side) {
    static DOCUMENT* doc = bench_painted_document(side, 4, 6);
    return doc;
}

// A side x side document of `layers` layers, each holding one opaque 3000 x 120 band of its
// own colour, 400 pixels below the one before: a session whose layers are mostly empty.
inline DOCUMENT* bench_banded_document(int side, int layers) {
    DOCUMENT* doc = document_new(side, side);
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    for (int i = 0; doc && i < layers; i++) {
        LAYER* layer = document_add_layer(doc, nullptr);
        if (!layer) break;
        al_set_target_bitmap(layer->bitmap);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        const float y = static_cast<float>(200 + 400 * i);
        al_draw_filled_rectangle(300.0f, y, 3300.0f, y + 120.0f,
                                 al_map_rgb(static_cast<unsigned char>(40 + 25 * i), 90,
                                            static_cast<unsigned char>(200 - 20 * i)));
        layer->needs_clear = false;
        layer_backup(layer);
    }
    al_set_target_bitmap(previous);
    return doc;
}

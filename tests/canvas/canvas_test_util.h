// Small helpers shared by the canvas tests.
#pragma once

#include <allegro5/allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "test_support.h"

// Fills a bitmap with one colour, given as stored (premultiplied).
inline void fill_bitmap(ALLEGRO_BITMAP* bitmap, ALLEGRO_COLOR colour) {
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(bitmap);
    al_clear_to_color(colour);
    al_set_target_bitmap(previous);
}

// Hardware blending rounds 8-bit channels its own way; a step or two either side is a match.
inline ::testing::AssertionResult rgba_near(Rgba got, Rgba want, int tolerance = 2) {
    const int d[] = {got.r - want.r, got.g - want.g, got.b - want.b, got.a - want.a};
    for (int v : d)
        if (std::abs(v) > tolerance)
            return ::testing::AssertionFailure()
                   << "got " << got.r << "," << got.g << "," << got.b << "," << got.a;
    return ::testing::AssertionSuccess();
}

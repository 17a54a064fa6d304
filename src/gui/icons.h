// Icons of the tool bar's buttons, drawn with primitives at the exact pixel size of their
// button, once per button state, so they stay sharp at every interface size.
#pragma once

#include <allegro5/allegro.h>

struct Q_GUI_THEME;

// The three state bitmaps of one icon: normal, hover, pressed. The set owns them.
struct TAVOLIX_ICON_SET {
    ALLEGRO_BITMAP* bitmaps[3];
};

// Icon numbers 0..33 have glyphs; any other number draws the frame alone.
constexpr int TAVOLIX_ICON_COUNT = 35;

// 1 when all three bitmaps were made into `out`; 0 (and an empty set) otherwise.
int tavolix_icon_render(int icon, const Q_GUI_THEME* theme, int width, int height,
                        TAVOLIX_ICON_SET* out);
void tavolix_icon_set_destroy(TAVOLIX_ICON_SET* set);
// The call that keeps a freshly cleared target from sampling its old texture (placed.cpp).
void tavolix_gfx_break_feedback();
// Glyph box side and line width for an icon of this size.
float tavolix_icon_glyph_size(int width, int height);
float tavolix_icon_line_width(int width, int height);

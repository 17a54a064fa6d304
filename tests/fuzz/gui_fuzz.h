// Shared by the toolkit's fuzz targets: quiet logging and Allegro's built-in font, which needs
// neither a display nor files.
#pragma once

#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

#include <cstdlib>

#include "q/q_log.h"

inline ALLEGRO_FONT* gui_fuzz_font() {
    static ALLEGRO_FONT* font = [] {
        set_log_level(-1);
        if (!al_init() || !al_init_font_addon()) abort();
        ALLEGRO_FONT* made = al_create_builtin_font();
        if (!made) abort();
        return made;
    }();
    return font;
}

// Shared test entry: Allegro and one small display exist for every test, because layer
// bitmaps, the compositor and flattening all need a display's context. A missing display is
// a hard failure, never a skip: the suite is meant to run under Xvfb.
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_image.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "q/q_log.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    set_log_level(3);
    if (!al_init() || !al_init_image_addon() || !al_init_font_addon() || !al_init_ttf_addon() ||
        !al_init_primitives_addon()) {
        fprintf(stderr, "unit_tests: could not initialise Allegro\n");
        return 1;
    }
    al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
    ALLEGRO_DISPLAY* display = al_create_display(320, 240);
    if (!display) {
        fprintf(stderr, "unit_tests: no display (run the suite under xvfb-run)\n");
        return 1;
    }
    int result = RUN_ALL_TESTS();
    al_destroy_display(display);
    al_uninstall_system();
    return result;
}

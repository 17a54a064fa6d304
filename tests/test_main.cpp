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
    // No exit hook and no uninstall at the end: unloading the graphics driver before the leak
    // check would leave its allocations without a module name, so they could no longer be
    // told apart from ours. Everything of our own is freed by the tests themselves.
    if (!al_install_system(ALLEGRO_VERSION_INT, nullptr) || !al_init_image_addon() || !al_init_font_addon() || !al_init_ttf_addon() ||
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
    return RUN_ALL_TESTS();
}

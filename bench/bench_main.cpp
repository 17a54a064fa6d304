// Benchmark entry: Allegro and one small display exist for every benchmark, because video
// bitmaps and hardware blending need a display's context. Run under Xvfb when headless.
#include <allegro5/allegro.h>
#include <allegro5/allegro_image.h>
#include <allegro5/allegro_primitives.h>
#include <benchmark/benchmark.h>

#include <cstdio>

#include "q/q_log.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    set_log_level(3);
    if (!al_init() || !al_init_image_addon() || !al_init_primitives_addon()) {
        fprintf(stderr, "tavolix_bench: could not initialise Allegro\n");
        return 1;
    }
    al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
    ALLEGRO_DISPLAY* display = al_create_display(320, 240);
    if (!display) {
        fprintf(stderr, "tavolix_bench: no display (run under xvfb-run)\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    al_destroy_display(display);
    al_uninstall_system();
    return 0;
}

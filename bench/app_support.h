// The real application record in a scratch save folder, for benchmarks of the whole program.
#pragma once

#include <allegro5/allegro.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "app_state.h"
#include "q/q_log.h"
#include "tavolix_app.h"

// A fresh save folder in APPDATA and, unless TAVOLIX_BENCH_LOG is set, no log output; the
// folder and the logging are put back afterwards.
struct QuietScratchApp {
    ALLEGRO_DISPLAY* outer = al_get_current_display();
    std::string dir;
    QuietScratchApp() {
        char templ[] = "/tmp/tavolix-bench-XXXXXX";
        dir = mkdtemp(templ);
        setenv("APPDATA", dir.c_str(), 1);
        if (!getenv("TAVOLIX_BENCH_LOG")) set_log_file("/dev/null");
    }
    ~QuietScratchApp() {
        close_log_file();
        set_log_level(3);
        if (outer) al_set_target_backbuffer(outer);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

// Start-up as the program does it, then the first canvas frame, drawn and finished.
inline bool start_and_draw(TAVOLIX_APP* app) {
    char name[] = "tavolix";
    char* argv[] = {name, nullptr};
    if (!tavolix_app_init(app, 1, argv)) return false;
    tavolix_app_finish_start(app); // as the main loop does after the splash's first frame
    if (!app->running) return false;
    app_state_switch(app, APP_STATE_CANVAS);
    al_clear_to_color(al_map_rgb(40, 42, 46));
    app->state->draw(app);
    tavolix_gui_draw(app); // the first frame renders the icons and the GUI image
    // Reading a pixel back waits for the renderer to finish the frame.
    al_get_pixel(al_get_backbuffer(app->display), 640, 400);
    al_flip_display();
    return true;
}


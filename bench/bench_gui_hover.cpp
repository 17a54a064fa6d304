// The program's own GUI while the pointer moves over its panels, on the real application record
// (1280 x 800 window, first start, English). One iteration is one pointer motion handed to the
// GUI the way the main loop hands it, then, when the event asked for a frame,
//   BM_GuiHoverUpdate  the GUI's image brought up to date (what the motion costs the GUI)
//   BM_GuiHoverFrame   that, and the image shown on the back buffer (the GUI's share of the
//                      frame; showing it is the same for every frame, moved pointer or not)
// each finished by reading a pixel back. Wall time. Argument 0: the pointer goes from one tool
// bar button to the next (hover out, hover in); 1: it moves inside one button (nothing
// changes); 2: it goes from one row of the layer list to another.
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app_state.h"
#include "gui/gui.h"
#include "q/q_log.h"
#include "tavolix_app.h"

namespace {

// A save folder of its own and a quiet log, so runs neither see nor leave the user's files.
struct HoverScratch {
    ALLEGRO_DISPLAY* outer = al_get_current_display();
    std::string dir;
    HoverScratch() {
        char templ[] = "/tmp/tavolix-hover-XXXXXX";
        dir = mkdtemp(templ);
        setenv("APPDATA", dir.c_str(), 1);
        if (!getenv("TAVOLIX_BENCH_LOG")) set_log_file("/dev/null");
    }
    ~HoverScratch() {
        close_log_file();
        set_log_level(3);
        if (outer) al_set_target_backbuffer(outer);
        for (const char* name : {"/Tavolix/settings.dat", "/Tavolix/layout.json",
                                 "/Tavolix/palette.dat", "/Tavolix"})
            remove((dir + name).c_str());
        rmdir(dir.c_str());
    }
};

ALLEGRO_EVENT motion_at(int x, int y) {
    ALLEGRO_EVENT ev{};
    ev.type = ALLEGRO_EVENT_MOUSE_AXES;
    ev.mouse.x = x;
    ev.mouse.y = y;
    ev.mouse.timestamp = al_get_time();
    return ev;
}

// Both draw only when the main loop would draw a frame: when the event asked for one.
void gui_frame(TAVOLIX_APP* app) {
    if (!app->redraw) return;
    app->redraw = false;
    tavolix_gui_draw(app);
    al_get_pixel(al_get_backbuffer(app->display), 640, 400);
}

void gui_update(TAVOLIX_APP* app) {
    if (!app->redraw) return;
    app->redraw = false;
    if (!tavolix_gui_update(app)) return;
    ALLEGRO_BITMAP* image = app->gui.gui_cache;
    ALLEGRO_LOCKED_REGION* r =
        al_lock_bitmap_region(image, 0, 0, 1, 1, ALLEGRO_PIXEL_FORMAT_ANY, ALLEGRO_LOCK_READONLY);
    benchmark::DoNotOptimize(r);
    al_unlock_bitmap(image);
}

// Window positions at interface size Normal: the centres of the tool bar's undo and redo
// buttons, and of the first two rows of the layer list.
constexpr int PATHS[3][2][2] = {
    {{48, 72}, {114, 72}},
    {{48, 72}, {49, 73}},
    {{1154, 64}, {1154, 89}},
};

void run_hover(benchmark::State& state, void (*frame)(TAVOLIX_APP*)) {
    HoverScratch scratch;
    TAVOLIX_APP app{};
    char name[] = "tavolix";
    char* argv[] = {name, nullptr};
    if (!tavolix_app_init(&app, 1, argv)) {
        state.SkipWithError("start-up failed");
        tavolix_app_shutdown(&app);
        return;
    }
    app_state_switch(&app, APP_STATE_CANVAS);
    // The layer list needs rows to hover.
    for (int i = 0; i < 3; i++) document_add_layer(app.doc, nullptr);
    tavolix_gui_sync_layers(&app);
    const auto& path = PATHS[state.range(0)];
    bool consumed = false;
    for (int i = 0; i < 2; i++) {
        const ALLEGRO_EVENT ev = motion_at(path[i][0], path[i][1]);
        tavolix_app_gui_first(&app, &ev, &consumed);
        frame(&app);
    }
    int step = 0;
    double frames = 0;
    for (auto _ : state) {
        const auto& at = path[step++ % 2];
        const ALLEGRO_EVENT ev = motion_at(at[0], at[1]);
        tavolix_app_gui_first(&app, &ev, &consumed);
        frames += app.redraw ? 1 : 0;
        frame(&app);
    }
    state.counters["consumed"] = consumed ? 1 : 0;
    state.counters["frames"] = benchmark::Counter(frames, benchmark::Counter::kAvgIterations);
    tavolix_app_shutdown(&app);
}

void BM_GuiHoverUpdate(benchmark::State& state) { run_hover(state, gui_update); }
BENCHMARK(BM_GuiHoverUpdate)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_GuiHoverFrame(benchmark::State& state) { run_hover(state, gui_frame); }
BENCHMARK(BM_GuiHoverFrame)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

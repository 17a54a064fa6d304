// The program's own GUI while the pointer moves over its panels, on the real application record
// (1280 x 800 window, first start, English). One iteration is one pointer motion handed to the
// GUI the way the main loop hands it, then the GUI's part of the frame drawn onto the back
// buffer and read back, so the renderer has finished it. Wall time.
//   BM_GuiHoverFrame/0  the pointer goes from one tool bar button to the next (hover out, in)
//   BM_GuiHoverFrame/1  the pointer moves inside one button (nothing changes)
//   BM_GuiHoverFrame/2  the pointer goes from one row of the layer list to another
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

void gui_frame(TAVOLIX_APP* app) {
    tavolix_gui_draw(app);
    al_get_pixel(al_get_backbuffer(app->display), 640, 400);
}

// Window positions at interface size Normal: the centres of the tool bar's undo and redo
// buttons, and of the first two rows of the layer list.
constexpr int PATHS[3][2][2] = {
    {{48, 72}, {114, 72}},
    {{48, 72}, {49, 73}},
    {{1154, 64}, {1154, 89}},
};

void BM_GuiHoverFrame(benchmark::State& state) {
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
        gui_frame(&app);
    }
    int step = 0;
    for (auto _ : state) {
        const auto& at = path[step++ % 2];
        const ALLEGRO_EVENT ev = motion_at(at[0], at[1]);
        tavolix_app_gui_first(&app, &ev, &consumed);
        gui_frame(&app);
    }
    state.counters["consumed"] = consumed ? 1 : 0;
    tavolix_app_shutdown(&app);
}
BENCHMARK(BM_GuiHoverFrame)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

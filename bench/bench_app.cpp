// Start-up to the first canvas frame, and shut-down, of the real application record with the
// 4096-pixel start-up document. The splash's two seconds are not counted: the benchmark
// switches to the canvas as a key press would.
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "app_state.h"
#include "canvas/fill.h"
#include "gui/gui_internal.h"
#include "q/q_gui.h"
#include "platform/platform.h"
#include "q/q_log.h"
#include "tavolix_app.h"

namespace {

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
        rmdir((dir + "/Tavolix").c_str());
        rmdir(dir.c_str());
    }
};

bool start_and_draw(TAVOLIX_APP* app) {
    char name[] = "tavolix";
    char* argv[] = {name, nullptr};
    if (!tavolix_app_init(app, 1, argv)) return false;
    app_state_switch(app, APP_STATE_CANVAS);
    al_clear_to_color(al_map_rgb(40, 42, 46));
    app->state->draw(app);
    tavolix_gui_draw(app);
    // Reading a pixel back waits for the renderer to finish the frame.
    al_get_pixel(al_get_backbuffer(app->display), 640, 400);
    al_flip_display();
    return true;
}

void BM_StartToFirstCanvasFrame(benchmark::State& state) {
    QuietScratchApp scratch;
    for (auto _ : state) {
        TAVOLIX_APP app{};
        const bool ok = start_and_draw(&app);
        state.PauseTiming();
        tavolix_app_shutdown(&app);
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("start-up failed");
            break;
        }
    }
}
BENCHMARK(BM_StartToFirstCanvasFrame)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ShutDown(benchmark::State& state) {
    QuietScratchApp scratch;
    for (auto _ : state) {
        state.PauseTiming();
        TAVOLIX_APP app{};
        const bool ok = start_and_draw(&app);
        state.ResumeTiming();
        tavolix_app_shutdown(&app);
        if (!ok) {
            state.SkipWithError("start-up failed");
            break;
        }
    }
}
BENCHMARK(BM_ShutDown)->Unit(benchmark::kMillisecond)->Iterations(5);

// From a pointer motion while painting to the end of the next frame: the GUI sees the motion
// first, the canvas handles it (a size-64 brush on the 4096-pixel document), then a whole
// frame, the GUI included, is drawn and read back so the renderer has finished it. Argument:
// 0 with the panels hidden, 1 with them shown.
void BM_MotionToFrameWhilePainting(benchmark::State& state) {
    QuietScratchApp scratch;
    TAVOLIX_APP app{};
    if (!start_and_draw(&app)) {
        state.SkipWithError("start-up failed");
        tavolix_app_shutdown(&app);
        return;
    }
    app.brush.size = 64.0f;
    tavolix_gui_set_visible(&app, static_cast<int>(state.range(0)));
    ALLEGRO_EVENT press{};
    press.type = ALLEGRO_EVENT_MOUSE_BUTTON_DOWN;
    press.mouse.button = 1;
    press.mouse.x = 300;
    press.mouse.y = 200;
    app.state->handle_event(&app, &press);
    int step = 0;
    for (auto _ : state) {
        ALLEGRO_EVENT motion{};
        motion.type = ALLEGRO_EVENT_MOUSE_AXES;
        // A back-and-forth path keeps the stroke on screen however many iterations run.
        const int phase = step++ % 160;
        motion.mouse.x = 300 + (phase < 80 ? phase : 160 - phase) * 9;
        motion.mouse.y = 200 + (step % 7) * 3;
        motion.mouse.dx = 10;
        motion.mouse.timestamp = al_get_time();
        tavolix_gui_handle_event(&app, &motion);
        app.state->handle_event(&app, &motion);
        al_clear_to_color(al_map_rgb(40, 42, 46));
        app.state->draw(&app);
        tavolix_gui_draw(&app);
        al_get_pixel(al_get_backbuffer(app.display), 640, 400);
        al_flip_display();
    }
    ALLEGRO_EVENT release = press;
    release.type = ALLEGRO_EVENT_MOUSE_BUTTON_UP;
    app.state->handle_event(&app, &release);
    tavolix_app_shutdown(&app);
}
// The exit sequence's writes (settings, then the session document) and the start-up restore,
// with a 4096-pixel document of 1 or 8 painted layers.
struct SessionApp {
    TAVOLIX_APP app{};
    explicit SessionApp(int layers) {
        platform_init();
        brush_defaults(&app.brush);
        app.doc = document_new(4096, 4096);
        for (int i = 0; i < layers; i++) {
            LAYER* layer = document_add_layer(app.doc, nullptr);
            // Some paint on every layer so the file is not all zero bytes.
            ALLEGRO_LOCKED_REGION* region = al_lock_bitmap(
                layer->backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READWRITE);
            for (int y = 0; y < 4096; y += 3)
                memset(static_cast<unsigned char*>(region->data) + y * region->pitch, 0x40 + i,
                       4096);
            al_unlock_bitmap(layer->backup);
            layer_restore(layer);
        }
    }
    ~SessionApp() {
        document_free(&app.doc);
        brush_engine_flush_cache();
    }
};

void BM_ExitWrites(benchmark::State& state) {
    QuietScratchApp scratch;
    SessionApp session(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        tavolix_app_settings_persist(&session.app);
        tavolix_app_session_persist(&session.app);
    }
    char path[PLATFORM_PATH_MAX];
    platform_save_path("session.tvl", path, sizeof path);
    remove(path);
    platform_save_path("settings.dat", path, sizeof path);
    remove(path);
}
BENCHMARK(BM_ExitWrites)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_SessionRestore(benchmark::State& state) {
    QuietScratchApp scratch;
    SessionApp session(static_cast<int>(state.range(0)));
    tavolix_app_session_persist(&session.app);
    for (auto _ : state) {
        if (!tavolix_app_session_restore(&session.app)) {
            state.SkipWithError("restore failed");
            break;
        }
        // Reading back one pixel waits until the layers are uploaded.
        al_get_pixel(session.app.doc->active_layer->bitmap, 0, 0);
    }
    char path[PLATFORM_PATH_MAX];
    platform_save_path("session.tvl", path, sizeof path);
    remove(path);
}
BENCHMARK(BM_SessionRestore)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK(BM_MotionToFrameWhilePainting)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

// The GUI alone: a whole rebuild with its icons (an interface-size change), and an idle
// frame's cost when the cached image is current.
void BM_GuiRebuild(benchmark::State& state) {
    QuietScratchApp scratch;
    TAVOLIX_APP app{};
    if (!start_and_draw(&app)) {
        state.SkipWithError("start-up failed");
        tavolix_app_shutdown(&app);
        return;
    }
    for (auto _ : state) {
        tavolix_gui_rebuild(&app);
        tavolix_gui_draw(&app);
        al_get_pixel(al_get_backbuffer(app.display), 100, 100);
    }
    tavolix_app_shutdown(&app);
}
BENCHMARK(BM_GuiRebuild)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_GuiIdleFrame(benchmark::State& state) {
    QuietScratchApp scratch;
    TAVOLIX_APP app{};
    if (!start_and_draw(&app)) {
        state.SkipWithError("start-up failed");
        tavolix_app_shutdown(&app);
        return;
    }
    for (auto _ : state) {
        tavolix_gui_draw(&app);
        al_get_pixel(al_get_backbuffer(app.display), 100, 100);
    }
    tavolix_app_shutdown(&app);
}
BENCHMARK(BM_GuiIdleFrame)->Unit(benchmark::kMicrosecond)->Iterations(500);

// A user's export of a 4096 x 4096 drawing: the click on "Export" in the export popup (full
// drawing, no file chooser) until the notification reports the file, the PNG written between.
void click_widget(TAVOLIX_APP* app, int widget) {
    const Q_GUI_WIDGET* w = q_gui_get_widget(app->gui.ctx, widget);
    if (!w) return;
    ALLEGRO_EVENT ev{};
    ev.mouse.x = static_cast<int>(w->window->x + w->x + w->w / 2);
    ev.mouse.y = static_cast<int>(w->window->y + w->y + w->h / 2);
    ev.mouse.button = 1;
    for (auto type : {ALLEGRO_EVENT_MOUSE_AXES, ALLEGRO_EVENT_MOUSE_BUTTON_DOWN,
                      ALLEGRO_EVENT_MOUSE_BUTTON_UP}) {
        ev.type = type;
        tavolix_gui_handle_event(app, &ev);
    }
}

void BM_ExportThroughThePopup(benchmark::State& state) {
    QuietScratchApp scratch;
    setenv("TAVOLIX_NO_NATIVE_CHOOSER", "1", 1);
    TAVOLIX_APP app{};
    const ALLEGRO_COLOR ink = al_map_rgb(200, 60, 40);
    if (!start_and_draw(&app) || fill_flood(app.doc, 10, 10, &ink, 0.1f) != 1) {
        state.SkipWithError("start-up or painting failed");
        tavolix_app_shutdown(&app);
        return;
    }
    for (auto _ : state) {
        _open_export(&app);
        click_widget(&app, app.gui.pp.ok[GUI_POPUP_EXPORT]);
        if (!app.gui.popup_open[GUI_POPUP_NOTIFY] || app.gui.popup_open[GUI_POPUP_EXPORT]) {
            state.SkipWithError("the export did not report");
            break;
        }
        state.PauseTiming();
        _popup_close(&app, GUI_POPUP_NOTIFY);
        state.ResumeTiming();
    }
    unsetenv("TAVOLIX_NO_NATIVE_CHOOSER");
    unlink((scratch.dir + "/Tavolix/sketch.png").c_str());
    tavolix_app_shutdown(&app);
}
BENCHMARK(BM_ExportThroughThePopup)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

// Start-up to the first canvas frame, and the exit, of the real application record with the
// 4096-pixel start-up document or a restored session. The splash's two seconds are not counted:
// the benchmark switches to the canvas as a key press would. The whole process, as a user
// starts and ends it, is measured in bench_process.cpp.
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app_state.h"
#include "bench_support.h"
#include "canvas/compositor.h"
#include "canvas/fill.h"
#include "gui/gui_internal.h"
#include "app_support.h"
#include "painted_document.h"
#include "platform/platform.h"
#include "q/q_gui.h"
#include "q/q_log.h"
#include "tavolix_app.h"

namespace {

// A session of `layers` 4096-pixel layers with brush strokes in the scratch save folder, as a
// previous run left it.
bool leave_session(const QuietScratchApp& scratch, int layers) {
    const std::string folder = scratch.dir + "/Tavolix";
    mkdir(folder.c_str(), 0700);
    DOCUMENT* doc = bench_painted_document(4096, layers, 6);
    const bool ok = doc && document_save(doc, (folder + "/session.tvl").c_str());
    document_free(&doc);
    brush_engine_flush_cache();
    return ok;
}

// Argument 0: a first start; 1: the settings and the window layout a previous run left are
// there, as at every start but the first; 2: and an 8-layer session to restore.
void BM_StartToFirstCanvasFrame(benchmark::State& state) {
    QuietScratchApp scratch;
    if (state.range(0)) {
        TAVOLIX_APP previous{};
        if (start_and_draw(&previous)) {
            tavolix_app_settings_persist(&previous);
            tavolix_gui_layout_persist(&previous);
        }
        tavolix_app_shutdown(&previous);
    }
    if (state.range(0) == 2 && !leave_session(scratch, 8)) {
        state.SkipWithError("could not write the session");
        return;
    }
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
    state.counters["layers"] = state.range(0) == 2 ? 8 : 1;
}
BENCHMARK(BM_StartToFirstCanvasFrame)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(bench_iterations(5));

// The whole exit once the main loop has ended, as the program runs it: the canvas settled, the
// settings, the window layout and the session written (the session only when the file does
// not hold the drawing), then everything freed, the document included. A restored session of
// 1 or 8 layers, untouched (stroke:0) or with one stroke since the restore (stroke:1: the
// session is written, with nothing encoded beforehand).
void BM_Exit(benchmark::State& state) {
    QuietScratchApp scratch;
    const int layers = static_cast<int>(state.range(0));
    if (!leave_session(scratch, layers)) {
        state.SkipWithError("could not write the session");
        return;
    }
    unsigned seed = 5;
    for (auto _ : state) {
        state.PauseTiming();
        TAVOLIX_APP app{};
        const bool ok = start_and_draw(&app) && document_layer_count(app.doc) == size_t(layers);
        if (ok && state.range(1)) bench_stroke(app.doc, &seed, al_map_rgb(200, 30, 30), 40.0f);
        state.ResumeTiming();
        if (ok) { // what tavolix_app_run does when its loop ends, then main's shut-down
            tavolix_app_settle_canvas(&app);
            tavolix_app_settings_persist(&app);
            tavolix_gui_layout_persist(&app);
            tavolix_app_session_persist(&app);
        }
        tavolix_app_shutdown(&app);
        if (!ok) {
            state.SkipWithError("start-up or restore failed");
            break;
        }
    }
    state.counters["layers"] = layers;
}
BENCHMARK(BM_Exit)
    ->ArgsProduct({{1, 8}, {0, 1}})
    ->ArgNames({"layers", "stroke"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(bench_iterations(3));

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
// with a 4096-pixel document of 1 or 8 layers, each holding brush strokes.
struct SessionApp {
    TAVOLIX_APP app{};
    explicit SessionApp(int layers) {
        platform_init();
        brush_defaults(&app.brush);
        app.doc = bench_painted_document(4096, layers, 6);
    }
    ~SessionApp() {
        autosave_shutdown(&app.autosave);
        document_free(&app.doc);
        brush_engine_flush_cache();
    }
};

void remove_session_files() {
    char path[PLATFORM_PATH_MAX];
    for (const char* name : {"session.tvl", "settings.dat"}) {
        platform_save_path(name, path, sizeof path);
        remove(path);
    }
}

// Exit after one more stroke since the last background write (`changed`), the same with
// nothing encoded yet (`cold`: the first exit after a restore), and with the file current.
enum ExitCase { EXIT_CHANGED, EXIT_COLD, EXIT_CURRENT };

void BM_ExitWrites(benchmark::State& state) {
    QuietScratchApp scratch;
    SessionApp session(static_cast<int>(state.range(0)));
    const auto exit_case = static_cast<ExitCase>(state.range(1));
    unsigned seed = 99;
    for (auto _ : state) {
        state.PauseTiming();
        tavolix_app_session_persist(&session.app);
        if (exit_case != EXIT_CURRENT)
            bench_stroke(session.app.doc, &seed, al_map_rgb(200, 30, 30), 40.0f);
        if (exit_case == EXIT_COLD) autosave_shutdown(&session.app.autosave);
        state.ResumeTiming();
        tavolix_app_settings_persist(&session.app);
        tavolix_app_session_persist(&session.app);
    }
    remove_session_files();
}
BENCHMARK(BM_ExitWrites)
    ->ArgsProduct({{1, 8}, {EXIT_CHANGED, EXIT_COLD, EXIT_CURRENT}})
    ->ArgNames({"layers", "case"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(bench_iterations(3));

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
    remove_session_files();
}
BENCHMARK(BM_SessionRestore)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->Iterations(bench_iterations(2));

// Painting while the session is written in the background, with the 8-layer document. Each
// iteration is one frame: a pointer motion of the stroke in progress, the timer's autosave
// duty (with the user counted as idle, so a write starts whenever one may), and a drawn frame.
// A stroke ends every 30 frames. The counters give the longest autosave duty, the longest
// frame, and the longest frame drawn while a write was going on (writing_frame_ms); with 0 the
// duty is left out, for comparison.
void BM_AutosaveWhilePainting(benchmark::State& state) {
    QuietScratchApp scratch;
    SessionApp session(8);
    TAVOLIX_APP& app = session.app;
    view_init(&app.view);
    view_center(&app.view, 4096, 4096, 320, 240);
    symmetry_init(&app.symmetry, app.doc);
    app.brush.size = 32.0f;
    char path[PLATFORM_PATH_MAX];
    platform_save_path("session.tvl", path, sizeof path);
    tavolix_app_session_persist(&app);
    const bool autosave = state.range(0) != 0;
    using Clock = std::chrono::steady_clock;
    double longest_duty = 0.0, longest_frame = 0.0, longest_writing = 0.0, now = 1000.0;
    int frame = 0, writes = 0, writing_frames = 0;
    std::vector<double> frames, writing_times; // the longest frame alone is at the mercy of the machine's other load
    for (auto _ : state) {
        const auto start = Clock::now();
        bool writing = app.autosave.job != nullptr;
        const float x = 1000.0f + static_cast<float>((frame * 37) % 2000);
        const float y = 1000.0f + static_cast<float>((frame / 30) * 40 % 2000);
        if (!app.stroke.active)
            brush_stroke_begin(&app.stroke, app.doc, &app.brush, x, y, 1.0f, &app.symmetry);
        else if (frame % 30 == 29)
            brush_stroke_end(&app.stroke, app.doc);
        else
            brush_stroke_segment(&app.stroke, app.doc, &app.brush, x, y, 1.0f);
        const auto duty = Clock::now();
        if (autosave) {
            const bool was_writing = app.autosave.job != nullptr;
            autosave_tick(&app.autosave, app.doc, path, app.stroke.active, now);
            writes += !was_writing && app.autosave.job != nullptr;
        }
        const std::chrono::duration<double> duty_time = Clock::now() - duty;
        longest_duty = std::max(longest_duty, duty_time.count());
        al_clear_to_color(al_map_rgb(40, 42, 46));
        compositor_draw(app.doc, &app.view);
        al_get_pixel(al_get_backbuffer(al_get_current_display()), 0, 0);
        al_flip_display();
        const std::chrono::duration<double> frame_time = Clock::now() - start;
        longest_frame = std::max(longest_frame, frame_time.count());
        writing = writing || app.autosave.job != nullptr;
        frames.push_back(frame_time.count());
        if (writing) {
            writing_times.push_back(frame_time.count());
            longest_writing = std::max(longest_writing, frame_time.count());
            writing_frames++;
        }
        now += TAVOLIX_TICK;
        frame++;
    }
    if (app.stroke.active) brush_stroke_end(&app.stroke, app.doc);
    state.counters["longest_duty_ms"] = longest_duty * 1000.0;
    state.counters["longest_frame_ms"] = longest_frame * 1000.0;
    state.counters["writes"] = writes;
    state.counters["writing_frame_ms"] = longest_writing * 1000.0;
    state.counters["writing_frames"] = writing_frames;
    const auto p95 = [](std::vector<double>& times) {
        if (times.empty()) return 0.0;
        std::sort(times.begin(), times.end());
        return 1000.0 * times[times.size() * 95 / 100];
    };
    state.counters["p95_ms"] = p95(frames);
    state.counters["writing_p95_ms"] = p95(writing_times);
    remove_session_files();
}
BENCHMARK(BM_AutosaveWhilePainting)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(bench_iterations(600));

BENCHMARK(BM_MotionToFrameWhilePainting)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(bench_iterations(200));

// The GUI alone: a whole rebuild with its icons (an interface-size change), and an idle
// frame's cost when the cached image is current (argument 0: the GUI hidden, for comparison).
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
BENCHMARK(BM_GuiRebuild)->Unit(benchmark::kMillisecond)->Iterations(bench_iterations(20));

void BM_GuiIdleFrame(benchmark::State& state) {
    QuietScratchApp scratch;
    TAVOLIX_APP app{};
    if (!start_and_draw(&app)) {
        state.SkipWithError("start-up failed");
        tavolix_app_shutdown(&app);
        return;
    }
    tavolix_gui_set_visible(&app, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        tavolix_gui_draw(&app);
        al_get_pixel(al_get_backbuffer(app.display), 100, 100);
    }
    tavolix_app_shutdown(&app);
}
BENCHMARK(BM_GuiIdleFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Iterations(bench_iterations(500));

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
BENCHMARK(BM_ExportThroughThePopup)->Unit(benchmark::kMillisecond)->Iterations(bench_iterations(3));


} // namespace

// What keeping the drawing safe costs: taking this window's session slot at start-up (the lock,
// the session file's kind, the look for sessions that closed windows left), and frames of
// painting while every background write fails, is reported and retried.
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "app_support.h"
#include "canvas/compositor.h"
#include "platform/platform.h"
#include "session.h"

namespace {

// A save folder as a long-used one looks: the state files, the session, twenty documents.
void fill_save_folder() {
    platform_init();
    char path[PLATFORM_PATH_MAX];
    std::string names[] = {"settings.dat", "palette.dat", "layout.json", "session.tvl"};
    for (const std::string& name : names)
        if (platform_save_path(name.c_str(), path, sizeof path)) platform_write_file(path, "x", 1, nullptr);
    for (int i = 0; i < 20; i++) {
        const std::string name = "drawing " + std::to_string(i) + ".tvl";
        if (platform_save_path(name.c_str(), path, sizeof path)) platform_write_file(path, "x", 1, nullptr);
    }
}

} // namespace

// Argument 1: another window holds the first slot, so the claim takes the second.
void BM_SessionClaimAtStart(benchmark::State& state) {
    QuietScratchApp scratch;
    fill_save_folder();
    int other = -1;
    char path[PLATFORM_PATH_MAX];
    if (state.range(0) && platform_save_path("session.lock", path, sizeof path))
        other = platform_lock_file(path);
    for (auto _ : state) {
        SESSION session{};
        session_claim(&session);
        benchmark::DoNotOptimize(platform_file_kind(session.path));
        char name[PLATFORM_PATH_MAX];
        session_keep_orphans(&session, name, sizeof name);
        session_release(&session);
    }
    platform_unlock_file(other);
}
BENCHMARK(BM_SessionClaimAtStart)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Painting on the 4096-pixel start-up document with the panels shown, one frame an iteration:
// a stroke's motion (a stroke ends every 30 frames), the timer's autosave duty, and a whole
// frame drawn and finished. Argument 1: the save folder is gone and a file stands in its
// place, so every write fails, the first failure opens the notification and a retry is due
// after every stroke; 2: the same with every write succeeding, and 0 without the duty, for
// comparison. The counters give the longest frame and the longest duty (its own time on the
// main thread too, which other programs on the machine do not stretch).
void BM_PaintingWhileWritesFail(benchmark::State& state) {
    QuietScratchApp scratch;
    TAVOLIX_APP app{};
    if (!start_and_draw(&app)) {
        state.SkipWithError("start-up failed");
        tavolix_app_shutdown(&app);
        return;
    }
    const bool failing = state.range(0) == 1, duty_on = state.range(0) != 0;
    const std::string folder = scratch.dir + "/Tavolix";
    if (failing) {
        std::filesystem::rename(folder, folder + ".moved");
        platform_write_file(folder.c_str(), "not a folder", 12, nullptr);
    }
    app.brush.size = 32.0f;
    using Clock = std::chrono::steady_clock;
    // The main thread's own time, which other programs on the machine do not stretch.
    auto thread_seconds = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    };
    double longest_frame = 0.0, longest_duty = 0.0, longest_duty_cpu = 0.0;
    int frame = 0, failed_writes = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const float x = 1000.0f + static_cast<float>((frame * 37) % 2000);
        const float y = 1000.0f + static_cast<float>((frame / 30) * 40 % 2000);
        if (!app.stroke.active)
            brush_stroke_begin(&app.stroke, app.doc, &app.brush, x, y, 1.0f, &app.symmetry);
        else if (frame % 30 == 29)
            brush_stroke_end(&app.stroke, app.doc);
        else
            brush_stroke_segment(&app.stroke, app.doc, &app.brush, x, y, 1.0f);
        const auto duty = Clock::now();
        const double duty_cpu = thread_seconds();
        if (duty_on) {
            const int before = app.autosave.failures;
            app.autosave.last_input = 0.0; // the user counts as idle: a write may start
            if (frame % 30 == 0) app.autosave.retry_at = 0.0;
            _app_autosave_duty(&app);
            failed_writes += app.autosave.failures > before;
        }
        longest_duty = std::max(longest_duty, std::chrono::duration<double>(Clock::now() - duty).count());
        longest_duty_cpu = std::max(longest_duty_cpu, thread_seconds() - duty_cpu);
        al_clear_to_color(al_map_rgb(40, 42, 46));
        app.state->draw(&app);
        tavolix_gui_draw(&app);
        al_get_pixel(al_get_backbuffer(app.display), 640, 400);
        al_flip_display();
        longest_frame = std::max(longest_frame, std::chrono::duration<double>(Clock::now() - start).count());
        frame++;
    }
    if (app.stroke.active) brush_stroke_end(&app.stroke, app.doc);
    state.counters["longest_frame_ms"] = longest_frame * 1000.0;
    state.counters["longest_duty_ms"] = longest_duty * 1000.0;
    state.counters["longest_duty_cpu_ms"] = longest_duty_cpu * 1000.0;
    state.counters["failed_writes"] = failed_writes;
    state.counters["notified"] = app.unsaved_shown ? 1 : 0;
    autosave_shutdown(&app.autosave);
    if (failing) {
        std::filesystem::remove(folder);
        std::filesystem::rename(folder + ".moved", folder);
    }
    app.running = false;
    tavolix_app_shutdown(&app);
}
BENCHMARK(BM_PaintingWhileWritesFail)->Arg(0)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(600);

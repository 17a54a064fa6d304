// The interface toolkit on a GUI shaped like the program's: a tool bar and a layer panel docked
// on a 1280 x 800 display, about 90 widgets (buttons, 12 sliders, a 64-row list box, combo
// boxes, labels); the tool bar is taller than the display and scrolls, as the real one does.
//   BM_GuiDraw            one full q_gui_draw into a 1280 x 800 video bitmap, finished
//   BM_GuiMotionOver      pointer motion between widgets of the tool bar
//   BM_GuiMotionAway      pointer motion over the canvas, away from every window
//   BM_GuiKeyPress        a key down that matches no shortcut (every button is checked)
//   BM_GuiWantsMouse20    q_gui_wants_mouse with 20 windows, pointer over none of them
//   BM_GuiLayoutSaveLoad  saving and loading a layout of 32 windows
//   BM_GuiLayoutLoad      loading it alone
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_ttf.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "q/q_gui.h"

namespace {

constexpr float DISPLAY_W = 1280, DISPLAY_H = 800;

ALLEGRO_FONT* load_font() {
    al_init_font_addon();
    al_init_ttf_addon();
    for (const char* path : {"assets/fonts/DejaVuSans.ttf", "../assets/fonts/DejaVuSans.ttf",
                             "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"})
        if (ALLEGRO_FONT* font = al_load_ttf_font(path, 18, 0)) return font;
    return nullptr;
}

struct Builder {
    Q_GUI_CTX* ctx;
    int win;
    float y = 10;
    int count = 0;
    void row(int n, float h = 28, const char* label = "Button") {
        const float w = (180 - (n - 1) * 6.0f) / n;
        for (int i = 0; i < n; i++) {
            const int id =
                q_gui_add_button(ctx, win, label, 10 + i * (w + 6), y, w, h, 1, nullptr, nullptr);
            q_gui_set_widget_tooltip(ctx, id, "What this button does");
            count++;
        }
        y += h + 6;
    }
    void slider(const char* label) {
        q_gui_add_label(ctx, win, label, 10, y, 180, 17, 0);
        y += 17;
        const int s = q_gui_add_slider(ctx, win, 10, y, 120, 28, 1, 128, 24, 0, nullptr, nullptr);
        q_gui_slider_set_value_format(ctx, s, "%.0f px");
        y += 34;
        count += 2;
    }
    void combo(int items) {
        const int c = q_gui_add_combobox(ctx, win, 10, y, 180, 28, nullptr, nullptr);
        for (int i = 0; i < items; i++)
            q_gui_combobox_add_item(ctx, c, "Palette name");
        q_gui_combobox_set_selected(ctx, c, 0);
        y += 34;
        count++;
    }
};

int docked(Q_GUI_CTX* ctx, const char* title, float x, float w) {
    const int id = q_gui_add_window(ctx, title, x, 8, w, DISPLAY_H - 16);
    q_gui_window_set_flags(ctx, id, 0xD0);
    q_gui_window_set_zorder(ctx, id, Q_GUI_ZORDER_ALWAYS_ON_TOP, 0);
    return id;
}

// Sections of the tool bar with their widgets; the last three start folded.
Q_GUI_CTX* program_gui(ALLEGRO_FONT* font, int* widgets) {
    Q_GUI_CTX* ctx = q_gui_new_ctx(font);
    q_gui_set_display_size(ctx, DISPLAY_W, DISPLAY_H);
    Builder tools{ctx, docked(ctx, "tools", 8, 216)};
    tools.row(2);
    tools.row(3, 28, "");
    tools.row(3, 28, "");
    tools.row(3, 28, "");
    tools.row(4);
    tools.row(2, 28, "Tip: Round");
    tools.row(4, 28, "");
    tools.row(4, 28, "");
    tools.row(4, 28, "");
    tools.combo(5);
    tools.row(1, 28, "Color");
    tools.row(4, 28, " ");
    tools.row(4, 28, " ");
    tools.row(2, 28, "Edit");
    for (const char* s : {"Size", "Opacity", "Flow", "Hardness", "Spacing", "Jitter", "Scatter",
                          "Smoothing", "Radial splits"})
        tools.slider(s);
    tools.row(1, 28, "Help");
    Builder layers{ctx, docked(ctx, "layers", DISPLAY_W - 208, 200)};
    const int list =
        q_gui_add_listbox(ctx, layers.win, 10, layers.y, 164, 300, 1, nullptr, nullptr);
    char name[32];
    for (int i = 0; i < 64; i++) {
        snprintf(name, sizeof name, "\xe2\x97\x8f Layer %d", 64 - i);
        q_gui_listbox_add_item(ctx, list, name);
    }
    q_gui_listbox_set_selected(ctx, list, 0, 1);
    layers.y += 306;
    layers.count++;
    layers.row(4, 28, "+");
    layers.row(2, 28, "Rename");
    q_gui_add_checkbox(ctx, layers.win, "Show", 10, layers.y, 80, 24, 1, nullptr, nullptr);
    q_gui_add_checkbox(ctx, layers.win, "Lock", 100, layers.y, 80, 24, 0, nullptr, nullptr);
    layers.y += 30;
    layers.count += 2;
    layers.row(1, 28, "Blend: Normal");
    layers.slider("Opacity");
    layers.combo(24);
    layers.row(3, 28, "");
    layers.slider("Grid size");
    layers.slider("Zoom");
    *widgets = tools.count + layers.count;
    return ctx;
}

struct Fixture {
    ALLEGRO_FONT* font = load_font();
    int widgets = 0;
    Q_GUI_CTX* ctx = font ? program_gui(font, &widgets) : nullptr;
    ~Fixture() {
        if (ctx) q_gui_destroy_ctx(&ctx);
        if (font) al_destroy_font(font);
    }
};

ALLEGRO_EVENT motion(int x, int y) {
    ALLEGRO_EVENT ev{};
    ev.type = ALLEGRO_EVENT_MOUSE_AXES;
    ev.mouse.x = x;
    ev.mouse.y = y;
    return ev;
}

void BM_GuiDraw(benchmark::State& state) {
    Fixture f;
    ALLEGRO_BITMAP* target =
        al_create_bitmap(static_cast<int>(DISPLAY_W), static_cast<int>(DISPLAY_H));
    if (!f.ctx || !target) {
        state.SkipWithError("no font or no target bitmap");
        return;
    }
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(target);
    for (auto _ : state) {
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        q_gui_draw(f.ctx);
        // Reading one pixel back waits until the renderer has finished the frame.
        ALLEGRO_LOCKED_REGION* r = al_lock_bitmap_region(
            target, 0, 0, 1, 1, ALLEGRO_PIXEL_FORMAT_ANY, ALLEGRO_LOCK_READONLY);
        benchmark::DoNotOptimize(r);
        al_unlock_bitmap(target);
    }
    al_set_target_bitmap(previous);
    al_destroy_bitmap(target);
    state.counters["widgets"] = f.widgets;
}
// The renderer draws on its own threads: wall time is what a frame costs.
BENCHMARK(BM_GuiDraw)->Unit(benchmark::kMillisecond)->UseRealTime();

void run_events(benchmark::State& state, const ALLEGRO_EVENT* events, int n) {
    Fixture f;
    if (!f.ctx) {
        state.SkipWithError("no font");
        return;
    }
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(q_gui_process_event(f.ctx, &events[i]));
        i = (i + 1) % n;
    }
}

void BM_GuiMotionOver(benchmark::State& state) {
    const ALLEGRO_EVENT events[] = {motion(40, 30), motion(120, 70), motion(60, 400),
                                    motion(150, 500), motion(30, 200)};
    run_events(state, events, 5);
}
BENCHMARK(BM_GuiMotionOver)->Unit(benchmark::kMicrosecond);

void BM_GuiMotionAway(benchmark::State& state) {
    const ALLEGRO_EVENT events[] = {motion(600, 400), motion(603, 402)};
    run_events(state, events, 2);
}
BENCHMARK(BM_GuiMotionAway)->Unit(benchmark::kMicrosecond);

void BM_GuiKeyPress(benchmark::State& state) {
    ALLEGRO_EVENT key{};
    key.type = ALLEGRO_EVENT_KEY_DOWN;
    key.keyboard.keycode = ALLEGRO_KEY_B;
    run_events(state, &key, 1);
}
BENCHMARK(BM_GuiKeyPress)->Unit(benchmark::kMicrosecond);

void BM_GuiWantsMouse20(benchmark::State& state) {
    Fixture f;
    if (!f.ctx) {
        state.SkipWithError("no font");
        return;
    }
    for (int i = 0; i < 18; i++)
        q_gui_add_window(f.ctx, "popup", 300 + i * 10, 100, 200, 150);
    const ALLEGRO_EVENT away = motion(1000, 700);
    q_gui_process_event(f.ctx, &away);
    for (auto _ : state)
        benchmark::DoNotOptimize(q_gui_wants_mouse(f.ctx));
}
BENCHMARK(BM_GuiWantsMouse20)->Unit(benchmark::kNanosecond);

// Saving replaces the file through a synced temporary, so its time is mostly the disk's;
// loading alone shows the toolkit's own share.
void run_layout(benchmark::State& state, bool save) {
    Fixture f;
    if (!f.ctx) {
        state.SkipWithError("no font");
        return;
    }
    char title[32];
    for (int i = 0; i < 30; i++) {
        snprintf(title, sizeof title, "popup %d", i);
        q_gui_add_window(f.ctx, title, 300 + i * 10, 100, 200, 150);
    }
    char dir[] = "/tmp/tavolix-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("no scratch folder");
        return;
    }
    const std::string path = std::string(dir) + "/layout.json";
    if (q_gui_save_layout_json(f.ctx, path.c_str()) != 0) state.SkipWithError("save failed");
    for (auto _ : state) {
        if ((save && q_gui_save_layout_json(f.ctx, path.c_str()) != 0) ||
            q_gui_load_layout_json(f.ctx, path.c_str()) != 0)
            state.SkipWithError("layout round trip failed");
    }
    unlink(path.c_str());
    rmdir(dir);
}

void BM_GuiLayoutSaveLoad(benchmark::State& state) {
    run_layout(state, true);
}
BENCHMARK(BM_GuiLayoutSaveLoad)->Unit(benchmark::kMillisecond);

void BM_GuiLayoutLoad(benchmark::State& state) {
    run_layout(state, false);
}
BENCHMARK(BM_GuiLayoutLoad)->Unit(benchmark::kMillisecond);

} // namespace

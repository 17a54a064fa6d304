// Placed shapes and text: rendering a shape at 2048 px and two lines of text at 512 px, one
// step of a handle drag that redraws a placed shape at its new size (it must leave room in a
// 16 ms frame), and listing a save folder of 10 000 documents for the open list (under 100 ms).
// Run from the build folder, where the fonts are found under ./assets. Each rendering ends by
// reading a pixel back, so queued drawing is paid for where it was issued.
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_ttf.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "tavolix_app.h"

namespace {

struct DocumentDeleter {
    void operator()(DOCUMENT* doc) const { document_free(&doc); }
};

// An application record as start-up leaves it, on a 4096-pixel document with one layer, the
// middle of a 1280 x 800 display showing the middle of the document.
struct BenchApp {
    std::unique_ptr<TAVOLIX_APP> app = std::make_unique<TAVOLIX_APP>();
    std::unique_ptr<DOCUMENT, DocumentDeleter> doc{document_new(4096, 4096)};
    BenchApp() {
        if (!doc || !document_add_layer(doc.get(), "Layer 1")) return;
        app->doc = doc.get();
        app->display_w = 1280;
        app->display_h = 800;
        brush_defaults(&app->brush);
        app->brush.size = 8.0f;
        view_init(&app->view);
        view_center(&app->view, 4096, 4096, 1280, 800);
        symmetry_init(&app->symmetry, app->doc);
        selection_init(&app->selection);
        form_init(&app->form);
        grid_init(&app->grid);
    }
    ~BenchApp() {
        selection_discard(&app->selection);
        app->doc = nullptr;
        brush_engine_flush_cache();
    }
    bool ready() const { return app->doc != nullptr; }
};

void sync(ALLEGRO_BITMAP* bitmap) {
    benchmark::DoNotOptimize(al_get_pixel(bitmap, 1, 1));
}

void BM_RenderShape2048(benchmark::State& state) {
    BenchApp bench;
    const bool filled = state.range(0) != 0;
    for (auto _ : state) {
        ALLEGRO_BITMAP* shape =
            _render_shape_bitmap_wh(bench.app.get(), PLACED_STAR, filled, 2048, 2048);
        if (!shape) {
            state.SkipWithError("could not render the shape");
            break;
        }
        sync(shape);
        al_destroy_bitmap(shape);
    }
}
BENCHMARK(BM_RenderShape2048)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_RenderText512TwoLines(benchmark::State& state) {
    al_init_font_addon();
    al_init_ttf_addon();
    BenchApp bench;
    for (auto _ : state) {
        ALLEGRO_BITMAP* text = _render_text_bitmap(bench.app.get(), "Sketch\nnotes", 0, 512);
        if (!text) {
            state.SkipWithError("could not render the text (run from the build folder)");
            break;
        }
        sync(text);
        al_destroy_bitmap(text);
    }
}
BENCHMARK(BM_RenderText512TwoLines)->Unit(benchmark::kMillisecond);

// One pointer motion on a placed shape's right handle: the drag follows the pointer and the
// shape is drawn anew at its new width. The argument is the shape's starting side.
void BM_HandleDragStep(benchmark::State& state) {
    BenchApp bench;
    TAVOLIX_APP* app = bench.app.get();
    const float side = static_cast<float>(state.range(0));
    app->view.zoom = 320.0f / side; // a new shape is 320 display pixels wide here
    view_update(&app->view);
    _place_shape(app, PLACED_HEXAGON);
    SELECTION* sel = &app->selection;
    if (sel->phase != SELECTION_PHASE_FLOATING || sel->rect.w != static_cast<int>(side)) {
        state.SkipWithError("could not place the shape");
        return;
    }
    const float y = static_cast<float>(sel->rect.y) + side * 0.5f;
    const float right = static_cast<float>(sel->rect.x) + side;
    selection_drag_begin(sel, SELECTION_HANDLE_RIGHT, right, y);
    sel->tracking = true;
    int step = 0;
    for (auto _ : state) {
        // Back and forth over a tenth of the side, a new width at every step.
        const float dx = side * 0.1f * static_cast<float>(step++ % 20 - 10) / 10.0f;
        selection_drag_update(sel, right + dx, y, 0);
        tavolix_gui_placed_float_refresh(app);
        sync(sel->float_bitmap);
    }
    selection_drag_end(sel);
    sel->tracking = false;
}
BENCHMARK(BM_HandleDragStep)->Arg(288)->Arg(2048)->Unit(benchmark::kMillisecond);

void BM_ListTenThousandDocuments(benchmark::State& state) {
    char templ[] = "/tmp/tavolix-bench-XXXXXX";
    const std::string root = mkdtemp(templ);
    setenv("APPDATA", root.c_str(), 1);
    const std::string folder = root + "/Tavolix/";
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 10000; i++) {
        char name[64];
        snprintf(name, sizeof name, "sketch %05d.tvl", i);
        if (FILE* f = fopen((folder + name).c_str(), "wb")) fclose(f);
    }
    char list[4096];
    for (auto _ : state)
        benchmark::DoNotOptimize(platform_list_documents(list, sizeof list));
    std::filesystem::remove_all(root);
}
BENCHMARK(BM_ListTenThousandDocuments)->Unit(benchmark::kMillisecond);

} // namespace

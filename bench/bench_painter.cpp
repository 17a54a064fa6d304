// The painter's eye and hand: picking a colour, drawing the colour wheel, pen samples and the
// stroke stabilizer.
//   BM_EyedropperComposite  one pick from the composite of 8 visible layers of 4096 x 4096
//   BM_ColorWheelDraw       a 200-pixel colour wheel alone in a window, drawn and finished,
//                           against the same window without it (BM_ColorWheelDrawEmpty)
//   BM_PenSample            one XInput 2 event decoded, kept and matched with its pointer event
//   BM_StabilizerFollow     one pointer motion through a strong stabilizer
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench_support.h"
#include "canvas/eyedropper.h"
#include "input/pen.h"
#include "input/stabilizer.h"
#include "q/q_gui.h"
#ifdef TAVOLIX_HAVE_XI
#include "platform/pen_decoder.h"
#endif

namespace {

void BM_EyedropperComposite(benchmark::State& state) {
    DocumentPtr doc = make_filled_document(4096, al_map_rgba(20, 10, 0, 40));
    if (!doc) {
        state.SkipWithError("no document");
        return;
    }
    for (int i = 1; i < 8; i++) {
        LAYER* layer = document_add_layer(doc.get(), nullptr);
        if (!layer) {
            state.SkipWithError("no layer");
            return;
        }
        layer->blend = i % 4;
        layer->opacity = 0.8f;
    }
    uint32_t seed = 12345;
    PICKED_COLOUR c;
    for (auto _ : state) {
        seed = seed * 1664525u + 1013904223u;
        const float x = static_cast<float>(seed % 4096), y = static_cast<float>((seed >> 12) % 4096);
        benchmark::DoNotOptimize(eyedropper_pick_composite(doc.get(), x, y, &c));
    }
}
BENCHMARK(BM_EyedropperComposite)->Unit(benchmark::kMicrosecond);

void wheel_draw(benchmark::State& state, bool with_wheel) {
    ALLEGRO_FONT* font = al_create_builtin_font();
    Q_GUI_CTX* ctx = font ? q_gui_new_ctx(font) : nullptr;
    ALLEGRO_BITMAP* target = al_create_bitmap(400, 300);
    if (!ctx || !target) {
        state.SkipWithError("no context or target");
        return;
    }
    q_gui_set_display_size(ctx, 400, 300);
    const int win = q_gui_add_window(ctx, "w", 0, 0, 400, 300);
    if (with_wheel) q_gui_add_colorwheel(ctx, win, 20, 20, 200, 200, nullptr, nullptr);
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(target);
    for (auto _ : state) {
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        q_gui_draw(ctx);
        ALLEGRO_LOCKED_REGION* r = al_lock_bitmap_region(target, 0, 0, 1, 1, ALLEGRO_PIXEL_FORMAT_ANY,
                                                         ALLEGRO_LOCK_READONLY);
        benchmark::DoNotOptimize(r);
        al_unlock_bitmap(target);
    }
    al_set_target_bitmap(previous);
    al_destroy_bitmap(target);
    q_gui_destroy_ctx(&ctx);
    al_destroy_font(font);
}
void BM_ColorWheelDraw(benchmark::State& state) { wheel_draw(state, true); }
void BM_ColorWheelDrawEmpty(benchmark::State& state) { wheel_draw(state, false); }
BENCHMARK(BM_ColorWheelDraw)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColorWheelDrawEmpty)->Unit(benchmark::kMicrosecond);

#ifdef TAVOLIX_HAVE_XI
void BM_PenSample(benchmark::State& state) {
    PEN_DECODER dec;
    pen_decoder_init(&dec);
    XIValuatorClassInfo axes[3]{};
    XIAnyClassInfo* classes[3];
    for (int i = 0; i < 3; i++) {
        axes[i].type = XIValuatorClass;
        axes[i].number = i;
        axes[i].label = i == 2 ? 77 : 0;
        axes[i].max = 8191;
        classes[i] = reinterpret_cast<XIAnyClassInfo*>(&axes[i]);
    }
    XIDeviceInfo info{};
    info.deviceid = 11;
    info.name = const_cast<char*>("bench pen");
    info.use = XISlavePointer;
    info.num_classes = 3;
    info.classes = classes;
    pen_decoder_add(&dec, &info, 77);
    unsigned char mask[1] = {0x7};
    double values[3] = {0, 0, 4000};
    XIDeviceEvent ev{};
    ev.evtype = XI_Motion;
    ev.deviceid = ev.sourceid = 11;
    ev.valuators.mask_len = 1;
    ev.valuators.mask = mask;
    ev.valuators.values = values;
    PEN_INPUT pen;
    pen_input_reset(&pen);
    int i = 0;
    for (auto _ : state) {
        ev.event_x = 100 + (i % 500);
        ev.event_y = 200;
        ev.time = static_cast<Time>(i * 5);
        PEN_SAMPLE s, match;
        pen_decoder_event(&dec, &ev, &s);
        pen_input_add(&pen, &s, 1);
        benchmark::DoNotOptimize(pen_input_match(&pen, s.x, s.y, s.time, &match));
        i++;
    }
}
BENCHMARK(BM_PenSample)->Unit(benchmark::kNanosecond);
#endif

void BM_StabilizerFollow(benchmark::State& state) {
    STABILIZER s{};
    stabilizer_begin(&s, 0, 0, stabilizer_string(STABILIZER_MAX, 1.0f));
    float t = 0, x, y;
    for (auto _ : state) {
        t += 1.0f;
        benchmark::DoNotOptimize(stabilizer_follow(&s, t * 3.0f, std::sin(t) * 12.0f, &x, &y));
    }
}
BENCHMARK(BM_StabilizerFollow)->Unit(benchmark::kNanosecond);

} // namespace

// Feeds arbitrary bytes to the toolkit's layout and theme readers, over a context with windows
// shaped like the program's. A refused file must change nothing; an accepted one must leave
// every window with a finite, positive rectangle and a known z mode.
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <vector>

#include "q/q_gui.h"
#include "gui_fuzz.h"

namespace {

struct Rect {
    float x, y, w, h;
    uint32_t state, flags;
};

std::vector<Rect> snapshot(Q_GUI_CTX* ctx) {
    std::vector<Rect> out;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        const Q_GUI_WINDOW* w = static_cast<const Q_GUI_WINDOW*>(n->ptr);
        out.push_back({w->x, w->y, w->w, w->h, w->state, w->flags});
    }
    return out;
}

bool same(const std::vector<Rect>& a, const std::vector<Rect>& b) {
    return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(Rect)) == 0;
}

void check_windows(Q_GUI_CTX* ctx) {
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        const Q_GUI_WINDOW* w = static_cast<const Q_GUI_WINDOW*>(n->ptr);
        if (!std::isfinite(w->x) || !std::isfinite(w->y) || !(w->w >= 1) || !(w->h >= 1) ||
            !std::isfinite(w->w) || !std::isfinite(w->h) || w->z_order < 0 || w->z_order > 4 ||
            w->resize_policy < 0 || w->resize_policy > 2) {
            fprintf(stderr, "window \"%s\" left at %g,%g %gx%g z %d policy %d\n", w->title,
                    static_cast<double>(w->x), static_cast<double>(w->y), static_cast<double>(w->w),
                    static_cast<double>(w->h), w->z_order, w->resize_policy);
            abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gui_fuzz_font();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Q_GUI_CTX* ctx = q_gui_new_ctx(gui_fuzz_font());
    q_gui_set_display_size(ctx, 1280, 800);
    for (const char* title : {"tools", "layers", "Layers"}) {
        const int id = q_gui_add_window(ctx, title, 8, 8, 200, 700);
        q_gui_add_button(ctx, id, "b", 10, 10, 50, 20, 1, nullptr, nullptr);
    }
    const char* text = reinterpret_cast<const char*>(data);
    const std::vector<Rect> before = snapshot(ctx);
    const int pending = ctx->pending_layout_count;
    if (q_gui_load_layout_json_mem(ctx, text, size) != 0) {
        if (!same(before, snapshot(ctx)) || ctx->pending_layout_count != pending) abort();
    }
    check_windows(ctx);
    // Windows made afterwards take what waited for them, within the display.
    for (int i = 0; i < ctx->pending_layout_count; i++) {
        const int id = q_gui_add_window(ctx, ctx->pending_layout[i].title, 0, 0, 100, 100);
        const Q_GUI_WINDOW* w = q_gui_get_window(ctx, id);
        if (w->x < 0 || w->x > 1280 || w->w > 1280 || w->h > 800) abort();
    }
    check_windows(ctx);

    const Q_GUI_STYLE style = ctx->style;
    if (q_gui_load_theme_json_mem(ctx, text, size) != 0 &&
        memcmp(&style, &ctx->style, sizeof style) != 0)
        abort();
    const Q_GUI_STYLE& st = ctx->style;
    for (float metric : {st.titlebar_h, st.min_win_w, st.scrollbar_size, st.scrollbar_thumb_min,
                         st.item_height_pad, st.scroll_step, st.label_padding})
        if (!std::isfinite(metric) || metric < 0) abort();
    if (ctx->style.combobox_max_visible < 1 || ctx->style.shape_mode < -1 ||
        ctx->style.shape_mode > 1)
        abort();
    q_gui_destroy_ctx(&ctx);
    return 0;
}

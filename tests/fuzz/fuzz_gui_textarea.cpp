// Drives a focused text area with arbitrary key, character, pointer and paste sequences. After
// every step the text must be well-formed UTF-8 within the field's limit, and the cursor and
// both ends of the selection must sit on character boundaries.
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "q/q_gui_internal.h"
#include "gui_fuzz.h"

namespace {

constexpr int KEYS[] = {ALLEGRO_KEY_LEFT,      ALLEGRO_KEY_RIGHT,  ALLEGRO_KEY_HOME,
                        ALLEGRO_KEY_END,       ALLEGRO_KEY_UP,     ALLEGRO_KEY_DOWN,
                        ALLEGRO_KEY_BACKSPACE, ALLEGRO_KEY_DELETE, ALLEGRO_KEY_ENTER,
                        ALLEGRO_KEY_A,         ALLEGRO_KEY_C,      ALLEGRO_KEY_X,
                        ALLEGRO_KEY_V,         ALLEGRO_KEY_TAB,    ALLEGRO_KEY_ESCAPE};
constexpr int MODS[] = {0, ALLEGRO_KEYMOD_SHIFT, ALLEGRO_KEYMOD_CTRL,
                        ALLEGRO_KEYMOD_CTRL | ALLEGRO_KEYMOD_SHIFT};

struct Reader {
    const uint8_t* data;
    size_t size, pos;
    bool more() const { return pos < size; }
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    uint32_t word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++)
            v = (v << 8) | byte();
        return v;
    }
};

bool boundary(const Q_GUI_TEXTAREA_DATA* td, int pos) {
    return pos >= 0 && pos <= td->length && _utf8_cut(td->text, td->length, pos) == pos;
}

void check(const Q_GUI_WIDGET* w) {
    const Q_GUI_TEXTAREA_DATA* td = static_cast<const Q_GUI_TEXTAREA_DATA*>(w->data);
    if (td->length < 0 || td->length > td->max_length) abort();
    if (static_cast<int>(strlen(td->text)) != td->length) abort();
    if (!_utf8_valid(td->text, td->length)) abort();
    if (!boundary(td, td->cursor) || !boundary(td, td->sel_start) || !boundary(td, td->sel_end))
        abort();
    if (td->cursor != td->sel_end) abort();
    if (!td->multiline && memchr(td->text, '\n', static_cast<size_t>(td->length))) abort();
}

void send(Q_GUI_CTX* ctx, unsigned type, int keycode, int unichar, int mods, bool repeat) {
    ALLEGRO_EVENT ev{};
    ev.type = type;
    ev.keyboard.keycode = keycode;
    ev.keyboard.unichar = unichar;
    ev.keyboard.modifiers = static_cast<unsigned>(mods);
    ev.keyboard.repeat = repeat;
    q_gui_process_event(ctx, &ev);
}

void pointer(Q_GUI_CTX* ctx, unsigned type, int x, int y) {
    ALLEGRO_EVENT ev{};
    ev.type = type;
    ev.mouse.x = x;
    ev.mouse.y = y;
    ev.mouse.button = 1;
    q_gui_process_event(ctx, &ev);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gui_fuzz_font();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size, 0};
    Q_GUI_CTX* ctx = q_gui_new_ctx(gui_fuzz_font());
    const int win = q_gui_add_window(ctx, "w", 0, 0, 400, 300);
    q_gui_window_set_flags(ctx, win, Q_GUI_WINDOW_NO_TITLEBAR);
    const int mode = in.byte();
    const int id = q_gui_add_textarea(ctx, win, 10, 10, 200, (mode & 1) ? 120 : 24, mode & 1,
                                      (mode & 1) ? 63 : 31, nullptr, nullptr);
    if (mode & 2) q_gui_textarea_set_mask_char(ctx, id, '*');
    q_gui_set_focus(ctx, id);
    Q_GUI_WIDGET* w = q_gui_get_widget(ctx, id);
    for (int steps = 0; in.more() && steps < 512; steps++) {
        const uint8_t op = in.byte();
        switch (op % 6) {
        case 0: // a typed character, any code point
            send(ctx, ALLEGRO_EVENT_KEY_CHAR, 0, static_cast<int>(in.word() % 0x110100), 0, false);
            break;
        case 1: { // an editing or movement key, with modifiers
            const int key = KEYS[in.byte() % std::size(KEYS)];
            const int mods = MODS[(op / 6) % std::size(MODS)];
            send(ctx, ALLEGRO_EVENT_KEY_DOWN, key, 0, mods, false);
            send(ctx, ALLEGRO_EVENT_KEY_CHAR, key, key == ALLEGRO_KEY_ENTER ? 13 : 0, mods,
                 op & 0x80);
            break;
        }
        case 2: // a selection set by the caller, anywhere
            q_gui_textarea_set_selection(ctx, id, static_cast<int8_t>(in.byte()), in.byte());
            break;
        case 3: { // pasted bytes of any kind
            const size_t n = std::min<size_t>(in.byte(), in.size - in.pos);
            const std::string text(reinterpret_cast<const char*>(in.data + in.pos), n);
            in.pos += n;
            _textarea_paste_text(w, text.c_str());
            break;
        }
        case 4: { // press, drag and release anywhere around the field
            const int x = in.byte() + 0, y = in.byte() % 160;
            pointer(ctx, ALLEGRO_EVENT_MOUSE_AXES, x, y);
            pointer(ctx, ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, x, y);
            pointer(ctx, ALLEGRO_EVENT_MOUSE_AXES, in.byte(), in.byte() % 160);
            pointer(ctx, ALLEGRO_EVENT_MOUSE_BUTTON_UP, x, y);
            q_gui_set_focus(ctx, id);
            break;
        }
        default: { // text set by the caller
            const size_t n = std::min<size_t>(in.byte() % 80, in.size - in.pos);
            const std::string text(reinterpret_cast<const char*>(in.data + in.pos), n);
            in.pos += n;
            q_gui_textarea_set_text(ctx, id, text.c_str());
            break;
        }
        }
        check(w);
    }
    q_gui_destroy_ctx(&ctx);
    return 0;
}

// A toolkit context on a 1280 x 800 display with the build's interface font, and builders for
// the events the toolkit receives.
#pragma once

#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_ttf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "q/q_gui.h"

struct GuiTest : testing::Test {
    ALLEGRO_FONT* font = nullptr;
    Q_GUI_CTX* ctx = nullptr;

    void SetUp() override {
        font = al_load_ttf_font("assets/fonts/DejaVuSans.ttf", 14, 0);
        ASSERT_NE(font, nullptr) << "run from the build folder, where assets/ is";
        ctx = q_gui_new_ctx(font);
        ASSERT_NE(ctx, nullptr);
        q_gui_set_display_size(ctx, 1280, 800);
    }
    void TearDown() override {
        if (ctx) q_gui_destroy_ctx(&ctx);
        if (font) al_destroy_font(font);
    }

    // A window without title bar, so widget positions are window position + widget position.
    int plain_window(float x, float y, float w, float h, const char* title = "w") {
        const int id = q_gui_add_window(ctx, title, x, y, w, h);
        q_gui_window_set_flags(ctx, id, Q_GUI_WINDOW_NO_TITLEBAR | Q_GUI_WINDOW_FIXED_POSITION);
        return id;
    }

    int send(ALLEGRO_EVENT ev) { return q_gui_process_event(ctx, &ev); }
    int move(int x, int y, int dz = 0) {
        ALLEGRO_EVENT ev{};
        ev.type = ALLEGRO_EVENT_MOUSE_AXES;
        ev.mouse.x = x;
        ev.mouse.y = y;
        ev.mouse.dz = dz;
        return send(ev);
    }
    int button(bool down, int x, int y) {
        ALLEGRO_EVENT ev{};
        ev.type = down ? ALLEGRO_EVENT_MOUSE_BUTTON_DOWN : ALLEGRO_EVENT_MOUSE_BUTTON_UP;
        ev.mouse.x = x;
        ev.mouse.y = y;
        ev.mouse.button = 1;
        return send(ev);
    }
    int click(int x, int y) {
        move(x, y);
        const int down = button(true, x, y);
        return down | button(false, x, y);
    }
    int key_down(int keycode, int modifiers = 0) {
        ALLEGRO_EVENT ev{};
        ev.type = ALLEGRO_EVENT_KEY_DOWN;
        ev.keyboard.keycode = keycode;
        ev.keyboard.modifiers = static_cast<unsigned>(modifiers);
        return send(ev);
    }
    // A key char event as a keyboard sends it: the key code, the character and modifiers.
    int key_char(int keycode, int unichar = 0, int modifiers = 0) {
        ALLEGRO_EVENT ev{};
        ev.type = ALLEGRO_EVENT_KEY_CHAR;
        ev.keyboard.keycode = keycode;
        ev.keyboard.unichar = unichar;
        ev.keyboard.modifiers = static_cast<unsigned>(modifiers);
        return send(ev);
    }
    // Types UTF-8 text character by character.
    void type(const char* utf8) {
        ALLEGRO_USTR_INFO info;
        const ALLEGRO_USTR* us = al_ref_cstr(&info, utf8);
        int pos = 0;
        for (int32_t c = al_ustr_get_next(us, &pos); c >= 0; c = al_ustr_get_next(us, &pos))
            key_char(0, c);
    }
};

// Counts callback calls and keeps the last values.
struct Calls {
    int count = 0;
    int id = -1;
    double value = 0.0;
    std::string text;
};

inline void count_button(int id, void* user) {
    Calls* c = static_cast<Calls*>(user);
    c->count++;
    c->id = id;
}
inline void count_slider(int id, double value, void* user) {
    Calls* c = static_cast<Calls*>(user);
    c->count++;
    c->id = id;
    c->value = value;
}
inline void count_index(int id, int index, void* user) {
    Calls* c = static_cast<Calls*>(user);
    c->count++;
    c->id = id;
    c->value = index;
}
inline void count_text(int id, const char* text, void* user) {
    Calls* c = static_cast<Calls*>(user);
    c->count++;
    c->id = id;
    c->text = text;
}

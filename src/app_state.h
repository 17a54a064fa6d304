// The two application states (splash, canvas) and switching between them.
#pragma once

#include <allegro5/allegro.h>

struct TAVOLIX_APP;

enum {
    APP_STATE_SPLASH = 0,
    APP_STATE_CANVAS = 1,
};

struct APP_STATE {
    const char* name;
    void (*enter)(TAVOLIX_APP* app);
    void (*handle_event)(TAVOLIX_APP* app, const ALLEGRO_EVENT* event);
    void (*update)(TAVOLIX_APP* app, double seconds);
    void (*draw)(TAVOLIX_APP* app);
    void (*leave)(TAVOLIX_APP* app);
};

const APP_STATE* app_state_get(int id);
int app_state_switch(TAVOLIX_APP* app, int next);

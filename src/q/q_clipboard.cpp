#include "q/q_clipboard.h"

#include "q/q_common.h"

#include <allegro5/allegro.h>

#include <atomic>
#include <mutex>

namespace {

std::atomic<bool> clipboard_ready{false};
std::mutex clipboard_mutex;

void ensure_ready() {
    if (!clipboard_ready.load()) q_clipboard_init();
}

} // namespace

int q_clipboard_init() {
    clipboard_ready = true;
    q_log(6, "q_clipboard: display clipboard backend ready");
    return 0;
}

int q_clipboard_available() {
    ensure_ready();
    return clipboard_ready ? 1 : 0;
}

void q_clipboard_destroy() { clipboard_ready = false; }

// The system clipboard belongs to a window: without a current display there is nothing to
// talk to, which is a failure rather than a silent no-op.
int q_clipboard_set(int selection, const char* text) {
    ensure_ready();
    if (selection == 1) return 0;
    if (selection != 0) return -1;
    std::lock_guard<std::mutex> lock(clipboard_mutex);
    ALLEGRO_DISPLAY* display = al_is_system_installed() ? al_get_current_display() : NULL;
    if (!display) {
        q_log(3, "q_clipboard: failed to set the display clipboard");
        return -1;
    }
    if (!al_set_clipboard_text(display, text ? text : "")) {
        q_log(3, "q_clipboard: failed to set the display clipboard");
        return -1;
    }
    return 0;
}

char* q_clipboard_get(int selection) {
    ensure_ready();
    if (selection != 0) return NULL;
    std::lock_guard<std::mutex> lock(clipboard_mutex);
    ALLEGRO_DISPLAY* display = al_is_system_installed() ? al_get_current_display() : NULL;
    if (!display || !al_clipboard_has_text(display)) return NULL;
    char* text = al_get_clipboard_text(display);
    if (!text) return NULL;
    // Hand the caller memory it can release with free(), whatever allocator the display used.
    char* copy = strdup(text);
    al_free(text);
    return copy;
}

// Everything that depends on the machine the program runs on. The rest of the program calls
// only these operations, so another implementation of the same set can be linked instead.
#pragma once

#include <allegro5/allegro.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

constexpr size_t PLATFORM_PATH_MAX = 1024;
// A listed document name fits a row of this many bytes with its terminator; longer names are
// left out rather than cut, so a row never names a different file than it shows.
constexpr size_t PLATFORM_DOC_NAME_ROW = 72;

int platform_init();
int platform_display_flags();
void platform_apply_display_options();
// Returns once the window system has taken in every frame flipped so far, so that another
// program reading the window (a screenshot) sees the last one: a round trip to the X server.
void platform_display_sync();
float platform_display_density();
int platform_display_close_quits();
int platform_gui_panels_resizable();
int platform_uses_touch();
int platform_register_event_sources(ALLEGRO_EVENT_QUEUE* queue);
// Waits for the next event; returns 0 now and then without one, so that the caller also
// notices what arrives outside the queue (platform_quit_signal).
int platform_wait_event(ALLEGRO_EVENT_QUEUE* queue, ALLEGRO_EVENT* event);
void platform_on_halt();
void platform_on_resume(ALLEGRO_EVENT_QUEUE* queue);

int platform_asset_path(const char* resource, char* out, size_t size);
int platform_save_path(const char* filename, char* out, size_t size);
// Newest first (by modification time); see PLATFORM_DOC_NAME_ROW.
int platform_list_documents(char* out, size_t size);
int platform_saves_ready();
void platform_save_sync();
// Large pages for large buffers that are about to be filled, and for nothing else: the first
// touch of a large page costs one fault where small pages cost 512. Asking for them for the
// whole program would make every allocation wait while the system gathers free memory.
// A zero-filled block of `bytes` straight from the system, aligned to and backed by large
// pages where the system has them; NULL when there is no memory. Freed with
// platform_large_free and the same size.
void* platform_large_alloc(size_t bytes);
void platform_large_free(void* block, size_t bytes);
// Lowers the calling thread, and no other, to a low priority (PLATFORM_BACKGROUND_NICE), so
// that a background writer gives way to the thread that draws the frames. Not the idle class:
// a thread there gets no time at all while other programs keep the cores busy (a build, a
// render), so a drawing would go unsaved for as long as they run. 1 when lowered.
constexpr int PLATFORM_BACKGROUND_NICE = 10;
int platform_lower_thread_priority();
// The process's resident memory in bytes (what it holds in physical memory now); 0 when the
// system does not tell.
uint64_t platform_resident_bytes();
// A value that changes whenever the file at `path` is replaced, rewritten or removed (taken
// from its identity, size and modification time); 0 when there is no such file.
uint64_t platform_file_stamp(const char* path);

// Creates the save folder again when it went missing (a retry after a failed write). 1 when
// it exists.
int platform_ensure_save_dir();

// ---- Files (platform_files.cpp) ----
// What is at a path: nothing, a regular file, a folder, or anything else (FIFO, device,
// socket, a path that cannot be looked at).
enum { PLATFORM_FILE_MISSING = 0, PLATFORM_FILE_REGULAR = 1, PLATFORM_FILE_FOLDER = 2,
       PLATFORM_FILE_OTHER = 3 };
int platform_file_kind(const char* path);
// Opens a file for reading only when it is a regular file, without ever waiting on a FIFO or
// a device; anything else is refused with a log line. NULL when missing or refused; `size`
// (may be NULL) gets the file's size.
FILE* platform_open_regular(const char* path, size_t* size);
// Reads at most `max_bytes` of a regular file: 1 read, 0 missing, -1 refused or failed.
int platform_read_file(const char* path, size_t max_bytes, std::string* out);

// Replaces the file at `path` whole or not at all: the content goes to a new temporary file of
// a unique name in the same folder (created exclusively, never through a symbolic link), is
// synced, then renamed over the target. Open, write any number of times, then commit or
// abandon; after a failed write every later call fails too, so a writer may check only the
// commit. No global state: any thread may write.
struct PLATFORM_FILE_WRITER {
    int fd;                         // -1 when not open
    bool failed;                    // a step failed: commit removes the temporary file
    int error;                      // errno of the first failure
    char tmp[PLATFORM_PATH_MAX + 16]; // the temporary file
    const char* path;               // not owned; must outlive the writer
};
int platform_file_open(PLATFORM_FILE_WRITER* out, const char* path);
int platform_file_write(PLATFORM_FILE_WRITER* out, const void* bytes, size_t count);
// 1 when the whole content is at `path`; 0 (and the previous file untouched) otherwise.
int platform_file_commit(PLATFORM_FILE_WRITER* out);
void platform_file_abandon(PLATFORM_FILE_WRITER* out);
// The whole content at once; `error` (may be NULL) gets the errno of a failure, 0 on success.
int platform_write_file(const char* path, const void* bytes, size_t size, int* error);
// Removes the temporary files of these paths (all in one folder) at least this many seconds
// old, left by a run that ended in the middle of a write (and the one fixed "<path>.tmp"
// earlier versions wrote through).
void platform_remove_stale_temps(const char* const* paths, size_t count, double min_age_seconds);
// Moves a file to a name that must not exist yet; never replaces anything. 1 when moved.
int platform_move_new(const char* from, const char* to);
// Keeps a file that could not be used as "<path>.bad", or "<path>.bad-2", "-3"... when that is
// taken: moved, or copied when `copy` is set. Never replaces an earlier copy. 1 when kept,
// with its path in `kept`.
int platform_keep_aside(const char* path, int copy, char* kept, size_t size);

// An exclusive lock on a file (created when missing), held until platform_unlock_file or the
// end of the process, however it ends. A handle >= 0, or one of these.
enum { PLATFORM_LOCK_HELD = -1, PLATFORM_LOCK_FAILED = -2 };
int platform_lock_file(const char* path);
void platform_unlock_file(int lock);

// Logout, shutdown, kill and Ctrl+C (SIGTERM, SIGHUP, SIGINT) no longer end the program at
// once: they are remembered, and the main loop quits as the user would. A second one ends the
// program the usual way.
void platform_watch_quit_signals();
// The signal that asked the program to quit, 0 while none did.
int platform_quit_signal();

void platform_show_keyboard();
void platform_hide_keyboard();
int platform_choose_file(int save, const char* initial, const char* patterns, char* out,
                         size_t size);
int platform_web_request_load();
void platform_offer_download(const char* path);
// Starts the desktop's viewer for `path` and returns at once: 1 when it was started.
int platform_reveal_export(const char* path);
int platform_publish_last_error(char* out, size_t size);
int platform_publish_document(const char* path, const char* name, const char* mime);
int platform_import_document(const char* path);
int platform_request_open();
int platform_poll_import(char* out, size_t size);

// Pen tablets. Where the window system reports pens with their pressure (XInput 2 on X11),
// the platform reads them beside the ordinary mouse events, which still drive every tool: the
// canvas matches each pointer event with the pen sample of the same moment and place to learn
// its pressure and whether the eraser end is in use. Without a pen nothing is ever reported.
struct PEN_SAMPLE {
    float x, y;     // display pixels, like mouse events
    float pressure; // 0..1, normalised from the device's own range
    bool eraser;    // the pen's eraser end, or an eraser device
    bool gone;      // the device left (unplugged, disabled, out of reach): no position
    int device;     // the window system's device id
    double time;    // seconds on the clock of al_get_time, like event timestamps
};
constexpr int PEN_POLL_MAX = 64;

// Starts reading pens for the display's window. 1 when pens can be read (even if none is
// plugged in now), 0 when the window system offers no way to (logged once).
int platform_pen_start(ALLEGRO_DISPLAY* display);
// Samples that arrived since the last call, oldest first; at most `max`. Never blocks.
int platform_pen_poll(PEN_SAMPLE* out, int max);
// Every event platform_wait_event hands out passes here first: a recorded pen being replayed
// reports its samples when the pointer reaches them, as a real pen would.
void platform_pen_pointer(const ALLEGRO_EVENT* event);
void platform_pen_stop();

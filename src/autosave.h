// Keeping the open drawing safe in the session document without being asked.
//
// Shortly after the user stops painting, the committed pixels are snapshot on the main thread
// (only tiles that changed since the last snapshot are encoded, a few milliseconds per tick)
// and written to the session file by a worker thread, one write at a time. The worker runs at
// a low scheduling priority (one that still gets a share of a busy machine) and steps aside
// between pieces of the file, so that frames painted during a write are not held up by it.
// The shell calls autosave_tick on every timer tick and autosave_flush when the program ends
// or drawing halts; the flush waits for a write in progress and writes again only when the
// file does not already hold the document.
//
// Shared with the worker: only the job it was handed (the snapshot, which it alone uses, and
// its result, read once `finished` is set). Everything else stays on the main thread.
#pragma once

#include <cstdint>

#include "canvas/document.h"
#include "canvas/snapshot.h"

// Idle time before a change is written, the longest a change waits while input goes on
// between strokes, the pause after a failed write, and the encoding time allowed per tick.
constexpr double AUTOSAVE_IDLE = 3.0;
constexpr double AUTOSAVE_MAX_WAIT = 60.0;
constexpr double AUTOSAVE_RETRY = 15.0;
constexpr double AUTOSAVE_SLICE = 0.004;

struct AUTOSAVE_JOB;

struct AUTOSAVE {
    SNAPSHOT_CACHE* cache;      // encoded tiles of the open document, owned
    AUTOSAVE_JOB* job;          // the write in progress on the worker thread, or NULL
    bool on_disk;               // the file holds the document as of the two values below
    uint64_t written_changes;   // the document's change counter in the file
    uint64_t written_signature; // snapshot_signature in the file
    uint64_t written_file;      // platform_file_stamp of the file right after it was written
    bool clean;                 // the document as of the two values below needs no write
    uint64_t clean_changes;
    uint64_t clean_signature;
    bool warm;                  // every tile was in the cache at warm_changes
    uint64_t warm_changes;
    double last_input;          // time of the last input event
    double dirty_since;         // when an unwritten change was first seen; 0 when none
    double retry_at;            // no write starts before this time (after a failure)
    double next_check;          // when to look at the file on disk again
    int failures;               // writes that failed in a row (background or exit); 0 after one
                                // that succeeded
    int last_error;             // errno of the last failed write
};

void autosave_init(AUTOSAVE* autosave);
// Waits for a write in progress and frees the cache.
void autosave_shutdown(AUTOSAVE* autosave);
void autosave_note_input(AUTOSAVE* autosave, double now);
// The idle rule: a change waits for AUTOSAVE_IDLE seconds without input, and never more than
// AUTOSAVE_MAX_WAIT seconds once it was first seen.
bool autosave_due(const AUTOSAVE* autosave, double now);
// The periodic duty. `busy` says that the canvas has something in progress (a stroke, a drag,
// a gesture, a floating selection); nothing is snapshot then.
void autosave_tick(AUTOSAVE* autosave, DOCUMENT* doc, const char* path, bool busy, double now);
// Waits for a write in progress, then writes the document to `path` on this thread unless
// the file already holds it. 1 when written, 0 when it was current, -1 when the write failed.
int autosave_flush(AUTOSAVE* autosave, DOCUMENT* doc, const char* path);
// The document as it is now has nothing worth a background write (the blank page of a first
// start); a change ends that. The exit still writes it.
void autosave_set_clean(AUTOSAVE* autosave, const DOCUMENT* doc);
// The last write failed and none succeeded since: the drawing is not safely on disk.
bool autosave_failing(const AUTOSAVE* autosave);
// The document is still the page autosave_set_clean was told about, untouched.
bool autosave_untouched(const AUTOSAVE* autosave, const DOCUMENT* doc);
// The file at `path` was just read into `doc`: it holds the document.
void autosave_adopt(AUTOSAVE* autosave, const DOCUMENT* doc, const char* path);

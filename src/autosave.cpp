#include "autosave.h"

#include <allegro5/allegro.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "platform/platform.h"
#include "q/q_common.h"

// One background write. The worker uses `snapshot` and owns the results until it sets
// `finished`; the main thread reads the results only after that, then joins the worker and
// frees the job and the snapshot. The worker allocates and frees nothing while it writes: at
// a low priority it could be kept off the cores while holding the allocator's lock that the
// main thread needs.
struct AUTOSAVE_JOB {
    DOCUMENT_SNAPSHOT* snapshot = nullptr;
    std::string path;
    uint64_t changes = 0, signature = 0; // what the file holds once the write succeeded
    int result = 0;
    int error = 0;     // errno of a failed write
    bool retry = false; // the last write failed: the folder may have to be made again
    bool lowered = false; // the worker ran at a low priority
    uint64_t file = 0;
    double seconds = 0.0;
    std::atomic<bool> finished{false};
    std::thread thread;
};

namespace {

void run_job(AUTOSAVE_JOB* job) {
    // The user paints on while the file is written: the frames come first, the write takes
    // what time they leave.
    job->lowered = platform_lower_thread_priority() == 1;
    const auto start = std::chrono::steady_clock::now();
    if (job->retry) platform_ensure_save_dir();
    job->result = snapshot_write(job->snapshot, job->path.c_str(), &job->error);
    if (job->result) {
        platform_save_sync();
        job->file = platform_file_stamp(job->path.c_str());
    }
    job->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    job->finished.store(true, std::memory_order_release);
}

bool holds(const AUTOSAVE* autosave, const DOCUMENT* doc) {
    return autosave->on_disk && autosave->written_changes == doc->changes &&
           autosave->written_signature == snapshot_signature(doc);
}

void record_written(AUTOSAVE* autosave, uint64_t changes, uint64_t signature, uint64_t file) {
    autosave->failures = 0;
    autosave->on_disk = true;
    autosave->written_changes = changes;
    autosave->written_signature = signature;
    autosave->written_file = file;
}

// Takes in a finished write; with `wait`, waits for one in progress first.
void collect(AUTOSAVE* autosave, bool wait, double now) {
    AUTOSAVE_JOB* job = autosave->job;
    if (!job || (!wait && !job->finished.load(std::memory_order_acquire))) return;
    job->thread.join();
    if (job->result) {
        record_written(autosave, job->changes, job->signature, job->file);
        q_log(6, "session persisted to %s in the background (%.0f ms%s)", job->path.c_str(),
              job->seconds * 1000.0, job->lowered ? " at low priority" : "");
    } else {
        // The previous file is untouched; painting goes on and a later tick tries again.
        autosave->failures++;
        autosave->last_error = job->error;
        autosave->retry_at = now + AUTOSAVE_RETRY;
        q_log(3, "autosave: could not write %s, trying again in %.0f s", job->path.c_str(),
              AUTOSAVE_RETRY);
    }
    snapshot_free(&job->snapshot);
    delete job;
    autosave->job = nullptr;
}

// Encodes changed tiles for one slice of a tick; true once every tile is in the cache.
bool warm_cache(AUTOSAVE* autosave, DOCUMENT* doc, double budget) {
    if (!autosave->cache) autosave->cache = snapshot_cache_new();
    if (!autosave->cache) return false;
    // Tiles change only together with the change counter: nothing to look at until it moves.
    if (autosave->warm && autosave->warm_changes == doc->changes) return true;
    if (!snapshot_cache_update(autosave->cache, doc, budget)) return false;
    autosave->warm = true;
    autosave->warm_changes = doc->changes;
    return true;
}

void start_write(AUTOSAVE* autosave, DOCUMENT* doc, const char* path, double now) {
    DOCUMENT_SNAPSHOT* snapshot = snapshot_take(autosave->cache, doc);
    AUTOSAVE_JOB* job = snapshot ? new (std::nothrow) AUTOSAVE_JOB() : nullptr;
    try {
        if (job) {
            job->path = path;
            job->changes = snapshot->changes;
            job->signature = snapshot->signature;
            job->snapshot = snapshot;
            job->retry = autosave->failures > 0;
            job->thread = std::thread(run_job, job);
            autosave->job = job;
            autosave->dirty_since = 0.0;
            q_log(7, "autosave: writing %s in the background", path);
            return;
        }
    } catch (const std::exception&) { // no memory for the path, or no thread
    }
    if (job) job->snapshot = nullptr; // not handed over: freed below
    delete job;
    autosave->failures++;
    autosave->last_error = ENOMEM;
    if (snapshot) snapshot_free(&snapshot);
    else autosave->warm = false; // look at every tile again next time
    autosave->retry_at = now + AUTOSAVE_RETRY;
    q_log(3, "autosave: could not start writing %s, trying again in %.0f s", path,
          AUTOSAVE_RETRY);
}

} // namespace

void autosave_init(AUTOSAVE* autosave) {
    q_assert(autosave, return);
    memset(static_cast<void*>(autosave), 0, sizeof *autosave);
}

void autosave_shutdown(AUTOSAVE* autosave) {
    q_assert(autosave, return);
    collect(autosave, true, 0.0);
    if (autosave->cache) snapshot_cache_free(&autosave->cache);
    autosave->warm = false;
}

void autosave_note_input(AUTOSAVE* autosave, double now) {
    q_assert(autosave, return);
    autosave->last_input = now;
}

bool autosave_due(const AUTOSAVE* autosave, double now) {
    q_assert(autosave, return false);
    return now - autosave->last_input >= AUTOSAVE_IDLE ||
           (autosave->dirty_since > 0.0 && now - autosave->dirty_since >= AUTOSAVE_MAX_WAIT);
}

void autosave_tick(AUTOSAVE* autosave, DOCUMENT* doc, const char* path, bool busy, double now) {
    q_assert(autosave, return);
    collect(autosave, false, now);
    if (!doc || !path) return;
    if (autosave_untouched(autosave, doc)) {
        autosave->dirty_since = 0.0;
        return;
    }
    autosave->clean = false;
    if (holds(autosave, doc)) {
        autosave->dirty_since = 0.0;
        // A file replaced or removed behind the program's back no longer holds the drawing.
        if (now >= autosave->next_check && !autosave->job) {
            autosave->next_check = now + 5.0;
            if (platform_file_stamp(path) != autosave->written_file) {
                q_log(4, "session file %s changed on disk; it will be written again", path);
                autosave->on_disk = false;
            }
        }
        // An idle moment readies the cache, so that the next write and the exit are quick.
        if (!busy && autosave->on_disk) warm_cache(autosave, doc, AUTOSAVE_SLICE);
        if (autosave->on_disk) return;
    }
    if (autosave->dirty_since <= 0.0) autosave->dirty_since = now;
    if (busy || autosave->job) return;
    if (!warm_cache(autosave, doc, AUTOSAVE_SLICE)) return;
    if (!autosave_due(autosave, now) || now < autosave->retry_at) return;
    start_write(autosave, doc, path, now);
}

int autosave_flush(AUTOSAVE* autosave, DOCUMENT* doc, const char* path) {
    q_assert(autosave, return -1);
    q_assert(doc, return -1);
    q_assert(path, return -1);
    collect(autosave, true, al_get_time());
    if (holds(autosave, doc) && platform_file_stamp(path) == autosave->written_file) {
        q_log(6, "session in %s is current, not written again", path);
        return 0;
    }
    // Every tile is looked at, whatever the cache believes: this write must not fail for
    // want of one.
    autosave->warm = false;
    DOCUMENT_SNAPSHOT* snapshot = NULL;
    int error = ENOMEM;
    if (autosave->failures > 0) platform_ensure_save_dir();
    const bool ok = warm_cache(autosave, doc, 0.0) &&
                    (snapshot = snapshot_take(autosave->cache, doc)) != NULL &&
                    snapshot_write(snapshot, path, &error);
    if (ok) {
        platform_save_sync();
        record_written(autosave, snapshot->changes, snapshot->signature,
                       platform_file_stamp(path));
    } else {
        autosave->failures++;
        autosave->last_error = error;
    }
    if (snapshot) snapshot_free(&snapshot);
    return ok ? 1 : -1;
}

void autosave_set_clean(AUTOSAVE* autosave, const DOCUMENT* doc) {
    q_assert(autosave, return);
    q_assert(doc, return);
    autosave->clean = true;
    autosave->clean_changes = doc->changes;
    autosave->clean_signature = snapshot_signature(doc);
}

bool autosave_untouched(const AUTOSAVE* autosave, const DOCUMENT* doc) {
    q_assert(autosave, return false);
    q_assert(doc, return false);
    return autosave->clean && autosave->clean_changes == doc->changes &&
           autosave->clean_signature == snapshot_signature(doc);
}

bool autosave_failing(const AUTOSAVE* autosave) {
    q_assert(autosave, return false);
    return autosave->failures > 0;
}

void autosave_adopt(AUTOSAVE* autosave, const DOCUMENT* doc, const char* path) {
    q_assert(autosave, return);
    q_assert(doc, return);
    q_assert(path, return);
    record_written(autosave, doc->changes, snapshot_signature(doc), platform_file_stamp(path));
}

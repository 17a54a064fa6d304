// ============================================================================================
// Application shell: the session document, what the user is told about it, and quitting
//   [SECTION] Session file
//   [SECTION] Start-up: second windows and left sessions
//   [SECTION] Autosave and the user
//   [SECTION] Changes not saved under a name
//   [SECTION] Quitting
//   [SECTION] Memory report
// ============================================================================================
#include <cstdio>
#include <cstring>

#include "app_state.h"
#include "canvas/snapshot.h"
#include "i18n.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "tavolix_app.h"

namespace {

// The claimed slot's file; the first slot's when none was claimed (tests, a failed claim).
bool session_path(const TAVOLIX_APP* app, char* out, size_t size) {
    if (app->session.path[0]) return snprintf(out, size, "%s", app->session.path) < static_cast<int>(size);
    return platform_save_path("session.tvl", out, size) == 1;
}

const char* last_component(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Session file
// --------------------------------------------------------------------------------------------

int tavolix_app_session_persist(TAVOLIX_APP* app) {
    q_assert(app, return -1);
    char path[PLATFORM_PATH_MAX];
    if (!app->doc || platform_saves_ready() != 1 || !session_path(app, path, sizeof path))
        return 0;
    // A second window that never got a drawing leaves nothing behind to be kept for it.
    if (app->session.slot >= 2 && autosave_untouched(&app->autosave, app->doc)) return 0;
    // Waits for a background write, then writes only when the file does not hold the
    // document yet. The file is written under a temporary name and renamed into place once
    // the whole picture was written, so a crash keeps the previous session.
    const int written = autosave_flush(&app->autosave, app->doc, path);
    if (written == 1) q_log(6, "session persisted to %s", path);
    else if (written < 0) q_log(3, "session persist: could not write %s", path);
    return written;
}

int tavolix_app_session_restore(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    char path[PLATFORM_PATH_MAX];
    if (platform_saves_ready() != 1 || !session_path(app, path, sizeof path)) return 0;
    const int kind = platform_file_kind(path);
    if (kind == PLATFORM_FILE_MISSING) return 0;
    if (kind != PLATFORM_FILE_REGULAR) {
        // A FIFO, a device or anything else in its place is never opened; the first write
        // replaces it.
        q_log(3, "session file %s is not a regular file, not read", path);
        return 0;
    }
    int error = DOCUMENT_LOAD_OK;
    DOCUMENT* doc = document_load_checked(path, &error);
    if (doc) {
        tavolix_app_install_document(app, doc);
        q_log(6, "loaded document %s", path);
        tavolix_app_log_memory(app, "after load");
        autosave_adopt(&app->autosave, app->doc, path);
        // No name holds what the session brought back.
        app->named_valid = false;
        return 1;
    }
    // The next exit would overwrite it with a blank page: it goes aside first. A broken file
    // is kept as ".bad"; one this machine could not open now (too large, no memory) stays a
    // document the open list offers, for a later try.
    char kept[PLATFORM_PATH_MAX + 16];
    if (error == DOCUMENT_LOAD_MALFORMED) {
        if (_app_keep_aside(path, "session restore", "could not be loaded", false, kept, sizeof kept))
            tavolix_gui_notify_tr(app, "Damaged drawing kept as %s", last_component(kept));
    } else if (session_keep_as_document(path, kept, sizeof kept)) {
        tavolix_gui_notify_tr(app, "Could not open, kept as: %s", kept);
    }
    return 0;
}

int tavolix_app_keep_session(TAVOLIX_APP* app, char* name, size_t size) {
    q_assert(app, return 0);
    q_assert(name, return 0);
    char path[PLATFORM_PATH_MAX];
    if (size > 0) name[0] = 0;
    if (!app->doc || !session_path(app, path, sizeof path)) return 0;
    if (autosave_flush(&app->autosave, app->doc, path) < 0) return 0;
    if (!session_keep_as_document(path, name, size)) return 0;
    // The file is gone from its place: the next write makes it anew.
    app->autosave.on_disk = false;
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Start-up: second windows and left sessions
// --------------------------------------------------------------------------------------------

void _app_session_greet(TAVOLIX_APP* app) {
    q_assert(app, return);
    char name[PLATFORM_PATH_MAX];
    const int kept = session_keep_orphans(&app->session, name, sizeof name);
    if (kept > 0) tavolix_gui_notify_tr(app, "Kept in the Load list: %s", name);
    if (app->session.others > 0)
        tavolix_gui_notify_tr(app, "Second window: saved in %s", last_component(app->session.path));
}

// --------------------------------------------------------------------------------------------
// [SECTION] Autosave and the user
// --------------------------------------------------------------------------------------------

const char* _app_write_error_text(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return tavolix_tr("the disk is full");
    case EACCES:
    case EPERM:
    case EROFS: return tavolix_tr("the folder is read-only");
    case ENOENT:
    case ENOTDIR: return tavolix_tr("the folder is missing");
    default: return tavolix_tr("a write error");
    }
}

void _app_autosave_duty(TAVOLIX_APP* app) {
    q_assert(app, return);
    char path[PLATFORM_PATH_MAX];
    if (platform_saves_ready() != 1 || !session_path(app, path, sizeof path)) return;
    autosave_tick(&app->autosave, app->doc, path, tavolix_app_autosave_busy(app), al_get_time());
    // Told once when the drawing stops being safely on disk, and once when it is again; the
    // marker on the canvas stays in between.
    const bool failing = autosave_failing(&app->autosave);
    if (failing == app->unsaved_shown) return;
    app->unsaved_shown = failing;
    app->gui.gui_cache_valid = false;
    app->redraw = true;
    if (failing) tavolix_gui_notify_tr(app, "Drawing not saved: %s", _app_write_error_text(app->autosave.last_error));
    else tavolix_gui_notify_tr(app, "Drawing saved again.");
}

// --------------------------------------------------------------------------------------------
// [SECTION] Changes not saved under a name
// --------------------------------------------------------------------------------------------

void tavolix_app_mark_named(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (!app->doc) return;
    app->named_valid = true;
    app->named_changes = app->doc->changes;
    app->named_signature = snapshot_signature(app->doc);
}

bool tavolix_app_has_unsaved(TAVOLIX_APP* app) {
    q_assert(app, return false);
    DOCUMENT* doc = app->doc;
    if (!doc) return false;
    if (app->named_valid && app->named_changes == doc->changes &&
        app->named_signature == snapshot_signature(doc))
        return false;
    // An empty page has nothing worth a question, whatever happened to it.
    if (document_layer_count(doc) == 1 && doc->active_layer && doc->active_layer->visible) {
        int x0, y0, x1, y1;
        if (!document_content_bbox(doc, &x0, &y0, &x1, &y1)) return false;
    }
    return true;
}

int tavolix_app_quick_open(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    char path[PLATFORM_PATH_MAX];
    if (platform_saves_ready() != 1 || !platform_save_path("sketch.tvl", path, sizeof path)) return 0;
    return tavolix_app_load_document(app, path);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Quitting
// --------------------------------------------------------------------------------------------

void tavolix_app_request_quit(TAVOLIX_APP* app) {
    q_assert(app, return);
    // What the canvas has in progress is part of the picture the user sees.
    tavolix_app_settle_canvas(app);
    if (tavolix_app_session_persist(app) >= 0 || !app->gui.ctx) {
        app->running = false;
        return;
    }
    // The drawing is not on disk: the user decides, on the canvas where the question shows.
    // The question tells of the failure; the marker stays with it, without a notice on top.
    if (app->state_id != APP_STATE_CANVAS) app_state_switch(app, APP_STATE_CANVAS);
    app->unsaved_shown = true;
    app->gui.gui_cache_valid = false;
    tavolix_gui_ask_quit_unsaved(app);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Memory report
// --------------------------------------------------------------------------------------------

void tavolix_app_log_memory(const TAVOLIX_APP* app, const char* when) {
    q_assert(app, return);
    q_assert(when, return);
    constexpr double MB = 1024.0 * 1024.0;
    DOCUMENT_MEMORY doc{};
    if (app->doc) document_memory(app->doc, &doc);
    size_t cached_tiles = 0;
    const size_t cached =
        app->autosave.cache ? snapshot_cache_bytes(app->autosave.cache, &cached_tiles) : 0;
    q_log(6,
          "memory %s: resident %.1f MB, committed copies %.1f MB of %zu layer%s (%zu tiles), "
          "undo tiles %.1f MB (%zu tiles), snapshot cache %.1f MB (%zu tiles)",
          when, static_cast<double>(platform_resident_bytes()) / MB,
          static_cast<double>(doc.committed_bytes) / MB, doc.committed_layers,
          doc.committed_layers == 1 ? "" : "s", doc.committed_tiles,
          static_cast<double>(doc.undo_tile_bytes) / MB, doc.undo_tiles,
          static_cast<double>(cached) / MB, cached_tiles);
}

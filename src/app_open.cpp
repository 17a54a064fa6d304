// ============================================================================================
// Application shell: documents and pictures from files
//   [SECTION] Reading and opening
//   [SECTION] The file named on the command line
//   [SECTION] Import as layer
// ============================================================================================
#include <cstdio>
#include <cstring>

#include "canvas/ora.h"
#include "canvas/picture.h"
#include "i18n.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "tavolix_app.h"

namespace {

const char* last_component(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Reading and opening
// --------------------------------------------------------------------------------------------

DOCUMENT* tavolix_app_read_file(TAVOLIX_APP* app, const char* path, int* error, PICTURE_INFO* info) {
    q_assert(app, return nullptr);
    q_assert(path, return nullptr);
    PICTURE_INFO own{};
    if (!info) info = &own;
    DOCUMENT* doc = document_open_file(path, tavolix_app_picture_side(app), error, info);
    if (doc && info->kind != PICTURE_NONE && (info->scaled_w != info->width || info->scaled_h != info->height))
        q_log(6, "picture %s scaled down from %dx%d to %dx%d", path, info->width, info->height,
              info->scaled_w, info->scaled_h);
    return doc;
}

int tavolix_app_notify_scaled(TAVOLIX_APP* app, const PICTURE_INFO* info) {
    q_assert(app, return 0);
    q_assert(info, return 0);
    // A layered file opened not quite as it was: the most telling change is shown.
    if (info->kind == PICTURE_ORA) {
        if (info->ora_notes & ORA_NOTE_MERGED)
            tavolix_gui_notify_tr(app, "%d layers past the limit merged into the top layer.",
                                  static_cast<int>(info->ora_merged));
        else if (info->ora_notes & ORA_NOTE_BLEND)
            tavolix_gui_notify_tr(app, "Unknown layer modes opened as Normal.");
        else if (info->ora_notes & ORA_NOTE_STACKS)
            tavolix_gui_notify_tr(app, "Layer groups opened as plain layers.");
        return info->ora_notes != 0;
    }
    if (info->kind == PICTURE_NONE || (info->scaled_w == info->width && info->scaled_h == info->height))
        return 0;
    // Never silently: the user learns the picture is not at its own size.
    tavolix_gui_notify_tr(app, "Picture scaled down from %dx%d to %dx%d.", info->width, info->height,
                          info->scaled_w, info->scaled_h);
    return 1;
}

int tavolix_app_open_file(TAVOLIX_APP* app, const char* path, int* error, PICTURE_INFO* info) {
    q_assert(app, return 0);
    q_assert(path, return 0);
    DOCUMENT* doc = tavolix_app_read_file(app, path, error, info);
    if (!doc) return 0; // the reader has logged why; the current drawing stays
    tavolix_app_install_document(app, doc);
    q_log(6, "loaded document %s", path);
    tavolix_app_log_memory(app, "after load");
    return 1;
}

void tavolix_app_notify_open_error(TAVOLIX_APP* app, int error, const char* path) {
    q_assert(app, return);
    q_assert(path, return);
    const char* name = last_component(path);
    switch (error) {
    case PICTURE_NOT_PICTURE: tavolix_gui_notify_tr(app, "Not a picture or document: %s", name); break;
    case PICTURE_TOO_LARGE: tavolix_gui_notify_tr(app, "Picture too large to open: %s", name); break;
    case PICTURE_UNDECODABLE: tavolix_gui_notify_tr(app, "Picture could not be read: %s", name); break;
    default: tavolix_gui_notify_tr(app, "Could not open: %s", name); break;
    }
}

// --------------------------------------------------------------------------------------------
// [SECTION] The file named on the command line
// --------------------------------------------------------------------------------------------

int tavolix_app_open_at_start(TAVOLIX_APP* app, const char* path) {
    q_assert(app, return 0);
    q_assert(path, return 0);
    // Read before anything happens to the session: a file that cannot be opened leaves the
    // restored drawing exactly where it was.
    int error = 0;
    PICTURE_INFO info{};
    DOCUMENT* doc = tavolix_app_read_file(app, path, &error, &info);
    if (!doc) {
        q_log(3, "could not open %s from the command line: %s", path, picture_error_text(error));
        tavolix_app_notify_open_error(app, error, path);
        return 0;
    }
    // The session's own drawing, unsaved under any name, becomes a document of the open list.
    char kept[PLATFORM_PATH_MAX] = "";
    if (tavolix_app_has_unsaved(app) && !tavolix_app_keep_session(app, kept, sizeof kept)) {
        q_log(3, "could not keep the session aside, %s not opened", path);
        tavolix_gui_notify_tr(app, "Could not open: %s", last_component(path));
        document_free(&doc);
        return 0;
    }
    tavolix_app_install_document(app, doc);
    q_log(6, "loaded document %s", path);
    tavolix_gui_opened_file(app, path, info.kind != PICTURE_NONE);
    // The kept drawing is what the user must not miss; a scaled picture shows for itself.
    if (kept[0]) {
        q_log(6, "session kept as %s before opening %s", kept, path);
        tavolix_gui_notify_tr(app, "Kept in the Load list: %s", kept);
    } else {
        tavolix_app_notify_scaled(app, &info);
    }
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Import as layer
// --------------------------------------------------------------------------------------------

int tavolix_app_import_picture(TAVOLIX_APP* app, const char* path) {
    q_assert(app, return 0);
    q_assert(path, return 0);
    DOCUMENT* doc = app->doc;
    if (!doc || app->stroke.active) return 0;
    tavolix_app_commit_float(app);
    tavolix_app_commit_form(app);
    if (document_layer_count(doc) >= DOCUMENT_MAX_LAYERS) {
        q_log(3, "no room for another layer to import %s", path);
        tavolix_gui_notify_tr(app, "Could not open: %s", path);
        return 0;
    }
    // Fitted into the canvas: a float larger than the page could not be seen whole.
    int error = PICTURE_OK;
    PICTURE_INFO info{};
    ALLEGRO_BITMAP* pixels = picture_load_fitted(path, doc->width, doc->height, &error, &info);
    if (!pixels) {
        q_log(3, "could not import %s: %s", path, picture_error_text(error));
        tavolix_app_notify_open_error(app, error, path);
        return 0;
    }
    const int w = al_get_bitmap_width(pixels), h = al_get_bitmap_height(pixels);
    LAYER* layer = document_add_layer(doc, nullptr);
    if (!layer) {
        al_destroy_bitmap(pixels);
        tavolix_gui_notify_tr(app, "Could not open: %s", path);
        return 0;
    }
    undo_record_layer_add(doc, layer, document_layer_count(doc) - 1);
    const int placed = selection_paste(&app->selection, doc, pixels, (doc->width - w) / 2, (doc->height - h) / 2);
    al_destroy_bitmap(pixels);
    if (placed == 1) {
        app->tool = TOOL_SELECT;
        q_log(6, "imported picture %s (%dx%d as %dx%d) as a floating selection", path, info.width,
              info.height, w, h);
        if (!tavolix_app_notify_scaled(app, &info))
            tavolix_gui_notify_tr(app, "Imported as a floating selection: %s", last_component(path));
    }
    tavolix_gui_sync_layers(app);
    tavolix_gui_sync(app);
    app->redraw = true;
    return placed == 1;
}

// ============================================================================================
// Command-line conversions
//   [SECTION] Opening the input
//   [SECTION] Export
//   [SECTION] Thumbnail
//   [SECTION] Entry
// ============================================================================================
#include "cli.h"

#include <allegro5/allegro.h>
#include <allegro5/allegro_image.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "canvas/compositor.h"
#include "canvas/document.h"
#include "canvas/ora.h"
#include "canvas/picture.h"
#include "platform/platform.h"
#include "q/q_common.h"

namespace {

// --------------------------------------------------------------------------------------------
// [SECTION] Opening the input
// --------------------------------------------------------------------------------------------

// `reduce_to`: a document file is read already scaled down to fit that square (see
// document_open_file).
DOCUMENT* open_input(const char* path, int reduce_to = 0) {
    int error = PICTURE_OK;
    DOCUMENT* doc = document_open_file(path, PICTURE_DOC_MAX_SIDE, &error, NULL, reduce_to);
    if (!doc) fprintf(stderr, "tavolix: cannot open %s: %s\n", path, picture_error_text(error));
    return doc;
}

// The PNG bytes of a bitmap, written whole or not at all.
int write_png(ALLEGRO_BITMAP* flat, const char* path) {
    size_t size = 0;
    // Our own encoder first, as the window's export does: it is several times faster.
    unsigned char* bytes = document_png_encode(flat, &size);
    if (!bytes) bytes = _bitmap_encode(flat, ".png", &size);
    if (!bytes) {
        fprintf(stderr, "tavolix: could not encode %s\n", path);
        return 0;
    }
    int error = 0;
    const int written = platform_write_file(path, bytes, size, &error);
    free(bytes);
    if (!written) fprintf(stderr, "tavolix: cannot write %s: %s\n", path, strerror(error));
    return written;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Export
// --------------------------------------------------------------------------------------------

// The document with its layers as an OpenRaster file, as the window's export writes it.
int export_ora(DOCUMENT* doc, const char* path) {
    ORA_RESULT result{};
    const int ok = ora_save(doc, path, &result);
    if (!ok) fprintf(stderr, "tavolix: cannot write %s: %s\n", path, result.message);
    return ok;
}

// The whole document with its template, as Ctrl+E exports it in the window.
int run_export(const CMDLINE* cmd) {
    DOCUMENT* doc = open_input(cmd->in);
    if (!doc) return 1;
    if (ora_path_has_extension(cmd->out)) {
        const int ok = export_ora(doc, cmd->out);
        document_free(&doc);
        return ok ? 0 : 1;
    }
    ALLEGRO_BITMAP* flat = compositor_flatten(doc);
    const int ok = flat && write_png(flat, cmd->out);
    if (!flat) fprintf(stderr, "tavolix: no memory to flatten %s\n", cmd->in);
    if (flat) al_destroy_bitmap(flat);
    document_free(&doc);
    if (ok) q_log(6, "exported composite to %s", cmd->out);
    return ok ? 0 : 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Thumbnail
// --------------------------------------------------------------------------------------------

// The document's layers scaled down one by one into a document of the thumbnail's size, then
// flattened there: the full-size composite is never made.
DOCUMENT* shrink_document(DOCUMENT* doc, int w, int h) {
    DOCUMENT* small = document_new(w, h);
    if (!small) return NULL;
    small->background = doc->background;
    for (LIST_NODE* node = doc->layers->start; node; node = node->next) {
        const auto* layer = static_cast<const LAYER*>(node->ptr);
        if (!layer || !layer->visible || !(layer->opacity > 0.0f)) continue;
        LAYER* copy = document_add_layer(small, "thumbnail");
        ALLEGRO_BITMAP* pixels = copy ? picture_scale_down_layer(layer, w, h) : NULL;
        if (!pixels) {
            document_free(&small);
            return NULL;
        }
        copy->opacity = layer->opacity;
        copy->blend = layer->blend;
        if (!layer_take_pixels(copy, pixels)) {
            document_free(&small);
            return NULL;
        }
    }
    return small;
}

int run_thumbnail(const CMDLINE* cmd) {
    // A document file comes already scaled down as it is read; anything else is scaled here.
    // Neither is ever drawn at full size.
    DOCUMENT* doc = open_input(cmd->in, cmd->size);
    if (!doc) return 1;
    int w = 0, h = 0;
    cli_thumbnail_size(doc->width, doc->height, cmd->size, &w, &h);
    DOCUMENT* small = doc;
    if (w != doc->width || h != doc->height) {
        small = shrink_document(doc, w, h);
        document_free(&doc);
    }
    ALLEGRO_BITMAP* flat = small ? compositor_flatten_region(small, 0, 0, w, h, false) : NULL;
    const int ok = flat && write_png(flat, cmd->out);
    if (!flat) fprintf(stderr, "tavolix: no memory for the thumbnail of %s\n", cmd->in);
    if (flat) al_destroy_bitmap(flat);
    document_free(&small);
    if (ok) q_log(6, "thumbnail %dx%d written to %s", w, h, cmd->out);
    return ok ? 0 : 1;
}

} // namespace

void cli_thumbnail_size(int width, int height, int size, int* out_w, int* out_h) {
    q_assert(out_w && out_h, return);
    picture_fit(width, height, size, size, out_w, out_h);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Entry
// --------------------------------------------------------------------------------------------

int cli_run(const CMDLINE* cmd) {
    q_assert(cmd, return 1);
    // Only what goes wrong is logged, unless asked for more: a file manager runs this often.
    set_log_level(cmd->verbose ? 7 : 3);
    if (!al_install_system(ALLEGRO_VERSION_INT, atexit) || !al_init_image_addon()) {
        fprintf(stderr, "tavolix: could not start the picture library\n");
        return 1;
    }
    int status = 1;
    if (cmd->mode == CMDLINE_EXPORT) status = run_export(cmd);
    else if (cmd->mode == CMDLINE_THUMBNAIL) status = run_thumbnail(cmd);
    al_shutdown_image_addon();
    al_uninstall_system();
    return status;
}

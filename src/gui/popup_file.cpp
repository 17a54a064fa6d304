// ============================================================================================
// Popups of the File section: new canvas, save name, open list, export
//   [SECTION] Shared steps
//   [SECTION] New canvas
//   [SECTION] Saving
//   [SECTION] Loading and the open list
//   [SECTION] Export
//   [SECTION] Builder
//
// Every outcome is reported in the notification popup. Names typed by the user go through the
// document-name rule before they become part of a path, so a file is only ever written inside
// the save folder or where the file chooser pointed.
// ============================================================================================
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "canvas/ora.h"
#include "canvas/picture.h"
#include "gui/gui_internal.h"
#include "i18n.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_gui.h"
#include "session.h"
#include "tavolix_app.h"

namespace {

TAVOLIX_APP* app_of(void* user) { return static_cast<TAVOLIX_APP*>(user); }

constexpr uint32_t POPUP_FLAGS = Q_GUI_WINDOW_FIXED_POSITION | Q_GUI_WINDOW_NO_TITLEBAR;
constexpr const char* DEFAULT_NAME = "sketch";
// What the file chooser offers: documents and the pictures the program opens.
constexpr const char* PICTURE_PATTERNS = "*.png;*.jpg;*.jpeg;*.bmp;*.tga;*.webp;*.PNG;*.JPG;*.JPEG";
constexpr const char* OPEN_PATTERNS = "*.tvl;*.ora;*.ORA;*.png;*.jpg;*.jpeg;*.bmp;*.tga;*.webp;*.PNG;*.JPG;*.JPEG";

// --------------------------------------------------------------------------------------------
// [SECTION] Shared steps
// --------------------------------------------------------------------------------------------

const char* last_component(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

const char* doc_name_or_default(const TAVOLIX_GUI* gui) {
    return gui->doc_name[0] ? gui->doc_name : DEFAULT_NAME;
}

// Where a file chooser opens: the last file when there is one, else the save folder.
void chooser_start(const char* last, const char* file_name, char* out,
                   size_t size) {
    if (last[0]) snprintf(out, size, "%s", last);
    else if (!platform_save_path(file_name, out, size)) snprintf(out, size, "%s", file_name);
}

// --------------------------------------------------------------------------------------------
// [SECTION] New canvas
// --------------------------------------------------------------------------------------------

constexpr int CANVAS_SIZES[6] = {16384, 8192, 4096, 2048, 1024, 512};

// Asks first when the drawing would be lost.
void create_canvas(TAVOLIX_APP* app, int size) {
    _popup_close(app, GUI_POPUP_NEW_DOC);
    if (tavolix_gui_confirm_replace(app, GUI_PENDING_NEW, size, nullptr)) _create_canvas(app, size);
}

void on_canvas_size(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    for (int i = 0; i < 6; i++)
        if (app->gui.pp.new_sizes[i] == widget) create_canvas(app, CANVAS_SIZES[i]);
}

void on_canvas_create(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    const long size = _canvas_size_of(_popup_field_text(app, GUI_POPUP_NEW_DOC));
    if (size < TAVOLIX_DOC_MIN || size > TAVOLIX_DOC_MAX) {
        _popup_close(app, GUI_POPUP_NEW_DOC);
        _notify_open(app, tavolix_tr("Custom size must be between 64 and 16384."));
        return;
    }
    create_canvas(app, static_cast<int>(size));
}

void on_new_cancel(int, void* user) { _popup_close(app_of(user), GUI_POPUP_NEW_DOC); }

int build_new_canvas(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_NEW_DOC, "newdoc", 20 + m.popup_wide, _popup_height(m, 5),
                      false, POPUP_FLAGS, "could not create the new-canvas popup", &f))
        return 0;
    f.label(tavolix_tr("New canvas (replaces the drawing)"), 0, 10, f.inner(), Q_GUI_ALIGN_LEFT);
    const float third = (f.inner() - 2 * m.gap) / 3;
    for (int i = 0; i < 6; i++) {
        char label[8];
        snprintf(label, sizeof label, "%d", CANVAS_SIZES[i]);
        gui->pp.new_sizes[i] = f.button(label, 1 + i / 3, 10 + static_cast<float>(i % 3) * (third + m.gap),
                                        third, on_canvas_size);
    }
    if (!gui->popup_text[GUI_POPUP_NEW_DOC][0])
        snprintf(gui->popup_text[GUI_POPUP_NEW_DOC], sizeof gui->popup_text[0], "4096");
    // Room for more digits than any size: a number typed too long must be refused whole, not
    // read as the shorter number the field would keep of it.
    const int field = f.field(GUI_POPUP_NEW_DOC, 3, 10, f.inner(), 15);
    gui->pp.ok[GUI_POPUP_NEW_DOC] = f.ok(tavolix_tr("Create"), 4, on_canvas_create);
    gui->pp.cancel[GUI_POPUP_NEW_DOC] = f.cancel(tavolix_tr("Cancel"), 4, on_new_cancel);
    q_gui_button_set_keycode_focused(gui->ctx, gui->pp.ok[GUI_POPUP_NEW_DOC], ALLEGRO_KEY_ENTER, 0,
                                     &field, 1);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Saving
// --------------------------------------------------------------------------------------------

void on_save_name(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    _popup_close(app, GUI_POPUP_SAVE_NAME);
    _gui_commit_first(app);
    char name[64];
    _save_name_of(app, _popup_field_text(app, GUI_POPUP_SAVE_NAME), name, sizeof name);
    // The program's own files are never a document's: the next autosave would replace it.
    if (session_reserved_stem(name)) {
        tavolix_gui_notify_tr(app, "Reserved name, choose another: %s", name);
        _save_done(app, false);
        return;
    }
    snprintf(gui->doc_name, sizeof gui->doc_name, "%s", name);
    char file_name[80], path[PLATFORM_PATH_MAX];
    snprintf(file_name, sizeof file_name, "%s.tvl", gui->doc_name);
    if (!platform_save_path(file_name, path, sizeof path)) {
        _notify_open(app, tavolix_tr("Save failed."));
        _save_done(app, false);
        return;
    }
    // Another file of that name is replaced only when the user says so; the document's own
    // file is simply written again.
    if (platform_file_kind(path) != PLATFORM_FILE_MISSING && strcmp(path, gui->last_file) != 0) {
        snprintf(gui->replace_path, sizeof gui->replace_path, "%s", path);
        snprintf(gui->replace_file, sizeof gui->replace_file, "%s", file_name);
        char question[256];
        _fit_name(app, tavolix_tr("Replace %s?"), file_name, static_cast<int>(gui->metrics.popup_wide) - 23,
                  question, sizeof question);
        _open_confirm(app, GUI_CONFIRM_REPLACE_FILE, question, tavolix_tr("Replace"));
        return;
    }
    _save_to(app, path, file_name);
}

void on_save_cancel(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _popup_close(app, GUI_POPUP_SAVE_NAME);
    _save_done(app, false);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Loading and the open list
// --------------------------------------------------------------------------------------------

// The rows show the record's names, so a rebuild shows the same list without reading the
// folder again.
void show_open_rows(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    if (!gui->ctx) return;
    for (int i = 0; i < GUI_OPEN_ROWS; i++) {
        const int row = gui->pp.open_rows[i];
        if (i >= gui->open_count) {
            q_gui_set_widget_visible(gui->ctx, row, 0);
            continue;
        }
        char label[72];
        snprintf(label, sizeof label, "%s", gui->open_names[i]);
        const size_t length = strlen(label);
        if (length >= 4 && strcmp(label + length - 4, ".tvl") == 0) label[length - 4] = 0;
        q_gui_button_set_label(gui->ctx, row, label[0] ? label : tavolix_tr("(unnamed)"));
        q_gui_set_widget_visible(gui->ctx, row, 1);
    }
    char title[128];
    q_gui_button_set_toggled(gui->ctx, gui->pp.open_import, gui->open_import);
    if (gui->open_import) _utf8_copy(title, sizeof title, tavolix_tr("Import as layer"));
    else if (gui->open_listed <= GUI_OPEN_ROWS) _utf8_copy(title, sizeof title, tavolix_tr("Open sketch"));
    else _utf8_format(title, sizeof title, tavolix_tr("Open sketch (newest %d)"), GUI_OPEN_ROWS);
    q_gui_label_set_text(gui->ctx, gui->pp.open_title, title);
    // An empty folder says so rather than showing an empty list.
    q_gui_set_widget_visible(gui->ctx, gui->pp.open_empty, gui->open_listed == 0);
}

void on_open_row(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    for (int i = 0; i < gui->open_count; i++) {
        if (gui->pp.open_rows[i] != widget) continue;
        char name[sizeof gui->open_names[0]];
        snprintf(name, sizeof name, "%s", gui->open_names[i]);
        _popup_close(app, GUI_POPUP_OPEN_LIST);
        if (gui->open_import) {
            char path[PLATFORM_PATH_MAX];
            if (_load_named_path(name, path, sizeof path)) tavolix_app_import_picture(app, path);
            else _notify_open(app, tavolix_tr("Load failed."));
        } else if (tavolix_gui_confirm_replace(app, GUI_PENDING_LOAD_NAMED, 0, name)) {
            _load_named(app, name);
        }
        return;
    }
}

void on_open_browse(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    _popup_close(app, GUI_POPUP_OPEN_LIST);
    if (platform_request_open() != 1) _notify_open(app, tavolix_tr("No file picker available."));
}

void on_open_cancel(int, void* user) { _popup_close(app_of(user), GUI_POPUP_OPEN_LIST); }

// Switches the list between opening a file and importing a picture as a layer.
void on_open_import(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    app->gui.open_import = !app->gui.open_import;
    _open_list_refresh(app);
}

int build_open_list(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    const float h = std::min(_popup_height(m, 1 + GUI_OPEN_ROWS), static_cast<float>(app->display_h) - 20);
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_OPEN_LIST, "openlist", 20 + m.popup_wide, h, false,
                      POPUP_FLAGS | Q_GUI_WINDOW_SCROLLABLE, "could not create the open-list popup", &f))
        return 0;
    const char* browse = tavolix_tr("Browse...");
    const char* cancel = tavolix_tr("Cancel");
    const char* import = tavolix_tr("Import as layer");
    const float browse_w = f.button_w(browse), cancel_w = f.button_w(cancel), import_w = f.button_w(import);
    // The title gets what the buttons leave; the row of the list below says what it does.
    const float buttons = browse_w + cancel_w + import_w + 3 * m.gap;
    gui->pp.open_title = f.label(tavolix_tr("Open sketch"), 0, 10, std::max(0.0f, f.inner() - buttons),
                                 Q_GUI_ALIGN_LEFT);
    gui->pp.open_import = f.button(import, 0, 10 + f.inner() - buttons + m.gap, import_w, on_open_import, true);
    gui->pp.ok[GUI_POPUP_OPEN_LIST] =
        f.button(browse, 0, 10 + f.inner() - browse_w - m.gap - cancel_w, browse_w, on_open_browse);
    gui->pp.cancel[GUI_POPUP_OPEN_LIST] =
        f.button(cancel, 0, 10 + f.inner() - cancel_w, cancel_w, on_open_cancel);
    gui->pp.open_empty = f.label(tavolix_tr("No saved sketches yet."), 1, 10, f.inner(), Q_GUI_ALIGN_LEFT);
    for (int i = 0; i < GUI_OPEN_ROWS; i++)
        gui->pp.open_rows[i] = f.button(" ", 1 + i, 10, f.inner(), on_open_row);
    show_open_rows(app);
    return 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Export
// --------------------------------------------------------------------------------------------

void on_export_mode(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    app->gui.export_mode = widget == app->gui.pp.export_area ? 0 : 1;
    _export_refresh(app);
}

void on_export_border(int, double value, void* user) {
    TAVOLIX_APP* app = app_of(user);
    app->gui.export_border = std::clamp(static_cast<int>(value), 0, 256);
    _export_refresh(app);
}

void on_export_template(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    app->gui.export_template = !app->gui.export_template;
    _export_refresh(app);
}

void on_export_format(int widget, void* user) {
    TAVOLIX_APP* app = app_of(user);
    app->gui.export_ora = widget == app->gui.pp.export_ora;
    _export_refresh(app);
}

// The path to write: the chooser's pick (with the format's ending added to a name without any
// dot), or the save folder where there is no chooser. 0 when cancelled or no path fits.
int export_path(TAVOLIX_APP* app, const char* file_name, char* path, size_t size) {
    TAVOLIX_GUI* gui = &app->gui;
    char start[PLATFORM_PATH_MAX];
    chooser_start(gui->last_export, file_name, start, sizeof start);
    const int chosen = platform_choose_file(1, start, gui->export_ora ? "*.ora" : "*.png", path, size);
    if (chosen == 0) return 0;
    if (chosen != 1) return platform_save_path(file_name, path, size);
    _path_add_extension(path, size, gui->export_ora ? ".ora" : ".png");
    snprintf(gui->last_export, sizeof gui->last_export, "%s", path);
    return 1;
}

void report_export(TAVOLIX_APP* app, const char* written, int w, int h) {
    const char* short_name = last_component(written);
    const size_t length = strlen(written);
    const bool tga = length >= 4 && strcmp(written + length - 4, ".tga") == 0;
    const char* type = tga ? "image/x-tga" : ora_path_has_extension(written) ? "image/openraster" : "image/png";
    const int published = platform_publish_document(written, short_name, type);
    if (published == 1) {
        tavolix_gui_notify_tr(app, "Exported %dx%d to the Tavolix folder: %s", w, h, short_name);
    } else if (published != 0) {
        tavolix_gui_notify_tr(app, "Exported %dx%d: %s", w, h, written);
    } else {
        char error[256] = "";
        platform_publish_last_error(error, sizeof error);
        tavolix_gui_notify_tr(app, "Export not published: %s", error[0] ? error : short_name);
    }
}

// The whole document with its layers: region, border and template are for flat pictures.
void export_ora(TAVOLIX_APP* app) {
    char name[64], file_name[80], path[PLATFORM_PATH_MAX];
    _sanitize_doc_name(_popup_field_text(app, GUI_POPUP_EXPORT), name, sizeof name);
    snprintf(file_name, sizeof file_name, "%s.ora", name);
    if (!export_path(app, file_name, path, sizeof path)) return;
    ORA_RESULT result{};
    if (!app->doc || !ora_save(app->doc, path, &result)) {
        _notify_open(app, tavolix_tr("Export failed."));
        return;
    }
    q_log(6, "exported OpenRaster to %s", path);
    platform_save_sync();
    report_export(app, path, app->doc->width, app->doc->height);
    platform_reveal_export(path);
}

void on_export_run(int, void* user) {
    TAVOLIX_APP* app = app_of(user);
    TAVOLIX_GUI* gui = &app->gui;
    _popup_close(app, GUI_POPUP_EXPORT);
    gui->export_bbox_valid = false;
    // The file must hold what the screen shows, a floating selection or pending shape included.
    _gui_commit_first(app);
    if (gui->export_ora) {
        export_ora(app);
        return;
    }
    int x = 0, y = 0, w = 0, h = 0;
    if (!_export_region(app, &x, &y, &w, &h)) {
        _notify_open(app, tavolix_tr("Nothing to export: the drawing is empty."));
        return;
    }
    char name[64], file_name[80], path[PLATFORM_PATH_MAX], written[PLATFORM_PATH_MAX];
    _sanitize_doc_name(_popup_field_text(app, GUI_POPUP_EXPORT), name, sizeof name);
    snprintf(file_name, sizeof file_name, "%s.png", name);
    if (!export_path(app, file_name, path, sizeof path)) return;
    if (!document_export_png_region(app->doc, path, x, y, w, h, gui->export_template, written,
                                    sizeof written)) {
        _notify_open(app, tavolix_tr("Export failed."));
        return;
    }
    platform_save_sync();
    report_export(app, written, w, h);
    platform_reveal_export(written);
}

void on_export_cancel(int, void* user) { _popup_close(app_of(user), GUI_POPUP_EXPORT); }

int build_export(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    GUI_POPUP_FRAME f;
    if (!_popup_frame(app, GUI_POPUP_EXPORT, "export", 20 + m.popup_wide, _popup_height(m, 7),
                      false, POPUP_FLAGS, "could not create the export popup", &f))
        return 0;
    GUI_POPUP_IDS& pp = gui->pp;
    const float caption = 100 * m.k, half = (f.inner() - m.gap) / 2;
    pp.export_title = f.label(tavolix_tr("Export PNG"), 0, 10, f.inner(), Q_GUI_ALIGN_LEFT);
    f.label(tavolix_tr("Name"), 1, 10, caption, Q_GUI_ALIGN_LEFT);
    const int field = f.field(GUI_POPUP_EXPORT, 1, 10 + caption, f.inner() - caption, 63);
    pp.export_area = f.button(tavolix_tr("Displayed area"), 2, 10, half, on_export_mode, true);
    pp.export_full = f.button(tavolix_tr("Full drawing"), 2, 10 + half + m.gap, half, on_export_mode, true);
    pp.export_border = f.slider(tavolix_tr("Border"), caption, 3, 0, 256, gui->export_border, "%.0f px",
                                on_export_border);
    pp.export_template = f.button(tavolix_tr("Include template"), 4, 10, f.inner(), on_export_template, true);
    pp.export_png = f.button(tavolix_tr("PNG"), 5, 10, half, on_export_format, true);
    pp.export_ora = f.button(tavolix_tr("OpenRaster (.ora)"), 5, 10 + half + m.gap, half, on_export_format, true);
    pp.ok[GUI_POPUP_EXPORT] = f.ok(tavolix_tr("Export"), 6, on_export_run);
    pp.cancel[GUI_POPUP_EXPORT] = f.cancel(tavolix_tr("Cancel"), 6, on_export_cancel);
    q_gui_button_set_keycode_focused(gui->ctx, pp.ok[GUI_POPUP_EXPORT], ALLEGRO_KEY_ENTER, 0, &field, 1);
    // Opening refreshes it anyway; measuring the drawing for a closed popup would scan the
    // whole document at every start-up and rebuild.
    if (gui->popup_open[GUI_POPUP_EXPORT]) _export_refresh(app);
    return 1;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Builder
// --------------------------------------------------------------------------------------------

long _canvas_size_of(const char* text) {
    if (!text) return -1;
    while (*text == ' ') text++;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') text++;
    if (!isdigit(static_cast<unsigned char>(*text))) return -1;
    long value = 0;
    for (; isdigit(static_cast<unsigned char>(*text)); text++) {
        value = value * 10 + (*text - '0');
        if (value > INT_MAX) return -1;
    }
    return negative ? -value : value;
}

int _do_save(TAVOLIX_APP* app, const char* path, const char* file_name) {
    q_assert(app, return 0);
    q_assert(path && file_name, return 0);
    // Whatever the chooser answered: the program's own files are not a place for a document.
    if (session_reserved_path(path)) {
        q_log(3, "refusing to save over the program's own file %s", path);
        tavolix_gui_notify_tr(app, "Reserved name, choose another: %s", file_name);
        return 0;
    }
    if (!app->doc || !document_save(app->doc, path)) {
        _notify_open(app, tavolix_tr("Save failed."));
        return 0;
    }
    tavolix_app_mark_named(app);
    platform_save_sync();
    platform_offer_download(path);
    if (platform_publish_document(path, file_name, "application/octet-stream") == 0) {
        char error[256] = "";
        platform_publish_last_error(error, sizeof error);
        tavolix_gui_notify_tr(app, "Save not published: %s", error[0] ? error : file_name);
    } else {
        tavolix_gui_notify_tr(app, "Saved: %s", file_name);
    }
    return 1;
}

void _export_refresh(TAVOLIX_APP* app) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    if (!gui->ctx) return;
    q_gui_button_set_toggled(gui->ctx, gui->pp.export_area, gui->export_mode == 0);
    q_gui_button_set_toggled(gui->ctx, gui->pp.export_full, gui->export_mode == 1);
    q_gui_button_set_toggled(gui->ctx, gui->pp.export_template, gui->export_template);
    q_gui_button_set_toggled(gui->ctx, gui->pp.export_png, !gui->export_ora);
    q_gui_button_set_toggled(gui->ctx, gui->pp.export_ora, gui->export_ora);
    // An OpenRaster file holds the whole drawing as layers: the area, border and template
    // only shape a flat picture, so they are greyed out rather than silently ignored.
    for (const int id : {gui->pp.export_area, gui->pp.export_full, gui->pp.export_border, gui->pp.export_template})
        q_gui_set_widget_enabled(gui->ctx, id, gui->export_ora ? 0 : 1);
    int x = 0, y = 0, w = 0, h = 0;
    char title[128];
    if (gui->export_ora && app->doc)
        _utf8_format(title, sizeof title, tavolix_tr("Export OpenRaster: %d x %d px"), app->doc->width,
                     app->doc->height);
    else if (_export_region(app, &x, &y, &w, &h))
        _utf8_format(title, sizeof title, tavolix_tr("Export PNG: %d x %d px"), w, h);
    else
        _utf8_copy(title, sizeof title, tavolix_tr("Export PNG: nothing to export"));
    q_gui_label_set_text(gui->ctx, gui->pp.export_title, title);
    gui->gui_cache_valid = false;
    app->redraw = true;
}

void _open_export(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (app->stroke.active || platform_saves_ready() != 1) return;
    // A floating selection or shape stays movable while the user chooses: only the export
    // itself commits it.
    _popup_set_field(app, GUI_POPUP_EXPORT, doc_name_or_default(&app->gui));
    app->gui.export_bbox_valid = false;
    q_gui_slider_set_value(app->gui.ctx, app->gui.pp.export_border, app->gui.export_border);
    _export_refresh(app);
    _popup_open(app, GUI_POPUP_EXPORT);
}

void _open_new_canvas(TAVOLIX_APP* app) {
    q_assert(app, return);
    if (app->stroke.active) return;
    _popup_open(app, GUI_POPUP_NEW_DOC);
}

void _open_list_refresh(TAVOLIX_APP* app) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    char list[4096];
    const int found = platform_list_documents(list, sizeof list);
    // Only names a row can load: the others would only fail when chosen.
    int listed = 0;
    gui->open_count = 0;
    for (char* name = list; found > 0 && *name;) {
        char* end = strchr(name, '\n');
        if (end) *end = 0;
        const bool shows = _open_list_shows(name) && (!gui->open_import || _picture_name(name));
        if (shows && listed++ < GUI_OPEN_ROWS)
            _utf8_copy(gui->open_names[gui->open_count++], sizeof gui->open_names[0], name);
        if (!end) break;
        name = end + 1;
    }
    gui->open_listed = listed;
    if (listed > GUI_OPEN_ROWS)
        q_log(6, "open-list: %d+ sketches, showing newest %d", listed, GUI_OPEN_ROWS);
    show_open_rows(app);
    gui->gui_cache_valid = false;
}

void _gui_load(TAVOLIX_APP* app) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    if (app->stroke.active || platform_saves_ready() != 1) return;
    char start[PLATFORM_PATH_MAX], chosen[PLATFORM_PATH_MAX];
    chooser_start(gui->last_file, "sketch.tvl", start, sizeof start);
    const int result = platform_choose_file(0, start, OPEN_PATTERNS, chosen, sizeof chosen);
    if (result == 0) return;
    if (result != 1) {
        if (platform_web_request_load() == 1) return;
        gui->open_import = false;
        _open_list_refresh(app);
        _popup_open(app, GUI_POPUP_OPEN_LIST);
        return;
    }
    if (tavolix_gui_confirm_replace(app, GUI_PENDING_LOAD_PATH, 0, chosen)) _load_chosen(app, chosen);
}

int _load_chosen(TAVOLIX_APP* app, const char* path) {
    q_assert(app, return 0);
    q_assert(path, return 0);
    // The name and path change only once the document is in: a failed load must not make the
    // next save write over another file.
    int error = 0;
    PICTURE_INFO info{};
    if (!tavolix_app_open_file(app, path, &error, &info)) {
        _notify_load_failed(app, error, path);
        return 0;
    }
    if (!tavolix_app_notify_scaled(app, &info)) _notify_open(app, tavolix_tr("Loaded."));
    tavolix_gui_opened_file(app, path, info.kind != PICTURE_NONE);
    return 1;
}

void _notify_load_failed(TAVOLIX_APP* app, int error, const char* path) {
    q_assert(app && path, return);
    // What a picture's name promised and its bytes did not keep is told as such; a document
    // that is not there or not whole keeps the message it always had.
    const bool picture_error =
        error == PICTURE_NOT_PICTURE || error == PICTURE_TOO_LARGE || error == PICTURE_UNDECODABLE;
    const size_t length = strlen(path);
    const bool document_name = length >= 4 && strcmp(path + length - 4, ".tvl") == 0;
    if (picture_error && !document_name) tavolix_app_notify_open_error(app, error, path);
    else _notify_open(app, tavolix_tr("No saved document found."));
}

void tavolix_gui_opened_file(TAVOLIX_APP* app, const char* path, bool picture) {
    q_assert(app && path, return);
    TAVOLIX_GUI* gui = &app->gui;
    _derive_doc_name(app, path);
    if (picture) gui->last_file[0] = 0;
    else snprintf(gui->last_file, sizeof gui->last_file, "%s", path);
}

void tavolix_gui_request_import(TAVOLIX_APP* app) {
    q_assert(app, return);
    TAVOLIX_GUI* gui = &app->gui;
    if (app->stroke.active || platform_saves_ready() != 1 || !app->doc) return;
    char start[PLATFORM_PATH_MAX], chosen[PLATFORM_PATH_MAX];
    chooser_start(gui->last_file, "", start, sizeof start);
    const int result = platform_choose_file(0, start, PICTURE_PATTERNS, chosen, sizeof chosen);
    if (result == 0) return;
    if (result == 1) {
        tavolix_app_import_picture(app, chosen);
        return;
    }
    gui->open_import = true;
    _open_list_refresh(app);
    _popup_open(app, GUI_POPUP_OPEN_LIST);
}

void _create_canvas(TAVOLIX_APP* app, int size) {
    q_assert(app, return);
    if (!tavolix_app_new_document(app, size)) {
        _notify_open(app, tavolix_tr("Canvas creation failed, keeping the drawing."));
        return;
    }
    // A new drawing is not the file the old one came from: the next save must not replace it
    // under the old name.
    snprintf(app->gui.doc_name, sizeof app->gui.doc_name, "%s", DEFAULT_NAME);
    app->gui.last_file[0] = 0;
    tavolix_gui_notify_tr(app, "New %dx%d canvas.", app->doc->width, app->doc->height);
    app->redraw = true;
}

void _save_to(TAVOLIX_APP* app, const char* path, const char* file_name) {
    q_assert(app && path && file_name, return);
    const bool saved = _do_save(app, path, file_name) == 1;
    if (saved) snprintf(app->gui.last_file, sizeof app->gui.last_file, "%s", path);
    _save_done(app, saved);
}

int _build_file_popups(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    if (!build_export(app) || !build_new_canvas(app)) return 0;
    return _build_name_popup(app, GUI_POPUP_SAVE_NAME, "savename", "Save sketch as", "Save", 63,
                             on_save_name, on_save_cancel, "could not create the save-name popup") &&
           build_open_list(app);
}

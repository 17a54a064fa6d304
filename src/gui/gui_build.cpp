// ============================================================================================
// Building the panels
//   [SECTION] Metrics and layout rules
//   [SECTION] Room for translated labels
//   [SECTION] Row builder and icon registry
//   [SECTION] Tool bar
//   [SECTION] Layer panel
//   [SECTION] Init, first-run defaults and rebuild
//
// The whole GUI is built in one go and rebuilt as a whole whenever its layout must change;
// what must survive a rebuild (folded sections, panel width, popup state) lives in the GUI
// record, never in the widgets.
// ============================================================================================
#include <allegro5/allegro_font.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <utility>
#include <vector>

#include "canvas/brush.h"
#include "canvas/layer.h"
#include "canvas/symmetry.h"
#include "gui/gui_internal.h"
#include "i18n.h"
#include "palette.h"
#include "platform/platform.h"
#include "q/q_common.h"
#include "q/q_gui.h"
#include "tavolix_app.h"
#include "template.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Metrics and layout rules
// --------------------------------------------------------------------------------------------

GUI_METRICS gui_metrics(float ui_scale) {
    const float k = std::isfinite(ui_scale) ? std::max(0.5f, ui_scale) : 1.0f;
    GUI_METRICS m{};
    m.k = k;
    m.margin = 8 * k;
    m.toolbar_limit = 180 * k;
    m.row = 28 * k;
    m.gap = 6 * k;
    m.panel_default = 200 * k;
    m.panel_min = 180 * k;
    m.tab_w = 26 * k;
    m.tool_button = 40 * k;
    m.scrollbar = 16 * k;
    m.value_room = 60 * k;
    m.popup_wide = 540 * k;
    m.popup_narrow = 110 * k;
    m.icon = static_cast<int>(std::lround(m.row));
    return m;
}

float gui_toolbar_content_width(const GUI_METRICS* m, float display_w) {
    q_assert(m, return 0.0f);
    const float w = display_w * 0.45f - 20.0f - m->scrollbar;
    return (w >= m->toolbar_limit || w <= 80.0f) ? m->toolbar_limit : w;
}

float gui_panel_width(const GUI_METRICS* m, float display_w, float stored) {
    q_assert(m, return 0.0f);
    // A width read from a file may be anything; what is not a sane number is no width.
    if (!std::isfinite(stored) || stored <= 0.0f) stored = m->panel_default;
    return std::min(display_w * 0.4f, std::max(m->panel_min, stored));
}

int gui_layer_of_row(int row, int count) {
    if (count <= 0) return -1;
    return count - 1 - std::clamp(row, 0, count - 1);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Room for translated labels
// --------------------------------------------------------------------------------------------
//
// The panels' base widths suit the English texts. Other languages say the same in longer
// words, so the tool bar's content width and the layer panel's narrowest width grow to what
// their widest row needs in the interface font: every label reads whole. Rows of several
// buttons keep equal cells while their labels fit and otherwise give each label its own need.

namespace {

struct FIT {
    const ALLEGRO_FONT* font;
    const Q_GUI_STYLE* style;
    float gap, row;

    float width(const char* text) const {
        return font ? static_cast<float>(al_get_text_width(font, text)) + 1.0f : 0.0f;
    }
    // A button or a label: its text between the padding on both sides.
    float text(const char* text) const { return width(text) + 2.0f * style->label_padding; }
    float tr(const char* key) const { return text(tavolix_tr(key)); }
    // The widest text of a translated format over the translated names it shows.
    template <typename NAME> float widest(const char* format, int count, NAME name) const {
        float need = 0.0f;
        for (int i = 0; i < count; i++) {
            char label[64];
            const char* n = name(i);
            _utf8_format(label, sizeof label, tavolix_tr(format), n ? tavolix_tr(n) : "");
            need = std::max(need, text(label));
        }
        return need;
    }
    // A section header shows "-" or "+" before its title.
    float header(const char* key) const { return tr(key) + width("- "); }
    float check(const char* key) const {
        return std::min(row, style->checkbox_max_size) + style->checkbox_label_gap +
               width(tavolix_tr(key));
    }
    float combo(float widest_item) const {
        return widest_item + style->item_text_padding + style->dropdown_arrow_reserve;
    }
    // A row of cells split by need, gaps between them.
    float cells(std::initializer_list<float> needs) const {
        float sum = 0.0f;
        for (float n : needs) sum += n;
        return sum + static_cast<float>(needs.size() - 1) * gap;
    }
};

FIT fit_of(TAVOLIX_APP* app) {
    const GUI_METRICS& m = app->gui.metrics;
    return FIT{app->font, &app->gui.ctx->style, m.gap, m.row};
}

float widest_of(const FIT& f, std::initializer_list<const char*> keys) {
    float need = 0.0f;
    for (const char* key : keys) need = std::max(need, f.tr(key));
    return need;
}

// The offset label shows the symmetry centre's distance from the middle of the canvas.
float offset_need(const FIT& f) {
    char label[64];
    _utf8_format(label, sizeof label, tavolix_tr("Off %+d,%+d"), -888, -888);
    return f.text(label);
}

float toolbar_need(TAVOLIX_APP* app) {
    const FIT f = fit_of(app);
    const GUI_METRICS& m = app->gui.metrics;
    float item = 0.0f;
    for (int i = 0; i < palette_preset_count(); i++)
        item = std::max(item, f.width(tavolix_tr(palette_name(&app->palettes, i))));
    for (int id = 1; id <= 4; id++) item = std::max(item, f.width(tavolix_lang_name(id)));
    for (const char* size : {"Small", "Normal", "Large", "Huge"})
        item = std::max(item, f.width(tavolix_tr(size)));
    for (int curve = 0; curve < PEN_CURVE_COUNT; curve++)
        item = std::max(item, f.width(tavolix_tr(pen_curve_name(curve))));
    float headers = 0.0f;
    for (const char* title : {"Tools", "Color", "Brush", "Symmetry", "File", "Settings"})
        headers = std::max(headers, f.header(title));
    const float tip = f.widest("Tip: %s", brush_tip_shape_count(), brush_tip_shape_name);
    return std::max({f.header("Actions") + 2 * (m.row + m.gap), headers,
                     tip + static_cast<float>(m.icon) + m.gap,
                     f.tr("Fill|shape") + m.gap + m.row,
                     f.combo(item), f.cells({f.tr("Edit"), f.tr("New|palette")}),
                     widest_of(f, {"Color", "Manage palettes", "Size", "Opacity", "Flow",
                                   "Hardness", "Stabilizer", "Rad splits", "Export",
                                   "Pressure Speed", "Palm rejection", "Pressure changes size",
                                   "Pen pressure", "Language", "Interface size", "Help", "Exit"}),
                     f.cells({f.widest("Sym:%s", SYMMETRY_MODE_COUNT, symmetry_mode_name),
                              f.tr("MoveSym")}),
                     f.cells({f.tr("Reset"), offset_need(f)}),
                     f.cells({f.tr("New"), f.tr("Save"), f.tr("Load")})});
}

// The narrowest layer panel in which every row reads whole.
float panel_need(TAVOLIX_APP* app) {
    const FIT f = fit_of(app);
    const GUI_METRICS& m = app->gui.metrics;
    float item = 0.0f;
    for (int i = 0; i < template_count(); i++)
        item = std::max(item, f.width(tavolix_tr(template_name(static_cast<unsigned>(i)))));
    const float W = std::max(
        {f.header("Layers") + m.row + m.gap, f.header("Template"), f.header("Canvas"),
         f.cells({f.tr("Clear"), f.tr("Rename")}), f.cells({f.check("Show"), f.check("Lock")}),
         f.widest("Blend: %s", 4, layer_blend_mode_name), widest_of(f, {"Opacity", "Grid size"}),
         f.combo(item)});
    return W + 20 + m.scrollbar;
}

} // namespace

float _gui_slider_value_room(TAVOLIX_APP* app, double min, double max, const char* format) {
    q_assert(app && format, return 0.0f);
    const FIT f = fit_of(app);
    float need = app->gui.metrics.value_room;
    for (const double value : {min, max}) {
        char text[32];
        _utf8_format(text, sizeof text, format, value);
        need = std::max(need, f.text(text));
    }
    return need;
}

float _gui_slider_knob_reach(TAVOLIX_APP* app, float height) {
    q_assert(app && app->gui.ctx, return 0.0f);
    const Q_GUI_STYLE& st = app->gui.ctx->style;
    return std::max(st.slider_handle_min_r, height / 2 - st.slider_handle_edge_offset) +
           st.slider_handle_border_thickness;
}

namespace {

// --------------------------------------------------------------------------------------------
// [SECTION] Row builder and icon registry
// --------------------------------------------------------------------------------------------


constexpr uint32_t PANEL_FLAGS =
    Q_GUI_WINDOW_SCROLLABLE | Q_GUI_WINDOW_FIXED_POSITION | Q_GUI_WINDOW_NO_TITLEBAR;
constexpr uint32_t TAB_FLAGS = Q_GUI_WINDOW_FIXED_POSITION | Q_GUI_WINDOW_NO_TITLEBAR;
constexpr float INSET = 10.0f; // widgets' distance from a panel's left and top edges

void register_icon(TAVOLIX_GUI* gui, int widget, int icon, float w, float h) {
    if (widget < 0 || gui->icon_count >= GUI_ICON_SLOTS) return;
    gui->icons[gui->icon_count++] = GUI_ICON_ENTRY{widget, icon, w, h, TAVOLIX_ICON_SET{}};
    gui->icons_ready = false;
}

// Lays widgets row by row into the sections of one section list, at their unfolded places.
struct ROWS {
    TAVOLIX_APP* app;
    Q_GUI_CTX* ctx;
    int window;
    Q_GUI_SECTIONLIST* list;
    GUI_METRICS m;
    float W;            // content width
    float y = INSET;    // top of the next row (or of the next section's header)
    int section = -1;

    FIT fit = fit_of(app);

    float cell(int n) const { return (W - static_cast<float>(n - 1) * m.gap) / static_cast<float>(n); }
    float col(int i, int n) const { return INSET + static_cast<float>(i) * (cell(n) + m.gap); }
    // The cells of a row: their shares of the width (equal unless given) while every label
    // fits its share; otherwise each label's need and a share of what is left.
    struct CELL {
        float x, w;
    };
    std::vector<CELL> split(std::initializer_list<float> needs,
                            std::initializer_list<float> shares = {}) const {
        const std::vector<float> need(needs);
        const size_t n = need.size();
        std::vector<float> share(shares);
        if (share.size() != n) share.assign(n, 1.0f / static_cast<float>(n));
        const float room = W - static_cast<float>(n - 1) * m.gap;
        float sum = 0.0f;
        bool fits = true;
        for (size_t i = 0; i < n; i++) {
            sum += need[i];
            fits = fits && share[i] * room >= need[i];
        }
        std::vector<CELL> cells(n);
        float x = INSET;
        for (size_t i = 0; i < n; i++) {
            float w = share[i] * room;
            if (!fits) w = sum <= room ? need[i] + share[i] * (room - sum) : need[i] * room / sum;
            cells[i] = {x, w};
            x += w + m.gap;
        }
        return cells;
    }

    void begin(const char* title, bool folded) {
        section = q_gui_sectionlist_add_section(list, tavolix_tr(title), y, folded ? 1 : 0);
        y += m.row + m.gap;
    }
    void next(float h) { y += h + m.gap; }
    int keep(int id) {
        if (id >= 0 && section >= 0) q_gui_sectionlist_add_widget(list, section, id);
        return id;
    }
    int button(const char* label, float x, float w, float h, Q_GUI_BUTTON_CB cb,
               bool toggle = false, bool toggled = false) {
        const int id = toggle ? q_gui_add_toggle_button(ctx, window, label, x, y, w, h, 1,
                                                        toggled ? 1 : 0, cb, app)
                              : q_gui_add_button(ctx, window, label, x, y, w, h, 1, cb, app);
        return keep(id);
    }
    int icon(int number, const char* tip, float x, float w, float h, Q_GUI_BUTTON_CB cb,
             bool toggle = false) {
        const int id = button("", x, w, h, cb, toggle);
        if (tip) q_gui_set_widget_tooltip(ctx, id, tavolix_tr(tip));
        register_icon(&app->gui, id, number, w, h);
        return id;
    }
    // A row of icon buttons of equal width.
    void icons(int n, float h, std::initializer_list<std::pair<int*, int>> ids, const char* const* tips,
               Q_GUI_BUTTON_CB cb, bool toggle) {
        int i = 0;
        for (auto [out, number] : ids) {
            *out = icon(number, tips ? tips[i] : nullptr, col(i, n), cell(n), h, cb, toggle);
            i++;
        }
    }
    int label(const char* text, float x, float w, float h) {
        return keep(q_gui_add_label(ctx, window, text, x, y, w, h, Q_GUI_ALIGN_LEFT));
    }
    // A label above a slider, both full width but for the value text.
    int slider(const char* title, double min, double max, double value, const char* format,
               Q_GUI_SLIDER_CB cb) {
        label(tavolix_tr(title), INSET, W, 0.6f * m.row);
        next(0.6f * m.row);
        // The value reads beside the slider, where the row keeps room for it, rather than
        // under it where the next row begins; the knob at the far end stops short of it.
        const float room = _gui_slider_value_room(app, min, max, format);
        const float slider_w = W - room - _gui_slider_knob_reach(app, m.row);
        const int id = keep(q_gui_add_slider(ctx, window, INSET, y, slider_w, m.row, min,
                                             max, value, Q_GUI_SLIDER_RANGE, cb, app));
        q_gui_slider_set_step(ctx, id, 1.0);
        q_gui_slider_set_value_visible(ctx, id, 0);
        const int readout = keep(
            q_gui_add_label(ctx, window, "", INSET + W - room, y, room, m.row, Q_GUI_ALIGN_LEFT));
        TAVOLIX_GUI* gui = &app->gui;
        if (id >= 0 && gui->slider_value_count < GUI_SLIDER_SLOTS)
            gui->slider_values[gui->slider_value_count++] = {id, readout, format};
        next(m.row);
        return id;
    }
    int combo(Q_GUI_COMBO_CB cb) {
        const int id = keep(q_gui_add_combobox(ctx, window, INSET, y, W, m.row, cb, app));
        next(m.row);
        return id;
    }
};

int add_panel_window(Q_GUI_CTX* ctx, const char* title, float x, float y, float w, float h,
                     uint32_t flags, const char* failure) {
    const int id = q_gui_add_window(ctx, title, x, y, w, h);
    if (id < 0) {
        q_log(3, "%s", failure);
        return -1;
    }
    q_gui_window_set_flags(ctx, id, flags);
    q_gui_window_set_zorder(ctx, id, Q_GUI_ZORDER_ALWAYS_ON_TOP, 0);
    return id;
}

// A collapsed panel: a slim tab with one button that brings the panel back.
int add_tab(TAVOLIX_APP* app, const char* title, float x, const char* arrow,
            Q_GUI_BUTTON_CB expand, int* button, const char* failure) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    const float h = static_cast<float>(app->display_h) - 2 * m.margin;
    const int id = add_panel_window(gui->ctx, title, x, m.margin, m.tab_w, h, TAB_FLAGS, failure);
    if (id < 0) return -1;
    *button = q_gui_add_button(gui->ctx, id, arrow, 3 * m.k, h / 2 - 30 * m.k, m.tab_w - 6 * m.k,
                               60 * m.k, 1, expand, app);
    return id;
}

void reset_ids(TAVOLIX_GUI* gui) {
    int* ids[] = {reinterpret_cast<int*>(&gui->tb), reinterpret_cast<int*>(&gui->lp)};
    const size_t counts[] = {sizeof gui->tb / sizeof(int), sizeof gui->lp / sizeof(int)};
    for (int k = 0; k < 2; k++) std::fill(ids[k], ids[k] + counts[k], -1);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Tool bar
// --------------------------------------------------------------------------------------------

void build_actions(ROWS& r, GUI_TOOLBAR_IDS& t) {
    const float h = r.m.tool_button;
    r.begin("Actions", r.app->gui.section_folded[0]);
    const char* tips1[] = {"Undo the last change", "Redo the last undone change",
                           "Paint with the current color, size and opacity"};
    t.undo = r.icon(1, tips1[0], r.col(0, 3), r.cell(3), h, _on_undo);
    t.redo = r.icon(2, tips1[1], r.col(1, 3), r.cell(3), h, _on_redo);
    t.brush = r.icon(3, tips1[2], r.col(2, 3), r.cell(3), h, _on_tool, true);
    r.next(h);
    const char* tips2[] = {"Erase to transparent on the active layer",
                           "Box selection: move, scale, rotate, commit", "Freehand lasso selection"};
    t.eraser = r.icon(4, tips2[0], r.col(0, 3), r.cell(3), h, _on_eraser, true);
    t.select = r.icon(5, tips2[1], r.col(1, 3), r.cell(3), h, _on_tool, true);
    t.lasso = r.icon(11, tips2[2], r.col(2, 3), r.cell(3), h, _on_tool, true);
    r.next(h);
    const char* tips3[] = {"Cut the floating selection to the clipboard",
                           "Copy the floating selection to the clipboard",
                           "Paste the clipboard as a new floating selection"};
    r.icons(3, h, {{&t.cut, 6}, {&t.copy, 7}, {&t.paste, 8}}, tips3, _on_clipboard, false);
    r.next(h);
    if (platform_uses_touch()) {
        t.navigate = r.icon(33, "Navigate mode: pan / zoom / rotate only, no drawing", r.col(0, 1),
                            r.W, h, _on_navigate, true);
        r.next(h);
    }
}

void build_tools(ROWS& r, GUI_TOOLBAR_IDS& t) {
    const GUI_METRICS& m = r.m;
    const float h = m.tool_button;
    r.begin("Tools", r.app->gui.section_folded[1]);
    for (int i = 0; i < 4; i++) {
        t.presets[i] = r.icon(21 + i, brush_preset_name(i), r.col(i, 4), r.cell(4), m.row,
                              _on_preset, true);
    }
    r.next(m.row);
    const float icon = static_cast<float>(m.icon);
    t.tip = r.button("Tip", INSET, r.W - icon - m.gap, m.row, _on_tip);
    t.tip_preview = r.keep(q_gui_add_label(r.ctx, r.window, " ", INSET + r.W - icon, r.y, icon,
                                           m.row, Q_GUI_ALIGN_RIGHT));
    r.next(m.row);
    const char* tips3[] = {"Drag a line, move its ends, press off it to draw",
                           "Drag a chord, bend it, press off it to draw"};
    r.icons(4, h, {{&t.line, 13}, {&t.bezier, 14}}, tips3, _on_tool, true);
    t.rect = r.icon(15, "Drop a rectangle as a movable selection", r.col(2, 4), r.cell(4), h,
                    _on_shape);
    t.circle = r.icon(16, "Drop a circle or ellipse as a movable selection", r.col(3, 4),
                      r.cell(4), h, _on_shape);
    r.next(h);
    const char* tips4[] = {"Drop a triangle as a movable selection",
                           "Drop a star as a movable selection",
                           "Drop a pentagon as a movable selection",
                           "Drop a hexagon as a movable selection"};
    r.icons(4, h, {{&t.triangle, 17}, {&t.star, 29}, {&t.pentagon, 30}, {&t.hexagon, 31}}, tips4,
            _on_shape, false);
    r.next(h);
    const char* tips5[] = {"Flood-fill from the click with the brush color",
                           "Drag to lay a linear gradient in the brush color"};
    r.icons(4, h, {{&t.fill, 9}, {&t.gradient, 10}}, tips5, _on_tool, true);
    t.text = r.icon(12, "Type text and drop it as a movable selection", r.col(2, 4), r.cell(4), h,
                    _on_popup_button);
    t.arrow = r.icon(32, "Drop an arrow as a movable selection", r.col(3, 4), r.cell(4), h,
                     _on_shape);
    r.next(h);
    const float pick_w = r.cell(4);
    const float fill_w = std::min(r.W - pick_w - m.gap, std::max(r.cell(2), r.fit.tr("Fill|shape")));
    t.shape_fill = r.button(tavolix_tr("Fill|shape"), INSET, fill_w, m.row, _on_shape, true,
                            r.app->gui.shape_filled);
    t.eyedropper = r.icon(34, "Pick a color from the canvas (I, or hold Alt or Ctrl)",
                          r.col(3, 4), pick_w, m.row, _on_tool, true);
    r.next(m.row);
}

void build_color(ROWS& r, GUI_TOOLBAR_IDS& t) {
    const GUI_METRICS& m = r.m;
    r.begin("Color", r.app->gui.section_folded[2]);
    t.palette = r.combo(_on_palette_select);
    t.color = r.button(tavolix_tr("Color"), INSET, r.W, m.row, _on_color_chip);
    r.next(m.row);
    for (int i = 0; i < 8; i++) {
        t.swatches[i] = r.button(" ", r.col(i % 4, 4), r.cell(4), m.row, _on_swatch);
        if (i % 4 == 3) r.next(m.row);
    }
    const auto cells = r.split({r.fit.tr("Edit"), r.fit.tr("New|palette")});
    t.edit = r.button(tavolix_tr("Edit"), cells[0].x, cells[0].w, m.row, _on_palette_edit, true,
                      r.app->gui.palette_editing);
    t.new_palette = r.button(tavolix_tr("New|palette"), cells[1].x, cells[1].w, m.row,
                             _on_palette_new);
    r.next(m.row);
    t.manage = r.button(tavolix_tr("Manage palettes"), INSET, r.W, m.row, _on_popup_button);
    r.next(m.row);
}

void build_brush(ROWS& r, GUI_TOOLBAR_IDS& t) {
    const BRUSH& b = r.app->brush;
    r.begin("Brush", r.app->gui.section_folded[3]);
    t.size = r.slider("Size", 1, 128, b.size, "%.0f px", _on_brush_slider);
    t.opacity = r.slider("Opacity", 1, 100, b.opacity * 100, "%.0f %%", _on_brush_slider);
    t.flow = r.slider("Flow", 1, 100, b.flow * 100, "%.0f %%", _on_brush_slider);
    t.hardness = r.slider("Hardness", 0, 100, b.hardness * 100, "%.0f %%", _on_brush_slider);
    t.stabilizer = r.slider("Stabilizer", 0, STABILIZER_MAX, r.app->stabilizer, "%.0f",
                            _on_brush_slider);
}

void build_symmetry(ROWS& r, GUI_TOOLBAR_IDS& t) {
    const GUI_METRICS& m = r.m;
    TAVOLIX_APP* app = r.app;
    r.begin("Symmetry", app->gui.section_folded[4]);
    const auto mode = r.split({r.fit.widest("Sym:%s", SYMMETRY_MODE_COUNT, symmetry_mode_name),
                               r.fit.tr("MoveSym")});
    t.sym_mode = r.button("Sym", mode[0].x, mode[0].w, m.row, _on_sym_mode);
    t.sym_move = r.button(tavolix_tr("MoveSym"), mode[1].x, mode[1].w, m.row, _on_sym_move, true,
                          app->sym_move);
    r.next(m.row);
    t.sym_count = r.slider("Rad splits", 2, 12, app->symmetry.count, "%.0f", _on_sym_count);
    const auto reset = r.split({r.fit.tr("Reset"), offset_need(r.fit)});
    t.sym_reset = r.button(tavolix_tr("Reset"), reset[0].x, reset[0].w, m.row, _on_sym_reset);
    t.sym_offset = r.label(tavolix_tr("Off 0,0"), reset[1].x, reset[1].w, m.row);
    r.next(m.row);
}

void build_file_and_settings(ROWS& r, GUI_TOOLBAR_IDS& t) {
    const GUI_METRICS& m = r.m;
    TAVOLIX_APP* app = r.app;
    r.begin("File", app->gui.section_folded[5]);
    const auto file = r.split({r.fit.tr("New"), r.fit.tr("Save"), r.fit.tr("Load")});
    t.file_new = r.button(tavolix_tr("New"), file[0].x, file[0].w, m.row, _on_popup_button);
    t.save = r.button(tavolix_tr("Save"), file[1].x, file[1].w, m.row, _on_save);
    t.load = r.button(tavolix_tr("Load"), file[2].x, file[2].w, m.row, _on_load);
    r.next(m.row);
    t.export_ = r.button(tavolix_tr("Export"), INSET, r.W, m.row, _on_popup_button);
    r.next(m.row);

    r.begin("Settings", app->gui.section_folded[6]);
    t.pressure = r.button(tavolix_tr("Pressure Speed"), INSET, r.W, m.row, _on_setting_toggle,
                          true, app->pressure_from_speed);
    r.next(m.row);
    t.palm = r.button(tavolix_tr("Palm rejection"), INSET, r.W, m.row, _on_setting_toggle, true,
                      app->palm_rejection);
    r.next(m.row);

    r.label(tavolix_tr("Language"), INSET, r.W, 0.6f * m.row);
    r.next(0.6f * m.row);
    t.language = r.combo(_on_language);
    for (int id = 1; id <= 4; id++) q_gui_combobox_add_item(r.ctx, t.language, tavolix_lang_name(id));
    q_gui_combobox_set_selected(r.ctx, t.language, app->language > 0 ? app->language - 1 : 0);
    r.label(tavolix_tr("Interface size"), INSET, r.W, 0.6f * m.row);
    r.next(0.6f * m.row);
    t.ui_size = r.combo(_on_ui_size);
    for (const char* size : {"Small", "Normal", "Large", "Huge"})
        q_gui_combobox_add_item(r.ctx, t.ui_size, tavolix_tr(size));
    q_gui_combobox_set_selected(r.ctx, t.ui_size, std::clamp(app->ui_size, 0, 3));
    // The pen's options come last, so the rows above keep their places.
    t.pen_size = r.button(tavolix_tr("Pressure changes size"), INSET, r.W, m.row,
                          _on_setting_toggle, true, app->pen_size);
    r.next(m.row);
    r.label(tavolix_tr("Pen pressure"), INSET, r.W, 0.6f * m.row);
    r.next(0.6f * m.row);
    t.pen_curve = r.combo(_on_pen_curve);
    for (int curve = 0; curve < PEN_CURVE_COUNT; curve++)
        q_gui_combobox_add_item(r.ctx, t.pen_curve, tavolix_tr(pen_curve_name(curve)));
    q_gui_combobox_set_selected(r.ctx, t.pen_curve, std::clamp(app->pen_curve, 0, PEN_CURVE_COUNT - 1));
}

int build_toolbar(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    if (gui->toolbar_collapsed) {
        return gui->toolbar_window = add_tab(app, "tools", m.margin, ">", _on_toolbar_expand,
                                             &gui->tb.expand, "could not create toolbar tab window");
    }
    const float W = gui_toolbar_content_width(&m, static_cast<float>(app->display_w));
    const int win = add_panel_window(gui->ctx, "tools", m.margin, m.margin, W + 20 + m.scrollbar,
                                     static_cast<float>(app->display_h) - 2 * m.margin,
                                     PANEL_FLAGS, "could not create toolbar window");
    gui->toolbar_window = win;
    if (win < 0) return -1;
    ROWS r{app, gui->ctx, win, nullptr, m, W};
    gui->tb.collapse = r.icon(0, "Collapse or expand the whole toolbar to a side tab", INSET,
                              m.row, m.row, _on_toolbar_collapse);
    gui->tb.hide = r.icon(28, "Hide the whole UI for a clean canvas", INSET + m.row + m.gap,
                          m.row, m.row, _on_hide_ui);
    r.list = gui->toolbar_sections =
        q_gui_sectionlist_create(gui->ctx, win, INSET, INSET, W, m.row, m.gap, _on_toolbar_section, app);
    build_actions(r, gui->tb);
    build_tools(r, gui->tb);
    build_color(r, gui->tb);
    build_brush(r, gui->tb);
    build_symmetry(r, gui->tb);
    build_file_and_settings(r, gui->tb);
    q_gui_sectionlist_set_first_inset(r.list, 2 * (m.row + m.gap));
    q_gui_sectionlist_relayout(r.list);
    r.section = -1;
    gui->tb.help = r.button(tavolix_tr("Help"), INSET, W, m.row, _on_popup_button);
    gui->tb.exit = r.button(tavolix_tr("Exit"), INSET, W, m.row, _on_exit);
    _gui_place_toolbar_foot(app);
    return win;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Layer panel
// --------------------------------------------------------------------------------------------

void build_layers_section(ROWS& r, GUI_PANEL_IDS& p, float panel_h) {
    const GUI_METRICS& m = r.m;
    r.begin("Layers", r.app->gui.panel_section_folded[0]);
    // The list takes whatever height the panel's other rows leave: eleven rows (this header
    // included), two slider captions and the insets at the top and the bottom.
    const float L = 0.6f * m.row;
    const float list_h = std::max(
        2 * m.row, panel_h - 2 * INSET - 11 * (m.row + m.gap) - 2 * (L + m.gap) - m.gap);
    p.list = r.keep(q_gui_add_listbox(r.ctx, r.window, INSET, r.y, r.W, list_h,
                                      Q_GUI_LISTBOX_SINGLE, _on_layer_select, r.app));
    r.next(list_h);
    p.add = r.button("+", r.col(0, 4), r.cell(4), m.row, _on_layer_add);
    p.remove = r.button("-", r.col(1, 4), r.cell(4), m.row, _on_layer_remove);
    const char* tip = "Move the active layer toward the top / bottom";
    p.up = r.icon(19, tip, r.col(2, 4), r.cell(4), m.row, _on_layer_move);
    p.down = r.icon(20, tip, r.col(3, 4), r.cell(4), m.row, _on_layer_move);
    r.next(m.row);
    const auto edit = r.split({r.fit.tr("Clear"), r.fit.tr("Rename")}, {0.42f, 0.58f});
    p.clear = r.button(tavolix_tr("Clear"), edit[0].x, edit[0].w, m.row, _on_popup_button);
    p.rename = r.button(tavolix_tr("Rename"), edit[1].x, edit[1].w, m.row, _on_popup_button);
    r.next(m.row);
    const auto checks = r.split({r.fit.check("Show"), r.fit.check("Lock")});
    p.show = r.keep(q_gui_add_checkbox(r.ctx, r.window, tavolix_tr("Show"), checks[0].x, r.y,
                                       checks[0].w, m.row, 1, _on_layer_check, r.app));
    p.lock = r.keep(q_gui_add_checkbox(r.ctx, r.window, tavolix_tr("Lock"), checks[1].x, r.y,
                                       checks[1].w, m.row, 0, _on_layer_check, r.app));
    r.next(m.row);
    p.blend = r.button(tavolix_tr("Blend: Normal"), INSET, r.W, m.row, _on_layer_blend);
    r.next(m.row);
    p.opacity = r.slider("Opacity", 0, 100, 100, "%.0f %%", _on_layer_opacity);
}

int build_panel(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    const GUI_METRICS& m = gui->metrics;
    const float dw = static_cast<float>(app->display_w);
    if (gui->panel_collapsed) {
        return gui->panel_window =
                   add_tab(app, "layers", dw - m.tab_w - m.margin, "<", _on_panel_expand,
                           &gui->lp.expand, "could not create layer tab window");
    }
    const float P = gui_panel_width(&m, dw, gui->panel_width);
    gui->panel_width = P;
    const float H = static_cast<float>(app->display_h) - 2 * m.margin;
    uint32_t flags = PANEL_FLAGS;
    // Docked at the right edge, the panel widens or narrows by its left edge.
    if (platform_gui_panels_resizable()) flags |= Q_GUI_WINDOW_RESIZE_LEFT;
    const int win = add_panel_window(gui->ctx, "layers", dw - P - m.margin, m.margin, P, H, flags,
                                     "could not create layer panel window");
    gui->panel_window = win;
    if (win < 0) return -1;
    q_gui_window_set_width_range(gui->ctx, win, m.panel_min, gui_panel_width(&m, dw, 1e9f));
    q_gui_window_set_resize_callback(gui->ctx, win, _on_panel_resized, app);
    const float W = P - 20 - m.scrollbar;
    ROWS r{app, gui->ctx, win, nullptr, m, W};
    gui->lp.collapse = r.button(">", INSET, m.row, m.row, _on_panel_collapse);
    r.list = gui->panel_sections =
        q_gui_sectionlist_create(gui->ctx, win, INSET, INSET, W, m.row, m.gap, _on_panel_section, app);
    build_layers_section(r, gui->lp, H);
    r.begin("Template", gui->panel_section_folded[1]);
    gui->lp.templates = r.combo(_on_template);
    for (int i = 0; i < template_count(); i++)
        q_gui_combobox_add_item(gui->ctx, gui->lp.templates,
                                tavolix_tr(template_name(static_cast<unsigned>(i))));
    r.begin("Canvas", gui->panel_section_folded[2]);
    GUI_PANEL_IDS& p = gui->lp;
    const char* tips[] = {"Toggle the grid overlay", "Snap strokes and segments to the grid",
                          "Add diagonal grid lines and snap points"};
    r.icons(4, m.row, {{&p.grid, 25}, {&p.snap, 26}, {&p.diagonals, 27}}, tips, _on_grid_toggle,
            true);
    r.next(m.row);
    p.grid_size = r.slider("Grid size", 2, 256, app->grid.size, "%.0f px", _on_grid_size);
    q_gui_sectionlist_set_first_inset(r.list, m.row + m.gap);
    q_gui_sectionlist_relayout(r.list);
    return win;
}

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Init, first-run defaults and rebuild
// --------------------------------------------------------------------------------------------

void _gui_place_toolbar_foot(TAVOLIX_APP* app) {
    TAVOLIX_GUI* gui = &app->gui;
    Q_GUI_WIDGET* help = q_gui_get_widget(gui->ctx, gui->tb.help);
    if (!gui->ctx || !gui->toolbar_sections || !help) return;
    const GUI_METRICS& m = gui->metrics;
    const float y = q_gui_sectionlist_content_height(gui->toolbar_sections) + m.gap;
    q_gui_widget_set_rect(gui->ctx, gui->tb.help, help->x, y, help->w, m.row);
    q_gui_widget_set_rect(gui->ctx, gui->tb.exit, help->x, y + m.row + m.gap, help->w, m.row);
    const float bottom = y + 2 * m.row + m.gap + INSET;
    _gui_set_window_height(gui->ctx, gui->toolbar_window,
                           std::min(static_cast<float>(app->display_h) - 2 * m.margin, bottom));
}

void _gui_set_window_height(Q_GUI_CTX* ctx, int window, float height) {
    Q_GUI_WINDOW* win = q_gui_get_window(ctx, window);
    if (!win || win->h == height) return;
    struct PLACE {
        int id;
        float x, y, w, h;
    };
    std::vector<PLACE> places;
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        const Q_GUI_WIDGET* w = static_cast<const Q_GUI_WIDGET*>(n->ptr);
        places.push_back({w->id, w->x, w->y, w->w, w->h});
    }
    q_gui_window_set_rect(ctx, window, win->x, win->y, win->w, height);
    for (const PLACE& p : places) q_gui_widget_set_rect(ctx, p.id, p.x, p.y, p.w, p.h);
}

int tavolix_gui_init(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    q_assert(app->font, return 0);
    q_assert(app->display, return 0);
    TAVOLIX_GUI* gui = &app->gui;
    gui->icon_count = 0;
    gui->icons_ready = false;
    gui->slider_value_count = 0;
    gui->metrics = gui_metrics(app->ui_scale);
    reset_ids(gui);
    gui->toolbar_window = gui->panel_window = -1;
    for (int i = 0; i < GUI_POPUP_COUNT; i++) gui->popup_window[i] = gui->popup_field[i] = -1;
    gui->help_tab_window = -1;
    std::fill_n(reinterpret_cast<int*>(&gui->pp), sizeof gui->pp / sizeof(int), -1);
    gui->ctx = q_gui_new_ctx(app->font);
    q_assert(gui->ctx, return 0);
    q_gui_set_display(gui->ctx, app->display);
    q_gui_set_display_size(gui->ctx, static_cast<float>(app->display_w),
                           static_cast<float>(app->display_h));
    gui->ctx->style.scrollbar_size = gui->ctx->style.global_scrollbar_size = gui->metrics.scrollbar;
    // Whole pixels, so that the panels' edges and their cells do not fall between pixels.
    gui->metrics.toolbar_limit = std::max(gui->metrics.toolbar_limit, std::ceil(toolbar_need(app)));
    gui->metrics.panel_min = std::max(gui->metrics.panel_min, std::ceil(panel_need(app)));
    q_log(7, "gui widths for the translated labels: tool bar %.0f, layer panel %.0f",
          gui->metrics.toolbar_limit, gui->metrics.panel_min);

    if (build_toolbar(app) < 0) return 0;
    if (!gui->gui_initialised) {
        tavolix_gui_option_defaults(gui);
        gui->selected_swatch = -1;
        const PALETTE_RGB* colours = palette_active_colors(&app->palettes);
        unsigned char rgb[4];
        al_unmap_rgba(app->brush.color, &rgb[0], &rgb[1], &rgb[2], &rgb[3]);
        for (int i = 0; colours && i < 8; i++)
            if (colours[i][0] == rgb[0] && colours[i][1] == rgb[1] && colours[i][2] == rgb[2]) {
                gui->selected_swatch = i;
                break;
            }
        gui->gui_initialised = true;
    }
    if (build_panel(app) < 0) return 0;
    // A popup that cannot be made leaves the panels and the popups made before it working.
    _build_popups(app);
    _gui_fill_palettes(app);
    tavolix_gui_sync(app);
    tavolix_gui_sync_layers(app);
    gui->gui_cache_valid = false;
    q_log(7, "gui labels: %s, %s, %s, %s", tavolix_tr("Actions"), tavolix_tr("Tools"),
          tavolix_tr("Color"), tavolix_tr("Help"));
    q_log(6, "gui ready, toolbar window %d, layer panel %d", gui->toolbar_window,
          gui->panel_window);
    return 1;
}

int tavolix_gui_rebuild(TAVOLIX_APP* app) {
    q_assert(app, return 0);
    tavolix_gui_shutdown(app);
    return tavolix_gui_init(app);
}

void tavolix_gui_option_defaults(TAVOLIX_GUI* gui) {
    q_assert(gui, return);
    gui->shape_filled = false;
    for (bool& folded : gui->section_folded) folded = false;
    gui->section_folded[4] = gui->section_folded[5] = gui->section_folded[6] = true;
    for (bool& folded : gui->panel_section_folded) folded = false;
    gui->toolbar_collapsed = false;
    gui->panel_collapsed = false;
    gui->panel_width = 0.0f;
    gui->export_mode = 1;
    gui->export_border = 32;
    gui->export_template = true;
    gui->export_ora = false;
    gui->text_size = 48;
    gui->text_font = 0;
    gui->picker_rgba[3] = 255;
    gui->palette_editing = false;
    gui->selected_swatch = -1;
    gui->edit_swatch = -1;
}

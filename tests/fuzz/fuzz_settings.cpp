// Feeds arbitrary bytes to the settings reader, starting from the start-up defaults: whatever
// the file holds, every field must end inside the range the program relies on.
#include <cstdint>
#include <cstdlib>

#include "q/q_log.h"
#include "tavolix_app.h"

namespace {

bool within(float value, float low, float high) { return value >= low && value <= high; }

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_log_level(-1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TAVOLIX_APP app;
    app = TAVOLIX_APP{};
    app.preset = -1;
    app.ui_size = 1;
    brush_defaults(&app.brush);
    grid_init(&app.grid);
    symmetry_init(&app.symmetry, nullptr);
    tavolix_gui_option_defaults(&app.gui);
    _settings_apply(&app, data, size);
    const TAVOLIX_GUI& gui = app.gui;
    const bool ok =
        within(app.language, 0, 4) && within(app.tool, TOOL_BRUSH, TOOL_LINE) &&
        within(app.preset, -1, brush_preset_count() - 1) && within(app.brush.size, 1, 128) &&
        within(app.brush.opacity, 0.01f, 1) && within(app.brush.flow, 0.01f, 1) &&
        within(app.brush.hardness, 0, 1) && within(app.brush.tip, 0, 6) &&
        within(app.grid.size, 2, 256) && within(app.symmetry.mode, 0, 4) &&
        within(app.symmetry.count, 2, 16) && within(gui.panel_width, 0, 4096) &&
        within(gui.export_border, 0, 256) && within(gui.text_size, PLACED_TEXT_SIZE_MIN, PLACED_TEXT_SIZE_MAX) &&
        within(gui.text_font, 0, 3) && within(app.ui_size, 0, 3) &&
        within(app.stabilizer, 0, STABILIZER_MAX) && within(app.pen_curve, 0, PEN_CURVE_COUNT - 1) &&
        within(app.recent.count, 0, RECENT_COLOUR_COUNT);
    if (!ok) abort();
    return 0;
}

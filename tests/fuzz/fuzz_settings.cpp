// Feeds arbitrary bytes to the settings reader; every field must end inside its range.
#include <cstdint>
#include <cstdlib>

#include "q/q_log.h"
#include "tavolix_app.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_log_level(-1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TAVOLIX_APP app;
    app = TAVOLIX_APP{};
    brush_defaults(&app.brush);
    _settings_apply(&app, data, size);
    if (app.tool < TOOL_BRUSH || app.tool > TOOL_LINE || app.language < 0 || app.language > 4 ||
        app.brush.size < 1.0f || app.brush.size > 128.0f || app.symmetry.count < 0 ||
        app.symmetry.count > 16 || app.ui_size < 0 || app.ui_size > 3 || app.preset < -1)
        abort();
    return 0;
}

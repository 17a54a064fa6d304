#include "q/q_log.h"
#include "tavolix_app.h"

namespace {
// One record for the whole run; zero-filled before start-up touches it.
TAVOLIX_APP app;
} // namespace

int main(int argc, char** argv) {
    if (!tavolix_app_init(&app, argc, argv)) {
        q_log(0, "init failed, exiting");
        tavolix_app_shutdown(&app);
        return 1;
    }
    // A loop that could not run at all is a failure too, not a clean exit.
    const int ran = tavolix_app_run(&app);
    tavolix_app_shutdown(&app);
    return ran ? 0 : 1;
}

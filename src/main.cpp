#include <cstdio>

#include "cli.h"
#include "cmdline.h"
#include "q/q_log.h"
#include "tavolix_app.h"

namespace {
// One record for the whole run; zero-filled before start-up touches it.
TAVOLIX_APP app;
} // namespace

int main(int argc, char** argv) {
    // What needs no window is answered before anything of the window is prepared.
    CMDLINE cmd;
    cmdline_parse(argc, argv, &cmd);
    if (cmd.ignored && cmd.mode != CMDLINE_ERROR) fprintf(stderr, "tavolix: ignoring unknown option %s\n", cmd.ignored);
    switch (cmd.mode) {
    case CMDLINE_HELP: fputs(cmdline_usage(), stdout); return 0;
    case CMDLINE_VERSION: printf("tavolix %s\n", TAVOLIX_VERSION_TEXT); return 0;
    case CMDLINE_ERROR: fprintf(stderr, "tavolix: %s\nTry 'tavolix --help'.\n", cmd.error); return 2;
    case CMDLINE_EXPORT:
    case CMDLINE_THUMBNAIL: return cli_run(&cmd);
    default: break;
    }
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

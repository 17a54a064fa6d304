# The ways to end the program: the window's close button on the canvas and on the splash, and
# Escape on the splash. Each ends the main loop normally and exits with status 0.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1400x900

# ends_cleanly WHAT: the program exits by itself with status 0 after a normal loop end.
ends_cleanly() {
    wait_exit
    assert_eq "$APP_STATUS" 0 "exit status after $1"
    assert_log_order "main loop done" "Tavolix shut down"
    assert_no_failures
}

# --- Close button on the canvas. -----------------------------------------------------------
app_canvas
close_window
ends_cleanly "the close button on the canvas"

# --- Close button on the splash: quits without passing through the canvas. ------------------
# The splash waits for the test's input however slow the machine is.
export TAVOLIX_TEST_SPLASH_SECONDS=600
app_start
wait_log "state switch: (none) -> splash"
app_window
close_window
ends_cleanly "the close button on the splash"
assert_no_log "splash -> canvas"

# --- Escape on the splash quits instead of entering the canvas like other keys. ------------
app_start
wait_log "state switch: (none) -> splash"
app_window
key Escape
ends_cleanly "Escape on the splash"
assert_no_log "splash -> canvas"

pass

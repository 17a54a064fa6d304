# Start-up and the splash: the order of the start-up log, the three ways out of the splash
# (key, mouse button, timeout) and the "-v" switch. Which one ended the splash is read from the
# program's DEBUG line, not from a clock: how fast it starts is measured in bench/.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1400x900

# splash_run WHAT [INPUT...]: the program with -v, and INPUT (a command) on its splash; the
# splash must end through WHAT (key, mouse button, timer) and the canvas be drawn after it.
# Runs with input ask the splash to wait for it, so that a slow machine cannot end it first;
# the timer's run keeps the usual 2 s.
splash_run() {
    local what=$1
    shift
    if [ "$what" = timer ]; then
        # A value that is not a number of seconds up to an hour keeps the usual time.
        TAVOLIX_TEST_SPLASH_SECONDS=inf app_start -v
    else
        TAVOLIX_TEST_SPLASH_SECONDS=600 app_start -v
    fi
    wait_log "state switch: (none) -> splash"
    app_window
    [ $# = 0 ] || "$@"
    wait_drawn "canvas ready" 1 20
    assert_log_order "state switch: (none) -> splash" "splash left by a $what after" \
        "state switch: splash -> canvas" "canvas ready"
}

# --- A key on the splash enters the canvas at once; Escape then quits cleanly. The blank
# --- page's layer is made once the splash's first frame is on screen. ---------------------
splash_run key key space
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status after Escape"
assert_log_order \
    "Tavolix 1.3.7 starting" \
    "desktop platform ready, save dir: $APPDATA/Tavolix" \
    "display 1280x800" \
    "state switch: (none) -> splash" \
    "frame 1 drawn" \
    "added layer Layer 1 (4096x4096)" \
    "state switch: splash -> canvas" \
    "canvas ready, 4096x4096 document on 1280x800 display" \
    "main loop done" \
    "Tavolix shut down"
assert_no_failures
[ -d "$APPDATA/Tavolix" ] || fail "save folder $APPDATA/Tavolix missing after the run"

# --- Without input the splash leaves by itself after 2 s of ticks. --------------------------
splash_run timer
grep -qE 'splash left by a timer after 2\.0[0-9] s' "$LOG" || fail "the splash did not last 2 s of ticks"
assert_log 'TAVOLIX_TEST_SPLASH_SECONDS="inf" ignored'
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status after the timeout run"

# --- A mouse click on the splash enters the canvas at once. ---------------------------------
splash_run "mouse button" click_at 640 400
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status after the click run"
assert_no_failures

# --- Without "-v" no DEBUG lines, and an argument that merely starts with "-v" is not the
# --- switch, although focusing the window logs a display-switch event at the DEBUG level. ---
for args in "" -vv; do
    app_start $args
    wait_log "state switch: (none) -> splash"
    app_window
    key space
    wait_log "canvas ready"
    key Escape
    wait_exit
    assert_eq "$APP_STATUS" 0 "exit status with '$args'"
    assert_no_log "DEBUG:"
done

pass

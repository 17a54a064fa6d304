# Start-up and the splash: the order of the start-up log, the three ways out of the splash
# (key, mouse button, timeout) and the "-v" switch.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1400x900

# --- A key on the splash enters the canvas at once; Escape then quits cleanly. -------------
app_start
wait_log "state switch: (none) -> splash"
splash_us=$SEEN_US
app_window
key_us=$(now_us)
key space
wait_log "canvas ready"
assert_elapsed_ms "$key_us" "$SEEN_US" 0 700 "key press to canvas"
# The timer would need 2 s from the splash line; anything well below proves the key did it.
assert_elapsed_ms "$splash_us" "$SEEN_US" 0 1800 "splash to canvas with a key"
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status after Escape"
assert_log_order \
    "Tavolix 1.3.7 starting" \
    "desktop platform ready, save dir: $APPDATA/Tavolix" \
    "display 1280x800" \
    "added layer Layer 1 (4096x4096)" \
    "state switch: (none) -> splash" \
    "state switch: splash -> canvas" \
    "canvas ready, 4096x4096 document on 1280x800 display" \
    "main loop done" \
    "Tavolix shut down"
assert_no_failures
assert_no_log "DEBUG:"
[ -d "$APPDATA/Tavolix" ] || fail "save folder $APPDATA/Tavolix missing after the run"

# --- Without input the splash leaves by itself after 2 s; "-v" adds DEBUG lines. ----------
# Focusing the window produces a display-switch event, which is logged at the DEBUG level.
app_start -v
wait_log "state switch: (none) -> splash"
splash_us=$SEEN_US
app_window
wait_log "canvas ready" 8
assert_elapsed_ms "$splash_us" "$SEEN_US" 1850 4000 "splash timeout"
assert_log "DEBUG:"
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status with -v"

# --- A mouse click on the splash enters the canvas at once. An argument that merely starts
# --- with "-v" is not the switch: no DEBUG lines although the window took focus again. ----
app_start -vv
wait_log "state switch: (none) -> splash"
splash_us=$SEEN_US
app_window
click_us=$(now_us)
click_at 640 400
wait_log "canvas ready"
assert_elapsed_ms "$click_us" "$SEEN_US" 0 700 "click to canvas"
assert_elapsed_ms "$splash_us" "$SEEN_US" 0 1800 "splash to canvas with a click"
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status after the click run"
assert_no_log "DEBUG:"
assert_no_failures

pass

# Start-up failures end cleanly: a clear level-0 line naming the step, "init failed, exiting",
# exit status 1, and nothing left running.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1400x900

# --- No fonts: the binary alone, away from its assets folder. -------------------------------
mkdir -p "$W/lonely"
cp "$BIN" "$W/lonely/tavolix"
REAL_BIN=$BIN
BIN="$W/lonely/tavolix"
app_start
wait_exit 10
assert_eq "$APP_STATUS" 1 "exit status without fonts"
assert_log_order "could not load font" "could not load the interface font" \
    "init failed, exiting" "Tavolix shut down"
grep -q '^EMERG:.*could not load the interface font' "$LOG" || fail "the font failure is not level 0"
[ -z "$(find_windows)" ] || fail "a window stayed open after the failed start"
BIN=$REAL_BIN

# --- No display to open: the X connection is gone. ------------------------------------------
LOG="$W/run_nodisplay.log" # pass() reads it for sanitizer reports, as every run's log
(cd "$W" && env -u DISPLAY APPDATA="$W/nodisplay" "$BIN") >"$LOG" 2>&1 && status=0 || status=$?
assert_eq "$status" 1 "exit status without a display"
assert_log "EMERG:"
assert_log "init failed, exiting"

pass

# A save folder that stops taking writes while the user paints: the window says so (a
# notification and a lasting "Not saved" marker), a quit asks instead of ending with the drawing
# lost, Cancel keeps painting, and once the folder takes writes again the quit saves. Quitting
# anyway ends with a non-zero status.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1280x800
shared_save

# Root writes into a read-only folder all the same; the program runs without that privilege,
# as any user's would.
if [ "$(id -u)" = 0 ]; then
    REAL_BIN=$BIN
    BIN="$W/tavolix-unprivileged"
    printf '#!/bin/sh\nexec setpriv --bounding-set -dac_override,-dac_read_search "%s" "$@"\n' \
        "$REAL_BIN" >"$BIN"
    chmod +x "$BIN"
fi
ASK_Y=$(_pp_row 3 2)
ASK_QUIT="640 $ASK_Y" ASK_CANCEL="756 $ASK_Y"

app_canvas
drag 300 300 500 300
wait_log "session persisted to $DIR/session.tvl in the background" 20

# --- The folder turns read-only: the next background write fails and the window says so. ----
chmod a-w "$DIR"
drag 300 500 500 500
wait_log "notification: Drawing not saved: the folder is read-only" 30
click_pp notify_ok
shot marker
assert_pixel marker 575 778 176 32 32 # the marker at the bottom of the canvas

# --- A quit asks; Cancel goes on painting; with the folder writable again the quit saves. ---
key Escape
wait_log "ask: Drawing not saved: the folder is read-only Quit anyway?"
click_at $ASK_CANCEL
wait_log "pending action 5 dropped"
kill -0 "$APP_PID" || fail "Cancel ended the program"
chmod u+w "$DIR"
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status once the folder took the write"

# --- Quitting anyway: the failure is reported and the exit status says so. -----------------
app_canvas
assert_log "previous session document restored"
drag 300 600 500 600
chmod a-w "$DIR"
key Escape
wait_log "ask: Drawing not saved: the folder is read-only"
click_at $ASK_QUIT
wait_exit 20
chmod u+w "$DIR"
assert_eq "$APP_STATUS" 1 "exit status with the drawing not on disk"
assert_log "exit write failed: the drawing is not on disk"

# --- What was saved is back: the stroke saved after Cancel, not the one quit without. -------
app_canvas
export_png back
png_crop back_rows back "$(doc_x 350)" "$(doc_y 300)" 100 301
[ "$(pixel back_rows 50 200)" != "255 255 255" ] || fail "the stroke saved after Cancel is lost"
assert_eq "$(pixel back_rows 50 300)" "255 255 255" "the stroke quit without"
key Escape
wait_exit 20
pass

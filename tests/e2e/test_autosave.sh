# The drawing is kept safe without being asked: written in the background shortly after the
# user stops, back after a kill -9, never broken by a kill in the middle of a write, and a
# full disk costs only what was not written yet.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1400x900

shared_save
SESSION="$DIR/session.tvl"
BACKGROUND="session persisted to $SESSION in the background"
STARTED="autosave: writing $SESSION in the background" # a DEBUG line

kill_app() {
    kill -9 "$APP_PID"
    wait "$APP_PID" 2>/dev/null
    APP_PID=
}

# stroke_at IMAGE Y: whether the export IMAGE holds the stroke drawn along window row Y.
stroke_at() {
    png_crop "row$2" "$1" "$(doc_x 350)" "$(doc_y "$2")" 100 1
    [ "$(pixel "row$2" 50 0)" != "255 255 255" ]
}

# --- A stroke is written in the background once the user stops; kill -9 keeps it. ----------
app_canvas
drag 300 300 500 300
wait_log "$BACKGROUND" 20
kill_app

# --- It is back after the kill. A stroke killed before the idle delay is lost, nothing else. -
# The stroke is on the screen, and the pointer moved on after it, before the kill: the program
# had all of it. A machine so slow that the idle delay ran out first (the log shows a write
# begun) tries again on another row.
for row in 500 540 580 none; do
    [ "$row" != none ] || fail "the idle delay ran out before each of three kills"
    app_canvas
    assert_log "previous session document restored"
    export_png first
    stroke_at first 300 || fail "the stroke written before the kill did not come back"
    drag 300 "$row" 500 "$row"
    point_at 700 700
    shot stroke
    assert_pixel stroke 400 "$row" 40 40 40
    kill_app
    grep -qF "$STARTED" "$LOG" || break
    note "the idle delay ran out before the kill; once more"
done
[ ! -e "$SESSION.bad" ] || fail "a kill before the idle delay left a broken session"

app_canvas
export_png second
stroke_at second 300 || fail "the written stroke is gone"
! stroke_at second "$row" || fail "a stroke nobody waited for was written"
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status"
assert_log "session in $SESSION is current, not written again"
assert_no_failures

# --- A full disk: the write fails and says so, the old file stays, painting goes on, and a
# --- quit anyway ends with a non-zero status. ------------------------------------------------
good=$(md5sum <"$SESSION")
limit=$(ulimit -S -f)
ulimit -S -f 300 # KiB; the program ignores the signal a write past it would send
app_canvas
ulimit -S -f "$limit"
drag 300 700 500 700
wait_log "autosave: could not write $SESSION, trying again in 15 s" 20
assert_eq "$(md5sum <"$SESSION")" "$good" "the session after a failed write"
wait_log "notification: Drawing not saved: the disk is full"
click_pp notify_ok
drag 700 300 700 500
wait_pixel 700 400 40 40 40 # still painting
key Escape # the quit asks: the drawing is not on disk
wait_log "ask: Drawing not saved: the disk is full"
click_at 640 "$(_pp_row 3 2)" # Quit
wait_exit 20
assert_eq "$APP_STATUS" 1 "exit status with a full disk"
assert_log "session persist: could not write $SESSION"
assert_eq "$(md5sum <"$SESSION")" "$good" "the session after a failed exit write"

# --- Kills in the middle of writing a large drawing: the old or the new file, whole. --------
# Two layers of noise make each write take a while.
python3 - "$SESSION" <<'PY' || fail "could not make the large session"
import os, struct, sys
side = 4096
with open(sys.argv[1], "wb") as out:
    out.write(b"TVL3" + struct.pack("<4I", side, side, 0, 2))
    for i in range(2):
        image = bytes([0, 0, 2]) + bytes(9) + struct.pack("<HH", side, side) + bytes([32, 8])
        image += os.urandom(side * side * 4)
        out.write(struct.pack("<I", 5) + b"noise" + struct.pack("<5I", 1000, 0, 1, 0, len(image)))
        out.write(image)
PY
# The first kill comes while the temporary file grows, the second once the write is done.
# written_or_growing: the write has finished, or its temporary file has bytes.
written_or_growing() { grep -qF "$BACKGROUND" "$LOG" || [ -s "$SESSION.tmp" ]; }
for round in 1 2; do
    app_canvas
    wait_log "previous session document restored" 20
    before=$(md5sum <"$SESSION")
    drag 300 $((250 + 30 * round)) 500 $((250 + 30 * round))
    wait_log "$STARTED" 30
    if [ $round = 1 ]; then
        poll 30 "the write neither began its file nor finished" written_or_growing
    else
        wait_log "$BACKGROUND" 60
    fi
    kill_app
    after=$(md5sum <"$SESSION")
    [ $round = 1 ] || [ "$before" != "$after" ] || fail "a finished write left the old session"
    note "round $round: the file is the $([ "$before" = "$after" ] && echo old || echo new) one"
done
app_canvas
assert_log "loaded document $SESSION (4096x4096, 2 layers)"
[ ! -e "$SESSION.bad" ] || fail "a kill during a write left a broken session"
key Escape
wait_exit 30

pass

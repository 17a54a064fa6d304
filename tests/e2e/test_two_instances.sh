# Two windows on one save folder never cost either drawing: the second keeps its drawing in a
# session file of its own and says so, both drawings are on disk whichever quits first, and
# the next start keeps the second window's file as a document of the Load list.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1280x800
shared_save

# The program's variables for window A and window B, swapped in and out of lib.sh's.
save_as() { eval "${1}_PID=\$APP_PID ${1}_LOG=\$LOG ${1}_WID=\$WID"; }
use() { eval "APP_PID=\$${1}_PID LOG=\$${1}_LOG WID=\$${1}_WID"; }

_second_window() { # the window that was not there before, while the program runs
    kill -0 "$APP_PID" 2>/dev/null || fail "the second program exited before its window appeared"
    WID=$(find_windows | grep -vxF -e "$SECOND_BEFORE" | head -n 1)
    [ -n "$WID" ]
}

# start_second: the program again, its window being the one that was not there before.
start_second() {
    local before
    before=$(find_windows)
    app_start
    SECOND_BEFORE=$before
    wait_log "state switch: (none) -> splash" 20 # keys before the event queue exists are lost
    poll 10 "a second window" _second_window
    timeout $((5 * E2E_SLOW)) xdotool windowfocus --sync "$WID" || fail "could not focus window $WID"
    key space
    wait_log "canvas ready"
    wait_log "notification: Second window: saved in session-2.tvl"
    click_pp notify_ok # Escape would close it first rather than quit
}

quit() { # A or B
    use "$1"
    timeout 5 xdotool windowfocus --sync "$WID" || fail "could not focus window $WID"
    key Escape
    wait_exit 20
    assert_eq "$APP_STATUS" 0 "exit status of window $1"
}

# stroke_in FILE ROW: whether the document FILE, opened on its own, holds a stroke on that
# window row (it is opened as the session of a scratch save folder and exported).
stroke_in() {
    local keep=$APPDATA_OVERRIDE
    rm -rf "$W/probe" && mkdir -p "$W/probe/Tavolix" && cp "$1" "$W/probe/Tavolix/session.tvl"
    APPDATA_OVERRIDE="$W/probe"
    app_canvas
    export_png probe
    key Escape
    wait_exit 20
    APPDATA_OVERRIDE=$keep
    png_crop probe_row probe "$(doc_x 350)" "$(doc_y "$2")" 100 1
    [ "$(pixel probe_row 50 0)" != "255 255 255" ]
}

# --- Both windows paint; in the first round the second window quits first. -----------------
for round in 1 2; do
    app_canvas
    save_as A
    drag 300 $((100 * round)) 500 $((100 * round))
    start_second
    save_as B
    assert_log "session slot 2: $DIR/session-2.tvl"
    drag 300 $((100 * round + 400)) 500 $((100 * round + 400))
    wait_pixel 400 $((100 * round + 400)) 40 40 40
    if [ $round = 1 ]; then quit B; quit A; else quit A; quit B; fi
    stroke_in "$DIR/session.tvl" $((100 * round)) || fail "round $round: window A's stroke is lost"
    stroke_in "$DIR/session-2.tvl" $((100 * round + 400)) || fail "round $round: window B's stroke is lost"
    ! stroke_in "$DIR/session.tvl" $((100 * round + 400)) || fail "round $round: B wrote over A"
    [ $round = 2 ] || mv "$DIR/session-2.tvl" "$W/round1-b.tvl" # the second round starts clean
done

# --- The next start keeps the left file as a document and offers it in the Load list. ------
app_canvas
kept=$(sed -n 's/.*notification: Kept in the Load list: //p' "$LOG" | head -n 1)
[ -n "$kept" ] || fail "the left session was not offered"
[ ! -e "$DIR/session-2.tvl" ] || fail "the left session file is still in its slot"
click_pp notify_ok
key Escape
wait_exit 20
stroke_in "$DIR/$kept.tvl" 600 || fail "the kept document is not window B's drawing"
pass

# A logout, a shutdown or a kill (SIGTERM, SIGHUP, SIGINT) quits like the user would: the stroke
# just painted is in the session at the next start. And what may sit in the save folder in
# place of the program's files never hangs or breaks a start: a FIFO named session.tvl, a
# folder named session.tvl, a folder others may write into.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1280x800
shared_save

# --- Each signal after a stroke: the program ends at once, with the stroke written. ---------
row=200
for signal in TERM HUP INT; do
    app_canvas
    drag 300 $row 500 $row
    wait_pixel 400 $row 40 40 40 # the stroke is on screen: the program has it
    kill -s "$signal" "$APP_PID"
    wait_exit 10
    assert_eq "$APP_STATUS" 0 "exit status after SIG$signal"
    assert_log "quit requested by signal $(kill -l "$signal")"
    assert_log "session persisted to $DIR/session.tvl"
    row=$((row + 100))
done
app_canvas
assert_log "previous session document restored"
export_png after
for row in 200 300 400; do
    png_crop "row$row" after "$(doc_x 350)" "$(doc_y $row)" 100 1
    [ "$(pixel "row$row" 50 0)" != "255 255 255" ] || fail "the stroke at $row is not in the session"
done
key Escape
wait_exit 20

# --- A FIFO in the session's place: the start does not wait on it, the page is blank, and the
# --- first write replaces it with a document. ------------------------------------------------
rm "$DIR/session.tvl"
mkfifo "$DIR/session.tvl"
chmod 0777 "$DIR"
# The start reaching the canvas at all shows that nothing waited on the FIFO for a writer.
app_canvas
assert_log "session file $DIR/session.tvl is not a regular file, not read"
assert_log "the save folder $DIR is writable by other users"
wait_pixel 640 400 255 255 255
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status"
[ -f "$DIR/session.tvl" ] || fail "the exit did not write a session file in the FIFO's place"

# --- A folder in the session's place: the next session file is used, nothing is lost. -------
mv "$DIR/session.tvl" "$W/kept.tvl"
mkdir "$DIR/session.tvl"
app_canvas
assert_log "$DIR/session.tvl is a folder, not a session file; trying the next session slot"
assert_log "session slot 2: $DIR/session-2.tvl"
drag 300 600 500 600
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status"
[ -f "$DIR/session-2.tvl" ] || fail "the drawing went nowhere"
pass

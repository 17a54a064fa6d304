# What the program remembers between runs: the settings changed by keys, the picture through
# the session document (a paste included, stepped 16 pixels down and right), and what happens
# when the session document is damaged or a temporary file was left behind by a crash.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1400x900

shared_save
field() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

# --- Run 1: change settings by keys, paint, copy and paste, quit. ---------------------------
app_canvas
key bracketright bracketright g
drag 300 300 500 300
key s
drag 280 270 520 330
key ctrl+c ctrl+v # the program follows Ctrl in the order of the key events
key Return
export_png first
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status of the first run"
assert_log "session persisted to $SAVE/Tavolix/session.tvl"
settings="$SAVE/Tavolix/settings.dat"
assert_eq "$(stat -c %s "$settings")" 172 "settings file size"
assert_eq "$(field "$settings" 32)" 37 "brush size after two ] presses"
assert_eq "$(field "$settings" 56)" 1 "grid visible after G"
assert_eq "$(field "$settings" 20)" 3 "the select tool"

# --- Run 2: everything comes back. -----------------------------------------------------------
app_canvas
assert_log "previous session document restored"
assert_log "settings load: 172 bytes"
export_png second
assert_same_png first second "the picture after a restart"
png_crop around second "$(doc_x 250)" "$(doc_y 250)" 320 120
assert_doc_pixel around "$(doc_x 400)" "$(doc_y 300)" 40 40 40 12
# Only the pasted copy, 16 pixels down and right, reaches past the stroke's right end.
assert_doc_pixel around "$(doc_x 524)" "$(doc_y 316)" 40 40 40 12
assert_doc_pixel around "$(doc_x 528)" "$(doc_y 280)" 255 255 255
assert_doc_pixel around "$(doc_x 400)" "$(doc_y 350)" 255 255 255
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status of the second run"
assert_no_failures
# What the drawing costs is logged once it is loaded and at the end: the committed copies are
# the painted 256 x 256 tiles only (a quarter of a megabyte each), far fewer than the 256 tiles
# of each 4096 x 4096 layer.
assert_log_order "loaded document $SAVE/Tavolix/session.tvl" "memory after load: resident " \
    "previous session document restored" "memory at exit: resident " "main loop done"
memory=$(grep -oE 'memory after load: resident [0-9.]+ MB, committed copies [0-9.]+ MB of [0-9]+ layers? \([0-9]+ tiles\)' "$LOG")
read -r resident copies layers tiles < <(sed -E 's/.*resident ([0-9.]+) MB, committed copies ([0-9.]+) MB of ([0-9]+) layers? \(([0-9]+) tiles\).*/\1 \2 \3 \4/' <<<"$memory")
assert_eq "$copies" "$(awk -v t="$tiles" 'BEGIN { printf "%.1f", t / 4 }')" "committed copies of $tiles tiles, in MB"
[ "$tiles" -ge 1 ] && [ "$tiles" -lt "$((256 * layers))" ] || fail "$tiles tiles stored for $layers layers"
awk -v r="$resident" -v c="$copies" 'BEGIN { exit !(r >= c) }' || fail "resident $resident MB is less than the committed copies"

# --- Run 3: a damaged session is kept aside, a stale temporary file is harmless. ------------
printf 'TVL3 damaged by a crash' >"$SAVE/Tavolix/session.tvl"
printf 'half a picture' >"$SAVE/Tavolix/session.tvl.tmp"
app_canvas
assert_log "could not be loaded, kept as $SAVE/Tavolix/session.tvl.bad"
assert_log "canvas ready, 4096x4096 document"
wait_log "notification: Damaged drawing kept as session.tvl.bad"
click_pp notify_ok # the window says what was kept and where
export_png blank
[ "$(png_dark blank 200)" = 0 ] || fail "the damaged session was not replaced by a blank page"
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status after a damaged session"
assert_eq "$(cat "$SAVE/Tavolix/session.tvl.bad")" "TVL3 damaged by a crash" "the damaged file kept"
[ "$(head -c 4 "$SAVE/Tavolix/session.tvl")" = TVL3 ] || fail "no new session written"
[ ! -e "$SAVE/Tavolix/session.tvl.tmp" ] || fail "the temporary session file was left behind"

pass

# Big drawings cost memory for what is painted only. A session of eight 4096 x 4096 layers,
# each holding one 3000 x 120 band, comes back pixel for pixel with only the tiles under the
# bands stored; a new 16384 x 16384 canvas takes a stroke, is saved and comes back.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1280x800
shared_save
mkdir -p "$DIR"

# memory_line RUN WHEN: "resident copies layers tiles" from the memory report of a run's log.
memory_line() {
    grep -oE "memory $2: resident [0-9.]+ MB, committed copies [0-9.]+ MB of [0-9]+ layers? \\([0-9]+ tiles\\)" \
        "$W/run$1.log" | sed -E 's/.*resident ([0-9.]+) MB, committed copies ([0-9.]+) MB of ([0-9]+) layers? \(([0-9]+) tiles\).*/\1 \2 \3 \4/'
}

# --- Run 1: the banded session comes back exactly, holding 12 x 12 tiles. -------------------
bands=()
while read -r x0 y0 x1 y1 r g b; do
    bands+=(-fill "rgb($r,$g,$b)" -draw "rectangle $x0,$y0 $x1,$y1")
done < <(python3 "$E2E_DIR/banded_session.py" "$DIR/session.tvl" 4096 8)
[ "${#bands[@]}" = 32 ] || fail "could not write the banded session"
convert -size 4096x4096 xc:white "${bands[@]}" "$W/expected.png" || fail "could not draw the bands"
app_canvas
assert_log "previous session document restored"
assert_log "canvas ready, 4096x4096 document"
# Every band covers 12 columns of tiles and one or two rows: 12 rows in all.
read -r resident copies layers tiles < <(memory_line 1 "after load")
assert_eq "$layers $tiles $copies" "8 144 36.0" "layers, stored tiles and their MB"
note "resident after the restore: $resident MB"
export_png restored
assert_eq "$(compare -metric AE "$W/expected.png" "$W/restored.png" null: 2>&1)" 0 \
    "pixels of the restored bands that differ"
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status of the banded run"
assert_no_failures

# --- Run 2: a new 16384 x 16384 canvas, one stroke, saved. -----------------------------------
export APPDATA_OVERRIDE="$W/big"
mkdir -p "$W/big/Tavolix"
export TAVOLIX_NO_NATIVE_CHOOSER=1
app_canvas
# Brush and Color folded, File unfolded, as the File popups' test has them.
click_at 108 716
click_at 108 478
click_at 108 580
click_at 46 614 # New
click_pp new_0
wait_log "notification: New 16384x16384 canvas." 60
click_pp notify_ok
drag 500 300 700 420
key ctrl+s
type_text "Big"
key Return
wait_log "notification: Saved: Big.tvl" 60
click_pp notify_ok
key Escape
wait_exit 60
assert_eq "$APP_STATUS" 0 "exit status of the big canvas run"
assert_no_failures
read -r _ _ layers tiles < <(memory_line 2 "at exit")
[ "$layers" = 1 ] && [ "$tiles" -ge 1 ] && [ "$tiles" -le 16 ] ||
    fail "$tiles tiles stored for the stroke on $layers layers"
"$BIN" --thumbnail "$W/big/Tavolix/Big.tvl" "$W/big_thumb.png" 512 || fail "no thumbnail of Big.tvl"
[ "$(png_dark big_thumb 128)" -ge 1 ] || fail "the saved canvas shows no stroke"

# --- Run 3: the canvas and its stroke come back from the session. ---------------------------
# Making the 1 GB working bitmap takes seconds on a software renderer, behind the splash.
app_start -v
app_window
key space
wait_drawn "canvas ready" 1 90
assert_log "previous session document restored"
assert_log "canvas ready, 16384x16384 document"
read -r _ _ layers tiles_back < <(memory_line 3 "after load")
assert_eq "$layers $tiles_back" "1 $tiles" "layers and stored tiles after the restore"
key Escape
wait_exit 60
assert_eq "$APP_STATUS" 0 "exit status of the restoring run"
assert_no_failures
pass

# Fill, gradient and line tools. The tool bar does not exist yet; the tool comes back from the
# settings file, as it does for a user restarting the program, so each run starts from a
# settings.dat that names its tool.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1400x900

SAVE="$W/save"
mkdir -p "$SAVE/Tavolix"
export APPDATA_OVERRIDE="$SAVE"

# settings_with_tool TOOL [SIZE]: a settings file with that tool and brush size, defaults else.
settings_with_tool() {
    python3 - "$SAVE/Tavolix/settings.dat" "$1" "${2:-24}" <<'PY'
import struct, sys
path, tool, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
fields = [4, 0, 0, 1, tool, 0, 0, size, 100, 100, 100, 0x282828ff, 0, 0, 0, 0, 128, 0, 6,
          0, 0x70, 0, 0, 0, 1, 32, 1, 48, 0, 1]
open(path, "wb").write(b"SSET" + struct.pack("<30I", *fields))
PY
}
fresh_run() { # TOOL [SIZE]
    rm -f "$SAVE/Tavolix/session.tvl"
    settings_with_tool "$@"
    app_canvas
}
finish_run() {
    key Escape
    wait_exit 20
    assert_eq "$APP_STATUS" 0 "exit status ($1)"
    assert_no_failures
}

# --- Fill: a closed ring painted with the brush, filled inside; outside stays paper. ---------
fresh_run 0 6
drag_path 1 400 300 600 300 600 500 400 500 400 300
finish_run "ring"
settings_with_tool 1 6
app_canvas
assert_log "previous session document restored"
click_at 500 400
export_png filled
png_crop fill filled "$(doc_x 350)" "$(doc_y 250)" 300 300
assert_doc_pixel fill "$(doc_x 500)" "$(doc_y 400)" 40 40 40 6
assert_doc_pixel fill "$(doc_x 450)" "$(doc_y 330)" 40 40 40 6
assert_doc_pixel fill "$(doc_x 380)" "$(doc_y 400)" 255 255 255
assert_doc_pixel fill "$(doc_x 620)" "$(doc_y 520)" 255 255 255
finish_run "fill"

# --- Gradient: brush colour at the start, fading to nothing at the end. ---------------------
fresh_run 2
drag 300 400 700 400
export_png gradient
png_crop grad gradient "$(doc_x 200)" "$(doc_y 390)" 600 20
assert_doc_pixel grad "$(doc_x 250)" "$(doc_y 400)" 40 40 40 6
assert_doc_pixel grad "$(doc_x 750)" "$(doc_y 400)" 255 255 255 6
read -r r _ _ <<<"$(pixel grad $((500 - 200)) 10)"
[ "$r" -gt 100 ] && [ "$r" -lt 200 ] || fail "the middle of the gradient is $r, not half way"
finish_run "gradient"

# --- Line: drag it out, move one end by its handle, commit with Enter. ----------------------
fresh_run 5 8
drag 300 600 700 600
drag 700 600 700 700
key Return
export_png line
png_crop ln line "$(doc_x 250)" "$(doc_y 550)" 500 200
assert_doc_pixel ln "$(doc_x 300)" "$(doc_y 600)" 40 40 40 12
assert_doc_pixel ln "$(doc_x 500)" "$(doc_y 650)" 40 40 40 12
assert_doc_pixel ln "$(doc_x 500)" "$(doc_y 600)" 255 255 255
# A press that moves less than 4 pixels makes no shape, and Escape drops a pending one.
drag 300 300 302 301
drag 300 200 600 200
key Escape
export_png no_line
assert_same_png line no_line "a tiny press and a cancelled line"
finish_run "line"

pass

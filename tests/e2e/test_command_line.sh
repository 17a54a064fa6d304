# The command line: --help and --version; conversions without any display (a document
# exported equals the in-program export, a picture exported equals the picture, a thumbnail
# of the asked size, a picture larger than the largest canvas scaled down); bad input refused
# with a non-zero status and a reason on stderr, leaving no file behind; "tavolix picture.png"
# opening the picture in place of a session with unsaved changes, which is kept in the Load
# list; Ctrl+I placing a picture as a floating selection on a new layer; a picture wider than
# the largest canvas opened scaled down.
source "$(dirname "$0")/lib.sh" "$1"
shared_save

# make_png PATH W H R G B: an opaque picture of one colour, written without any image tool so
# that sizes past the tools' own limits can be made.
make_png() {
    python3 - "$@" <<'PY' || fail "could not write $1"
import struct, sys, zlib
path, w, h, r, g, b = sys.argv[1], *map(int, sys.argv[2:])
row = b"\0" + bytes((r, g, b)) * w
chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
open(path, "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                       + chunk(b"IDAT", zlib.compress(row * h)) + chunk(b"IEND", b""))
PY
}

# --- Help and version print and exit 0; an unknown export format is refused. ---------------
cli --help
assert_eq "$CLI_STATUS" 0 "--help status"
grep -q -- "--thumbnail IN OUT" "$W/cli.out" || fail "--help does not show the thumbnail command"
cli --version
assert_eq "$(cat "$W/cli.out")" "tavolix 1.3.7" "--version"
cli --export "$W/out.jpg" "$W/none.tvl"
assert_eq "$CLI_STATUS" 2 "status for a .jpg output"
grep -q "only PNG and OpenRaster are supported" "$W/cli.err" || fail "no reason given for a .jpg output: $(cat "$W/cli.err")"

# --- Bad input: text named like a picture, a FIFO, a missing file, a damaged document. ------
echo "not a picture" >"$W/text.jpg"
mkfifo "$W/fifo.png"
printf 'TVL3\100\0\0\0' >"$W/cut.tvl"
for bad in "text.jpg:not a picture" "fifo.png:cannot be read" "missing.png:no such file" \
    "cut.tvl:a damaged document"; do
    cli_refuses "$W/${bad%%:*}" "${bad#*:}"
done
cli --thumbnail "$W/fifo.png" "$W/bad.png" 64
assert_eq "$CLI_STATUS" 1 "thumbnail status for a FIFO"

# --- A picture converts to itself; one wider than the largest canvas is scaled down. -------
make_png "$W/pic.png" 300 200 30 140 60
cli --export "$W/pic_out.png" "$W/pic.png"
assert_eq "$CLI_STATUS" 0 "picture export status"
assert_same_png pic pic_out "the picture exported from the command line"
make_png "$W/wide.png" 20000 100 200 0 0
cli --export "$W/wide_out.png" "$W/wide.png"
assert_eq "$(png_size "$W/wide_out.png")" "16384 82" "size of a picture wider than the largest canvas"

# --- Run 1: a stroke, the in-program export; the session keeps it on quitting. -------------
x_start 1280x800
app_canvas
drag 600 400 700 400
export_png inprogram
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status of run 1"
[ -f "$DIR/session.tvl" ] || fail "no session file after run 1"

# --- The session document converted from the command line equals the in-program export; ---
# --- its thumbnail has the asked size. ------------------------------------------------------
cli --export "$W/cli_export.png" "$DIR/session.tvl"
assert_eq "$CLI_STATUS" 0 "document export status: $(cat "$W/cli.err")"
assert_same_png inprogram cli_export "the command-line export of the session"
cli --thumbnail "$DIR/session.tvl" "$W/thumb.png" 128
assert_eq "$CLI_STATUS" 0 "thumbnail status"
read -r dw dh < <(png_size "$W/inprogram.png")
assert_eq "$(png_size "$W/thumb.png")" "128 $((128 * dh / dw))" "thumbnail size"
# The stroke is still there, smaller: a dark pixel survives the scaling.
[ "$(png_dark thumb 200)" -gt 0 ] || fail "the thumbnail lost the stroke"

# --- Run 2: "tavolix pic.png" opens the picture; the unsaved session is kept aside. --------
# The file chooser of Ctrl+I below answers with this picture.
make_png "$W/stamp.png" 40 20 0 0 250
export TAVOLIX_FILE_CHOICE=$W/stamp.png
app_canvas "$W/pic.png"
wait_log "loaded document $W/pic.png"
wait_log "notification: Kept in the Load list: kept "
click_pp notify_ok
kept=$(ls "$DIR" | grep '^kept .*\.tvl$' | head -1)
[ -n "$kept" ] || fail "no kept document in $DIR: $(ls "$DIR")"
cli --export "$W/kept.png" "$DIR/$kept"
assert_same_png inprogram kept "the kept session"
export_png opened
assert_same_png pic opened "the opened picture exported"

# --- Ctrl+I: a picture placed as a float on a new layer, committed with Enter. --------------
key ctrl+i
wait_log "imported picture $W/stamp.png (40x20 as 40x20) as a floating selection"
assert_log "added layer Layer 2"
wait_log "notification: Imported as a floating selection: stamp.png"
click_pp notify_ok
key Return
export_png imported
# Centred on the 300x200 page: x 130..169, y 90..109 blue, the rest still the picture.
png_crop imp imported 0 0 300 200
assert_pixel imp 150 100 0 0 250
assert_pixel imp 125 100 30 140 60
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status of run 2"
unset TAVOLIX_FILE_CHOICE

# --- Run 3: a file that cannot be opened leaves the session as it was. ----------------------
app_canvas "$W/text.jpg"
wait_log "could not open $W/text.jpg from the command line: not a picture or document"
wait_log "notification: Not a picture or document: text.jpg"
click_pp notify_ok
export_png after_bad
assert_same_png imported after_bad "the session after a bad file on the command line"
key Escape
wait_exit

# --- Run 4: a picture wider than the largest canvas opens scaled down, and says so. ---------
app_canvas "$W/wide.png"
wait_log "picture $W/wide.png scaled down from 20000x100 to 16384x82"
export_png wide_opened
assert_eq "$(png_size "$W/wide_opened.png")" "16384 82" "size of the opened wide picture"
key Escape
key Escape
wait_exit
pass

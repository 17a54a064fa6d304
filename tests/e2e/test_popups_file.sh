# The File section's popups with real clicks and typing, where there is no native file chooser:
# New (a size refused, then 1024), Save as a typed name, Load from the open list (a broken
# file refused without touching the names), Export of the full drawing and of the displayed
# area with and without the template, and Exit through its confirmation. Judged by the files
# written, the notifications in the log and the exit status.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1280x800
shared_save
export TAVOLIX_NO_NATIVE_CHOOSER=1
fake_viewer
app_canvas

# Brush and Color folded, File unfolded: the File buttons, Help and Exit are all in sight.
# A section header relays the panel at once, so the next click finds the new places.
click_at 108 716
click_at 108 478
click_at 108 580
NEW="46 614" LOAD="170 614" EXPORT="108 648" EXIT="108 756"
notified() { # TEXT: waits for the notification, then closes it with its OK button
    wait_log "notification: $1" 20
    click_pp notify_ok
}
png_size() { identify -format '%w %h' "$1" || fail "could not read $1"; }
doc_size() { python3 -c 'import struct,sys; print(*struct.unpack_from("<II", open(sys.argv[1],"rb").read(), 4))' "$1"; }

# --- New: a number longer than any size is refused whole; 1024 replaces the drawing. -------
click_at $NEW
click_pp new_field
key ctrl+a
type_text 100000
click_pp new_create
notified "Custom size must be between 64 and 16384."
assert_no_log "new 10000x10000 document"
click_at $NEW
click_pp new_4
notified "New 1024x1024 canvas."
drag 600 400 700 400 # on the 1024 canvas: document x 472..572, y 512

# --- Save as a typed name: Ctrl+S opens the name popup, Enter saves into the save folder. --
key ctrl+s
type_text "My sketch 1"
key Return
notified "Saved: My sketch 1.tvl"
[ "$(doc_size "$DIR/My sketch 1.tvl")" = "1024 1024" ] || fail "My sketch 1.tvl is not 1024x1024"

# --- Load from the open list: a folder named like a document is no row, a 0-byte document
# --- is refused and keeps the name for the next save, the saved sketch comes back. ----------
click_at $NEW
click_pp new_5
notified "New 512x512 canvas."
mkdir "$DIR/x.tvl"
: >"$DIR/y.tvl"
touch -d "@$(($(stat -c %Y "$DIR/My sketch 1.tvl") + 10))" "$DIR/y.tvl" # the newest
click_at $LOAD
click_pp open_row0 # y.tvl
notified "No saved document found."
click_at $LOAD
click_pp open_row1
notified "Loaded: My sketch 1.tvl"
assert_log "loaded document $DIR/My sketch 1.tvl"
# The sketch's pixels are back: 1024 square, the stroke at y 512 from x 472 to 572, paper around.
export_png loaded
assert_eq "$(png_size "$W/loaded.png")" "1024 1024" "the loaded sketch's size"
png_crop stroke loaded 440 480 180 64
for p in "472 512" "520 512" "572 512"; do assert_doc_pixel stroke $p 40 40 40 12; done
for p in "520 490" "520 534" "455 512" "590 512"; do assert_doc_pixel stroke $p 255 255 255; done
assert_eq "$(png_dark loaded 147)" "$(png_dark loaded 147 180x64+440+480)" "ink away from the stroke"
key ctrl+s
key Return # the field offers the loaded document's name
wait_log_count "notification: Saved: My sketch 1.tvl" 2
click_pp notify_ok

# --- Export: the full drawing is the content box widened by 32 on each side: the ink sits 32
# --- pixels (give or take the brush's faintest edge) inside every edge of the image. ---------
click_at $EXPORT
click_pp export_field
key ctrl+a
type_text full
click_pp export_run
wait_log "notification: Exported " 20
read -r fw fh <<<"$(sed -n 's/.*notification: Exported \([0-9]*\)x\([0-9]*\):.*/\1 \2/p' "$LOG" | tail -n 1)"
assert_log "notification: Exported ${fw}x${fh}: $DIR/full.png"
click_pp notify_ok
assert_eq "$(png_size "$DIR/full.png")" "$fw $fh" "the exported size"
read -r tw th tx ty <<<"$(convert "$DIR/full.png" -alpha off -trim -format '%w %h %X %Y' info:)"
for gap in "$tx" "$ty" $((fw - tw - tx)) $((fh - th - ty)); do
    [ "$gap" -ge 30 ] && [ "$gap" -le 34 ] || fail "ink ${tw}x${th}+$tx+$ty is not 32 inside ${fw}x${fh}"
done
poll 5 "the viewer was not asked to open the export" test -s "$W/viewer.log"
assert_eq "$(cat "$W/viewer.log")" "$DIR/full.png" "the export opened in the viewer"

# --- The displayed area: the window's box on the canvas (x -128..1152, y 112..912), widened
# --- by 32 and cut to the 1024 document. Then with a template, included and left out. -------
export_named() { # NAME: runs the export popup with this file name
    click_at $EXPORT
    click_pp export_field
    key ctrl+a
    type_text "$1"
    click_pp export_run
    wait_log "notification: Exported " 20
    wait_log "exported composite to $DIR/$1.png"
    click_pp notify_ok
}
click_at $EXPORT
click_pp export_area
click_pp export_field
key ctrl+a
type_text view
click_pp export_run
notified "Exported 1024x865: $DIR/view.png"
click_at 1164 637 # the layer panel's template list: the next template
key Down Return
export_named with_template
click_at $EXPORT
click_pp export_template
click_pp export_field
key ctrl+a
type_text without_template
click_pp export_run
wait_log "exported composite to $DIR/without_template.png"
click_pp notify_ok
for f in view with_template without_template; do cp "$DIR/$f.png" "$W/$f.png"; done
assert_same_png without_template view "an export without the template"
[ "$(png_diff with_template view)" -gt 1000 ] || fail "the template is missing from the export"

# --- Exit asks first; confirming ends the program normally. -------------------------------
click_at $EXIT
click_pp confirm_yes
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status after confirming Exit"
assert_eq "$(doc_size "$DIR/session.tvl")" "1024 1024" "the session document"
assert_eq "$(od -An -tu4 -j 100 -N 12 "$DIR/settings.dat" | xargs)" "0 32 0" \
    "export mode, border and template kept in settings.dat"
other=$(grep -E '^(EMERG|ALERT|CRITICAL|ERR):' "$LOG" | grep -vF "y.tvl is not a TVL document")
[ -z "$other" ] || fail "unexpected failure: $other"
pass

# The popups and placed items of painting, with real clicks and typing, judged by exports and
# the files written: a layer renamed to Unicode text, the colour picker's colour and alpha in
# the next stroke, a swatch stored in edit mode, Clear after its confirmation, a resized shape
# keeping the brush's outline width, a filled star, text in the bold font at 64 px, empty text
# and a locked layer placing nothing, and an arrow mirrored by the symmetry.
#
# At zoom 1 the 4096 paper is centred: window (x, y) is document (x + 1408, y + 1648); a new
# shape is 320 pixels square in the middle of the window (480..800, 240..560).
source "$(dirname "$0")/lib.sh" "$1"
x_start 1280x800
shared_save
app_canvas

# ink NAME X Y W H: how many pixels of the window box X, Y, W, H hold ink in export NAME.
ink() { png_dark "$1" 200 "${4}x${5}+$(($2 + 1408))+$(($3 + 1648))"; }
notified() {
    wait_log "notification: $1" 20
    click_pp notify_ok
}
export_png blank

# --- Rename the layer: any Unicode text. ---------------------------------------------------
click_at 1199 444
type_text "Ébauche 草稿"
key Return
wait_log "layer renamed to Ébauche 草稿"

# --- The colour picker: pure red at alpha 128; the next stroke has it. -----------------------
click_at 108 546
slide_to picker_r_max
slide_to picker_g_min
slide_to picker_b_min
slide_to picker_a_min 128
click_pp picker_ok
drag 300 650 420 650
export_png picked
png_crop mid picked $((360 + 1408)) $((650 + 1648)) 1 1
assert_pixel mid 0 0 255 127 127 2

# --- Edit mode stores the brush colour in a swatch; palette.dat keeps it. ------------------
click_at 61 648
click_tb swatch3
click_at 61 648
wait_log "palette save:"
python3 - "$DIR/palette.dat" <<'PY' || fail "palette.dat does not hold the stored red"
import sys
data = open(sys.argv[1], "rb").read()
sys.exit(0 if data[:4] == b"TPAL" and b"\xff\x00\x00" in data else 1)
PY

# --- Clear asks first; confirming empties the layer. ----------------------------------------
click_at 1114 444
click_pp confirm_yes
export_png cleared
assert_same_png cleared blank "the layer after Clear"

# --- A rectangle resized to twice its size by a corner handle keeps an outline as wide as the
# --- brush (24), and a filled star is solid in its middle. -----------------------------------
click_tb rect
drag 800 560 960 720
key Return
export_png rect
left=$(ink rect 470 480 40 1)
[ "$left" -ge 22 ] && [ "$left" -le 27 ] || fail "the resized outline is $left pixels wide, expected 24"
[ "$(ink rect 700 480 40 1)" = 0 ] || fail "an outlined rectangle is not hollow"
key ctrl+z
click_at 61 444 # Fill|shape on
click_tb star
key Return
export_png star
[ "$(ink star 630 390 20 20)" = 400 ] || fail "the filled star is not solid in its middle"
key ctrl+z
click_at 61 444

# --- Text "Hello" in the bold font at 64 px lands in the middle; empty text and a locked layer
# --- place nothing, the lock with its notification. -----------------------------------------
click_tb text
type_text Hello
click_pp text_font3
slide_to text_size_min 58
click_pp text_ok
key Return
export_png text
[ "$(ink text 540 360 200 80)" -gt 500 ] || fail "no text in the middle"
[ "$(ink text 400 300 140 200)" = 0 ] && [ "$(ink text 740 300 140 200)" = 0 ] ||
    fail "text ink outside the box a 64 px Hello takes"
key ctrl+z
click_tb text
key ctrl+a BackSpace
click_pp text_ok
click_at 1206 478 # lock
click_tb text
type_text Hello
click_pp text_ok
notified "Cannot add text to a locked layer."
click_at 1206 478
export_png nothing
assert_same_png nothing blank "empty text and a locked layer"

# --- An arrow moved left of the middle and committed with the mirror on gives two arrows. ----
click_at 108 716 # fold Brush
click_at 108 750 # unfold Symmetry
click_at 61 780  # Sym: the first mirror
click_tb arrow
drag 640 400 440 400
key Return
export_png arrows
[ "$(ink arrows 280 300 320 200)" -gt 1000 ] || fail "no arrow on the left"
[ "$(ink arrows 680 300 320 200)" -gt 1000 ] || fail "no mirrored arrow on the right"

key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status"
assert_eq "$(tvl_layers "$DIR/session.tvl" | cut -d' ' -f1-2)" "Ébauche 草稿" "the layer's name in session.tvl"
assert_no_failures
pass

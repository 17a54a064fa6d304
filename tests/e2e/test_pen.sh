# Pen pressure, replayed: TAVOLIX_TEST_PEN feeds recorded pen samples into the path the
# XInput 2 decoder feeds, each sample reported when the pointer (driven by xdotool) reaches
# its place. A stroke whose pressure rises from 0.1 to 1.0 grows darker along its length, or
# wider with "Pressure changes size"; the pen's eraser end erases; a pen that leaves mid-stroke
# ends the stroke there.
#
# At zoom 1 with the paper centred, window (x, y) is document (x + 1408, y + 1648).
source "$(dirname "$0")/lib.sh" "$1"
source "$(dirname "$0")/settings_v5.sh"
x_start 1400x900
shared_save

# The recording: a stroke along y = 300 from x = 300 to 700 in the 8-pixel steps drag_path
# takes, pressure rising; an eraser stroke down x = 500 across it; a stroke along y = 500
# whose pen leaves at x = 500.
python3 - >"$W/pen.txt" <<'PY'
print("# x y pressure eraser")
for i in range(51):
    print(300 + 8 * i, 300, round(0.1 + 0.9 * i / 50, 3), 0)
for i in range(26):
    print(500, 200 + 8 * i, 1.0, 1)
for i in range(26):
    print(300 + 8 * i, 500, 0.8, 0)
print("gone")
print("not a sample line")
PY
export TAVOLIX_TEST_PEN="$W/pen.txt"

# ink NAME X: how dark the stroke along y = 300 is at window column X (255 - the darkest grey
# of the column), and how many of its pixels are at least a little dark.
ink() {
    convert "$W/$1.png" -crop "1x60+$(doc_x "$2")+1918" +repage -alpha off -colorspace gray \
        -depth 8 txt:- | awk '
        /gray\(/ { g = substr($0, index($0, "gray(") + 5) + 0; if (g < min || !seen) min = g
                   seen = 1; if (g < 250) n++ }
        END { printf "%d %d\n", 255 - min, n }'
}

# --- Flow: darker along the stroke; the eraser end erases across it. ------------------------
seed_settings_v5 "$DIR" size=24
app_canvas
wait_log "pen: replaying 104 samples"
assert_log "pen replay: $W/pen.txt line 106 not understood"
drag 300 300 700 300
export_png flow
read -r d1 w1 <<<"$(ink flow 340)"
read -r d2 w2 <<<"$(ink flow 500)"
read -r d3 w3 <<<"$(ink flow 660)"
note "flow mode: darkness $d1 $d2 $d3, width $w1 $w2 $w3"
[ "$d1" -lt "$d2" ] && [ "$d2" -lt "$d3" ] || fail "darkness does not rise: $d1 $d2 $d3"
[ "$d1" -le 150 ] && [ "$d3" -ge 200 ] || fail "darkness $d1 .. $d3 does not follow 0.1 .. 1.0"
drag 500 200 500 400
export_png erased
png_crop erased_c erased 1858 1898 100 100
assert_doc_pixel erased_c 1908 1948 255 255 255 2 # the crossing is paper again
assert_doc_pixel erased_c 1940 1948 40 40 40 60  # beside it the ink stays
# The eraser end erased for its stroke only: the brush paints again.
drag 300 600 400 600
export_png after
png_crop after_c after 1700 2240 120 20
assert_doc_pixel after_c 1758 2248 40 40 40 40
key Escape
wait_exit 20

# --- Size: wider along the stroke; a pen that leaves ends its stroke. -----------------------
rm -f "$DIR/session.tvl" # a fresh drawing
seed_settings_v5 "$DIR" size=24 pen_size=1
app_canvas
drag 300 300 700 300
export_png size
read -r d1 w1 <<<"$(ink size 340)"
read -r d3 w3 <<<"$(ink size 660)"
note "size mode: width $w1 .. $w3"
[ "$w1" -le 8 ] && [ "$w3" -ge 18 ] || fail "width $w1 .. $w3 does not follow the pressure"
drag 500 200 500 400 # the eraser samples again: erases across
drag 300 500 700 500
wait_log "pen: the pen left during a stroke, the stroke ends there"
export_png gone
png_crop gone_c gone 1700 2138 420 20
assert_doc_pixel gone_c 1808 2148 40 40 40 60  # painted up to where the pen left
assert_doc_pixel gone_c 2050 2148 255 255 255 2 # nothing after it
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status"
pass

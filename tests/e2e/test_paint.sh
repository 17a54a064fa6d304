# Painting with the mouse and the keyboard, judged by the exported document: a brush stroke
# lands where the pointer went, the eraser gives the paper back, Ctrl+Z / Ctrl+Y /
# Ctrl+Shift+Z step through the history, and the bracket keys change the painted width.
#
# At start the view is at zoom 1 with the 4096-pixel paper centred in the 1280x800 window, so
# window (x, y) is document (x + 1408, y + 1648).
source "$(dirname "$0")/lib.sh" "$1"
canvas_start

INK="40 40 40"
PAPER="255 255 255"

# width NAME X Y0 Y1: how many pixels of the column X between rows Y0 and Y1 of the crop NAME
# are at least half dark, i.e. the painted width across a horizontal stroke.
width() {
    local y n=0 r
    for y in $(seq "$3" "$4"); do
        r=$(pixel "$1" "$2" "$y" | cut -d' ' -f1)
        [ "$r" -le 147 ] && n=$((n + 1))
    done
    echo "$n"
}

export_png blank

# --- A stroke along an L-shaped path: ink on the path, paper beside it, nothing elsewhere. --
# Window (300,200) -> (600,200) -> (600,500) is document (1708,1848) -> (2008,1848) ->
# (2008,2148); the default brush is 24 pixels wide, so ink reaches 12 pixels from the path.
drag_path 1 300 200 600 200 600 500
export_png painted
png_crop painted_c painted 1650 1780 420 440
for p in "1708 1848" "1780 1848" "1900 1848" "2008 1848" "2008 1950" "2008 2100" "2008 2148" \
    "1720 1855" "2016 2000"; do
    assert_doc_pixel painted_c $p $INK
done
# Beside the path, past both ends, and inside the corner.
for p in "1780 1828" "1780 1868" "2008 1826" "2028 1950" "1988 2050" "1690 1848" \
    "2008 2166" "1900 1950" "2040 1848"; do
    assert_doc_pixel painted_c $p $PAPER
done
total=$(png_dark painted 147)
inside=$(png_dark painted 147 420x440+1650+1780)
assert_eq "$total" "$inside" "half-dark pixels of the whole export against those near the path"
# 600 pixels of path, about 21 pixels wide at half darkness, plus the round ends.
[ "$total" -ge 12000 ] && [ "$total" -le 14500 ] || fail "the L stroke covers $total pixels"
default_width=$(width painted_c 200 40 100) # across the first leg at x = 1850
[ "$default_width" -ge 18 ] && [ "$default_width" -le 24 ] ||
    fail "a 24-pixel brush paints $default_width pixels wide"

# --- E and a stroke across the first leg: the crossing is paper again, the rest untouched. --
key e
drag 450 100 450 300
export_png erased
png_crop erased_c erased 1650 1780 420 440
for p in "1858 1848" "1858 1840" "1858 1856" "1852 1848" "1864 1848"; do
    assert_doc_pixel erased_c $p $PAPER
done
for p in "1708 1848" "1830 1848" "1886 1848" "2008 1848" "2008 2100"; do
    assert_doc_pixel erased_c $p $INK
done
# Only the crossing changed: about one brush width of the leg.
removed=$((total - $(png_dark erased 147)))
[ "$removed" -ge 350 ] && [ "$removed" -le 700 ] ||
    fail "the eraser removed $removed half-dark pixels, expected one crossing of about 500"

# --- Undo twice, redo with Ctrl+Y and with Ctrl+Shift+Z. ----------------------------------
# Ctrl stays down across the key and the export: the program reads it when it handles a key.
key_down ctrl
key z
export_png undo1
assert_same_png undo1 painted "Ctrl+Z after erasing"
key_down ctrl
key z
export_png undo2
assert_same_png undo2 blank "a second Ctrl+Z"
key_down ctrl
key y
export_png redo1
assert_same_png redo1 painted "Ctrl+Y"
key_down ctrl
key_down shift
key z
export_png redo2
key_up shift
assert_same_png redo2 erased "Ctrl+Shift+Z"

# --- Bracket keys: ] x3 gives 24 x 1.25^3 = 46.9, [ x6 then 12.3, ] x12 stops at 128. -------
key b # back from the eraser to painting
key bracketright bracketright bracketright
drag 700 120 1000 120
key bracketleft bracketleft bracketleft bracketleft bracketleft bracketleft
drag 700 250 1000 250
for i in $(seq 12); do key bracketright; done
drag 700 520 1000 520
export_png brackets
png_crop brackets_c brackets 2258 1648 1 800 # window column x = 850
wide=$(width brackets_c 0 60 180)
narrow=$(width brackets_c 0 220 280)
widest=$(width brackets_c 0 420 620)
note "widths at half darkness: default $default_width, ] x3 $wide, [ x6 $narrow, ] x12 $widest"
# Each against the default stroke, scaled by the size ratio, within 10 % (the soft edge of a
# 0.7-hard tip grows with the size, so the ratio holds to a few pixels).
within() { # measured expected_size what
    local lo hi
    lo=$(awk "BEGIN { print int($default_width * $2 / 24 * 0.9) }")
    hi=$(awk "BEGIN { print int($default_width * $2 / 24 * 1.1 + 1) }")
    [ "$1" -ge "$lo" ] && [ "$1" -le "$hi" ] || fail "$3 paints $1 pixels wide, expected $lo..$hi"
}
within "$wide" 46.875 "the brush after ] x3"
within "$narrow" 12.288 "the brush after [ x6"
within "$widest" 128 "the brush after ] x12 (capped at 128)"

key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status"
assert_no_failures
pass

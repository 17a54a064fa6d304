# What is on screen: the splash text, the paper at zoom 1, and the paper staying centred with
# its frame when the window grows past the paper and shrinks again. The screen is large enough
# for a window bigger than the 4096-pixel paper.
source "$(dirname "$0")/lib.sh" "$1"
x_start 4400x4400

# splash_shot: a shot of the splash as the shot named splash. The splash is asked to wait for
# input, so that a slow machine cannot end it before the shot.
splash_shot() {
    TAVOLIX_TEST_SPLASH_SECONDS=600 app_start -v
    app_window
    wait_drawn "state switch: (none) -> splash"
    shot splash
}

# --- Splash: background everywhere except a centred block of light text. -------------------
splash_shot
for p in "0 0" "1279 0" "0 799" "1279 799" "640 150" "640 650"; do
    assert_pixel splash $p 40 42 46
done
[ "$(bright_pixels splash 0 0 1280 300 200)" = 0 ] || fail "bright pixels above the splash text"
# Only the title line is brighter than 200; its bounding box must sit centred above the middle.
box=$(convert -size 1280x800 -depth 8 "rgb:$W/splash.rgb" -colorspace gray -threshold 78% \
    -format '%@' info:)
[[ "$box" =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || fail "no title text on the splash"
centre=$((BASH_REMATCH[3] + BASH_REMATCH[1] / 2))
[ "${BASH_REMATCH[1]}" -ge 40 ] && [ "$centre" -ge 636 ] && [ "$centre" -le 644 ] &&
    [ "${BASH_REMATCH[4]}" -ge 300 ] && [ "${BASH_REMATCH[4]}" -le 400 ] ||
    fail "splash title box $box is not centred above the middle of the window"

# --- Canvas at zoom 1: the 4096-pixel paper covers the whole 1280x800 window. --------------
key space
wait_drawn "canvas ready"
hide_gui
wait_pixel 640 400 255 255 255
shot canvas
# The brush cursor ring sits at the last pointer position, the window's corner until the
# pointer moves: everything but that corner is paper.
[ "$(bright_pixels canvas 0 40 1280 760 253)" = $((1280 * 760)) ] &&
    [ "$(bright_pixels canvas 40 0 1240 40 253)" = $((1240 * 40)) ] ||
    fail "the window is not all paper at zoom 1"

# --- Window grows to 4300x4300: the paper stays centred, (4300 - 4096) / 2 = 102 pixels of
# --- background on each side, with the grey frame at the paper's edge. ----------------------
# The frame lies just outside the paper, one pixel wide on every side.
edges='B101 F1 P4096 F1 B101'
resize_window 4300 4300
wait_pixel 50 50 40 42 46 40
shot grown
assert_profile grown "$edges" row:103 row:400 row:2150 row:3900 row:4196 \
    col:103 col:400 col:2150 col:3900 col:4196
assert_profile grown "B4300" row:50 col:4250
assert_pixel grown 2150 2150 255 255 255

# --- Window shrinks to 4200x4000: the paper keeps its place relative to the window centre,
# --- 50 pixels further left and 150 further up, so its top and bottom leave the window. -----
resize_window 4200 4000
wait_pixel 4160 2000 40 42 46 40
shot shrunk
assert_profile shrunk 'B51 F1 P4096 F1 B51' row:40 row:2000 row:3999
assert_profile shrunk "P4000" col:60 col:2100 col:4140

key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status"
assert_no_failures
pass

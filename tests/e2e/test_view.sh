# Moving the view with the mouse and keyboard, judged by where a painted dot and the paper
# appear on screen: middle-button drag and Space + left drag pan by the drag distance, the
# wheel zooms about the pointer, F fits the whole paper with its frame, and Ctrl+wheel turns
# the paper about the pointer. None of it paints.
source "$(dirname "$0")/lib.sh" "$1"
canvas_start
hide_gui

# dark_box NAME: "W H X Y" of the box around every pixel of the shot darker than mid grey.
dark_box() {
    local box
    box=$(convert -size "$(_shot_w "$1")x$(_shot_h "$1")" -depth 8 "rgb:$W/$1.rgb" \
        -colorspace gray -threshold 50% -negate -format '%@' info:)
    [[ "$box" =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 1
    echo "${BASH_REMATCH[@]:1}"
}

# wait_dot X Y SIZE WHAT: polls the window until the dark dot is SIZE (+-2) pixels across and
# centred on the window point (X, Y), within 1.5 pixels. A dot centred on a point lies between
# the pixels around it, so its pixel box centres half a pixel up and to the left.
wait_dot() {
    local start w h x y got
    start=$(now_us)
    while :; do
        shot dot
        if read -r w h x y < <(dark_box dot); then
            got="${w}x${h} at ($x, $y)"
            awk -v w="$w" -v h="$h" -v x="$x" -v y="$y" -v X="$1" -v Y="$2" -v S="$3" 'BEGIN {
                cx = x + (w - 1) / 2; cy = y + (h - 1) / 2
                ok = (cx - (X - 0.5))^2 <= 2.25 && (cy - (Y - 0.5))^2 <= 2.25 &&
                     (w - S)^2 <= 4 && (h - S)^2 <= 4
                exit !ok }' && return 0
        else
            got="no dark pixels"
        fi
        [ $(($(now_us) - start)) -gt 10000000 ] &&
            fail "$4: dot is $got, expected ${3}x$3 centred on ($1, $2)"
        sleep "$E2E_POLL"
    done
}

# margins NAME ROW: "LEFT RIGHT", the runs of background before and after the paper on a row.
margins() {
    local runs
    runs=$(profile "$1" "row:$2")
    [[ "$runs" =~ ^row:[0-9]+\ B([0-9]+)\ .*\ B([0-9]+)$ ]] ||
        fail "row $2 of $1 is not paper between background: $runs"
    echo "${BASH_REMATCH[1]} ${BASH_REMATCH[2]}"
}

# --- A click lays a dot at document (1808, 1948); S hides the brush cursor from then on. ---
# The dot is 20 pixels across at mid grey for the 24-pixel brush at zoom 1.
click_at 400 300
key s
point_at 1000 700
wait_dot 400 300 20 "the dot at zoom 1"

# --- The middle button pans whatever the tool; Space turns the left button into a pan. -----
drag 600 400 700 450 2
wait_dot 500 350 20 "after a middle-button drag by (100, 50)"
key_down space
drag 700 450 560 330
key_up space
wait_dot 360 230 20 "after a Space + left drag by (-140, -120)"

# --- The wheel zooms by 1.1 a notch, and the document point under the pointer stays there. --
wheel_at 360 230 3 # on the dot: it stays put and grows to 20 x 1.331
wait_dot 360 230 26.6 "after three notches in over the dot"
# Two notches out about (800, 500): the dot moves towards that point by the factor 1.21.
wait_dot_x=$(awk 'BEGIN { print 800 + (360 - 800) / 1.21 }')
wait_dot_y=$(awk 'BEGIN { print 500 + (230 - 500) / 1.21 }')
wheel_at 800 500 -2
wait_dot "$wait_dot_x" "$wait_dot_y" 22 "after two notches out about (800, 500)"

# --- F: the whole paper fits with a margin, 0.92 x 800 = 736 pixels square and centred, in its
# --- one-pixel frame. -----------------------------------------------------------------------
key f
wait_pixel 100 400 40 42 46
shot fit
assert_profile fit 'B271 F1 P736 F1 B271' row:100 row:400 row:700
assert_profile fit 'B31 F1 P736 F1 B31' col:300 col:640 col:1000

# --- Ctrl+wheel: three notches turn the paper 15 degrees clockwise about the pointer in the
# --- window centre. The left edge then runs from x = 313 on row 200 to x = 205 on row 600
# --- (400 x tan 15 = 107 pixels apart), and the right edge mirrors it. ---------------------
key_down ctrl
wheel_at 640 400 3
point_at 660 420 # a frame after the three notches: motion alone neither turns nor paints
key_up ctrl
shot turned
read -r left_200 right_200 < <(margins turned 200)
read -r left_600 right_600 < <(margins turned 600)
note "paper on row 200 from x = $left_200, on row 600 from x = $left_600"
[ "$left_200" -ge 308 ] && [ "$left_200" -le 317 ] || fail "left edge on row 200 at x = $left_200"
[ "$left_600" -ge 200 ] && [ "$left_600" -le 209 ] || fail "left edge on row 600 at x = $left_600"
# Turned about the window centre: each row's right margin is the left margin of the row
# mirrored through the centre.
_near "$right_200" "$left_600" 1 && _near "$right_600" "$left_200" 1 ||
    fail "the turned paper is off centre: margins $left_200/$right_200 on row 200, $left_600/$right_600 on row 600"
assert_pixel turned 640 400 255 255 255

# --- The right button does nothing on the canvas: a right drag neither pans nor paints. ----
shot before_right
drag 300 600 500 650 3
export_png after # also waits until the drag has been handled
wait_drawn "exported composite to" "$(log_count "exported composite to")"
shot after_right
assert_eq "$(md5sum <"$W/after_right.rgb")" "$(md5sum <"$W/before_right.rgb")" \
    "the window after a right-button drag"

# --- The document holds the dot alone: no pan, zoom, turn or right drag painted anything. ---
dot=$(png_dark after 147)
assert_eq "$dot" "$(png_dark after 147 60x60+1778+1918)" "half-dark pixels away from the dot"
[ "$dot" -ge 250 ] && [ "$dot" -le 450 ] || fail "the dot covers $dot pixels"

key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status"
assert_no_failures
pass

# The eyedropper with real clicks and keys: Alt+click and Ctrl+click take the colour of the
# visible picture (a ring shows the new colour over the old while the button is down), Shift
# added takes the active layer's own pixel under a covering layer, "I" and the tool-bar button
# select the picker as a tool, and a placed shape afloat takes the picked colour.
#
# The window's middle (640, 400) +- 250 is kept clear for the placed shape.
source "$(dirname "$0")/lib.sh" "$1"
source "$(dirname "$0")/colours.sh"
canvas_start

# pick MODIFIERS X Y: a click with the modifier keys held (xdotool names, "+"-joined).
pick() {
    local m
    for m in ${1//+/ }; do key_down "$m"; done
    click_at "$2" "$3"
    for m in ${1//+/ }; do key_up "$m"; done
}

set_colour "#ff0000"
drag 300 100 600 100 # red on Layer 1
set_colour "#0000ff"

# --- Alt held: the button down shows the ring (picked red above, the old blue below). ------
key_down alt
move_to 400 100
mouse_down 1
move_to 401 100
wait_pixel 401 80 255 0 0
shot ring
assert_pixel ring 401 120 0 0 255
mouse_up 1
key_up alt
wait_log "eyedropper: #ff0000 from the picture"
drag 300 700 600 700
export_png alt
png_crop alt_c alt 1800 2340 20 20
assert_doc_pixel alt_c 1808 2348 255 0 0 3

# --- Ctrl held picks too: the paper is white. ----------------------------------------------
pick ctrl 800 100
wait_log "eyedropper: #ffffff from the picture"

# --- Shift: the active layer's own pixel under a covering layer. ---------------------------
click_lp add # Layer 2, on top and active
set_colour "#00ff00"
drag 400 40 400 170 # green across the red
click_lp row1 # Layer 1 active again
pick alt+shift 400 100
wait_log "eyedropper: #ff0000 from the active layer"
pick ctrl 400 100
wait_log_count "eyedropper: #00ff00 from the picture" 1

# --- "I" selects the picker as a tool; B paints again with what it took. -------------------
pick ctrl 800 100 # white, so the next pick is seen
key i
click_at 500 100 # red on Layer 1, seen in the picture
wait_log_count "eyedropper: #ff0000 from the picture" 2
key b
drag 300 760 600 760
export_png tool
png_crop tool_c tool 1800 2400 20 20
assert_doc_pixel tool_c 1808 2408 255 0 0 3

# --- The tool-bar button does the same. ----------------------------------------------------
click_tb eyedropper
click_at 400 50 # green on Layer 2
wait_log_count "eyedropper: #00ff00 from the picture" 2

# --- A placed rectangle afloat takes the picked colour. ------------------------------------
click_tb rect # green, in the middle of the window
pick alt 550 100 # red
wait_log_count "eyedropper: #ff0000 from the picture" 3
key Return
export_png placed
red=$(count_colour placed 500x450+1798+1850 255 0 0)
green=$(count_colour placed 500x450+1798+1850 0 255 0)
note "placed rectangle: $red red pixels, $green green"
[ "$red" -ge 200 ] && [ "$green" = 0 ] || fail "the placed rectangle did not take the red"
pass

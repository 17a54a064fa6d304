# The colour picker's wheel, hex field and recent colours, with real clicks and keys: "#00ff00"
# typed and accepted paints green; text that is no colour is refused; a drag on the hue ring
# moves the colour (and the sliders with it) to cyan; the recent colours are listed newest
# first and come back after a restart.
source "$(dirname "$0")/lib.sh" "$1"
source "$(dirname "$0")/colours.sh"
x_start 1400x900
shared_save
app_canvas
wait_pixel 640 400 255 255 255

set_colour "#00ff00"
drag 300 100 550 100
export_png green
png_crop green_c green 1800 1740 20 20
assert_doc_pixel green_c 1808 1748 0 255 0 3

# --- Text that is no colour is refused and the picker stays open. --------------------------
click_tb color
for bad in "#GGGGGG" "#12"; do
    click_pp picker_hex
    key ctrl+a
    type_text "$bad"
    key Return
    wait_log_count "colour picker: refused \"$bad\"" 1
done

# --- A drag on the ring from green (120 degrees) to cyan (180): the sliders follow. --------
read -r gx gy <<<"$(pp picker_wheel_hue120)"
read -r cx cy <<<"$(pp picker_wheel_hue180)"
drag "$gx" "$gy" "$cx" "$cy"
wait_pixel 640 298 0 255 255 # the preview on row 1
click_pp picker_ok
wait_log "colour picker: brush colour #00ffffff"
drag 300 150 550 150

# --- Recent colours, newest first, and again after a restart. ------------------------------
set_colour "#ff0000"
drag 300 200 550 200
set_colour "#0000ff"
drag 300 250 550 250
recent_row() { # SHOT: the first four recent swatches must be blue, red, cyan, green
    local i=0 c
    for c in "0 0 255" "255 0 0" "0 255 255" "0 255 0"; do
        assert_pixel "$1" $(pp picker_recent$i) $c 3
        i=$((i + 1))
    done
}
click_tb color
drawn
shot recent
recent_row recent
key Escape
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status"
assert_eq "$(od -An -tu4 -j 136 -N 4 "$DIR/settings.dat" | xargs)" 4 "recent colours kept"
app_canvas
click_tb color
drawn
shot recent_again
recent_row recent_again
pass

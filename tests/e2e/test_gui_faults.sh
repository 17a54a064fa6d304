# The GUI behaviours a review found wanting, with real input: the layer panel widened and
# narrowed by its left edge and its grip stays docked and writes its width for the next start;
# Tab while typing a name stays in the field; Enter commits a pending line although a
# notification shows; the export popup leaves a placed shape movable; the hide button puts
# the popups away; "New" beside the palettes at its limit says so and writes nothing.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1400x900
shared_save
export TAVOLIX_NO_NATIVE_CHOOSER=1
fake_viewer
PANEL="75 75 85" # the layer panel's body over the paper
PAPER="255 255 255"
settings_field() { od -An -tu4 -j "$1" -N4 "$DIR/settings.dat" | tr -d ' '; }
layout_width() {
    python3 -c 'import json,sys; print(*[round(w["w"]) for w in json.load(open(sys.argv[1]))["windows"] if w["title"] == "layers"])' \
        "$DIR/layout.json"
}
# Widgets this script clicks that panels.sh and popups.sh do not name.
TIP="60 $(_mid 250 28)"
NEW_PALETTE="$(_cell $TB_X "$(_tb_w)" 2 1) $(_mid 626 28)"
EXPORT_CANCEL="$PP_CANCEL_X $(_pp_row 7 6)"
# panel_drag X1 Y X2 WIDTH: drags from (X1, Y) to (X2, Y) and waits until the panel, rebuilt
# for its new width, is drawn.
panel_drag() {
    local built
    built=$(log_count "gui ready")
    drag "$1" "$2" "$3" "$2"
    wait_log "layer panel width $4"
    wait_log_count "gui ready" $((built + 1))
    wait_pixel $((1280 - 8 - $4 + 4)) 300 $PANEL
}
app_canvas
wait_pixel 640 400 $PAPER

# --- The layer panel (220 wide at x 1052) follows its left edge, then its bottom-left grip;
# --- it stays docked at the right edge and as high as before, up to 0.4 of the window. -----
panel_drag 1052 400 952 320
assert_eq "$(settings_field 96) $(layout_width)" "320 320" "width kept in settings.dat and layout.json"
panel_drag 955 789 1015 260
panel_drag 1015 400 100 512
shot wide
assert_pixel wide 755 300 $PAPER
assert_pixel wide 1268 300 $PANEL
assert_pixel wide 1000 796 $PAPER # no taller than before

# --- Tab in the save-name field stays there: "ab", Tab, "cd" and Enter save abcd.tvl. ------
key ctrl+s
type_text ab
key Tab
type_text cd
key Return
wait_log "notification: Saved: abcd.tvl"
assert_no_log "gui hidden"
[ -f "$DIR/abcd.tvl" ] || fail "no abcd.tvl in the save folder"

# --- With that notification on show, Enter commits a pending line; Escape then closes the
# --- notification and leaves the line in the export. ---------------------------------------
click_tb line
drag 300 650 500 650 # below the notification
key Return
key Escape
export_png line
[ "$(png_dark line 100 "200x30+1708+2283")" -gt 2000 ] || fail "the line was thrown away"

# --- Opening the export popup and cancelling leaves a placed rectangle movable: dragged 200
# --- pixels right its middle leaves document x 2048 (for 2240: the grid keeps a moved
# --- selection's middle on half grid steps). -----------------------------------------------
click_tb rect
click_at 108 716 # Brush folded, Color folded, File unfolded: Export at 108 648
click_at 108 478
click_at 108 580
click_at 108 648
click_at $EXPORT_CANCEL
drag 640 400 840 400
export_png moved
read -r box_w box_x < <(convert "$W/moved.png" -crop 1100x400+1600+1848 +repage -alpha off \
    -threshold 50% -negate -trim -format '%w %X\n' info:)
mid=$((1600 + ${box_x#+} + box_w / 2))
[ "$mid" -ge 2232 ] && [ "$mid" -le 2248 ] || fail "the rectangle's middle is at $mid, not 2240"

# --- The hide button puts the tip popup away: the panels come back without it. ------------
click_at 108 478 # Color unfolded again, for the palettes below
click_at $TIP
click_tb hide
wait_log "gui hidden"
click_at 18 18
wait_log "gui shown"
wait_pixel 1268 300 $PANEL
shot shown
assert_pixel shown 400 320 $PAPER # where the tip popup was

# --- "New" beside the palettes: sixteen palettes of the user's own, then the notice alone. ---
for i in $(seq 16); do click_at $NEW_PALETTE; done
wait_log "16 user palette(s)"
saves=$(log_count "palette save:")
click_at $NEW_PALETTE
wait_log "notification: At most 16 palettes of your own: remove one first."
assert_eq "$(log_count "palette save:")" "$saves" "palette.dat writes"
assert_no_log "Custom 17"
key Escape
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status"
pass

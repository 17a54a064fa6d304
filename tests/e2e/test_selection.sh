# Cutting and moving pixels with the selection tools: a marquee (S) lifted and dragged, then
# dropped with Enter as one undo step; a lasso (L) lifting an irregular region; and Escape,
# which first cancels a floating selection (the layer is as before and the program goes on)
# and then, with nothing left to cancel, quits.
source "$(dirname "$0")/lib.sh" "$1"
canvas_start

INK="40 40 40"
PAPER="255 255 255"

# A 200-pixel bar from document (1708, 1848) to (1908, 1848), 24 pixels thick.
drag 300 200 500 200
export_png base
bar=$(png_dark base 147)

# --- S, a marquee around the bar, a drag from inside it 200 pixels down, Enter. ------------
key s
drag 280 170 520 230
drag 400 200 400 400
key Return
export_png moved
png_crop moved_c moved 1650 1800 320 300
for p in "1708 2048" "1808 2048" "1908 2048" "1808 2040" "1808 2056"; do
    assert_doc_pixel moved_c $p $INK
done
for p in "1708 1848" "1808 1848" "1908 1848" "1808 2072" "1808 2024"; do
    assert_doc_pixel moved_c $p $PAPER
done
assert_eq "$(png_dark moved 147)" "$bar" "half-dark pixels after moving the bar"

# --- Ctrl+Z takes the whole move back in one step: the hole and the dropped pixels. --------
key_down ctrl
key z
export_png undone
assert_same_png undone base "Ctrl+Z after a committed move"

# --- L, a triangle over the bar's left end, a drag from inside it 300 pixels down, Enter. ---
# The triangle (280,170) (440,170) (280,240) has its slanted side crossing the bar: on the
# bar's middle row (window y 200) it reaches x = 371, on row 192 x = 390, on row 207 x = 355.
# Only what lies inside moves; the rest of its bounding box stays.
key l
drag_path 1 280 170 440 170 280 240 280 170
drag 330 200 330 500
key Return
export_png lassoed
png_crop lassoed_c lassoed 1650 1800 320 400
# Left behind: paper inside the triangle, ink outside it, in the same bounding box.
for p in "1718 1848" "1758 1848" "1778 1840"; do
    assert_doc_pixel lassoed_c $p $PAPER
done
for p in "1808 1848" "1898 1848" "1778 1855"; do
    assert_doc_pixel lassoed_c $p $INK
done
# Arrived 300 pixels lower: the same split the other way round.
for p in "1718 2148" "1758 2148" "1778 2140"; do
    assert_doc_pixel lassoed_c $p $INK
done
for p in "1808 2148" "1898 2148" "1778 2155"; do
    assert_doc_pixel lassoed_c $p $PAPER
done
assert_eq "$(png_dark lassoed 147)" "$bar" "half-dark pixels after the lasso move"

# --- The Escape sequence. A marquee lifts the part of the bar that stayed and follows a drag
# --- 400 pixels down: on screen the hole and the float show. The first Escape puts the pixels
# --- back, and the program goes on; the second Escape quits. --------------------------------
key s
drag 380 170 520 230
drag 450 200 450 600
point_at 1000 750
shot floating
assert_pixel floating 450 600 $INK
assert_pixel floating 450 200 $PAPER
key Escape
wait_pixel 450 200 $INK
wait_pixel 450 600 $PAPER
kill -0 "$APP_PID" 2>/dev/null || fail "the first Escape ended the program"
export_png cancelled
assert_same_png cancelled lassoed "Escape on a floating selection"
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status after the second Escape"
assert_log_order "exported composite to" "main loop done" "Tavolix shut down"
assert_no_failures

# --- E or B pressed before an outline is released ends the outline: nothing is lifted, and
# --- the eraser and the brush work on the layer as it is shown. After a restart the saved
# --- picture is exactly what was on the screen. -------------------------------------------
# mid_outline TOOL SWITCH X Y ...: with TOOL's key, an outline pressed at the first point and
# dragged through the others, and SWITCH pressed before the release.
mid_outline() {
    local switch=$2
    key "$1"
    move_to "$3" "$4"
    mouse_down 1
    shift 4
    while [ $# -ge 2 ]; do
        move_to "$1" "$2"
        shift 2
    done
    key "$switch"
    mouse_up 1
}
# saved_as_shown NAME: the pointer parked away from the region looked at, a shot of the window
# once that has been drawn; Escape, which finds no floating selection to put back and quits;
# then a new run restores the session, whose export must show what the shot showed.
saved_as_shown() {
    point_at 1270 790
    shot "$1"
    key Escape
    wait_exit
    app_canvas
    export_png "$1_saved"
    assert_png_matches_shot "$1_saved" "$1" 250 120 350 460
}
export APPDATA_OVERRIDE=$APPDATA
app_canvas
mid_outline s e 400 170 460 200 520 230
drag 380 200 480 200
saved_as_shown eraser
assert_pixel eraser 385 200 $PAPER
mid_outline l b 300 470 400 470 300 540
drag 330 440 330 560
saved_as_shown brush
assert_pixel brush 330 450 $INK
key Escape
wait_exit
assert_no_failures
pass

# Painting through the panels, judged by what the program writes: a preset, a swatch and the
# Size slider set the next stroke; the tool buttons switch what a drag does; the undo and redo
# buttons step the history; the layer panel builds a stack that session.tvl keeps exactly; the
# grid toggles reach settings.dat. Positions come from panels.sh.
#
# At zoom 1 the 4096 paper is centred: window (x, y) is document (x + 1408, y + 1648).
source "$(dirname "$0")/lib.sh" "$1"
x_start 1400x900
shared_save
app_canvas
wait_log "gui ready"

RED="214 45 32"
PAPER="255 255 255"
dx() { echo $(($1 + 1408)); }
dy() { echo $(($1 + 1648)); }
# doc_at NAME X Y R G B [TOL]: a pixel of the export NAME at window position X, Y.
doc_at() {
    png_crop at "$1" "$(dx "$2")" "$(dy "$3")" 1 1
    assert_pixel at 0 0 "${@:4}"
}
export_png blank

# --- Ink preset, the red swatch, Size 40: a red stroke about 40 pixels wide. ----------------
click_tb preset1
click_tb swatch2
click_at "$(tb_size_at 40)" "$TB_SIZE_Y"
drag 400 300 700 300
export_png stroke
png_crop across stroke "$(dx 550)" "$(dy 260)" 1 80
assert_pixel across 0 40 $RED 12
assert_pixel across 0 25 $RED 12 # 15 above the middle
assert_pixel across 0 58 $RED 12
assert_pixel across 0 12 $PAPER # 28 above: past the edge of a 40-pixel brush
assert_pixel across 0 68 $PAPER
# Clicks on the panels themselves painted nothing.
[ "$(png_dark stroke 250 "250x800+1408+1648")" = 0 ] || fail "a click on the tool bar painted"

# --- Eraser: a drag across the stroke gives the paper back. --------------------------------
click_tb eraser
drag 550 250 550 350
export_png erased
doc_at erased 550 300 $PAPER
doc_at erased 450 300 $RED 12

# --- Select: a marquee drag paints nothing; dragging inside moves the pixels. --------------
click_tb select
drag 420 270 500 330
drag 460 300 460 420
key Return
export_png moved
doc_at moved 460 420 $RED 12
doc_at moved 460 300 $PAPER

# --- Lasso: a loop paints nothing. ---------------------------------------------------------
click_tb lasso
drag_path 1 600 200 700 200 650 250 600 200
key Return
export_png lassoed
assert_same_png lassoed moved "a lasso drag"

# --- Line and Bezier: a drag shows a shape, a press off it paints it. ----------------------
click_tb line
drag 300 600 700 600
click_at 500 150
click_tb bezier
drag 300 680 700 680
click_at 500 150
export_png shapes
doc_at shapes 500 600 $RED 12
doc_at shapes 300 680 $RED 12

# --- Fill, then the undo and redo buttons. -------------------------------------------------
click_tb fill
click_at 800 150
export_png filled
doc_at filled 800 150 $RED 12
click_tb undo
export_png undone
assert_same_png undone shapes "the undo button after a fill"
click_tb redo
export_png redone
assert_same_png redone filled "the redo button"
click_tb undo

# --- Gradient: a drag lays a ramp across the layer. ----------------------------------------
click_tb gradient
drag 300 500 700 500
export_png ramp
png_crop ramp_row ramp "$(dx 310)" "$(dy 150)" 380 1
start=$(pixel ramp_row 0 0 | cut -d' ' -f2)
end=$(pixel ramp_row 379 0 | cut -d' ' -f2)
[ $((start - end)) -gt 50 ] || [ $((end - start)) -gt 50 ] ||
    fail "the gradient drag laid no ramp (green $start at its start, $end at its end)"
click_tb undo

# --- Layer panel: add, paint, lock (painting then changes nothing), hide, move down, blend
# --- Multiply, opacity 50 %. ---------------------------------------------------------------
click_tb brush
click_lp add
drag 400 120 700 120
click_lp lock
drag 400 80 700 80
export_png locked
doc_at locked 550 120 $RED 12
doc_at locked 550 80 $PAPER
click_lp show
export_png hidden
doc_at hidden 550 120 $PAPER
click_lp down
click_lp blend
click_at "$(lp_opacity_at 50)" "$LP_OPACITY_Y"

# --- Grid, snap and diagonals from the Canvas section. -------------------------------------
click_lp grid
click_lp snap
click_lp diagonals
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status"
settings="$SAVE/Tavolix/settings.dat"
field() { od -An -tu4 -j "$1" -N4 "$settings" | tr -d ' '; }
assert_eq "$(field 56) $(field 60) $(field 64)" "1 1 1" "grid, snap and diagonals"
assert_eq "$(tvl_layers "$SAVE/Tavolix/session.tvl" | tr '\n' '|')" \
    "Layer 2 500 1 0 1|Layer 1 1000 0 1 0|" "the layer stack in session.tvl"
assert_no_failures
pass

# How the panels show and are remembered: Tab hides them (a press where the tool bar was
# paints, the corner handle brings them back and paints nothing); collapsed panels and a
# widened layer panel come back at the next start; a broken or foreign layout.json leaves
# the panels docked; German and Huge switch live; icons are drawn at Small and Huge.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1400x900
shared_save
settings="$SAVE/Tavolix/settings.dat"
layout="$SAVE/Tavolix/layout.json"
field() { od -An -tu4 -j "$1" -N4 "$settings" | tr -d ' '; }
put_field() { # OFFSET VALUE: patches a little-endian 32-bit field of settings.dat
    python3 -c "import struct,sys; f=open(sys.argv[1],'r+b'); f.seek(int(sys.argv[2])); f.write(struct.pack('<I', int(sys.argv[3])))" \
        "$settings" "$1" "$2"
}
start() { app_canvas; } # returns once the first canvas frame, panels included, is shown
quit() { # [allowed]: a failure line that is expected in this run
    key Escape
    wait_exit 20
    assert_eq "$APP_STATUS" 0 "exit status"
    if [ $# = 0 ]; then assert_no_failures; else assert_log "$1"; fi
}
# is_paper / is_panel NAME X Y: the pixel of shot NAME shows the paper / a panel's background.
is_paper() { assert_pixel "$1" "$2" "$3" 255 255 255; }
is_panel() { assert_pixel "$1" "$2" "$3" 75 75 85; }
# icons_drawn NAME: every icon button of the tool bar shows bright glyph strokes.
icons_drawn() {
    local n x y half
    half=$(awk -v k="$PANEL_K" 'BEGIN { printf "%d", 11 * k }')
    for n in $TB_ICONS; do
        read -r x y <<<"$(tb "$n")"
        [ "$(bright_pixels "$1" $((x - half)) $((y - half)) $((2 * half)) $((2 * half)) 150)" -ge 4 ] ||
            fail "the $n button of $1 shows no icon"
    done
}

# --- Run 1: Tab hides, a press where the tool bar was paints, the corner shows. -------------
start
shot shown
is_panel shown 12 400
is_panel shown 1056 400
hide_gui
shot hidden
is_paper hidden 100 400
is_paper hidden 1200 400
assert_pixel hidden 10 26 125 130 145 # the corner handle, over the paper
drag 60 300 180 300
click_at 18 18
export_png hid
png_crop left hid 1408 1648 200 400
assert_pixel left 120 300 40 40 40 12
[ "$(png_dark hid 250 "40x40+1408+1648")" = 0 ] || fail "the press on the corner handle painted"
wait_drawn "gui shown"
shot back
is_panel back 12 400

# --- Collapse both panels; they start collapsed the next time. ------------------------------
click_tb collapse
click_lp collapse
quit
assert_eq "$(field 88) $(field 92)" "1 1" "collapsed flags in settings.dat"
start
shot collapsed
is_paper collapsed 100 400
is_paper collapsed 1200 400
is_panel collapsed 20 200
is_panel collapsed 1260 200
click_at $(tb expand)
click_at $(lp expand)
quit
assert_eq "$(field 88) $(field 92)" "0 0" "expanded again"

# --- A widened layer panel keeps its width; Settings unfolded, the rest folded. -------------
python3 - "$layout" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
for w in data["windows"]:
    if w["title"] == "layers":
        w["x"], w["w"] = 932, 340
json.dump(data, open(sys.argv[1], "w"))
PY
put_field 84 63
start
shot wide
is_panel wide 940 400
is_paper wide 920 400

# --- German, then Huge, from the Settings section (header at 214: Language combo at 338.8,
# --- Interface size at 395.6). ---------------------------------------------------------------
# choose COMBO_Y: the last entry of the Settings combo box at that row. The choice rebuilds the
# panels (logging "gui ready") at the next frame, which is waited for: the next click finds
# the new layout, and a shot shows it.
choose() {
    local before
    before=$(log_count "gui ready")
    click_at 108 "$1"
    key End Return
    wait_drawn "gui ready" $((before + 1))
}
choose "$(_mid 338.8 28)"
assert_log "language Deutsch"
assert_log "gui labels: Aktionen, Werkzeuge"
choose "$(_mid 395.6 28)"
assert_log "interface size 3"
shot huge_de
is_panel huge_de 390 100 # the tool bar is 1.3 times wider: paper at Normal
quit
assert_eq "$(field 16) $(field 120) $(field 96)" "4 3 340" "language, size and panel width kept"

# --- Icons at Small with a corrupt layout.json, then at Huge with a foreign one. ------------
put_field 84 $((0x70))
put_field 120 0
put_field 16 1 # English again: the tool bar is as wide as its English labels need
printf '{"windows": [{"title": "layers", "x": -5000, "w": 99' >"$layout"
start
shot small
PANEL_K=0.85
icons_drawn small
is_panel small 1262 400 # the layer panel docked at the right edge
quit "q_gui_load_layout_json: not valid JSON"
cat >"$layout" <<'JSON'
{"windows": [{"title": "tools", "x": 5000, "y": -300, "w": 9000, "h": 3, "state": 0},
             {"title": "layers", "x": 99999, "y": 7, "w": 1e9, "h": -4, "state": 0}],
 "display_w": 5000, "display_h": 100}
JSON
put_field 120 3
start
shot huge
PANEL_K=1.3
icons_drawn huge
# The layer panel stays docked at the right edge, at most 0.4 of the display wide.
is_paper huge 750 400
is_panel huge 765 400
is_panel huge 1265 400
quit
assert_eq "$(field 96)" 512 "a foreign panel width clamped to 0.4 of the display"
pass

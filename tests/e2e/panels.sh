# Where the panels' widgets are on a 1280x800 window at interface size Normal (scale 1), from
# the panels' layout rules, so scripts click by name instead of by magic numbers. Sourced by
# lib.sh. Every position is a widget's centre in window coordinates; sections are as they are
# on a first start (Actions, Tools, Color, Brush unfolded; the rest folded).
#
# Rules at scale 1: margin 8, row 28, gap 6, large tool buttons 40, scrollbar 16, value room 60.
# Inside a panel widgets start 10 pixels from its left and top edges; a row of n buttons gives
# each (W - (n - 1) * 6) / n. A section header is a row; its content starts one row and a gap
# below it. The tool bar sits at (8, 8); the layer panel, 220 wide with content width 184,
# at (1052, 8), 784 high. Both are a little wider than their base widths (180 and 200) because
# their widest English rows need it (the symmetry buttons, the template names).

# PANEL_K is the interface scale the positions are for (Small 0.85, Normal 1, Large 1.15,
# Huge 1.3); every size but the 10-pixel inset scales with it.
PANEL_K=${PANEL_K:-1}
PANEL_Y=8

# _cell LEFT W N I: centre x of button I of a row of N in a content width W (sizes at scale 1).
_cell() { awk -v l="$1" -v w="$2" -v n="$3" -v i="$4" -v k="$PANEL_K" \
    'BEGIN { c = (w - (n - 1) * 6) / n; printf "%d", l * k + 10 + k * (i * (c + 6) + c / 2) }'; }
# _mid TOP H: centre y of a row whose top is TOP inside a panel (at scale 1).
_mid() { awk -v t="$1" -v h="$2" -v k="$PANEL_K" \
    'BEGIN { printf "%d", 8 * k + 10 + (t - 10) * k + h * k / 2 }'; }
TB_X=8
LP_X=1052
# _tb_w: the tool bar's content width at PANEL_K, unscaled (205 pixels at Normal, 177 at Small,
# 264 at Huge: what the widest English label, "Pressure changes size", needs at each size).
_tb_w() { case $PANEL_K in 0.85) echo 208.235 ;; 1.3) echo 203.077 ;; *) echo 205 ;; esac; }

# Tool bar rows (tops inside the panel): Actions 44, 90, 136 (tool buttons, 40 high); Tools
# presets 216, tip 250, shapes 284, 330, 376 (40 high), shape fill 422; Color palette 490,
# chip 524, swatches 558 and 592; Brush: Size caption 728, Size slider 750.8.
tb() { # NAME: prints "x y"
    case $1 in
    undo) echo "$(_cell $TB_X "$(_tb_w)" 3 0) $(_mid 44 40)" ;;
    redo) echo "$(_cell $TB_X "$(_tb_w)" 3 1) $(_mid 44 40)" ;;
    brush) echo "$(_cell $TB_X "$(_tb_w)" 3 2) $(_mid 44 40)" ;;
    eraser) echo "$(_cell $TB_X "$(_tb_w)" 3 0) $(_mid 90 40)" ;;
    select) echo "$(_cell $TB_X "$(_tb_w)" 3 1) $(_mid 90 40)" ;;
    lasso) echo "$(_cell $TB_X "$(_tb_w)" 3 2) $(_mid 90 40)" ;;
    cut) echo "$(_cell $TB_X "$(_tb_w)" 3 0) $(_mid 136 40)" ;;
    copy) echo "$(_cell $TB_X "$(_tb_w)" 3 1) $(_mid 136 40)" ;;
    paste) echo "$(_cell $TB_X "$(_tb_w)" 3 2) $(_mid 136 40)" ;;
    rect) echo "$(_cell $TB_X "$(_tb_w)" 4 2) $(_mid 284 40)" ;;
    circle) echo "$(_cell $TB_X "$(_tb_w)" 4 3) $(_mid 284 40)" ;;
    triangle | star | pentagon | hexagon)
        local i=0 n
        for n in triangle star pentagon hexagon; do [ "$n" = "$1" ] && break; i=$((i + 1)); done
        echo "$(_cell $TB_X "$(_tb_w)" 4 $i) $(_mid 330 40)" ;;
    text) echo "$(_cell $TB_X "$(_tb_w)" 4 2) $(_mid 376 40)" ;;
    arrow) echo "$(_cell $TB_X "$(_tb_w)" 4 3) $(_mid 376 40)" ;;
    collapse) echo "$(_cell $TB_X 28 1 0) $(_mid 10 28)" ;;
    hide) echo "$(_cell $((TB_X + 34)) 28 1 0) $(_mid 10 28)" ;;
    preset[0-3]) echo "$(_cell $TB_X "$(_tb_w)" 4 "${1#preset}") $(_mid 216 28)" ;;
    line) echo "$(_cell $TB_X "$(_tb_w)" 4 0) $(_mid 284 40)" ;;
    bezier) echo "$(_cell $TB_X "$(_tb_w)" 4 1) $(_mid 284 40)" ;;
    fill) echo "$(_cell $TB_X "$(_tb_w)" 4 0) $(_mid 376 40)" ;;
    gradient) echo "$(_cell $TB_X "$(_tb_w)" 4 1) $(_mid 376 40)" ;;
    eyedropper) echo "$(_cell $TB_X "$(_tb_w)" 4 3) $(_mid 422 28)" ;;
    color) echo "$(_cell $TB_X "$(_tb_w)" 1 0) $(_mid 524 28)" ;;
    swatch[0-3]) echo "$(_cell $TB_X "$(_tb_w)" 4 "${1#swatch}") $(_mid 558 28)" ;;
    swatch[4-7]) echo "$(_cell $TB_X "$(_tb_w)" 4 $((${1#swatch} - 4))) $(_mid 592 28)" ;;
    expand) echo "$((TB_X + 13)) 400" ;; # the collapsed tab's button, mid-height
    *) fail "no tool bar widget named $1" ;;
    esac
}

TB_ICONS="collapse hide undo redo brush eraser select lasso cut copy paste preset0 preset1 preset2
preset3 line bezier rect circle triangle star pentagon hexagon fill gradient text arrow eyedropper"

# tb_size_at VALUE: x of the Size slider (1..128, 121.5 wide from content x 10) for VALUE.
tb_size_at() { awk -v v="$1" 'BEGIN { printf "%d", 8 + 10 + (v - 1) / 127 * 121.5 + 0.5 }'; }
TB_SIZE_Y=$(_mid 750.8 28)

# Layer panel rows: list 44 (338.4 high, rows about 25 high), buttons 388.4, Clear/Rename
# 422.4, Show/Lock 456.4, Blend 490.4, Opacity slider 547.2 (105.5 wide, 0..100), Canvas toggles
# 683.2, Grid size slider 740.
lp() { # NAME: prints "x y"
    case $1 in
    collapse) echo "$(_cell $LP_X 28 1 0) $(_mid 10 28)" ;;
    add) echo "$(_cell $LP_X 184 4 0) $(_mid 388.4 28)" ;;
    remove) echo "$(_cell $LP_X 184 4 1) $(_mid 388.4 28)" ;;
    up) echo "$(_cell $LP_X 184 4 2) $(_mid 388.4 28)" ;;
    down) echo "$(_cell $LP_X 184 4 3) $(_mid 388.4 28)" ;;
    show) echo "$(_cell $LP_X 184 2 0) $(_mid 456.4 28)" ;;
    lock) echo "$(_cell $LP_X 184 2 1) $(_mid 456.4 28)" ;;
    blend) echo "$(_cell $LP_X 184 1 0) $(_mid 490.4 28)" ;;
    grid) echo "$(_cell $LP_X 184 4 0) $(_mid 683.2 28)" ;;
    snap) echo "$(_cell $LP_X 184 4 1) $(_mid 683.2 28)" ;;
    diagonals) echo "$(_cell $LP_X 184 4 2) $(_mid 683.2 28)" ;;
    row[0-9]) echo "$(_cell $LP_X 184 1 0) $((PANEL_Y + 44 + 12 + 25 * ${1#row}))" ;;
    expand) echo "$((1280 - 8 - 13)) 400" ;;
    *) fail "no layer panel widget named $1" ;;
    esac
}

# lp_opacity_at PERCENT: x of the layer opacity slider for PERCENT.
lp_opacity_at() { awk -v v="$1" 'BEGIN { printf "%d", 1052 + 10 + v / 100 * 105.5 + 0.5 }'; }
LP_OPACITY_Y=$(_mid 547.2 28)

# click_tb NAME / click_lp NAME: a click on the widget. The program handles events in order and
# knows no double click, so the next input needs no pause.
click_tb() { click_at $(tb "$1"); }
click_lp() { click_at $(lp "$1"); }

# tvl_layers FILE: the layer stack of a document, bottom first, one line each:
# "name opacity(0..1000) blend visible locked".
tvl_layers() {
    python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[:4] == b"TVL3", "not a TVL3 document"
at = 20
for _ in range(struct.unpack_from("<I", data, 16)[0]):
    (n,) = struct.unpack_from("<I", data, at)
    name = data[at + 4:at + 4 + n].decode()
    opacity, blend, visible, locked, size = struct.unpack_from("<5I", data, at + 4 + n)
    print(name, opacity, blend, visible, locked)
    at += 4 + n + 20 + size
PY
}

# Where the popups' widgets are on a 1280x800 window at interface size Normal, from the popups'
# layout rules, so scripts click by name. Sourced by lib.sh. Every position is a widget's
# centre in window coordinates.
#
# Rules at scale 1: a popup is 560 wide (320 for the language and palette popups), centred on
# the window, or at y = 10 for the popups with a name field and the text popup. Its rows start
# 10 pixels from its top and are 34 apart (28 high, gap 6); a popup of n rows is
# 20 + 28 n + 6 (n - 1) high. The accepting button ends 6 left of the centre (x 640), the
# dismissing one starts 6 right of it; both are 110 wide.

# _pp_row ROWS INDEX [TOP]: centre y of row INDEX of a popup of ROWS rows, centred or at TOP.
_pp_row() {
    awk -v n="$1" -v i="$2" -v t="${3:-}" 'BEGIN {
        h = 20 + 28 * n + 6 * (n - 1); top = (t == "") ? int((800 - h) / 2) : t
        printf "%d", top + 10 + 34 * i + 14 }'
}
PP_OK_X=579
PP_CANCEL_X=701
# The colour picker (9 rows): the wheel, 198 square, from (370, 78) in the popup; right of it
# the channel sliders, the hex field and the recent colours, after their captions, from
# PP_PICK_RIGHT (the captions' width depends on the font).
PP_PICK_RIGHT=651
PP_PICK_SLIDER_MIN=653
PP_PICK_SLIDER_MAX=834

pp() { # NAME: prints "x y"
    case $1 in
    confirm_yes) echo "$PP_OK_X $(_pp_row 2 1)" ;;
    confirm_cancel) echo "$PP_CANCEL_X $(_pp_row 2 1)" ;;
    notify_ok) echo "640 $(_pp_row 2 1)" ;;
    new_[0-5]) # the size buttons 16384 8192 4096 / 2048 1024 512
        local i=${1#new_}
        echo "$((458 + (i % 3) * 182)) $(_pp_row 5 $((1 + i / 3)))" ;;
    new_field) echo "640 $(_pp_row 5 3)" ;;
    new_create) echo "$PP_OK_X $(_pp_row 5 4)" ;;
    name_field) echo "640 $(_pp_row 3 1 10)" ;; # save name, layer rename, palette name
    name_ok) echo "$PP_OK_X $(_pp_row 3 2 10)" ;;
    open_row[0-9] | open_row1[01]) echo "640 $(_pp_row 13 $((1 + ${1#open_row})))" ;;
    open_browse) echo "739 $(_pp_row 13 0)" ;;
    export_field) echo "690 $(_pp_row 7 1)" ;;
    export_area) echo "503 $(_pp_row 7 2)" ;;
    export_full) echo "776 $(_pp_row 7 2)" ;;
    export_template) echo "640 $(_pp_row 7 4)" ;;
    export_png) echo "503 $(_pp_row 7 5)" ;;
    export_ora) echo "776 $(_pp_row 7 5)" ;;
    export_run) echo "$PP_OK_X $(_pp_row 7 6)" ;;
    text_area) echo "640 $(_pp_row 7 2 10)" ;;
    text_font[0-3]) echo "$((435 + ${1#text_font} * 136)) $(_pp_row 7 4 10)" ;;
    text_size_min) echo "471 $(_pp_row 7 5 10)" ;; # the slider's left end: 6 px
    text_ok) echo "$PP_OK_X $(_pp_row 7 6 10)" ;;
    picker_[rgba]_min | picker_[rgba]_max) # the channel sliders' ends: 0 and 255
        local c=${1:7:1} i
        i=$(expr index rgba "$c")
        if [ "${1##*_}" = min ]; then echo "$PP_PICK_SLIDER_MIN $(_pp_row 9 $((1 + i)))"
        else echo "$PP_PICK_SLIDER_MAX $(_pp_row 9 $((1 + i)))"; fi ;;
    picker_hex) echo "$((PP_PICK_RIGHT + 40)) $(_pp_row 9 6)" ;;
    picker_recent[0-7]) echo "$(awk -v l="$PP_PICK_RIGHT" -v i="${1#picker_recent}" \
        'BEGIN { c = (336 - (l - 574) - 14) / 8; printf "%d", l + i * (c + 2) + c / 2 }') $(_pp_row 9 7)" ;;
    picker_wheel_hue*) # a point on the middle of the hue ring at a hue in degrees
        awk -v a="${1#picker_wheel_hue}" -v y="$(_pp_row 9 2)" 'BEGIN {
            r = a * 3.14159265 / 180; printf "%d %d", 469 + 86 * cos(r) + 0.5, y - 14 + 99 - 86 * sin(r) + 0.5 }' ;;
    picker_ok) echo "$PP_OK_X $(_pp_row 9 8)" ;;
    language[1-4]) echo "640 $(_pp_row 5 ${1#language})" ;;
    manage[0-3]) echo "640 $(_pp_row 6 $((1 + ${1#manage})))" ;;
    *) fail "no popup widget named $1" ;;
    esac
}

# click_pp NAME: a click on a popup widget.
click_pp() { click_at $(pp "$1"); }

# type_text TEXT: types into the focused field, Unicode included. A character missing from the
# keymap is first bound to a spare key for good (xmodmap), because xdotool's own binding lasts
# only while it types, and a loaded program that reads the key later sees another character.
# The server tells the program of a new binding before any key typed after it, so nothing
# waits in between.
type_text() {
    python3 - "$1" <<'PY' || fail "xdotool type $1"
import re, subprocess, sys
text = sys.argv[1]
keymap = subprocess.run(["xmodmap", "-pke"], capture_output=True, text=True, check=True).stdout
spare = [int(m.group(1)) for m in re.finditer(r"^keycode\s+(\d+) =\s*$", keymap, re.M)]
bound = []
for ch in dict.fromkeys(text):
    if ch.isascii():
        continue
    lower, upper = ch.lower(), ch.upper()
    syms = [f"U{ord(lower):04X}", f"U{ord(upper):04X}"]
    if not spare:
        sys.exit("no spare key left")
    subprocess.run(["xmodmap", "-e", f"keycode {spare.pop()} = {' '.join(syms)}"], check=True)
    bound.append(ch)
for ch in text:
    subprocess.run(["xdotool", "type", "--", ch], check=True)
PY
}

# slide_to NAME STEPS: a click at a slider's end named NAME, a few presses of Left or Right that
# settle it exactly on its minimum (a _min end) or maximum (a _max end), then STEPS presses of
# Right, one step each.
slide_to() {
    local settle=Left
    [ "${1##*_}" = max ] && settle=Right
    click_pp "$1"
    xdotool key --delay 5 --repeat 3 "$settle" || fail "xdotool $settle"
    [ "${2:-0}" -gt 0 ] && { xdotool key --delay 5 --repeat "$2" Right || fail "xdotool Right x$2"; }
    return 0
}

# fake_viewer: an "xdg-open" first on PATH that records what it was asked to open in
# $W/viewer.log, so exports can be revealed without a desktop. Call before app_start.
fake_viewer() {
    mkdir -p "$W/bin"
    printf '#!/bin/sh\necho "$1" >>"%s/viewer.log"\n' "$W" >"$W/bin/xdg-open"
    chmod +x "$W/bin/xdg-open"
    export PATH="$W/bin:$PATH"
}

# Shared helpers for the end-to-end tests. A test script sources this file with the path of
# the tavolix binary as its first argument:
#
#   source "$(dirname "$0")/lib.sh" "$1"
#   x_start 1400x900          # a private X server
#   app_start -v              # the program, logging to $LOG
#   wait_log "state switch: (none) -> splash"
#   ...
#   pass
#
# or, for a test that starts on the blank canvas, canvas_start in place of the first three.
#
# Nothing waits a fixed time: every step that looks at the screen or at a file first waits,
# with a deadline, for what shows that the program got there (a log line, a pixel, a file, or
# the frame drawn after a pointer move or a log line, from the DEBUG line the program logs
# per frame with -v). A check that fails inside $(...) ends the whole test, not only the
# subshell, and comparisons refuse empty values, so a broken check never passes by printing
# nothing.
#
# Every test owns its X server and its save folder, so tests never see each other or the
# desktop the suite happens to be launched from. Artifacts (program logs, screenshots) live in
# one work folder under e2e-artifacts/ next to the binary (or under $E2E_ARTIFACTS); it is
# removed when the test passes and kept, with its path printed and its shots as PNG files, when
# the test fails.

set -u

E2E_PID=$$
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_NAME=$(basename "$0" .sh)
E2E_POLL=0.05

BIN=${1:-}
if [ -z "$BIN" ] || [ ! -x "$BIN" ]; then
    echo "usage: $0 path/to/tavolix" >&2
    exit 2
fi
BIN=$(cd "$(dirname "$BIN")" && pwd)/$(basename "$BIN")
# Deadlines are for hangs, not speed goals: a sanitizer build, several times slower, gets
# four times as long.
E2E_SLOW=1
ldd "$BIN" 2>/dev/null | grep -q libasan && E2E_SLOW=4

# Artifacts go into the build tree next to the binary, never into the source tree.
E2E_ROOT=${E2E_ARTIFACTS:-$(dirname "$BIN")/e2e-artifacts}
mkdir -p "$E2E_ROOT"
W=$(mktemp -d "$E2E_ROOT/$E2E_NAME.XXXXXX")

# Nothing from the caller's session may leak in: no outer display, no test overrides.
unset DISPLAY TAVOLIX_TEST_DENSITY TAVOLIX_FILE_CHOICE TAVOLIX_NO_NATIVE_CHOOSER

XVFB_PID=
APP_PID=
APP_STATUS=
APP_RUNS=0
LOG=
WID=
E2E_PASSED=0

# ------------------------------------------------------------------------------------------
# Reporting
# ------------------------------------------------------------------------------------------

now_us() { echo "${EPOCHREALTIME/./}"; }

note() { echo "[$E2E_NAME] $*"; }

# fail MESSAGE: ends the test. Called in a subshell (a check inside $(...) or a pipeline), it
# also signals the test's own shell, which then stops as soon as the subshell returns.
fail() {
    echo "[$E2E_NAME] FAIL: $*" >&2
    if [ -n "$LOG" ] && [ -f "$LOG" ]; then
        echo "----- last lines of $LOG -----" >&2
        tail -n 25 "$LOG" >&2
        echo "-----" >&2
    fi
    [ "$BASHPID" = "$E2E_PID" ] || kill -USR1 "$E2E_PID"
    exit 1
}

pass() {
    # A sanitizer build reports into the program's log; any report in any log of the test, the
    # ones a test names itself included, fails it.
    local report
    report=$(grep -h -m 1 -E 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$W"/*.log 2>/dev/null)
    [ -z "$report" ] || fail "sanitizer report: $report"
    E2E_PASSED=1
    note "PASS"
    exit 0
}

_stop_pid() { # pid: TERM, a short grace period, then KILL
    local pid=$1 i
    kill -0 "$pid" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null
    for i in $(seq 40); do
        kill -0 "$pid" 2>/dev/null || break
        sleep "$E2E_POLL"
    done
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

_cleanup() {
    [ -n "$APP_PID" ] && _stop_pid "$APP_PID"
    [ -n "$XVFB_PID" ] && _stop_pid "$XVFB_PID"
    if [ "$E2E_PASSED" = 1 ]; then
        rm -rf "$W"
    else
        local raw
        for raw in "$W"/*.rgb; do
            [ -f "$raw" ] || continue
            convert -size "$(tr ' ' x <"${raw%.rgb}.size")" -depth 8 "rgb:$raw" "${raw%.rgb}.png" &&
                rm -f "$raw" "${raw%.rgb}.size"
        done
        echo "[$E2E_NAME] artifacts kept in $W" >&2
    fi
}
trap _cleanup EXIT
trap 'fail "interrupted"' INT TERM
trap 'exit 1' USR1 # a fail in a subshell has said why already

# poll SECONDS WHAT CMD...: runs CMD every $E2E_POLL seconds until it succeeds; fails with
# "WHAT within SECONDS s" once the deadline (times E2E_SLOW) has passed, adding what CMD last
# left in SEEN.
poll() {
    local limit=$(($1 * E2E_SLOW)) what=$2 start
    shift 2
    start=$(now_us)
    SEEN=
    until "$@"; do
        [ $(($(now_us) - start)) -le $((limit * 1000000)) ] ||
            fail "$what within $limit s${SEEN:+ (last seen: $SEEN)}"
        sleep "$E2E_POLL"
    done
}

# ------------------------------------------------------------------------------------------
# X server and program
# ------------------------------------------------------------------------------------------

# x_start WxH: a private X server on the first free display number, which the server picks
# itself and reports on a file descriptor once it accepts connections.
x_start() {
    local size=${1:-1400x900}
    Xvfb -displayfd 5 -screen 0 "${size}x24" -nolisten tcp -noreset \
        5>"$W/xvfb.display" >"$W/xvfb.log" 2>&1 &
    XVFB_PID=$!
    poll 10 "Xvfb did not report a display" _xvfb_reported
    export DISPLAY=":$(head -n 1 "$W/xvfb.display" | tr -d '[:space:]')"
}
_xvfb_reported() {
    kill -0 "$XVFB_PID" 2>/dev/null || fail "Xvfb died: $(cat "$W/xvfb.log")"
    grep -qs '^[0-9]' "$W/xvfb.display"
}

# _seed_language: a program that has never chosen a language asks for one in a popup in the
# middle of the window. Tests start as a returning English-speaking user instead: a settings
# file that holds only the language (20 bytes: magic, version, two options, language 1) and so
# leaves every other setting at its default. Only where a save root exists and has no settings
# yet; FIRST_START=1 skips it for tests of the first start itself.
_seed_language() {
    [ "${FIRST_START:-0}" = 1 ] && return 0
    local folder
    if [ -n "$APPDATA" ]; then
        [ -d "$APPDATA" ] || return 0
        folder="$APPDATA/Tavolix"
    else
        folder="$W/save"
    fi
    [ -e "$folder/settings.dat" ] && return 0
    mkdir -p "$folder" 2>/dev/null || return 0
    printf 'SSET\x04\0\0\0\0\0\0\0\0\0\0\0\x01\0\0\0' >"$folder/settings.dat" 2>/dev/null || true
}

# app_start [args...]: runs the program in the background from the work folder, with a fresh
# save root in APPDATA unless APPDATA_OVERRIDE is set (to anything, even empty). Sets LOG.
app_start() {
    APP_RUNS=$((APP_RUNS + 1))
    LOG="$W/run$APP_RUNS.log"
    if [ "${APPDATA_OVERRIDE+set}" = set ]; then
        APPDATA=$APPDATA_OVERRIDE
    else
        APPDATA=$(mktemp -d "$W/appdata$APP_RUNS.XXXXXX")
    fi
    export APPDATA
    _seed_language
    WID=
    APP_STATUS=
    : >"$LOG" # exists before the background start, so polling never races its creation
    (cd "$W" && exec "$BIN" "$@") >"$LOG" 2>&1 &
    APP_PID=$!
}

# shared_save: one save root for every start of this script: $SAVE, the program's files in $DIR.
shared_save() {
    SAVE="$W/save"
    DIR="$SAVE/Tavolix"
    mkdir -p "$SAVE"
    export APPDATA_OVERRIDE="$SAVE"
}

# app_canvas [args...]: app_start with -v (for the frame lines the waits below need), then its
# window, and Space to leave the splash; returns once the canvas has been drawn.

app_canvas() {
    app_start -v "$@"
    app_window
    key space
    wait_drawn "canvas ready"
}

# canvas_start: a private X server and the program on a fresh canvas, showing paper at zoom 1.
# The 4096-pixel paper is then centred in the 1280x800 window: window (x, y) is document
# (doc_x x, doc_y y) = (x + 1408, y + 1648).
canvas_start() {
    x_start 1400x900
    app_canvas
    wait_pixel 640 400 255 255 255
}
doc_x() { echo $(($1 + 1408)); }
doc_y() { echo $(($1 + 1648)); }

# wait_log TEXT [SECONDS]: waits until a log line contains TEXT (fixed string).
wait_log() { wait_log_count "$1" 1 "${2:-10}"; }

# wait_log_count TEXT N [SECONDS]: waits until N log lines contain TEXT.
wait_log_count() { poll "${3:-10}" "no $2 log lines with '$1'" _logged "$1" "$2"; }
_logged() { # TEXT N: N lines have TEXT; fails at once when the program ended without them
    [ "$(log_count "$1")" -ge "$2" ] && return 0
    kill -0 "$APP_PID" 2>/dev/null && return 1
    [ "$(log_count "$1")" -ge "$2" ] || fail "program exited before logging '$1' $2 times"
}

# wait_exit [SECONDS]: waits for the program to end and stores its status in APP_STATUS.
wait_exit() {
    poll "${1:-10}" "program still running, not ended" _app_ended
    wait "$APP_PID"
    APP_STATUS=$?
    APP_PID=
}
_app_ended() { ! kill -0 "$APP_PID" 2>/dev/null; }

# ------------------------------------------------------------------------------------------
# Frames
# ------------------------------------------------------------------------------------------
# With -v the program logs "frame N drawn, pointer at X,Y" (DEBUG) after each frame it shows,
# X,Y being where the latest mouse event put the pointer. A log line is written while its event
# is handled, before the frame that shows what the event did: the first frame line after it
# marks the moment the screen shows it.

FRAME_RE='^DEBUG:.* frame [0-9]+ drawn, pointer at '

# wait_drawn TEXT [N] [SECONDS]: waits for the N-th log line with TEXT (the first by default),
# then for a frame drawn after it. N counts from the start of the run: for a line that may
# come more than once, take log_count before the input and wait for one more.
wait_drawn() {
    local line
    wait_log_count "$1" "${2:-1}" "${3:-10}"
    line=$(grep -nF -- "$1" "$LOG" | sed -n "${2:-1}p" | cut -d: -f1)
    wait_frame_after "$line" "" "${3:-10}"
}

# point_at X Y: moves the pointer to a window position and waits for the frame that shows it
# there. Window and screen coordinates agree (no window manager moves the window). A pointer
# already there is first moved a pixel off, so that the move is an event the program sees.
point_at() {
    local mark
    mark=$(wc -l <"$LOG")
    [ "$(xdotool getmouselocation --shell | head -n 2 | xargs)" = "X=$1 Y=$2" ] &&
        move_to $(($1 + 1)) "$2"
    move_to "$1" "$2"
    wait_frame_after "$mark" "$1,$2"
}

# drawn: parks the pointer in the window's bottom-right corner, clear of the panels and the
# popups, and waits for the frame that shows it there: everything sent before has been handled
# and is on the screen. For input that logs nothing, such as a click that opens a popup.
drawn() { point_at 1276 796; }

# wait_frame_after LINE [X,Y] [SECONDS]: waits for a frame logged after log line LINE, with the
# pointer at X,Y when given. Needs a program started with -v.
wait_frame_after() {
    poll "${3:-10}" "no frame (-v?) after log line $1${2:+ with the pointer at $2}" \
        _frame_after "$1" "${2:+$2\$}"
}
_frame_after() { # LINE REGEX_TAIL
    awk -v from="$1" -v re="$FRAME_RE$2" 'NR > from && $0 ~ re { found = 1; exit }
        END { exit !found }' "$LOG" && return 0
    kill -0 "$APP_PID" 2>/dev/null || fail "program ended without drawing that frame"
    return 1
}

# find_windows: ids of mapped windows named like the program, one a line (maybe none).
find_windows() { xdotool search --onlyvisible --name '^[Tt]avolix$' 2>/dev/null; }

# app_window: waits for the program's window, focuses it and sets WID. The splash's log line
# comes first: the window shows up during start-up, but input sent before the event queue
# exists is lost (a key meant to leave the splash, the focus itself).
app_window() {
    wait_log "state switch: (none) -> splash" 20
    poll 10 "no window named tavolix" _window_found
    timeout $((10 * E2E_SLOW)) xdotool windowfocus --sync "$WID" || fail "could not focus window $WID"
}
_window_found() {
    WID=$(find_windows | head -n 1)
    [ -n "$WID" ] && return 0
    kill -0 "$APP_PID" 2>/dev/null || fail "program exited before its window appeared"
    return 1
}

# hide_gui: Tab hides the panels, for tests that judge the whole window's pixels; only the
# small show handle stays in the top-left corner (6..30). Returns once that has been drawn.
hide_gui() {
    local before
    before=$(log_count "gui hidden")
    key Tab
    wait_drawn "gui hidden" $((before + 1))
}

# Input goes through the server's test extension to the focused window, as a real key would.
key() { xdotool key "$@" || fail "xdotool key $*"; }
click_at() { # x y (window coordinates) [button]
    xdotool mousemove --window "$WID" "$1" "$2" click "${3:-1}" || fail "xdotool click $*"
}
resize_window() { xdotool windowsize --sync "$WID" "$1" "$2" || fail "could not resize to $1x$2"; }

# key_down KEY / key_up KEY: holds and releases a key (xdotool key names: ctrl, shift, space).
key_down() { xdotool keydown "$1" || fail "xdotool keydown $1"; }
key_up() { xdotool keyup "$1" || fail "xdotool keyup $1"; }

# mouse_down BUTTON / mouse_up BUTTON: holds and releases a mouse button where the pointer is.
mouse_down() { xdotool mousedown "$1" || fail "xdotool mousedown $1"; }
mouse_up() { xdotool mouseup "$1" || fail "xdotool mouseup $1"; }

# move_to X Y: moves the pointer to a window position.
move_to() { xdotool mousemove --window "$WID" "$1" "$2" || fail "xdotool mousemove $*"; }

# drag_path BUTTON X1 Y1 X2 Y2 ...: presses BUTTON (1 left, 2 middle, 3 right) at the first
# window point, moves through every later point in steps of at most 8 pixels, and releases at
# the last one. The short pauses between steps only keep the server from folding motions
# together, so the program sees the corners of the path; they wait for nothing, and the
# callers wait for what the drag did (an export, a pixel, a frame) before they look.
drag_path() {
    local button=$1
    shift
    [ $# -ge 4 ] && [ $(($# % 2)) = 0 ] || fail "drag_path needs at least two points"
    python3 - "$WID" "$button" "$@" >"$W/drag.cmd" <<'PY' || fail "could not plan the drag $*"
import math, sys
wid, button, pts = sys.argv[1], sys.argv[2], [int(v) for v in sys.argv[3:]]
pts = list(zip(pts[0::2], pts[1::2]))
out = [f"mousemove --window {wid} {pts[0][0]} {pts[0][1]}", "sleep 0.02", f"mousedown {button}"]
for (x0, y0), (x1, y1) in zip(pts, pts[1:]):
    n = max(1, math.ceil(max(abs(x1 - x0), abs(y1 - y0)) / 8))
    for i in range(1, n + 1):
        out.append(f"mousemove --window {wid} {round(x0 + (x1 - x0) * i / n)} {round(y0 + (y1 - y0) * i / n)}")
        out.append("sleep 0.004")
out += ["sleep 0.02", f"mouseup {button}"]
print("\n".join(out))
PY
    xdotool "$W/drag.cmd" || fail "xdotool drag $button $*"
}

# drag X1 Y1 X2 Y2 [BUTTON]: a straight drag with the left button unless BUTTON says otherwise.
drag() { drag_path "${5:-1}" "$1" "$2" "$3" "$4"; }

# wheel_at X Y NOTCHES: turns the wheel over a window position, away from the user (zoom in)
# for positive NOTCHES, towards the user for negative ones.
wheel_at() {
    local button=4 n=$3
    [ "$n" -lt 0 ] && button=5 n=$((-n))
    xdotool mousemove --window "$WID" "$1" "$2" click --repeat "$n" --delay 1 "$button" ||
        fail "xdotool wheel $*"
}

# close_window: asks the window to close the way a window manager's close button does, with a
# WM_DELETE_WINDOW client message (destroying the window would be a different event).
close_window() { python3 "$E2E_DIR/wm_delete.py" "$WID" || fail "could not send WM_DELETE_WINDOW"; }

# ------------------------------------------------------------------------------------------
# Screenshots
# ------------------------------------------------------------------------------------------

# shot NAME: grabs the program's window as raw RGB into $W/NAME.rgb, its size into
# $W/NAME.size. Grabbing the window rather than the root is some twenty times faster on a big
# screen, which keeps a splash shot well inside the splash's two seconds; without a window
# manager the window sits at the screen origin, so window and screen coordinates agree.
shot() {
    local size
    size=$(xdotool getwindowgeometry --shell "$WID" | awk -F= '
        $1 == "WIDTH" { w = $2 } $1 == "HEIGHT" { h = $2 } END { print w, h }')
    echo "$size" >"$W/$1.size"
    import -window "$WID" -depth 8 "rgb:$W/$1.rgb" || fail "screenshot $1 failed"
    [ "$(stat -c %s "$W/$1.rgb")" = $((${size% *} * ${size#* } * 3)) ] ||
        fail "screenshot $1 does not match the window size $size (window resized meanwhile?)"
}

_shot_w() { cut -d' ' -f1 "$W/$1.size"; }
_shot_h() { cut -d' ' -f2 "$W/$1.size"; }

# pixel NAME X Y: prints "R G B" of one window pixel of the shot named NAME.
pixel() {
    local got
    got=$(od -An -tu1 -v -j $((($3 * $(_shot_w "$1") + $2) * 3)) -N 3 "$W/$1.rgb" | xargs)
    [[ "$got" =~ ^[0-9]+\ [0-9]+\ [0-9]+$ ]] || fail "no pixel ($2,$3) in shot $1"
    echo "$got"
}

# wait_pixel X Y R G B [SECONDS]: polls the window until the pixel has that colour (+-2), for
# changes that log nothing, such as the redraw after a resize.
wait_pixel() { poll "${6:-10}" "pixel ($1,$2) is not ($3 $4 $5)" _pixel_is "$@"; }
_pixel_is() { # X Y R G B: the window's pixel now is R G B (+-2)
    local r g b
    SEEN=$(import -window "$WID" -crop "1x1+$1+$2" -depth 8 rgb:- 2>/dev/null | od -An -tu1 | xargs)
    read -r r g b <<<"$SEEN"
    _near "${r:-999}" "$3" 2 && _near "${g:-999}" "$4" 2 && _near "${b:-999}" "$5" 2
}

_near() { # a b tolerance
    local d=$(($1 - $2))
    [ "${d#-}" -le "$3" ]
}

# assert_pixel NAME X Y R G B [TOLERANCE]: each channel within TOLERANCE (default 2).
assert_pixel() {
    local got tol=${7:-2} r g b
    got=$(pixel "$1" "$2" "$3")
    read -r r g b <<<"$got"
    if ! { _near "$r" "$4" "$tol" && _near "$g" "$5" "$tol" && _near "$b" "$6" "$tol"; }; then
        fail "pixel ($2,$3) of $1.png is ($got), expected ($4 $5 $6) +-$tol"
    fi
}

# bright_pixels NAME X Y W H LEVEL: how many pixels of the region have grey level >= LEVEL.
bright_pixels() {
    local n
    n=$(convert -precision 16 -size "$(_shot_w "$1")x$(_shot_h "$1")" -depth 8 "rgb:$W/$1.rgb" \
        -crop "${4}x${5}+${2}+${3}" +repage -colorspace gray \
        -threshold "$(awk "BEGIN { print $6 / 255 * 100 }")%" \
        -format '%[fx:round(mean*w*h)]' info:)
    [[ "$n" =~ ^[0-9]+$ ]] || fail "could not count bright pixels of $1: '$n'"
    echo "$n"
}

# ------------------------------------------------------------------------------------------
# Exported images
# ------------------------------------------------------------------------------------------

# log_count TEXT: how many log lines contain TEXT.
log_count() { grep -cF -- "$1" "$LOG"; }

# export_png NAME: Ctrl+E, then a copy of the exported document as $W/NAME.png once the program
# logged the export. Ctrl stays down until then: the program reads the modifier keys when it
# handles the key, so Ctrl released early could turn the export into a plain E (the eraser).
# Every event sent before has been handled when the export is logged, which makes an export
# the way to wait for earlier input too. Ctrl+E drops a floating selection into its layer first.
export_png() {
    local before
    before=$(log_count "exported composite to")
    key_down ctrl
    key e
    wait_log_count "exported composite to" $((before + 1)) 20
    key_up ctrl
    cp "$APPDATA/Tavolix/sketch.png" "$W/$1.png" || fail "no exported image for $1"
}

# png_crop NAME IMAGE X Y W H: the region of $W/IMAGE.png as a shot named NAME, so that
# pixel, assert_pixel, profile and bright_pixels read it (coordinates relative to X, Y), and
# assert_doc_pixel in the image's own coordinates. One crop decodes the image once; reading
# many pixels from it costs next to nothing.
png_crop() {
    echo "$5 $6" >"$W/$1.size"
    echo "$3 $4" >"$W/$1.origin"
    convert "$W/$2.png" -crop "${5}x${6}+${3}+${4}" +repage -alpha off -depth 8 "rgb:$W/$1.rgb" ||
        fail "could not crop $2.png"
    [ "$(stat -c %s "$W/$1.rgb")" = $(($5 * $6 * 3)) ] || fail "crop $1 of $2.png is not ${5}x${6}"
}

# assert_doc_pixel NAME X Y R G B [TOLERANCE]: assert_pixel on a crop made by png_crop, with
# X, Y in the coordinates of the exported image.
assert_doc_pixel() {
    local ox oy
    read -r ox oy <"$W/$1.origin"
    assert_pixel "$1" $(($2 - ox)) $(($3 - oy)) "${@:4}"
}

# png_dark IMAGE LEVEL [WxH+X+Y]: how many pixels of $W/IMAGE.png (or of the region) have grey
# level <= LEVEL.
png_dark() {
    local crop=() n
    [ -n "${3:-}" ] && crop=(-crop "$3" +repage)
    n=$(convert "$W/$1.png" "${crop[@]}" -alpha off -colorspace gray \
        -threshold "$(awk "BEGIN { print ($2 + 0.5) / 255 * 100 }")%" \
        -format '%[fx:round((1 - mean) * w * h)]' info:)
    [[ "$n" =~ ^[0-9]+$ ]] || fail "could not count dark pixels of $1.png: '$n'"
    echo "$n"
}

# png_diff A B: how many pixels of $W/A.png and $W/B.png differ by more than about 2 levels.
png_diff() {
    local out
    out=$(compare -metric AE -fuzz 1% "$W/$1.png" "$W/$2.png" null: 2>&1)
    [[ "$out" =~ ^[0-9]+$ ]] || fail "could not compare $1.png with $2.png: $out"
    echo "$out"
}

# assert_same_png A B WHAT: the two exports hold the same pixels, within about 2 levels. The
# encoder is deterministic, so equal pixels give equal files; only a mismatch pays for the
# slower pixel comparison.
assert_same_png() {
    local n
    cmp -s "$W/$1.png" "$W/$2.png" && return 0
    n=$(png_diff "$1" "$2")
    [ "$n" = 0 ] || fail "$3: $1.png differs from $2.png in $n pixels"
}

# assert_png_matches_shot IMAGE SHOT X Y W H: the window region WxH+X+Y of the shot shows the
# same pixels as that region of $W/IMAGE.png, placed by the zoom-1 view of canvas_start.
assert_png_matches_shot() {
    local n
    convert -size "$(_shot_w "$2")x$(_shot_h "$2")" -depth 8 "rgb:$W/$2.rgb" \
        -crop "${5}x${6}+${3}+${4}" +repage "$W/$2.region.png" || fail "could not crop $2"
    convert "$W/$1.png" -crop "${5}x${6}+$(doc_x "$3")+$(doc_y "$4")" +repage -alpha off \
        "$W/$1.region.png" || fail "could not crop $1.png"
    n=$(png_diff "$1.region" "$2.region")
    [ "$n" = 0 ] || fail "$1.png differs from the screen in $n pixels of ${5}x${6}+$3+$4"
}

# ------------------------------------------------------------------------------------------
# Assertions on the log and on results
# ------------------------------------------------------------------------------------------

# assert_eq ACTUAL EXPECTED WHAT: equal, and not empty: a check that printed nothing is a
# broken check, never a match.
assert_eq() {
    [ -n "$1" ] && [ -n "$2" ] || fail "$3: nothing to compare (got '$1', expected '$2')"
    [ "$1" = "$2" ] || fail "$3: got '$1', expected '$2'"
}

assert_log() { grep -qF -- "$1" "$LOG" || fail "log has no line with '$1'"; }
assert_no_log() {
    local line
    line=$(grep -m 1 -F -- "$1" "$LOG") && fail "log should not contain '$1' but has: $line"
    return 0
}

# assert_log_order TEXT...: each TEXT appears on a line after the line that matched the one
# before it.
assert_log_order() {
    local -a lines
    local n=0 text
    mapfile -t lines <"$LOG"
    for text in "$@"; do
        while [ "$n" -lt "${#lines[@]}" ] && [[ "${lines[$n]}" != *"$text"* ]]; do
            n=$((n + 1))
        done
        [ "$n" -lt "${#lines[@]}" ] || fail "'$text' missing from the log or out of order"
        n=$((n + 1))
    done
}

# assert_no_failures: nothing at levels 0 to 3 (EMERG, ALERT, CRITICAL, ERR) in the log.
assert_no_failures() {
    local line
    line=$(grep -m 1 -E '^(EMERG|ALERT|CRITICAL|ERR):' "$LOG") && fail "unexpected failure: $line"
    return 0
}

# profile NAME LINE...: the colours along whole window rows or columns of a shot (each LINE is
# row:N or col:N), one output line per LINE, run-length coded with one letter per colour:
# B background (40,42,46), F frame (90,90,90), P paper (255,255,255), ? anything else;
# e.g. "row:2150 B101 F1 P4096 F1 B101".
profile() {
    python3 - "$W/$1.rgb" $(cat "$W/$1.size") "${@:2}" <<'PY'
import sys
path, width, height, lines = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4:]
classes = {"B": (40, 42, 46), "F": (90, 90, 90), "P": (255, 255, 255)}
data = open(path, "rb").read()
for line in lines:
    axis, index = line.split(":")
    index = int(index)
    runs = []
    for i in range(width if axis == "row" else height):
        at = ((index * width + i) if axis == "row" else (i * width + index)) * 3
        px = data[at:at + 3]
        name = next((k for k, c in classes.items()
                     if all(abs(a - b) <= 2 for a, b in zip(px, c))), "?")
        if runs and runs[-1][0] == name:
            runs[-1][1] += 1
        else:
            runs.append([name, 1])
    print(line, " ".join(f"{n}{c}" for n, c in runs))
PY
}

# assert_profile NAME REGEX LINE...: every listed row or column matches REGEX.
assert_profile() {
    local name=$1 regex=$2 out line got
    shift 2
    out=$(profile "$name" "$@") || fail "could not profile $name"
    [ "$(wc -l <<<"$out")" = $# ] || fail "could not profile $name: $out"
    while read -r line got; do
        [[ "$got" =~ ^$regex$ ]] || fail "$line of $name is '$got', expected /$regex/"
    done <<<"$out"
}

# Widget positions of the panels and the popups.
source "$E2E_DIR/panels.sh"
source "$E2E_DIR/popups.sh"

# ------------------------------------------------------------------------------------------
# The command line without a display
# ------------------------------------------------------------------------------------------

# cli ARGS...: the program without a display; its status in CLI_STATUS, stderr in $W/cli.err.
cli() {
    CLI_STATUS=0
    (cd "$W" && env -u DISPLAY timeout $((60 * E2E_SLOW)) "$BIN" "$@") >"$W/cli.out" 2>"$W/cli.err" ||
        CLI_STATUS=$?
}

# cli_refuses INPUT REASON: `--export` of INPUT exits 1 with REASON on stderr and writes nothing.
cli_refuses() {
    rm -f "$W/bad.png"
    cli --export "$W/bad.png" "$1"
    assert_eq "$CLI_STATUS" 1 "status for $1"
    grep -qF "$2" "$W/cli.err" || fail "$1: stderr says '$(cat "$W/cli.err")'"
    [ ! -e "$W/bad.png" ] || fail "$1 left an output file"
}

# png_size FILE: "WIDTH HEIGHT" from a PNG's header.
png_size() { python3 -c 'import struct,sys; print(*struct.unpack(">II", open(sys.argv[1],"rb").read()[16:24]))' "$1"; }

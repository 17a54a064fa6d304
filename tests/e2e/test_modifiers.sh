# A shortcut keeps its Ctrl even when the program gets to the key only after Ctrl was let go:
# two quick Ctrl+E taps are two exports, not an export followed by a plain E that silently
# turns the brush into the eraser. The first export keeps the program busy for a second or
# so, long after the second tap has ended.
source "$(dirname "$0")/lib.sh" "$1"
canvas_start

key ctrl+e ctrl+e
wait_log_count "exported composite to" 2 20
drag 300 200 500 200
export_png after_taps # held down, so this one is an export whatever happened before
png_crop stroke after_taps 1700 1840 220 16
read -r r g b <<<"$(pixel stroke 108 8)" # document (1808, 1848), on the stroke
_near "$r" 40 2 ||
    fail "a stroke after two quick Ctrl+E taps left ($r $g $b), not ink: the second tap was taken for E"
assert_eq "$(log_count "exported composite to")" 3 "exports after two quick taps and one held"

key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status"
assert_no_failures
pass

# A first start without settings asks for the language: choosing Deutsch stores language 4 and
# shows the panels in German at once. Escape closes popups before it touches anything else: with
# the text popup open over the language popup the first Escape closes the text popup, the
# second dismisses the language question (English, stored as 1), the third quits.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1280x800
export FIRST_START=1
language_field() { od -An -tu1 -j 16 -N 1 "$APPDATA/Tavolix/settings.dat" | xargs; }

# --- Choosing Deutsch. ------------------------------------------------------------------------
app_canvas # returns once the canvas, with the question asked at start-up, has been drawn
shot asked
# The popup over the paper, its "Deutsch" button left of the label in a button's grey.
assert_pixel asked 520 "$(_pp_row 5 4)" 55 55 66
click_pp language4
wait_log "language Deutsch"
wait_log "gui ready" # the rebuild in German
assert_eq "$(language_field)" 4 "language after choosing Deutsch"
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status"
assert_eq "$(language_field)" 4 "language after the run"

# --- Escape: the text popup first, then the language question, then the program. ------------
app_canvas
click_tb text # the popup opens, its field taking the keys, while the click is handled
type_text abc
key Escape
wait_log "popup 0 closed by Escape"
assert_no_log "popup 14 closed by Escape"
key Escape
wait_log "popup 14 closed by Escape"
assert_eq "$(language_field)" 1 "language after dismissing the question"
kill -0 "$APP_PID" 2>/dev/null || fail "an Escape that closed a popup ended the program"
key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status after the third Escape"
assert_no_failures
pass

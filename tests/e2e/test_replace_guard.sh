# Nothing the user types or clicks replaces a file or a drawing without asking: a save as
# "session" is refused, a save over an existing name asks first and Cancel leaves the file as it
# was, and Ctrl+O over a drawing whose changes no name holds asks too: Cancel keeps the drawing,
# and only Discard, said by the user, lets it go.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1280x800
shared_save
export TAVOLIX_NO_NATIVE_CHOOSER=1
app_canvas

# The ask popup: two lines of text, then "Save as...", "Discard" and "Cancel" side by side in
# its middle, each 110 wide at interface size Normal.
ASK_Y=$(_pp_row 3 2)
ASK_DISCARD="640 $ASK_Y" ASK_CANCEL="756 $ASK_Y"
notified() { # TEXT: waits for the notification, then closes it with its OK button
    wait_log "notification: $1" 20
    click_pp notify_ok
}
save_as() { # NAME: Ctrl+S, the name typed over what the field offers, Enter
    key ctrl+s
    type_text "$1"
    key Return
}

# --- The program's own names are refused, whatever their case. ----------------------------
drag 300 300 500 300
save_as session
notified "Reserved name, choose another: session"
save_as "Session-2"
notified "Reserved name, choose another: Session-2"
[ ! -e "$DIR/Session-2.tvl" ] || fail "a document was saved under the program's own name"

# --- An existing name asks first; Cancel leaves the file byte for byte. ---------------------
printf 'another drawing' >"$DIR/cat.tvl"
save_as cat
wait_log "confirm: Replace cat.tvl?"
shot replace
click_pp confirm_cancel
assert_eq "$(cat "$DIR/cat.tvl")" "another drawing" "cat.tvl after Cancel"
save_as cat
click_pp confirm_yes
notified "Saved: cat.tvl"
assert_log "replace confirmed: $DIR/cat.tvl"

# --- Ctrl+O over unsaved changes asks; Cancel keeps the drawing, Discard replaces it. --------
cp "$DIR/cat.tvl" "$DIR/sketch.tvl"
drag 300 500 500 500 # a change no name holds
key ctrl+o
wait_log "ask: The drawing has changes not saved under a name."
shot ask
click_at $ASK_CANCEL
wait_log "pending action 4 dropped"
assert_no_log "loaded document $DIR/sketch.tvl"
wait_pixel 400 500 40 40 40 # the drawing is still there
key ctrl+o
wait_log_count "ask: The drawing has changes not saved under a name." 2
click_at $ASK_DISCARD
wait_log "ask: discarded"
wait_log "loaded document $DIR/sketch.tvl"
wait_pixel 400 500 255 255 255 # gone, because the user said so
key ctrl+o # the loaded file has nothing unsaved: no question
wait_log_count "loaded document $DIR/sketch.tvl" 2
assert_eq "$(grep -c 'ask: The drawing' "$LOG")" 2 "questions asked"

key Escape
wait_exit 20
assert_eq "$APP_STATUS" 0 "exit status"
pass

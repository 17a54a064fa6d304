# Where the save folder goes, and start-up refusing to run without one.
source "$(dirname "$0")/lib.sh" "$1"
x_start 1400x900

# fails_at_startup WHAT: the program stops before it opens a window, with status 1.
fails_at_startup() {
    wait_exit
    assert_eq "$APP_STATUS" 1 "exit status when $1"
    grep -qE '^EMERG:.*platform init failed$' "$LOG" || fail "no level-0 'platform init failed'"
    assert_log_order "platform init failed" "init failed, exiting" "Tavolix shut down"
    assert_no_log "display 1280x800" # the display comes after the platform
    [ -z "$(find_windows)" ] || fail "a tavolix window lingers when $1"
}

# --- Only one level is created: a save root whose parent is missing stops start-up. --------
APPDATA_OVERRIDE="$W/missing/deeper"
app_start
fails_at_startup "the save root's parent is missing"
assert_log "could not create save dir $W/missing/deeper/Tavolix"
[ ! -e "$W/missing" ] || fail "start-up created the missing parent $W/missing"

# --- A save folder path that does not fit the path buffer fails instead of being cut. -----
long="$W/$(printf 'a%.0s' $(seq 1100))"
APPDATA_OVERRIDE=$long
app_start
fails_at_startup "the save folder path is too long"
assert_log "save dir path truncated (need $((${#long} + 9)) bytes)"

# --- An empty APPDATA counts as unset: the folder is ./save in the working directory, not
# --- "/Tavolix" at the file system root. -----------------------------------------------------
saved_home=${HOME-}
APPDATA_OVERRIDE=
unset HOME XDG_DATA_HOME
app_start
export HOME=$saved_home
wait_log "state switch: (none) -> splash"
assert_log "desktop platform ready, save dir: ./save"
[ -d "$W/save" ] || fail "no save folder in the working directory"
app_window
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status with the ./save folder"

pass

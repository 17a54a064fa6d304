# OpenRaster: a drawing exported as .ora through the Export popup is a file other programs
# read (checked with Python's zipfile and XML reader); from the command line a document
# written as .ora and flattened again equals the document flattened directly, a thumbnail
# reads .ora, and a damaged .ora is refused with a reason; "tavolix file.ora" opens it with
# the same pixels.
source "$(dirname "$0")/lib.sh" "$1"
shared_save
export TAVOLIX_NO_NATIVE_CHOOSER=1
fake_viewer
CHECK="$E2E_DIR/../data/ora/check_ora.py"


# --- Run 1: two strokes, exported as OpenRaster through the popup. -------------------------
x_start 1280x800
app_canvas
drag 500 300 800 420
drag 520 500 760 380
# Brush and Color folded, File unfolded: the Export button is in sight.
click_at 108 716
click_at 108 478
click_at 108 580
click_at 108 648
# The area, border and template only shape a flat picture: with OpenRaster chosen they are
# greyed out, and the lit template toggle goes dark.
read -r tx ty <<<"$(pp export_template)"
_template_lit() { shot tpl; [ "$(bright_pixels tpl $((tx - 150)) $((ty - 8)) 300 16 80)" -gt "$1" ]; }
_template_dark() { ! _template_lit 2000; }
poll 10 "the export popup's template toggle is not lit" _template_lit 4000
click_pp export_ora
poll 10 "the template toggle is not greyed out for OpenRaster" _template_dark
click_pp export_field
key ctrl+a
type_text layers
click_pp export_run
wait_log "exported OpenRaster to $DIR/layers.ora" 30
wait_log "notification: Exported " 20
click_pp notify_ok
python3 "$CHECK" "$DIR/layers.ora" 1 >"$W/check.out" 2>&1 || fail "layers.ora: $(cat "$W/check.out")"
export_png inprogram
key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status of run 1"

# --- The command line: .tvl -> .ora -> .png equals .tvl -> .png; the popup's file too. -----
cli --export "$W/cli.ora" "$DIR/session.tvl"
assert_eq "$CLI_STATUS" 0 "--export .ora status: $(cat "$W/cli.err")"
python3 "$CHECK" "$W/cli.ora" 1 >"$W/check.out" 2>&1 || fail "cli.ora: $(cat "$W/check.out")"
cli --export "$W/from_tvl.png" "$DIR/session.tvl"
assert_eq "$CLI_STATUS" 0 "--export .png status"
cli --export "$W/from_ora.png" "$W/cli.ora"
assert_eq "$CLI_STATUS" 0 "--export from .ora status: $(cat "$W/cli.err")"
assert_same_png from_tvl from_ora "the document flattened through OpenRaster"
cli --export "$W/from_popup.png" "$DIR/layers.ora"
assert_same_png from_tvl from_popup "the popup's OpenRaster file flattened"
cli --thumbnail "$W/cli.ora" "$W/thumb.png" 64
assert_eq "$CLI_STATUS" 0 "thumbnail of an .ora: $(cat "$W/cli.err")"
read -r dw dh < <(png_size "$W/from_tvl.png")
assert_eq "$(png_size "$W/thumb.png")" "64 $((64 * dh / dw))" "thumbnail size"

# --- Damaged and hostile files are refused with a reason and write nothing. ---------------
for bad in "bad/dotdot.ora:a damaged document" "bad/bomb_claims.ora:too large" \
    "bad/truncated.ora:a damaged document"; do
    cli_refuses "$E2E_DIR/../data/ora/${bad%%:*}" "${bad#*:}"
done

# --- Run 2: "tavolix cli.ora" opens the layers with the pixels they had. ------------------
app_canvas "$W/cli.ora"
wait_log "loaded OpenRaster $W/cli.ora"
wait_log "loaded document $W/cli.ora"
wait_log "notification: Kept in the Load list: kept "
click_pp notify_ok
export_png opened
assert_same_png inprogram opened "the opened OpenRaster file exported"
key Escape
wait_exit
pass

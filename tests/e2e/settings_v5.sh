# seed_settings_v5 FOLDER [KEY=VALUE...]: writes a version 5 "settings.dat" into FOLDER that
# holds the first-run defaults with English chosen, changed by the named fields: stabilizer,
# pen_curve (0 soft, 1 linear, 2 firm), pen_size, flow (percent), size. Sourced by the tests of
# the stabilizer and the pen, which set what they need before the program starts.
seed_settings_v5() {
    local folder=$1
    shift
    mkdir -p "$folder"
    python3 - "$folder/settings.dat" "$@" <<'PY' || fail "could not write settings.dat"
import struct, sys
fields = dict(a.split("=") for a in sys.argv[2:])
v = lambda name, default: int(fields.get(name, default))
record = struct.pack(
    "<4s30I", b"SSET", 5, 0, 0, 1, 0, 0, 0, v("size", 24), 100, v("flow", 100), 70,
    (40 << 24) | (40 << 16) | (40 << 8) | 255, 0, 0, 0, 0, 128, 0, 6, 0, 0x70, 0, 0, 0, 1, 32, 1,
    48, 0, 1)
record += struct.pack("<4I", v("stabilizer", 0), v("pen_curve", 1), v("pen_size", 0), 0)
record += bytes(32)
assert len(record) == 172
open(sys.argv[1], "wb").write(record)
PY
}

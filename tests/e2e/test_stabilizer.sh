# The stroke stabilizer: with the "Stabilizer" at its strongest, a zig-zag dragged along a
# line paints a stroke that stays near the line, and the stroke still ends where the pointer
# was lifted. The same path without it paints the zig-zag.
#
# At zoom 1 with the paper centred, window (x, y) is document (x + 1408, y + 1648).
source "$(dirname "$0")/lib.sh" "$1"
source "$(dirname "$0")/settings_v5.sh"
x_start 1400x900
shared_save

# The zig-zag: 12 pixels above and below y = 400 every 16 pixels from x = 300 to 1000 (clear
# of both panels), ending on the line. The brush is 6 pixels wide so its middle is easy to find.
zigzag() {
    local pts=(300 400) x up=1
    for x in $(seq 316 16 984); do
        pts+=("$x" $((up ? 388 : 412)))
        up=$((1 - up))
    done
    pts+=(1000 400)
    drag_path 1 "${pts[@]}"
}

# deviation NAME: the largest distance, in pixels, of the ink's middle from document row 2048
# over the columns of the stroke's inner part (x 500 .. 900 in the window).
deviation() {
    convert "$W/$1.png" -crop 400x100+1908+1998 +repage -alpha off -colorspace gray \
        -depth 8 txt:- | awk -F'[,: ]+' '
        NR > 1 && $0 !~ /^#/ {
            x = $1; y = $2; g = substr($0, index($0, "gray(") + 5) + 0
            if (g < 128) { n[x]++; s[x] += y }
        }
        END {
            worst = 0
            for (x in n) { d = s[x] / n[x] + 1998 - 2048; if (d < 0) d = -d; if (d > worst) worst = d }
            printf "%.1f\n", worst
        }'
}

run() { # NAME STABILIZER: a fresh drawing each time
    rm -f "$DIR/session.tvl"
    seed_settings_v5 "$DIR" stabilizer="$2" size=6
    app_canvas
    zigzag
    export_png "$1"
    key Escape
    wait_exit 20
}

run plain 0
run steady 100
plain=$(deviation plain)
steady=$(deviation steady)
note "ink middle strays $plain px without the stabilizer, $steady px with it"
awk -v p="$plain" 'BEGIN { exit !(p >= 8) }' || fail "the plain zig-zag strays only $plain px"
awk -v p="$plain" -v s="$steady" 'BEGIN { exit !(s <= p / 4) }' ||
    fail "the steadied stroke strays $steady px, not a fraction of $plain"
# The last stretch is caught up: ink where the pointer was lifted, none beyond.
png_crop steady_end steady 2380 2028 60 40
assert_doc_pixel steady_end 2406 2048 40 40 40 40
assert_doc_pixel steady_end 2420 2048 255 255 255 2
pass

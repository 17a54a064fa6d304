# Helpers of the colour tests: choosing a brush colour through the picker's hex field, and
# counting the pixels of one colour in an export. Sourced after lib.sh.

# set_colour HEX: opens the colour picker, types HEX ("#rrggbb") into its hex field and
# presses Enter, which accepts; waits until the program took the colour.
set_colour() {
    local before
    before=$(log_count "colour picker: brush colour ${1}ff")
    click_tb color
    click_pp picker_hex
    key ctrl+a
    type_text "$1"
    key Return
    wait_log_count "colour picker: brush colour ${1}ff" $((before + 1))
}

# count_colour IMAGE WxH+X+Y R G B: how many pixels of the region of $W/IMAGE.png are within
# 40 levels of the colour on every channel.
count_colour() {
    convert "$W/$1.png" -crop "$2" +repage -alpha off -depth 8 txt:- |
        awk -F'[(,)]' -v r="$3" -v g="$4" -v b="$5" '
        function near(a, c) { return a - c <= 40 && c - a <= 40 }
        NR > 1 && near($3, r) && near($4, g) && near($5, b) { n++ }
        END { print n + 0 }'
}

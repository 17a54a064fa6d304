# The grid keys: G shows the lines, D the cell diagonals, Shift+G turns snapping on, after which
# a brush stroke pressed off the grid starts on a grid point and walks it in whole cells; with
# nothing of the grid showing, strokes land where they are pressed again.
#
# At zoom 1 window (x, y) is document (x + 1408, y + 1648). Cells are 128 pixels and
# 1408 = 11 x 128, 1664 = 13 x 128: lines fall on window columns 0, 128, ... and rows 16, 144, ...
source "$(dirname "$0")/lib.sh" "$1"
canvas_start
hide_gui
point_at 1270 790 # the brush cursor stays clear of every row and column looked at

LINE="131 158 205"     # the line colour over paper
DIAGONAL="205 186 163" # the diagonal colour over paper
INK="40 40 40"
PAPER="255 255 255"

# --- G: one-pixel lines every 128 pixels, nothing else. ----------------------------------
key g
wait_pixel 128 50 $LINE
shot lines
assert_profile lines '(\?1 P127 ){9}\?1 P127' row:50 row:700
assert_profile lines 'P16 (\?1 P127 ){6}\?1 P15' col:50 col:700
assert_pixel lines 640 50 $LINE
assert_pixel lines 50 400 $LINE
assert_pixel lines 192 208 $PAPER # a cell centre

# --- D: both diagonals of every cell; they cross at the cell centres. --------------------
key d
wait_pixel 200 216 $DIAGONAL
shot diagonals
# Along a row through cell centres: the lines and the crossings of the diagonals, 64 apart.
assert_profile diagonals '(\?1 P63 ){19}\?1 P63' row:208
assert_pixel diagonals 184 200 $DIAGONAL
assert_pixel diagonals 200 200 $DIAGONAL
key d
wait_pixel 200 216 $PAPER
shot no_diagonals
assert_profile no_diagonals '(\?1 P127 ){9}\?1 P127' row:208

# --- Shift+G: a press at document (2088, 2078) starts on the grid point (2048, 2048); moving
# --- 300 pixels right walks two whole cells to (2304, 2048), since the pointer stops 84
# --- pixels past it, short of the three quarters of a cell that make the next step. -------
# Shift stays down until the export has shown that everything before it was handled.
key_down shift
key g
drag 680 430 980 430
export_png snapped
key_up shift
png_crop snapped_c snapped 2000 2000 400 120
for p in "2048 2048" "2048 2056" "2176 2048" "2300 2048"; do
    assert_doc_pixel snapped_c $p $INK
done
for p in "2088 2078" "2030 2048" "2330 2048" "2380 2078" "2176 2075"; do
    assert_doc_pixel snapped_c $p $PAPER
done
assert_eq "$(png_dark snapped 147)" "$(png_dark snapped 147 400x120+2000+2000)" \
    "half-dark pixels of the whole export against those near the grid walk"

# --- G hides the lines; with no diagonals either the grid shows nothing and does not snap:
# --- a stroke from document (2088, 2248) to (2308, 2248) stays where it was drawn. --------
key g
wait_pixel 128 50 $PAPER
drag 680 600 900 600
export_png free
png_crop free_c free 2000 2180 400 150
for p in "2088 2248" "2200 2248" "2300 2248"; do
    assert_doc_pixel free_c $p $INK
done
# Snapped, it would have started on (2048, 2304).
for p in "2060 2304" "2070 2248" "2320 2248"; do
    assert_doc_pixel free_c $p $PAPER
done

key Escape
wait_exit
assert_eq "$APP_STATUS" 0 "exit status"
assert_no_failures
pass

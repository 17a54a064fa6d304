#!/usr/bin/env python3
# Writes a version 3 document of LAYERS layers of SIDE x SIDE pixels, layer i holding one
# opaque 3000 x 120 band from (300, 200 + 400 i) in its own colour and nothing else, the layer
# images run-length coded as the program writes them. Prints the bands, one per line:
# "x0 y0 x1 y1 r g b" (inclusive corners).
# Usage: banded_session.py PATH [SIDE] [LAYERS]
import struct
import sys

path = sys.argv[1]
side = int(sys.argv[2]) if len(sys.argv) > 2 else 4096
layers = int(sys.argv[3]) if len(sys.argv) > 3 else 8


def runs(pixel, count):
    out = bytearray()
    while count > 0:
        n = min(count, 128)
        out += bytes([0x80 | (n - 1)]) + pixel
        count -= n
    return bytes(out)


def layer_image(colour, x0, y0, x1, y1):
    clear = bytes(4)
    r, g, b = colour
    ink = bytes([b, g, r, 255])  # stored B, G, R, A
    blank_row = runs(clear, side)
    band_row = runs(clear, x0) + runs(ink, x1 - x0 + 1) + runs(clear, side - 1 - x1)
    # 32 bits, top-down rows, 8 alpha bits, run-length coded true colour.
    header = struct.pack("<BBB5sHHHHBB", 0, 0, 10, bytes(5), 0, 0, side, side, 32, 8 | 0x20)
    rows = [band_row if y0 <= y <= y1 else blank_row for y in range(side)]
    return header + b"".join(rows)


doc = bytearray(b"TVL3" + struct.pack("<IIII", side, side, 0, layers))
for i in range(layers):
    x0, y0 = 300, 200 + 400 * i
    x1, y1 = x0 + 2999, y0 + 119
    colour = (40 + 25 * i, 90, 200 - 20 * i)
    image = layer_image(colour, x0, y0, x1, y1)
    name = ("Band %d" % (i + 1)).encode()
    doc += struct.pack("<I", len(name)) + name
    doc += struct.pack("<IIIII", 1000, 0, 1, 0, len(image)) + image
    print(x0, y0, x1, y1, *colour)
with open(path, "wb") as f:
    f.write(doc)

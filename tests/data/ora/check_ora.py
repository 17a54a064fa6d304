#!/usr/bin/env python3
"""Checks an OpenRaster file as another program would open it: `mimetype` first and stored
(its content at offset 38, where file-type sniffers look),
stack.xml well formed, every listed PNG there with a size that fits, the merged image at the
picture's size and the thumbnail within 256 pixels. Usage: check_ora.py FILE [LAYERS]"""
import struct
import sys
import xml.etree.ElementTree as ET
import zipfile


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise SystemExit("not a PNG")
    return struct.unpack(">II", data[16:24])


def main():
    path = sys.argv[1]
    # What file-type sniffers read: the stored mimetype's name and content at fixed offsets.
    head = open(path, "rb").read(54)
    assert head[30:38] == b"mimetype" and head[38:54] == b"image/openraster", head
    with zipfile.ZipFile(path) as z:
        first = z.infolist()[0]
        assert first.filename == "mimetype", first.filename
        assert first.compress_type == zipfile.ZIP_STORED
        assert z.read("mimetype") == b"image/openraster"
        assert z.testzip() is None
        root = ET.fromstring(z.read("stack.xml"))
        w, h = int(root.get("w")), int(root.get("h"))
        layers = root.findall("./stack/layer")
        if len(sys.argv) > 2:
            assert len(layers) == int(sys.argv[2]), len(layers)
        for layer in layers:
            assert png_size(z.read(layer.get("src"))) == (w, h)
            assert layer.get("visibility") in ("visible", "hidden")
            assert 0.0 <= float(layer.get("opacity")) <= 1.0
        assert png_size(z.read("mergedimage.png")) == (w, h)
        tw, th = png_size(z.read("Thumbnails/thumbnail.png"))
        assert max(tw, th) <= 256 and tw >= 1 and th >= 1
    print("ok", path, w, h, len(layers))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the OpenRaster samples the reader's tests open: small good files in this folder,
damaged and hostile ones in bad/. Run it from anywhere; the outputs are committed."""
import io
import os
import struct
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
BAD = os.path.join(HERE, "bad")


def png(w, h, rgba, claim=None):
    """A straight-alpha RGBA PNG of one colour; `claim` puts another size in the header."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    cw, ch = claim or (w, h)
    raw = b"".join(b"\0" + bytes(rgba) * w for _ in range(h))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", cw, ch, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def grey_png(w, h, value):
    """A grey PNG (colour type 0): a kind the reader leaves to the image library."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes([value]) * w for _ in range(h))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def stack(w, h, body):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<image version="0.0.5" w="%d" h="%d">%s</image>\n'
            % (w, h, body)).encode()


def archive(path, entries, mimetype=True):
    """entries: (name, bytes) in order, mimetype first and stored unless told otherwise."""
    with zipfile.ZipFile(path, "w") as z:
        if mimetype:
            z.writestr(zipfile.ZipInfo("mimetype"), b"image/openraster", zipfile.ZIP_STORED)
        for name, data in entries:
            z.writestr(zipfile.ZipInfo(name), data, zipfile.ZIP_DEFLATED)


def layer(src, x=0, y=0, **attrs):
    extra = "".join(' %s="%s"' % (k.replace("_", "-"), v) for k, v in attrs.items())
    return '<layer src="%s" x="%d" y="%d"%s/>' % (src, x, y, extra)


RED, BLUE, GREEN = (255, 0, 0, 255), (0, 0, 255, 128), (0, 255, 0, 255)


def good():
    # An 8x6 picture: a red block at (2, 1), a blue one half outside the bottom-left corner.
    archive(os.path.join(HERE, "offsets.ora"), [
        ("stack.xml", stack(8, 6, "<stack>" + layer("data/b.png", -1, 4, name="blue") +
                            layer("data/r.png", 2, 1, name="red") + "</stack>")),
        ("data/r.png", png(3, 2, RED)), ("data/b.png", png(4, 4, BLUE)),
        ("mergedimage.png", png(8, 6, (255, 255, 255, 255))),
        ("Thumbnails/thumbnail.png", png(8, 6, (255, 255, 255, 255)))])
    # Groups inside groups: the inner group moves by (1, 0), halves opacity and is hidden.
    archive(os.path.join(HERE, "nested.ora"), [
        ("stack.xml", stack(4, 4, "<stack>" + layer("data/top.png", name="top") +
                            '<stack x="1" opacity="0.5" visibility="hidden">' +
                            layer("data/inner.png", 1, 0, name="inner", opacity="0.5") + "</stack>" +
                            layer("data/bottom.png", name="bottom") + "</stack>")),
        ("data/top.png", png(1, 1, RED)), ("data/inner.png", png(2, 2, GREEN)),
        ("data/bottom.png", png(4, 4, BLUE))])
    # The least a file can be: no merged image, no thumbnail.
    archive(os.path.join(HERE, "no_thumbnail.ora"), [
        ("stack.xml", stack(2, 2, "<stack>" + layer("data/a.png", name="only") + "</stack>")),
        ("data/a.png", png(2, 2, GREEN))])
    # Previews: a green layer, a red merged image and a blue 20 x 10 thumbnail tell apart which
    # one a preview was made from; in the second file the merged image is not a PNG.
    for name, merged in (("previews.ora", png(60, 30, RED)), ("preview_damaged.ora", b"not a picture")):
        archive(os.path.join(HERE, name), [
            ("stack.xml", stack(60, 30, "<stack>" + layer("data/g.png", name="green") + "</stack>")),
            ("data/g.png", png(60, 30, GREEN)), ("mergedimage.png", merged),
            ("Thumbnails/thumbnail.png", png(20, 10, (0, 0, 255, 255)))])
    archive(os.path.join(HERE, "unknown_op.ora"), [
        ("stack.xml", stack(2, 2, "<stack>" + layer("data/a.png", name="odd", composite_op="svg:overlay") +
                            layer("data/a.png", name="screen", composite_op="svg:screen") + "</stack>")),
        ("data/a.png", png(2, 2, RED))])
    archive(os.path.join(HERE, "grey.ora"), [
        ("stack.xml", stack(3, 2, "<stack>" + layer("data/g.png", name="grey") + "</stack>")),
        ("data/g.png", grey_png(3, 2, 128))])
    # 1027 layers, three more than a document holds: the top four become one, red from the
    # fourth from the top, blue from the top.
    body = (layer("data/blue.png", 1, 0) + layer("data/clear.png") * 2 + layer("data/red.png") +
            layer("data/clear.png") * 1023)
    archive(os.path.join(HERE, "many_layers.ora"), [
        ("stack.xml", stack(2, 1, "<stack>" + body + "</stack>")), ("data/blue.png", png(1, 1, (0, 0, 255, 255))),
        ("data/red.png", png(1, 1, RED)), ("data/clear.png", png(2, 1, (0, 0, 0, 0)))])


def bad():
    one = ("data/a.png", png(2, 2, RED))
    simple = stack(2, 2, "<stack>" + layer("data/a.png") + "</stack>")
    archive(os.path.join(BAD, "dotdot.ora"), [("stack.xml", simple), one, ("../x", b"x")])
    archive(os.path.join(BAD, "absolute.ora"), [("stack.xml", simple), one, ("/etc/x", b"x")])
    archive(os.path.join(BAD, "backslash.ora"), [("stack.xml", simple), one, ("data\\x", b"x")])
    archive(os.path.join(BAD, "src_dotdot.ora"),
            [("stack.xml", stack(2, 2, "<stack>" + layer("../a.png") + "</stack>")), one])
    archive(os.path.join(BAD, "many_layers.ora"),
            [("stack.xml", stack(2, 2, "<stack>" + layer("data/a.png") * 100000 + "</stack>")), one])
    archive(os.path.join(BAD, "deep.ora"),
            [("stack.xml", stack(2, 2, "<stack>" * 5000 + "</stack>" * 5000)), one])
    archive(os.path.join(BAD, "invalid_xml.ora"), [("stack.xml", b"<image w='2' h='2'><stack><layer"), one])
    archive(os.path.join(BAD, "entities.ora"), [("stack.xml", b'<?xml version="1.0"?><!DOCTYPE image '
            b'[<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;">]><image w="2" h="2">'
            b'<stack><layer src="data/a.png" name="&b;"/></stack></image>'), one])
    archive(os.path.join(BAD, "png_huge_ihdr.ora"), [("stack.xml", simple),
            ("data/a.png", png(2, 2, RED, claim=(100000, 100000)))])
    archive(os.path.join(BAD, "image_too_large.ora"),
            [("stack.xml", stack(100000, 100000, "<stack>" + layer("data/a.png") + "</stack>")), one])
    archive(os.path.join(BAD, "missing_png.ora"), [("stack.xml", simple)])
    archive(os.path.join(BAD, "not_png.ora"), [("stack.xml", simple), ("data/a.png", b"GIF89a....")])
    # Five layers, the middle one damaged: the decoding already under way is stopped cleanly.
    archive(os.path.join(BAD, "middle_damaged.ora"), [
        ("stack.xml", stack(2, 2, "<stack>" + layer("data/a.png") * 2 + layer("data/cut.png") +
                            layer("data/a.png") * 2 + "</stack>")),
        one, ("data/cut.png", png(2, 2, RED)[:-20])])
    archive(os.path.join(BAD, "wrong_mimetype.ora"), [("stack.xml", simple), one], mimetype=False)
    with zipfile.ZipFile(os.path.join(BAD, "wrong_mimetype.ora"), "a") as z:
        z.writestr(zipfile.ZipInfo("mimetype"), b"application/zip")
    archive(os.path.join(BAD, "no_stack.ora"), [one])
    # A layer that claims 1000 bytes and inflates to 50 MB: the read stops at the claim.
    archive(os.path.join(BAD, "bomb_expands.ora"), [("stack.xml", simple), ("data/a.png", bytes(50 << 20))])
    patch_sizes(os.path.join(BAD, "bomb_expands.ora"), "data/a.png", 1000)
    # stack.xml claiming 3 GB: refused on the claim, before anything is inflated.
    archive(os.path.join(BAD, "bomb_claims.ora"), [("stack.xml", simple), one])
    patch_sizes(os.path.join(BAD, "bomb_claims.ora"), "stack.xml", 3 << 30)
    # A good file cut in half.
    good_bytes = open(os.path.join(HERE, "offsets.ora"), "rb").read()
    open(os.path.join(BAD, "truncated.ora"), "wb").write(good_bytes[: len(good_bytes) // 2])


def patch_sizes(path, name, size):
    """Rewrites the uncompressed size of `name` in its local and central headers."""
    data = bytearray(open(path, "rb").read())
    encoded = name.encode()
    at = 0
    while True:
        at = data.find(encoded, at + 1)
        if at < 0:
            break
        if data[at - 30:at - 26] == b"PK\x03\x04":
            struct.pack_into("<I", data, at - 30 + 22, size)
        elif data[at - 46:at - 42] == b"PK\x01\x02":
            struct.pack_into("<I", data, at - 46 + 24, size)
    open(path, "wb").write(bytes(data))


if __name__ == "__main__":
    os.makedirs(BAD, exist_ok=True)
    good()
    bad()

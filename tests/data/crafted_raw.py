"""Crafted camera raws for tests/data/corrupt/, used by make_corrupt.py: small DNG and NEF-like
TIFF structures with a known mosaic, and hostile ones. Standard library only.

Run as a program it writes one large raw instead: `crafted_raw.py OUT.dng WIDTH HEIGHT` (the
benchmark's 24-megapixel picture).
"""
import struct
import sys

TYPES = {1: "B", 2: "B", 3: "H", 4: "I", 5: "II", 7: "B", 10: "ii"}
SIZES = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 7: 1, 10: 8}


class Tiff:
    """A little-endian TIFF built from the back: data blocks and directories are appended as they
    come, so every offset an entry names is already known."""

    def __init__(self):
        self.buf = bytearray(b"II*\0\0\0\0\0")

    def add(self, data):
        if len(self.buf) % 2:
            self.buf.append(0)
        at = len(self.buf)
        self.buf += data
        return at

    def ifd(self, entries):
        """entries: (tag, type, values); values are bytes for types 1, 2 and 7."""
        packed = []
        for tag, typ, values in sorted(entries, key=lambda e: e[0]):
            if isinstance(values, (bytes, bytearray)):
                raw, count = bytes(values), len(values)
            else:
                flat = [v for pair in values for v in pair] if typ in (5, 10) else values
                raw = struct.pack("<%d%s" % (len(flat), TYPES[typ][0]), *flat)
                count = len(values)
            if len(raw) > 4:
                raw = struct.pack("<I", self.add(raw))
            packed.append(struct.pack("<HHI", tag, typ, count) + raw.ljust(4, b"\0"))
        return self.add(struct.pack("<H", len(packed)) + b"".join(packed) + b"\0\0\0\0")

    def finish(self, first):
        self.buf[4:8] = struct.pack("<I", first)
        return bytes(self.buf)


def scene(x, y, width, height):
    """Linear light of a smooth colour ramp, 0..1 per channel."""
    return (0.15 + 0.7 * x / width, 0.2 + 0.6 * y / height, 0.85 - 0.7 * x / width)


# The camera sees grey through these: the as-shot neutral the white balance must undo.
NEUTRAL = (0.5, 1.0, 0.7)
WHITE = 4095


def mosaic(width, height, fast=False):
    """16-bit RGGB samples of the scene through NEUTRAL, 12 bits used."""
    if fast:  # the benchmark's large picture: rows of one repeated pattern
        row = lambda y: struct.pack("<2H", 900 + y % 700, 1800) if y % 2 == 0 else \
            struct.pack("<2H", 1800, 1300 - y % 500)
        return b"".join(row(y) * (width // 2) for y in range(height))
    out = bytearray()
    for y in range(height):
        for x in range(width):
            c = (y % 2) + (x % 2)  # 0 red, 1 green, 2 blue
            out += struct.pack("<H", int(WHITE * scene(x, y, width, height)[c] * NEUTRAL[c]))
    return bytes(out)


def exif_ifd(t):
    exif = t.ifd([(0x829A, 5, [(1, 125)]), (0x829D, 5, [(28, 10)]), (0x8827, 3, [200]),
                  (0x9003, 2, b"2026:12:07 10:20:30\0"), (0x920A, 5, [(35, 1)])])
    gps = t.ifd([(0, 1, b"\2\3\0\0"), (1, 2, b"N\0"), (2, 5, [(37, 1), (33, 1), (0, 1)]),
                 (3, 2, b"E\0"), (4, 5, [(127, 1), (0, 1), (0, 1)])])
    return [(0x8769, 4, [exif]), (0x8825, 4, [gps])]


XMP = (b'<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/'
       b'22-rdf-syntax-ns#"><rdf:Description xmlns:xmp="http://ns.adobe.com/xap/1.0/" '
       b'xmp:Rating="4"/></rdf:RDF></x:xmpmeta>')


def cfa_entries(t, width, height, data, declared=None):
    strip = t.add(data)
    w, h = declared or (width, height)
    return [(254, 4, [0]), (256, 4, [w]), (257, 4, [h]), (258, 3, [16]), (259, 3, [1]),
            (262, 3, [32803]), (273, 4, [strip]), (277, 3, [1]), (278, 4, [h]),
            (279, 4, [len(data)]), (284, 3, [1]), (0x828D, 3, [2, 2]), (0x828E, 1, b"\0\1\1\2"),
            (0xC61D, 4, [WHITE])]


def dng_colour():
    # A plausible camera-to-XYZ matrix (D65) and the shot's neutral.
    matrix = [0.7, -0.15, -0.05, -0.35, 1.15, 0.2, -0.05, 0.2, 0.6]
    return [(0xC612, 1, b"\1\4\0\0"), (0xC614, 2, b"Velora Test Bayer\0"),
            (0xC621, 10, [(int(v * 10000), 10000) for v in matrix]), (0xC65A, 3, [21]),
            (0xC628, 5, [(int(v * 10000), 10000) for v in NEUTRAL])]


def camera(make, model, orientation=1):
    return [(271, 2, make + b"\0"), (272, 2, model + b"\0"), (274, 3, [orientation])]


def preview_entries(t, width, height):
    data = bytes((x * 16) & 0xFF for _ in range(height) for x in range(width * 3))
    strip = t.add(data)
    return [(254, 4, [1]), (256, 4, [width]), (257, 4, [height]), (258, 3, [8, 8, 8]),
            (259, 3, [1]), (262, 3, [2]), (273, 4, [strip]), (277, 3, [3]), (278, 4, [height]),
            (279, 4, [len(data)])]


def dng_bayer(width=96, height=64, orientation=6, declared=None, data=None, fast=False):
    """The mosaic in the first directory, with camera colour, EXIF, GPS and XMP."""
    t = Tiff()
    raw = mosaic(width, height, fast) if data is None else data
    entries = cfa_entries(t, width, height, raw, declared) + dng_colour() + exif_ifd(t)
    entries += camera(b"Velora", b"Test Bayer", orientation) + [(700, 1, XMP)]
    return t.finish(t.ifd(entries))


def preview_first(make, model, dng, width=96, height=64, maker_note=None):
    """A small RGB preview first, the mosaic in its sub-directory, as most cameras lay it out."""
    t = Tiff()
    sub = t.ifd(cfa_entries(t, width, height, mosaic(width, height)))
    entries = preview_entries(t, 16, 12) + camera(make, model) + [(0x014A, 4, [sub])]
    exif = exif_ifd(t)
    if maker_note is not None:
        note = t.ifd([(0x927C, 7, maker_note)])
        exif[0] = (0x8769, 4, [note])
    entries += exif + (dng_colour() if dng else [])
    return t.finish(t.ifd(entries))


def ljpeg(samples, width, height):
    """Lossless JPEG (SOF3) of one 16-bit component, predictor 1, every category a 5-bit code."""
    bits = []
    for y in range(height):
        for x in range(width):
            pred = (samples[y * width + x - 1] if x else samples[(y - 1) * width]) if x or y \
                else 1 << 15
            diff = (samples[y * width + x] - pred + 32768) % 65536 - 32768
            size = abs(diff).bit_length()
            bits.append(format(size, "05b"))
            if 0 < size < 16:
                bits.append(format(diff if diff > 0 else diff + (1 << size) - 1, "0%db" % size))
    text = "".join(bits)
    text += "1" * (-len(text) % 8)
    scan = bytearray()
    for k in range(0, len(text), 8):
        scan.append(int(text[k:k + 8], 2))
        if scan[-1] == 0xFF:
            scan.append(0)
    seg = lambda m, body: bytes([0xFF, m]) + struct.pack(">H", len(body) + 2) + body
    dht = bytes([0, 0, 0, 0, 17] + [0] * 11) + bytes(range(17))
    return (b"\xff\xd8" + seg(0xC4, b"\0" + dht) +
            seg(0xC3, struct.pack(">BHHB", 16, height, width, 1) + b"\1\x11\0") +
            seg(0xDA, b"\1\1\0\1\0\0") + bytes(scan) + b"\xff\xd9")


def dng_tiled(width=96, height=64, tile=(48, 32)):
    """The mosaic as lossless-JPEG tiles, the list of their offsets after them (as libtiff lays a
    file out), as most DNG writers compress."""
    t = Tiff()
    raw = struct.unpack("<%dH" % (width * height), mosaic(width, height))
    tw, th = tile
    tiles = [ljpeg([raw[y * width + x] for y in range(y0, y0 + th) for x in range(x0, x0 + tw)],
                   tw, th) for y0 in range(0, height, th) for x0 in range(0, width, tw)]
    offsets = [t.add(data) for data in tiles]
    entries = [e for e in cfa_entries(t, width, height, b"") if e[0] not in (259, 273, 278, 279)]
    entries += [(259, 3, [7]), (322, 3, [tw]), (323, 3, [th]), (324, 4, offsets),
                (325, 4, [len(data) for data in tiles])]
    entries += dng_colour() + camera(b"Velora", b"Test Bayer")
    return t.finish(t.ifd(entries))


def dng_monochrome(width=64, height=48):
    """Linear raw of one channel, as from a sensor without a colour filter."""
    t = Tiff()
    data = b"".join(struct.pack("<H", (x * 40 + y * 20) % WHITE) for y in range(height)
                    for x in range(width))
    entries = [e for e in cfa_entries(t, width, height, data) if e[0] not in (262, 0x828D, 0x828E)]
    entries += [(262, 3, [34892]), (0xC612, 1, b"\1\4\0\0")] + camera(b"Velora", b"Mono")
    return t.finish(t.ifd(entries))


def cases():
    return [
        ("ok_raw_dng_bayer.dng", dng_bayer(),
         "96x64 RGGB mosaic of a colour ramp, camera neutral, Orientation 6, EXIF, GPS and XMP: "
         "opens upright as 64x96 through LibRaw, against dcraw_emu -w -o 1"),
        ("ok_raw_dng_preview_first.dng", preview_first(b"Velora", b"Test Bayer", True),
         "a 16x12 preview first, the 96x64 mosaic in its sub-directory: opens at the mosaic's "
         "size, never as the preview"),
        ("ok_raw_nef_like.nef", preview_first(b"NIKON CORPORATION", b"NIKON D70", False),
         "the same layout without a DNG version, under a Nikon name: known as raw by its "
         "sub-directory's mosaic"),
        ("ok_raw_dng_tiled.dng", dng_tiled(),
         "the 96x64 mosaic in four lossless-JPEG tiles, their offsets listed after them: once "
         "refused as too short for its sensor, since LibRaw names the list's place as the data's"),
        ("ok_raw_dng_monochrome.dng", dng_monochrome(),
         "64x48 linear raw of one channel (a sensor without colour filter): once refused as a "
         "picture of an unexpected kind, now grey"),
        ("ok_raw_arw_like.arw", preview_first(b"SONY", b"ILCE-7M3", False),
         "the same under a Sony name: colour from LibRaw's own table of cameras, not the file"),
        ("ok_raw_bogus_maker_note.nef",
         preview_first(b"NIKON CORPORATION", b"NIKON D70", False,
                       maker_note=b"Nikon\0\2\x10\0\0MM\0*\0\0\0\x08\xff\xff" + b"\xee" * 64),
         "a maker note whose directory claims 65535 entries: the picture opens, the note is left "
         "to the metadata library's judgement"),
        ("err_raw_mosaic_larger_than_data.dng",
         dng_bayer(orientation=1, declared=(6000, 4000)),
         "declares a 6000x4000 mosaic but holds 96x64 samples: refused before unpacking"),
        ("err_raw_65535.dng", dng_bayer(orientation=1, declared=(65535, 65535)),
         "declares 65535 x 65535: refused before any allocation"),
        ("err_raw_zero_size.dng", dng_bayer(orientation=1, declared=(0, 64)),
         "a mosaic 0 samples wide"),
        ("err_raw_short_mosaic.dng", dng_bayer(orientation=1, data=mosaic(96, 64)[:6000]),
         "96x64 declared, a strip of half that: refused with the reason, never a thumbnail"),
    ]


if __name__ == "__main__":
    out, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    with open(out, "wb") as f:
        f.write(dng_bayer(w, h, orientation=1, fast=True))

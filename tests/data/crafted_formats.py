"""Crafted TIFF, GIF, ICO, WebP and HEIF files for tests/data/corrupt/, used by make_corrupt.py.

Standard library only, except the HEIF cases (crafted_heif.py): their coded picture comes from
heif-enc. Without heif-enc the HEIF files already in the folder are left as they are.
"""
import os
import struct
import zlib

from crafted_heif import (box, encoded, heif_12bit, heif_alpha, heif_base, heif_grid, heif_overlay,
                          heif_tile, heif_with_rotation, heif_with_size)

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corrupt")
FUZZ_SEED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz", "seeds",
                         "heic_grid_larger_than_ispe.heic")


def pattern(x, y):
    """Each pixel's colour tells its position (the same rule as the C++ tests' PatternColour)."""
    return ((x * 7 + y) & 0xFF, (y * 5) & 0xFF, (x + 3 * y) & 0xFF)


# ---- TIFF, little-endian, uncompressed --------------------------------------------------------

SIZES = {1: 1, 2: 1, 3: 2, 4: 4, 11: 4}
CODES = {1: "B", 2: "B", 3: "H", 4: "I", 11: "f"}


def tiff(entries, blocks):
    """entries: (tag, type, values) sorted by tag; values None stands for the offsets of the
    data blocks (strips or tiles), which are laid out after the directory and its values."""
    ifd_size = 2 + 12 * len(entries) + 4
    extra_len = 0
    for tag, typ, values in entries:
        size = 4 * len(blocks) if values is None else SIZES[typ] * len(values)
        extra_len += size + size % 2 if size > 4 else 0
    offsets = []
    at = 8 + ifd_size + extra_len
    for block in blocks:
        offsets.append(at)
        at += len(block)
    ifd = struct.pack("<H", len(entries))
    extra = bytearray()
    for tag, typ, values in entries:
        if values is None:
            typ, values = 4, offsets
        raw = struct.pack("<%d%s" % (len(values), CODES[typ]), *values)
        if len(raw) <= 4:
            ifd += struct.pack("<HHI", tag, typ, len(values)) + raw.ljust(4, b"\0")
        else:
            ifd += struct.pack("<HHII", tag, typ, len(values), 8 + ifd_size + len(extra))
            extra += raw + (b"\0" if len(raw) % 2 else b"")
    ifd += struct.pack("<I", 0)
    return b"II*\0" + struct.pack("<I", 8) + ifd + bytes(extra) + b"".join(blocks)


def tiff_rgb_tiled_planar():
    width, height, tile = 20, 12, 16
    blocks = []
    for plane in range(3):
        for ty in range(0, height, tile):
            for tx in range(0, width, tile):
                block = bytearray()
                for y in range(ty, ty + tile):
                    for x in range(tx, tx + tile):
                        block.append(pattern(x, y)[plane] if x < width and y < height else 0)
                blocks.append(bytes(block))
    tiles = len(blocks)
    entries = [(256, 3, [width]), (257, 3, [height]), (258, 3, [8, 8, 8]), (259, 3, [1]),
               (262, 3, [2]), (277, 3, [3]), (284, 3, [2]), (322, 3, [tile]), (323, 3, [tile]),
               (324, 4, None), (325, 4, [tile * tile] * tiles)]
    return tiff(entries, blocks)


def tiff_grey16_alpha():
    width, height = 5, 3
    data = bytearray()
    for y in range(height):
        for x in range(width):
            data += struct.pack("<HH", grey16_sample(x, y), alpha16_sample(x, y))
    entries = [(256, 3, [width]), (257, 3, [height]), (258, 3, [16, 16]), (259, 3, [1]),
               (262, 3, [1]), (273, 4, None), (277, 3, [2]), (278, 3, [height]),
               (279, 4, [len(data)]), (338, 3, [2])]
    return tiff(entries, [bytes(data)])


def grey16_sample(x, y):
    return (x * 13107 + y * 4369) & 0xFFFF


def alpha16_sample(x, y):
    return 65535 if y == 0 else (x * 16383)


def tiff_palette4():
    width, height = 6, 2
    colours = [(257 * (16 * i), 257 * (255 - 16 * i), 257 * (i * 7 % 256)) for i in range(16)]
    cmap = [c[0] for c in colours] + [c[1] for c in colours] + [c[2] for c in colours]
    rows = bytearray()
    for y in range(height):
        indices = [(x + 6 * y) % 16 for x in range(width)]
        for i in range(0, width, 2):
            rows.append((indices[i] << 4) | indices[i + 1])
    entries = [(256, 3, [width]), (257, 3, [height]), (258, 3, [4]), (259, 3, [1]), (262, 3, [3]),
               (273, 4, None), (277, 3, [1]), (278, 3, [height]), (279, 4, [len(rows)]),
               (320, 3, cmap)]
    return tiff(entries, [bytes(rows)])


def tiff_rgb_strips(width, height, rows_per_strip, declared=None):
    blocks = []
    for top in range(0, height, rows_per_strip):
        block = bytearray()
        for y in range(top, min(top + rows_per_strip, height)):
            for x in range(width):
                block += bytes(pattern(x, y))
        blocks.append(bytes(block))
    w, h = declared or (width, height)
    entries = [(256, 4, [w]), (257, 4, [h]), (258, 3, [8, 8, 8]), (259, 3, [1]), (262, 3, [2]),
               (273, 4, None), (277, 3, [3]), (278, 3, [rows_per_strip]),
               (279, 4, [len(b) for b in blocks])]
    return tiff(entries, blocks)


def tiff_palette_without_colormap():
    entries = [(256, 3, [4]), (257, 3, [2]), (258, 3, [8]), (259, 3, [1]), (262, 3, [3]),
               (273, 4, None), (277, 3, [1]), (278, 3, [2]), (279, 4, [8])]
    return tiff(entries, [bytes(range(8))])


def tiff_cielab():
    # White, black and L* 50 grey; a* and b* stored signed (0 is neutral).
    data = bytes([255, 0, 0, 0, 0, 0, 128, 0, 0])
    entries = [(256, 3, [3]), (257, 3, [1]), (258, 3, [8, 8, 8]), (259, 3, [1]), (262, 3, [8]),
               (273, 4, None), (277, 3, [3]), (278, 3, [1]), (279, 4, [len(data)])]
    return tiff(entries, [data])


def tiff_float():
    data = struct.pack("<4f", 0.1, 0.2, 0.3, 0.4)
    entries = [(256, 3, [4]), (257, 3, [1]), (258, 3, [32]), (259, 3, [1]), (262, 3, [1]),
               (273, 4, None), (277, 3, [1]), (278, 3, [1]), (279, 4, [len(data)]),
               (339, 3, [3])]
    return tiff(entries, [data])


# ---- GIF -------------------------------------------------------------------------------------

def lzw(indices, min_code_size):
    """Literal codes only, with a clear code before the dictionary would widen the codes."""
    clear = 1 << min_code_size
    width = min_code_size + 1
    codes = [clear]
    since_clear = 0
    for index in indices:
        if since_clear == clear - 3:
            codes.append(clear)
            since_clear = 0
        codes.append(index)
        since_clear += 1
    codes.append(clear + 1)
    bits = 0
    count = 0
    out = bytearray()
    for code in codes:
        bits |= code << count
        count += width
        while count >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            count -= 8
    if count:
        out.append(bits & 0xFF)
    return bytes(out)


def sub_blocks(data, size=255):
    out = bytearray()
    for i in range(0, len(data), size):
        chunk = data[i:i + size]
        out += bytes([len(chunk)]) + chunk
    return bytes(out) + b"\0"


GIF_PALETTE = [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255)]


def gif(screen, frame, indices, interlace=False, transparent=None, palette=True, cut=None,
        block=255, code_size=2):
    sw, sh = screen
    left, top, fw, fh = frame
    flags = 0x81 if palette else 0x00  # global colour table of 4 entries
    out = b"GIF89a" + struct.pack("<HHBBB", sw, sh, flags, 0, 0)
    if palette:
        out += b"".join(bytes(c) for c in GIF_PALETTE)
    if transparent is not None:
        out += b"\x21\xF9\x04" + bytes([1, 0, 0, transparent, 0])
    rows = [indices[y * fw:(y + 1) * fw] for y in range(fh)]
    if interlace:
        order = [y for start, step in ((0, 8), (4, 8), (2, 4), (1, 2))
                 for y in range(start, fh, step)]
        rows = [rows[y] for y in order]
    data = sub_blocks(lzw([i for row in rows for i in row], code_size), block)
    if cut is not None:
        data = data[:cut]
    out += b"\x2C" + struct.pack("<HHHHB", left, top, fw, fh, 0x40 if interlace else 0)
    out += bytes([code_size]) + data
    return out + (b"" if cut is not None else b"\x3B")


def gif_frame_indices(fw, fh):
    return [(x + 2 * y) % 4 for y in range(fh) for x in range(fw)]


# ---- ICO -------------------------------------------------------------------------------------

def dib(width, height, bits, pixels, mask):
    info = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, bits, 0, 0, 0, 0, 0, 0)
    return info + pixels + mask


def ico(entries):
    """entries: (width, height, bits, payload)."""
    head = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    directory = b""
    body = b""
    for width, height, bits, payload in entries:
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, bits,
                                 len(payload), offset + len(body))
        body += payload
    return head + directory + body


def ico_masked():
    # 8x8, 24 bits: blue-green-red pattern, bottom-up rows; the mask hides the left half.
    rows = b""
    for y in reversed(range(8)):
        row = b"".join(bytes(reversed(pattern(x, y))) for x in range(8))
        rows += row
    mask = (b"\xF0" + b"\0" * 3) * 8
    big = dib(8, 8, 24, rows, mask)
    small = dib(4, 4, 24, b"\x10" * 48, b"\0" * 16)
    return ico([(4, 4, 24, small), (8, 8, 24, big)])


def ico_alpha():
    rows = b""
    for y in reversed(range(4)):
        for x in range(4):
            r, g, b = pattern(x, y)
            rows += bytes([b, g, r, 64 * x + 3 * y])
    return ico([(4, 4, 32, dib(4, 4, 32, rows, b"\0" * 16))])


def png_header_only(width, height):
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    chunk = struct.pack(">I", 13) + b"IHDR" + ihdr + struct.pack(">I", zlib.crc32(b"IHDR" + ihdr))
    return b"\x89PNG\r\n\x1a\n" + chunk


# ---- WebP: lossless pictures of one colour, which need no pixel bits at all -------------------

class Bits:
    def __init__(self):
        self.value = 0
        self.count = 0

    def put(self, value, width):
        self.value |= value << self.count
        self.count += width

    def bytes(self):
        return self.value.to_bytes((self.count + 7) // 8, "little")


def vp8l(width, height, argb):
    """A VP8L bitstream of one colour: every prefix code has a single symbol of zero bits."""
    a, r, g, b = argb
    bits = Bits()
    bits.put(width - 1, 14)
    bits.put(height - 1, 14)
    bits.put(1 if a != 255 else 0, 1)
    bits.put(0, 3)
    bits.put(0, 1)  # no transform
    bits.put(0, 1)  # no colour cache
    bits.put(0, 1)  # one group of prefix codes
    for symbol in (g, r, b, a):
        bits.put(1, 1)  # simple code
        bits.put(0, 1)  # one symbol
        bits.put(1, 1)  # of eight bits
        bits.put(symbol, 8)
    bits.put(1, 1)  # the distance code: one symbol, one bit wide
    bits.put(0, 1)
    bits.put(0, 1)
    bits.put(0, 1)
    return b"\x2f" + bits.bytes()


def riff_chunk(kind, data):
    return kind + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def webp(chunks):
    body = b"WEBP" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def u24(value):
    return struct.pack("<I", value)[:3]


def webp_animated():
    vp8x = bytes([0x12, 0, 0, 0]) + u24(7) + u24(7)  # animation and alpha, canvas 8x8
    anim = struct.pack("<IH", 0xFF00FF00, 0)  # a green background, which readers may ignore
    first = u24(1) + u24(1) + u24(3) + u24(3) + u24(100) + b"\x02"  # 4x4 at (2, 2)
    second = u24(0) + u24(0) + u24(7) + u24(7) + u24(100) + b"\x02"
    return webp([riff_chunk(b"VP8X", vp8x), riff_chunk(b"ANIM", anim),
                 riff_chunk(b"ANMF", first + riff_chunk(b"VP8L", vp8l(4, 4, (255, 200, 0, 0)))),
                 riff_chunk(b"ANMF", second + riff_chunk(b"VP8L", vp8l(8, 8, (255, 0, 0, 200))))])


def gif_frame_without_data(width, height):
    # A frame of the given size whose LZW data is one sub-block of two bytes.
    head = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x81, 0, 0)
    head += b"".join(bytes(c) for c in GIF_PALETTE)
    return (head + b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0) +
            b"\x02\x02\x44\x01\x00\x3B")


def tiff_deflate_bomb(side):
    block = zlib.compress(b"\0" * 100)
    entries = [(256, 4, [side]), (257, 4, [side]), (258, 3, [8, 8, 8]), (259, 3, [8]),
               (262, 3, [2]), (273, 4, None), (277, 3, [3]), (278, 4, [side]),
               (279, 4, [len(block)])]
    return tiff(entries, [block])


def webp_canvas_over(width, height, bitstream):
    vp8x = bytes([0x10, 0, 0, 0]) + u24(width - 1) + u24(height - 1)
    return webp([riff_chunk(b"VP8X", vp8x), riff_chunk(b"VP8L", bitstream)])


def ico_damaged_largest():
    sound = dib(4, 4, 24, b"\x10" * 48, b"\0" * 16)
    short = dib(64, 64, 24, b"\x20" * 100, b"")
    return ico([(4, 4, 24, sound), (64, 64, 24, short)])


def cases():
    heic = heif_base()
    tile = heif_tile()
    out = [
        ("err_gif_frame_outside_screen.gif", gif((1, 1), (60000, 0, 1, 1), [1]),
         "a 1x1 frame at x = 60000 on a 1x1 screen: once a 60001x1 picture, now refused"),
        ("err_gif_huge_frame_tiny_data.gif", gif_frame_without_data(15000, 15000),
         "41 bytes declaring a 15000x15000 frame: once 712 MB taken before failing, now refused "
         "since an LZW code of at least 3 bits gives at most 4096 pixels"),
        ("err_gif_tiny_frame_huge_screen.gif", gif((15000, 15000), (0, 0, 1, 1), [1]),
         "a 1x1 frame on a 15000x15000 screen: 675 MB of white filler, refused"),
        ("err_tiff_deflate_bomb.tif", tiff_deflate_bomb(15000),
         "15000x15000 RGB from one Deflate strip of 11 bytes: once 669 MB taken before failing, "
         "now refused since Deflate gives at most 1032 bytes a byte"),
        ("err_webp_canvas_over_tiny_bitstream.webp",
         webp_canvas_over(15000, 15000, vp8l(1, 1, (255, 1, 2, 3))),
         "an extended WebP whose 15000x15000 canvas holds a 1x1 still: once 724 MB, now refused "
         "before allocation"),
        ("ok_ico_damaged_largest.ico", ico_damaged_largest(),
         "its 64x64 entry holds 100 bytes of rows: the sound 4x4 entry opens instead"),
        ("ok_tiff_tiled_planar.tif", tiff_rgb_tiled_planar(),
         "20x12 RGB in 16x16 tiles, one plane per colour: pixels that tell their position catch "
         "tile-edge and plane mix-ups"),
        ("ok_tiff_grey16_alpha.tif", tiff_grey16_alpha(),
         "5x3 grey, 16 bits, with unassociated alpha: rounding to 8 bits and the blend over white"),
        ("ok_tiff_palette4.tif", tiff_palette4(),
         "6x2 with a 4-bit palette: read through libtiff's RGBA reader"),
        ("dmg_tiff_cut_strip.tif", tiff_rgb_strips(16, 16, 4)[:-(16 * 4 * 3 + 8)],
         "16x16 RGB in four strips, cut inside the third: the first rows open, marked damaged"),
        ("err_tiff_huge.tif", tiff_rgb_strips(4, 4, 4, declared=(100000, 100000)),
         "declares 100000 x 100000 pixels: refused before allocation"),
        ("err_tiff_ifd_outside.tif", b"II*\0" + struct.pack("<I", 0x7FFFFFF0) + b"\0" * 8,
         "its first directory lies far past the end of the file"),
        ("err_tiff_float.tif", tiff_float(), "32-bit floating-point samples, which are refused"),
        ("ok_tiff_cielab.tif", tiff_cielab(),
         "3x1 CIELab, white, black and L* 50 grey: once given a colour cast by libtiff's RGBA "
         "reader, now through the colour library"),
        ("err_tiff_palette_without_colormap.tif", tiff_palette_without_colormap(),
         "8-bit palette picture without its colour map: once converted as grey, now refused"),
        ("ok_gif_offset_transparent.gif",
         gif((8, 6), (2, 1, 5, 4), gif_frame_indices(5, 4), interlace=True, transparent=3),
         "8x6 screen, an interlaced 5x4 frame at (2, 1) with a transparent colour: white around "
         "and through it"),
        ("dmg_gif_cut_data.gif", gif((16, 16), (0, 0, 16, 16), gif_frame_indices(16, 16), cut=80, block=8),
         "the picture data stops after a few rows: the picture opens, marked damaged"),
        ("dmg_gif_index_past_colours.gif",
         gif((4, 2), (0, 0, 4, 2), [0, 1, 5, 1] * 2, code_size=3),
         "a GIF of four colours whose pixels name colour 5: once black without a word, now "
         "damaged"),
        ("err_gif_huge_screen.gif", gif((65535, 65535), (0, 0, 2, 2), [1, 2, 3, 0]),
         "a 2x2 frame on a 65535 x 65535 screen: refused by the pixel limit"),
        ("err_gif_no_colour_table.gif", gif((2, 2), (0, 0, 2, 2), [1, 2, 3, 0], palette=False),
         "neither a global nor a local colour table"),
        ("err_gif_no_frame.gif", gif((2, 2), (0, 0, 2, 2), [0] * 4)[:6 + 7 + 12] + b"\x3B",
         "the header, the colours and the end, but no frame"),
        ("ok_ico_bmp_mask.ico", ico_masked(),
         "4x4 and 8x8 24-bit bitmap entries: the larger opens, its mask makes the left half white"),
        ("ok_ico_bmp_alpha.ico", ico_alpha(), "4x4 32-bit bitmap entry with alpha: over white"),
        ("err_ico_outside.ico", ico([(16, 16, 32, b"\0" * 40)])[:6 + 16],
         "the only entry points past the end of the file"),
        ("err_ico_huge_png.ico", ico([(0, 0, 32, png_header_only(100000, 100000))]),
         "a PNG entry declaring 100000 x 100000: refused by the PNG decoder's limits"),
        ("ok_webp_lossless_alpha.webp",
         webp([riff_chunk(b"VP8L", vp8l(6, 4, (128, 200, 100, 50)))]),
         "6x4 lossless, one colour at half alpha: over white"),
        ("ok_webp_animated_offset.webp", webp_animated(),
         "8x8 animation whose first frame is a 4x4 red square at (2, 2): white around it"),
        ("err_webp_huge.webp", webp([riff_chunk(b"VP8L", vp8l(16383, 16383, (255, 1, 2, 3)))]),
         "declares 16383 x 16383 (268 megapixels): refused before allocation"),
        ("err_webp_cut.webp", webp([riff_chunk(b"VP8L", vp8l(6, 4, (255, 1, 2, 3)))])[:24],
         "cut inside the lossless header"),
        ("err_isobmff_video.mp4", box(b"ftyp", b"isom\0\0\2\0isomiso2mp41") + box(b"free", b""),
         "an ISO media file that is no picture (a video's file type)"),
        ("err_heif_no_meta.heic", box(b"ftyp", b"heic\0\0\0\0mif1heic") + box(b"mdat", b"\0" * 8),
         "says HEIC but has no meta box"),
        ("err_heif_grid_larger_than_ispe.heic", open(FUZZ_SEED, "rb").read(),
         "found by fuzz_formats: a 1 x 1 grid of a 64x64 tile naming a 19794 x 19728 canvas, its "
         "ispe 32 x 16: once 2.2 GB and 14 s, now refused before decoding"),
    ]
    if heic is not None:
        out += [
            ("ok_heic_irot_exif6.heic", heif_with_rotation(heic, 1),
             "32x16 turned a quarter anticlockwise by its irot box, EXIF Orientation 6: opens "
             "16x32 and its copy says Orientation 1"),
            ("err_heif_huge_ispe.heic", heif_with_size(heic, 70000, 70000),
             "declares 70000 x 70000 in its ispe boxes: refused before decoding"),
            ("ok_heic_alpha.heic", heif_alpha(),
             "48x32 with an alpha plane from clear to opaque: laid over white"),
            ("ok_heic_12bit.heic", heif_12bit(), "40x24 with 12 bits a sample: rounded to 8"),
            ("ok_heic_grid_2x2.heic", heif_grid(tile, 2, 2, 1000, 900),
             "a 2 x 2 grid of 512x512 tiles, 1000x900 of it shown: opens whole"),
            ("err_heif_grid_one_tile_repeated.heic",
             heif_grid(tile, 20, 20, 10240, 10240, cells=[0] * 400),
             "a 20 x 20 grid naming one 512x512 tile 400 times, 105 megapixels: once 1.8 GB and "
             "6.7 s, now refused before decoding"),
            ("err_heif_grid_tiles_share_data.heic", heif_grid(tile, 8, 8, 4096, 4096, shared=True),
             "an 8 x 8 grid of 64 tile items that all point at the same coded data: refused"),
            ("err_heif_grid_of_grids.heic", heif_grid(tile, 2, 2, 1000, 900, inner=(15000, 15000)),
             "a 1000x900 grid whose one tile is a 2 x 2 grid naming 15000 x 15000: once 1.3 GB "
             "and converted, now refused before decoding"),
            ("ok_heic_overlay.heic", heif_overlay(tile, 512, 512),
             "an overlay laying one 512x512 picture on a canvas of its size: opens"),
            ("err_heif_overlay_canvas_over_one_picture.heic", heif_overlay(tile, 12000, 12000),
             "an overlay laying one 512x512 picture on a 12000 x 12000 canvas, its ispe agreeing: "
             "once 2.5 GB and 3.5 s, converted, now refused before decoding"),
            ("err_heif_coded_larger_than_ispe.heic",
             heif_with_size(encoded(["-size", "2048x2048", "gradient:#4080c0-#c08040"], []),
                            64, 64),
             "HEVC data of 2048 x 2048 under an ispe of 64 x 64: once decoded whole (96 MB) "
             "before the sizes were compared, now refused before decoding"),
            ("err_avif_coded_larger_than_ispe.avif",
             heif_with_size(encoded(["-size", "256x256", "gradient:red-blue"], ["-A"]), 16, 16),
             "AV1 data of 256 x 256 (its sequence header in the item's data) under an ispe of "
             "16 x 16: refused before decoding"),
        ]
    else:
        out += kept_cases(("ok_heic_irot_exif6.heic", "err_heif_huge_ispe.heic",
                           "ok_heic_alpha.heic", "ok_heic_12bit.heic", "ok_heic_grid_2x2.heic",
                           "err_heif_grid_one_tile_repeated.heic",
                           "err_heif_grid_tiles_share_data.heic", "err_heif_grid_of_grids.heic",
                           "ok_heic_overlay.heic", "err_heif_overlay_canvas_over_one_picture.heic",
                           "err_heif_coded_larger_than_ispe.heic",
                           "err_avif_coded_larger_than_ispe.avif"))
    return out


def kept_cases(names):
    """Files made earlier, with the reasons their README lines gave."""
    kept = []
    readme = os.path.join(OUT, "README.md")
    lines = open(readme).read().splitlines() if os.path.exists(readme) else []
    for name in names:
        path = os.path.join(OUT, name)
        why = next((line.split("): ", 1)[1] for line in lines
                    if line.startswith("- `%s`" % name) and "): " in line), None)
        if os.path.exists(path) and why:
            with open(path, "rb") as f:
                kept.append((name, f.read(), why))
    return kept

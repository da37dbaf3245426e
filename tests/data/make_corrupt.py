#!/usr/bin/env python3
"""Writes the crafted broken pictures of tests/data/corrupt/ and their README.

Standard library only (crafted_formats.py adds the other formats, crafted_raw.py camera raws). A
file named ok_* must still open (perhaps with warnings or without its metadata); a file named dmg_*
opens as damaged (read in part, the rest filled in); a file named err_* must be refused with a
message. Run it again after changing a case.
"""
import os
import struct
import zlib

import crafted_formats
import crafted_raw

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corrupt")

# Standard luminance tables (ITU T.81, Annex K): enough for a grey baseline picture.
DC_BITS = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
DC_VALS = list(range(12))
AC_BITS = [0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D]
AC_VALS = bytes.fromhex(
    "01020300041105122131410613516107227114328191a1082342b1c11552d1f02433627282090a161718191a"
    "25262728292a3435363738393a434445464748494a535455565758595a636465666768696a73747576777879"
    "7a838485868788898a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5c6c7c8c9"
    "cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8f9fa")


def segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


def dqt():
    return segment(0xDB, bytes([0]) + bytes([1] * 64))


def dht():
    return (segment(0xC4, bytes([0x00] + DC_BITS) + bytes(DC_VALS)) +
            segment(0xC4, bytes([0x10] + AC_BITS) + AC_VALS))


def sof(width, height, precision=8, components=1, marker=0xC0):
    # marker 0xC2 makes it progressive
    body = struct.pack(">BHHB", precision, height, width, components)
    for c in range(components):
        body += bytes([c + 1, 0x11, 0])
    return segment(marker, body)


def sos(table=0):
    return segment(0xDA, bytes([1, 1, (table << 4) | table, 0, 63, 0]))


def flat_scan(blocks):
    # Every block: DC difference 0 (code 00), then end of block (code 1010).
    bits = "001010" * blocks
    bits += "1" * (-len(bits) % 8)
    data = bytearray()
    for i in range(0, len(bits), 8):
        byte = int(bits[i:i + 8], 2)
        data.append(byte)
        if byte == 0xFF:
            data.append(0)
    return bytes(data)


def grey_jpeg(width=16, height=16, extra=b"", scan=None):
    blocks = ((width + 7) // 8) * ((height + 7) // 8)
    return (b"\xFF\xD8" + extra + dqt() + sof(width, height) + dht() + sos() +
            (flat_scan(blocks) if scan is None else scan) + b"\xFF\xD9")


def exif_app1(tiff):
    return segment(0xE1, b"Exif\0\0" + tiff)


def ifd_entry(tag, typ, count, value):
    return struct.pack("<HHII", tag, typ, count, value)


def tiff_with_loop():
    # IFD0 at 8 holds Make and an Exif IFD pointer back to IFD0; its next-IFD link is itself.
    make_offset = 8 + 2 + 2 * 12 + 4
    ifd0 = struct.pack("<H", 2) + ifd_entry(0x010F, 2, 5, make_offset) + ifd_entry(
        0x8769, 4, 1, 8) + struct.pack("<I", 8)
    return b"II*\0" + struct.pack("<I", 8) + ifd0 + b"Loop\0"


def tiff_with_bad_offsets():
    # Model points far past the end, an entry claims 2^31 values, the next IFD is out of reach.
    make_offset = 8 + 2 + 3 * 12 + 4
    ifd0 = struct.pack("<H", 3) + ifd_entry(0x010F, 2, 5, make_offset) + ifd_entry(
        0x0110, 2, 1000, 0x7FFFFF00) + ifd_entry(0x0112, 3, 0x80000000, 0) + struct.pack(
            "<I", 0xFFFFFFF0)
    return b"II*\0" + struct.pack("<I", 8) + ifd0 + b"Good\0"


def icc_chunk(sequence, count, data):
    return segment(0xE2, b"ICC_PROFILE\0" + bytes([sequence, count]) + data)


def png_chunk(kind, data, crc=None):
    if crc is None:
        crc = zlib.crc32(kind + data) & 0xFFFFFFFF
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)


def png(width, height, rows=None, ihdr_crc=None, cut=None, colour=2, interlace=0, extra=b""):
    ihdr = struct.pack(">IIBBBBB", width, height, 8, colour, 0, 0, interlace)
    if rows is None:
        rows = b"".join(b"\0" + b"\x80" * (3 * width) for _ in range(min(height, 4)))
    idat = zlib.compress(rows, 9)
    if cut is not None:
        idat = idat[:cut]
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr, ihdr_crc) + extra +
            png_chunk(b"IDAT", idat) + png_chunk(b"IEND", b""))


def icc_profile(size):
    # A display profile that libpng accepts: header, one private tag covering the rest.
    p = bytearray(size)
    struct.pack_into(">I", p, 0, size)
    struct.pack_into(">I", p, 8, 0x02100000)
    p[12:24] = b"mntrRGB XYZ "
    p[36:40] = b"acsp"
    struct.pack_into(">IIII", p, 128, 1, int.from_bytes(b"vlrt", "big"), 144, size - 144)
    return bytes(p)


def iccp_chunk(profile):
    return png_chunk(b"iCCP", b"big\0\0" + zlib.compress(profile, 9))


def bmp(width, height, bits=24, pixel_bytes=None, compression=0, palette=b""):
    row = ((width * bits + 31) // 32) * 4
    data = pixel_bytes if pixel_bytes is not None else b"\x40" * (row * abs(height))
    colours = len(palette) // 4
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(data), 2835,
                       2835, colours, 0)
    head = b"BM" + struct.pack("<IHHI", 14 + len(info) + len(palette) + len(data), 0, 0,
                               14 + len(info) + len(palette))
    return head + info + palette + data


def progressive_jpeg(width, height, scans):
    # Grey, progressive; every scan a DC scan of one byte (which cannot hold the blocks).
    dc_only = segment(0xC4, bytes([0x00] + DC_BITS) + bytes(DC_VALS))
    scan = segment(0xDA, bytes([1, 1, 0x00, 0, 0, 0])) + b"\x00"
    return (b"\xFF\xD8" + dqt() + sof(width, height, marker=0xC2) + dc_only + scan * scans +
            b"\xFF\xD9")


def bits_to_bytes(bits):
    bits += "1" * (-len(bits) % 8)
    data = bytearray()
    for i in range(0, len(bits), 8):
        data.append(int(bits[i:i + 8], 2))
        if data[-1] == 0xFF:
            data.append(0)
    return bytes(data)


def progressive_grey(width, height, ac=True):
    # A DC scan, then (with ac) one scan of all 63 AC coefficients: every coefficient reaches
    # its final precision. No EOI: the caller adds it or not.
    blocks = ((width + 7) // 8) * ((height + 7) // 8)
    dc = segment(0xDA, bytes([1, 1, 0x00, 0, 0, 0])) + bits_to_bytes("00" * blocks)
    acs = segment(0xDA, bytes([1, 1, 0x00, 1, 63, 0])) + bits_to_bytes("1010" * blocks)
    return (b"\xFF\xD8" + dqt() + sof(width, height, marker=0xC2) + dht() + dc +
            (acs if ac else b""))


def jpeg_in_tiff(width, strip_rows, strips, cut=None):
    # Grey 8-bit TIFF whose strips are whole JPEG streams; `cut` shortens the last strip.
    blocks = [grey_jpeg(width, strip_rows) for _ in range(strips)]
    if cut is not None:
        blocks[-1] = blocks[-1][:cut]
    entries = [(256, 3, [width]), (257, 3, [strip_rows * strips]), (258, 3, [8]), (259, 3, [7]),
               (262, 3, [1]), (273, 4, None), (277, 3, [1]), (278, 3, [strip_rows]),
               (279, 4, [len(b) for b in blocks])]
    return crafted_formats.tiff(entries, blocks)


BMP_GREYS = b"\0\0\0\0\xff\xff\xff\0"


def rle8_runs(count):
    # Runs of 255 pixels of colour 1, and no end-of-bitmap code.
    return b"\xFF\x01" * count


good = grey_jpeg(64, 64)
scan_start = good.index(b"\xFF\xDA") + 2 + 12

CASES = [
    ("ok_minimal_grey.jpg", good,
     "control: the generator's own valid 64x64 grey baseline JPEG; the err_ cases are built from it"),
    ("err_empty.jpg", b"", "an empty file is no picture"),
    ("err_not_a_picture.jpg", b"This is a text file that was given a picture's name.\n",
     "a text file with a .jpg name: refused by its first bytes"),
    ("err_soi_only.jpg", b"\xFF\xD8", "only the start-of-image marker: the data ends at once"),
    ("err_cut_in_tables.jpg", good[:40], "cut inside the quantisation table"),
    ("err_scan_cut_at_start.jpg", good[:scan_start + 6],
     "cut six bytes into the scan: too short for 64 x 64 pixels, refused as damaged up front"),
    ("dmg_truncated_scan.jpg", good[:scan_start + 24],
     "cut inside the scan without EOI: damaged, the rows after the cut mid grey"),
    ("err_jpeg_bomb_15811.jpg", grey_jpeg(15811, 15811, scan=flat_scan(4)),
     "315 bytes declaring 15811 x 15811 (scan cut short): once 2.15 GB of grey, now refused before "
     "any allocation since a Huffman scan needs two bits a block"),
    ("err_jpeg_progressive_999_scans.jpg", progressive_jpeg(15811, 15811, 999),
     "progressive, 15811 x 15811, 999 one-byte scans: once 2 GB of coefficients, now refused "
     "since every block needs at least one bit"),
    ("ok_app5_flood.jpg", b"\xFF\xD8" + b"\xFF\xE5\x00\x02" * 250000 + good[2:],
     "250,000 empty APP5 segments (1 MB): once 310 s of CPU in libjpeg's list of saved markers; "
     "opens at once, 256 segments kept, with a warning"),
    ("err_no_scan.jpg", b"\xFF\xD8" + dqt() + sof(16, 16) + dht() + b"\xFF\xD9",
     "frame header but no scan before EOI"),
    ("err_sof_zero_components.jpg", b"\xFF\xD8" + dqt() + sof(16, 16, components=0) + dht() +
     sos() + flat_scan(4) + b"\xFF\xD9", "bad SOF: no components"),
    ("err_sof_precision_12.jpg", b"\xFF\xD8" + dqt() + sof(16, 16, precision=12) + dht() + sos() +
     flat_scan(4) + b"\xFF\xD9", "12-bit samples, which the 8-bit decoder refuses"),
    ("err_sof_zero_width.jpg", grey_jpeg(0, 16, scan=flat_scan(1)), "declared width 0"),
    ("err_huge_dimensions.jpg", grey_jpeg(65535, 65535, scan=flat_scan(4)),
     "65535 x 65535 declared in a tiny file: refused before any allocation"),
    ("err_over_250_megapixels.jpg", grey_jpeg(20000, 13000, scan=flat_scan(4)),
     "260 megapixels, each side allowed: refused by the pixel limit"),
    ("err_undefined_huffman_table.jpg", grey_jpeg(16, 16, scan=None).replace(
        sos(), sos(table=3)), "the scan names Huffman tables that were never defined"),
    ("ok_short_marker_length.jpg", b"\xFF\xD8\xFF\xE1\x00\x01" + good[2:],
     "an APP1 length of 1, shorter than its own length field: the segment is skipped"),
    ("ok_exif_ifd_loop.jpg", grey_jpeg(16, 16, extra=exif_app1(tiff_with_loop())),
     "IFD0 links to itself and its Exif pointer points back at it: must not hang"),
    ("ok_exif_bad_offsets.jpg", grey_jpeg(16, 16, extra=exif_app1(tiff_with_bad_offsets())),
     "IFD entries and the next IFD point past the segment, one claims 2^31 values"),
    ("ok_exif_malformed_header.jpg", grey_jpeg(16, 16, extra=exif_app1(b"XX*\0\x08\0\0\0")),
     "Exif APP1 whose TIFF header has no byte-order mark"),
    ("ok_exif_truncated.jpg", grey_jpeg(16, 16, extra=exif_app1(b"II*\0")),
     "Exif APP1 that stops inside the TIFF header"),
    ("ok_icc_missing_chunk.jpg", grey_jpeg(16, 16, extra=icc_chunk(1, 2, b"\0" * 64)),
     "ICC profile announced in 2 chunks, only the first present: the profile is left out"),
    ("ok_icc_bad_sequence.jpg", grey_jpeg(16, 16, extra=icc_chunk(3, 2, b"\0" * 64)),
     "ICC chunk number 3 of 2: the profile is left out"),
    ("err_png_bad_crc.png", png(4, 4, ihdr_crc=0x12345678), "PNG header chunk with a wrong CRC"),
    ("dmg_png_truncated.png", png(4, 4)[:45],
     "PNG cut inside its image data: damaged, the rows not read black"),
    ("dmg_png_bad_idat.png", png(4, 4, cut=6),
     "PNG whose compressed data stops early: damaged, the rows not read black"),
    ("err_png_huge.png", png(100000, 100000, rows=b"\0"), "PNG declaring 100000 x 100000"),
    ("err_png_bomb_interlaced_rgba.png", png(15811, 15811, rows=b"\0", colour=6, interlace=1),
     "interlaced RGBA PNG of 15811 x 15811 in 66 bytes: once 1.67 GB allocated before failing, "
     "now refused since deflate needs one byte for every 1032"),
    ("ok_png_65520_wide.png", png(65520, 1, rows=b"\0" + b"\x80" * (3 * 65520)),
     "65520 x 1: a PNG result may have it, a JPEG result may not (65500 a side): refused at "
     "load for JPEG output"),
    ("ok_png_icc_over_jpeg_limit.png",
     png(2, 2, extra=iccp_chunk(icc_profile(255 * 65519 + 3))),
     "an ICC profile of 255 x 65519 + 3 bytes: more than 255 APP2 chunks hold; saved as JPEG it "
     "is left out with a warning instead of chunk numbers that wrap"),
    ("err_bmp_huge.bmp", bmp(1000000, 1000000, pixel_bytes=b"\0" * 16),
     "BMP declaring 10^12 pixels: refused before allocation"),
    ("err_bmp_cut_header.bmp", bmp(4, 4)[:20], "BMP cut inside its information header"),
    ("err_bmp_bad_bits.bmp", bmp(4, 4, bits=7), "BMP with 7 bits a pixel"),
    ("err_bmp_short_data.bmp", bmp(8, 8)[:54 + 40],
     "BMP whose pixel rows stop early: refused as damaged before anything is allocated"),
    ("err_bmp_bomb_54_bytes.bmp", bmp(15811, 15811, pixel_bytes=b""),
     "54-byte BMP declaring 15811 x 15811: once 750 MB allocated, now refused since its rows are "
     "not there"),
    ("err_bmp_rle_bomb.bmp", bmp(15811, 15811, bits=8, compression=1, palette=BMP_GREYS,
                                 pixel_bytes=rle8_runs(480)),
     "1 KB RLE8 BMP declaring 15811 x 15811: refused since two bytes code at most 255 pixels"),
    ("dmg_bmp_rle_cut.bmp", bmp(8, 8, bits=8, compression=1, palette=BMP_GREYS,
                                pixel_bytes=b"\x08\x01\x00\x00" * 4),
     "RLE8 BMP whose data ends after four of eight rows: damaged, the rest black"),
    ("ok_jpeg_no_eoi.jpg", good[:-2],
     "baseline without its end marker: once refused as damaged with the last rows grey since "
     "libjpeg reads ahead; every row is there"),
    ("ok_jpeg_progressive_no_eoi.jpg", progressive_grey(64, 64),
     "progressive without its end marker, every coefficient complete: opens whole"),
    ("dmg_jpeg_progressive_no_ac_scan.jpg", progressive_grey(64, 64, ac=False),
     "progressive that ends after its DC scan, the AC scan never came: damaged"),
    ("ok_png_no_iend.png", png(4, 4)[:-12],
     "PNG without its end chunk, the picture data whole: once refused, opens with a warning"),
    ("dmg_tiff_jpeg_cut_strip.tif", jpeg_in_tiff(16, 64, 2, cut=-8),
     "JPEG-compressed TIFF whose second strip is cut: once exit 0 with grey rows and no word, now "
     "damaged"),
    ("dmg_bmp_rle_overrun.bmp", bmp(8, 2, bits=8, compression=1, palette=BMP_GREYS,
                                    pixel_bytes=b"\x0c\x01\x00\x00\x08\x00\x00\x01"),
     "RLE8 run of 12 pixels in a row of 8: once clipped without a word, now damaged"),
    ("dmg_bmp_pal8_bad_index.bmp", bmp(4, 2, bits=8, palette=BMP_GREYS,
                                       pixel_bytes=b"\x00\x01\x05\x01" * 2),
     "8-bit BMP with a palette of two colours whose pixels name colour 5: damaged"),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    lines = ["# Crafted broken pictures", "",
             "Made by `tests/data/make_corrupt.py`; do not edit by hand. `ok_*` files must still",
             "open, `dmg_*` files open as damaged (read in part, velora-batch refuses them without",
             "--allow-damaged), `err_*` files must be refused with a message; none may crash, hang",
             "or allocate gigabytes. Each line says what the file guards.", ""]
    for name, data, why in CASES + crafted_formats.cases() + crafted_raw.cases():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
        lines.append("- `%s` (%d bytes): %s" % (name, len(data), why))
    with open(os.path.join(OUT, "README.md"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()

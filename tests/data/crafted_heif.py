"""HEIF files for tests/data/corrupt/: the coded picture comes from heif-enc (Debian's
libheif-examples); the boxes around it are edited here. Used by crafted_formats.py."""
import os
import shutil
import struct
import subprocess
import tempfile


def boxes(data, start, end):
    """(type, offset, header size, size) of the boxes in data[start:end]."""
    found = []
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        header = 8
        if size == 1:
            size = struct.unpack(">Q", data[at + 8:at + 16])[0]
            header = 16
        elif size == 0:
            size = end - at
        found.append((kind, at, header, size))
        at += size
    return found


def box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload


def heif_with_rotation(base, angle):
    """Adds an irot property of `angle` quarter turns (anticlockwise) to the primary item."""
    top = boxes(base, 0, len(base))
    meta = next(b for b in top if b[0] == b"meta")
    inner = boxes(base, meta[1] + meta[2] + 4, meta[1] + meta[3])
    primary = None
    parts = []
    for kind, at, header, size in inner:
        payload = base[at + header:at + size]
        if kind == b"pitm":
            primary = struct.unpack(">H", payload[4:6])[0]
        parts.append([kind, payload])
    for part in parts:
        if part[0] != b"iprp":
            continue
        iprp = part[1]
        children = [[k, iprp[a + h:a + s]] for k, a, h, s in boxes(iprp, 0, len(iprp))]
        ipco = next(c for c in children if c[0] == b"ipco")
        count = len(boxes(ipco[1], 0, len(ipco[1])))
        ipco[1] += box(b"irot", bytes([angle & 3]))
        ipma = next(c for c in children if c[0] == b"ipma")
        ipma[1] = ipma_with(ipma[1], primary, count + 1)
        part[1] = b"".join(box(k, p) for k, p in children)
    new_meta = box(b"meta", base[meta[1] + meta[2]:meta[1] + meta[2] + 4] +
                   b"".join(box(k, p) for k, p in parts))
    shift = len(new_meta) - meta[3]
    new_meta = shift_iloc(new_meta, shift)
    return base[:meta[1]] + new_meta + base[meta[1] + meta[3]:]


def ipma_with(payload, item, index):
    """The ipma payload with property `index` (1-based) associated with `item` as essential."""
    version, flags = payload[0], int.from_bytes(payload[1:4], "big")
    count = struct.unpack(">I", payload[4:8])[0]
    id_size = 2 if version == 0 else 4
    width = 2 if flags & 1 else 1
    out = payload[:8]
    at = 8
    for _ in range(count):
        item_id = int.from_bytes(payload[at:at + id_size], "big")
        n = payload[at + id_size]
        start = at + id_size + 1
        associations = payload[start:start + n * width]
        at = start + n * width
        if item_id == item:
            n += 1
            associations += ((0x8000 | index).to_bytes(2, "big") if width == 2 else
                             bytes([0x80 | index]))
        out += item_id.to_bytes(id_size, "big") + bytes([n]) + associations
    return out + payload[at:]


def shift_iloc(meta, shift):
    """Moves every file offset in the iloc box by `shift` bytes (the meta box grew)."""
    inner = boxes(meta, 12, len(meta))
    _, at, header, size = next(b for b in inner if b[0] == b"iloc")
    data = bytearray(meta)
    p = at + header
    version = data[p]
    offset_size, length_size = data[p + 4] >> 4, data[p + 4] & 15
    base_size, index_size = data[p + 5] >> 4, (data[p + 5] & 15) if version >= 1 else 0
    p += 6
    count = struct.unpack(">H", data[p:p + 2])[0] if version < 2 else struct.unpack(
        ">I", data[p:p + 4])[0]
    p += 2 if version < 2 else 4

    def read(width):
        return int.from_bytes(data[p:p + width], "big")

    for _ in range(count):
        p += 2 if version < 2 else 4
        method = 0
        if version >= 1:
            method = read(2) & 15
            p += 2
        p += 2  # data reference index
        base_at = p
        base = read(base_size)
        p += base_size
        extents = read(2)
        p += 2
        for _ in range(extents):
            p += index_size
            if method == 0 and base_size == 0:
                data[p:p + offset_size] = (read(offset_size) + shift).to_bytes(offset_size, "big")
            p += offset_size + length_size
        if method == 0 and base_size:
            data[base_at:base_at + base_size] = (base + shift).to_bytes(base_size, "big")
    return bytes(data)


def heif_with_size(base, width, height):
    data = bytearray(base)
    at = data.find(b"ispe")
    while at >= 0:
        data[at + 8:at + 16] = struct.pack(">II", width, height)
        at = data.find(b"ispe", at + 4)
    return bytes(data)


def encoded(picture, options, exif=False, kind=""):
    """A HEIF file that heif-enc makes of the picture ImageMagick draws from `picture`, or None
    without the tools. With `exif`, the picture first gets an EXIF Orientation of 6; `kind`
    names the PNG flavour ImageMagick writes (PNG32: with alpha, PNG48: 16 bits)."""
    if not (shutil.which("heif-enc") and shutil.which("convert") and shutil.which("exiftool")):
        return None
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "source.jpg" if exif else "source.png")
        heif = os.path.join(tmp, "out.heic")
        subprocess.run(["convert"] + picture + [kind + source], check=True)
        if exif:
            subprocess.run(["exiftool", "-q", "-overwrite_original", "-Orientation#=6",
                            "-Make=Velora", source], check=True)
        subprocess.run(["heif-enc", "-q", "60"] + options + [source, "-o", heif], check=True,
                       stdout=subprocess.DEVNULL)
        with open(heif, "rb") as f:
            return f.read()


def heif_base():
    """A small HEIC with an EXIF Orientation of 6."""
    return encoded(["-size", "32x16", "gradient:red-blue"], [], exif=True)


def heif_alpha():
    """A HEIC whose alpha runs from clear on the left to opaque on the right."""
    return encoded(["-size", "48x32", "gradient:red-blue", "-alpha", "set", "-channel", "A",
                    "-fx", "i/w", "+channel"], [], kind="PNG32:")


def heif_12bit():
    """A HEIC with 12 bits per sample, from a 16-bit picture."""
    return encoded(["-size", "40x24", "gradient:#203040-#f0e0d0", "-depth", "16"], ["-b", "12"],
                   kind="PNG48:")


def heif_tile():
    """A 512x512 HEIC of a smooth ramp: a tile of a few hundred bytes for the grids."""
    return encoded(["-size", "512x512", "gradient:#4080c0-#c08040"], [])


def tile_parts(tile):
    """The coded data of the single picture in `tile` and its properties by box type."""
    top = boxes(tile, 0, len(tile))
    meta = next(b for b in top if b[0] == b"meta")
    mdat = next(b for b in top if b[0] == b"mdat")
    coded = tile[mdat[1] + mdat[2]:mdat[1] + mdat[3]]
    iprp = next(b for b in boxes(tile, meta[1] + meta[2] + 4, meta[1] + meta[3]) if b[0] == b"iprp")
    ipco = next(b for b in boxes(tile, iprp[1] + iprp[2], iprp[1] + iprp[3]) if b[0] == b"ipco")
    return coded, {k: tile[a:a + s] for k, a, h, s in boxes(tile, ipco[1] + ipco[2], ipco[1] + ipco[3])}


def heif_grid(tile, columns, rows, width, height, cells=None, shared=False, inner=None):
    """A HEIC whose primary picture is a grid of `columns` x `rows` cells of `width` x `height`,
    made of the single picture in `tile`. `cells` names the tile item of each cell (by default
    one item each); with `shared` every tile item points at the same coded data. With `inner`
    (a size), that grid names the inner size and is the one tile of a grid that is primary."""
    coded, props = tile_parts(tile)
    cells = cells if cells is not None else list(range(columns * rows))
    count = max(cells) + 1
    grid_id = count + 1
    description = (bytes([0, 0, rows - 1, columns - 1]) +
                   struct.pack(">HH", *(inner or (width, height))))
    items = count + (2 if inner else 1)
    if inner:
        description += bytes([0, 0, 0, 0]) + struct.pack(">HH", width, height)

    def build(data_at):
        infe = b"".join(box(b"infe", b"\2\0\0\1" + struct.pack(">HH", i + 1, 0) + b"hvc1\0")
                        for i in range(count))
        infe += box(b"infe", (b"\2\0\0\1" if inner else b"\2\0\0\0") +
                    struct.pack(">HH", grid_id, 0) + b"grid\0")
        if inner:
            infe += box(b"infe", b"\2\0\0\0" + struct.pack(">HH", grid_id + 1, 0) + b"grid\0")
        iloc = b"\1\0\0\0\x44\0" + struct.pack(">H", items)
        for i in range(count):
            at = data_at + (0 if shared else i * len(coded))
            iloc += struct.pack(">HHHHII", i + 1, 0, 0, 1, at, len(coded))
        iloc += struct.pack(">HHHHII", grid_id, 1, 0, 1, 0, 8)
        iloc += struct.pack(">HHHHII", grid_id + 1, 1, 0, 1, 8, 8) if inner else b""
        ispe = box(b"ispe", b"\0" * 4 + struct.pack(">II", width, height))
        ipma = struct.pack(">I", items)
        for i in range(count):
            ipma += struct.pack(">HB", i + 1, 2) + bytes([0x81, 0x02])
        for grid in range(grid_id, items + 1):
            ipma += struct.pack(">HB", grid, 2) + bytes([0x03, 0x04])  # its size and depth
        dimg = box(b"dimg", struct.pack(">HH", grid_id, len(cells)) +
                   b"".join(struct.pack(">H", c + 1) for c in cells))
        dimg += box(b"dimg", struct.pack(">HHH", grid_id + 1, 1, grid_id)) if inner else b""
        return box(b"meta", b"\0" * 4 + b"".join([
            box(b"hdlr", b"\0" * 8 + b"pict" + b"\0" * 13),
            box(b"pitm", b"\0" * 4 + struct.pack(">H", items)),
            box(b"iinf", b"\0" * 4 + struct.pack(">H", items) + infe),
            box(b"iloc", iloc), box(b"idat", description),
            box(b"iprp", box(b"ipco", props[b"hvcC"] + props[b"ispe"] + ispe +
                                     props[b"pixi"]) +
                box(b"ipma", b"\0" * 4 + ipma)),
            box(b"iref", b"\0" * 4 + dimg)]))

    ftyp = box(b"ftyp", b"heic\0\0\0\0mif1heic")
    head = len(ftyp) + len(build(0)) + 8
    return ftyp + build(head) + box(b"mdat", coded * (1 if shared else count))


def heif_overlay(tile, width, height):
    """A HEIC whose primary picture is an overlay laying the picture in `tile` at the top left
    of a canvas of `width` x `height`, its ispe saying the same."""
    coded, props = tile_parts(tile)
    overlay = bytes([0, 0]) + struct.pack(">HHHHHHhh", 0, 0, 0, 65535, width, height, 0, 0)

    def build(data_at):
        return box(b"meta", b"\0" * 4 + b"".join([
            box(b"hdlr", b"\0" * 8 + b"pict" + b"\0" * 13),
            box(b"pitm", b"\0" * 4 + struct.pack(">H", 2)),
            box(b"iinf", b"\0" * 4 + struct.pack(">H", 2) +
                box(b"infe", b"\2\0\0\1" + struct.pack(">HH", 1, 0) + b"hvc1\0") +
                box(b"infe", b"\2\0\0\0" + struct.pack(">HH", 2, 0) + b"iovl\0")),
            box(b"iloc", b"\1\0\0\0\x44\0" + struct.pack(">HHHHHIIHHHHII", 2, 1, 0, 0, 1, data_at,
                                                          len(coded), 2, 1, 0, 1, 0, len(overlay))),
            box(b"idat", overlay),
            box(b"iprp", box(b"ipco", props[b"hvcC"] + props[b"ispe"] + props[b"pixi"] +
                             box(b"ispe", b"\0" * 4 + struct.pack(">II", width, height))) +
                box(b"ipma", b"\0" * 4 + struct.pack(">IHB", 2, 1, 2) + bytes([0x81, 0x02]) +
                    struct.pack(">HB", 2, 2) + bytes([0x04, 0x03]))),
            box(b"iref", b"\0" * 4 + box(b"dimg", struct.pack(">HHH", 2, 1, 1)))]))

    ftyp = box(b"ftyp", b"heic\0\0\0\0mif1heic")
    return ftyp + build(len(ftyp) + len(build(0)) + 8) + box(b"mdat", coded)

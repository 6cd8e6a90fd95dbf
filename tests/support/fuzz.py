"""Small valid files of every format the program reads, hostile variants of them, and seeded mutants.

Everything is built in memory from a seed, so no sample file is kept in the repository. The structure readers
(ico_structure, pe_structure, ne_structure) name the offsets of counts, offsets and sizes, which the mutator
hits more often than other bytes: those are the fields the system's readers trust.
"""
import io
import random
import struct

from PIL import Image

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
INTERESTING_32 = [0, 1, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000,
                  0xFFFFFFFF, 0xFFFFFFFE, 0x40000000]
INTERESTING_16 = [0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF]


# ---- valid seeds ---------------------------------------------------------------------------------------------

def _colour(i, j, k=0):
    return ((i * 37 + k) & 0xFF, (j * 53 + k) & 0xFF, ((i + j) * 29) & 0xFF)


def bitmap_entry(size, bits):
    """One icon image as a BITMAPINFOHEADER, palette, colour rows and mask rows (bottom-up), of a pattern."""
    palette_size = 1 << bits if bits <= 8 else 0
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", *_colour(i, 255 - i), 0) for i in range(palette_size))
    row_bytes = (size * bits + 31) // 32 * 4
    rows = []
    for y in range(size):
        if bits <= 8:
            values = [(x + y) % palette_size for x in range(size)]
            bitstring = "".join(format(v, "0%db" % bits) for v in values)
            row = int(bitstring, 2).to_bytes((len(bitstring) + 7) // 8, "big") if bitstring else b""
        elif bits == 24:
            row = b"".join(bytes(_colour(x, y)) for x in range(size))
        else:
            row = b"".join(bytes(_colour(x, y)) + bytes([255 if (x + y) % 5 else 128]) for x in range(size))
        rows.append(row.ljust(row_bytes, b"\0"))
    mask_row = (size + 31) // 32 * 4
    mask = b"".join(bytes([0x0F if y % 3 == 0 else 0]).ljust(mask_row, b"\0") for y in range(size))
    return header + palette + b"".join(rows) + mask


def png_bytes(size, mode="RGBA"):
    image = Image.new(mode, (size, size))
    image.putdata([_colour(x, y) + ((255,) if mode == "RGBA" else ()) for y in range(size) for x in range(size)])
    out = io.BytesIO()
    image.save(out, "PNG")
    return out.getvalue()


def ico(entries):
    """An .ico of (width, bits, image bytes) entries."""
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for width, bits, data in entries:
        out += struct.pack("<BBBBHHII", width & 0xFF, width & 0xFF, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in entries)


def _pil(format_, size=(24, 16), mode="RGB", **options):
    image = Image.new("RGBA", size)
    image.putdata([_colour(x, y) + (200 if (x + y) % 3 else 255,) for y in range(size[1]) for x in range(size[0])])
    out = io.BytesIO()
    image.convert(mode).save(out, format_, **options)
    return out.getvalue()


def bmp_4bit(width=13, height=7):
    palette = b"".join(struct.pack("<BBBB", *_colour(i, i), 0) for i in range(16))
    row_bytes = (width * 4 + 31) // 32 * 4
    rows = b"".join(bytes(((x + y) % 16) << 4 | ((x + y + 1) % 16) for x in range(row_bytes)) for y in range(height))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(rows), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(palette)
    return b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + info + palette + rows


def gif_frames():
    frames = []
    for k in range(2):
        image = Image.new("RGB", (20, 12))
        image.putdata([_colour(x, y, k * 90) for y in range(12) for x in range(20)])
        frames.append(image.convert("P"))
    out = io.BytesIO()
    frames[0].save(out, "GIF", save_all=True, append_images=frames[1:], duration=100, loop=0)
    return out.getvalue()


def tiff_pages(sizes=((16, 16), (32, 24), (8, 8)), colours=((200, 30, 30), (30, 200, 30), (30, 30, 200))):
    pages = [Image.new("RGB", s, c) for s, c in zip(sizes, colours)]
    out = io.BytesIO()
    pages[0].save(out, "TIFF", save_all=True, append_images=pages[1:])
    return out.getvalue()


def _packbits(row):
    """A row as PackBits packets: runs of three or more bytes, literals between them."""
    out, i = bytearray(), 0
    while i < len(row):
        run = 1
        while i + run < len(row) and run < 128 and row[i + run] == row[i]:
            run += 1
        if run >= 3:
            out += bytes([257 - run, row[i]])
            i += run
            continue
        j = i
        while j < len(row) and j - i < 128 and not (j + 2 < len(row) and row[j] == row[j + 1] == row[j + 2]):
            j += 1
        out += bytes([j - i - 1]) + row[i:j]
        i = j
    return bytes(out)


def psd_bytes(pixels, size, compressed=False):
    """A Photoshop file holding only the composite of RGB pixels (8 bits a channel), raw or run-length encoded."""
    width, height = size
    planes = [bytes(p[c] for p in pixels) for c in range(3)]
    rows = [plane[y * width:(y + 1) * width] for plane in planes for y in range(height)]
    head = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, height, width, 8, 3) + struct.pack(">III", 0, 0, 0)
    if not compressed:
        return head + struct.pack(">H", 0) + b"".join(rows)
    packed = [_packbits(row) for row in rows]
    return head + struct.pack(">H", 1) + b"".join(struct.pack(">H", len(p)) for p in packed) + b"".join(packed)


def webp_frames():
    frames = [Image.new("RGBA", (20, 12), (200, 30, 30, 255)), Image.new("RGBA", (20, 12), (30, 30, 200, 128))]
    out = io.BytesIO()
    frames[0].save(out, "WEBP", save_all=True, append_images=frames[1:], duration=100, loop=0, lossless=True)
    return out.getvalue()


def ne_library(groups=((16, 32), (32,)), bits=4):
    """A 16-bit icon library (NE) whose icon groups hold palette bitmaps of the given sizes."""
    icons = []  # (id, data)
    group_blocks = []
    for g, sizes in enumerate(groups):
        entries = b""
        for size in sizes:
            icon_id = len(icons) + 1
            data = bitmap_entry(size, bits)
            icons.append((icon_id, data))
            entries += struct.pack("<BBBBHHIH", size & 0xFF, size & 0xFF, 16 if bits == 4 else 0, 0, 1, bits,
                                   len(data), icon_id)
        group_blocks.append((g + 1, struct.pack("<HHH", 0, 1, len(sizes)) + entries))
    shift = 4
    table_size = 2 + 8 + 12 * len(icons) + 8 + 12 * len(group_blocks) + 2
    names_table = b"\x05GWLIB\x00\x00\x00"
    data_start = (0x80 + table_size + len(names_table) + 15) // 16 * 16
    blobs, infos, offset = [], {}, data_start
    for kind, items in (("icon", icons), ("group", group_blocks)):
        for ident, data in items:
            padded = data.ljust((len(data) + 15) // 16 * 16, b"\0")
            infos[(kind, ident)] = (offset >> shift, len(padded) >> shift)
            blobs.append(padded)
            offset += len(padded)
    table = struct.pack("<H", shift)
    for kind, type_id, items in (("icon", 0x8003, icons), ("group", 0x800E, group_blocks)):
        table += struct.pack("<HHI", type_id, len(items), 0)
        for ident, _ in items:
            off, length = infos[(kind, ident)]
            table += struct.pack("<HHHHI", off, length, 0x1C30, 0x8000 | ident, 0)
    table += struct.pack("<H", 0)
    mz = bytearray(64)
    mz[0:2] = b"MZ"
    struct.pack_into("<I", mz, 0x3C, 0x40)
    ne = bytearray(64)
    ne[0:2] = b"NE"
    struct.pack_into("<HH", ne, 0x24, 0x40, 0x40 + len(table))
    head = bytes(mz) + bytes(ne) + table + names_table
    return head.ljust(data_start, b"\0") + b"".join(blobs)


def seeds(pe_path=None):
    """Name -> bytes of one small valid file per format (and per depth where the decoders differ)."""
    files = {
        "bitmaps.ico": ico([(16, 1, bitmap_entry(16, 1)), (16, 4, bitmap_entry(16, 4)), (32, 8, bitmap_entry(32, 8)),
                            (24, 24, bitmap_entry(24, 24)), (48, 32, bitmap_entry(48, 32))]),
        "png.ico": ico([(16, 32, bitmap_entry(16, 32)), (0, 32, png_bytes(256))]),
        "depth1.bmp": _pil("BMP", mode="1"),
        "depth4.bmp": bmp_4bit(),
        "depth8.bmp": _pil("BMP", mode="P"),
        "depth24.bmp": _pil("BMP"),
        "depth32.bmp": _pil("BMP", mode="RGBA"),
        "picture.png": _pil("PNG", mode="RGBA"),
        "frames.gif": gif_frames(),
        "photo.jpg": _pil("JPEG", size=(40, 30)),
        "pages.tif": tiff_pages(),
        "plain.tga": _pil("TGA", mode="RGBA"),
        "packed.tga": _pil("TGA", compression="tga_rle"),
        "composite.psd": psd_bytes([_colour(x, y) for y in range(16) for x in range(24)], (24, 16), True),
        "lossy.webp": _pil("WEBP", quality=80),
        "lossless.webp": _pil("WEBP", mode="RGBA", lossless=True),
        "frames.webp": webp_frames(),
        "library.icl": ne_library(),
    }
    if pe_path:
        with open(pe_path, "rb") as f:
            files["library.dll"] = f.read()
    return files


# ---- structure readers: where the trusted fields are -----------------------------------------------------------

def ico_structure(data):
    """Offsets of the directory's fields and of every entry's header fields."""
    hot = [4]
    if len(data) < 6:
        return hot
    count = struct.unpack_from("<H", data, 4)[0]
    for i in range(min(count, (len(data) - 6) // 16)):
        e = 6 + 16 * i
        hot += [e + 8, e + 12]
        size, offset = struct.unpack_from("<II", data, e + 8)
        if offset + 40 <= len(data):
            hot += [offset + 4, offset + 8, offset + 12, offset + 14, offset + 16, offset + 32, offset + 16]
    return hot


def pe_rva_to_offset(data, rva):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    for i in range(sections):
        va, raw_size, raw = struct.unpack_from("<III", data, table + 40 * i + 12)
        if va <= rva < va + raw_size:
            return raw + rva - va
    return None


def pe_structure(data):
    """The resource tree of a PE file: root offset, directory offsets, entry offsets, data-entry offsets and the
    (offset, size) of every RT_GROUP_ICON and RT_ICON block, by type."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    directories = pe + 24 + (96 if magic == 0x10B else 112)
    root_rva = struct.unpack_from("<I", data, directories + 16)[0]
    root = pe_rva_to_offset(data, root_rva)
    tree = {"root": root, "dirs": [], "entries": [], "data": [], "blocks": {3: [], 14: []}}

    def walk(relative, level, type_id):
        at = root + relative
        tree["dirs"].append(at)
        named, ids = struct.unpack_from("<HH", data, at + 12)
        for i in range(named + ids):
            e = at + 16 + 8 * i
            tree["entries"].append(e)
            name, target = struct.unpack_from("<II", data, e)
            this_type = name if level == 0 else type_id
            if target & 0x80000000:
                walk(target & 0x7FFFFFFF, level + 1, this_type)
            else:
                tree["data"].append(root + target)
                rva, size = struct.unpack_from("<II", data, root + target)
                if this_type in (3, 14):
                    tree["blocks"][this_type].append((pe_rva_to_offset(data, rva), size))

    walk(0, 0, None)
    return tree


def pe_hot_offsets(data):
    tree = pe_structure(data)
    hot = []
    for d in tree["dirs"]:
        hot += [d + 12, d + 14]
    for e in tree["entries"]:
        hot += [e, e + 4, e + 6]
    for d in tree["data"]:
        hot += [d, d + 4]
    for offset, _ in tree["blocks"][14]:
        hot += [offset + 4, offset + 6 + 12, offset + 6 + 8]
    for offset, _ in tree["blocks"][3]:
        hot += [offset + 4, offset + 8, offset + 12, offset + 14, offset + 16, offset + 32]
    return hot


def ne_structure(data):
    """Offsets of the NE resource table's shift, type records and name records, and of every block."""
    ne = struct.unpack_from("<I", data, 0x3C)[0]
    table = ne + struct.unpack_from("<H", data, ne + 0x24)[0]
    shift = struct.unpack_from("<H", data, table)[0]
    hot, blocks = [table, ne + 0x24, ne + 0x26], {}
    at = table + 2
    while True:
        type_id, count = struct.unpack_from("<HH", data, at)
        if type_id == 0:
            break
        hot += [at, at + 2]
        for i in range(count):
            info = at + 8 + 12 * i
            hot += [info, info + 2, info + 6]
            offset, length = struct.unpack_from("<HH", data, info)
            blocks.setdefault(type_id, []).append((offset << shift, length << shift))
        at += 8 + 12 * count
    for offset, _ in blocks.get(0x800E, []):
        hot += [offset + 4, offset + 6 + 12]
    for offset, _ in blocks.get(0x8003, []):
        hot += [offset + 4, offset + 8, offset + 14]
    return hot, blocks


def hot_offsets(name, data):
    try:
        if name.endswith(".ico"):
            return ico_structure(data)
        if name.endswith(".dll"):
            return pe_hot_offsets(data)
        if name.endswith(".icl"):
            return ne_structure(data)[0]
        if name.endswith(".bmp"):
            return [2, 10, 14, 18, 22, 26, 28, 30, 34, 46]
        if name.endswith(".gif"):
            return [6, 8, 10] + [i + 9 for i in range(len(data)) if data[i] == 0x2C][:4]
        if name.endswith(".tif"):
            return [4] + tiff_page_offsets(data)
        if name.endswith(".tga"):
            return [1, 2, 12, 14, 16, 17]
        if name.endswith(".psd"):
            return [12, 14, 18, 22, 24, 38] + list(range(40, 40 + 2 * 16 * 3, 2))
        if name.endswith(".webp"):
            return [4, 16] + [i + 4 for i in range(12, len(data) - 4) if data[i:i + 3] in (b"VP8", b"ANM")][:6]
    except (struct.error, TypeError, IndexError):
        pass
    return []


def tiff_page_offsets(data):
    """File offsets of every page's next-page pointer, in chain order (little-endian files)."""
    pointers, page, seen = [], struct.unpack_from("<I", data, 4)[0], set()
    while page and page not in seen and page + 2 <= len(data):
        seen.add(page)
        count = struct.unpack_from("<H", data, page)[0]
        pointer = page + 2 + 12 * count
        pointers.append(pointer)
        page = struct.unpack_from("<I", data, pointer)[0]
    return pointers


# ---- hostile variants: one per fault the system's readers are known to trust ---------------------------------

def _put(data, fmt, offset, *values):
    out = bytearray(data)
    struct.pack_into(fmt, out, offset, *values)
    return bytes(out)


def ico_count_past_end(data):
    return _put(data, "<H", 4, 0x7FFF)


def ico_offset_past_end(data):
    return _put(data, "<I", 6 + 12, len(data) + 4096)


def ico_size_past_end(data):
    return _put(data, "<I", 6 + 8, 0x7FFFFFF0)


def ico_bitmap_width(value):
    def mutate(data):
        offset = struct.unpack_from("<I", data, 6 + 12)[0]
        return _put(data, "<I", offset + 4, value & 0xFFFFFFFF)
    return mutate


def ico_bitmap_height(value):
    def mutate(data):
        offset = struct.unpack_from("<I", data, 6 + 12)[0]
        return _put(data, "<I", offset + 8, value & 0xFFFFFFFF)
    return mutate


def pe_group_data_outside_section(data):
    """The data entry of the first icon group points far past the end of every section."""
    tree = pe_structure(data)
    group_data = [d for d in tree["data"] if pe_rva_to_offset(data, struct.unpack_from("<I", data, d)[0]) ==
                  tree["blocks"][14][0][0]][0]
    return _put(data, "<I", group_data, 0x7FFF0000)


def pe_directory_into_itself(data):
    """The first icon group's name entry points back at the root directory (a loop)."""
    tree = pe_structure(data)
    root = tree["root"]
    named, ids = struct.unpack_from("<HH", data, root + 12)
    for i in range(named + ids):
        e = root + 16 + 8 * i
        name, target = struct.unpack_from("<II", data, e)
        if name == 14:
            names_dir = root + (target & 0x7FFFFFFF)
            return _put(data, "<I", names_dir + 16 + 4, 0x80000000 | (target & 0x7FFFFFFF))
    raise ValueError("no icon groups")


def pe_entry_outside_section(data):
    """The root's first entry points to a subdirectory beyond the end of the file."""
    tree = pe_structure(data)
    return _put(data, "<I", tree["root"] + 16 + 4, 0x80000000 | 0x7FFFFF00)


def pe_group_count_larger(data):
    """The first icon group claims far more entries than its block holds."""
    offset, _ = pe_structure(data)["blocks"][14][0]
    return _put(data, "<H", offset + 4, 0x7FFF)


def ne_group_count_larger(data):
    _, blocks = ne_structure(data)
    offset, _ = blocks[0x800E][0]
    return _put(data, "<H", offset + 4, 0x7FFF)


def ne_block_past_end(data):
    """The first icon's block (in the first group) starts past the end of the file."""
    ne = struct.unpack_from("<I", data, 0x3C)[0]
    table = ne + struct.unpack_from("<H", data, ne + 0x24)[0]
    return _put(data, "<H", table + 2 + 8, 0xFFF0)  # first icon's offset, in 16-byte units


def ne_table_past_end(data):
    """The resource table's offset leads past the end of the file (and past the names table)."""
    ne = struct.unpack_from("<I", data, 0x3C)[0]
    return _put(data, "<H", ne + 0x24, 0xFFFF)


def gif_without_colour_table():
    """A 1 x 1 GIF with neither a global nor a local colour table."""
    return (b"GIF89a" + struct.pack("<HHBBB", 1, 1, 0, 0, 0) + b"\x2C" + struct.pack("<HHHHB", 0, 0, 1, 1, 0) +
            b"\x02\x02\x44\x01\x00\x3B")


def tiff_looping_chain(data):
    """The last page's next-page pointer leads back to the first page."""
    pointers = tiff_page_offsets(data)
    first = struct.unpack_from("<I", data, 4)[0]
    return _put(data, "<I", pointers[-1], first)


# ---- seeded mutants ----------------------------------------------------------------------------------------------

def mutate(data, rng, hot=()):
    """One mutant: a few random edits, aimed at the trusted fields half of the time."""
    out = bytearray(data)
    for _ in range(rng.randint(1, 3)):
        if not out:
            break
        if hot and rng.random() < 0.5:
            offset = min(rng.choice(hot), len(out) - 1)
        elif rng.random() < 0.6:
            offset = rng.randrange(min(len(out), 1024))
        else:
            offset = rng.randrange(len(out))
        kind = rng.random()
        if kind < 0.3 and offset + 4 <= len(out):
            struct.pack_into("<I", out, offset, rng.choice(INTERESTING_32 + [len(out), len(out) - offset]))
        elif kind < 0.5 and offset + 2 <= len(out):
            struct.pack_into("<H", out, offset, rng.choice(INTERESTING_16))
        elif kind < 0.75:
            out[offset] ^= 1 << rng.randrange(8)
        elif kind < 0.85:
            out[offset] = rng.randrange(256)
        elif kind < 0.95:
            del out[rng.randrange(offset, len(out)) + 1:]  # cut short
        else:
            start = rng.randrange(len(out))
            out[start:start] = out[start:start + rng.randint(1, 64)]  # a block repeated
    return bytes(out)


def mutants(seed_files, count, seed):
    """(name, bytes) of count mutants spread evenly over the seeds, reproducible from the seed."""
    rng = random.Random(seed)
    names = sorted(seed_files)
    hot = {name: hot_offsets(name, seed_files[name]) for name in names}
    result = []
    for i in range(count):
        name = names[i % len(names)]
        stem, ext = name.rsplit(".", 1)
        result.append(("m%04d-%s.%s" % (i, stem, ext), mutate(seed_files[name], rng, hot[name])))
    return result

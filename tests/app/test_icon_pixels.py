"""Icons taken from resource files keep their own pixels: the real program's output, read by PIL, against the source
entries as icotool decodes them; and the resource batch writes what single extraction can, counting written files."""
import os
import shutil
import struct
import subprocess
import unittest
import warnings

from PIL import Image

import gw

PREFIX_SHELL32 = os.path.join(os.environ.get("WINEPREFIX", os.path.join(gw.BUILD_DIR, "wineprefix")),
                              "drive_c", "windows", "system32", "shell32.dll")
SYSTEM32 = "C:\\windows\\system32"


def group_names(library):
    """Icon group names in resource directory order, as wrestool lists them."""
    listing = gw.tool("wrestool", "-l", "--type=14", library).stdout
    return [line.split("--name=")[1].split(" ")[0].strip("'") for line in listing.splitlines() if "--name=" in line]


def source_entries(library, name, size, folder):
    """Every size x size image of one icon group, each decoded by icotool from a one-entry icon file made of the raw
    image resource, as RGBA pixel lists."""
    raw = gw.tool_bytes("wrestool", "-x", "--raw", "--type=14", "--name=" + name, library)
    count = struct.unpack_from("<H", raw, 4)[0]
    images = []
    for i in range(count):
        width, height, colours, _, planes, bits, length, icon_id = struct.unpack_from("<BBBBHHIH", raw, 6 + 14 * i)
        if (width or 256) != size:
            continue
        data = gw.tool_bytes("wrestool", "-x", "--raw", "--type=3", "--name=%d" % icon_id, library)
        single = os.path.join(folder, "entry-%d.ico" % icon_id)
        with open(single, "wb") as f:
            f.write(struct.pack("<HHHBBBBHHII", 0, 1, 1, width, height, colours, 0, planes, bits, len(data), 22) + data)
        png = os.path.join(folder, "entry-%d.png" % icon_id)
        result = gw.tool("icotool", "-x", "-o", png, single)
        if result.returncode != 0:
            raise AssertionError("icotool rejected entry %d: %s" % (icon_id, result.stderr))
        with Image.open(png) as im:
            images.append(("entry %d (%d bits)" % (icon_id, bits), list(im.convert("RGBA").getdata())))
    return images


def written_entries(path):
    """Size -> RGBA pixel list of every entry of a written icon, as PIL reads it."""
    with Image.open(path) as im:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return {size[0]: list(im.ico.getimage(size).convert("RGBA").getdata()) for size in im.ico.sizes()}


def palette_icon_image(size, palette, index_of, masked):
    """A 4-bit icon image as resources hold it: header with doubled height, palette, XOR and AND rows bottom-up. index_of(x, y) gives the palette index, masked(x, y) whether the AND mask is set."""
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor_rows, and_rows = b"", b""
    for y in reversed(range(size)):
        row = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x in range(size):
            row[x // 2] |= index_of(x, y) << (4 if x % 2 == 0 else 0)
            if masked(x, y):
                mask[x // 8] |= 0x80 >> (x % 8)
        xor_rows += bytes(row)
        and_rows += bytes(mask)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, len(xor_rows) + len(and_rows), 0, 0,
                         len(palette), 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + xor_rows + and_rows


def ne_icon_library(images):
    """A 16-bit (NE) icon library with one icon group per 4-bit 16 x 16 image, in the given order."""
    shift = 4
    count = len(images)
    # Resource table: alignment shift, the group type and the icon type with one name entry per resource, end.
    table_size = 2 + 2 * (8 + 12 * count) + 2 + 1
    names = b"\x05ICONS\x00\x00\x00"
    ne_size = 64
    data_start = 64 + ne_size + table_size + len(names)
    data_start = (data_start + (1 << shift) - 1) >> shift << shift
    blobs = []
    for i, image in enumerate(images):
        group = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHIH", 16, 16, 0, 0, 1, 4, len(image), i + 1)
        blobs.append(("icon", i, image))
        blobs.append(("group", i, group))
    data = b""
    placed = {}
    for kind, i, blob in blobs:
        placed[(kind, i)] = ((data_start + len(data)) >> shift, (len(blob) + (1 << shift) - 1) >> shift)
        data += blob + b"\x00" * (-len(blob) % (1 << shift))

    def type_block(type_id, kind):
        block = struct.pack("<HHI", 0x8000 | type_id, count, 0)
        for i in range(count):
            offset, length = placed[(kind, i)]
            block += struct.pack("<HHHHHH", offset, length, 0x0C50, 0x8000 | (i + 1), 0, 0)
        return block

    table = struct.pack("<H", shift) + type_block(14, "group") + type_block(3, "icon") + b"\x00\x00" + b"\x00"
    assert len(table) == table_size
    rsrc = ne_size
    restab = rsrc + table_size
    after = restab + len(names)
    ne = struct.pack("<2sBBHHIHHHHIIHHHHHHHHIHHHBBHHHH", b"NE", 5, 10, after, 0, 0, 0x8300, 0, 0, 0, 0, 0, 0, 0, 0,
                     ne_size, rsrc, restab, after, after, 0, 0, shift, 0, 2, 0, 0, 0, 0, 0x030A)
    assert len(ne) == ne_size
    mz = bytearray(64)
    mz[0:2] = b"MZ"
    struct.pack_into("<H", mz, 0x18, 0x40)
    struct.pack_into("<I", mz, 0x3C, 64)
    head = bytes(mz) + ne + table + names
    return head + b"\x00" * (data_start - len(head)) + data


def same_pixels(ours, theirs):
    """Alpha equal everywhere and colour equal wherever a pixel shows (alpha above 0)."""
    return len(ours) == len(theirs) and all(a[3] == b[3] and (a[3] == 0 or a == b) for a, b in zip(ours, theirs))


class ResourcePixelsTest(gw.TempDirTest):
    def assert_entries_are_the_groups(self, out, group, sizes):
        ours = written_entries(out)
        self.assertEqual(sorted(ours), sizes)
        for size in sizes:
            entries = source_entries(PREFIX_SHELL32, group, size, self.tmp)
            self.assertTrue(entries, "group %s has a %d px entry" % (group, size))
            matches = [name for name, pixels in entries if same_pixels(ours[size], pixels)]
            self.assertTrue(matches, "size %d matches none of %s; alpha values written: %s"
                            % (size, [n for n, _ in entries], sorted({p[3] for p in ours[size]})))

    def test_each_entry_at_its_own_size_is_the_source_entry(self):
        # Positions 0 (16 px entry with alpha) and 1, 40, 42, 80, 129 (16 px entries of 4 and 8 bits only).
        names = group_names(PREFIX_SHELL32)
        self.assertGreater(len(names), 129)
        for position in (0, 1, 40, 42, 80, 129):
            with self.subTest(group=position):
                out = self.path("g%d.ico" % position)
                result = gw.run("/formats=16,32,48", "/nopngc", "/extract", "%s\\shell32.dll,%d" % (SYSTEM32, position),
                                gw.win_path(out))
                self.assertEqual(result.returncode, 0)
                self.assert_entries_are_the_groups(out, names[position], [16, 32, 48])

    def test_the_shell_icon_of_a_folder_is_its_source_entry(self):
        # Asked for the open icon, the shell names the shell library's group 5 for a plain folder.
        folder = self.path("plain")
        os.mkdir(folder)
        out = self.path("folder.ico")
        self.assertEqual(gw.run("/formats=16,32,48", "/nopngc", "/convert", gw.win_path(folder),
                                gw.win_path(out)).returncode, 0)
        self.assert_entries_are_the_groups(out, "5", [16, 32, 48])


def program_icon_groups():
    """How many icon groups the program file carries, as an independent reader lists them."""
    listing = subprocess.run(["wrestool", "-l", "--type=14", gw.EXE], capture_output=True, text=True, check=True)
    return len([line for line in listing.stdout.splitlines() if line.strip()])


class BatchExtractReachTest(gw.TempDirTest):
    # 14 colours: a 16 x 16 image is then a whole number of the library's 16-byte units.
    PALETTE = [(0, 0, 0), (200, 30, 40), (20, 160, 60), (30, 60, 220)] + [(255, 255, 255)] * 10

    def ne_library(self):
        images = [palette_icon_image(16, self.PALETTE, lambda x, y, c=colour: c if (x + y) % 5 else 0,
                                     lambda x, y: x < 3 or y >= 13) for colour in (1, 2, 3)]
        path = self.path("old.icl")
        with open(path, "wb") as f:
            f.write(ne_icon_library(images))
        return path

    def foreign_program(self):
        """The program itself with its file header naming another processor (PowerPC)."""
        path = self.path("other.exe")
        with open(gw.EXE, "rb") as f:
            data = bytearray(f.read())
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.assertEqual(data[pe:pe + 4], b"PE\x00\x00")
        struct.pack_into("<H", data, pe + 4, 0x01F0)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_files_the_loader_refuses_give_every_group_single_extraction_gives(self):
        for source, groups in ((self.ne_library(), 3), (self.foreign_program(), program_icon_groups())):
            name = os.path.basename(source)
            with self.subTest(source=name):
                singles = []
                for n in range(groups):
                    single = self.path("single-%s-%d.ico" % (name, n))
                    self.assertEqual(gw.run("/formats=16,32", "/extract", "%s,%d" % (gw.win_path(source), n),
                                            gw.win_path(single)).returncode, 0, "single extraction of group %d" % n)
                    singles.append(single)
                out = self.path("out-" + name)
                result = gw.run("/batchextract", gw.win_path(source), gw.win_path(out), "/formats=16,32")
                self.assertEqual(result.returncode, 1)
                self.assertEqual(sorted(os.listdir(out)), ["%s_Icon_%d.ico" % (name, n) for n in range(groups)])
                for n, single in enumerate(singles):
                    with open(single, "rb") as a, open(os.path.join(out, "%s_Icon_%d.ico" % (name, n)), "rb") as b:
                        self.assertEqual(a.read(), b.read(), "group %d" % n)
        # The 16-bit library's palette icons are opaque exactly where their mask is clear.
        for n, colour in enumerate((1, 2, 3)):
            pixels = written_entries(self.path("out-old.icl", "old.icl_Icon_%d.ico" % n))[16]
            expected = [self.PALETTE[colour if (x + y) % 5 else 0] + (0 if x < 3 or y >= 13 else 255,)
                        for y in range(16) for x in range(16)]
            self.assertTrue(same_pixels(pixels, expected), "group %d: %s" % (n, pixels[:20]))

    def test_batches_where_no_file_can_be_written_give_zero(self):
        # A folder standing at every output name: each item fails, and the batch has done nothing.
        program = self.path("prog.exe")
        shutil.copyfile(gw.EXE, program)
        pictures = self.path("pictures")
        os.mkdir(pictures)
        Image.new("RGBA", (20, 20), (1, 2, 3, 255)).save(os.path.join(pictures, "pic.png"))
        cases = [
            ("/batchextract", program, ["prog.exe_Icon_%d.ico" % n for n in range(program_icon_groups())]),
            ("/batchconvert", pictures, ["pic.ico"]),
        ]
        for command, source, blocked in cases:
            with self.subTest(command=command):
                out = self.path("out" + command[1:])
                for name in blocked:
                    os.makedirs(os.path.join(out, name))
                result = gw.run(command, gw.win_path(source), gw.win_path(out), "/formats=16")
                self.assertEqual(result.returncode, 0)
                self.assertEqual(sorted(os.listdir(out)), blocked)
                self.assertTrue(all(os.path.isdir(os.path.join(out, name)) for name in blocked))


if __name__ == "__main__":
    unittest.main()

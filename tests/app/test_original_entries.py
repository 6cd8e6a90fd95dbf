"""Extraction with /original: every icon group written as the library ships it, compared byte for byte with
wrestool's extraction of the same group, for a PE library, a 16-bit (NE) library and a program for the other
processor; a damaged group writes nothing."""
import os
import re
import shutil
import struct

import gw

WINDOWS = os.path.join(os.environ.get("WINEPREFIX", os.path.join(gw.BUILD_DIR, "wineprefix")), "drive_c", "windows")
SHELL32 = os.path.join(WINDOWS, "system32", "shell32.dll")
# A 16-bit display driver of the prefix that holds an icon group.
NE_LIBRARY = os.path.join(WINDOWS, "syswow64", "display.drv")
# The prefix is 64-bit: system32 holds 64-bit programs, syswow64 32-bit ones.
OTHER_PROCESSOR = os.path.join(WINDOWS, "system32" if gw.ARCH == "x86" else "syswow64", "winecfg.exe")


def group_names(library):
    return re.findall(r"--name='?([^' ]+)'?", gw.tool("wrestool", "-l", "--type=14", library).stdout)


def wrestool_icon(library, name):
    """wrestool's .ico of one group. It writes as many bytes again as the group's directory holds (6 + 14 per
    entry) after the last image, whatever its memory held there; the icon itself ends before them."""
    data = gw.tool_bytes("wrestool", "-x", "--type=14", "--name=" + name, library)
    count = struct.unpack_from("<H", data, 4)[0]
    return data[:len(data) - (6 + 14 * count)]


def has_png_entry(ico):
    count = struct.unpack_from("<H", ico, 4)[0]
    return any(ico[offset:offset + 4] == b"\x89PNG"
               for offset in (struct.unpack_from("<I", ico, 6 + 16 * i + 12)[0] for i in range(count)))


def icon_data_entries(pe):
    """File offsets of the data entries of every icon (type 3) resource of a PE file."""
    u16 = lambda at: struct.unpack_from("<H", pe, at)[0]
    u32 = lambda at: struct.unpack_from("<I", pe, at)[0]
    header = u32(0x3C)
    optional = header + 24
    directories = optional + (96 if u16(optional) == 0x10B else 112)
    rva = u32(directories + 2 * 8)
    sections = optional + u16(header + 20)
    for s in range(u16(header + 6)):
        at = sections + 40 * s
        if u32(at + 12) <= rva < u32(at + 12) + u32(at + 16):
            root = u32(at + 20) + rva - u32(at + 12)

    def entries(directory):
        count = u16(root + directory + 12) + u16(root + directory + 14)
        return [(u32(root + directory + 16 + 8 * i), u32(root + directory + 20 + 8 * i) & 0x7FFFFFFF)
                for i in range(count)]

    found = []
    for type_id, names in entries(0):
        if type_id == 3:
            for _, languages in entries(names):
                found += [root + data for _, data in entries(languages)]
    return found


class OriginalEntriesTest(gw.TempDirTest):
    def assert_batch_matches_wrestool(self, library, windows_path, minimum_groups):
        names = group_names(library)
        self.assertGreaterEqual(len(names), minimum_groups)
        out = self.path("out")
        # /formats, /png and /crop have no say over original entries.
        result = gw.run("/batchextract", windows_path, gw.win_path(out), "/original", "/formats=24", "/png", "/crop",
                        timeout=600)
        self.assertEqual(result.returncode, 1)
        base = os.path.basename(library)
        self.assertEqual(sorted(os.listdir(out)), sorted("%s_Icon_%d.ico" % (base, n) for n in range(len(names))))
        pngs = 0
        for n, name in enumerate(names):
            with open(os.path.join(out, "%s_Icon_%d.ico" % (base, n)), "rb") as f:
                ours = f.read()
            self.assertEqual(ours, wrestool_icon(library, name), "group %d (%s)" % (n, name))
            pngs += has_png_entry(ours)
        return pngs

    def test_every_group_of_shell32_as_wrestool_extracts_it(self):
        # The 32-bit program reaches the 64-bit library through its mapping of System32 to SysNative.
        pngs = self.assert_batch_matches_wrestool(SHELL32, "C:\\windows\\system32\\shell32.dll", 100)
        self.assertGreater(pngs, 0, "no group with a PNG entry was compared")

    def test_single_extraction_by_position_and_by_id(self):
        names = group_names(SHELL32)
        numbered = next(n for n, name in enumerate(names) if name.isdigit())
        for location, name in (("0", names[0]), (str(len(names) - 1), names[-1]),
                               ("-" + names[numbered], names[numbered])):
            out = self.path("group%s.png" % location)
            result = gw.run("/extract", "C:\\windows\\system32\\shell32.dll," + location, gw.win_path(out),
                            "/original")
            self.assertEqual(result.returncode, 0, location)
            # An original group is an icon file, whatever extension the target asked for.
            self.assertFalse(os.path.exists(out), location)
            with open(self.path("group%s.ico" % location), "rb") as f:
                self.assertEqual(f.read(), wrestool_icon(SHELL32, name), location)

    def test_a_16_bit_library(self):
        if not os.path.exists(NE_LIBRARY):
            self.skipTest("the prefix has no %s" % NE_LIBRARY)
        with open(NE_LIBRARY, "rb") as f:
            head = f.read(0x1000)
        self.assertEqual(head[struct.unpack_from("<I", head, 0x3C)[0]:][:2], b"NE")
        out = self.path("display.ico")
        result = gw.run("/extract", gw.win_path(NE_LIBRARY) + ",0", gw.win_path(out), "/original")
        self.assertEqual(result.returncode, 0)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), wrestool_icon(NE_LIBRARY, group_names(NE_LIBRARY)[0]))

    def test_a_program_for_the_other_processor(self):
        library = self.path("other.exe")
        shutil.copyfile(OTHER_PROCESSOR, library)
        self.assert_batch_matches_wrestool(library, gw.win_path(library), 2)

    def test_a_group_whose_icon_lies_outside_the_file_writes_nothing(self):
        library = self.path("damaged.exe")
        with open(OTHER_PROCESSOR, "rb") as f:
            pe = bytearray(f.read())
        for entry in icon_data_entries(pe):
            struct.pack_into("<I", pe, entry, 0x7FFFFF00)
        with open(library, "wb") as f:
            f.write(pe)
        out = self.path("damaged.ico")
        result = gw.run("/extract", gw.win_path(library) + ",0", gw.win_path(out), "/original")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(os.listdir(self.tmp), ["damaged.exe"])

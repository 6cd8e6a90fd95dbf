"""Hostile files through the real program: malformed icon directories, resource trees and GIFs, and TIFF page chains
that loop. Each must end in a clean refusal (or a valid icon), within a time limit, with the documented exit code,
leaving the source as it was. The files are built from small valid seeds (fuzz.py)."""
import hashlib
import os
import re
import subprocess
import unittest

from PIL import Image

import fuzz
import gw

ICONLIB = os.path.join(gw.BUILD_DIR, "gwtest_iconlib.exe")
RUN_LIMIT = 10  # seconds; a run that takes longer hangs


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def icon_sizes(path):
    """Widths icotool lists for a file; AssertionError when it is no valid icon."""
    result = gw.tool("icotool", "-l", path)
    if result.returncode != 0:
        raise AssertionError("icotool rejects %s: %s" % (path, result.stderr))
    return [int(w) for w in re.findall(r"--width=(\d+)", result.stdout)]


class HostileRun(gw.TempDirTest):
    def write(self, name, data):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run_clean(self, *args, codes=(0, 1)):
        """Runs the program, asserting that it neither crashes nor hangs and ends with one of the codes."""
        try:
            result = gw.run(*args, timeout=RUN_LIMIT)
        except subprocess.TimeoutExpired:
            self.fail("no answer within %d s: %s" % (RUN_LIMIT, " ".join(args)))
        self.assertNotIn(b"Unhandled", result.stderr, " ".join(args))
        self.assertIn(result.returncode, codes, " ".join(args))
        return result.returncode

    def iconlib(self):
        if not os.path.exists(ICONLIB):
            self.fail("the test build did not make %s" % ICONLIB)
        with open(ICONLIB, "rb") as f:
            return f.read()


class SingleJobTest(HostileRun):
    def check_single(self, name, data, command, wanted, index=None):
        source = self.write(name, data)
        before = digest(source)
        output = self.path("out.ico")
        if os.path.exists(output):
            os.remove(output)
        location = gw.win_path(source) + ("," + str(index) if index is not None else "")
        code = self.run_clean(command, location, gw.win_path(output), "/formats=16,32")
        self.assertEqual(digest(source), before, "the source must stay as it was")
        self.assertEqual(code, wanted)
        if code == 0:
            self.assertEqual(icon_sizes(output), [16, 32])
        else:
            self.assertFalse(os.path.exists(output), "a refused job writes nothing")

    def test_malformed_icon_files_are_refused(self):
        seeds = fuzz.seeds()
        one = fuzz.ico([(32, 32, fuzz.bitmap_entry(32, 32))])
        cases = [
            ("count past the end", fuzz.ico_count_past_end(seeds["bitmaps.ico"])),
            ("offset past the end", fuzz.ico_offset_past_end(one)),
            ("size past the end", fuzz.ico_size_past_end(one)),
            ("width 2^31", fuzz.ico_bitmap_width(0x80000000)(one)),
            ("width 2^31 - 1", fuzz.ico_bitmap_width(0x7FFFFFFF)(one)),
            ("height -2^31", fuzz.ico_bitmap_height(-0x80000000)(one)),
            ("height 2^31 - 2", fuzz.ico_bitmap_height(0x7FFFFFFE)(one)),
            # One bad entry among good ones spoils the directory: the file is refused, not read in part.
            ("one entry of five past the end", fuzz.ico_offset_past_end(seeds["bitmaps.ico"])),
        ]
        for name, data in cases:
            for command in ("/convert", "/extract"):
                with self.subTest(name, command=command):
                    self.check_single("bad.ico", data, command, 1)

    def test_corrupt_resource_trees_are_refused_and_sound_groups_still_extract(self):
        pe = self.iconlib()
        ne = fuzz.ne_library()
        # (name, file, extension, group index, exit code): a fault in the tree refuses every group, a fault in
        # a group refuses that group only.
        cases = [
            ("PE: group data outside the section", fuzz.pe_group_data_outside_section(pe), "dll", 0, 1),
            ("PE: the other groups of it", fuzz.pe_group_data_outside_section(pe), "dll", 1, 0),
            ("PE: directory pointing into itself", fuzz.pe_directory_into_itself(pe), "dll", 0, 1),
            ("PE: entry outside the section", fuzz.pe_entry_outside_section(pe), "dll", 1, 1),
            ("PE: group count larger than the group", fuzz.pe_group_count_larger(pe), "dll", 0, 1),
            ("PE: the other groups of it", fuzz.pe_group_count_larger(pe), "dll", 2, 0),
            ("NE: group count larger than the group", fuzz.ne_group_count_larger(ne), "icl", 0, 1),
            ("NE: the other group of it", fuzz.ne_group_count_larger(ne), "icl", 1, 0),
            ("NE: icon block past the end", fuzz.ne_block_past_end(ne), "icl", 0, 1),
            ("NE: the other group of it", fuzz.ne_block_past_end(ne), "icl", 1, 0),
            ("NE: resource table past the end", fuzz.ne_table_past_end(ne), "icl", 1, 1),
        ]
        for name, data, extension, index, wanted in cases:
            with self.subTest(name, index=index):
                self.check_single("bad." + extension, data, "/extract", wanted, index)

    def test_gif_without_any_colour_table_is_no_picture(self):
        # Not a picture, so the icon the shell shows for the file, or nothing; never a crash.
        source = self.write("bare.gif", fuzz.gif_without_colour_table())
        output = self.path("bare.ico")
        code = self.run_clean("/convert", gw.win_path(source), gw.win_path(output), "/formats=16")
        if code == 0:
            self.assertEqual(icon_sizes(output), [16])

    def test_multi_page_tiff_uses_its_first_page_and_a_looping_chain_ends(self):
        colours = [(200, 30, 30), (30, 200, 30), (30, 30, 200)]
        sizes = [(16, 16), (32, 24), (8, 8)]
        plain = fuzz.tiff_pages(sizes, colours)
        for name, data in [("pages", plain), ("loop", fuzz.tiff_looping_chain(plain))]:
            with self.subTest(name):
                source = self.write(name + ".tif", data)
                output = self.path(name + ".ico")
                # 32 would be best served by the second page, were pages alternatives as an icon's sizes are.
                self.assertEqual(self.run_clean("/convert", gw.win_path(source), gw.win_path(output),
                                                "/formats=32", "/stretch"), 0)
                with Image.open(output) as icon:
                    pixel = icon.convert("RGBA").getpixel((16, 16))
                self.assertEqual(pixel[:3], colours[0])


class BatchExtractTest(HostileRun):
    def test_batch_extraction_skips_refused_groups_and_refuses_broken_trees(self):
        pe = self.iconlib()
        # (name, file, exit code, files written)
        cases = [
            ("sound", pe, 1, {"lib.dll_Icon_0.ico", "lib.dll_Icon_1.ico", "lib.dll_Icon_2.ico"}),
            ("group count larger", fuzz.pe_group_count_larger(pe), 1, {"lib.dll_Icon_1.ico", "lib.dll_Icon_2.ico"}),
            ("group data outside", fuzz.pe_group_data_outside_section(pe), 1,
             {"lib.dll_Icon_1.ico", "lib.dll_Icon_2.ico"}),
            ("directory into itself", fuzz.pe_directory_into_itself(pe), 0, set()),
            ("entry outside the section", fuzz.pe_entry_outside_section(pe), 0, set()),
        ]
        for name, data, wanted, files in cases:
            with self.subTest(name):
                folder = self.path(name)
                os.mkdir(folder)
                source = self.write("lib.dll", data)
                before = digest(source)
                code = self.run_clean("/batchextract", gw.win_path(source), gw.win_path(folder), "/formats=16")
                self.assertEqual(code, wanted)
                self.assertEqual(set(os.listdir(folder)), files)
                for written in files:
                    self.assertEqual(icon_sizes(os.path.join(folder, written)), [16])
                self.assertEqual(digest(source), before)


if __name__ == "__main__":
    unittest.main()

"""The built program file and its start-up, checked from outside with the toolchain's own readers."""
import os
import re
import shutil
import struct
import io
import subprocess
import tempfile
import unittest

from PIL import Image

import gw

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
               "ole32.dll", "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "gdiplus.dll", "psapi.dll",
               "uxtheme.dll", "msvcrt.dll", "msimg32.dll", "wininet.dll", "version.dll"}


# What each build folder's program must be: file(1)'s description and the toolchain's reader.
PROGRAMS = {
    "x86": ("PE32 executable (GUI) Intel 80386", "i686-w64-mingw32-objdump"),
    "x64": ("PE32+ executable (GUI) x86-64", "x86_64-w64-mingw32-objdump"),
}


class ProgramFileTest(unittest.TestCase):
    def test_is_a_gui_program_for_its_processor(self):
        description, objdump = PROGRAMS[gw.ARCH]
        self.assertIn(description, gw.tool("file", gw.EXE).stdout)
        # Large-address-aware (0x20 of the file header's characteristics): the 32-bit program gets 4 GB under
        # 64-bit Windows; the 64-bit linker sets it by itself.
        flags = re.search(r"^Characteristics 0x([0-9a-f]+)", gw.tool(objdump, "-f", "-p", gw.EXE).stdout, re.M)
        self.assertTrue(flags)
        self.assertTrue(int(flags.group(1), 16) & 0x20)

    def test_imports_only_windows_system_libraries(self):
        out = gw.tool(PROGRAMS[gw.ARCH][1], "-p", gw.EXE).stdout
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", out)}
        self.assertTrue(dlls, "no import table found")
        self.assertLessEqual(dlls, SYSTEM_DLLS, "unexpected imports: %s" % (dlls - SYSTEM_DLLS))

    def test_carries_version_and_icons(self):
        out = gw.tool("wrestool", "-l", gw.EXE).stdout
        self.assertRegex(out, r"--type=14 --name=107")
        self.assertRegex(out, r"--type=16 ")
        self.assertRegex(out, r"--type=24 ")
        version = subprocess.run(["wrestool", "-x", "--raw", "--type=16", gw.EXE], capture_output=True).stdout
        self.assertIn("3.4.2.0".encode("utf-16-le"), version)
        fixed = version.find(struct.pack("<I", 0xFEEF04BD))
        self.assertGreater(fixed, 0)
        ms, ls = struct.unpack_from("<II", version, fixed + 8)
        self.assertEqual((ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), (3, 4, 2, 0))

    def test_carries_its_artwork_at_the_sizes_it_is_shown(self):
        # Icons: every size the shell and the window ask for, each a 32-bit entry with real transparency.
        for name in (107, 108, 109, 110):
            with self.subTest(icon=name):
                data = subprocess.run(["wrestool", "-x", "--type=14", "--name=%d" % name, gw.EXE],
                                      capture_output=True).stdout
                self.assertTrue(data, "icon group %d missing" % name)
                with tempfile.TemporaryDirectory() as folder:
                    path = os.path.join(folder, "%d.ico" % name)
                    with open(path, "wb") as f:
                        f.write(data)
                    listing = gw.tool("icotool", "-l", path).stdout
                entries = re.findall(r"--width=(\d+) --height=(\d+) --bit-depth=(\d+)", listing)
                self.assertEqual(sorted(int(w) for w, h, _ in entries), [16, 24, 32, 48, 256])
                self.assertTrue(all(w == h and bits == "32" for w, h, bits in entries), entries)
                icon = Image.open(io.BytesIO(data))
                for size in (16, 32, 256):
                    alpha = icon.ico.getimage((size, size)).convert("RGBA").getchannel("A").getextrema()
                    self.assertEqual(alpha, (0, 255), "icon %d at %d" % (name, size))
        # Pictures: PNG at exactly the size they are shown, so nothing is rescaled.
        for name, size in ((200, 24), (201, 20), (202, 20), (203, 20), (204, 20)):
            with self.subTest(image=name):
                data = subprocess.run(["wrestool", "-x", "--raw", "--type=IMAGE", "--name=%d" % name, gw.EXE],
                                      capture_output=True).stdout
                self.assertTrue(data.startswith(b"\x89PNG"), "IMAGE %d missing or not a PNG" % name)
                picture = Image.open(io.BytesIO(data))
                self.assertEqual(picture.size, (size, size))
                self.assertEqual(picture.convert("RGBA").getchannel("A").getextrema(), (0, 255))


class StartupTest(gw.TempDirTest):
    def copy_program(self):
        exe = self.path("Glyphwright.exe")
        shutil.copy(gw.EXE, exe)
        return exe

    def test_post_update_start_removes_the_leftover_program_file(self):
        exe = self.copy_program()
        leftover = exe + ".temp"
        with open(leftover, "wb") as f:
            f.write(b"old program")
        result = gw.run("/PostUpdate", exe=exe)
        self.assertEqual(result.returncode, 0)
        self.assertFalse(os.path.exists(leftover))

    def test_ordinary_start_keeps_an_unrelated_temp_file(self):
        exe = self.copy_program()
        leftover = exe + ".temp"
        with open(leftover, "wb") as f:
            f.write(b"old program")
        self.assertEqual(gw.run(exe=exe).returncode, 0)
        self.assertTrue(os.path.exists(leftover))


if __name__ == "__main__":
    unittest.main()

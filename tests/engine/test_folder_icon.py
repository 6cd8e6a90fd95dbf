"""Folder icons written by the engine under Wine (through a small helper program), read back with independent
readers: the raw bytes of desktop.ini, icotool, ImageMagick's identify and PIL for Folder.ico."""
import os
import re
import struct
import unittest
import warnings

from PIL import Image

import gw

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
HELPER = os.path.join(gw.BUILD_DIR, "gwtest_foldericon.exe")


def folder_icon(*args):
    return gw.run(*args, exe=HELPER).returncode


def dos_attributes(path):
    """The file attributes Wine keeps for a file in its extended attribute, read without Wine."""
    return int(os.getxattr(path, "user.DOSATTRIB").split(b"\0")[0], 16)


def ini_sections(path):
    """Sections of a UTF-16LE desktop.ini with its mark, as (name, [lines]) in file order."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(b"\xff\xfe"):
        raise AssertionError("desktop.ini does not start with FF FE: %r" % data[:4])
    sections = []
    for line in data[2:].decode("utf-16-le").splitlines():
        line = line.strip()
        if not line:
            continue
        if line.startswith("[") and line.endswith("]"):
            sections.append((line[1:-1], []))
        else:
            sections[-1][1].append(line)
    return sections


class FolderIconTest(gw.TempDirTest):
    def setUp(self):
        super().setUp()
        self.folder = self.path("My Pictures, 2024")
        os.mkdir(self.folder)
        # A picture that is not square and has a transparent corner, so that the Center fit shows.
        picture = Image.new("RGBA", (120, 60), (200, 30, 40, 255))
        picture.putpixel((0, 0), (0, 0, 0, 0))
        self.source = self.path("wide.png")
        picture.save(self.source)

    def set_icon(self, source, index=-1):
        return folder_icon("set", gw.win_path(self.folder), gw.win_path(source), str(index))

    def test_folder_gets_a_utf16_desktop_ini_and_a_four_size_icon(self):
        self.assertEqual(0, self.set_icon(self.source))
        icon = os.path.join(self.folder, "Folder.ico")
        expected = "IconFile=" + gw.win_path(self.folder) + "\\Folder.ico"
        self.assertEqual([(".ShellClassInfo", [expected, "IconIndex=0"])],
                         ini_sections(os.path.join(self.folder, "desktop.ini")))

        # Hidden (2), hidden + system (6), and the folder marked system (4).
        self.assertEqual(0x2, dos_attributes(icon))
        self.assertEqual(0x6, dos_attributes(os.path.join(self.folder, "desktop.ini")))
        self.assertEqual(0x4, dos_attributes(self.folder) & 0x7)

        listed = gw.tool("icotool", "-l", icon)
        self.assertEqual(0, listed.returncode, listed.stderr)
        self.assertEqual([16, 32, 48, 256], [int(w) for w in re.findall(r"--width=(\d+)", listed.stdout)])
        identified = gw.tool("identify", "-format", "%w %h\n", icon)
        self.assertEqual(0, identified.returncode, identified.stderr)
        self.assertEqual(["16 16", "32 32", "48 48", "256 256"], identified.stdout.split("\n")[:4])

        with open(icon, "rb") as f:
            data = f.read()
        count = struct.unpack_from("<H", data, 4)[0]
        png = [data[struct.unpack_from("<I", data, 6 + 16 * i + 12)[0]:][:8] == PNG_SIGNATURE for i in range(count)]
        self.assertEqual([False, False, False, True], png)

        with Image.open(icon) as im, warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for size in (16, 32, 48, 256):
                frame = im.ico.getimage((size, size)).convert("RGBA")
                # Centred: the wide picture fills the middle rows, the top and bottom quarters stay transparent.
                self.assertEqual(0, frame.getpixel((size // 2, 0))[3], size)
                r, g, b, a = frame.getpixel((size // 2, size // 2))
                self.assertEqual(255, a, size)
                self.assertGreater(r, 150, size)
                self.assertLess(g, 80, size)

    def test_setting_again_and_resetting(self):
        self.assertEqual(0, self.set_icon(self.source))
        self.assertEqual(0, self.set_icon(self.source))
        self.assertEqual(1, len(ini_sections(os.path.join(self.folder, "desktop.ini"))))
        self.assertEqual(0, folder_icon("reset", gw.win_path(self.folder)))
        self.assertEqual(["Folder.ico"], os.listdir(self.folder))

    def test_failing_source_leaves_files_byte_identical(self):
        self.assertEqual(0, self.set_icon(self.source))
        before = {}
        for name in os.listdir(self.folder):
            with open(os.path.join(self.folder, name), "rb") as f:
                before[name] = f.read()
        text = self.path("notes.txt")
        with open(text, "w") as f:
            f.write("no icons in here")
        self.assertEqual(1, self.set_icon(text, 0))
        after = {}
        for name in os.listdir(self.folder):
            with open(os.path.join(self.folder, name), "rb") as f:
                after[name] = f.read()
        self.assertEqual(before, after)


if __name__ == "__main__":
    unittest.main()

"""The real program never loses a file: existing outputs survive failed writes, a job always reads its source as it
is now and earlier backups move on; resource files are found through any folder name and at any depth. Files are
checked with independent readers (icotool, PIL)."""
import os
import re
import resource
import shutil
import signal
import subprocess
import unittest

from PIL import Image

import gw

SHELL32 = os.path.join(os.environ.get("WINEPREFIX", os.path.join(gw.BUILD_DIR, "wineprefix")), "drive_c", "windows",
                       "system32", "shell32.dll")
RED = (200, 30, 30, 255)
BLUE = (20, 40, 210, 255)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def icotool_sizes(path):
    result = gw.tool("icotool", "-l", path)
    if result.returncode != 0:
        raise AssertionError("icotool rejected %s: %s" % (path, result.stderr))
    return [int(w) for w in re.findall(r"--width=(\d+)", result.stdout)]


def limit_file_size():
    """Every write past 100000 bytes fails, as on a full disk."""
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))


class SafeOutputTest(gw.TempDirTest):
    def run_gw(self, *args, **kwargs):
        result = gw.run(*args, **kwargs)
        self.assertNotIn(b"Unhandled", result.stderr)
        return result.returncode

    def snapshot(self, folder):
        return {name: read(os.path.join(folder, name)) for name in os.listdir(folder)
                if os.path.isfile(os.path.join(folder, name))}

    def test_a_full_disk_leaves_every_existing_output_byte_identical(self):
        source = self.path("noise.png")
        Image.effect_noise((600, 600), 80).convert("RGB").save(source)
        os.mkdir(self.path("in"))
        shutil.copy(source, self.path("in", "noise.png"))
        os.mkdir(self.path("out"))
        for name in ("old.ico", "old.png", os.path.join("out", "noise.ico")):
            with open(self.path(name), "wb") as f:
                f.write(b"earlier output " + name.encode())
        # A first run makes sure a wineserver is up, so that only the program's own process carries the limit.
        self.assertEqual(self.run_gw("/formats=16", "/convert", gw.win_path(source), gw.win_path(self.path("w.ico"))), 0)
        os.remove(self.path("w.ico"))
        before, before_out = self.snapshot(self.tmp), self.snapshot(self.path("out"))

        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.setdefault("WINEDEBUG", "-all")
        cases = [
            (["/nopngc", "/convert", gw.win_path(source), gw.win_path(self.path("old.ico"))], 1),
            (["/formats=1024", "/convert", gw.win_path(source), gw.win_path(self.path("old.png"))], 1),
            (["/nopngc", "/batchconvert", gw.win_path(self.path("in")), gw.win_path(self.path("out"))], 0),
        ]
        for args, code in cases:
            with self.subTest(args=args[:2]):
                result = subprocess.run(["wine", gw.EXE, *args], stdin=subprocess.DEVNULL, capture_output=True,
                                        timeout=120, env=env, preexec_fn=limit_file_size)
                self.assertEqual(result.returncode, code)
                # Old files byte-identical, and neither a temporary file nor a backup left behind.
                self.assertEqual(self.snapshot(self.tmp), before)
                self.assertEqual(self.snapshot(self.path("out")), before_out)

    def test_a_stale_backup_is_never_the_source_and_moves_on(self):
        for kind in ("single", "batch"):
            with self.subTest(kind):
                folder = self.path(kind)
                os.mkdir(folder)
                pic = os.path.join(folder, "pic.png")
                Image.new("RGBA", (40, 40), RED).save(pic)
                Image.new("RGBA", (40, 40), BLUE).save(os.path.join(folder, "pic (backup).png"))
                current, stale = read(pic), read(os.path.join(folder, "pic (backup).png"))
                if kind == "single":
                    self.assertEqual(self.run_gw("/formats=32", "/convert", gw.win_path(pic), gw.win_path(pic)), 0)
                else:
                    self.assertEqual(self.run_gw("/formats=32", "/png", "/batchconvert", gw.win_path(folder),
                                                 gw.win_path(folder)), 1)
                with Image.open(pic) as im:
                    self.assertEqual(im.format, "PNG")
                    self.assertEqual(im.size, (32, 32))
                    self.assertEqual(im.convert("RGBA").getpixel((16, 16)), RED, "made from the picture as it is now")
                contents = [read(os.path.join(folder, n)) for n in os.listdir(folder)]
                self.assertTrue(current in contents and stale in contents, "an earlier file was lost")
                if kind == "single":
                    self.assertTrue(read(os.path.join(folder, "pic (backup).png")) == current, "the current source is the backup")
                    self.assertTrue(read(os.path.join(folder, "pic (backup 2).png")) == stale, "the stale backup moved on")
                    self.assertEqual(len(contents), 3)

    def test_an_output_name_ending_in_dots_or_spaces_names_the_file_without_them(self):
        source = self.path("pic.png")
        Image.new("RGBA", (40, 40), RED).save(source)
        for target, written in (("out.ico.", "out.ico"), ("copy.png. ", "copy.png"), ("plain.", "plain.ico")):
            with self.subTest(target=target):
                self.assertEqual(self.run_gw("/formats=16", "/convert", gw.win_path(source),
                                             gw.win_path(self.tmp) + "\\" + target), 0)
                if written.endswith(".png"):
                    with Image.open(self.path(written)) as im:
                        self.assertEqual((im.format, im.size), ("PNG", (16, 16)))
                else:
                    self.assertEqual(icotool_sizes(self.path(written)), [16])
        self.assertEqual(sorted(os.listdir(self.tmp)), ["copy.png", "out.ico", "pic.png", "plain.ico"])


class ResourcePathTest(gw.TempDirTest):
    def place(self, *parts, library=gw.EXE):
        """A copy of a resource file at the given place: by default the program itself, a small PE with two groups."""
        path = self.path(*parts)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy(library, path)
        return path

    def run_gw(self, *args):
        result = gw.run(*args)
        self.assertNotIn(b"Unhandled", result.stderr)
        return result.returncode

    def extract(self, source, output, *options):
        self.assertEqual(self.run_gw("/formats=16,32", *options, "/extract", source, gw.win_path(output)), 0)
        self.assertEqual(icotool_sizes(output), [16, 32])
        return read(output)

    def test_a_folder_name_with_a_comma_and_digits(self):
        # A library whose groups differ, so that the index shows in the result.
        plain = gw.win_path(self.place("plain", "icons.dll", library=SHELL32))
        year = gw.win_path(self.place("Photos, 2020", "icons.dll", library=SHELL32))
        first = self.extract(plain, self.path("first.ico"))
        third = self.extract(plain + ",3", self.path("third.ico"))
        self.assertTrue(first != third)
        for source, expected in ((year, first), (year + ",3", third)):
            with self.subTest(source=source):
                self.assertTrue(self.extract(source, self.path("x.ico")) == expected)
                self.assertEqual(self.run_gw("/formats=16,32", "/res=" + source, "/icon=" + gw.win_path(self.path("y.ico"))), 0)
                self.assertTrue(read(self.path("y.ico")) == expected)

    def test_resource_files_deeper_than_max_path(self):
        plain = self.place("plain", "icons.dll")
        deep_folder = os.path.join(*(["deep"] + ["a folder of forty characters in its name"] * 7))
        deep = self.place(deep_folder, "icons.dll")
        self.assertGreater(len(gw.win_path(deep)), 300)
        expected = self.extract(gw.win_path(plain) + ",1", self.path("one.ico"))

        # Default output beside the source, at the same depth.
        self.assertEqual(self.run_gw("/formats=16,32", "/extract", gw.win_path(deep) + ",1"), 0)
        self.assertTrue(read(os.path.join(os.path.dirname(deep), "icons.ico")) == expected)

        converted = self.path("converted.ico")
        self.assertEqual(self.run_gw("/formats=16,32", "/convert", gw.win_path(plain), gw.win_path(converted)), 0)
        self.assertEqual(self.run_gw("/formats=16,32", "/convert", gw.win_path(deep), gw.win_path(self.path("c.ico"))), 0)
        self.assertTrue(read(self.path("c.ico")) == read(converted))

        for name, source in (("plain", plain), ("deep", deep)):
            self.assertEqual(self.run_gw("/formats=16,32", "/batchextract", gw.win_path(source),
                                         gw.win_path(self.path(name + ".out"))), 1)
        written = sorted(os.listdir(self.path("plain.out")))
        self.assertGreaterEqual(len(written), 2)
        self.assertEqual(sorted(os.listdir(self.path("deep.out"))), written)
        for name in written:
            self.assertEqual(icotool_sizes(self.path("deep.out", name)), [16, 32])
            self.assertTrue(read(self.path("deep.out", name)) == read(self.path("plain.out", name)), name)


if __name__ == "__main__":
    unittest.main()

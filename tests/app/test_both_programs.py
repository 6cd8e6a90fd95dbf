"""The 32-bit and the 64-bit program, given the same inputs, give the same results: the same exit codes, the same
extracted icons byte for byte, and converted pixels at most one level apart in any channel. BothPrograms: only the
32-bit build folder runs this, on machines that run both programs."""
import os
import unittest

from PIL import Image, ImageDraw

import gw
import icofile

X64_EXE = os.path.join(gw.BUILD_ROOT, "x64", "Glyphwright.exe")
# One library file read by both programs: a Z: path is not redirected for the 32-bit program, as System32 would be.
SHELL32 = os.path.join(gw.BUILD_DIR, "wineprefix", "drive_c", "windows", "system32", "shell32.dll")
ICONLIB = os.path.join(gw.BUILD_DIR, "gwtest_iconlib.exe")


def pictures(folder):
    """Pictures that take every decoding path: PNG with alpha (GDI+), JPEG (libjpeg-turbo), BMP and GIF; large ones
    go through the reductions, small ones are enlarged."""
    made = {}
    gradient = Image.new("RGBA", (700, 500))
    draw = ImageDraw.Draw(gradient)
    for y in range(500):
        draw.line([(0, y), (699, y)], fill=(y % 256, (3 * y) % 256, 255 - y % 256, 40 + y * 215 // 499))
    draw.ellipse((100, 50, 600, 450), outline=(10, 200, 30, 255), width=9)
    made["alpha.png"] = gradient
    photo = Image.radial_gradient("L").resize((1600, 1200)).convert("RGB")
    photo.paste((220, 40, 40), (0, 0, 400, 1200))
    made["photo.jpg"] = photo
    made["small.bmp"] = Image.new("RGB", (24, 17), (30, 120, 220))
    made["palette.gif"] = gradient.convert("RGB").resize((90, 130)).convert("P")
    paths = []
    for name, picture in made.items():
        path = os.path.join(folder, name)
        picture.save(path, quality=92) if name.endswith(".jpg") else picture.save(path)
        paths.append(path)
    return paths


@unittest.skipUnless(os.path.exists(X64_EXE), "the 64-bit program is not built (GW_ARCH narrowed the build)")
class BothProgramsTest(gw.TempDirTest):
    differing = 0
    compared = 0

    def run_both(self, name, *args, outputs=()):
        """Runs both programs with the same arguments, where {out} stands for each program's own output folder;
        checks their exit codes agree and returns the two output folders."""
        folders = []
        codes = []
        for arch, exe in (("x86", gw.EXE), ("x64", X64_EXE)):
            folder = self.path(arch, name)
            os.makedirs(folder, exist_ok=True)
            given = [a.replace("{out}", gw.win_path(folder)) for a in args]
            codes.append(gw.run(*given, exe=exe, timeout=300).returncode)
            folders.append(folder)
        self.assertEqual(codes[0], codes[1], "exit codes of %s differ" % name)
        return folders, codes[0]

    def assert_pixels_close(self, first, second, exact=False):
        a, b = icofile.entries(first), icofile.entries(second)
        self.assertEqual([(size, png) for size, png, _ in a], [(size, png) for size, png, _ in b])
        for (size, _, one), (_, _, other) in zip(a, b):
            values = list(zip(one.tobytes(), other.tobytes()))
            worst = max(abs(x - y) for x, y in values)
            self.assertLessEqual(worst, 0 if exact else 1, "%s, %d px" % (os.path.basename(first), size))
            BothProgramsTest.differing += sum(x != y for x, y in values)
            BothProgramsTest.compared += len(values)

    def test_conversions_agree_within_one_level(self):
        sources = pictures(self.tmp)
        for options in ((), ("/nopngc", "/crop"), ("/formats=20,64,128,1024", "/stretch")):
            for source in sources:
                name = os.path.basename(source)
                with self.subTest(source=name, options=options):
                    folders, code = self.run_both(name, *options, "/convert", gw.win_path(source),
                                                  "{out}\\" + name + ".ico")
                    self.assertEqual(code, 0)
                    self.assert_pixels_close(*(os.path.join(f, name + ".ico") for f in folders))
        # The same PNG twice through /png: one picture of the last size.
        folders, code = self.run_both("png", "/formats=48", "/png", "/convert", gw.win_path(sources[0]), "{out}\\a.png")
        self.assertEqual(code, 0)
        one, other = (Image.open(os.path.join(f, "a.png")).convert("RGBA") for f in folders)
        self.assertLessEqual(max(abs(x - y) for x, y in zip(one.tobytes(), other.tobytes())), 1)
        print("\nconverted channel values compared: %d, differing by one: %d"
              % (BothProgramsTest.compared, BothProgramsTest.differing))

    def test_batch_conversion_agrees(self):
        source_folder = self.path("pictures")
        os.makedirs(source_folder)
        names = [os.path.basename(p) for p in pictures(source_folder)]
        folders, code = self.run_both("batch", "/batchconvert", gw.win_path(source_folder), "{out}")
        self.assertEqual(code, 1)
        for folder in folders:
            self.assertEqual(sorted(os.listdir(folder)), sorted(os.path.splitext(n)[0] + ".ico" for n in names))
        for name in os.listdir(folders[0]):
            self.assert_pixels_close(os.path.join(folders[0], name), os.path.join(folders[1], name))

    def test_extraction_gives_the_same_files(self):
        for library in (SHELL32, ICONLIB):
            with self.subTest(library=os.path.basename(library)):
                folders, code = self.run_both(os.path.basename(library), "/formats=16,24,32,48,64,256",
                                              "/batchextract", gw.win_path(library), "{out}")
                self.assertEqual(code, 1)
                names = sorted(os.listdir(folders[0]))
                self.assertGreaterEqual(len(names), 3)
                self.assertEqual(names, sorted(os.listdir(folders[1])))
                for name in names:
                    with open(os.path.join(folders[0], name), "rb") as a, open(os.path.join(folders[1], name), "rb") as b:
                        self.assertTrue(a.read() == b.read(), "%s differs" % name)
        folders, code = self.run_both("one", "/extract", gw.win_path(SHELL32) + ",3", "{out}\\three.ico")
        self.assertEqual(code, 0)
        self.assert_pixels_close(*(os.path.join(f, "three.ico") for f in folders), exact=True)

    def test_failures_have_the_same_exit_codes(self):
        damaged = self.path("damaged.jpg")
        with open(damaged, "wb") as f:
            f.write(b"\xff\xd8\xff\xe0" + b"\x00" * 300)
        not_a_folder = self.path("file.txt")
        with open(not_a_folder, "w") as f:
            f.write("text")
        cases = {
            "damaged": (("/convert", gw.win_path(damaged), "{out}\\d.ico"), 1),
            "no sizes": (("/formats=5", "/batchconvert", gw.win_path(self.tmp), "{out}"), 2),
            "no source": (("/batchconvert", gw.win_path(self.path("missing")), "{out}"), 254),
            "bad target": (("/batchextract", gw.win_path(ICONLIB), gw.win_path(not_a_folder) + "\\x"), 253),
            "no group": (("/extract", gw.win_path(ICONLIB) + ",999", "{out}\\n.ico"), 1),
        }
        for name, (args, expected) in cases.items():
            with self.subTest(case=name):
                folders, code = self.run_both(name.replace(" ", "-"), *args)
                self.assertEqual(code, expected)
                for folder in folders:
                    self.assertEqual(os.listdir(folder), [], "a failed job left files")


if __name__ == "__main__":
    unittest.main()

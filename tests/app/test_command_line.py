"""End-to-end checks of single command-line jobs: Glyphwright.exe under Wine, its files read by independent readers
(icotool, ImageMagick's identify, PIL)."""
import os
import re
import resource
import signal
import struct
import subprocess
import unittest
import warnings

from PIL import Image

import gw

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
SYSTEM32 = "C:\\windows\\system32"


def ico_entries(path):
    """(width byte, is PNG, offset, bytes) of every directory entry, as a reader sees them."""
    with open(path, "rb") as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon")
    entries = []
    for i in range(count):
        width, _, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        entries.append((width, data[offset:offset + 8] == PNG_SIGNATURE, offset, size))
    return entries, data


def icotool_sizes(path):
    result = gw.tool("icotool", "-l", path)
    if result.returncode != 0:
        raise AssertionError("icotool rejected %s: %s" % (path, result.stderr))
    return [int(w) for w in re.findall(r"--width=(\d+)", result.stdout)]


def identify_sizes(path):
    result = gw.tool("identify", "-format", "%w\n", path)
    if result.returncode != 0:
        raise AssertionError("identify rejected %s: %s" % (path, result.stderr))
    return [int(line) for line in result.stdout.split()]


def pil_frames(path):
    """Size -> RGBA image of every entry, as PIL decodes them."""
    with Image.open(path) as im:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return {size: im.ico.getimage(size).convert("RGBA") for size in im.ico.sizes()}


class CommandLineTest(gw.TempDirTest):
    def picture(self, name, size, colour):
        path = self.path(name)
        Image.new("RGBA", size, colour).save(path)
        return path

    def run_gw(self, *args):
        result = gw.run(*args)
        self.assertNotIn(b"Unhandled exception", result.stderr)
        return result

    def convert(self, *args):
        return self.run_gw(*args).returncode

    def assert_readers_agree(self, path, sizes):
        """icotool, identify and PIL accept the file and report the listed sizes (all at most 256)."""
        self.assertEqual(icotool_sizes(path), sizes)
        self.assertEqual(identify_sizes(path), sizes)
        self.assertEqual(sorted(s for s, _ in pil_frames(path)), sorted(set(sizes)))

    def test_every_size_and_flag_gives_a_file_every_reader_accepts(self):
        source = self.picture("wide.png", (300, 200), (30, 140, 220, 255))
        size_lists = ["16", "16,32,48,256", "24,64,72,96,128", "20,256,16", "48,48"]
        options = [[], ["/nopngc"], ["/crop"], ["-stretch"], ["/crop", "/nopngc"]]
        for i, sizes in enumerate(size_lists):
            for j, extra in enumerate(options):
                with self.subTest(sizes=sizes, options=extra):
                    out = self.path("grid-%d-%d.ico" % (i, j))
                    rc = self.convert("/formats=" + sizes, *extra, "/convert", gw.win_path(source), gw.win_path(out))
                    self.assertEqual(rc, 0)
                    # Each size once, in the order first given.
                    expected = list(dict.fromkeys(int(s) for s in sizes.split(",")))
                    self.assert_readers_agree(out, expected)
                    entries, _ = ico_entries(out)
                    pngc = "/nopngc" not in extra
                    self.assertEqual([png for _, png, _, _ in entries], [pngc and s >= 64 for s in expected])

    def test_png_option_writes_one_picture_of_the_last_size(self):
        source = self.picture("pic.png", (64, 64), (200, 10, 10, 255))
        for sizes, last in (("16,48,256", 256), ("256,32", 32), ("1024", 1024)):
            with self.subTest(sizes=sizes):
                out = self.path("out-%d.png" % last)
                self.assertEqual(self.convert("/formats=" + sizes, "/convert", gw.win_path(source), gw.win_path(out)), 0)
                self.assertEqual(identify_sizes(out), [last])
                with Image.open(out) as im:
                    self.assertEqual(im.size, (last, last))
                    self.assertEqual(im.format, "PNG")

    def test_flat_colours_survive_every_size(self):
        cases = [("opaque", (18, 52, 86, 255), 0), ("half", (200, 100, 50, 128), 1)]
        for name, colour, tolerance in cases:
            source = self.picture(name + ".png", (256, 256), colour)
            for extra in ([], ["/nopngc"]):
                with self.subTest(picture=name, options=extra):
                    out = self.path(name + ".ico")
                    rc = self.convert("/formats=16,24,32,48,64,256", *extra, "/convert", gw.win_path(source),
                                      gw.win_path(out))
                    self.assertEqual(rc, 0)
                    for size, frame in pil_frames(out).items():
                        for point in ((0, 0), (size[0] // 2, size[1] // 3), (size[0] - 1, size[1] - 1)):
                            pixel = frame.getpixel(point)
                            for got, want in zip(pixel, colour):
                                self.assertLessEqual(abs(got - want), tolerance,
                                                     "size %s at %s: %s" % (size, point, pixel))

    def test_edge_cases_of_the_command_line(self):
        source = self.picture("pic.png", (40, 40), (1, 2, 3, 255))
        pic = gw.win_path(source)
        folder = gw.win_path(self.tmp)
        cases = [
            # (arguments, exit code, file expected afterwards or None, its sizes)
            (["/convert", pic], 0, "pic.ico", [16, 32, 48, 256]),
            (["-CONVERT", pic, "-NOPNGC"], 0, "pic.ico", [16, 32, 48, 256]),
            (["/formats=16,20,32,2048,0", "/convert", pic, folder + "\\a.ico"], 0, "a.ico", [16, 20, 32]),
            (["/PostUpdate", "/convert", pic, folder + "\\b.ico"], 0, "b.ico", [16, 32, 48, 256]),
            (['/img="%s"' % pic, '/icon="%s\\c.ico"' % folder, "/formats=48"], 0, "c.ico", [48]),
            (["/formats=8,4000", "/convert", pic, folder + "\\d.ico"], 1, None, None),
            (["/formats=", "/convert", pic, folder + "\\e.ico"], 1, None, None),
            (["/convert", folder + "\\missing.png", folder + "\\f.ico"], 1, None, None),
        ]
        for args, code, name, sizes in cases:
            with self.subTest(args=args):
                for leftover in os.listdir(self.tmp):
                    if leftover.endswith(".ico"):
                        os.remove(self.path(leftover))
                self.assertEqual(self.convert(*args), code)
                icons = sorted(n for n in os.listdir(self.tmp) if n.endswith(".ico"))
                self.assertEqual(icons, [name] if name else [])
                if name:
                    self.assertEqual(icotool_sizes(self.path(name)), sizes)

    def test_batch_and_invalid_command_lines(self):
        source = self.picture("pic.png", (40, 40), (1, 2, 3, 255))
        pic = gw.win_path(source)
        out = gw.win_path(self.path("out"))
        cases = [
            (["/batchconvert", pic, out], 254),  # a file is no picture folder
            (["/batchconvert", gw.win_path(self.tmp), "Q:\\no\\such\\drive"], 253),
            (["/formats=8", "/batchconvert", gw.win_path(self.tmp), out], 2),
            (["-BATCHEXTRACT", pic], 0),  # skipped: an invalid command line, then the usual start
            (["/nosuchoption", "/crop"], 0),
        ]
        for args, code in cases:
            with self.subTest(args=args):
                self.assertEqual(self.convert(*args), code)
                self.assertFalse(os.path.exists(self.path("pic.ico")))

    def test_devices_and_odd_requests_fail_at_once(self):
        source = self.picture("pic.png", (40, 40), (1, 2, 3, 255))
        pic = gw.win_path(source)
        out = gw.win_path(self.path("out.ico"))
        batch = self.path("batch")
        cases = [
            # A device answers to a file name, but a read waits on it (a serial port for over a minute).
            ["/convert", "COM1", out],
            ["/convert", "\\\\.\\COM1", out],
            ["/convert", "CON", out],
            ["/convert", "NUL", out],
            ["/convert", "CONIN$", out],
            ["/extract", "COM1,0", out],
            ["/img=\\\\.\\NUL", "/icon=" + out],
            # No source at all, and a wildcard that names no one file.
            ["/convert", "", out],
            ["/img=", "/icon=" + out],
            ["/convert", gw.win_path(self.path("*.png")), out],
            # An index past 32 bits names no group (2^32 + 1 would otherwise be group 1).
            ["/extract", SYSTEM32 + "\\shell32.dll,4294967297", out],
            # A job does not run on an argument it doesn't understand.
            ["/convert", pic, out, "/bogus"],
            ["/convert", pic, out, gw.win_path(self.path("third.ico"))],
        ]
        for args in cases:
            with self.subTest(args=args):
                result = self.run_gw(*args)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(sorted(os.listdir(self.tmp)), ["pic.png"])
        with self.subTest("a batch with an unknown option"):
            self.assertEqual(self.convert("/batchconvert", gw.win_path(self.tmp), gw.win_path(batch), "/bogus"), 252)
            self.assertFalse(os.path.exists(batch))
        with self.subTest("a readable file that is no picture still gives the shell's icon"):
            text = self.path("notes.txt")
            with open(text, "w") as f:
                f.write("notes")
            self.assertEqual(self.convert("/convert", gw.win_path(text), out), 0)

    def test_a_size_given_twice_is_written_once(self):
        source = self.picture("pic.png", (40, 40), (1, 2, 3, 255))
        out = self.path("out.ico")
        self.assertEqual(self.convert("/formats=48,16,48,16,16,48", "/nopngc", "/convert", gw.win_path(source),
                                      gw.win_path(out)), 0)
        self.assertEqual(icotool_sizes(out), [48, 16])

    def test_a_lone_path_ends_without_a_job(self):
        spaced = self.path("with space")
        os.mkdir(spaced)
        exe = os.path.join(spaced, "x.exe")
        with open(exe, "wb") as f:
            f.write(b"MZ")
        for args in ([gw.win_path(exe)], [gw.win_path(spaced)], ["/PostUpdate"]):
            with self.subTest(args=args):
                self.assertEqual(self.convert(*args), 0)
                self.assertEqual(sorted(os.listdir(self.tmp)), ["with space"])

    def test_broken_pictures_neither_crash_nor_leave_partial_files(self):
        big = Image.effect_noise((400, 300), 60).convert("RGB")
        big.save(self.path("full.png"))
        big.save(self.path("full.jpg"), quality=90)
        pictures = {}
        for name in ("full.png", "full.jpg"):
            with open(self.path(name), "rb") as f:
                pictures[name] = f.read()
        broken = {
            "cut.png": pictures["full.png"][:len(pictures["full.png"]) // 2],
            "cut.jpg": pictures["full.jpg"][:len(pictures["full.jpg"]) // 2],
            "empty.png": b"",
            "text.png": b"this is not a picture\r\n" * 20,
        }
        for name, content in broken.items():
            with self.subTest(picture=name):
                with open(self.path(name), "wb") as f:
                    f.write(content)
                out = self.path(name + ".ico")
                rc = self.convert("/convert", gw.win_path(self.path(name)), gw.win_path(out))
                self.assertIn(rc, (0, 1))
                if rc == 1:
                    self.assertFalse(os.path.exists(out))
                else:
                    # A picture decoded as far as it goes, or the shell's icon for the file type: complete either way.
                    self.assertEqual(icotool_sizes(out), [16, 32, 48, 256])

    def test_extract_and_res_write_the_same_file(self):
        library = SYSTEM32 + "\\shell32.dll"
        first = self.path("extract.ico")
        second = self.path("res.ico")
        self.assertEqual(self.convert("/extract", library + ",3", gw.win_path(first)), 0)
        self.assertEqual(self.convert("/res=%s,3" % library, "/icon=" + gw.win_path(second)), 0)
        with open(first, "rb") as a, open(second, "rb") as b:
            self.assertEqual(a.read(), b.read())
        self.assert_readers_agree(first, [16, 32, 48, 256])
        self.assertEqual(self.convert("/extract", '"%s,100000"' % library, gw.win_path(self.path("past.ico"))), 1)
        self.assertFalse(os.path.exists(self.path("past.ico")))

    def test_a_full_disk_leaves_no_partial_file(self):
        # A file-size limit makes every write past it fail as on a full disk. A first run makes sure a
        # wineserver is up, so that only the program's own process carries the limit.
        source = self.path("noise.png")
        Image.effect_noise((600, 600), 80).convert("RGB").save(source)
        self.assertEqual(self.convert("/formats=16", "/convert", gw.win_path(source), gw.win_path(self.path("w.ico"))),
                         0)

        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))

        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.setdefault("WINEDEBUG", "-all")
        for args, name in ((["/nopngc"], "full.ico"), (["/formats=1024"], "full.png")):
            with self.subTest(output=name):
                out = self.path(name)
                result = subprocess.run(["wine", gw.EXE, *args, "/convert", gw.win_path(source), gw.win_path(out)],
                                        stdin=subprocess.DEVNULL, capture_output=True, timeout=120, env=env,
                                        preexec_fn=limit_file_size)
                self.assertEqual(result.returncode, 1)
                self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()

"""The batch commands of the real program, run as a script would run them, with their exit codes and outputs
checked by independent readers (icotool, wrestool, ImageMagick)."""
import os
import re
import subprocess
import unittest

import gw

HELPER = os.path.join(gw.BUILD_DIR, "gwtest_titledwindow.exe")
PREFIX_SHELL32 = os.path.join(os.environ.get("WINEPREFIX", os.path.join(gw.BUILD_DIR, "wineprefix")),
                              "drive_c", "windows", "system32", "shell32.dll")


def make_picture(path, colour="red", size="48x48"):
    result = gw.tool("convert", "-size", size, "xc:" + colour, path)
    if result.returncode != 0:
        raise unittest.SkipTest("ImageMagick can't write %s: %s" % (path, result.stderr))


def group_frame_32(library, name, folder):
    """The first 32 x 32 image of one icon group of a library, extracted by wrestool, as "file.ico[n]"."""
    path = os.path.join(folder, "group-%s.ico" % name)
    gw.tool("wrestool", "-x", "--type=14", "--name=" + name, "-o", path, library)
    sizes = gw.tool("identify", "-format", "%wx%h\n", path).stdout.split()
    return "%s[%d]" % (path, sizes.index("32x32"))


def difference(a, b):
    """ImageMagick's normalised root-mean-square difference of two images (0 = equal)."""
    out = gw.tool("compare", "-metric", "RMSE", a, b, "null:").stderr
    return float(re.search(r"\(([\d.e-]+)\)", out).group(1))


def icon_entries(path):
    """The entries icotool lists for a file; empty when it is no valid icon."""
    result = gw.tool("icotool", "-l", path)
    if result.returncode != 0:
        return []
    return re.findall(r"--width=(\d+)", result.stdout)


class BatchCheckTest(gw.TempDirTest):
    def test_invalid_source_and_target_exit_codes(self):
        picture = self.path("file.png")
        make_picture(picture)
        folder = self.path("pictures")
        os.mkdir(folder)
        cases = [
            ("a file as picture folder", ["/batchconvert", gw.win_path(picture), gw.win_path(self.path("out1"))], 254),
            ("a missing picture folder", ["-batchconvert", gw.win_path(self.path("nowhere")),
                                          gw.win_path(self.path("out2"))], 254),
            ("a target below a file", ["/batchconvert", gw.win_path(folder), gw.win_path(picture) + "\\sub"], 253),
            ("no size in a batch", ["/batchconvert", gw.win_path(folder), gw.win_path(self.path("out3")),
                                    "/formats=8,4000"], 2),
            # A resource file that is missing, a folder or a device is no source, and a device is no target folder.
            ("a missing resource file", ["/batchextract", gw.win_path(self.path("missing.dll")),
                                         gw.win_path(self.path("out4"))], 254),
            ("a folder as resource file", ["/batchextract", gw.win_path(folder), gw.win_path(self.path("out5"))], 254),
            ("a serial port as resource file", ["/batchextract", "COM1", gw.win_path(self.path("out6"))], 254),
            ("the null device as resource file", ["/batchextract", "\\\\.\\NUL", gw.win_path(self.path("out7"))],
             254),
            ("the null device as target", ["/batchextract", gw.win_path(PREFIX_SHELL32), "NUL"], 253),
            ("the console as target", ["/batchconvert", gw.win_path(folder), "CON"], 253),
        ]
        for name, args, code in cases:
            with self.subTest(name):
                self.assertEqual(gw.run(*args, timeout=60).returncode, code)
        self.assertEqual(os.listdir(folder), [])
        # Nothing is created for a batch that is refused.
        self.assertEqual(sorted(os.listdir(self.tmp)), ["file.png", "pictures"])

    def test_batch_extract_with_one_path_is_skipped(self):
        library = self.path("x.dll")
        with open(PREFIX_SHELL32, "rb") as src, open(library, "wb") as dst:
            dst.write(src.read())
        # The option is skipped, so the command line holds nothing to do: the invalid-command-line route, which
        # goes on to the main window and never to a batch result.
        result = gw.run("-BATCHEXTRACT", gw.win_path(library))
        self.assertNotIn(result.returncode, (1, 2, 253, 254))
        self.assertEqual(os.listdir(self.tmp), ["x.dll"])

    def test_upper_case_option_with_both_paths_runs_the_batch(self):
        library = self.path("x.dll")
        with open(PREFIX_SHELL32, "rb") as src, open(library, "wb") as dst:
            dst.write(src.read())
        result = gw.run("-BATCHEXTRACT", gw.win_path(library), gw.win_path(self.path("out")), "/formats=16",
                        timeout=600)
        self.assertEqual(result.returncode, 1)
        self.assertIn("x.dll_Icon_0.ico", os.listdir(self.path("out")))


class BatchConvertTest(gw.TempDirTest):
    def test_converts_plain_pictures_only(self):
        source, target = self.path("in"), self.path("out", "deeper")
        os.mkdir(source)
        make_picture(os.path.join(source, "photo.JPG"), "red")
        make_picture(os.path.join(source, "scan.TIFF"), "blue")
        with open(os.path.join(source, "readme"), "w") as f:
            f.write("text")
        make_picture(os.path.join(source, "movie.mp4.png"), "green")
        os.rename(os.path.join(source, "movie.mp4.png"), os.path.join(source, "movie.mp4"))
        os.mkdir(os.path.join(source, "x.png"))

        result = gw.run("/batchconvert", gw.win_path(source), gw.win_path(target), "/formats=16,32,48")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(sorted(os.listdir(target)), ["photo.ico", "scan.ico"])
        for name in ("photo.ico", "scan.ico"):
            self.assertEqual(icon_entries(os.path.join(target, name)), ["16", "32", "48"], name)

    def test_relative_folders_are_taken_from_the_working_folder(self):
        os.mkdir(self.path("in"))
        make_picture(self.path("in", "photo.png"))
        result = gw.run("/batchconvert", "in", "out\\deeper\\still", "/formats=16", cwd=self.tmp)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(icon_entries(self.path("out", "deeper", "still", "photo.ico")), ["16"])

    def test_png_output_and_environment_expansion(self):
        source = self.path("in")
        os.mkdir(source)
        make_picture(os.path.join(source, "one.gif"))
        env = {"GW_BATCH_OUT": gw.win_path(self.path("expanded"))}
        result = gw.run("/batchconvert", gw.win_path(source), "%GW_BATCH_OUT%", "/png", "/formats=24", env=env)
        self.assertEqual(result.returncode, 1)
        out = os.path.join(self.path("expanded"), "one.png")
        self.assertEqual(gw.tool("identify", "-format", "%m %wx%h", out).stdout, "PNG 24x24")

    def test_empty_folder_gives_zero(self):
        source = self.path("empty")
        os.mkdir(source)
        self.assertEqual(gw.run("/batchconvert", gw.win_path(source), gw.win_path(self.path("out"))).returncode, 0)
        self.assertEqual(os.listdir(self.path("out")), [])


class BatchExtractTest(gw.TempDirTest):
    def test_every_icon_group_of_shell32_in_directory_order(self):
        listing = gw.tool("wrestool", "-l", "--type=14", PREFIX_SHELL32)
        names = re.findall(r"--name='?([^' ]+)'?", listing.stdout)
        groups = len(names)
        self.assertGreater(groups, 0, listing.stderr)
        out = self.path("out")
        # The 32-bit program reaches the 64-bit library through its mapping of System32 to SysNative.
        result = gw.run("/batchextract", "C:\\windows\\system32\\shell32.dll", gw.win_path(out), "/formats=16,32",
                        timeout=600)
        self.assertEqual(result.returncode, 1)
        expected = {"shell32.dll_Icon_%d.ico" % n for n in range(groups)}
        self.assertEqual(set(os.listdir(out)), expected)
        for name in sorted(expected):
            self.assertEqual(icon_entries(os.path.join(out, name)), ["16", "32"], name)
        # Directory order: file n looks like group n at least as much as like its neighbours (some neighbouring
        # groups hold the same picture).
        for n in (0, 1, groups // 2, groups - 1):
            ours = os.path.join(out, "shell32.dll_Icon_%d.ico[1]" % n)
            own = difference(ours, group_frame_32(PREFIX_SHELL32, names[n], self.tmp))
            for other in {max(n - 1, 0), min(n + 1, groups - 1)} - {n}:
                self.assertLessEqual(own, difference(ours, group_frame_32(PREFIX_SHELL32, names[other], self.tmp)),
                                "file %d against groups %d and %d" % (n, n, other))

    def test_a_file_without_icons_gives_zero(self):
        plain = self.path("plain.dll")
        with open(plain, "wb") as f:
            f.write(b"MZ but nothing else")
        result = gw.run("/batchextract", gw.win_path(plain), gw.win_path(self.path("out")))
        self.assertEqual(result.returncode, 0)
        self.assertEqual(os.listdir(self.path("out")), [])


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs a display for windows")
class SaveWindowsTest(gw.TempDirTest):
    def start_window(self, title):
        helper = subprocess.Popen(["wine", HELPER, title], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(helper.stdout.close)
        self.addCleanup(helper.wait, 30)
        self.addCleanup(helper.kill)
        self.assertEqual(helper.stdout.readline().strip(), "ready")

    def test_numbers_windows_and_keeps_files_in_the_target(self):
        self.start_window("..\\..\\escape:here")
        target = self.path("a", "b", "out")
        result = gw.run("/savewindows", gw.win_path(target), "/formats=16,32", display=True)
        # 1 only when a file was written: Wine answers no icon query for another process's windows, so the
        # helper's window may give none.
        self.assertEqual(result.returncode, 1 if os.listdir(target) else 0)
        numbers = []
        for name in os.listdir(target):
            match = re.fullmatch(r"(\d+)-([^\\/:*?\"<>|]*)\.ico", name)
            self.assertIsNotNone(match, name)
            numbers.append(int(match.group(1)))
            self.assertEqual(icon_entries(os.path.join(target, name)), ["16", "32"], name)
        self.assertEqual(len(numbers), len(set(numbers)))
        # Nothing beside the target: a title can't lead out of it.
        self.assertEqual(os.listdir(self.tmp), ["a"])
        self.assertEqual(os.listdir(self.path("a")), ["b"])
        self.assertEqual(os.listdir(self.path("a", "b")), ["out"])


if __name__ == "__main__":
    unittest.main()

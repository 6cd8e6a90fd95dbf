"""Check and radio images on enlarged displays: the toolkit's own on-screen check (PaintingTest's PairImagesOnScreen
case) run at 144 and 192 pixels per inch, set in the test prefix's registry as a person sets the display's scaling
and put back afterwards. RequiresDisplay; RunsAlone, since every program started meanwhile sees the setting."""
import os
import re
import subprocess
import unittest

import gw

KEY = r"HKCU\Control Panel\Desktop"
QUIET = dict(os.environ, WINEDEBUG="-all")


def reg(*args):
    return subprocess.run(["wine", "reg", *args], capture_output=True, text=True, env=QUIET, timeout=60)


def set_dpi(value):
    if value:
        reg("add", KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(value), "/f")
    else:
        reg("delete", KEY, "/v", "LogPixels", "/f")


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs the X display of the test run")
class PairImagesOnEnlargedDisplaysTest(unittest.TestCase):
    def test_pair_images_are_drawn_at_the_size_they_are_shown(self):
        unit = os.path.join(gw.BUILD_DIR, "PaintingTest.exe")
        self.assertTrue(os.path.exists(unit), "PaintingTest.exe is built beside the program")
        old = re.search(r"LogPixels\s+REG_DWORD\s+0x([0-9a-fA-F]+)", reg("query", KEY, "/v", "LogPixels").stdout)
        self.addCleanup(set_dpi, int(old.group(1), 16) if old else None)
        for dpi in (144, 192):
            with self.subTest(dpi=dpi):
                set_dpi(dpi)
                run = subprocess.run(["wine", unit, "--gtest_filter=PairImagesOnScreen.*"], capture_output=True,
                                     text=True, env=QUIET, cwd=gw.BUILD_DIR, timeout=300)
                self.assertEqual(run.returncode, 0, run.stdout[-3000:])
                self.assertIn("[  PASSED  ] 1 test", run.stdout)


if __name__ == "__main__":
    unittest.main()

"""The real program's main window, started as a person starts it and clicked with xdotool; what it writes is read
back with icotool and PIL. Needs the X display of the test run."""
import os
import re
import shutil
import subprocess
import time
import unittest

from PIL import Image

import gw

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "scripts", "glyphwright")
ARTEFACTS = os.path.join(gw.BUILD_DIR, "test-artifacts")
# Window coordinates of the controls the test clicks (page controls lie in the tab's client area).
CLOSE_BUTTON = (630, 16)
CREATE_BUTTON = (568, 500)


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True, timeout=60)


def find_main_window(timeout=60):
    """The X window of the visible main window and its position and size."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = xdotool("search", "--onlyvisible", "--name", "^Glyphwright$").stdout.split()
        if found:
            geometry = xdotool("getwindowgeometry", "--shell", found[0]).stdout
            values = dict(re.findall(r"(\w+)=(\d+)", geometry))
            return found[0], int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])
        time.sleep(0.3)
    raise AssertionError("the main window did not appear")


def click(x, y):
    xdotool("mousemove", x, y)
    time.sleep(0.2)
    xdotool("click", "1")


def screenshot(path):
    subprocess.run(["import", "-window", "root", path], check=True, timeout=60)
    return Image.open(path).convert("RGB")


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs the X display of the test run")
class MainWindowStartTest(gw.TempDirTest):
    def start(self, command, **kwargs):
        env = dict(os.environ, WINEDEBUG="-all", GW_REBUILD="0", BUILD_DIR=gw.BUILD_DIR)
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, env=env, **kwargs)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def test_the_script_without_arguments_opens_the_window_and_its_close_button_ends_it(self):
        process = self.start([SCRIPT])
        _, left, top, width, height = find_main_window()
        self.assertEqual((width, height), (650, 530))
        time.sleep(1.5)
        os.makedirs(ARTEFACTS, exist_ok=True)
        picture = screenshot(os.path.join(ARTEFACTS, "main-window-started.png"))
        picture.crop((left, top, left + width, top + height)).save(os.path.join(ARTEFACTS, "main-window-program.png"))
        self.assertEqual(picture.getpixel((left + 300, top + 10)), (0, 0, 0), "black header band")
        self.assertEqual(picture.getpixel((left + 300, top + 460)), (254, 254, 254), "page background")
        # The program name is white text on the band.
        name = [picture.getpixel((x, y)) for x in range(left + 70, left + 240) for y in range(top + 5, top + 35)]
        self.assertTrue(any(min(p) > 200 for p in name), "no white program name")
        click(left + CLOSE_BUTTON[0], top + CLOSE_BUTTON[1])
        self.assertEqual(process.wait(timeout=60), 0)

    def test_a_lone_picture_is_preloaded_and_the_create_button_converts_it(self):
        exe = self.path("Glyphwright.exe")
        shutil.copy(gw.EXE, exe)  # the settings file is written beside the program
        source = self.path("photo.png")
        picture = Image.new("RGB", (80, 40), (200, 30, 30))
        picture.paste((30, 30, 200), (40, 0, 80, 40))
        picture.save(source)
        process = self.start(["wine", exe, gw.win_path(source)])
        _, left, top, _, _ = find_main_window()
        time.sleep(1.5)
        click(left + CREATE_BUTTON[0], top + CREATE_BUTTON[1])
        target = self.path("photo.ico")
        deadline = time.monotonic() + 60
        while not os.path.exists(target) and time.monotonic() < deadline:
            time.sleep(0.3)
        time.sleep(1)
        _, left, top, _, _ = find_main_window()
        click(left + CLOSE_BUTTON[0], top + CLOSE_BUTTON[1])
        self.assertEqual(process.wait(timeout=60), 0)

        listing = gw.tool("icotool", "-l", target).stdout
        sizes = sorted(int(w) for w in re.findall(r"--width=(\d+)", listing))
        self.assertEqual(sizes, [16, 32, 48, 256], listing)
        icon = Image.open(target)
        large = icon.ico.getimage((256, 256)).convert("RGBA")
        # Centred: transparent margins above and below the 2:1 picture, its two halves left and right.
        self.assertEqual(large.getpixel((128, 10))[3], 0)
        self.assertEqual(large.getpixel((64, 128)), (200, 30, 30, 255))
        self.assertEqual(large.getpixel((192, 128)), (30, 30, 200, 255))
        with open(self.path("Glyphwright.ini"), "rb") as f:
            settings = f.read()
        self.assertTrue(settings.startswith(b"\xff\xfe"), "a UTF-16 settings file")
        self.assertIn("SingleIconFormats=|16|32|48|256|PNGC|Center|", settings.decode("utf-16"))


if __name__ == "__main__":
    unittest.main()

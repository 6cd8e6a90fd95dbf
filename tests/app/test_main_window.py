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
    def setUp(self):
        super().setUp()
        os.makedirs(ARTEFACTS, exist_ok=True)

    def start(self, command, **kwargs):
        env = dict(os.environ, WINEDEBUG="-all", GW_REBUILD="0", BUILD_DIR=gw.BUILD_ROOT, GW_ARCH=gw.ARCH)
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, env=env, **kwargs)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def test_the_script_without_arguments_opens_the_window_and_its_close_button_ends_it(self):
        process = self.start([SCRIPT])
        _, left, top, width, height = find_main_window()
        self.assertEqual((width, height), (650, 530))
        time.sleep(1.5)
        picture = screenshot(os.path.join(ARTEFACTS, "main-window-started.png"))
        picture.crop((left, top, left + width, top + height)).save(os.path.join(ARTEFACTS, "main-window-program.png"))
        self.assertEqual(picture.getpixel((left + 300, top + 10)), (0, 0, 0), "black header band")
        self.assertEqual(picture.getpixel((left + 300, top + 460)), (254, 254, 254), "page background")
        # The program name is white text on the band.
        name = [picture.getpixel((x, y)) for x in range(left + 70, left + 240) for y in range(top + 5, top + 35)]
        self.assertTrue(any(min(p) > 200 for p in name), "no white program name")
        click(left + CLOSE_BUTTON[0], top + CLOSE_BUTTON[1])
        self.assertEqual(process.wait(timeout=60), 0)

    def test_on_an_enlarged_display_the_window_and_its_text_keep_their_physical_size(self):
        key = r"HKCU\Control Panel\Desktop"
        before = subprocess.run(["wine", "reg", "query", key, "/v", "LogPixels"], capture_output=True, text=True,
                                env=dict(os.environ, WINEDEBUG="-all"), timeout=60).stdout
        old = re.search(r"LogPixels\s+REG_DWORD\s+0x([0-9a-fA-F]+)", before)

        def set_dpi(value):
            args = ["add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(value), "/f"] if value else \
                ["delete", key, "/v", "LogPixels", "/f"]
            subprocess.run(["wine", "reg", *args], capture_output=True, env=dict(os.environ, WINEDEBUG="-all"),
                           timeout=60)

        set_dpi(144)
        self.addCleanup(set_dpi, int(old.group(1), 16) if old else None)
        process = self.start(["wine", gw.EXE])
        _, left, top, width, height = find_main_window()
        self.assertEqual((width, height), (975, 795), "650 x 530 at 144 pixels per inch")
        time.sleep(1.5)
        picture = screenshot(os.path.join(ARTEFACTS, "main-window-144dpi.png"))
        self.assertEqual(picture.getpixel((left + 450, top + 15)), (0, 0, 0), "black header band")
        # The 18 pt name is 1.5 times as tall: its white strokes reach well below 35 px.
        name_rows = [y for y in range(top, top + 90)
                     if any(min(picture.getpixel((x, y))) > 200 for x in range(left + 105, left + 360))]
        self.assertGreater(max(name_rows) - min(name_rows), 24)
        click(left + CLOSE_BUTTON[0] * 3 // 2, top + CLOSE_BUTTON[1] * 3 // 2)
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

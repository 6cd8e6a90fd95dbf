"""The window picker dragged as a person would: xdotool presses the mouse on the picker of a helper program, drags
it onto a window with known title and icons and releases it. Needs the X display of the test run."""
import os
import queue
import subprocess
import threading
import time
import unittest

import gw

HELPER = os.path.join(gw.BUILD_DIR, "gwtest_pickerdrag.exe")
ARTEFACTS = os.path.join(gw.BUILD_DIR, "test-artifacts")
MARKER = "->从应用程序窗口中选择:" + " " * 19
TARGET_TITLE = "拾取目标 Picker target"
SMALL = (255, 0, 0)  # the target's small icon
LARGE = (0, 0, 255)  # the target's large icon
PICKER = (0, 160, 0)  # the picker control's icon


class Helper:
    """The helper program with its output lines collected by a reader thread."""

    def __init__(self):
        env = dict(os.environ, WINEDEBUG="-all")
        self.process = subprocess.Popen(["wine", HELPER], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, env=env)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))

    def wait_for(self, prefix, timeout=60):
        """The first line (from now on) starting with prefix, without it; fails after the timeout."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError("no %r line within %ss; seen %r" % (prefix, timeout, self.seen))
            self.seen.append(line)
            if line.startswith(prefix):
                return line[len(prefix):]

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=30)


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True, timeout=30)


def screenshot(path):
    subprocess.run(["import", "-window", "root", path], check=True, timeout=60)
    from PIL import Image
    return Image.open(path).convert("RGB")


def screen_when(path, ready, tries=40):
    """A screenshot once ready(picture) holds: windows map and paint a little after the program moves on."""
    for _ in range(tries):
        picture = screenshot(path)
        if ready(picture):
            return picture
        time.sleep(0.25)
    return picture


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs the X display of the test run")
class PickerDragTest(unittest.TestCase):
    def test_dragging_the_picker_onto_a_window_picks_it_and_puts_the_cursors_back(self):
        helper = Helper()
        self.addCleanup(helper.close)
        helper.wait_for("owner ")
        px, py = map(int, helper.wait_for("picker ").split())
        target, tx, ty = helper.wait_for("target ").split()
        tx, ty = int(tx), int(ty)
        helper.wait_for("ready")
        os.makedirs(ARTEFACTS, exist_ok=True)
        shot = os.path.join(ARTEFACTS, "picker-catcher.png")
        # Press only once the picker is on the screen.
        screen_when(shot, lambda picture: picture.getpixel((px, py)) == PICKER)

        xdotool("mousemove", px, py)
        xdotool("mousedown", 1)
        try:
            left, top, right, bottom, title = helper.wait_for("catcher ").split(" ", 4)
            left, top, right, bottom = map(int, (left, top, right, bottom))
            # Move in steps as a hand would, ending on the target.
            for i in range(1, 6):
                xdotool("mousemove", px + (tx - px) * i // 5, py + (ty - py) * i // 5)
            while helper.wait_for("shown ") != TARGET_TITLE:
                pass
            picture = screen_when(shot, lambda picture: picture.getpixel((left + 300, top + 146)) == LARGE)
        finally:
            xdotool("mouseup", 1)

        self.assertEqual(title, "窗口捕获器")
        self.assertEqual((right - left, bottom - top), (400, 200))
        # The catcher's icon views show the target's two icons: small at (92, 130) 16 x 16, large at (284, 130).
        self.assertEqual(picture.getpixel((left + 100, top + 138)), SMALL)
        self.assertEqual(picture.getpixel((left + 300, top + 146)), LARGE)
        # Its title field is white with dark text in it.
        field = [picture.getpixel((x, top + 52)) for x in range(left + 24, left + 376)]
        self.assertIn((255, 255, 255), field)
        self.assertTrue(any(max(p) < 100 for p in field), "no text in the title field")
        # White captions on the catcher's dark ground.
        caption = [picture.getpixel((x, y)) for x in range(left + 100, left + 300) for y in range(top + 12, top + 32)]
        self.assertTrue(any(min(p) > 200 for p in caption), "no white caption text")
        self.assertTrue(all(max(picture.getpixel((left + 5, top + 190 + dy))) < 100 for dy in range(3)),
                        "the catcher's ground is not dark")
        # Rounded corners: the owner's white ground shows at the corner pixels, the dark ground just inside.
        for x, y in ((left, top), (right - 1, top), (left, bottom - 1), (right - 1, bottom - 1)):
            self.assertGreater(min(picture.getpixel((x, y))), 200, "corner %d,%d is not cut off" % (x, y))
        self.assertLess(max(picture.getpixel(((left + right) // 2, top))), 100)
        # "小图标:" and "大图标:" differ in their first character: drawn as glyphs they differ, drawn as boxes they
        # would be the same picture.
        small_label = picture.crop((left + 50, top + 90, left + 150, top + 114)).tobytes()
        large_label = picture.crop((left + 250, top + 90, left + 350, top + 114)).tobytes()
        self.assertNotEqual(small_label, large_label, "the Chinese captions are drawn as boxes")

        self.assertEqual(helper.wait_for("result "), "1")
        self.assertEqual(helper.wait_for("field "), MARKER + "0x" + target)
        replaced, reloads, current_back = helper.wait_for("cursors ").split()
        # Every system cursor was replaced once and the system cursors were reloaded once afterwards (under Wine
        # both calls are stubs), and the cursor shown before the drag is current again.
        self.assertEqual((replaced, reloads, current_back), ("14", "1", "1"))
        self.assertEqual(helper.wait_for("picker "), "1")
        self.assertEqual(helper.process.wait(timeout=60), 0)


if __name__ == "__main__":
    unittest.main()

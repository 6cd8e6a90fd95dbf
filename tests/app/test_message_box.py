"""The command line's error messages in the program's own box: seen on an X display, answered with a real click."""
import os
import shutil
import subprocess
import time
import unittest

import gw

BOX_WIDTH, BOX_HEIGHT = 360, 130
OK_CENTRE = (BOX_WIDTH - 135 + 40, BOX_HEIGHT - 35 + 12)  # the one button of a box with one button


def visible_program_windows():
    out = gw.tool("xdotool", "search", "--onlyvisible", "--class", "glyphwright").stdout
    return [line for line in out.split() if line.strip()]


def geometry(window):
    out = gw.tool("xdotool", "getwindowgeometry", "--shell", window).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values.get("WIDTH", 0)), int(values.get("HEIGHT", 0))


def wait_for_window(process, size, rounds=150):
    """The program's visible window of that size, or None when the program ended or no such window came."""
    for _ in range(rounds):
        if process.poll() is not None:
            return None
        for window in visible_program_windows():
            if geometry(window) == size:
                return window
        time.sleep(0.2)
    return None


def wait_for_box(process):
    return wait_for_window(process, (BOX_WIDTH, BOX_HEIGHT))


class MessageCases(gw.TempDirTest):
    def cases(self):
        afile = self.path("file.txt")
        with open(afile, "w") as f:
            f.write("x")
        return [
            ("invalid batch source", ["/batchconvert", gw.win_path(self.path("missing")), gw.win_path(self.path("o"))],
             254),
            ("invalid batch target", ["/batchextract", gw.win_path(afile), gw.win_path(afile) + "\\sub"], 253),
            ("invalid option", ["/png", "/crop"], 0),
        ]


@unittest.skipUnless(os.environ.get("DISPLAY") and shutil.which("xdotool"), "needs a display and xdotool")
class CommandLineMessageTest(MessageCases):
    def test_a_click_on_ok_answers_the_box_and_the_run_ends_with_its_code(self):
        env = dict(os.environ)
        env.setdefault("WINEDEBUG", "-all")
        for name, args, code in self.cases():
            with self.subTest(name):
                process = subprocess.Popen(["wine", gw.EXE, *args], stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
                try:
                    box = wait_for_box(process)
                    self.assertIsNotNone(box, "no message box appeared")
                    self.assertIsNone(process.poll(), "the program waits for the answer")
                    gw.tool("xdotool", "mousemove", "--window", box, str(OK_CENTRE[0]), str(OK_CENTRE[1]),
                            "click", "1")
                    if name == "invalid option":
                        # An invalid option leads on to the main window; its close button ends the run.
                        main = wait_for_window(process, (650, 530))
                        self.assertIsNotNone(main, "the main window did not follow the message")
                        gw.tool("xdotool", "mousemove", "--window", main, "630", "16", "click", "1")
                    self.assertEqual(process.wait(timeout=60), code)
                finally:
                    if process.poll() is None:
                        process.kill()
                        process.wait()


class CommandLineMessageWithoutDisplayTest(MessageCases):
    def test_without_a_display_the_run_ends_with_its_code_and_no_box(self):
        for name, args, code in self.cases():
            with self.subTest(name):
                self.assertEqual(gw.run(*args).returncode, code)


if __name__ == "__main__":
    unittest.main()

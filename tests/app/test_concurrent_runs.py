"""Runs of the real program that meet in one target folder, or that are killed in the middle of a batch, lose no
output and leave nothing behind that a later run mistakes for a backup. Outputs and backups are read with PIL and
checked with icotool."""
import os
import re
import subprocess
import time

from PIL import Image

import gw

NAMES = 200
# The colour a run's picture of one name has: the name's number in red and green, the run in blue.
RUN_BLUE = {"a": 40, "b": 200}
OLD_BLUE = 120


def colour(index, blue):
    return (index % 256, 30 + 60 * (index // 256), blue, 255)


def centre(path):
    with Image.open(path) as icon:
        return icon.convert("RGBA").getpixel((icon.width // 2, icon.height // 2))


def near(a, b):
    return all(abs(x - y) <= 3 for x, y in zip(a, b))


def family(folder, name):
    """The output of one name and every backup of it, as a list of paths (the output first when it exists)."""
    pattern = re.compile(re.escape(name) + r"( \(backup( \d+)?\))?\.ico$", re.IGNORECASE)
    found = sorted(n for n in os.listdir(folder) if pattern.match(n))
    return [os.path.join(folder, n) for n in sorted(found, key=len)]


def start(*args):
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.pop("DISPLAY", None)
    return subprocess.Popen(["wine", gw.EXE, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, env=env)


class ConcurrentRunsTest(gw.TempDirTest):
    def pictures(self, run, count, size=16):
        folder = self.path(run)
        os.mkdir(folder)
        for i in range(count):
            Image.new("RGBA", (size, size), colour(i, RUN_BLUE[run])).save(os.path.join(folder, "p%03d.png" % i))
        return folder

    def assert_readable(self, path):
        result = gw.tool("icotool", "-l", path)
        self.assertEqual(result.returncode, 0, "icotool rejected %s: %s" % (path, result.stderr))

    def test_two_batches_into_one_folder_lose_no_output_of_either_run(self):
        folders = {run: self.pictures(run, NAMES) for run in RUN_BLUE}
        rounds = [("empty target", False), ("empty target again", False), ("earlier outputs in the target", True)]
        for number, (label, earlier) in enumerate(rounds):
            with self.subTest(label):
                target = self.path("out%d" % number)
                os.mkdir(target)
                if earlier:
                    for i in range(NAMES):
                        Image.new("RGBA", (16, 16), colour(i, OLD_BLUE)).save(
                            os.path.join(target, "p%03d.ico" % i), sizes=[(16, 16)])
                runs = [start("/formats=16", "/batchconvert", gw.win_path(folders[run]), gw.win_path(target))
                        for run in RUN_BLUE]
                for child in runs:
                    _, err = child.communicate(timeout=120)
                    self.assertEqual(child.returncode, 1, err)  # at least one file written
                leftovers = [n for n in os.listdir(target) if n.lower().endswith(".tmp")]
                self.assertEqual(leftovers, [])
                lost = []
                for i in range(NAMES):
                    paths = family(target, "p%03d" % i)
                    self.assertTrue(paths and paths[0].endswith("p%03d.ico" % i), paths)
                    for path in paths:
                        self.assert_readable(path)
                    colours = [centre(path) for path in paths]
                    wanted = [colour(i, blue) for blue in RUN_BLUE.values()]
                    if earlier:
                        wanted.append(colour(i, OLD_BLUE))
                    missing = [w for w in wanted if not any(near(c, w) for c in colours)]
                    if missing:
                        lost.append((os.path.basename(paths[0]), missing, colours))
                self.assertEqual(lost, [], "outputs replaced without a backup")

    def test_a_rerun_after_a_kill_leaves_no_temporary_file_and_no_second_backup_of_one_file(self):
        count = 24
        source = self.path("a")
        os.mkdir(source)
        for i in range(count):
            Image.effect_noise((1400, 1400), 60 + i).convert("RGB").save(os.path.join(source, "p%03d.png" % i))
        target = self.path("out")
        os.mkdir(target)
        old = {}
        for i in range(count):
            path = os.path.join(target, "p%03d.ico" % i)
            Image.new("RGBA", (16, 16), colour(i, OLD_BLUE)).save(path, sizes=[(16, 16)])
            with open(path, "rb") as f:
                old[i] = f.read()
        args = ("/formats=16,256", "/batchconvert", gw.win_path(source), gw.win_path(target))

        # Killed while items are in progress: each of them has made its backup (a second name of the old output)
        # and not yet put its new file in place. Only a kill that hits one counts; a few tries find one.
        stale = []
        for attempt in range(6):
            child = start(*args)
            deadline = time.monotonic() + 60
            while child.poll() is None and time.monotonic() < deadline:
                if any("(backup)" in n for n in os.listdir(target)):
                    time.sleep(0.05 * (attempt + 1))
                    break
                time.sleep(0.01)
            child.kill()
            child.communicate()
            stale = [i for i in range(count)
                     if os.path.exists(os.path.join(target, "p%03d (backup).ico" % i))
                     and os.path.samefile(os.path.join(target, "p%03d (backup).ico" % i),
                                          os.path.join(target, "p%03d.ico" % i))]
            if stale:
                break
        self.assertTrue(stale, "no kill happened while an item was in progress")

        rerun = gw.run(*args)
        self.assertEqual(rerun.returncode, 1, rerun.stderr)
        names = os.listdir(target)
        self.assertEqual([n for n in names if n.lower().endswith(".tmp") or n.lower().endswith(".old")], [])
        for i in range(count):
            paths = family(target, "p%03d" % i)
            self.assertTrue(paths[0].endswith("p%03d.ico" % i), paths)
            contents = []
            for path in paths:
                self.assert_readable(path)
                with open(path, "rb") as f:
                    contents.append(f.read())
            self.assertIn(old[i], contents[1:], "the old output of p%03d has no backup" % i)
            backups = contents[1:]
            self.assertEqual(len(backups), len(set(backups)), "p%03d has two backups of one file: %s"
                             % (i, [os.path.basename(p) for p in paths]))

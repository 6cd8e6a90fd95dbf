"""Seeded mutants of small valid files of every format the program reads, run through the real program.

Every run must end by itself within its time limit (no hang), without a crash, with a documented exit code; a run
that reports success leaves a complete icon every reader accepts, a run that fails leaves nothing, and no source
changes. GW_FUZZ_COUNT and GW_FUZZ_SEED choose the mutants, GW_FUZZ_SAMPLE which share of the icon and resource
mutants also runs as a job of its own (every n-th; scripts/fuzz.sh runs a larger set, all of them). A failure names
the mutant, which the same seed makes again.
"""
import hashlib
import os
import re
import subprocess
import unittest

from PIL import Image

import fuzz
import gw

COUNT = int(os.environ.get("GW_FUZZ_COUNT", "200"))
SEED = int(os.environ.get("GW_FUZZ_SEED", "1208"))
SAMPLE = int(os.environ.get("GW_FUZZ_SAMPLE", "3"))
ICONLIB = os.path.join(gw.BUILD_DIR, "gwtest_iconlib.exe")
RUN_LIMIT = 10  # seconds per single run
BATCH_SIZE = 100
SIZES = [16, 48]
FORMATS = "/formats=" + ",".join(map(str, SIZES))
PICTURES = (".bmp", ".png", ".gif", ".jpg", ".tif", ".tga", ".psd", ".webp")


def digest(data):
    return hashlib.sha256(data).hexdigest()


class FuzzTest(gw.TempDirTest):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(ICONLIB):
            raise AssertionError("the test build did not make %s" % ICONLIB)
        cls.mutants = fuzz.mutants(fuzz.seeds(ICONLIB), COUNT, SEED)

    def setUp(self):
        super().setUp()
        self.sources = {}

    def place(self, folder, name, data):
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(data)
        self.sources[path] = digest(data)
        return path

    def run_program(self, what, limit, *args):
        try:
            result = gw.run(*args, timeout=limit)
        except subprocess.TimeoutExpired:
            self.fail("%s: no answer within %d s (seed %d)" % (what, limit, SEED))
        self.assertNotIn(b"Unhandled", result.stderr, "%s crashed (seed %d)" % (what, SEED))
        self.assertIn(result.returncode, (0, 1), "%s: exit code (seed %d)" % (what, SEED))
        return result.returncode

    def assert_complete_icon(self, path, what):
        listing = gw.tool("icotool", "-l", path)
        self.assertEqual(listing.returncode, 0, "%s: icotool rejects %s" % (what, path))
        self.assertEqual([int(w) for w in re.findall(r"--width=(\d+)", listing.stdout)], SIZES, what)
        with Image.open(path) as icon:
            self.assertEqual(sorted(icon.ico.sizes()), [(s, s) for s in SIZES], what)

    def assert_sources_unchanged(self):
        for path, before in self.sources.items():
            with open(path, "rb") as f:
                self.assertEqual(digest(f.read()), before, "%s changed" % os.path.basename(path))

    def test_pictures_in_batches(self):
        """Every picture mutant, and every icon mutant under a picture's name (the decoders go by the content)."""
        pictures = [(n, d) for n, d in self.mutants if n.endswith(PICTURES)]
        pictures += [(n[:-4] + "-ico.bmp", d) for n, d in self.mutants if n.endswith(".ico")]
        for start in range(0, len(pictures), BATCH_SIZE):
            chunk = pictures[start:start + BATCH_SIZE]
            what = "/batchconvert of %s..%s" % (chunk[0][0], chunk[-1][0])
            with self.subTest(what):
                self.batch_convert(chunk, self.path("in%d" % start), self.path("out%d" % start), what)
        self.assert_sources_unchanged()

    def batch_convert(self, chunk, source, target, what):
        for name, data in chunk:
            self.place(source, name, data)
        code = self.run_program(what, RUN_LIMIT + len(chunk) // 10, "/batchconvert", gw.win_path(source),
                                gw.win_path(target), FORMATS)
        written = sorted(os.listdir(target)) if os.path.isdir(target) else []
        # Only finished icons of listed pictures: no temporary or partial file.
        expected = {os.path.splitext(n)[0] + ".ico" for n, _ in chunk}
        self.assertLessEqual(set(written), expected, what)
        self.assertEqual(code, 1 if written else 0, what)
        for name in written:
            self.assert_complete_icon(os.path.join(target, name), "%s: %s" % (what, name))

    def test_single_jobs(self):
        """Icons and resource files one by one; a sample of the pictures through /convert as well."""
        singles = [(n, d) for n, d in self.mutants if not n.endswith(PICTURES)][::SAMPLE]
        singles += [(n, d) for n, d in self.mutants if n.endswith(PICTURES)][::10 * SAMPLE]
        for i, (name, data) in enumerate(singles):
            with self.subTest(name):
                self.single_job(i, name, data)
        self.assert_sources_unchanged()

    def single_job(self, i, name, data):
        folder = self.path("single%d" % i)
        source = self.place(folder, name, data)
        if name.endswith((".dll", ".icl")) and i % 2:
            target = os.path.join(folder, "groups")
            what = "/batchextract %s" % name
            self.run_program(what, RUN_LIMIT, "/batchextract", gw.win_path(source), gw.win_path(target), FORMATS)
            for written in os.listdir(target) if os.path.isdir(target) else []:
                self.assertRegex(written, r"_Icon_\d+\.ico$", what)
                self.assert_complete_icon(os.path.join(target, written), "%s: %s" % (what, written))
            return
        if name.endswith((".dll", ".icl")) or (name.endswith(".ico") and i % 2):
            command, location = "/extract", gw.win_path(source) + ",%d" % (i // 2 % 3)
        else:
            command, location = "/convert", gw.win_path(source)
        what = "%s %s" % (command, name)
        output = os.path.join(folder, "out.ico")
        code = self.run_program(what, RUN_LIMIT, command, location, gw.win_path(output), FORMATS)
        if code == 0:
            self.assert_complete_icon(output, what)
        else:
            self.assertFalse(os.path.exists(output), "%s failed but left a file" % what)
        self.assertEqual(sorted(os.listdir(folder)), sorted([name] + (["out.ico"] if code == 0 else [])), what)

if __name__ == "__main__":
    unittest.main()

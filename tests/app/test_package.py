"""The release archive: scripts/package.sh packs both programs, the README and a checksum list; the program of this
build folder, taken out of the archive, converts a picture."""
import hashlib
import os
import re
import subprocess
import unittest
import zipfile

from PIL import Image

import gw

PACKAGE = os.path.join(gw.SOURCE_DIR, "scripts", "package.sh")
# Where each program lies in the archive, and what file(1) says of it.
IN_ARCHIVE = {"x86": ("Glyphwright.exe", "PE32 executable (GUI) Intel 80386"),
              "x64": ("x64/Glyphwright.exe", "PE32+ executable (GUI) x86-64")}


def project_version():
    with open(os.path.join(gw.SOURCE_DIR, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"^project\(Glyphwright VERSION ([0-9.]+)", f.read(), re.M).group(1)


@unittest.skipUnless(all(os.path.exists(os.path.join(gw.BUILD_ROOT, arch, "Glyphwright.exe")) for arch in IN_ARCHIVE),
                     "both programs must be built (GW_ARCH narrowed the build)")
class PackageTest(gw.TempDirTest):
    def test_archive_holds_both_programs_and_this_one_converts(self):
        result = subprocess.run([PACKAGE, "--no-build", "--out", self.tmp], stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, timeout=120,
                                env=dict(os.environ, BUILD_DIR=gw.BUILD_ROOT))
        self.assertEqual(result.returncode, 0, result.stderr)
        version = project_version()
        archive = self.path("Glyphwright-%s.zip" % version)
        self.assertEqual(os.listdir(self.tmp), [os.path.basename(archive)])
        unpacked = self.path("unpacked")
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(sorted(z.namelist()),
                             ["Glyphwright.exe", "README.md", "SHA256SUMS", "x64/Glyphwright.exe"])
            self.assertIsNone(z.testzip())
            z.extractall(unpacked)

        # The checksum list, as sha256sum writes it and checks it.
        check = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=unpacked, capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        self.assertEqual(check.stdout.count(": OK"), 3)
        with open(os.path.join(unpacked, "README.md"), "rb") as packed, \
                open(os.path.join(gw.SOURCE_DIR, "README.md"), "rb") as source:
            self.assertEqual(packed.read(), source.read())

        for arch, (name, description) in IN_ARCHIVE.items():
            with self.subTest(arch=arch):
                path = os.path.join(unpacked, name)
                self.assertIn(description, gw.tool("file", path).stdout)
                with open(path, "rb") as packed, open(os.path.join(gw.BUILD_ROOT, arch, "Glyphwright.exe"), "rb") as built:
                    self.assertEqual(hashlib.sha256(packed.read()).digest(), hashlib.sha256(built.read()).digest())
                resource = gw.tool_bytes("wrestool", "-x", "--raw", "--type=16", path)
                self.assertIn(version.encode("utf-16-le"), resource, "the version resource names the version")

        # This build folder's program, run from the archive.
        source = self.path("picture.png")
        Image.new("RGBA", (64, 40), (20, 140, 220, 200)).save(source)
        program = os.path.join(unpacked, IN_ARCHIVE[gw.ARCH][0])
        result = gw.run("/convert", gw.win_path(source), exe=program)
        self.assertEqual(result.returncode, 0)
        listing = gw.tool("icotool", "-l", self.path("picture.ico")).stdout
        self.assertEqual(sorted(int(w) for w in re.findall(r"--width=(\d+)", listing)), [16, 32, 48, 256])


if __name__ == "__main__":
    unittest.main()

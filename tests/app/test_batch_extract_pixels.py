"""The resource batch, which loads the library once and builds each size from the group's own entries (storing a
library's own PNG entry as it is), writes the same pixels as single extraction through the shell's extractor, for
groups across the whole of the prefix's shell32.dll; every entry read by PIL."""
import io
import os
import struct
import unittest

from PIL import Image

import gw

SHELL32 = "C:\\windows\\system32\\shell32.dll"


def entries(path):
    """(size, RGBA bytes) of every entry of an .ico file, each decoded on its own."""
    with open(path, "rb") as f:
        data = f.read()
    count = struct.unpack_from("<H", data, 4)[0]
    result = []
    for i in range(count):
        width, _, _, _, _, _, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        block = data[offset:offset + length]
        size = width or 256
        if block.startswith(b"\x89PNG"):
            image = Image.open(io.BytesIO(block)).convert("RGBA")
        else:
            header = struct.unpack_from("<I", block, 0)[0]
            image = Image.frombytes("RGBA", (size, size), block[header:header + size * size * 4], "raw", "BGRA", 0, -1)
        result.append((size, image.tobytes()))
    return result


class BatchExtractPixelsTest(gw.TempDirTest):
    def test_batch_gives_the_pixels_of_single_extraction(self):
        folder = self.path("batch")
        result = gw.run("/formats=16,24,32,48,64,256", "/batchextract", SHELL32, gw.win_path(folder), timeout=300)
        self.assertEqual(result.returncode, 1)
        names = os.listdir(folder)
        self.assertGreater(len(names), 50)
        for group in range(0, len(names), 9):
            with self.subTest(group=group):
                single = self.path("single-%d.ico" % group)
                result = gw.run("/formats=16,24,32,48,64,256", "/extract", "%s,%d" % (SHELL32, group),
                                gw.win_path(single))
                self.assertEqual(result.returncode, 0)
                batch = entries(os.path.join(folder, "shell32.dll_Icon_%d.ico" % group))
                expected = entries(single)
                self.assertEqual([size for size, _ in batch], [16, 24, 32, 48, 64, 256])
                for (size, pixels), (_, wanted) in zip(batch, expected):
                    self.assertTrue(pixels == wanted, "entry %d differs" % size)


if __name__ == "__main__":
    unittest.main()

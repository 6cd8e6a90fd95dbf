"""The resource batch, which loads the library once and builds each size from the group's own entries (storing a
library's own PNG entry as it is), writes the same pixels as single extraction through the shell's extractor, for
groups across the whole of the prefix's shell32.dll; every entry read by PIL."""
import os
import unittest

import gw
import icofile

SHELL32 = "C:\\windows\\system32\\shell32.dll"


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
                batch = icofile.entries(os.path.join(folder, "shell32.dll_Icon_%d.ico" % group))
                expected = icofile.entries(single)
                self.assertEqual([size for size, _, _ in batch], [16, 24, 32, 48, 64, 256])
                for (size, _, image), (_, _, wanted) in zip(batch, expected):
                    self.assertTrue(image.tobytes() == wanted.tobytes(), "entry %d differs" % size)


if __name__ == "__main__":
    unittest.main()

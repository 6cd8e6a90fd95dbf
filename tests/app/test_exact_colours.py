"""A flat half-transparent picture keeps its exact straight colour and alpha in every entry the real program writes,
bitmap and PNG alike, and in a PNG output; a picture of many colours and alphas gives its PNG entry exactly the
pixels of the bitmap entry; read back with PIL."""
import unittest

from PIL import Image

import gw
import icofile

COLOURS = [(200, 100, 50, 128), (17, 230, 99, 200)]


class ExactColourTest(gw.TempDirTest):
    def test_every_entry_and_png_output_keeps_the_flat_colour(self):
        for colour in COLOURS:
            for width, height in ((640, 480), (9, 9)):
                with self.subTest(colour=colour, size=(width, height)):
                    source = self.path("flat.png")
                    Image.new("RGBA", (width, height), colour).save(source)
                    output = self.path("flat.ico")
                    result = gw.run("/formats=16,32,48,64,256", "/crop", "/convert", gw.win_path(source),
                                    gw.win_path(output))
                    self.assertEqual(result.returncode, 0)
                    found = icofile.entries(output)
                    self.assertEqual([(size, png) for size, png, _ in found],
                                     [(16, False), (32, False), (48, False), (64, True), (256, True)])
                    for size, png, image in found:
                        self.assertEqual(image.getcolors(), [(size * size, colour)], "entry %d" % size)
                    nopngc = self.path("bitmaps.ico")
                    result = gw.run("/formats=256", "/nopngc", "/crop", "/convert", gw.win_path(source),
                                    gw.win_path(nopngc))
                    self.assertEqual(result.returncode, 0)
                    (size, png, image), = icofile.entries(nopngc)
                    self.assertFalse(png)
                    self.assertEqual(image.getcolors(), [(256 * 256, colour)])
                    single = self.path("single.png")
                    result = gw.run("/formats=48", "/crop", "/convert", gw.win_path(source), gw.win_path(single))
                    self.assertEqual(result.returncode, 0)
                    self.assertEqual(Image.open(single).convert("RGBA").getcolors(), [(48 * 48, colour)])

    def test_a_png_entry_holds_exactly_the_pixels_of_the_bitmap_entry(self):
        # Every row different and every alpha from 0 to 255, so that a row filter or an alpha that went wrong shows.
        source = self.path("graded.png")
        picture = Image.new("RGBA", (300, 300))
        picture.putdata([((x * 7 + y) % 256, (y * 3) % 256, (x * y) % 256, (x + 2 * y) % 256)
                         for y in range(300) for x in range(300)])
        picture.save(source)
        entries = {}
        for name, options in (("png", ()), ("bitmap", ("/nopngc",))):
            output = self.path(name + ".ico")
            result = gw.run("/formats=64,256", *options, "/convert", gw.win_path(source), gw.win_path(output))
            self.assertEqual(result.returncode, 0)
            entries[name] = icofile.entries(output)
        self.assertEqual([(size, png) for size, png, _ in entries["png"]], [(64, True), (256, True)])
        self.assertEqual([(size, png) for size, png, _ in entries["bitmap"]], [(64, False), (256, False)])
        for (size, _, png), (_, _, bitmap) in zip(entries["png"], entries["bitmap"]):
            self.assertEqual(list(png.getdata()), list(bitmap.convert("RGBA").getdata()), "entry %d" % size)


if __name__ == "__main__":
    unittest.main()

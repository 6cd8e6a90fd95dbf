"""End-to-end checks of photos the picture decoders must refuse or can only just hold: damaged JPEGs, pictures of
144 and 256 megapixels, and one whose whole copy only the 64-bit program may make. Each either converts correctly or fails with exit code 1 and no file; never the shell's
icon for the file."""
import os
import struct
import unittest
import zlib

from PIL import Image

import gw

Image.MAX_IMAGE_PIXELS = None


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def two_halves(size, alpha=None):
    """A square picture, red on the left half and blue on the right, so that a wrong geometry shows; with an alpha,
    half-transparent all over."""
    extra = () if alpha is None else (alpha,)
    picture = Image.new("RGBA" if extra else "RGB", (size, size), (200, 30, 30) + extra)
    picture.paste((30, 30, 200) + extra, (size // 2, 0, size, size))
    return picture


class LargePictureTest(gw.TempDirTest):
    def convert(self, source):
        output = source + ".ico"
        result = gw.run("/formats=16,256", "/convert", gw.win_path(source), gw.win_path(output), timeout=300)
        return result.returncode, output

    def assert_two_halves(self, output, alpha=None):
        """The 16 px entry shows the red and the blue half, not some other picture (such as the shell's icon); a
        half-transparent picture keeps both colours and its alpha exactly."""
        with Image.open(output) as icon:
            icon.size = (16, 16)
            entry = icon.convert("RGBA")
            left, right = entry.getpixel((3, 8)), entry.getpixel((12, 8))
        if alpha is not None:
            self.assertEqual((left, right), ((200, 30, 30, alpha), (30, 30, 200, alpha)))
        self.assertGreater(left[0] - max(left[1], left[2]), 120, "left half of the 16 px entry: %s" % (left,))
        self.assertGreater(right[2] - max(right[0], right[1]), 120, "right half of the 16 px entry: %s" % (right,))

    def assert_converted_or_refused(self, source, alpha=None):
        code, output = self.convert(source)
        self.assertIn(code, (0, 1), source)
        if code == 1:
            self.assertFalse(os.path.exists(output), "a failed conversion left %s" % output)
        else:
            self.assert_two_halves(output, alpha)

    def test_very_large_pictures_convert_or_fail_cleanly(self):
        for size in (12000, 16000):
            # A half-transparent picture takes GDI+ a copy of four bytes a pixel; one size of it is enough.
            kinds = (("jpg", None), ("png", None)) + ((("half.png", 128),) if size == 12000 else ())
            for kind, alpha in kinds:
                with self.subTest(size=size, kind=kind):
                    source = self.path("big%d.%s" % (size, kind))
                    picture = two_halves(size, alpha)
                    picture.save(source, quality=90) if kind == "jpg" else picture.save(source, compress_level=1)
                    del picture
                    self.assert_converted_or_refused(source, alpha)
                    os.remove(source)

    def test_a_photo_of_200_megapixels_converts(self):
        source = self.path("photo.jpg")
        two_halves(14200).save(source, quality=85)
        code, output = self.convert(source)
        self.assertEqual(code, 0)
        self.assert_two_halves(output)

    def test_a_whole_copy_beyond_the_32_bit_limit_converts_only_in_the_64_bit_program(self):
        # Stretched to 1024, a 70000 x 2000 picture can't be reduced as it is read (it is not twice 1024 high), so
        # the program copies it whole: 560 MB, past the 512 MiB the 32-bit program allows itself in its 4 GB of
        # address space and well within the 64-bit program's 4 GiB.
        source = self.path("panorama.png")
        picture = Image.new("RGB", (70000, 2000), (200, 30, 30))
        picture.paste((30, 30, 200), (35000, 0, 70000, 2000))
        picture.save(source, compress_level=1)
        del picture
        output = source + ".ico"
        result = gw.run("/formats=16,1024", "/stretch", "/convert", gw.win_path(source), gw.win_path(output),
                        timeout=300)
        if gw.ARCH == "x64":
            self.assertEqual(result.returncode, 0)
            self.assert_two_halves(output)
            with Image.open(output) as icon:
                self.assertIn((1024, 1024), icon.info["sizes"])
        else:
            self.assertEqual(result.returncode, 1)
            self.assertFalse(os.path.exists(output), "a failed conversion left %s" % output)

    def test_pictures_declaring_more_than_the_budget_are_refused_before_decoding(self):
        # Only the header counts: the data behind it is cut short, as a hostile file's may be. Decoded, the first
        # would take 2.4 GB (twice 20000 x 20000 x 3 bytes), the second 7.2 GB at a byte a pixel.
        for name, width, height, depth, colour in (("rgb.png", 20000, 20000, 8, 2), ("bits.png", 60000, 60000, 1, 0),
                                                   ("wide.png", 2000000, 1000, 8, 6)):
            with self.subTest(name=name):
                source = self.path(name)
                header = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0)
                rows = zlib.compress(b"\0" * 100000)
                with open(source, "wb") as f:
                    f.write(b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"IDAT", rows) +
                            png_chunk(b"IEND", b""))
                code, output = self.convert(source)
                self.assertEqual(code, 1)
                self.assertFalse(os.path.exists(output))

    def test_damaged_jpegs_fail_without_a_file(self):
        good = self.path("good.jpg")
        two_halves(600).save(good, quality=90)
        with open(good, "rb") as f:
            data = f.read()
        scrambled = bytearray(data)
        for i in range(len(data) // 3, len(data) // 3 + 400):
            scrambled[i] = (i * 37) & 0xFF
        cases = {"truncated.jpg": data[: len(data) // 2], "header.jpg": data[:300], "scrambled.jpg": bytes(scrambled)}
        for name, content in cases.items():
            with self.subTest(name=name):
                source = self.path(name)
                with open(source, "wb") as f:
                    f.write(content)
                code, output = self.convert(source)
                self.assertEqual(code, 1)
                self.assertFalse(os.path.exists(output))

    def test_exif_orientation_is_not_applied(self):
        # The imaging library decodes a JPEG as stored and ignores its orientation tag; the JPEG decoder must give
        # the same picture, not a turned one.
        source = self.path("turned.jpg")
        picture = Image.new("RGB", (400, 200), (30, 30, 200))
        picture.paste((200, 30, 30), (0, 0, 200, 200))
        exif = Image.Exif()
        exif[0x0112] = 6
        picture.save(source, quality=95, exif=exif)
        code, output = self.convert(source)
        self.assertEqual(code, 0)
        with Image.open(output) as icon:
            icon.size = (16, 16)
            entry = icon.convert("RGBA")
        self.assertEqual(entry.getpixel((8, 1))[3], 0, "a 2:1 picture keeps transparent margins above and below")
        self.assertGreater(entry.getpixel((3, 8))[0], 150)
        self.assertGreater(entry.getpixel((12, 8))[2], 150)


if __name__ == "__main__":
    unittest.main()

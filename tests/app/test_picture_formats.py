"""Pictures the program decodes by their content (TGA, Photoshop, WebP, PNG's interlaced, 16-bit and transparent
forms, and DDS, which here only the Windows Imaging Component reads) converted by the real program: at their own size
to the pixels PIL decodes, reduced to the icon a BMP of the same pixels gives, and damaged to exit code 1 and no file."""
import io
import os
import unittest

from PIL import Image

import fuzz
import gw

SIZE = 32
WITH_ALPHA = [(x * 8, y * 8, (x * y) % 256, (255, 128, 1, 0)[(x + y) % 4]) for y in range(SIZE) for x in range(SIZE)]
OPAQUE = [p[:3] for p in WITH_ALPHA]


def picture(mode="RGBA", size=SIZE):
    image = Image.new("RGBA", (SIZE, SIZE))
    image.putdata(WITH_ALPHA)
    return image.convert(mode).resize((size, size), Image.NEAREST)


def saved(image, format_, **options):
    out = io.BytesIO()
    image.save(out, format_, **options)
    return out.getvalue()


def animated_webp():
    second = Image.new("RGBA", (SIZE, SIZE), (10, 200, 10, 255))
    return saved(picture(), "WEBP", save_all=True, append_images=[second], lossless=True, duration=50, loop=0)


def palette_with_transparency():
    image = picture("RGB").quantize(colors=64)
    return saved(image, "PNG", transparency=3)


class PictureFormatTest(gw.TempDirTest):
    def write(self, name, data):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def magick(self, data, kind, *options):
        """A PNG rewritten by ImageMagick (PIL writes neither interlaced nor 16-bit RGBA files)."""
        source = self.write("magick-in.png", data)
        target = self.path("magick-out.png")
        result = gw.tool("convert", source, *options, kind + ":" + target)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(target, "rb") as f:
            return f.read()

    def convert(self, name, data, size):
        source = self.write(name, data)
        output = self.path(name + ".ico")
        result = gw.run("/convert", gw.win_path(source), gw.win_path(output), "/formats=%d" % size)
        return result.returncode, output

    def icon_pixels(self, path, size):
        with Image.open(path) as icon:
            return list(icon.ico.getimage((size, size)).convert("RGBA").getdata())

    def cases(self):
        png = saved(picture(), "PNG")
        interlaced = self.magick(png, "PNG32", "-interlace", "PNG")
        deep = self.magick(png, "PNG64", "-depth", "16")
        self.assertEqual(interlaced[28], 1, "ImageMagick wrote no interlaced PNG")
        self.assertEqual(deep[24], 16, "ImageMagick wrote no 16-bit PNG")
        return [
            ("plain.tga", saved(picture(), "TGA")),
            ("plain-top-down.tga", saved(picture("RGB"), "TGA", orientation=1)),
            ("packed.tga", saved(picture("RGB"), "TGA", compression="tga_rle")),
            ("packed-top-down.tga", saved(picture(), "TGA", compression="tga_rle", orientation=1)),
            ("raw.psd", fuzz.psd_bytes(OPAQUE, (SIZE, SIZE))),
            ("packed.psd", fuzz.psd_bytes(OPAQUE, (SIZE, SIZE), compressed=True)),
            ("lossy.webp", saved(picture("RGB"), "WEBP", quality=90)),
            ("lossless.webp", saved(picture(), "WEBP", lossless=True)),
            ("animated.webp", animated_webp()),
            ("interlaced.png", interlaced),
            ("deep.png", deep),
            ("palette.png", palette_with_transparency()),
            ("grey.png", saved(picture("LA"), "PNG")),
            ("surface.dds", saved(picture(), "DDS")),
        ]

    def test_pictures_convert_to_the_pixels_pil_decodes(self):
        for name, data in self.cases():
            with self.subTest(name):
                with Image.open(io.BytesIO(data)) as image:
                    expected = list(image.convert("RGBA").getdata())
                code, output = self.convert(name, data, SIZE)
                self.assertEqual(code, 0)
                for i, (want, got) in enumerate(zip(expected, self.icon_pixels(output, SIZE))):
                    off = max(abs(a - b) for a, b in zip(want, got)) if want[3] else abs(got[3])
                    self.assertLessEqual(off, 1, "pixel %d: %s, PIL %s" % (i, got, want))

    def test_damaged_pictures_fail_without_a_file(self):
        for name, data in self.cases():
            with self.subTest(name):
                # Cut inside the pixels (past a DDS's 128-byte header).
                code, output = self.convert(name, data[:max(140, len(data) * 2 // 3)], SIZE)
                self.assertEqual(code, 1)
                self.assertFalse(os.path.exists(output))

    def test_pictures_read_as_rows_reduce_as_the_imaging_library_does(self):
        # Opaque: the imaging library reads a BMP's fourth byte as padding.
        large = picture("RGB", size=8 * SIZE)
        code, output = self.convert("reference.bmp", saved(large, "BMP"), SIZE)
        self.assertEqual(code, 0)
        reference = self.icon_pixels(output, SIZE)
        for name, data in [("rows.png", saved(large, "PNG")), ("rows.tga", saved(large, "TGA")),
                           ("rows.webp", saved(large, "WEBP", lossless=True)),
                           ("rows.dds", saved(large, "DDS"))]:
            with self.subTest(name):
                code, output = self.convert(name, data, SIZE)
                self.assertEqual(code, 0)
                self.assertEqual(self.icon_pixels(output, SIZE), reference)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/python3
"""Draws the program's own icons and images into resources/.

Every picture is drawn per target size on an 8x supersampled canvas whose main edges fall on the target's pixel
grid, then box-reduced with premultiplied alpha: edges stay crisp at 16 px and the antialiasing never darkens
transparent fringes. Run it after changing a drawing and commit the files it writes.
"""
import io
import math
import os
import struct
import sys

from PIL import Image, ImageChops, ImageDraw

SS = 8
ICON_SIZES = (16, 24, 32, 48, 256)

# One palette for everything: flat fills, the only gradient is the program tile's.
BLUE = (37, 99, 235)
BLUE_LIGHT = (96, 165, 250)
BLUE_PALE = (191, 219, 254)
BLUE_TOP = (80, 150, 250)
BLUE_BOTTOM = (29, 78, 216)
AMBER = (251, 176, 36)
AMBER_DARK = (217, 119, 6)
GREEN = (22, 163, 74)
GREEN_TOP = (52, 199, 89)
SLATE = (51, 65, 85)
WHITE = (255, 255, 255)


class Canvas:
    """A supersampled RGBA canvas addressed in target pixels."""

    def __init__(self, width, height=None):
        self.width = width
        self.height = height or width
        self.image = Image.new("RGBA", (self.width * SS, self.height * SS), (0, 0, 0, 0))

    def mask(self):
        return Image.new("L", self.image.size, 0)

    @staticmethod
    def box(x0, y0, x1, y1):
        # Target pixel edges to inclusive supersampled pixel bounds.
        return [round(x0 * SS), round(y0 * SS), round(x1 * SS) - 1, round(y1 * SS) - 1]

    def rounded(self, x0, y0, x1, y1, radius):
        m = self.mask()
        ImageDraw.Draw(m).rounded_rectangle(self.box(x0, y0, x1, y1), radius=max(0, round(radius * SS)), fill=255)
        return m

    def ellipse(self, x0, y0, x1, y1):
        m = self.mask()
        ImageDraw.Draw(m).ellipse(self.box(x0, y0, x1, y1), fill=255)
        return m

    def circle(self, cx, cy, r):
        return self.ellipse(cx - r, cy - r, cx + r, cy + r)

    def polygon(self, points):
        m = self.mask()
        ImageDraw.Draw(m).polygon([(x * SS, y * SS) for x, y in points], fill=255)
        return m

    def line(self, points, width):
        """A polyline of the given width with round joins and ends."""
        m = self.mask()
        d = ImageDraw.Draw(m)
        pts = [(x * SS, y * SS) for x, y in points]
        d.line(pts, fill=255, width=round(width * SS), joint="curve")
        r = width * SS / 2
        for x, y in (pts[0], pts[-1]):
            d.ellipse([x - r, y - r, x + r, y + r], fill=255)
        return m

    def paint(self, mask, fill, opacity=1.0):
        """Composites a colour or a same-sized RGB(A) image through the mask."""
        if isinstance(fill, tuple):
            layer = Image.new("RGBA", self.image.size, fill + (255,))
        else:
            layer = fill.convert("RGBA")
        alpha = ImageChops.multiply(layer.getchannel("A"), mask)
        if opacity < 1.0:
            alpha = alpha.point(lambda v: round(v * opacity))
        layer.putalpha(alpha)
        self.image.alpha_composite(layer)

    def erase(self, mask):
        alpha = ImageChops.multiply(self.image.getchannel("A"), ImageChops.invert(mask))
        self.image.putalpha(alpha)

    def vertical_gradient(self, top, bottom, y0=0, y1=None):
        y1 = self.height if y1 is None else y1
        h = self.image.size[1]
        a, b = round(y0 * SS), round(y1 * SS)
        ramp = [0] * a + [round(255 * i / max(1, b - a - 1)) for i in range(b - a)] + [255] * (h - b)
        column = Image.new("L", (1, h))
        column.putdata(ramp[:h])
        grad = Image.composite(Image.new("RGB", (1, h), bottom), Image.new("RGB", (1, h), top), column)
        return grad.resize(self.image.size)

    def result(self):
        return self.image.convert("RGBa").reduce(SS).convert("RGBA")


def intersect(a, b):
    return ImageChops.multiply(a, b)


def union(a, b):
    return ImageChops.lighter(a, b)


def subtract(a, b):
    return ImageChops.multiply(a, ImageChops.invert(b))


def snap(v):
    return float(round(v))


def sparkle(c, cx, cy, r, waist=0.28):
    """A four-pointed star: points at r, concave sides through r * waist on the diagonals."""
    pts = []
    for i in range(16):
        a = math.pi * 2 * i / 16 - math.pi / 2
        if i % 4 == 0:
            rr = r
        elif i % 2 == 0:
            rr = r * waist
        else:
            rr = r * (0.5 + waist) / 2 * 0.72
        pts.append((cx + rr * math.cos(a), cy + rr * math.sin(a)))
    return c.polygon(pts)


def picture_card(c, x0, y0, x1, y1, frame, hill_fill, sun_fill, radius, pad):
    """A framed picture holding a tiny landscape: the sign for "a picture" that every drawing here shares."""
    card = c.rounded(x0, y0, x1, y1, radius)
    c.paint(card, frame)
    x0, y0, x1, y1 = x0 + pad, y0 + pad, x1 - pad, y1 - pad
    w, h = x1 - x0, y1 - y0
    inner = c.rounded(x0, y0, x1, y1, max(0, radius - pad))
    hills = c.polygon([(x0, y1), (x0, y0 + h * 0.72), (x0 + w * 0.34, y0 + h * 0.36), (x0 + w * 0.6, y0 + h * 0.66),
                       (x0 + w * 0.74, y0 + h * 0.52), (x1, y0 + h * 0.8), (x1, y1)])
    c.paint(intersect(hills, inner), hill_fill)
    return x0, y0, w, h


def sun(c, x0, y0, w, h, fill, pixel=False):
    if pixel:
        # Two by two pixels: a round dot that small would only blur.
        cx, cy = round(x0 + w * 0.72), round(y0 + h * 0.28)
        c.paint(c.rounded(cx - 1, cy - 1, cx + 1, cy + 1, 0), fill)
    else:
        c.paint(c.circle(x0 + w * 0.72, y0 + h * 0.28, w * 0.12), fill)


def program_icon(s):
    """The program: a blue tile with a framed picture and the spark that makes it an icon."""
    c = Canvas(s)
    mg = 0 if s <= 24 else (1 if s <= 48 else s / 32)
    c.paint(c.rounded(mg, mg, s - mg, s - mg, (s - 2 * mg) * 0.22), c.vertical_gradient(BLUE_TOP, BLUE_BOTTOM, mg, s - mg))
    if s <= 16:
        x0, y0, x1, y1, pad = 2, 5, 12, 14, 1
    else:
        x0, y0, x1, y1 = snap(s * 0.15), snap(s * 0.31), snap(s * 0.71), snap(s * 0.85)
        pad = max(1.0, snap(s * 0.06))
    area = picture_card(c, x0, y0, x1, y1, WHITE, BLUE, AMBER, (x1 - x0) * 0.14, pad)
    sun(c, *area, AMBER, pixel=s <= 24)
    if s <= 24:
        # A plus on whole pixels reads as a spark where a four-pointed star would blur.
        cx, cy, arm = (12, 3, 2) if s <= 16 else (18, 5, 3)
        c.paint(union(c.rounded(cx - arm, cy, cx + arm + 1, cy + 1, 0), c.rounded(cx, cy - arm, cx + 1, cy + arm + 1, 0)),
                AMBER)
    else:
        c.paint(sparkle(c, s * 0.76, s * 0.24, s * 0.2, 0.3), AMBER)
    return c.result()


def create_icon(s):
    """Create / apply / start: a green disc with a white arrow pointing on."""
    c = Canvas(s)
    disc = c.circle(s / 2, s / 2, s / 2 - (0 if s <= 24 else s / 32))
    c.paint(disc, c.vertical_gradient(GREEN_TOP, GREEN))
    w = max(2.0, s * 0.12)
    c.paint(c.line([(s * 0.28, s * 0.5), (s * 0.68, s * 0.5)], w), WHITE)
    c.paint(c.line([(s * 0.5, s * 0.3), (s * 0.71, s * 0.5), (s * 0.5, s * 0.7)], w), WHITE)
    return c.result()


def picker_icon(s):
    """The window picker, also the cursor while dragging: a target whose hot spot is its centre."""
    c = Canvas(s)
    mid = s / 2
    w = 2.0 if s <= 32 else s / 16
    ring_r = s * 0.3
    gap = s * 0.12

    def target(grow):
        ring = subtract(c.circle(mid, mid, ring_r + w / 2 + grow), c.circle(mid, mid, ring_r - w / 2 - grow))
        arms = c.mask()
        half = w / 2 + grow
        for x0, y0, x1, y1 in ((0, mid - half, mid - gap + grow, mid + half), (mid + gap - grow, mid - half, s, mid + half),
                               (mid - half, 0, mid + half, mid - gap + grow), (mid - half, mid + gap - grow, mid + half, s)):
            arms = union(arms, c.rounded(x0, y0, x1, y1, 0))
        return union(ring, arms), c.circle(mid, mid, max(1.0, s * 0.07) + grow)

    # A white halo keeps the target visible over dark windows when it stands in for the cursor.
    halo_lines, halo_dot = target(max(1.0, s / 48))
    c.paint(union(halo_lines, halo_dot), WHITE, 0.75)
    lines, dot = target(0)
    c.paint(lines, SLATE)
    c.paint(dot, (220, 38, 38))
    return c.result()


def shield_image(s):
    """Run as administrator: a shield with a check, readable on the black header."""
    c = Canvas(s)
    top, bottom = s * 0.06, s * 0.96
    left, right, mid = s * 0.14, s * 0.86, s / 2
    pts = [(mid, top), (right, top + s * 0.14), (right, s * 0.46)]
    for i in range(1, 12):
        t = i / 12
        pts.append((right - (right - mid) * (1 - math.cos(t * math.pi / 2)), s * 0.46 + (bottom - s * 0.46) * math.sin(
            t * math.pi / 2) ** 1.4))
    pts.append((mid, bottom))
    mirrored = [(s - x, y) for x, y in reversed(pts[1:-1])]
    shield = c.polygon(pts + mirrored)
    c.paint(shield, BLUE_LIGHT)
    c.paint(intersect(shield, c.polygon([(mid, 0), (s, 0), (s, s), (mid, s)])), BLUE)
    w = max(2.0, s * 0.11)
    c.paint(c.line([(s * 0.32, s * 0.5), (s * 0.45, s * 0.63), (s * 0.69, s * 0.36)], w), WHITE)
    return c.result()


def single_image(s):
    """Single icon creation: one framed picture."""
    c = Canvas(s)
    area = picture_card(c, 1, 2, s - 1, s - 2, BLUE, BLUE_PALE, AMBER, 3, 2)
    sun(c, *area, AMBER, pixel=True)
    return c.result()


def batch_image(s):
    """Batch creation: a stack of framed pictures."""
    c = Canvas(s)
    c.paint(c.rounded(7, 0, s, s - 7, 2.5), BLUE_PALE)
    c.paint(c.rounded(4, 3, s - 2, s - 4, 2.5), BLUE_LIGHT)
    c.erase(c.rounded(-1, 5, s - 4, s + 1, 3))
    area = picture_card(c, 0, 6, s - 5, s, BLUE, BLUE_PALE, AMBER, 2.5, 2)
    sun(c, *area, AMBER, pixel=True)
    return c.result()


def gear(c, cx, cy, outer, inner, hole, teeth=8):
    pts = []
    for i in range(teeth * 4):
        a = math.pi * 2 * (i + 0.5) / (teeth * 4)
        r = outer if i % 4 in (0, 1) else inner
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    body = union(c.polygon(pts), c.circle(cx, cy, inner + 0.2))
    return subtract(body, c.circle(cx, cy, hole))


def utilities_image(s):
    """Utilities: a gear."""
    c = Canvas(s)
    c.paint(gear(c, s / 2, s / 2, s * 0.48, s * 0.35, s * 0.15), BLUE)
    return c.result()


def folder_image(s):
    """Folder icon: a folder with a framed picture on its front."""
    c = Canvas(s)
    c.paint(union(c.rounded(1, 3, s * 0.45, 8, 1.5), c.rounded(1, 5, s - 1, s - 2, 2)), AMBER_DARK)
    c.paint(c.rounded(1, 7, s - 1, s - 2, 2), AMBER)
    c.paint(c.rounded(s - 11, s - 11, s - 1, s - 2, 2), WHITE)
    area = picture_card(c, s - 10, s - 10, s - 2, s - 3, BLUE, BLUE_PALE, AMBER, 1.5, 1)
    sun(c, *area, AMBER, pixel=True)
    return c.result()


def ico_bytes(images):
    """An .ico file: 32-bit bitmap entries with an AND mask below 256, a PNG entry at 256."""
    entries = []
    for im in images:
        w, h = im.size
        if w >= 256:
            buf = io.BytesIO()
            im.save(buf, "PNG", optimize=True)
            entries.append((w, h, buf.getvalue()))
            continue
        header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        px = im.load()
        rows = bytearray()
        for y in range(h - 1, -1, -1):
            for x in range(w):
                r, g, b, a = px[x, y]
                rows += bytes((b, g, r, a))
        stride = ((w + 31) // 32) * 4
        mask = bytearray()
        for y in range(h - 1, -1, -1):
            row = bytearray(stride)
            for x in range(w):
                if px[x, y][3] == 0:
                    row[x // 8] |= 0x80 >> (x % 8)
            mask += row
        entries.append((w, h, header + bytes(rows) + bytes(mask)))
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for w, h, data in entries:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in entries)


def png_bytes(im):
    buf = io.BytesIO()
    im.save(buf, "PNG", optimize=True)
    return buf.getvalue()


ICONS = {"Glyphwright.ico": program_icon, "Create.ico": create_icon, "Picker.ico": picker_icon}
IMAGES = {"Shield.png": (shield_image, 24), "PageSingle.png": (single_image, 20), "PageBatch.png": (batch_image, 20),
          "PageUtilities.png": (utilities_image, 20), "FolderIcon.png": (folder_image, 20)}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources")
    for name, draw in ICONS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(ico_bytes([draw(s) for s in ICON_SIZES]))
    for name, (draw, size) in IMAGES.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(png_bytes(draw(size)))


if __name__ == "__main__":
    main()

"""Reads the entries of .ico files the program writes, each decoded on its own by PIL."""
import io
import struct

from PIL import Image


def entries(path):
    """(size, is_png, RGBA image) of every entry of an .ico file."""
    with open(path, "rb") as f:
        data = f.read()
    count = struct.unpack_from("<H", data, 4)[0]
    result = []
    for i in range(count):
        width, _, _, _, _, _, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        block = data[offset:offset + length]
        size = width or 256
        if block.startswith(b"\x89PNG"):
            result.append((size, True, Image.open(io.BytesIO(block)).convert("RGBA")))
            continue
        # A 32-bit bitmap entry: header, bottom-up BGRA rows, then the AND mask.
        header = struct.unpack_from("<I", block, 0)[0]
        pixels = block[header:header + size * size * 4]
        result.append((size, False, Image.frombytes("RGBA", (size, size), pixels, "raw", "BGRA", 0, -1)))
    return result

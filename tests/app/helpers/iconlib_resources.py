"""Writes the icon files that iconlib.rc compiles in: palette.ico with 1-, 4-, 8- and 24-bit bitmap entries."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import fuzz  # noqa: E402

folder = sys.argv[1]
os.makedirs(folder, exist_ok=True)
entries = [(16, 1, fuzz.bitmap_entry(16, 1)), (16, 4, fuzz.bitmap_entry(16, 4)), (32, 8, fuzz.bitmap_entry(32, 8)),
           (32, 24, fuzz.bitmap_entry(32, 24))]
with open(os.path.join(folder, "palette.ico"), "wb") as f:
    f.write(fuzz.ico(entries))

#pragma once

#include <windows.h>

#include "engine/Imaging.h"

// A PNG held as an "IMAGE" resource of the module, decoded and brought to exactly width x height (a straight-alpha
// copy when it has another size). Empty for a missing or empty resource or an undecodable image.
GdiplusImage loadPngResource(HMODULE module, int number, int width, int height);

// A GDI bitmap (32-bit, premultiplied, background 0) of the image drawn scaled to width x height; owned by the
// caller, null on failure.
HBITMAP bitmapFromImage(const GdiplusImage& image, int width, int height);

// Side of a check box's or radio button's image in design pixels (96 per inch).
constexpr int kPairImageDesignSize = 14;

// Check and radio images (32-bit, premultiplied) of `side` pixels square, owned by the caller; null on failure.
// Side 0 is the pair image's size on this screen, so the image is drawn at the size it is shown and never stretched.
// Check flags: 1 check mark, 2 filled square (when not 1), 4 rounded box. Radio flags: 1 dot.
HBITMAP makeCheckImage(int flags, int side = 0);
HBITMAP makeRadioImage(int flags, int side = 0);

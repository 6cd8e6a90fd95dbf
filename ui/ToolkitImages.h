#pragma once

#include <windows.h>

#include "engine/Imaging.h"

// A PNG held as an "IMAGE" resource of the module, decoded and brought to exactly width x height (a straight-alpha
// copy when it has another size). Empty for a missing or empty resource or an undecodable image.
GdiplusImage loadPngResource(HMODULE module, int number, int width, int height);

// A GDI bitmap (32-bit, premultiplied, background 0) of the image drawn scaled to width x height; owned by the
// caller, null on failure.
HBITMAP bitmapFromImage(const GdiplusImage& image, int width, int height);

// Check and radio images of 14 x 14 (32-bit, premultiplied), owned by the caller; null on failure.
// Check flags: 1 check mark, 2 filled square (when not 1), 4 rounded box. Radio flags: 1 dot.
HBITMAP makeCheckImage(int flags);
HBITMAP makeRadioImage(int flags);

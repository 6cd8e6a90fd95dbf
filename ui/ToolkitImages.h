#pragma once

#include <windows.h>

#include "engine/Imaging.h"

// A PNG held as an "IMAGE" resource of the module, decoded and brought to exactly width x height (a straight-alpha
// copy when it has another size). Empty for a missing or empty resource or an undecodable image.
GdiplusImage loadPngResource(HMODULE module, int number, int width, int height);

// A GDI bitmap (32-bit, premultiplied, background 0) of the image drawn scaled to width x height; owned by the
// caller, null on failure.
HBITMAP bitmapFromImage(const GdiplusImage& image, int width, int height);

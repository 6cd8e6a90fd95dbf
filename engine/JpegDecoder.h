#pragma once

#include <cstdint>
#include <vector>

// JPEG files are decoded with libjpeg-turbo rather than the imaging library: it can decode at 1/2, 1/4 or 1/8 of
// the size (the DCT scaling costs almost nothing), and it writes 32-bit pixels straight into the caller's plane,
// so a large photo is never held at full size nor copied from 24 to 32 bits.

enum class JpegStatus {
    Decoded,
    NotJpeg,      // no JPEG signature: another decoder's turn
    Unsupported,  // a JPEG this decoder leaves to the imaging library (CMYK and YCCK colour)
    Corrupt,      // damaged, truncated or hostile data: refused
    OutOfMemory,  // too large to decode in this process
};

// A picture decoded at a reduced scale: its full size, and opaque BGRA pixels (alpha 255, so premultiplied and
// straight alike) of ceil(width / 2^shift) x ceil(height / 2^shift), rows top-down, stride planeWidth * 4.
struct JpegPicture {
    int width = 0;
    int height = 0;
    int shift = 0;
    int planeWidth = 0;
    int planeHeight = 0;
    std::vector<uint8_t> pixels;
};

// The largest reduction DCT scaling gives (1/8).
constexpr int kMaxJpegShift = 3;

// True when the file starts with a JPEG's start-of-image marker.
bool HasJpegSignature(const wchar_t* path);

// Decodes the file at scale 1 / 2^shift, where shift is chooseShift(width, height) clamped to 0..kMaxJpegShift.
// The file's colour data is taken as it is stored: EXIF orientation is not applied, as the imaging library does
// not apply it either. Corrupt data, including a truncated file, is refused rather than padded.
using JpegShiftChooser = int (*)(int width, int height, const void* context);
JpegStatus DecodeJpegFile(const wchar_t* path, JpegShiftChooser chooseShift, const void* context, JpegPicture& out);

#include "engine/IconJobFlags.h"
#include "engine/PictureFormats.h"

class ScaleSource;

// Decodes a picture file for scaling to the given sizes with the flags' fit, by a decoder chosen by the file's
// content: JPEG with libjpeg-turbo at the largest reduction every size allows (empty sizes: full size), PNG, WebP,
// TGA and Photoshop files with their own decoders, every other format (and CMYK JPEGs) with the imaging library,
// and what that can't decode with the Windows Imaging Component. A file of a known picture format that none of them
// decodes is Failed; NotPicture is left for files that are no picture at all.
PictureDecode DecodePictureFile(const wchar_t* path, const SizeList& sizes, IconJobFlags flags, ScaleSource& out);

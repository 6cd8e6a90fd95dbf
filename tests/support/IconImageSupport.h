#pragma once

// Icon images of every colour depth as resources and .ico files hold them, with the pixels a reader must see.
// Header-only, so that gw_test_support itself needs nothing beyond gw_sys.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ScreenSupport.h"

#include "sys/Handles.h"

namespace testing_support {

// The kinds of icon image: palette images of 1, 4 and 8 bits, 24-bit, 32-bit with its own alpha, and 32-bit whose
// alpha bytes are all zero (drawn through its mask like the palette ones).
enum class IconDepth { kOne, kFour, kEight, kTwentyFour, kAlpha, kZeroAlpha };

inline int BitsOf(IconDepth depth) {
    switch (depth) {
        case IconDepth::kOne:
            return 1;
        case IconDepth::kFour:
            return 4;
        case IconDepth::kEight:
            return 8;
        case IconDepth::kTwentyFour:
            return 24;
        default:
            return 32;
    }
}

// Colour 0xRRGGBB of a palette index: black and white for 1 bit, as monochrome icons are; spread colours above.
inline uint32_t PaletteColour(int bits, int index) {
    if (bits == 1) return index ? 0xFFFFFFu : 0u;
    return static_cast<uint32_t>((index * 37) & 0xFF) << 16 | static_cast<uint32_t>((255 - index * 11) & 0xFF) << 8 |
           static_cast<uint32_t>((index * 5 + 40) & 0xFF);
}

// Straight-alpha pixel 0xAARRGGBB that a reader must see at (x, y) of the image made by IconImageBytes. The
// patterns are fixed here; colour under alpha 0 carries no meaning and is left out of comparisons.
inline uint32_t ExpectedIconPixel(IconDepth depth, int x, int y) {
    const int bits = BitsOf(depth);
    const bool masked = x == 0 || (x + 2 * y) % 7 == 0;
    if (bits <= 8) {
        const int colours = 1 << bits;
        const int index = (3 * x + 5 * y) % colours;
        return (masked ? 0u : 0xFF000000u) | PaletteColour(bits, index);
    }
    const uint32_t rgb = static_cast<uint32_t>((x * 16) & 0xFF) << 16 | static_cast<uint32_t>((y * 16) & 0xFF) << 8 |
                         static_cast<uint32_t>(((x + y) * 8 + 3) & 0xFF);
    if (depth == IconDepth::kAlpha) {
        // Every level that a conversion could shift by one: none, the faintest, middle values, the strongest. The
        // first column is transparent, as in every other kind.
        static constexpr uint8_t kLevels[] = {0, 1, 2, 127, 128, 200, 254, 255};
        return static_cast<uint32_t>(x == 0 ? 0 : kLevels[(x + 3 * y) % 8]) << 24 | rgb;
    }
    return (masked ? 0u : 0xFF000000u) | rgb;
}

// Pixels (straight alpha, rows top-down) that differ from ExpectedIconPixel: alpha anywhere, colour where it
// shows; first describes the first of them.
inline int WrongIconPixels(const std::vector<uint32_t>& pixels, IconDepth depth, int size, std::string& first) {
    int wrong = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const uint32_t want = ExpectedIconPixel(depth, x, y);
            const uint32_t got = pixels[static_cast<size_t>(y) * size + x];
            if ((got >> 24) == (want >> 24) && ((want >> 24) == 0 || got == want)) continue;
            if (wrong++ == 0) {
                char text[80];
                snprintf(text, sizeof(text), "at %d,%d: %08X, not %08X", x, y, static_cast<unsigned>(got),
                         static_cast<unsigned>(want));
                first = text;
            }
        }
    }
    return wrong;
}

// One size x size icon image as an RT_ICON resource (or an .ico entry) holds it: header with doubled height, palette,
// colour rows and AND mask rows, bottom-up. The mask marks exactly the pixels ExpectedIconPixel makes transparent;
// a zero-alpha 32-bit image stores alpha 0 everywhere.
inline std::vector<uint8_t> IconImageBytes(IconDepth depth, int size) {
    const int bits = BitsOf(depth);
    const int colours = bits <= 8 ? 1 << bits : 0;
    const size_t colourStride = (static_cast<size_t>(size) * bits + 31) / 32 * 4;
    const size_t maskStride = (static_cast<size_t>(size) + 31) / 32 * 4;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = size;
    header.biHeight = 2 * size;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bits);
    header.biSizeImage = static_cast<DWORD>((colourStride + maskStride) * size);
    std::vector<uint8_t> bytes(sizeof(header) + 4 * static_cast<size_t>(colours) + header.biSizeImage, 0);
    std::memcpy(bytes.data(), &header, sizeof(header));
    uint8_t* palette = bytes.data() + sizeof(header);
    for (int index = 0; index < colours; ++index) {
        const uint32_t rgb = PaletteColour(bits, index);
        std::memcpy(palette + 4 * index, &rgb, 4);
    }
    uint8_t* colourRows = palette + 4 * colours;
    uint8_t* maskRows = colourRows + colourStride * size;
    for (int y = 0; y < size; ++y) {
        uint8_t* row = colourRows + colourStride * (size - 1 - y);
        uint8_t* mask = maskRows + maskStride * (size - 1 - y);
        for (int x = 0; x < size; ++x) {
            const uint32_t pixel = ExpectedIconPixel(depth, x, y);
            if ((pixel >> 24) == 0) mask[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            if (bits <= 8) {
                const int index = (3 * x + 5 * y) % colours;
                const int bit = x * bits;
                row[bit / 8] |= static_cast<uint8_t>(index << (8 - bits - bit % 8));
            } else {
                const uint32_t stored = depth == IconDepth::kZeroAlpha ? (pixel & 0xFFFFFFu) : pixel;
                std::memcpy(row + static_cast<size_t>(x) * bits / 8, &stored, static_cast<size_t>(bits / 8));
            }
        }
    }
    return bytes;
}

// An icon handle made from the image bytes by the system's loader, at the image's own size.
inline HICON IconFromImageBytes(const std::vector<uint8_t>& bytes, int size) {
    return CreateIconFromResourceEx(const_cast<uint8_t*>(bytes.data()), static_cast<DWORD>(bytes.size()), TRUE,
                                    0x00030000, size, size, LR_DEFAULTCOLOR);
}

// A group directory naming one image by its id, as an RT_GROUP_ICON resource holds it.
inline std::vector<uint8_t> IconGroupBytes(IconDepth depth, int size, WORD iconId, size_t imageBytes) {
    const int bits = BitsOf(depth);
    std::vector<uint8_t> group = {0,
                                  0,
                                  1,
                                  0,
                                  1,
                                  0,
                                  static_cast<uint8_t>(size % 256),
                                  static_cast<uint8_t>(size % 256),
                                  static_cast<uint8_t>(bits < 8 ? 1 << bits : 0),
                                  0,
                                  1,
                                  0,
                                  static_cast<uint8_t>(bits),
                                  0};
    for (int i = 0; i < 4; ++i)
        group.push_back(static_cast<uint8_t>(imageBytes >> (8 * i)));
    group.push_back(static_cast<uint8_t>(iconId));
    group.push_back(static_cast<uint8_t>(iconId >> 8));
    return group;
}

// A solid opaque icon of one colour (0xAARRGGBB).
inline IconHandle MakeSolidIcon(int size, uint32_t colour) {
    BITMAPINFO info = TopDownDib(size, size);
    void* bits = nullptr;
    GdiObjectHandle colourBitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!colourBitmap) return IconHandle();
    for (int i = 0; i < size * size; ++i)
        static_cast<uint32_t*>(bits)[i] = colour;
    const std::vector<uint8_t> maskBits(static_cast<size_t>((size + 15) / 16 * 2) * size, 0);
    GdiObjectHandle mask(CreateBitmap(size, size, 1, 1, maskBits.data()));
    ICONINFO icon = {TRUE, 0, 0, static_cast<HBITMAP>(mask.Get()), static_cast<HBITMAP>(colourBitmap.Get())};
    return IconHandle(CreateIconIndirect(&icon));
}

}  // namespace testing_support

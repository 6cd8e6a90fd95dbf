#pragma once

// Imaging helpers for tests of the engine and the layers above it. Header-only, so that gw_test_support itself
// needs nothing beyond gw_sys.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "ScreenSupport.h"
#include "engine/Imaging.h"
#include "sys/WideString.h"

namespace testing_support {

// Keeps the imaging library started for the whole test program.
class ImagingEnvironment : public ::testing::Environment {
public:
    void SetUp() override { token_ = StartImaging(); }
    void TearDown() override { StopImaging(token_); }

private:
    ULONG_PTR token_ = 0;
};

// Registers an ImagingEnvironment; call it from a namespace-scope initialiser so that it runs before the tests.
inline const ::testing::Environment* RegisterImagingEnvironment() {
    return ::testing::AddGlobalTestEnvironment(new ImagingEnvironment);
}

// Straight-alpha pixel of a picture at (x, y), as one value 0xAARRGGBB.
using PixelFunction = std::function<uint32_t(int x, int y)>;

inline PixelFunction Flat(uint32_t argb) {
    return [argb](int, int) { return argb; };
}

// Class id of the installed encoder for the MIME type ("image/png", "image/jpeg", ...).
inline bool FindEncoder(const wchar_t* mimeType, CLSID& encoder) {
    UINT count = 0, bytes = 0;
    if (gdip::GdipGetImageEncodersSize(&count, &bytes) != kGpOk || bytes == 0) return false;
    std::vector<uint8_t> buffer(bytes);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (gdip::GdipGetImageEncoders(count, bytes, codecs) != kGpOk) return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType && lstrcmpiW(codecs[i].MimeType, mimeType) == 0) {
            encoder = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

// Writes a width x height picture file in the encoder's format; the imaging library must be started.
inline bool SavePicture(const WideString& path, int width, int height, const PixelFunction& pixel,
                        const wchar_t* mimeType = L"image/png") {
    CLSID encoder;
    if (width <= 0 || height <= 0 || !FindEncoder(mimeType, encoder)) return false;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y) * width + x] = pixel(x, y);
    // Wine's encoders refuse premultiplied bitmaps; a straight-alpha one is what a picture file holds anyway.
    GpBitmap* bitmap = nullptr;
    if (gdip::GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppARGB,
                                        reinterpret_cast<BYTE*>(pixels.data()), &bitmap) != kGpOk)
        return false;
    const GdiplusImage image(bitmap);
    return gdip::GdipSaveImageToFile(image.Get(), path.Text(), &encoder, nullptr) == kGpOk;
}

// A picture of one colour.
inline bool SavePicture(const WideString& path, int width, int height, uint32_t argb,
                        const wchar_t* mimeType = L"image/png") {
    return SavePicture(path, width, height, Flat(argb), mimeType);
}

// Keeps a screen shot as an opaque PNG file, for a person to look at; the imaging library must be started.
inline bool SaveShot(const ScreenShot& shot, const wchar_t* path) {
    std::vector<uint32_t> pixels(shot.pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = 0xFF000000 | shot.pixels[i];
    WorkingImage image = WorkingImageFromPixels(pixels.data(), shot.width, shot.height);
    CLSID png;
    return image && FindEncoder(L"image/png", png) &&
           gdip::GdipSaveImageToFile(image.Get(), path, &png, nullptr) == kGpOk;
}

}  // namespace testing_support

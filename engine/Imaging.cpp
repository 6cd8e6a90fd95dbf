#include "engine/Imaging.h"

#include <cstring>

#include "engine/FileStructure.h"

ULONG_PTR StartImaging() {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;  // version 1, other options default
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != kGpOk) return 0;
    return token;
}

void StopImaging(ULONG_PTR token) {
    if (token) Gdiplus::GdiplusShutdown(token);
}

GdiplusImage& GdiplusImage::operator=(GdiplusImage&& other) noexcept {
    if (this != &other) {
        Reset(other.Release());
        status_ = std::exchange(other.status_, kGpOk);
    }
    return *this;
}

void GdiplusImage::Reset(GpImage* image) {
    if (image_ && image_ != image) gdip::GdipDisposeImage(image_);
    image_ = image;
}

int GdiplusImage::Width() const {
    UINT value = 0;
    if (!image_ || Check(gdip::GdipGetImageWidth(image_, &value)) != kGpOk) return 0;
    return static_cast<int>(value);
}

int GdiplusImage::Height() const {
    UINT value = 0;
    if (!image_ || Check(gdip::GdipGetImageHeight(image_, &value)) != kGpOk) return 0;
    return static_cast<int>(value);
}

Gdiplus::PixelFormat GdiplusImage::Format() const {
    Gdiplus::PixelFormat format = PixelFormatUndefined;
    if (image_) Check(gdip::GdipGetImagePixelFormat(image_, &format));
    return format;
}

GdiplusGraphics::GdiplusGraphics(const GdiplusImage& image) {
    if (image && image.Check(gdip::GdipGetImageGraphicsContext(image.Get(), &graphics_)) != kGpOk) graphics_ = nullptr;
}

GdiplusGraphics::~GdiplusGraphics() {
    if (graphics_) gdip::GdipDeleteGraphics(graphics_);
}

GdiplusGraphics& GdiplusGraphics::operator=(GdiplusGraphics&& other) noexcept {
    if (this != &other) {
        if (graphics_) gdip::GdipDeleteGraphics(graphics_);
        graphics_ = std::exchange(other.graphics_, nullptr);
    }
    return *this;
}

BitmapLock::BitmapLock(const GdiplusImage& image, UINT mode, Gdiplus::PixelFormat format) : image_(image) {
    if (!image) return;
    const int width = image.Width();
    const int height = image.Height();
    if (width <= 0 || height <= 0) return;
    const Gdiplus::GpRect whole(0, 0, width, height);
    if (image.Check(gdip::GdipBitmapLockBits(image.Bitmap(), &whole, mode, format, &data_)) == kGpOk)
        bitmap_ = image.Bitmap();
}

BitmapLock::~BitmapLock() {
    if (bitmap_) image_.Check(gdip::GdipBitmapUnlockBits(bitmap_, &data_));
}

GdiplusImage DecodeImageFile(const wchar_t* path) {
    GdiplusImage image;
    // The library's decoders trust the counts and offsets inside a file and crash on hostile ones.
    if (!PictureFileSound(path)) {
        image.Check(Gdiplus::UnknownImageFormat);
        return image;
    }
    GpBitmap* bitmap = nullptr;
    const GpStatus status = gdip::GdipCreateBitmapFromFile(path, &bitmap);
    if (status == kGpOk && bitmap)
        image.Reset(bitmap);
    else
        image.Check(status == kGpOk ? Gdiplus::GenericError : status);
    return image;
}

GdiplusImage DecodeImageStream(IStream* stream) {
    GdiplusImage image;
    GpBitmap* bitmap = nullptr;
    const GpStatus status = stream ? gdip::GdipCreateBitmapFromStream(stream, &bitmap) : Gdiplus::InvalidParameter;
    if (status == kGpOk && bitmap)
        image.Reset(bitmap);
    else
        image.Check(status == kGpOk ? Gdiplus::GenericError : status);
    return image;
}

GdiplusImage CreateGdiplusBitmap(int width, int height, Gdiplus::PixelFormat format) {
    GdiplusImage image;
    if (width <= 0 || height <= 0) {
        image.Check(Gdiplus::InvalidParameter);
        return image;
    }
    GpBitmap* bitmap = nullptr;
    const GpStatus status = gdip::GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, &bitmap);
    if (status != kGpOk || !bitmap) {
        image.Check(status == kGpOk ? Gdiplus::OutOfMemory : status);
        return image;
    }
    image.Reset(bitmap);
    // GDI+ does not promise zeroed memory for a bitmap it allocates itself.
    BitmapLock lock(image, Gdiplus::ImageLockModeWrite, format);
    if (!lock.Locked()) return GdiplusImage();
    // Formats below 8 bits pack several pixels into a byte: a byte per pixel would run past the last row.
    const size_t rowBytes = (static_cast<size_t>(width) * Gdiplus::GetPixelFormatSize(format) + 7) / 8;
    for (int y = 0; y < height; ++y)
        std::memset(lock.Row(y), 0, rowBytes);
    return image;
}

WorkingImage WorkingImageFromPixels(const void* bgra, int width, int height, Gdiplus::PixelFormat format) {
    WorkingImage image = CreateGdiplusBitmap(width, height, format);
    if (!image || !bgra) return image;
    {
        BitmapLock lock(image, Gdiplus::ImageLockModeWrite, format);
        if (!lock.Locked()) return WorkingImage();
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        for (int y = 0; y < height; ++y)
            std::memcpy(lock.Row(y), static_cast<const uint8_t*>(bgra) + y * rowBytes, rowBytes);
    }
    return image;
}

std::vector<uint32_t> ReadPixels(const GdiplusImage& image, Gdiplus::PixelFormat format) {
    std::vector<uint32_t> pixels;
    if (Gdiplus::GetPixelFormatSize(format) != 32) return pixels;
    BitmapLock lock(image, Gdiplus::ImageLockModeRead, format);
    if (!lock.Locked()) return pixels;
    const int width = lock.Width();
    pixels.resize(static_cast<size_t>(width) * lock.Height());
    for (int y = 0; y < lock.Height(); ++y)
        std::memcpy(pixels.data() + static_cast<size_t>(y) * width, lock.Row(y), static_cast<size_t>(width) * 4);
    return pixels;
}

namespace {

bool FirstFrameDimension(const GdiplusImage& image, GUID& dimension) {
    UINT count = 0;
    if (!image || image.Check(gdip::GdipImageGetFrameDimensionsCount(image.Get(), &count)) != kGpOk || count == 0)
        return false;
    std::vector<GUID> list(count);
    if (image.Check(gdip::GdipImageGetFrameDimensionsList(image.Get(), list.data(), count)) != kGpOk) return false;
    dimension = list[0];
    return true;
}

}  // namespace

unsigned FrameCount(const GdiplusImage& image) {
    GUID dimension;
    if (!FirstFrameDimension(image, dimension)) return image ? 1 : 0;
    UINT count = 0;
    if (image.Check(gdip::GdipImageGetFrameCount(image.Get(), &dimension, &count)) != kGpOk || count == 0) return 1;
    return count;
}

bool SelectFrame(const GdiplusImage& image, unsigned index) {
    GUID dimension;
    if (!FirstFrameDimension(image, dimension)) return index == 0 && image;
    return image.Check(gdip::GdipImageSelectActiveFrame(image.Get(), &dimension, index)) == kGpOk;
}

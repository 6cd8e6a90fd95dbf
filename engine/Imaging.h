#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>
#include <utility>
#include <vector>

// Thin owners over the GDI+ flat interface. Every call returns a status (0 = Ok); each image object keeps the
// status of its most recent failing call so that callers can tell a failed load or save from a good one.
namespace gdip = Gdiplus::DllExports;
using GpStatus = Gdiplus::GpStatus;
using GpImage = Gdiplus::GpImage;
using GpBitmap = Gdiplus::GpBitmap;
using GpGraphics = Gdiplus::GpGraphics;

constexpr GpStatus kGpOk = Gdiplus::Ok;

// Start-up token of the imaging library, 0 when it failed to start.
ULONG_PTR StartImaging();
void StopImaging(ULONG_PTR token);

// Owner of the start-up token: starts the library on construction, shuts it down on destruction.
class ImagingSession {
public:
    ImagingSession() : token_(StartImaging()) {}
    ~ImagingSession() {
        if (token_) StopImaging(token_);
    }
    ImagingSession(const ImagingSession&) = delete;
    ImagingSession& operator=(const ImagingSession&) = delete;
    ImagingSession(ImagingSession&& other) noexcept : token_(std::exchange(other.token_, 0)) {}
    ImagingSession& operator=(ImagingSession&&) = delete;

    bool Started() const { return token_ != 0; }
    ULONG_PTR Token() const { return token_; }

private:
    ULONG_PTR token_ = 0;
};

// Owner of one GDI+ image (in practice always a bitmap). Copying deleted, moving allowed.
class GdiplusImage {
public:
    GdiplusImage() = default;
    explicit GdiplusImage(GpImage* image) : image_(image) {}
    ~GdiplusImage() { Reset(); }
    GdiplusImage(const GdiplusImage&) = delete;
    GdiplusImage& operator=(const GdiplusImage&) = delete;
    GdiplusImage(GdiplusImage&& other) noexcept
        : image_(std::exchange(other.image_, nullptr)), status_(std::exchange(other.status_, kGpOk)) {}
    GdiplusImage& operator=(GdiplusImage&& other) noexcept;

    GpImage* Get() const { return image_; }
    GpBitmap* Bitmap() const { return static_cast<GpBitmap*>(image_); }
    explicit operator bool() const { return image_ != nullptr; }
    GpImage* Release() { return std::exchange(image_, nullptr); }
    void Reset(GpImage* image = nullptr);

    // 0 when there is no image or the query fails.
    int Width() const;
    int Height() const;
    Gdiplus::PixelFormat Format() const;

    // Status of the most recent failing call on this image, kGpOk when none failed.
    GpStatus LastStatus() const { return status_; }
    // Records a failing status and hands the status back, so calls read `if (image.Check(Gdip...(...)) != kGpOk)`.
    GpStatus Check(GpStatus status) const {
        if (status != kGpOk) status_ = status;
        return status;
    }

private:
    GpImage* image_ = nullptr;
    mutable GpStatus status_ = kGpOk;
};

// A working image: a 32bpp premultiplied (PARGB) bitmap, rows top-down, stride width * 4, owned by its receiver.
// An icon's own pixels come as straight ARGB instead (ImageFromIconHandle), so that they are written unchanged.
using WorkingImage = GdiplusImage;

// Owner of a drawing context on an image.
class GdiplusGraphics {
public:
    GdiplusGraphics() = default;
    // Opens a drawing context on the image; a failure leaves the owner empty and is recorded in the image.
    explicit GdiplusGraphics(const GdiplusImage& image);
    ~GdiplusGraphics();
    GdiplusGraphics(const GdiplusGraphics&) = delete;
    GdiplusGraphics& operator=(const GdiplusGraphics&) = delete;
    GdiplusGraphics(GdiplusGraphics&& other) noexcept : graphics_(std::exchange(other.graphics_, nullptr)) {}
    GdiplusGraphics& operator=(GdiplusGraphics&& other) noexcept;

    GpGraphics* Get() const { return graphics_; }
    explicit operator bool() const { return graphics_ != nullptr; }

private:
    GpGraphics* graphics_ = nullptr;
};

// Locks the whole bitmap in the given format and unlocks it on destruction. With ImageLockModeRead the bytes may
// only be read; with ImageLockModeWrite they are written back on unlock. A failure is recorded in the image, which
// must stay in place (not moved or released) while it is locked.
class BitmapLock {
public:
    BitmapLock(const GdiplusImage& image, UINT mode, Gdiplus::PixelFormat format = PixelFormat32bppPARGB);
    ~BitmapLock();
    BitmapLock(const BitmapLock&) = delete;
    BitmapLock& operator=(const BitmapLock&) = delete;

    bool Locked() const { return bitmap_ != nullptr; }
    uint8_t* Pixels() const { return static_cast<uint8_t*>(data_.Scan0); }
    int Stride() const { return data_.Stride; }
    int Width() const { return static_cast<int>(data_.Width); }
    int Height() const { return static_cast<int>(data_.Height); }
    uint8_t* Row(int y) const { return Pixels() + static_cast<ptrdiff_t>(y) * Stride(); }

private:
    const GdiplusImage& image_;
    GpBitmap* bitmap_ = nullptr;  // set while locked
    Gdiplus::BitmapData data_{};
};

// Decodes a picture file. On failure the result is empty and its LastStatus() says why (the file is no picture).
GdiplusImage DecodeImageFile(const wchar_t* path);
// Decodes a picture held in a stream (for example a PNG resource); the stream must outlive the image.
GdiplusImage DecodeImageStream(IStream* stream);

// A new bitmap of the given size and format with every byte zero (fully transparent); empty when it can't be
// made (no size, or not enough memory).
GdiplusImage CreateGdiplusBitmap(int width, int height, Gdiplus::PixelFormat format = PixelFormat32bppPARGB);
inline WorkingImage CreateWorkingImage(int width, int height) {
    return CreateGdiplusBitmap(width, height);
}
// A new working image holding a copy of top-down BGRA pixels with stride width * 4, premultiplied or, with
// PixelFormat32bppARGB, straight; empty when it can't be made.
WorkingImage WorkingImageFromPixels(const void* bgra, int width, int height,
                                    Gdiplus::PixelFormat format = PixelFormat32bppPARGB);
// The whole image's pixels converted to the format (32bpp formats only), rows top-down with stride width * 4;
// empty when the image is missing or can't be locked.
std::vector<uint32_t> ReadPixels(const GdiplusImage& image, Gdiplus::PixelFormat format = PixelFormat32bppPARGB);

// Frames of a multi-image picture (an .ico's entries, a TIFF's pages), in the image's first frame dimension.
unsigned FrameCount(const GdiplusImage& image);
// Makes a frame the active one: the image's size and pixels are then those of that frame.
bool SelectFrame(const GdiplusImage& image, unsigned index);

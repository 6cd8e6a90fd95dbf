#include "ui/ToolkitImages.h"

#include <cstring>

#include "engine/ImageScaling.h"
#include "sys/Handles.h"
#include "ui/Regions.h"
#include "ui/ScreenScale.h"

namespace {

constexpr uint32_t kMarkColor = 0xFF005F00;  // dark green
constexpr uint32_t kOutlineColor = 0xFF000000;
constexpr uint32_t kBoxColor = 0xFFFFFFFF;

// A straight-alpha copy of the image's pixels at its own size, owing nothing to the stream it was decoded from.
GdiplusImage ExactCopy(const GdiplusImage& image) {
    const int width = image.Width(), height = image.Height();
    const std::vector<uint32_t> pixels = ReadPixels(image, PixelFormat32bppARGB);
    if (pixels.empty()) return GdiplusImage();
    GdiplusImage copy = CreateGdiplusBitmap(width, height, PixelFormat32bppARGB);
    if (!copy) return GdiplusImage();
    {
        BitmapLock lock(copy, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB);
        if (!lock.Locked()) return GdiplusImage();
        for (int y = 0; y < height; ++y)
            std::memcpy(lock.Row(y), &pixels[static_cast<size_t>(y) * width], static_cast<size_t>(width) * 4);
    }
    return copy;
}

struct PenOwner {
    Gdiplus::GpPen* pen = nullptr;
    PenOwner(uint32_t argb, float width) { gdip::GdipCreatePen1(argb, width, Gdiplus::UnitWorld, &pen); }
    ~PenOwner() {
        if (pen) gdip::GdipDeletePen(pen);
    }
};
struct FillOwner {
    Gdiplus::GpSolidFill* brush = nullptr;
    explicit FillOwner(uint32_t argb) { gdip::GdipCreateSolidFill(argb, &brush); }
    ~FillOwner() {
        if (brush) gdip::GdipDeleteBrush(brush);
    }
};

void SetSmoothModes(GpGraphics* graphics) {
    gdip::GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeHighQuality);
    gdip::GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHalf);
}

// The large drawing reduced to the bitmap the pair's image part shows, `side` pixels square.
HBITMAP ReduceToPairImage(const WorkingImage& canvas, int side) {
    WorkingImage small = CreateWorkingImage(side, side);
    if (!small) return nullptr;
    {
        GdiplusGraphics graphics(small);
        if (!graphics) return nullptr;
        gdip::GdipSetInterpolationMode(graphics.Get(), Gdiplus::InterpolationModeHighQualityBicubic);
        gdip::GdipSetPixelOffsetMode(graphics.Get(), Gdiplus::PixelOffsetModeHalf);
        if (gdip::GdipDrawImageRectI(graphics.Get(), canvas.Get(), 0, 0, side, side) != kGpOk) return nullptr;
    }
    HBITMAP bitmap = nullptr;
    if (gdip::GdipCreateHBITMAPFromBitmap(small.Bitmap(), &bitmap, 0) != kGpOk) return nullptr;
    return bitmap;
}

// A check or radio image drawn on a square canvas of canvasSide pixels with the outline pen and the box and mark
// fills, then reduced to `side` pixels (0: the pair image's size on this screen).
template <typename Draw>
HBITMAP DrawPairImage(int side, int canvasSide, float penWidth, Draw draw) {
    if (side <= 0) side = scaleToScreen(kPairImageDesignSize);
    WorkingImage canvas = CreateWorkingImage(canvasSide, canvasSide);
    if (!canvas) return nullptr;
    {
        GdiplusGraphics graphics(canvas);
        if (!graphics) return nullptr;
        SetSmoothModes(graphics.Get());
        PenOwner outline(kOutlineColor, penWidth);
        FillOwner box(kBoxColor), mark(kMarkColor);
        draw(graphics.Get(), outline, box, mark);
    }
    return ReduceToPairImage(canvas, side);
}

}  // namespace

GdiplusImage loadPngResource(HMODULE module, int number, int width, int height) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(number), L"IMAGE");
    const DWORD size = resource ? SizeofResource(module, resource) : 0;
    HGLOBAL loaded = size ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return GdiplusImage();
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Receive()))) return GdiplusImage();
    ULARGE_INTEGER streamSize;
    streamSize.QuadPart = size;
    ULONG written = 0;
    if (FAILED(stream->SetSize(streamSize)) || FAILED(stream->Write(bytes, size, &written)) || written != size)
        return GdiplusImage();
    LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    // A bitmap decoded from a stream may read it again later; the result must outlive the stream, so it is a copy.
    GdiplusImage decoded = DecodeImageStream(stream.Get());
    if (!decoded || width <= 0 || height <= 0) return GdiplusImage();
    if (decoded.Width() == width && decoded.Height() == height) return ExactCopy(decoded);
    GdiplusImage scaled = ScaledArgbCopy(decoded, width, height);
    if (!scaled || scaled.LastStatus() != kGpOk) return GdiplusImage();
    return scaled;
}

HBITMAP bitmapFromImage(const GdiplusImage& image, int width, int height) {
    if (!image || width <= 0 || height <= 0) return nullptr;
    WorkingImage canvas = CreateWorkingImage(width, height);
    if (!canvas || !DrawImageScaled(image, canvas, width, height)) return nullptr;
    HBITMAP bitmap = nullptr;
    if (gdip::GdipCreateHBITMAPFromBitmap(canvas.Bitmap(), &bitmap, 0) != kGpOk) return nullptr;
    return bitmap;
}

HBITMAP makeCheckImage(int flags, int side) {
    constexpr int kCanvas = 40;
    return DrawPairImage(
        side, kCanvas, 2.0f, [flags](GpGraphics* g, PenOwner& outline, FillOwner& box, FillOwner& mark) {
            if (flags & 4) {
                PathRecord path;
                addRoundedRectPath(path, 8, 1, 1, 38, 38);
                gdip::GdipFillPath(g, box.brush, path.Get());
                gdip::GdipDrawPath(g, outline.pen, path.Get());
            } else {
                gdip::GdipFillRectangleI(g, box.brush, 0, 0, kCanvas, kCanvas);
                gdip::GdipDrawRectangleI(g, outline.pen, 1, 1, 38, 38);
            }
            if (flags & 1) {
                const Gdiplus::PointF points[] = {{5.0f, 16.5f},  {14.3f, 22.0f}, {33.7f, 4.6f}, {35.3f, 5.5f},
                                                  {16.5f, 35.0f}, {14.0f, 35.0f}, {3.7f, 18.0f}};
                gdip::GdipFillPolygon(g, mark.brush, points, 7, Gdiplus::FillModeAlternate);
            } else if (flags & 2) {
                gdip::GdipFillRectangleI(g, mark.brush, 6, 6, 28, 28);
            }
        });
}

HBITMAP makeRadioImage(int flags, int side) {
    return DrawPairImage(side, 80, 8.0f, [flags](GpGraphics* g, PenOwner& outline, FillOwner& box, FillOwner& mark) {
        gdip::GdipFillEllipseI(g, box.brush, 4, 4, 72, 72);
        gdip::GdipDrawEllipseI(g, outline.pen, 4, 4, 72, 72);
        if (flags & 1) gdip::GdipFillEllipseI(g, mark.brush, 22, 22, 36, 36);
    });
}

#include "ui/Regions.h"

#include "sys/DynamicCalls.h"
#include "sys/Handles.h"

namespace {

// Owners of the GDI+ objects used only here.
struct RegionOwner {
    Gdiplus::GpRegion* region = nullptr;
    ~RegionOwner() {
        if (region) gdip::GdipDeleteRegion(region);
    }
};
struct PenOwner {
    Gdiplus::GpPen* pen = nullptr;
    ~PenOwner() {
        if (pen) gdip::GdipDeletePen(pen);
    }
};
struct BrushOwner {
    Gdiplus::GpSolidFill* brush = nullptr;
    ~BrushOwner() {
        if (brush) gdip::GdipDeleteBrush(brush);
    }
};
struct WindowGraphics {
    GpGraphics* graphics = nullptr;
    explicit WindowGraphics(HWND window) { gdip::GdipCreateFromHWND(window, &graphics); }
    ~WindowGraphics() {
        if (graphics) gdip::GdipDeleteGraphics(graphics);
    }
};

}  // namespace

PathRecord::PathRecord() {
    Check(gdip::GdipCreatePath(Gdiplus::FillModeAlternate, &path_));
}

PathRecord::~PathRecord() {
    if (path_) gdip::GdipDeletePath(path_);
}

bool addRoundedRectPath(PathRecord& path, int corner, int x, int y, int width, int height) {
    if (!path) return false;
    const float r = static_cast<float>(corner), left = static_cast<float>(x), top = static_cast<float>(y);
    const float right = left + static_cast<float>(width), bottom = top + static_cast<float>(height);
    const float half = r / 2;
    const auto arc = Dynamic().gdipAddPathArc;
    GpStatus worst = kGpOk;
    auto record = [&path, &worst](GpStatus status) {
        if (path.Check(status) != kGpOk) worst = status;
    };
    // A corner of 0 has no arcs: a zero-sized arc is refused and would only record a failure.
    auto addArc = [&](float ax, float ay, float start) {
        if (r <= 0) return;
        record(arc ? static_cast<GpStatus>(arc(path.Get(), ax, ay, r, r, start, 90.0f)) : Gdiplus::NotImplemented);
    };
    record(gdip::GdipAddPathLine(path.Get(), left + half, top, right - half, top));
    addArc(right - r, top, -90.0f);
    record(gdip::GdipAddPathLine(path.Get(), right, top + half, right, bottom - half));
    addArc(right - r, bottom - r, 0.0f);
    record(gdip::GdipAddPathLine(path.Get(), right - half, bottom, left + half, bottom));
    addArc(left, bottom - r, 90.0f);
    record(gdip::GdipAddPathLine(path.Get(), left, bottom - half, left, top + half));
    addArc(left, top, 180.0f);
    record(gdip::GdipClosePathFigure(path.Get()));
    return worst == kGpOk;
}

bool drawPanel(const GdiplusImage& bitmap, int x, int y, int width, int height, uint32_t argb, int corner) {
    if (!bitmap) return false;
    GdiplusGraphics graphics(bitmap);
    if (!graphics) return false;
    gdip::GdipSetSmoothingMode(graphics.Get(), Gdiplus::SmoothingModeHighQuality);
    gdip::GdipSetPixelOffsetMode(graphics.Get(), Gdiplus::PixelOffsetModeHalf);
    PathRecord path;
    addRoundedRectPath(path, corner, x, y, width, height);
    PenOwner pen;
    if (bitmap.Check(gdip::GdipCreatePen1(argb, 1.0f, Gdiplus::UnitWorld, &pen.pen)) == kGpOk)
        bitmap.Check(gdip::GdipDrawPath(graphics.Get(), pen.pen, path.Get()));
    BrushOwner brush;
    if (bitmap.Check(gdip::GdipCreateSolidFill(argb, &brush.brush)) != kGpOk) return false;
    return bitmap.Check(gdip::GdipFillPath(graphics.Get(), brush.brush, path.Get())) == kGpOk;
}

HRGN makeRoundedRegion(HWND window, int x, int y, int width, int height, int corner) {
    PathRecord path;
    addRoundedRectPath(path, corner, x, y, width, height);
    RegionOwner region;
    if (!path || gdip::GdipCreateRegionPath(path.Get(), &region.region) != kGpOk) return nullptr;
    WindowGraphics graphics(window);
    if (!graphics.graphics) return nullptr;
    gdip::GdipSetPixelOffsetMode(graphics.graphics, Gdiplus::PixelOffsetModeHalf);
    gdip::GdipSetSmoothingMode(graphics.graphics, Gdiplus::SmoothingModeHighQuality);
    HRGN result = nullptr;
    if (gdip::GdipGetRegionHRgn(region.region, graphics.graphics, &result) != kGpOk) return nullptr;
    return result;
}

bool setRoundedRegion(HWND window, int width, int height, int corner) {
    HRGN region = makeRoundedRegion(window, 0, 0, width, height, corner);
    if (!region) return false;
    // The system owns the region once SetWindowRgn succeeds.
    if (SetWindowRgn(window, region, FALSE)) return true;
    DeleteObject(region);
    return false;
}

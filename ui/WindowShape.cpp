#include <windows.h>
#include <uxtheme.h>

#include "engine/ImageScaling.h"
#include "ui/Regions.h"
#include "ui/UiWindow.h"

namespace {

constexpr COLORREF kBitmapBackground = 0xFEFEFE;
constexpr int kPanelCorner = 4;
constexpr int kPanelRim = 4;
constexpr int kBandHeight = 35;
constexpr int kBandBottom = 39;  // the band ends 4 pixels above the bottom, inside the rim

}  // namespace

void UiWindow::setFrameStyle(int corner) {
    if (!window) return;
    // Wine answers an error here although the frame loses its theme as on Windows; the result is not needed.
    SetWindowTheme(window, L"", L"");
    RECT client = {};
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    const int width = client.right, height = client.bottom;
    if (corner <= 0) {
        framelessInset = 1;
        POINT place = origin;
        if (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) ScreenToClient(GetParent(window), &place);
        // WM_NCCALCSIZE now leaves the whole window to the client area, so the window shrinks onto its old client.
        SetWindowPos(window, nullptr, place.x, place.y, width, height,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    } else {
        framelessInset = 0;
        RECT outer = {};
        GetWindowRect(window, &outer);
        const int x = origin.x - outer.left, y = origin.y - outer.top;
        HRGN region = corner == 1 ? CreateRectRgn(x, y, x + width, y + height)
                                  : makeRoundedRegion(window, x, y, width, height, corner);
        if (region && !SetWindowRgn(window, region, FALSE)) DeleteObject(region);
    }
    GetClientRect(window, &client);
    backgroundWidth = client.right;
    backgroundHeight = client.bottom;
}

void UiWindow::paintFramedBackground(int width, int height, uint32_t rim, uint32_t inner, uint32_t band, int corner) {
    GdiplusImage canvas = CreateGdiplusBitmap(width, height, PixelFormat32bppPARGB);
    if (canvas) {
        drawPanel(canvas, 0, 0, width, height, rim, kPanelCorner);
        drawPanel(canvas, kPanelRim, kPanelRim, width - 2 * kPanelRim, height - 2 * kPanelRim, inner, kPanelCorner);
        if (band != inner)
            drawPanel(canvas, kPanelRim, height - kBandBottom, width - 2 * kPanelRim, kBandHeight, band, 0);
        setBackgroundImage(canvas, width, height);
    }
    if (!window) return;
    if ((GetWindowLongW(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION)
        setFrameStyle(corner);
    else if (corner != 0)
        setRoundedRegion(window, width, height, corner);
}

bool UiWindow::setBackgroundImage(const GdiplusImage& image, int width, int height) {
    if (!image || !memoryDC) return false;
    RECT client = {};
    if (window) GetClientRect(window, &client);
    width = width == 0 ? client.right : width == -1 ? image.Width() : width;
    height = height == 0 ? client.bottom : height == -1 ? image.Height() : height;
    if (width <= 0 || height <= 0) return false;

    HBITMAP bitmap = nullptr;
    if (width == image.Width() && height == image.Height()) {
        gdip::GdipCreateHBITMAPFromBitmap(image.Bitmap(), &bitmap, kBitmapBackground);
    } else {
        WorkingImage canvas = CreateWorkingImage(width, height);
        if (canvas && DrawImageScaled(image, canvas, width, height))
            gdip::GdipCreateHBITMAPFromBitmap(canvas.Bitmap(), &bitmap, kBitmapBackground);
    }
    if (!bitmap) return false;
    GdiObjectHandle owned(bitmap);
    HBRUSH brush = CreatePatternBrush(bitmap);
    if (!brush) return false;

    // The old bitmap leaves the memory DC before it is deleted.
    if (previousBitmap) SelectObject(memoryDC.Get(), previousBitmap);
    backgroundBitmap = std::move(owned);
    HGDIOBJ displaced = SelectObject(memoryDC.Get(), bitmap);
    if (!previousBitmap)
        previousBitmap = displaced;
    else if (displaced && displaced != previousBitmap)
        DeleteObject(displaced);
    if (backgroundMode == kBackgroundBorrowedBrush) backgroundBrush.Release();
    backgroundBrush.Reset(brush);
    backgroundMode = kBackgroundTiledBitmap;
    backgroundWidth = width;
    backgroundHeight = height;
    if (window) InvalidateRect(window, nullptr, TRUE);
    return true;
}

bool UiWindow::setBackgroundStretched() {
    if (!backgroundBitmap || !memoryDC) return false;
    backgroundMode = kBackgroundStretchedBitmap;
    if (window) InvalidateRect(window, nullptr, TRUE);
    return true;
}

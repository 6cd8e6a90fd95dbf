#include <windows.h>
#include <commctrl.h>

#include "ui/Subclass.h"
#include "ui/UiWindow.h"

namespace {

constexpr UINT_PTR kFlickerFreeSubclassId = 1;

// The DC of a whole window, frame included, released with the window.
class WholeWindowDc {
public:
    explicit WholeWindowDc(HWND window) : window_(window), dc_(GetWindowDC(window)) {}
    ~WholeWindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WholeWindowDc(const WholeWindowDc&) = delete;
    WholeWindowDc& operator=(const WholeWindowDc&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

}  // namespace

void UiWindow::excludeSparedControls(HWND parent, HDC dc, const std::vector<int32_t>* members) {
    auto exclude = [&](int index) {
        const UiControl* c = control(index);
        if (!c || !c->handle || !(c->flags & kControlNoErase) || c->kind == ControlKind::kUpDown ||
            c->backColor == kBackNullBrush || GetParent(c->handle) != parent || !IsWindowVisible(c->handle))
            return;
        RECT rect;
        GetWindowRect(c->handle, &rect);
        MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
        ExcludeClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
    };
    if (members) {
        for (int index : *members)
            exclude(index);
    } else {
        for (int index = 1; index <= count; ++index)
            exclude(index);
    }
}

bool UiWindow::eraseBackground(HWND hwnd, HDC dc) {
    if (!backgroundBrush) return false;
    excludeSparedControls(hwnd, dc, nullptr);
    RECT client;
    GetClientRect(hwnd, &client);
    if (backgroundMode == kBackgroundStretchedBitmap && memoryDC) {
        const int previousMode = SetStretchBltMode(dc, HALFTONE);
        StretchBlt(dc, 0, 0, client.right, client.bottom, memoryDC.Get(), 0, 0, backgroundWidth, backgroundHeight,
                   SRCCOPY);
        SetStretchBltMode(dc, previousMode);
    } else {
        FillRect(dc, &client, static_cast<HBRUSH>(backgroundBrush.Get()));
    }
    SelectClipRgn(dc, nullptr);
    return true;
}

bool UiWindow::eraseTabArea(HWND hwnd, HDC dc) {
    const UiControl* own = control(indexOfHandle(hwnd));
    if (!own) return false;
    const bool page = own->kind == ControlKind::kTabPage;
    const UiControl* tab = page ? control(indexOfHandle(own->ownerTab)) : own;
    if (!tab || !tab->backBrush) return false;
    if (page) excludeSparedControls(hwnd, dc, &own->members);
    RECT client;
    GetClientRect(hwnd, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(tab->backBrush.Get()));
    SelectClipRgn(dc, nullptr);
    return true;
}

HBRUSH UiWindow::backgroundBehind(HWND child, HDC dc) {
    if (!backgroundBrush) return nullptr;
    if (backgroundMode == kBackgroundSolidBrush || backgroundMode == kBackgroundDefaultErase ||
        backgroundMode == kBackgroundBorrowedBrush)
        return static_cast<HBRUSH>(backgroundBrush.Get());

    // A bitmap of what lies behind the control becomes its brush, so its transparent parts show the picture.
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return static_cast<HBRUSH>(backgroundBrush.Get());
    MemoryDcHandle canvasDc(CreateCompatibleDC(dc));
    GdiObjectHandle canvas(CreateCompatibleBitmap(dc, width, height));
    if (!canvasDc || !canvas) return static_cast<HBRUSH>(backgroundBrush.Get());
    {
        SelectGuard select(canvasDc.Get(), canvas.Get());
        RECT client = {};
        GetClientRect(window, &client);
        if (backgroundMode == kBackgroundStretchedBitmap && memoryDC && client.right > 0 && client.bottom > 0) {
            const int x = rect.left * backgroundWidth / client.right, y = rect.top * backgroundHeight / client.bottom;
            const int w = width * backgroundWidth / client.right, h = height * backgroundHeight / client.bottom;
            SetStretchBltMode(canvasDc.Get(), HALFTONE);
            StretchBlt(canvasDc.Get(), 0, 0, width, height, memoryDC.Get(), x, y, w, h, SRCCOPY);
        } else {
            SetBrushOrgEx(canvasDc.Get(), -rect.left, -rect.top, nullptr);
            RECT all = {0, 0, width, height};
            FillRect(canvasDc.Get(), &all, static_cast<HBRUSH>(backgroundBrush.Get()));
        }
    }
    HBRUSH brush = CreatePatternBrush(static_cast<HBITMAP>(canvas.Get()));
    if (!brush) return static_cast<HBRUSH>(backgroundBrush.Get());
    childBackgroundBrush.Reset(brush);
    return brush;
}

void UiWindow::setFlickerFree(int index, bool on) {
    const UiControl* c = control(index);
    if (!c || !c->handle) return;
    const bool installed = QuerySubclass(c->handle, FlickerFreeProc, kFlickerFreeSubclassId, nullptr);
    if (on && !installed)
        InstallSubclass(c->handle, FlickerFreeProc, kFlickerFreeSubclassId, reinterpret_cast<DWORD_PTR>(this));
    else if (!on && installed)
        RemoveSubclass(c->handle, FlickerFreeProc, kFlickerFreeSubclassId);
}

LRESULT UiWindow::paintOffscreen(HWND hwnd, int index) {
    UiControl& c = controls[index];
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    if (!dc) return 0;
    RECT outer;
    GetWindowRect(hwnd, &outer);
    const int width = outer.right - outer.left, height = outer.bottom - outer.top;
    MemoryDcHandle canvasDc(CreateCompatibleDC(dc));
    GdiObjectHandle canvas(CreateCompatibleBitmap(dc, width, height));
    if (canvasDc && canvas) {
        SelectGuard select(canvasDc.Get(), canvas.Get());
        RECT all = {0, 0, width, height};
        if (c.kind == ControlKind::kEdit || c.kind == ControlKind::kProgress) {
            if (c.backColor == kBackTransparent) {
                c.backColor = static_cast<int32_t>(GetBkColor(dc));
                c.backBrush.Reset(CreateSolidBrush(static_cast<COLORREF>(c.backColor)));
            }
            if (c.backBrush) FillRect(canvasDc.Get(), &all, static_cast<HBRUSH>(c.backBrush.Get()));
        } else if (c.kind == ControlKind::kTabPage) {
            FillRect(canvasDc.Get(), &all, GetSysColorBrush(COLOR_WINDOW));
        }
        SendMessageW(hwnd, WM_PRINT, reinterpret_cast<WPARAM>(canvasDc.Get()),
                     PRF_NONCLIENT | PRF_CLIENT | PRF_CHILDREN | PRF_OWNED);
        // The picture includes the frame, so it goes to the whole window, not only the client area.
        WholeWindowDc windowDc(hwnd);
        BitBlt(windowDc.Get(), 0, 0, width, height, canvasDc.Get(), 0, 0, SRCCOPY);
    }
    EndPaint(hwnd, &paint);
    return 0;
}

LRESULT CALLBACK UiWindow::FlickerFreeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR reference) {
    try {
        auto* self = reinterpret_cast<UiWindow*>(reference);
        switch (message) {
            case WM_ERASEBKGND:
                return 1;
            case WM_PAINT: {
                const int index = self->indexOfHandle(hwnd);
                const UiControl* c = self->control(index);
                if (c && c->backColor != kBackNullBrush && GetUpdateRect(hwnd, nullptr, FALSE))
                    return self->paintOffscreen(hwnd, index);
                break;
            }
            case WM_NCDESTROY:
                RemoveSubclass(hwnd, FlickerFreeProc, kFlickerFreeSubclassId);
                break;
        }
    } catch (...) {
    }
    return DefaultSubclassProc(hwnd, message, wParam, lParam);
}

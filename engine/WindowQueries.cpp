#include "engine/WindowQueries.h"

namespace {

// Windows 8 and later; the program also builds for Windows 7 headers.
constexpr LONG kExNoRedirectionBitmap = 0x00200000;  // WS_EX_NOREDIRECTIONBITMAP

}  // namespace

HICON GetWindowIcon(HWND window, int which) {
    if (!IsWindow(window)) return nullptr;
    const WPARAM kind = which == kIconBig ? ICON_BIG : ICON_SMALL;
    // A window of another process may be hung; SMTO_ABORTIFHUNG returns at once for one that is known to be.
    // https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-sendmessagetimeoutw
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(window, WM_GETICON, kind, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kIconQueryTimeoutMs, &answer) &&
        answer)
        return reinterpret_cast<HICON>(answer);
    if (HICON icon = reinterpret_cast<HICON>(DefWindowProcW(window, WM_GETICON, kind, 0))) return icon;
    return reinterpret_cast<HICON>(
        static_cast<ULONG_PTR>(GetClassLongPtrW(window, which == kIconBig ? GCLP_HICON : GCLP_HICONSM)));
}

HWND WindowUnderPoint(POINT screenPoint, HWND skip) {
    HWND window = WindowFromPoint(screenPoint);
    if (!window) return nullptr;
    while (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) {
        window = GetParent(window);
        if (!window) return nullptr;
    }
    if (window != skip) return window;
    for (HWND candidate = GetTopWindow(nullptr); candidate; candidate = GetWindow(candidate, GW_HWNDNEXT)) {
        if (candidate == skip || !IsWindowVisible(candidate) || IsIconic(candidate)) continue;
        if (GetWindowLongW(candidate, GWL_STYLE) & WS_CHILD) continue;
        if (GetWindowLongW(candidate, GWL_EXSTYLE) & kExNoRedirectionBitmap) continue;
        RECT rect;
        if (GetWindowRect(candidate, &rect) && PtInRect(&rect, screenPoint)) return candidate;
    }
    return nullptr;
}

namespace {

struct ChildSearch {
    POINT screenPoint;
    LONG bestHeight;
    HWND found;
};

BOOL CALLBACK VisitChild(HWND child, LPARAM data) {
    auto& search = *reinterpret_cast<ChildSearch*>(data);
    if (!IsWindowVisible(child)) return TRUE;
    const LRESULT hit = DefWindowProcW(child, WM_NCHITTEST, 0, MAKELPARAM(search.screenPoint.x, search.screenPoint.y));
    if (hit <= 0) return TRUE;
    RECT client;
    if (!GetClientRect(child, &client)) return TRUE;
    const LONG height = client.bottom - client.top;
    if (height <= search.bestHeight) {
        search.bestHeight = height;
        search.found = child;
    }
    return TRUE;
}

}  // namespace

HWND ChildWindowAtPoint(HWND window, POINT clientPoint) {
    if (!IsWindow(window)) return nullptr;
    POINT screen = clientPoint;
    // MapWindowPoints returns 0 both for an error and for a zero offset; only the last error tells them apart.
    // https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-mapwindowpoints
    SetLastError(ERROR_SUCCESS);
    if (MapWindowPoints(window, HWND_DESKTOP, &screen, 1) == 0 && GetLastError() != ERROR_SUCCESS) return nullptr;
    if (GetWindowLongW(window, GWL_STYLE) & WS_CLIPCHILDREN) return WindowFromPoint(screen);
    ChildSearch search{screen, 500000, nullptr};
    EnumChildWindows(window, VisitChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

double HighResTimer::Start() {
    LARGE_INTEGER frequency, counter;
    if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&counter)) return 0;
    ticksPerMs_ = static_cast<double>(frequency.QuadPart / 1000);
    if (ticksPerMs_ <= 0) return 0;
    startMs_ = static_cast<double>(counter.QuadPart) / ticksPerMs_;
    return startMs_;
}

double HighResTimer::Now() const {
    LARGE_INTEGER counter;
    if (ticksPerMs_ <= 0 || !QueryPerformanceCounter(&counter)) return 0;
    return static_cast<double>(counter.QuadPart) / ticksPerMs_;
}

double HighResTimer::Elapsed() const {
    return startMs_ == 0 ? 0 : Now() - startMs_;
}

double HighResTimer::Elapsed(double reference) const {
    return startMs_ == 0 ? 0 : Now() - reference;
}

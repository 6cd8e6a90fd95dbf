#include "ui/ScreenScale.h"

#include <windows.h>

int screenDpi() {
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        const int value = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
        if (screen) ReleaseDC(nullptr, screen);
        return value > 0 ? value : 96;
    }();
    return dpi;
}

int scaleToScreen(int designPixels) {
    return MulDiv(designPixels, screenDpi(), 96);
}

#pragma once
// Real input and screen reading for window tests: clicks and keys go through the system's input queue, and
// pixels are read back from the screen as the user sees them, and from bitmaps.

#include <windows.h>

#include <cstdint>
#include <vector>

namespace testing_support {

// Moves the pointer to a screen point and presses and releases a mouse button there.
inline void ClickAt(POINT screen, bool right = false) {
    SetCursorPos(screen.x, screen.y);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

// The screen centre of a window.
inline POINT CentreOnScreen(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

inline void ClickCentre(HWND window, bool right = false) {
    ClickAt(CentreOnScreen(window), right);
}

// Presses and releases a key (virtual-key code) for whichever window has the keyboard focus.
inline void PressKey(WORD key) {
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = inputs[1].ki.wVk = key;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
}

// The header of a top-down 32-bit DIB.
inline BITMAPINFO TopDownDib(int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// A rectangle of the screen as 0x00RRGGBB pixels, rows top-down.
struct ScreenShot {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    uint32_t At(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFF;
        return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF;
    }
};

inline ScreenShot CaptureScreen(const RECT& area) {
    ScreenShot shot;
    shot.width = area.right - area.left;
    shot.height = area.bottom - area.top;
    if (shot.width <= 0 || shot.height <= 0) return shot;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = TopDownDib(shot.width, shot.height);
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, section);
    BitBlt(memory, 0, 0, shot.width, shot.height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    const auto* source = static_cast<const uint32_t*>(bits);
    shot.pixels.assign(source, source + static_cast<size_t>(shot.width) * shot.height);
    SelectObject(memory, previous);
    DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return shot;
}

inline ScreenShot CaptureWindow(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return CaptureScreen(rect);
}

// Pixels (0xAARRGGBB) of a bitmap read back through a top-down 32-bit DIB.
struct BitmapPixels {
    int width = 0, height = 0;
    std::vector<uint32_t> values;
    uint32_t at(int x, int y) const { return values[static_cast<size_t>(y) * width + x]; }
    uint32_t rgb(int x, int y) const { return at(x, y) & 0xFFFFFF; }
};

inline BitmapPixels ReadBitmap(HBITMAP bitmap) {
    BitmapPixels result;
    BITMAP info = {};
    if (!GetObjectW(bitmap, sizeof(info), &info)) return result;
    result.width = info.bmWidth;
    result.height = info.bmHeight;
    result.values.resize(static_cast<size_t>(info.bmWidth) * info.bmHeight);
    BITMAPINFO header = TopDownDib(info.bmWidth, info.bmHeight);
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, bitmap, 0, info.bmHeight, result.values.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return result;
}

// Clearly green: the colour of the toolkit's check mark.
inline bool IsDarkGreen(uint32_t argb) {
    const int r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    return g > 40 && g > r + 30 && g > b + 30;
}

inline int CountDarkGreen(const BitmapPixels& pixels) {
    int count = 0;
    for (uint32_t value : pixels.values)
        count += IsDarkGreen(value) ? 1 : 0;
    return count;
}

}  // namespace testing_support

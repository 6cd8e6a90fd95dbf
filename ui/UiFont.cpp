#include "ui/UiFont.h"

#include "ui/ScreenScale.h"

HFONT makeFont(double size, int weight, int attributes, const wchar_t* face, int quality) {
    if (size < 1) size = 8.5;
    if (weight < 1) weight = FW_NORMAL;
    const int height = -static_cast<int>(size * screenDpi() / 72);
    return CreateFontW(height, 0, 0, 0, weight, (attributes & kFontItalic) != 0, (attributes & kFontUnderline) != 0,
                       (attributes & kFontStrikeOut) != 0, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS,
                       static_cast<DWORD>(quality ? quality : PROOF_QUALITY), DEFAULT_PITCH, face);
}

HFONT setControlFont(HWND control, int weight, int attributes, const wchar_t* face, int quality, double size) {
    if (!control || !IsWindow(control)) return nullptr;
    HFONT font = makeFont(size, weight, attributes, face, quality);
    if (font) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return font;
}

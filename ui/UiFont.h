#pragma once

#include <windows.h>

// Font attribute bits of the toolkit's font defaults.
constexpr int kFontItalic = 2;
constexpr int kFontUnderline = 4;
constexpr int kFontStrikeOut = 8;

// A font of `size` points at the screen's dpi (below 1 point: 8.5), weight (below 1: 400), attribute bits, face and
// quality (0: proof quality). Owned by the caller.
HFONT makeFont(double size, int weight, int attributes, const wchar_t* face, int quality);

// Makes that font and hands it to the control with WM_SETFONT (no redraw); the caller owns the font. Null when the
// font cannot be made or there is no control.
HFONT setControlFont(HWND control, int weight, int attributes, const wchar_t* face, int quality, double size);

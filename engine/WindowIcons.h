#pragma once

#include <windows.h>

#include "engine/IconJobFlags.h"
#include "engine/Imaging.h"
#include "sys/WideString.h"

// A window's small and large icon (its answer to WM_GETICON, else the default window procedure's, else its class
// icon), each missing one replaced by the other; both null when the window has none. The icons belong to the window
// and are never destroyed.
struct WindowIconPair {
    HICON smallIcon = nullptr;
    HICON largeIcon = nullptr;
    explicit operator bool() const { return smallIcon != nullptr; }
};
WindowIconPair ReadWindowIcons(HWND window);

// One size x size working image of a window's icon pair: the small icon for sizes below 24, the large one from
// 24, drawn at the icon's own size and scaled with the flags' fit mode. Empty when that icon is missing.
WorkingImage LoadWindowIconImage(HICON smallIcon, HICON largeIcon, int size, IconJobFlags flags);

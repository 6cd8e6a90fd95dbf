#pragma once

#include <windows.h>

#include "engine/IconJobFlags.h"
#include "engine/Imaging.h"
#include "sys/WideString.h"

// Writes an icon file from a window's small and large icon (its answer to WM_GETICON, else the default window
// procedure's, else its class icon). A window with only one of them uses it for both; a window with neither gets
// no file. The output's extension is brought in line with the flags on a copy. True when the file was written.
// The icons belong to the window and are never destroyed.
bool MakeIconFromWindow(HWND window, const WideString& output, const SizeList& sizes, IconJobFlags flags);

// The two steps of MakeIconFromWindow, for a caller that tells a window without icons (skipped) from one whose file
// failed: the window's icon pair, each missing one replaced by the other (both null: the window has none), and the
// file written from such a pair.
struct WindowIconPair {
    HICON smallIcon = nullptr;
    HICON largeIcon = nullptr;
    explicit operator bool() const { return smallIcon != nullptr; }
};
WindowIconPair ReadWindowIcons(HWND window);
bool WriteWindowIconFile(const WindowIconPair& icons, const WideString& output, const SizeList& sizes,
                         IconJobFlags flags);

// One size x size working image of a window's icon pair: the small icon for sizes below 24, the large one from
// 24, drawn at the icon's own size and scaled with the flags' fit mode. Empty when that icon is missing.
WorkingImage LoadWindowIconImage(HICON smallIcon, HICON largeIcon, int size, IconJobFlags flags);

// Replaces each of the 14 system cursors by a copy of the icon and makes the icon the current cursor. All 14 are
// attempted; true when every one was replaced.
bool ReplaceSystemCursors(HICON icon);
// Reloads the system cursors from the user's scheme.
bool RestoreSystemCursors();

#pragma once
// What the system hands the windows of this process: files dropped on them, and the dialogs they open.

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace testing_support {

// A DROPFILES block as the shell hands it over, for a point in the window's client area: header, then the wide
// paths each with a terminator, then one more.
inline HGLOBAL MakeDrop(POINT point, const std::vector<std::wstring>& paths) {
    size_t units = 1;
    for (const auto& path : paths)
        units += path.size() + 1;
    HGLOBAL block = GlobalAlloc(GHND, sizeof(DROPFILES) + units * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    header->pt = point;
    header->fNC = FALSE;
    header->fWide = TRUE;
    auto* out = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(header) + sizeof(DROPFILES));
    for (const auto& path : paths) {
        wcscpy(out, path.c_str());
        out += path.size() + 1;
    }
    *out = 0;
    GlobalUnlock(block);
    return block;
}

// Posts the drop of the paths at a point of the window's client area, as the shell does when the user lets go.
inline void PostDrop(HWND window, POINT point, const std::vector<std::wstring>& paths) {
    PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(point, paths)), 0);
}

// The centre of a child window in its parent's client coordinates.
inline POINT CentreIn(HWND child, HWND parent) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

inline BOOL CALLBACK NoteOwnDialog(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) || lstrcmpW(className, L"#32770") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// A visible dialog of this process, or null.
inline HWND FindOwnDialog() {
    HWND found = nullptr;
    EnumWindows(NoteOwnDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace testing_support

#include "app/SystemCursors.h"

bool CursorCalls::SetSystemCursor(HCURSOR cursor, DWORD id) {
    return ::SetSystemCursor(cursor, id) != FALSE;
}

bool CursorCalls::ReloadSystemCursors() {
    return SystemParametersInfoW(SPI_SETCURSORS, 0, nullptr, 0) != FALSE;
}

HCURSOR CursorCalls::SetCurrentCursor(HCURSOR cursor) {
    return ::SetCursor(cursor);
}

HCURSOR CursorCalls::CurrentCursor() {
    return ::GetCursor();
}

CursorCalls& PlatformCursorCalls() {
    static CursorCalls platform;
    return platform;
}

bool ReplaceSystemCursors(HICON icon, CursorCalls& calls) {
    bool all = true;
    for (DWORD id : kReplacedCursorIds) {
        // The system takes over the copy it was given and destroys it when the cursor is replaced again; a copy it
        // refused is still ours.
        HCURSOR copy = CopyIcon(icon);
        if (copy && calls.SetSystemCursor(copy, id)) continue;
        if (copy) DestroyIcon(copy);
        all = false;
    }
    // Without an icon the pointer would vanish.
    if (icon) calls.SetCurrentCursor(icon);
    return all;
}

bool RestoreSystemCursors(CursorCalls& calls) {
    return calls.ReloadSystemCursors();
}

SystemCursorGuard::SystemCursorGuard(HICON icon, CursorCalls& calls) : calls_(calls), icon_(icon) {
    previous_ = calls_.CurrentCursor();
    replaced_ = ReplaceSystemCursors(icon, calls_);
}

SystemCursorGuard::~SystemCursorGuard() {
    Restore();
}

void SystemCursorGuard::ShowIconAgain() {
    if (pending_ && icon_) calls_.SetCurrentCursor(icon_);
}

bool SystemCursorGuard::Restore() {
    if (!pending_) return restored_;
    pending_ = false;
    // Reloaded even after a partial replacement: some cursors may have been replaced.
    restored_ = RestoreSystemCursors(calls_);
    // The icon stays the current cursor until the next WM_SETCURSOR otherwise, and its owner may destroy it.
    calls_.SetCurrentCursor(previous_);
    return restored_;
}

#pragma once

#include <windows.h>

// The system cursors the window picker replaces while it is dragged, in the order they are replaced.
constexpr DWORD kReplacedCursorIds[] = {
    32650,  // OCR_APPSTARTING
    32512,  // OCR_NORMAL
    32515,  // OCR_CROSS
    32649,  // OCR_HAND
    32651,  // OCR_HELP
    32513,  // OCR_IBEAM
    32648,  // OCR_NO
    32646,  // OCR_SIZEALL
    32643,  // OCR_SIZENESW
    32645,  // OCR_SIZENS
    32642,  // OCR_SIZENWSE
    32644,  // OCR_SIZEWE
    32516,  // OCR_UP
    32514,  // OCR_WAIT
};

// The platform calls that change the cursors the whole system shows. Tests derive from it to see what a drag asked
// of the system; the default forwards to the platform.
class CursorCalls {
public:
    virtual ~CursorCalls() = default;
    // SetSystemCursor: on success the system owns the cursor handle.
    virtual bool SetSystemCursor(HCURSOR cursor, DWORD id);
    // SystemParametersInfoW(SPI_SETCURSORS): the system reloads its own cursors.
    virtual bool ReloadSystemCursors();
    // SetCursor; returns the cursor shown before.
    virtual HCURSOR SetCurrentCursor(HCURSOR cursor);
    virtual HCURSOR CurrentCursor();
};

// The platform's calls.
CursorCalls& PlatformCursorCalls();

// Replaces each of the fourteen system cursors by a fresh copy of the icon (all are attempted even when one fails),
// then shows the icon as the current cursor. True when all fourteen were replaced; without an icon nothing is
// replaced and the current cursor stays.
bool ReplaceSystemCursors(HICON icon, CursorCalls& calls = PlatformCursorCalls());
// Has the system reload its own cursors; true on success.
bool RestoreSystemCursors(CursorCalls& calls = PlatformCursorCalls());

// Shows an icon in place of every system cursor for its own lifetime. It remembers the cursor shown before and puts
// the system's cursors and that cursor back when Restore is called or the guard goes away, whichever way the scope
// is left, so the cursors are never left replaced.
class SystemCursorGuard {
public:
    SystemCursorGuard(HICON icon, CursorCalls& calls = PlatformCursorCalls());
    ~SystemCursorGuard();
    SystemCursorGuard(const SystemCursorGuard&) = delete;
    SystemCursorGuard& operator=(const SystemCursorGuard&) = delete;

    // True when all fourteen cursors were replaced.
    bool Replaced() const { return replaced_; }
    // Makes the icon the current cursor again, for as long as nothing was restored. Where the system cursors could
    // not be replaced, the next WM_SETCURSOR shows a system cursor instead of the icon.
    void ShowIconAgain();
    // Restores once; later calls do nothing and return the first outcome.
    bool Restore();

private:
    CursorCalls& calls_;
    HICON icon_;
    HCURSOR previous_ = nullptr;
    bool replaced_ = false;
    bool pending_ = true;
    bool restored_ = false;
};

#pragma once

#include <windows.h>

// Small questions about windows and time shared by the window picker and the window toolkit. They hold no state
// beyond a timer's two numbers and call only the platform.

constexpr int kIconSmall = 0;
constexpr int kIconBig = 1;

// How long GetWindowIcon waits for a window's own answer; a hung window must not stall the caller.
constexpr UINT kIconQueryTimeoutMs = 300;

// The window's small (kIconSmall) or large (kIconBig) icon: its answer to WM_GETICON, else the default window
// procedure's, else its class icon. The icon still belongs to the window; null when none is found.
HICON GetWindowIcon(HWND window, int which);

// The top-level window under a screen point. When that is the window to skip, the first visible, not minimised
// top-level window in Z order whose rectangle holds the point. Null when there is none.
HWND WindowUnderPoint(POINT screenPoint, HWND skip);

// The child window of `window` under a point in its client coordinates: the smallest visible child that hit-tests
// positive there (the later one among equal heights). For a window with WS_CLIPCHILDREN, the window at the point.
// Null when the window is gone or nothing is there.
HWND ChildWindowAtPoint(HWND window, POINT clientPoint);

// A millisecond timer on the high-resolution performance counter.
class HighResTimer {
public:
    // Reads the counter and remembers the time in milliseconds; returns that time.
    double Start();
    // Milliseconds since Start(), or since a reference time in this timer's milliseconds; 0 when never started.
    double Elapsed() const;
    double Elapsed(double reference) const;
    // Current counter time in milliseconds, 0 when never started.
    double Now() const;
    double StartTime() const { return startMs_; }

private:
    double ticksPerMs_ = 0;
    double startMs_ = 0;
};

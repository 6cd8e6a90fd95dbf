#pragma once

#include <windows.h>

#include <cstdint>

#include "engine/Imaging.h"

// A GDI+ path with the status of the most recent failing call made on it (success leaves the status as it was).
class PathRecord {
public:
    PathRecord();
    ~PathRecord();
    PathRecord(const PathRecord&) = delete;
    PathRecord& operator=(const PathRecord&) = delete;

    Gdiplus::GpPath* Get() const { return path_; }
    explicit operator bool() const { return path_ != nullptr; }
    GpStatus LastStatus() const { return status_; }
    GpStatus Check(GpStatus status) {
        if (status != kGpOk) status_ = status;
        return status;
    }

private:
    Gdiplus::GpPath* path_ = nullptr;
    GpStatus status_ = kGpOk;
};

// Adds a closed rectangle whose corners are arcs of diameter `corner` (0: square corners) to the path; true when
// every call succeeded and the figure was closed.
bool addRoundedRectPath(PathRecord& path, int corner, int x, int y, int width, int height);

// Outlines (pen 1.0) and fills the rounded rectangle on the bitmap in one ARGB colour; true when the fill succeeded.
bool drawPanel(const GdiplusImage& bitmap, int x, int y, int width, int height, uint32_t argb, int corner);

// The region of a width x height rounded rectangle at (0, 0), as GDI+ smooths it for the window, becomes the
// window's shape (no redraw). False leaves the window as it was.
bool setRoundedRegion(HWND window, int width, int height, int corner);

// A region of that rounded rectangle at (x, y), or null; owned by the caller.
HRGN makeRoundedRegion(HWND window, int x, int y, int width, int height, int corner);

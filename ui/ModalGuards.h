#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ui/UiControl.h"

class UiWindow;

// Disables a range of a window's controls while a modal box is up and gives back exactly what it took: only the
// controls that were enabled before are enabled again, and the keyboard focus returns to where it was.
class ControlFreeze {
public:
    ControlFreeze() = default;
    ~ControlFreeze();
    ControlFreeze(const ControlFreeze&) = delete;
    ControlFreeze& operator=(const ControlFreeze&) = delete;

    // Disables the enabled controls from first to last (last above the control count: up to the last control).
    // The same window and range again while frozen does nothing; another freeze is undone first.
    void freeze(UiWindow* target, int firstIndex, int lastIndex);
    // Re-enables what freeze disabled and restores the focus; nothing when idle.
    void unfreeze();
    bool frozen() const { return window != nullptr; }

    // Whether each control of the range was enabled before the freeze, indexed from `first`.
    std::vector<uint8_t> wasEnabled;
    int32_t skipIndex = -1;  // a control that unfreeze leaves disabled (0 = none; -1 when idle)
    int32_t focusIndex = 0;  // control that had the keyboard focus inside the range (0 = none)
    int32_t first = 0;
    int32_t last = 0;
    ControlKind skipKind = ControlKind::kLabel;  // kind that unfreeze never touches
    UiWindow* window = nullptr;

private:
    // Runs `change` with redrawing suspended when the window is visible, then repaints it.
    template <typename Change>
    void withoutRedraw(Change change);
    void drain();
};

// Disables an owner window for the time a box is up and gives back the enabled state it had.
class OwnerLock {
public:
    OwnerLock() = default;
    ~OwnerLock() { release(); }
    OwnerLock(const OwnerLock&) = delete;
    OwnerLock& operator=(const OwnerLock&) = delete;

    void lock(HWND owner);
    void release();

    HWND window = nullptr;
    int32_t wasEnabled = 1;
};

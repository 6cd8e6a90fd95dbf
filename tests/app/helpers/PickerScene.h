#pragma once

// The windows the window-picker tests drag over, shared by the in-process test and the drag helper program: an
// owner with the picker and the field that receives the picked text, and targets with known titles and icons.

#include <windows.h>

#include <cstdint>
#include <vector>

#include "IconImageSupport.h"
#include "ScreenSupport.h"
#include "sys/Handles.h"
#include "ui/UiWindow.h"

namespace picker_scene {

using testing_support::MakeSolidIcon;

constexpr uint32_t kPickerColour = 0xFF00A000;  // the picker control's icon
constexpr uint32_t kOwnerColour = 0xFFE0C000;   // the owner's window icons
constexpr uint32_t kSmallColour = 0xFFFF0000;   // a target's small icon
constexpr uint32_t kLargeColour = 0xFF0000FF;   // a target's large icon

// A shown toolkit window with a title and the given icons (copies; null for none).
inline bool CreateTarget(UiWindow& window, const wchar_t* className, const wchar_t* title, HICON small, HICON big,
                         RECT where) {
    if (!window.create(className, title, where.right - where.left, where.bottom - where.top, where.left, where.top,
                       static_cast<int32_t>(WS_POPUP), 0))
        return false;
    window.setWindowIcons(big ? CopyIcon(big) : nullptr, small ? CopyIcon(small) : nullptr);
    window.show(SW_SHOWNOACTIVATE, kShowUpdate);
    return true;
}

// The window the drag starts from, 500 x 300, so that the catcher centred over it lies inside it: the picker icon at
// (20, 20), 24 x 24, and the field below it.
struct Owner {
    UiEventSlot events;
    UiWindow window{&events};
    IconHandle pickerIcon = MakeSolidIcon(24, kPickerColour);
    IconHandle ownIcon = MakeSolidIcon(32, kOwnerColour);
    int picker = 0;
    int field = 0;

    bool Create(int x, int y) {
        if (!CreateTarget(window, L"GwPickerTestOwner", L"picker owner", ownIcon.Get(), ownIcon.Get(),
                          RECT{x, y, x + 500, y + 300}))
            return false;
        picker = window.addIconImage(pickerIcon.Get(), 20, 20, 24, 24);
        field = window.addEdit(L"stale text", 20, 80, 260, 20);
        window.show(SW_SHOWNORMAL, kShowUpdate | kShowToFront);
        return picker && field;
    }
    // Centre of the picker control on the screen.
    POINT PickerPoint() const { return testing_support::CentreOnScreen(window.handleOf(picker)); }
};

}  // namespace picker_scene

#pragma once

#include <windows.h>

#include <cstdint>

class UiWindow;

// Window-level event codes; a positive code is the index of the control that was clicked or changed.
enum UiEvent : int32_t {
    kEventNone = 0,
    kEventPositionChanging = -3,  // WM_WINDOWPOSCHANGING, WM_SIZING
    kEventSized = -4,
    kEventFilesDropped = -5,
    kEventClose = -6,
    kEventMinimize = -7,
    kEventRestore = -8,
    kEventMaximize = -9,
    kEventLeftDown = -10,
    kEventLeftUp = -11,
    kEventRightDown = -12,
    kEventRightUp = -13,
    kEventDoubleClick = -14,
    kEventRightDoubleClick = -15,
    kEventMouseMove = -16,
    kEventMouseWheel = -17,
    kEventNcDoubleClick = -18,
    kEventActivated = -19,
    kEventDeactivated = -20,
    kEventHover = -21,
    kEventContextMenu = -22,
    kEventNcMouseLeave = -23,
    kEventMoving = -24,
    kEventMoved = -25,
    kEventReturn = -26,
    kEventNcLeftDown = -27,
    kEventNcLeftUp = -28,
    kEventNcActivating = -29,
    kEventNcDeactivating = -30,
    kEventSessionEnd = -31,
    kEventTabChanging = -35,
    kEventTabChanged = -36,
    kEventEditUpdate = -75,
    kEventEditChange = -76,
    kEventEditSetFocus = -77,
    kEventEditKillFocus = -78,
    kEventChar = -201,
    kEventEnterMenuLoop = -206,
    kEventExitMenuLoop = -207,
    kEventDeviceChange = -208,
    kEventLoopEnded = -300,
};

// The one record into which toolkit windows write their events; the application pulls them with waitEvent.
struct UiEventSlot {
    int32_t code = 0;            // control index (> 0), UiEvent (< 0), or 0
    HWND window = nullptr;       // window that received the message behind the event
    uint32_t message = 0;        // that message's number (a fixed number for a few events)
    int32_t param1 = 0;          // usually a control index or the message's wParam
    intptr_t param2 = 0;         // usually lParam, a control handle or a pointer to text
    MSG msg = {};                // the message last taken from the queue by pumpEvent
    UiWindow* source = nullptr;  // window that raised the last event
    UiWindow* active = nullptr;  // toolkit window in the foreground: keyboard navigation and accelerators go to it
    uint8_t pending = 0;         // an event was raised outside the pump
    uint8_t closeRequested = 0;  // set by kEventClose, cleared by the next control event

    // Clears code, window, message, param1, param2 and msg.
    void clearEvent() {
        code = 0;
        window = nullptr;
        message = 0;
        param1 = 0;
        param2 = 0;
        msg = MSG{};
    }
    void clearAll() { *this = UiEventSlot{}; }
};

#pragma once

#include <windows.h>

#include <functional>

#include "app/SystemCursors.h"
#include "sys/WideString.h"

class UiWindow;

// The catcher window's class; its title and control texts are in WindowPicker.cpp.
constexpr const wchar_t* kCatcherClass = L"WinCatcherClass";
// A picked window's text begins with this 32-character marker, followed by "0x" and the handle in eight upper-case
// hexadecimal digits.
constexpr const wchar_t* kPickerMarker = L"->从应用程序窗口中选择:                   ";
constexpr int kPickerMarkerLength = 32;

// The text that names a picked window, and the window such a text names (null when the text is none). A window
// handle has 32 significant bits on every Windows, so eight digits hold it; a 64-bit process widens them again by
// sign extension, as the system does when a handle crosses from 32-bit code.
WideString PickerResultText(HWND window);
HWND WindowOfPickerText(const WideString& text);

// What the picker asks of the system beyond its windows. Tests replace parts to drive a drag without a mouse.
struct PickerSystem {
    CursorCalls* cursors = nullptr;    // null: the platform's
    std::function<bool()> buttonHeld;  // empty: the left or right mouse button is down (GetAsyncKeyState)
};

// Lets the user drag from the picker control onto any window; called while the mouse button that was pressed on
// the picker is still down. Meanwhile the catcher window, centred over the owner, shows the title and icons of the
// window under the cursor, the picker control is hidden and every system cursor shows the picker's icon. The field
// is emptied at the start; when the drag ends over a window with a small or a large icon, the field receives that
// window's picker text and the result is true. Esc during the drag cancels it: nothing is chosen, the field gets its
// earlier text back and the result is false. Cursors, picker and catcher are put back on every way out. A non-null
// pointed receives the window the drag ended over, also one that gave no icon (null when none or cancelled).
bool PickWindow(UiWindow& owner, int pickerIndex, int fieldIndex, const PickerSystem& system = {},
                HWND* pointed = nullptr);

#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/UiEventSlot.h"
#include "ui/UiWindow.h"

// Kinds of box: modal boxes with their buttons, and the non-modal message tip.
enum MessageBoxType : int32_t {
    kBoxClosed = -1,
    kBoxOk = 0,
    kBoxYesNo = 1,
    kBoxOkCancel = 2,
    kBoxYesNoCancel = 3,
    kBoxTip = 4,
};

// The program's own drawn message box and message tip. One object shows one of them at a time; its window writes
// into the owner's event slot, and closing it never loses or fakes the event the application is reading.
class UiMessageBox {
public:
    static constexpr const wchar_t* kBoxClass = L"_WINDOW_MsgBoxClass";
    static constexpr const wchar_t* kTipClass = L"_WndMsgTipClass";

    UiMessageBox() = default;
    // Bound to an owner's slot from the start: the box writes there even when shown without an owner window.
    explicit UiMessageBox(UiEventSlot* ownerEvents);
    ~UiMessageBox() { dispose(); }
    UiMessageBox(const UiMessageBox&) = delete;
    UiMessageBox& operator=(const UiMessageBox&) = delete;

    // Shows a box of the type (0 OK, 1 Yes/No, 2 OK/Cancel, 3 Yes/No/Cancel, 4 message tip) over the owner
    // window (may be null). A tip's text is "body||title". Returns the box window, null when none was made.
    HWND showMessage(UiWindow* owner, const wchar_t* text, int boxType, int height, int width);
    // Hides and destroys the box; drains the queue through the owner's slot with its content kept.
    void closeMessage();
    // Control index of the first, second or third button; -1 for other numbers.
    int buttonIndex(int n) const;
    int currentType() const { return type; }
    UiWindow& boxWindow() { return window; }
    void dispose();

    int32_t labelIndex = -1;
    int32_t button1 = -1, button2 = -1, button3 = -1;
    int32_t type = kBoxClosed;
    int32_t reserved = 0;
    uint32_t rimColor = 0xFF000000;
    uint32_t innerColor = 0xFFFFFFFF;
    uint32_t bandColor = 0xFFF0F0FF;
    COLORREF textColor = 0;
    int32_t cornerSize = 12;
    UiEventSlot* ownerSlot = nullptr;
    UiWindow window;
    int32_t lastPump = 0;

private:
    HWND showBox(UiWindow* owner, const wchar_t* text, int boxType, int height, int width);
    HWND showTip(UiWindow* owner, const wchar_t* text, int height, int width);
    void bindTo(UiWindow* owner);
    static LRESULT CALLBACK TipHookProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR reference);
};

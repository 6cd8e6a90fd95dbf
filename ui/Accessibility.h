#pragma once

#include <windows.h>

#include <cstdint>

#include "sys/WideString.h"

class UiWindow;

// The timer a status line's delayed announcement waits on (UiWindow::setLiveRegion).
constexpr UINT_PTR kAnnouncementTimer = 0x0A11;

// What a screen reader is told about one control beyond what the system reads from its window on its own.
struct AccessibleFacts {
    WideString name;    // empty: the system's name
    int32_t role = 0;   // an MSAA role (ROLE_SYSTEM_*); 0: the system's role
    bool pair = false;  // a drawn check box or radio button: checked and focused replace the system's states
    bool checked = false;
    bool focused = false;
    int32_t clicked = 0;  // the control accDoDefaultAction clicks; 0: no action of ours
};

// The accessible object of a toolkit control: the system's standard object for its window, with the name, role,
// states and default action of the facts that UiWindow::describeAccessible gives at each call. It holds only the
// window handle, so a screen reader keeping it after the window is gone gets an error, not a dangling pointer.
class AccessibleControl;

// Answers WM_GETOBJECT for OBJID_CLIENT with a new AccessibleControl for the window; 0 when none can be made.
LRESULT AnswerAccessibleObject(HWND control, WPARAM wParam);

// Dynamic Annotation: the name and role (0: left alone) the system's own object reports for the window. False where
// the system keeps no annotations (Wine's oleacc answers E_NOTIMPL), and the toolkit's own object must answer.
// https://learn.microsoft.com/windows/win32/winauto/dynamic-annotation-api
bool AnnotateControl(HWND control, const WideString& name, int32_t role);

// Tells screen readers that a status line now reads its text: the MSAA name-change and live-region events, and a
// UI Automation notification where the system has one (Windows 10 1709 and later).
void AnnounceText(HWND control);

// A label's text as a name: without leading spaces, a trailing colon or link markup.
WideString AccessibleNameOf(const wchar_t* text);

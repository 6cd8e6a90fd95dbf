#pragma once

#include <windows.h>

// The common controls' window-subclassing service (COMCTL32 ordinals 410-413), looked up once by ordinal.
// Several subclasses may sit on one window; each is named by its procedure and an identifier.
// https://learn.microsoft.com/windows/win32/controls/subclassing-overview
using SubclassProcedure = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

bool InstallSubclass(HWND window, SubclassProcedure procedure, UINT_PTR id, DWORD_PTR reference);
// True and the reference data when that subclass is installed on the window.
bool QuerySubclass(HWND window, SubclassProcedure procedure, UINT_PTR id, DWORD_PTR* reference);
bool RemoveSubclass(HWND window, SubclassProcedure procedure, UINT_PTR id);
// Passes a message on to the next subclass or the window's own procedure.
LRESULT DefaultSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

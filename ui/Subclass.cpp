#include "ui/Subclass.h"

#include "sys/DynamicCalls.h"

bool InstallSubclass(HWND window, SubclassProcedure procedure, UINT_PTR id, DWORD_PTR reference) {
    const DynamicCalls& calls = Dynamic();
    return calls.setWindowSubclass && calls.setWindowSubclass(window, procedure, id, reference) != FALSE;
}

bool QuerySubclass(HWND window, SubclassProcedure procedure, UINT_PTR id, DWORD_PTR* reference) {
    const DynamicCalls& calls = Dynamic();
    DWORD_PTR data = 0;
    const bool found = calls.getWindowSubclass && calls.getWindowSubclass(window, procedure, id, &data) != FALSE;
    if (reference) *reference = found ? data : 0;
    return found;
}

bool RemoveSubclass(HWND window, SubclassProcedure procedure, UINT_PTR id) {
    const DynamicCalls& calls = Dynamic();
    return calls.removeWindowSubclass && calls.removeWindowSubclass(window, procedure, id) != FALSE;
}

LRESULT DefaultSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const DynamicCalls& calls = Dynamic();
    return calls.defSubclassProc ? calls.defSubclassProc(window, message, wParam, lParam)
                                 : DefWindowProcW(window, message, wParam, lParam);
}

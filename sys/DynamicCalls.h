#pragma once

#include <windows.h>
#include <shlobj.h>

// A window subclass procedure as comctl32 calls it.
using SubclassCallback = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

// The platform functions the program binds at run time, in one table: each is looked up by name once, on first
// use, in a module that stays loaded for the rest of the run. A null entry means the system lacks the function (or
// the module), and its caller takes the fallback its own comment names. Every name here is exported by name from
// Windows 7 on (comctl32's subclass functions from its version 6, which the program's manifest selects), so no
// ordinal is needed; UiaRaiseNotificationEvent comes with Windows 10 1709.
struct DynamicCalls {
    // shell32
    HRESULT(WINAPI* shDefExtractIcon)(LPCWSTR, int, UINT, HICON*, HICON*, UINT) = nullptr;
    PIDLIST_ABSOLUTE(WINAPI* ilCreateFromPath)(PCWSTR) = nullptr;
    int(WINAPI* pickIconDlg)(HWND, PWSTR, UINT, int*) = nullptr;
    // shlwapi
    HRESULT(WINAPI* queryService)(IUnknown*, REFGUID, REFIID, void**) = nullptr;
    // comctl32
    BOOL(WINAPI* setWindowSubclass)(HWND, SubclassCallback, UINT_PTR, DWORD_PTR) = nullptr;
    BOOL(WINAPI* getWindowSubclass)(HWND, SubclassCallback, UINT_PTR, DWORD_PTR*) = nullptr;
    BOOL(WINAPI* removeWindowSubclass)(HWND, SubclassCallback, UINT_PTR) = nullptr;
    LRESULT(WINAPI* defSubclassProc)(HWND, UINT, WPARAM, LPARAM) = nullptr;
    // gdiplus: GdipAddPathArc, its path and status types kept opaque so that this table needs no imaging header.
    int(WINAPI* gdipAddPathArc)(void* path, float, float, float, float, float, float) = nullptr;
    // kernel32
    BOOL(WINAPI* isWow64Process)(HANDLE, PBOOL) = nullptr;
    BOOL(WINAPI* queryFullProcessImageName)(HANDLE, DWORD, LPWSTR, PDWORD) = nullptr;
    // Bound rather than imported: the headers deprecate it, and from Windows 8.1 on its answer needs checking.
    BOOL(WINAPI* getVersionEx)(OSVERSIONINFOEXW*) = nullptr;
    // user32
    BOOL(WINAPI* changeWindowMessageFilter)(UINT, DWORD) = nullptr;
    // oleacc: the toolkit's accessible objects; bound so that the program's imports stay the ones it starts with.
    HRESULT(WINAPI* createStdAccessibleObject)(HWND, LONG, REFIID, void**) = nullptr;
    LRESULT(WINAPI* lresultFromObject)(REFIID, WPARAM, IUnknown*) = nullptr;
    // uiautomationcore: a status line's announcement, its provider (IRawElementProviderSimple) kept opaque so that
    // this table needs no automation header; kind and processing are the NotificationKind and NotificationProcessing.
    HRESULT(WINAPI* uiaHostProviderFromHwnd)(HWND, IUnknown**) = nullptr;
    HRESULT(WINAPI* uiaRaiseNotificationEvent)
    (IUnknown* provider, int kind, int processing, BSTR text, BSTR activity) = nullptr;
    // ntdll: only Wine's loader exports it.
    const char*(CDECL* wineGetVersion)() = nullptr;
};

// The table, bound on the first call from any thread.
const DynamicCalls& Dynamic();

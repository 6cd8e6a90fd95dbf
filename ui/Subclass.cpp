#include "ui/Subclass.h"

namespace {

using SetSubclassFn = BOOL(WINAPI*)(HWND, SubclassProcedure, UINT_PTR, DWORD_PTR);
using GetSubclassFn = BOOL(WINAPI*)(HWND, SubclassProcedure, UINT_PTR, DWORD_PTR*);
using RemoveSubclassFn = BOOL(WINAPI*)(HWND, SubclassProcedure, UINT_PTR);
using DefSubclassFn = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM);

struct SubclassService {
    SetSubclassFn install = nullptr;
    GetSubclassFn query = nullptr;
    RemoveSubclassFn remove = nullptr;
    DefSubclassFn defaultProc = nullptr;

    SubclassService() {
        // The process keeps comctl32 loaded for the controls anyway, so the module is never freed.
        HMODULE module = LoadLibraryW(L"comctl32.dll");
        if (!module) return;
        install = reinterpret_cast<SetSubclassFn>(Lookup(module, 410));
        query = reinterpret_cast<GetSubclassFn>(Lookup(module, 411));
        remove = reinterpret_cast<RemoveSubclassFn>(Lookup(module, 412));
        defaultProc = reinterpret_cast<DefSubclassFn>(Lookup(module, 413));
    }
    static void* Lookup(HMODULE module, WORD ordinal) {
        return reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
    }
};

const SubclassService& Service() {
    static const SubclassService service;
    return service;
}

}  // namespace

bool InstallSubclass(HWND window, SubclassProcedure procedure, UINT_PTR id, DWORD_PTR reference) {
    const auto& service = Service();
    return service.install && service.install(window, procedure, id, reference) != FALSE;
}

bool QuerySubclass(HWND window, SubclassProcedure procedure, UINT_PTR id, DWORD_PTR* reference) {
    const auto& service = Service();
    DWORD_PTR data = 0;
    const bool found = service.query && service.query(window, procedure, id, &data) != FALSE;
    if (reference) *reference = found ? data : 0;
    return found;
}

bool RemoveSubclass(HWND window, SubclassProcedure procedure, UINT_PTR id) {
    const auto& service = Service();
    return service.remove && service.remove(window, procedure, id) != FALSE;
}

LRESULT DefaultSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto& service = Service();
    return service.defaultProc ? service.defaultProc(window, message, wParam, lParam)
                               : DefWindowProcW(window, message, wParam, lParam);
}

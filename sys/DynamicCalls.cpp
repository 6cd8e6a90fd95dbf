#include "sys/DynamicCalls.h"

namespace {

// Modules are loaded once and never freed: the functions bound from them are used until the process ends.
HMODULE Module(const wchar_t* name) {
    HMODULE module = GetModuleHandleW(name);
    return module ? module : LoadLibraryW(name);
}

template <typename Fn>
void Bind(Fn& entry, HMODULE module, const char* name) {
    entry = module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

DynamicCalls BindAll() {
    DynamicCalls calls;
    const HMODULE shell = Module(L"shell32.dll");
    Bind(calls.shDefExtractIcon, shell, "SHDefExtractIconW");
    Bind(calls.ilCreateFromPath, shell, "ILCreateFromPathW");
    Bind(calls.pickIconDlg, shell, "PickIconDlg");
    Bind(calls.queryService, Module(L"shlwapi.dll"), "IUnknown_QueryService");
    const HMODULE controls = Module(L"comctl32.dll");
    Bind(calls.setWindowSubclass, controls, "SetWindowSubclass");
    Bind(calls.getWindowSubclass, controls, "GetWindowSubclass");
    Bind(calls.removeWindowSubclass, controls, "RemoveWindowSubclass");
    Bind(calls.defSubclassProc, controls, "DefSubclassProc");
    Bind(calls.gdipAddPathArc, Module(L"gdiplus.dll"), "GdipAddPathArc");
    const HMODULE kernel = Module(L"kernel32.dll");
    Bind(calls.isWow64Process, kernel, "IsWow64Process");
    Bind(calls.queryFullProcessImageName, kernel, "QueryFullProcessImageNameW");
    Bind(calls.getVersionEx, kernel, "GetVersionExW");
    Bind(calls.changeWindowMessageFilter, Module(L"user32.dll"), "ChangeWindowMessageFilter");
    const HMODULE accessibility = Module(L"oleacc.dll");
    Bind(calls.createStdAccessibleObject, accessibility, "CreateStdAccessibleObject");
    Bind(calls.lresultFromObject, accessibility, "LresultFromObject");
    const HMODULE automation = Module(L"uiautomationcore.dll");
    Bind(calls.uiaHostProviderFromHwnd, automation, "UiaHostProviderFromHwnd");
    Bind(calls.uiaRaiseNotificationEvent, automation, "UiaRaiseNotificationEvent");
    Bind(calls.wineGetVersion, GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
    return calls;
}

}  // namespace

const DynamicCalls& Dynamic() {
    // Thread-safe since C++11; the first caller binds the table.
    static const DynamicCalls calls = BindAll();
    return calls;
}

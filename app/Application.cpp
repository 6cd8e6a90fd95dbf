#include "app/Application.h"

#include <shlobj.h>

#include "app/CommandLine.h"
#include "app/Update.h"
#include "sys/Handles.h"
#include "sys/SystemInfo.h"

constexpr int32_t Application::kSizeTable[Application::kSizeCount];

Application::Application() {
    osVersion = OsVersion();
    resourceExtensions = kResourceExtensions;
    wchar_t* buffer = programPath.Reserve(1024, true);
    GetModuleFileNameW(nullptr, buffer, 1024);
    programPath.Remeasure();
    programFolder = programPath;
    int lastSeparator = programFolder.Find(L"\\", true, -1);
    if (lastSeparator > 0) programFolder.TruncateTo(lastSeparator - 1);
}

void Application::BuildSystemPaths() {
    WideString windows;
    windows.SetSpecialFolder(CSIDL_WINDOWS);
    windows.StripTrailingBackslashes();
    sysNativePath = WideString::Concat(windows, L"\\SysNative");
    system32Path = WideString::Concat(windows, L"\\System32");
    sysWow64Path = WideString::Concat(windows, L"\\SysWow64");
}

WideString& Application::MapSystemFolders(WideString& path) const {
    if (!isWow64) return path;
    // Order matters: System32 first becomes SysNative (the real 64-bit folder); SysWOW64 then becomes System32,
    // which the file-system redirection of a 32-bit process turns into SysWOW64 again.
    path.Replace(system32Path.Text(), sysNativePath.Text(), 0, false);
    path.Replace(sysWow64Path.Text(), system32Path.Text(), 0, false);
    return path;
}

int Application::ShowMessage(const wchar_t* text, int kind, int height) {
    (void)kind;
    (void)height;
    // A command-line job on a machine without a display must not wait for a box nobody can see: probe whether a
    // window can be made at all before showing one.
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!probe) return 50;
    DestroyWindow(probe);
    return MessageBoxW(nullptr, text, L"Glyphwright", MB_OK | MB_SETFOREGROUND) == IDOK ? 1 : 0;
}

int Application::RunApplication(HINSTANCE moduleInstance, const wchar_t* commandTail, int showMode) {
    (void)showMode;
    instance = moduleInstance;
    isWow64 = IsWow64(nullptr);
    BuildSystemPaths();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    WideString source;
    WideString target;
    WideString iconIndex(L"0");
    int result = ParseCommandLine(*this, commandTail, source, target, iconIndex);
    if (batchKind != 0) return static_cast<uint8_t>(result);
    if (result == 1) return 0;
    if (result == 2) return 1;

    if (startedAfterUpdate) {
        RemoveUpdateLeftover(programPath);
    } else if (IsNewerVersionInstalled(programPath)) {
        WideString arguments(L" /PostUpdate");
        if (commandTail && *commandTail) arguments.Append(L" ", commandTail);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(showMode);
        PROCESS_INFORMATION process = {};
        CreateProcessW(programPath.Text(), const_cast<wchar_t*>(arguments.Text()), nullptr, nullptr, FALSE, 0, nullptr,
                       programFolder.Text(), &startup, &process);
        KernelHandle thread(process.hThread);
        KernelHandle started(process.hProcess);
        return 0;
    }
    isAdmin = IsUserAdmin();
    // The main window arrives with the window toolkit; until then a start that would open it ends here.
    return 0;
}

#include "sys/SystemFolders.h"

#include <shlobj.h>

#include "sys/SystemInfo.h"

SystemFolderPaths SystemFolderPathsOf(const WideString& windowsFolder) {
    WideString windows(windowsFolder);
    windows.StripTrailingBackslashes();
    return {WideString::Concat(windows, L"\\System32"), WideString::Concat(windows, L"\\SysNative"),
            WideString::Concat(windows, L"\\SysWow64")};
}

WideString& MapSystemFolders(WideString& path, const SystemFolderPaths& folders, bool wow64) {
    if (!wow64) return path;
    // Order matters: System32 first becomes SysNative (the real 64-bit folder); SysWOW64 then becomes System32,
    // which the file-system redirection of a 32-bit process turns into SysWOW64 again.
    path.Replace(folders.system32.Text(), folders.sysNative.Text(), 0, false);
    path.Replace(folders.sysWow64.Text(), folders.system32.Text(), 0, false);
    return path;
}

WideString& MapSystemFoldersOfThisProcess(WideString& path) {
    static const bool wow64 = IsWow64();
    static const SystemFolderPaths folders = [] {
        WideString windows;
        windows.SetSpecialFolder(CSIDL_WINDOWS);
        return SystemFolderPathsOf(windows);
    }();
    return MapSystemFolders(path, folders, wow64);
}

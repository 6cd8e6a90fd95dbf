#include "sys/SystemInfo.h"

#include "sys/DynamicCalls.h"
#include "sys/Handles.h"

bool IsUserAdmin() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    SidHandle administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, administrators.Receive()))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators.Get(), &member)) return false;
    return member != FALSE;
}

bool IsWow64(HANDLE process) {
    const auto isWow64Process = Dynamic().isWow64Process;
    if (!isWow64Process) return false;
    BOOL wow64 = FALSE;
    if (!isWow64Process(process ? process : GetCurrentProcess(), &wow64)) return false;
    return wow64 != FALSE;
}

bool AllowMessageThroughFilter(UINT message) {
    const auto changeFilter = Dynamic().changeWindowMessageFilter;
    if (!changeFilter) return false;
    return changeFilter(message, 1 /* MSGFLT_ADD */) != FALSE;
}

double OsVersion() {
    // From Windows 8.1 on GetVersionExW answers 6.2 unless the program's manifest declares a later system, so a
    // larger answer is confirmed through VerifyVersionInfoW.
    // https://learn.microsoft.com/windows/win32/sysinfo/targeting-your-application-at-windows-8-1
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    DWORD build = 0;
    {
        const auto getVersionEx = Dynamic().getVersionEx;
        if (getVersionEx && getVersionEx(&info)) {
            build = info.dwBuildNumber;
            double version = info.dwMajorVersion + info.dwMinorVersion / 10.0;
            if (version > 0 && version <= 6.2) return version;
        }
    }
    auto atLeast = [](DWORD major, DWORD minor) {
        OSVERSIONINFOEXW wanted = {};
        wanted.dwOSVersionInfoSize = sizeof(wanted);
        wanted.dwMajorVersion = major;
        wanted.dwMinorVersion = minor;
        DWORDLONG mask = 0;
        mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
        mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
        return VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
    };
    if (atLeast(11, 0)) return 11;
    if (atLeast(10, 0)) return build >= 22000 ? 11 : 10;
    for (DWORD major : {6u, 5u}) {
        if (!atLeast(major, 0) || atLeast(major + 1, 0)) continue;
        for (DWORD minor : {3u, 2u, 1u})
            if (atLeast(major, minor)) return major + minor / 10.0;
        return major;
    }
    return 0;
}

bool PumpMessages() {
    bool handled = false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        // A quit request belongs to the caller's message loop: put it back and stop, or the program never ends.
        // PostQuitMessage only raises a flag that PeekMessage reports once the queue is otherwise empty.
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
        handled = true;
    }
    return handled;
}

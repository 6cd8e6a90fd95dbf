#include "sys/Processes.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

#include "sys/DynamicCalls.h"
#include "sys/Handles.h"

namespace {

constexpr int kImagePathUnits = 4096;
constexpr int kMaxProcessIds = 2000;
constexpr int kTerminateRounds = 30;
constexpr DWORD kTerminatePauseMs = 20;
// A program that quits on WM_DESTROY needs a moment to get there; without it the escalation would always
// reach TerminateProcess.
constexpr DWORD kGracefulExitMs = 1000;

bool QueryImagePath(DWORD processId, std::vector<wchar_t>& buffer) {
    // Without the function (or without the limited right it needs) the module path is read the old way.
    const auto queryFullName = Dynamic().queryFullProcessImageName;
    if (queryFullName) {
        KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        if (process) {
            DWORD size = kImagePathUnits;
            return queryFullName(process.Get(), 0, buffer.data(), &size) != FALSE;
        }
    }
    KernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) return false;
    return GetModuleFileNameExW(process.Get(), nullptr, buffer.data(), kImagePathUnits) != 0;
}

// One round of forced termination: opens the process, terminates it and looks again after a short pause.
enum class RoundResult { kGone, kAlive, kCannotOpen };

RoundResult TerminateOnce(DWORD processId) {
    KernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    if (!process) return RoundResult::kCannotOpen;
    TerminateProcess(process.Get(), 0);
    SleepEx(kTerminatePauseMs, FALSE);
    process.Reset();
    return IsProcessAlive(processId) ? RoundResult::kAlive : RoundResult::kGone;
}

bool TerminateRounds(DWORD processId) {
    for (int round = 0; round < kTerminateRounds; ++round) {
        RoundResult result = TerminateOnce(processId);
        if (result == RoundResult::kGone) return true;
        if (result == RoundResult::kCannotOpen) break;
    }
    return false;
}

int PostDestroyToWindows(DWORD processId) {
    int posted = 0;
    for (HWND window = FindWindowExW(nullptr, nullptr, nullptr, nullptr); window;
         window = FindWindowExW(nullptr, window, nullptr, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && PostMessageW(window, WM_DESTROY, 0, 0)) ++posted;
    }
    return posted;
}

void TerminateThreadsOf(DWORD processId, const KernelHandle& snapshot) {
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != processId) continue;
        KernelHandle thread(OpenThread(THREAD_TERMINATE | THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
        if (thread) TerminateThread(thread.Get(), 0);
    }
}

}  // namespace

bool IsProcessAlive(DWORD processId) {
    if (processId <= 4) return processId == 4;
    KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) return false;
    return WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

void NormalizeNativePath(WideString& path) {
    const wchar_t* text = path.Text();
    if (text[0] != L'\\' || text[1] == L'\\') return;
    if (path.Find(L"\\SystemRoot\\", false, 1, 1, 12) == 1) {
        wchar_t windows[MAX_PATH + 1] = {};
        UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
        if (length == 0 || length > MAX_PATH) return;
        path.Replace(L"\\SystemRoot", windows, 1);
    } else if (path.StartsWith(L"\\??\\", true)) {
        path.DropLeft(4);
    }
}

bool ProcessImagePath(DWORD processId, WideString& path) {
    std::vector<wchar_t> buffer(kImagePathUnits + 1, L'\0');
    if (!QueryImagePath(processId, buffer)) return false;
    buffer[kImagePathUnits] = L'\0';
    path = buffer.data();
    NormalizeNativePath(path);
    return true;
}

DWORD FindProcessByImage(const wchar_t* imagePath) {
    std::vector<DWORD> ids(kMaxProcessIds);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return 0;
    WideString path;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        if (ProcessImagePath(ids[i], path) && path.EqualsIgnoreCase(imagePath)) return ids[i];
    }
    return 0;
}

bool KillProcess(DWORD processId) {
    if (PostDestroyToWindows(processId) > 0) {
        KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
        if (process) WaitForSingleObject(process.Get(), kGracefulExitMs);
    }
    if (!IsProcessAlive(processId)) return true;
    if (TerminateRounds(processId)) return true;

    KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return false;
    TerminateThreadsOf(processId, snapshot);
    if (!IsProcessAlive(processId)) return true;
    TerminateRounds(processId);
    return !IsProcessAlive(processId);
}

#include "sys/IconCache.h"

#include <exdisp.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "sys/DynamicCalls.h"
#include "sys/FileOperations.h"
#include "sys/Handles.h"
#include "sys/Processes.h"
#include "sys/ShellRun.h"
#include "sys/SystemFolders.h"
#include "sys/SystemInfo.h"

namespace {

constexpr wchar_t kMetricsKey[] = L"Control Panel\\Desktop\\WindowMetrics";
constexpr wchar_t kIconSizeValue[] = L"Shell Icon Size";
constexpr DWORD kIconSizeStep = 6;
// A stored icon size is a few digits; anything longer is no icon size.
constexpr DWORD kMaxIconSizeBytes = 64;
constexpr int kKillRounds = 10;
// How long a started shell gets to show its taskbar window: a few seconds, polled.
constexpr int kShellWaitRounds = 50;
constexpr DWORD kShellWaitPauseMs = 100;

const CLSID kShellWindowsClass = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
const IID kShellWindowsInterface = {0x85CB6900, 0x4D95, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const GUID kTopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
const IID kShellBrowserInterface = {0x000214E2, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The icon size as stored: a 32-bit number, or decimal text (REG_SZ, as the system itself stores it).
struct StoredIconSize {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// The number a stored value holds; false for another type or text that is no plain decimal number.
bool IconSizeNumber(const StoredIconSize& stored, DWORD& number) {
    if (stored.type == REG_DWORD) {
        if (stored.data.size() != sizeof(DWORD)) return false;
        std::memcpy(&number, stored.data.data(), sizeof(DWORD));
        return true;
    }
    if (stored.type != REG_SZ || stored.data.size() % 2 != 0) return false;
    WideString text;
    text.Append(std::wstring(reinterpret_cast<const wchar_t*>(stored.data.data()), stored.data.size() / 2).c_str());
    text.Trim();
    if (text.IsEmpty() || text.Length() > 9) return false;
    number = 0;
    for (const wchar_t* unit = text.Text(); *unit; ++unit) {
        if (*unit < L'0' || *unit > L'9') return false;
        number = number * 10 + static_cast<DWORD>(*unit - L'0');
    }
    return true;
}

// The same kind of value holding another number.
StoredIconSize WithNumber(const StoredIconSize& stored, DWORD number) {
    StoredIconSize raised;
    raised.type = stored.type;
    if (stored.type == REG_DWORD) {
        raised.data.resize(sizeof(DWORD));
        std::memcpy(raised.data.data(), &number, sizeof(DWORD));
        return raised;
    }
    const WideString text = WideString::FromUInt(number);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.Text());
    raised.data.assign(bytes, bytes + (text.Length() + 1) * sizeof(wchar_t));
    return raised;
}

bool WriteIconSize(HKEY key, const StoredIconSize& value) {
    return RegSetValueExW(key, kIconSizeValue, 0, value.type, value.data.data(),
                          static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

void BroadcastIconMetrics() {
    SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETICONMETRICS, 0);
}

using QueryServiceFn = decltype(DynamicCalls::queryService);

// The active view of a shell window given by its dispatch interface; null when any step fails.
ComPtr<IShellView> ActiveView(IDispatch* window, QueryServiceFn queryService) {
    ComPtr<IShellView> view;
    if (!window) return view;
    ComPtr<IShellBrowser> browser;
    if (FAILED(queryService(window, kTopLevelBrowser, kShellBrowserInterface, browser.ReceiveVoid())) || !browser)
        return view;
    if (FAILED(browser->QueryActiveShellView(view.Receive()))) view.Reset();
    return view;
}

// Wine's own desktop process is its shell; its loader exports its version.
bool RunsOnWine() {
    return Dynamic().wineGetVersion != nullptr;
}

// Starts the shell as the system starts it: the Windows folder's explorer.exe without arguments (with its own path
// as argument it opens a file window instead), and under Wine the system folder's explorer.exe with "/desktop", in
// its native form (a 32-bit process reaches it through SysNative). The started process's id, 0 on failure.
DWORD StartShell(const WideString& shell) {
    if (!RunsOnWine()) return ShellRun(shell.Text());
    WideString windows;
    if (!windows.SetSpecialFolder(CSIDL_WINDOWS)) return 0;
    const SystemFolderPaths folders = SystemFolderPathsOf(windows);
    WideString program = WideString::Concat(folders.sysNative, L"\\explorer.exe");
    if (!FileExists(program.Text(), false)) program = WideString::Concat(folders.system32, L"\\explorer.exe");
    return ShellRun(program.Text(), L"/desktop");
}

// True when a running shell shows its taskbar window (on Windows and under Wine alike).
bool ShellWindowRuns() {
    const HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    DWORD owner = 0;
    return tray && GetWindowThreadProcessId(tray, &owner) && IsProcessAlive(owner);
}

// Waits a few seconds for the shell's window; gives up early when neither the started process nor any other shell
// process runs any more.
bool WaitForShellWindow(DWORD started) {
    for (int round = 0; round < kShellWaitRounds; ++round) {
        if (ShellWindowRuns()) return true;
        if ((started <= 1 || !IsProcessAlive(started)) && FindShellProcess() == 0) return false;
        PumpMessages();
        Sleep(kShellWaitPauseMs);
    }
    return ShellWindowRuns();
}

}  // namespace

IconSizeBump BumpShellIconSizeOutcome() {
    RegKeyHandle key;
    const LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, kMetricsKey, 0, KEY_READ | KEY_WRITE, key.Receive());
    if (opened == ERROR_FILE_NOT_FOUND) return IconSizeBump::kNoValue;
    if (opened != ERROR_SUCCESS) return IconSizeBump::kFailed;

    StoredIconSize original;
    DWORD size = 0;
    LONG read = RegQueryValueExW(key.Get(), kIconSizeValue, nullptr, &original.type, nullptr, &size);
    if (read == ERROR_FILE_NOT_FOUND) return IconSizeBump::kNoValue;
    if (read != ERROR_SUCCESS || size > kMaxIconSizeBytes) return IconSizeBump::kFailed;
    original.data.resize(size);
    read = RegQueryValueExW(key.Get(), kIconSizeValue, nullptr, &original.type, original.data.data(), &size);
    if (read != ERROR_SUCCESS) return IconSizeBump::kFailed;
    original.data.resize(size);
    DWORD number = 0;
    if (!IconSizeNumber(original, number)) return IconSizeBump::kFailed;

    if (!WriteIconSize(key.Get(), WithNumber(original, number + kIconSizeStep))) return IconSizeBump::kFailed;
    BroadcastIconMetrics();
    // The stored bytes go back exactly as they were, text or number.
    const bool restored = WriteIconSize(key.Get(), original);
    BroadcastIconMetrics();
    return restored ? IconSizeBump::kDone : IconSizeBump::kFailed;
}

bool BumpShellIconSize() {
    return BumpShellIconSizeOutcome() == IconSizeBump::kDone;
}

bool ClearIconCache() {
    WideString local;
    if (!local.SetSpecialFolder(CSIDL_LOCAL_APPDATA)) return false;
    local.StripTrailingBackslashes();

    const WideString cacheFile = WideString::Concat(local, L"\\IconCache.db");
    DeleteResult fileResult = kRemoved;
    if (FileExists(cacheFile.Text(), true)) fileResult = ForceDelete(cacheFile.Text(), kDeleteResetSecurity);

    // The shell holds its cache databases open; they can only go once it has been restarted.
    RestartShell();
    const WideString databases = WideString::Concat(local, L"\\Microsoft\\Windows\\Explorer\\*.db");
    const DeleteResult databaseResult = ForceDelete(databases.Text(), kDeleteResetSecurity);

    if (fileResult == kNotRemoved && databaseResult == kNotRemoved) return false;
    // Current systems have no icon size value: nothing to bump, so the deletions decide.
    return BumpShellIconSizeOutcome() != IconSizeBump::kFailed;
}

int RefreshShellViews() {
    ComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(kShellWindowsClass, nullptr, CLSCTX_LOCAL_SERVER, kShellWindowsInterface,
                                windows.ReceiveVoid())) ||
        !windows)
        return 0;
    return RefreshShellViewsOf(windows.Get());
}

int RefreshShellViewsOf(IShellWindows* windows) {
    if (!windows) return 0;
    const QueryServiceFn queryService = Dynamic().queryService;
    if (!queryService) return 0;

    int refreshed = 0;
    {
        VARIANT location;
        VARIANT root;
        VariantInit(&location);
        VariantInit(&root);
        LONG desktopWindow = 0;
        ComPtr<IDispatch> desktop;
        if (SUCCEEDED(windows->FindWindowSW(&location, &root, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                                            desktop.Receive()))) {
            ComPtr<IShellView> view = ActiveView(desktop.Get(), queryService);
            if (view && SUCCEEDED(view->Refresh())) refreshed = 1;
        }
    }

    LONG count = 0;
    if (FAILED(windows->get_Count(&count))) count = 0;
    for (LONG i = 0; i < count; ++i) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = i;
        ComPtr<IDispatch> window;
        if (FAILED(windows->Item(index, window.Receive())) || !window) break;
        ComPtr<IShellView> view = ActiveView(window.Get(), queryService);
        if (!view) break;
        if (SUCCEEDED(view->Refresh())) ++refreshed;
    }
    return refreshed;
}

WideString ShellProgramPath() {
    WideString path;
    if (!path.SetSpecialFolder(CSIDL_WINDOWS)) return WideString();
    path.StripTrailingBackslashes();
    return path.Append(L"\\explorer.exe");
}

DWORD FindShellProcess() {
    const WideString shell = ShellProgramPath();
    if (DWORD id = shell.IsEmpty() ? 0 : FindProcessByImage(shell.Text())) return id;
    wchar_t system[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return 0;
    const WideString alternative = WideString::Concat(system, L"\\explorer.exe");
    return FindProcessByImage(alternative.Text());
}

int RestartShell() {
    const WideString shell = ShellProgramPath();
    if (shell.IsEmpty()) return 0;
    int ended = 0;
    // No pause between the rounds: a shell that the system restarts by itself is found again and ended again.
    for (int round = 0; round < kKillRounds; ++round) {
        const DWORD id = FindShellProcess();
        if (id != 0 && KillProcess(id)) ++ended;
    }
    DWORD started = 0;
    if (FindShellProcess() == 0) started = StartShell(shell);
    // Ending the shell is only half of a restart: without its window back the user has no shell.
    if (!WaitForShellWindow(started)) return 0;
    return ended;
}

#include "sys/IconCache.h"

#include <exdisp.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>

#include "sys/FileOperations.h"
#include "sys/Handles.h"
#include "sys/Processes.h"
#include "sys/ShellRun.h"

namespace {

constexpr wchar_t kMetricsKey[] = L"Control Panel\\Desktop\\WindowMetrics";
constexpr wchar_t kIconSizeValue[] = L"Shell Icon Size";
constexpr DWORD kIconSizeStep = 6;
constexpr int kKillRounds = 10;

const CLSID kShellWindowsClass = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
const IID kShellWindowsInterface = {0x85CB6900, 0x4D95, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const GUID kTopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
const IID kShellBrowserInterface = {0x000214E2, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool WriteIconSize(HKEY key, DWORD value) {
    return RegSetValueExW(key, kIconSizeValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

void BroadcastIconMetrics() {
    SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETICONMETRICS, 0);
}

// The service query helper of SHLWAPI, exported by ordinal 176 on every version that has it.
using QueryServiceFn = HRESULT(WINAPI*)(IUnknown*, REFGUID, REFIID, void**);

QueryServiceFn LookUpQueryService(const ModuleHandle& shlwapi) {
    if (!shlwapi) return nullptr;
    return reinterpret_cast<QueryServiceFn>(
        reinterpret_cast<void*>(GetProcAddress(shlwapi.Get(), MAKEINTRESOURCEA(176))));
}

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

}  // namespace

IconSizeBump BumpShellIconSizeOutcome() {
    RegKeyHandle key;
    const LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, kMetricsKey, 0, KEY_READ | KEY_WRITE, key.Receive());
    if (opened == ERROR_FILE_NOT_FOUND) return IconSizeBump::kNoValue;
    if (opened != ERROR_SUCCESS) return IconSizeBump::kFailed;

    DWORD type = REG_NONE;
    DWORD original = 0;
    DWORD size = sizeof(original);
    const LONG read =
        RegQueryValueExW(key.Get(), kIconSizeValue, nullptr, &type, reinterpret_cast<BYTE*>(&original), &size);
    if (read == ERROR_FILE_NOT_FOUND) return IconSizeBump::kNoValue;
    if (read != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(original)) return IconSizeBump::kFailed;

    if (!WriteIconSize(key.Get(), original + kIconSizeStep)) return IconSizeBump::kFailed;
    BroadcastIconMetrics();
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
    ModuleHandle shlwapi(LoadLibraryW(L"shlwapi.dll"));
    const QueryServiceFn queryService = LookUpQueryService(shlwapi);
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
    if (FindShellProcess() == 0) ShellRun(shell.Text(), shell.Text());
    return ended;
}

// A child program for the process tests. Modes (first argument):
//   quit-on-destroy  a top-level window; WM_DESTROY ends the program with exit code 7 after a short tidy-up
//   ignore-destroy   a top-level window that ignores WM_DESTROY
//   no-window        no window at all
//   record FILE      writes its own command line (UTF-16) to FILE and exits with 0
//   os-version       exits with OsVersion() * 10
// Lingering modes end by themselves after two minutes (exit code 3), so a failed test leaves nothing behind.
#include <windows.h>
#include <shellapi.h>

#include <cmath>

#include "sys/SystemInfo.h"

namespace {

constexpr int kQuitOnDestroyCode = 7;
constexpr int kExpiredCode = 3;
constexpr UINT kLifetimeMs = 120000;
// Like a program that saves its state before quitting, so that quitting is not over before the caller looks.
constexpr DWORD kTidyUpMs = 200;
const wchar_t kClassName[] = L"GwTestLingeringWindow";

bool quitOnDestroy = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        if (quitOnDestroy) {
            Sleep(kTidyUpMs);
            PostQuitMessage(kQuitOnDestroyCode);
        }
        return 0;
    }
    if (message == WM_TIMER) {
        PostQuitMessage(kExpiredCode);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int RunWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassW(&windowClass)) return 2;
    HWND window = CreateWindowExW(0, kClassName, L"lingering", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!window) return 2;
    SetTimer(window, 1, kLifetimeMs, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

int Record(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    const wchar_t* line = GetCommandLineW();
    DWORD written = 0;
    BOOL ok = WriteFile(file, line, lstrlenW(line) * sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
    return ok ? 0 : 2;
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count < 2) return 1;
    const wchar_t* mode = args[1];
    int code = 1;
    if (lstrcmpW(mode, L"quit-on-destroy") == 0) {
        quitOnDestroy = true;
        code = RunWindow();
    } else if (lstrcmpW(mode, L"ignore-destroy") == 0) {
        code = RunWindow();
    } else if (lstrcmpW(mode, L"no-window") == 0) {
        Sleep(kLifetimeMs);
        code = kExpiredCode;
    } else if (lstrcmpW(mode, L"record") == 0 && count >= 3) {
        code = Record(args[2]);
    } else if (lstrcmpW(mode, L"os-version") == 0) {
        code = static_cast<int>(std::lround(OsVersion() * 10));
    }
    LocalFree(args);
    return code;
}

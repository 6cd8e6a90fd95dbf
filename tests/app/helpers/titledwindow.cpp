// A child program for the window-icon command tests: one hidden top-level window whose title is the first
// argument and whose class has the standard application icon. Prints "ready" once the window exists, then takes
// messages until it is closed or a minute has passed.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

namespace {

constexpr UINT kLifetimeMs = 60000;
const wchar_t kClassName[] = L"GwTestTitledWindow";

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER || message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const wchar_t* title = arguments && count > 1 ? arguments[1] : L"";

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExW(&windowClass)) return 1;
    HWND window = CreateWindowExW(0, kClassName, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!window) return 2;
    SetTimer(window, 1, kLifetimeMs, nullptr);
    std::printf("ready\n");
    std::fflush(stdout);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    LocalFree(arguments);
    return 0;
}

// A child program for the picker drag test, which moves the real mouse with xdotool. It shows an owner window with
// the picker and a target window with known title and icons, prints where they are, waits for the press on the
// picker and runs the picker. A watcher thread reports what the catcher window shows while it is open; at the end
// the program reports the result, the field and what was asked of the system cursors. Lines are UTF-8:
//   owner <hwnd> / picker <x> <y> / target <hwnd> <x> <y> / ready
//   catcher <left> <top> <right> <bottom> <title>      (once, when the catcher appears)
//   shown <field text>                                 (on every change while the catcher is open)
//   result <0|1> / field <text> / cursors <replaced> <reloads> <current is the one before: 0|1> / picker <visible>
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "PickerScene.h"
#include "app/WindowPicker.h"
#include "engine/Imaging.h"

namespace {

constexpr DWORD kLifetimeMs = 90000;
std::mutex outputLock;

void Say(const std::wstring& line) {
    std::lock_guard<std::mutex> hold(outputLock);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
    if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, text.data(), bytes, nullptr, nullptr);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

std::wstring Hex(HWND window) {
    wchar_t digits[16];
    swprintf(digits, 16, L"%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window)));
    return digits;
}

// Forwards to the platform and counts what was asked.
class CountingCursors : public CursorCalls {
public:
    bool SetSystemCursor(HCURSOR cursor, DWORD id) override {
        ++replaced;
        return CursorCalls::SetSystemCursor(cursor, id);
    }
    bool ReloadSystemCursors() override {
        ++reloads;
        return CursorCalls::ReloadSystemCursors();
    }
    int replaced = 0;
    int reloads = 0;
};

// Reads the catcher's field from another thread while the picker runs; the picker's thread answers whenever it
// handles its messages.
DWORD WINAPI WatchCatcher(void*) {
    std::wstring last;
    bool announced = false;
    for (;;) {
        Sleep(20);
        HWND catcher = FindWindowW(kCatcherClass, nullptr);
        if (!catcher) continue;
        wchar_t text[2048] = {};
        if (!announced) {
            RECT r = {};
            GetWindowRect(catcher, &r);
            InternalGetWindowText(catcher, text, 2048);
            Say(L"catcher " + std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
                std::to_wstring(r.right) + L" " + std::to_wstring(r.bottom) + L" " + text);
            announced = true;
        }
        HWND field = FindWindowExW(catcher, nullptr, L"Edit", nullptr);
        DWORD_PTR copied = 0;
        if (!field ||
            !SendMessageTimeoutW(field, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000, &copied))
            continue;
        if (text != last) {
            last = text;
            Say(L"shown " + last);
        }
    }
}

DWORD WINAPI Watchdog(void*) {
    Sleep(kLifetimeMs);
    ExitProcess(3);
}

}  // namespace

int main() {
    CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    ImagingSession imaging;
    picker_scene::Owner owner;
    IconHandle small = testing_support::MakeSolidIcon(16, picker_scene::kSmallColour);
    IconHandle large = testing_support::MakeSolidIcon(32, picker_scene::kLargeColour);
    UiWindow target;
    if (!owner.Create(40, 40) || !picker_scene::CreateTarget(target, L"GwPickerDragTarget", L"拾取目标 Picker target",
                                                             small.Get(), large.Get(), RECT{700, 300, 1000, 500}))
        return 1;
    const POINT picker = owner.PickerPoint();
    const POINT aim = testing_support::CentreOnScreen(target.window);
    Say(L"owner " + Hex(owner.window.window));
    Say(L"picker " + std::to_wstring(picker.x) + L" " + std::to_wstring(picker.y));
    Say(L"target " + Hex(target.window) + L" " + std::to_wstring(aim.x) + L" " + std::to_wstring(aim.y));
    CreateThread(nullptr, 0, WatchCatcher, nullptr, 0, nullptr);
    Say(L"ready");

    // The page starts the picker on the press on the picker control.
    while (UiWindow::waitEvent(owner.events, kPumpWait)) {
        if (owner.events.code == owner.picker) break;
    }
    const HCURSOR before = GetCursor();
    CountingCursors cursors;
    PickerSystem system;
    system.cursors = &cursors;
    const bool picked = PickWindow(owner.window, owner.picker, owner.field, system);
    Say(L"result " + std::to_wstring(picked ? 1 : 0));
    Say(std::wstring(L"field ") + owner.window.getText(owner.field).Text());
    Say(L"cursors " + std::to_wstring(cursors.replaced) + L" " + std::to_wstring(cursors.reloads) + L" " +
        std::to_wstring(GetCursor() == before ? 1 : 0));
    Say(L"picker " + std::to_wstring(IsWindowVisible(owner.window.handleOf(owner.picker)) ? 1 : 0));
    return 0;
}

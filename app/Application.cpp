#include "app/Application.h"

#include <shlobj.h>

#include "sys/Handles.h"
#include "sys/SystemFolders.h"
#include "sys/ShellRun.h"
#include "sys/SystemInfo.h"
#include "ui/ModalGuards.h"
#include "ui/ToolkitImages.h"

Application::Application() : openAddress([](const wchar_t* address) { return ShellRun(address) != 0; }) {
    osVersion = OsVersion();
    checkImages[kCheckChecked].Reset(makeCheckImage(1));
    checkImages[kCheckUnchecked].Reset(makeCheckImage(0));
    checkImages[kRadioChecked].Reset(makeRadioImage(1));
    checkImages[kRadioUnchecked].Reset(makeRadioImage(0));
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
    const SystemFolderPaths folders = SystemFolderPathsOf(windows);
    system32Path = folders.system32;
    sysNativePath = folders.sysNative;
    sysWow64Path = folders.sysWow64;
}

WideString& Application::MapSystemFolders(WideString& path) const {
    return ::MapSystemFolders(path, {system32Path, sysNativePath, sysWow64Path}, isWow64);
}

bool Application::NextEvent(bool wait) {
    const int result = UiWindow::waitEvent(events, wait ? kPumpWait : kPumpPollAny);
    if (result == 0 || events.code == kEventLoopEnded) return false;
    if (events.source != &mainWindow || events.code <= 0) return true;
    const int32_t code = events.code;
    if (code == header.closeButton) {
        events.code = kEventClose;
        events.closeRequested = 1;
    } else if (code == header.minimizeButton) {
        // Minimising raises size events of its own; the click stays the event the pages read.
        const UiEventSlot click = events;
        ShowWindow(mainWindow.window, SW_MINIMIZE);
        events = click;
    } else if (code == header.helpLink) {
        if (openAddress) openAddress(kHelpAddress);
    } else if (code == header.versionLink) {
        if (openAddress) openAddress(WideString::Concat(kVersionAddressPrefix, kVersion).Text());
    }
    return true;
}

int Application::ShowMessage(const wchar_t* text, int kind, int height) {
    if (kind == kBoxTip) {
        messageBox.showMessage(&mainWindow, text, kind, height, kMessageWidth);
        return 0;
    }
    ControlFreeze freeze;
    if (mainWindow.window) {
        if (IsIconic(mainWindow.window)) ShowWindow(mainWindow.window, SW_RESTORE);
        if (header.firstPageControl > 0) freeze.freeze(&mainWindow, header.firstPageControl, mainWindow.controlCount());
    }
    UiWindow* owner = mainWindow.window && IsWindowVisible(mainWindow.window) ? &mainWindow : nullptr;
    // Without a box nothing could ever answer (a command-line job on a machine without a display): no waiting.
    HWND box = messageBox.showMessage(owner, text, kind, height, kMessageWidth);
    if (!box) return 0;
    const int first = messageBox.buttonIndex(1);
    const int second = messageBox.buttonIndex(2);
    const int third = messageBox.buttonIndex(3);
    int answer = 50;
    while (NextEvent(true)) {
        if (events.code == kEventClose) {
            answer = 0;
            break;
        }
        if (events.code <= 0 || events.window != box) continue;
        if (events.code == first) {
            answer = 1;
            break;
        }
        if (events.code == second || events.code == third) {
            answer = 255;
            break;
        }
    }
    messageBox.closeMessage();
    freeze.unfreeze();
    return answer;
}

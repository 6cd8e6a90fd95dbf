#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "Version.h"
#include "sys/Handles.h"
#include "sys/WideString.h"
#include "ui/UiEventSlot.h"
#include "ui/UiMessageBox.h"
#include "ui/UiWindow.h"

// The program's one long-lived object: start-up facts, the shared paths and the services the pages and the
// command line share (system-folder mapping, messages).
class Application {
public:
    static constexpr const wchar_t* kVersion = GW_VERSION_WIDE;
    static constexpr const wchar_t* kHelpAddress = L"https://www.glyphwright.org/help/";
    static constexpr const wchar_t* kVersionAddressPrefix = L"https://www.glyphwright.org/releases/";
    // Message boxes of the application are always this wide.
    static constexpr int kMessageWidth = 360;

    // The main window's controls that the event pump handles itself; 0 until the main window has them.
    struct HeaderControls {
        int32_t closeButton = 0;
        int32_t minimizeButton = 0;
        int32_t helpLink = 0;
        int32_t versionLink = 0;
        int32_t firstPageControl = 0;  // the page controls, frozen while a box is up, run from here to the last
    };
    // Positions in checkImages.
    enum CheckImage { kCheckChecked = 0, kCheckUnchecked = 1, kRadioChecked = 2, kRadioUnchecked = 3 };

    Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // On 64-bit Windows, turns System32 paths into SysNative and SysWOW64 paths into System32, so that a 32-bit
    // process reaches the folder the user meant. Unchanged without WOW64.
    WideString& MapSystemFolders(WideString& path) const;

    // Processes one message (wait: blocking until one comes; otherwise only one already queued) and applies
    // the main window's own controls: its close button becomes the close event (-6), its minimise button
    // minimises, its help and version links open their pages. False when the message loop has ended, or, when
    // not waiting, when no message was queued. The event is in `events`.
    bool NextEvent(bool wait = true);

    // Shows a message in the toolkit's box (kind 0 OK, 1 Yes/No, 2 OK/Cancel, 3 Yes/No/Cancel) over the main
    // window, its page controls frozen meanwhile, and waits for the answer: 1 first button, 255 another, 0 closed
    // or no box could be made, 50 the event loop ended. Kind 4 shows a message tip and returns 0 at once.
    int ShowMessage(const wchar_t* text, int kind, int height);

    // A close request of the main window (its close button, the system close, Alt+F4) stays pending until the
    // event loop honours it by ending, whatever drained the queue meanwhile; a running batch consumes the one that
    // cancels it.
    bool ClosePending() const { return mainWindow.closeRequests > closesConsumed_; }
    void ConsumeCloseRequests() {
        closesConsumed_ = mainWindow.closeRequests;
        events.closeRequested = 0;
    }

    // Fills the system folder paths from the Windows folder (step 2 of the start-up).
    void BuildSystemPaths();

    bool isAdmin = false;
    HeaderControls header;
    HINSTANCE instance = nullptr;
    bool isWow64 = false;
    bool startedAfterUpdate = false;
    double osVersion = 0;
    UiEventSlot events;
    WideString sysNativePath;
    WideString system32Path;
    WideString sysWow64Path;
    WideString programFolder;
    WideString programPath;
    // Made once and shared by every check box and radio button; they outlive the windows that show them.
    GdiObjectHandle checkImages[4];
    UiWindow mainWindow{&events};
    UiMessageBox messageBox{&events};
    // Opens a web address; the shell by default.
    std::function<bool(const wchar_t*)> openAddress;

private:
    int32_t closesConsumed_ = 0;
};

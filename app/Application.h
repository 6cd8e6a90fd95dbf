#pragma once

#include <windows.h>

#include <cstdint>

#include "sys/WideString.h"

// The program's one long-lived object: start-up facts, the shared paths and the services the pages and the
// command line share (system-folder mapping, messages).
class Application {
public:
    static constexpr int kSizeCount = 10;
    static constexpr int32_t kSizeTable[kSizeCount] = {16, 24, 32, 48, 64, 72, 96, 128, 256, 512};
    static constexpr const wchar_t* kResourceExtensions = L".exe|.dll|.ocx|.scr|.cur|.ani|.ico|";
    static constexpr const wchar_t* kVersion = L"3.4.2.0";

    Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Runs the program for one command-line tail; the result is the process exit code.
    int RunApplication(HINSTANCE instance, const wchar_t* commandTail, int showMode);

    // On 64-bit Windows, turns System32 paths into SysNative and SysWOW64 paths into System32, so that a 32-bit
    // process reaches the folder the user meant. Unchanged without WOW64.
    WideString& MapSystemFolders(WideString& path) const;

    // Shows a message and waits for its answer: 1 first button, 255 another, 0 closed, 50 no event loop.
    int ShowMessage(const wchar_t* text, int kind, int height);

    // Fills the system folder paths from the Windows folder (step 2 of the start-up).
    void BuildSystemPaths();

    uint8_t batchKind = 0;
    bool isAdmin = false;
    HINSTANCE instance = nullptr;
    bool isWow64 = false;
    bool startedAfterUpdate = false;
    double osVersion = 0;
    WideString resourceExtensions;
    WideString sysNativePath;
    WideString system32Path;
    WideString sysWow64Path;
    WideString programFolder;
    WideString programPath;
};

#pragma once
// The program's main window built in this process as the program builds it, driven with real clicks and posted
// drops, and its events handled by its own dispatch.

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "MessageSupport.h"
#include "ScreenSupport.h"
#include "TestSupport.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "sys/SystemInfo.h"

namespace testing_support {

class MainWindowFixture : public ::testing::Test {
protected:
    // Builds and shows the window; its settings file lands in the test's folder.
    void ShowMainWindow() {
        app.instance = GetModuleHandleW(nullptr);
        app.isWow64 = IsWow64(nullptr);
        app.BuildSystemPaths();
        app.programFolder = folder.Path();
        app.isAdmin = false;
        main = std::make_unique<MainWindow>(app);
        ASSERT_TRUE(main->BuildMainWindow(0, WideString()));
        main->Show(SW_SHOWNORMAL);
        SetForegroundWindow(app.mainWindow.window);
        Pump();
    }

    // Dispatches what comes until the queue has stayed empty for a few rounds (tooltip timers may never let it
    // rest: at most two seconds) and no page's worker still makes a preview or runs a job (at most twenty).
    void Pump() {
        const DWORD start = GetTickCount();
        auto busy = [this, start](int quiet) {
            const DWORD elapsed = GetTickCount() - start;
            return (quiet < 4 && elapsed < 2000) || (main->Busy() && elapsed < 20000);
        };
        for (int quiet = 0; busy(quiet);) {
            bool any = false;
            while (app.NextEvent(false)) {
                any = true;
                main->Dispatch();
            }
            if (any) {
                quiet = 0;
            } else {
                ++quiet;
                Sleep(15);
            }
        }
    }

    UiWindow& w() { return app.mainWindow; }
    std::wstring Text(int index) { return w().getText(index).Text(); }
    bool Checked(int index) { return w().getState(index, kStateChecked) != 0; }

    void Click(int index) {
        ClickCentre(w().handleOf(index));
        // A pointer left resting on a control can keep the window repainting, so the queue would never settle.
        SetCursorPos(0, 0);
        Pump();
    }
    void Drop(const std::vector<std::wstring>& paths, int onControl) {
        PostDrop(w().window, CentreIn(w().handleOf(onControl), w().window), paths);
        Pump();
    }

    TempFolder folder;
    Application app;
    std::unique_ptr<MainWindow> main;
};

}  // namespace testing_support

#pragma once

#include <cstdint>

#include "app/BatchPage.h"
#include "app/SingleIconPage.h"
#include "app/UtilitiesPage.h"
#include "sys/WideString.h"
#include "ui/UiEventSlot.h"

class Application;

// The frameless main window: header, links, the tab control with its three pages, and the one event loop that
// serves them all. It builds into the application's main window object and reads the application's event slot.
class MainWindow {
public:
    static constexpr int kPageCount = 3;

    explicit MainWindow(Application& app);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Builds the window, header, tab control and pages, and applies the start-up preload (the command-line result
    // and the parser's source). False when the window could not be created (no display).
    bool BuildMainWindow(int commandResult, const WideString& source);
    // Shows the window with the start's show mode, ready for typing in the source field.
    void Show(int showMode);
    // Waits for events and dispatches them until the window is closed, the message loop ends or the program has
    // restarted itself elevated. A running batch is cancelled and a running job finished before it returns.
    void RunEventLoop();
    // Handles the event in the application's slot: the workers' results first, then a close request, the window's
    // own controls, or the page that owns the control. False when the loop must end.
    bool Dispatch();
    // True while a page's worker makes a preview or runs a job.
    bool Busy() const;

    // The page shown now (0-2).
    int ShownPage();
    // Hides the window and starts the program again elevated with the source; true when it started (the loop then
    // ends), false when it did not and the window is back.
    bool RunAsAdministrator();

    SingleIconPage single;
    BatchPage batch;
    UtilitiesPage utilities;
    int32_t tab = 0;
    int32_t pages[kPageCount] = {};
    int32_t shield = 0;
    int32_t runAsAdminLink = 0;
    // Set once the elevated instance has started.
    bool restarted = false;

private:
    void BuildHeader();
    void AddPage(int position);
    // A close request: the first one during a batch cancels it and the window stays; otherwise the running job
    // ends first, so nothing is left half-written. False when the loop must end.
    bool OnCloseRequest();
    void OnFilesDropped(int target);
    void CollectJobs();

    Application& app_;
};

#pragma once

#include <cstdint>
#include <functional>
#include <vector>

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
    // restarted itself elevated.
    void RunEventLoop();
    // Runs the first row of the dispatch table that matches the event in the application's slot. False when the
    // loop must end.
    bool Dispatch();

    // One row of the dispatch table. Rows run in the order of their numbers; the batch and utilities pages add
    // theirs (13-14 and 16-27) when they are built.
    struct Row {
        int order;
        std::function<bool(const UiEventSlot&)> matches;
        std::function<void()> run;
    };
    void AddRow(int order, std::function<bool(const UiEventSlot&)> matches, std::function<void()> run);
    // What a page does with files dropped while it is shown: the control they were dropped on and the paths joined
    // by "\r\n". Page 0's is set by the build.
    std::function<void(int, const WideString&)> dropHandlers[kPageCount];

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
    void AddPageRows();

    Application& app_;
    std::vector<Row> rows_;
};

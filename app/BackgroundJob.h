#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "sys/Handles.h"

// One piece of work on a worker thread. When the work returns, the worker posts an empty message to a window, so
// the event loop that serves the window wakes and its owner can collect the result there. The work must not touch
// the window's controls; it may send messages to the window, which the loop answers.
class BackgroundJob {
public:
    BackgroundJob();
    // Waits for a worker still running.
    ~BackgroundJob();
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

    // Starts the work (with COM on its thread) unless one is still running; false when no worker could start, and
    // then nothing ran.
    bool Start(std::function<DWORD()> work, HWND notify);
    // True from Start until Collect.
    bool Running() const { return thread_.Valid(); }
    // True once the work has returned; also when nothing runs.
    bool Finished() const;
    // Waits for the worker's end, answering messages sent to this thread meanwhile, and releases it: the work's
    // result, 0 when nothing ran or the work failed.
    DWORD Collect();

private:
    struct Work;
    static DWORD WINAPI Entry(void* parameter);

    std::unique_ptr<Work> work_;
    KernelHandle thread_;
};

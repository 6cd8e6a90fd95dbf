#pragma once

#include <cstdint>

#include "app/CommandLine.h"
#include "sys/WideString.h"

class Application;

// The process exit codes of a run, as documented for scripts. A single job and a batch give the same numbers
// different meanings; a run that opens the main window ends with kSuccess.
enum class ExitCode : uint8_t {
    kSuccess = 0,
    kJobFailed = 1,  // the single job wrote nothing, or did not run
    kBatchWroteNothing = 0,
    kBatchWrote = 1,
    kBatchNoSizes = 2,
    kBatchInvalidOption = 252,  // an argument no option takes: nothing ran and nothing was created
    kBatchInvalidTarget = 253,
    kBatchInvalidSource = 254,
};

// How a command line's run ended: the exit code once a job has run (or was refused), or the main window's start.
struct CommandOutcome {
    bool opensWindow = false;
    ExitCode exitCode = ExitCode::kSuccess;
    // What the user is told before the run ends or the window opens; null for nothing.
    const wchar_t* message = nullptr;
    // For the main window: 0 nothing preloaded, 3 a file, 4 a resource file, -2 after an invalid command line; and
    // the file it opens with.
    int preload = 0;
    WideString source;
};

// Runs a request: system folders mapped, the lone path's existence checked, the single job or the batch run on
// this thread to its end. Shows nothing; the message belongs to the caller.
CommandOutcome RunCommand(Application& app, const CommandRequest& request);

// Runs a request and shows its outcome's message (in the program's box, OK only).
CommandOutcome RunCommandLine(Application& app, const CommandRequest& request);

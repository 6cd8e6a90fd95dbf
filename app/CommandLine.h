#pragma once

#include "sys/WideString.h"

class Application;

// Reads the command-line tail and runs a command-line job when it names one. Results: 0 nothing to do, 1 single
// job written, 2 single job failed (also: not run because an argument was not understood), 3/4 one existing path
// (ordinary / resource file), -2 invalid command line; with a batch command the batch result (1, 0, 2, -2, -3, and
// -4 for an argument not understood).
int ParseCommandLine(Application& app, const wchar_t* commandTail, WideString& source, WideString& target,
                     WideString& iconIndex);

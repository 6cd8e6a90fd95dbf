#pragma once

#include "sys/WideString.h"

class Application;

// Reads the command-line tail and runs a command-line job when it names one. Results: 0 nothing to do, 1 single
// job written, 2 single job failed, 3/4 one existing path (ordinary / resource file), -2 invalid command line;
// with a batch command the batch result (1, 0, 2, -2, -3).
int ParseCommandLine(Application& app, const wchar_t* commandTail, WideString& source, WideString& target,
                     WideString& iconIndex);

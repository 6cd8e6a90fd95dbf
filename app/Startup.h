#pragma once

#include <windows.h>

class Application;

// Runs the program for one command-line tail: a command-line job to its end, or the main window until it closes.
// The result is the process exit code.
int RunApplication(Application& app, HINSTANCE instance, const wchar_t* commandTail, int showMode);

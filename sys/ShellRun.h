#pragma once

#include <windows.h>

// Starts a program or opens a document through the shell (verb null = the default verb; "runas" = elevated).
// Returns 0 on failure, the new process's id when the shell handed back a process, else 1.
DWORD ShellRun(const wchar_t* file, const wchar_t* parameters = nullptr, const wchar_t* verb = nullptr);

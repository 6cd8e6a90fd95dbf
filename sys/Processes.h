#pragma once

#include <windows.h>

#include "sys/WideString.h"

// Ids 0 to 4 are never opened: only 4, the system process, counts as running.
bool IsProcessAlive(DWORD processId);
// Full path of the process's program file, with native forms ("\SystemRoot\...", "\??\...") turned into
// ordinary paths. On failure the path is left unchanged.
bool ProcessImagePath(DWORD processId, WideString& path);
// Turns "\SystemRoot\..." into the Windows folder's path and drops a leading "\??\"; other paths stay as they are.
void NormalizeNativePath(WideString& path);
// Id of the first running process whose image path equals the given full path (ignoring case), 0 when none.
DWORD FindProcessByImage(const wchar_t* imagePath);
// Ends a process with escalating force: WM_DESTROY to its top-level windows, then TerminateProcess, then
// TerminateThread on each of its threads. True when the process no longer runs.
bool KillProcess(DWORD processId);

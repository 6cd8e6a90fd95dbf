#pragma once

#include <windows.h>

// Facts about the running system and process. Optional platform functions are looked up at run time; a missing
// one gives the documented fallback (false or 0).
bool IsUserAdmin();
// True when the given process (null = this one) is a 32-bit process on a 64-bit system.
bool IsWow64(HANDLE process = nullptr);
bool AllowMessageThroughFilter(UINT message);
// Windows version as major + minor / 10 (6.1, 10, 11 ...), 0 when it cannot be determined.
double OsVersion();
// Handles every pending message of the thread; true when at least one was handled. A quit request is left in
// the queue for the caller's own message loop.
bool PumpMessages();

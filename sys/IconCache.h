#pragma once

#include <windows.h>

#include "sys/WideString.h"

// What raising and restoring the shell's icon size came to.
enum class IconSizeBump {
    kDone,     // read, raised by 6, broadcast, put back and broadcast again
    kNoValue,  // the value does not exist (the default on current systems): there is nothing to bump
    kFailed,   // the key could not be opened, the value is neither a 32-bit number nor decimal text, or a write failed
};

// Raises "Shell Icon Size" by 6 and puts it back, broadcasting each change, so that the shell rebuilds its icons.
// The value may be a 32-bit number or decimal text (the system stores it as text); it is raised in its own type.
IconSizeBump BumpShellIconSizeOutcome();
// True only when the value was read, raised and restored.
bool BumpShellIconSize();

// Deletes the icon cache files of the user (the shell is restarted between the two deletions) and makes the shell
// rebuild its icons. False when neither deletion step removed anything, or when the icon size could not be
// bumped; with no icon size value at all the deletions decide.
bool ClearIconCache();

struct IShellWindows;

// Refreshes the desktop's view and the view of every open shell window; the number of views refreshed.
int RefreshShellViews();
// The same for a given shell-windows collection: the desktop's view counts 1 when it refreshed; the windows follow
// in order, each refreshed view adding 1, until the first window without a browser or view.
int RefreshShellViewsOf(IShellWindows* windows);

// Ends every running shell process and starts the shell again when the system did not, as the system starts it.
// The number of shell processes ended once the shell shows its window again; 0 when none was ended or the shell
// did not come back within a few seconds (under Wine its desktop process cannot be started again while other
// programs run).
int RestartShell();

// The shell's program file: the Windows folder's explorer.exe.
WideString ShellProgramPath();
// Id of a running shell process, 0 when none. Besides the Windows folder's explorer.exe this accepts the system
// folder's one, which is where some platforms (Wine) run their shell from.
DWORD FindShellProcess();

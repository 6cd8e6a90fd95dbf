#pragma once

#include <windows.h>

// Which files the file manager shows or hides.
enum class ExplorerItems {
    kHiddenFiles,  // files marked hidden
    kSystemFiles,  // protected operating-system files
};

// The stored state of the two settings: true = shown.
struct ExplorerVisibility {
    bool hiddenFiles = false;
    bool systemFiles = false;
};

// Shows or hides one kind of file for the current user. The settings are coupled: showing system files also
// shows hidden files, hiding hidden files also hides system files. Returns the number of values written (0 =
// failure, for example when the settings key does not exist); after any write the open shell views refresh.
int SetExplorerVisibility(bool show, ExplorerItems which);

// Reads both settings; a missing value or one that is no 32-bit number reads as hidden, and hidden files are shown
// only for "Hidden" = 1 (the system stores 2 for hidden).
ExplorerVisibility ReadExplorerVisibility();

#pragma once

#include "sys/WideString.h"

// The three names of the system folders a 32-bit process on 64-bit Windows deals with, made from the Windows folder.
struct SystemFolderPaths {
    WideString system32;
    WideString sysNative;
    WideString sysWow64;
};
SystemFolderPaths SystemFolderPathsOf(const WideString& windowsFolder);

// With wow64, turns System32 paths into SysNative and SysWOW64 paths into System32 (ignoring case), so that a 32-bit
// process reaches the folder the user meant; unchanged otherwise.
WideString& MapSystemFolders(WideString& path, const SystemFolderPaths& folders, bool wow64);
// The same for this process, on this system: for callers that hold no application object.
WideString& MapSystemFoldersOfThisProcess(WideString& path);

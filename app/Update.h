#pragma once

#include "sys/WideString.h"

// The start-up's view of the update download: whether a newer version has been installed since this program
// file started, and the cleanup of what an update leaves behind.
bool IsNewerVersionInstalled(const WideString& programPath);
// Deletes programPath + ".temp", the old program file an update leaves for the next start.
void RemoveUpdateLeftover(const WideString& programPath);

#include "app/Update.h"

#include "sys/FileOperations.h"

bool IsNewerVersionInstalled(const WideString&) {
    // The download side of updates is not part of this program yet, so nothing can have been installed.
    return false;
}

void RemoveUpdateLeftover(const WideString& programPath) {
    WideString leftover = WideString::Concat(programPath, L".temp");
    ForceDelete(leftover.Text(), 0);
}

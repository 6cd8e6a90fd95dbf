#pragma once

#include <windows.h>

#include "sys/Handles.h"

// Lists the entries of one folder that match a pattern (FindFirstFileW/FindNextFileW), always skipping "." and
// "..". The find handle is closed as soon as the listing ends.
class FolderEnumerator {
public:
    enum Filter : unsigned { kSkipReparsePoints = 1, kFilesOnly = 2, kFoldersOnly = 4 };

    FolderEnumerator() = default;
    // Starts listing a pattern such as C:\dir\*.ico; false when the listing cannot start (see StartError).
    // kFilesOnly wins over kFoldersOnly.
    bool Start(const wchar_t* pattern, unsigned filter = 0);
    // Moves to the next accepted entry; false when there is none left.
    bool Next();

    const WIN32_FIND_DATAW& Entry() const { return entry_; }
    const wchar_t* Name() const { return entry_.cFileName; }
    DWORD Attributes() const { return entry_.dwFileAttributes; }
    bool IsFolder() const { return (entry_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool IsReparsePoint() const { return (entry_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
    // The platform's error code of the last Start that failed, 0 after one that succeeded.
    DWORD StartError() const { return startError_; }

private:
    bool Accepts() const;

    FindHandle find_;
    WIN32_FIND_DATAW entry_ = {};
    unsigned filter_ = 0;
    bool pending_ = false;
    DWORD startError_ = 0;
};

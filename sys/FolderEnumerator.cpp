#include "sys/FolderEnumerator.h"

bool FolderEnumerator::Start(const wchar_t* pattern, unsigned filter) {
    find_.Reset();
    pending_ = false;
    filter_ = filter;
    startError_ = 0;
    find_.Reset(FindFirstFileW(pattern ? pattern : L"", &entry_));
    if (!find_) {
        startError_ = GetLastError();
        if (startError_ == 0) startError_ = ERROR_FILE_NOT_FOUND;
        return false;
    }
    pending_ = true;
    return true;
}

bool FolderEnumerator::Next() {
    while (find_) {
        if (pending_) {
            pending_ = false;
        } else if (!FindNextFileW(find_.Get(), &entry_)) {
            find_.Reset();
            break;
        }
        if (Accepts()) return true;
    }
    return false;
}

bool FolderEnumerator::Accepts() const {
    const wchar_t* name = entry_.cFileName;
    if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) return false;
    if ((filter_ & kSkipReparsePoints) && IsReparsePoint()) return false;
    if (filter_ & kFilesOnly) return !IsFolder();
    if (filter_ & kFoldersOnly) return IsFolder();
    return true;
}

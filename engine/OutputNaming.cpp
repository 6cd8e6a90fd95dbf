#include "engine/OutputNaming.h"

#include <windows.h>
#include <shlobj.h>

#include "sys/FileOperations.h"

namespace {

bool FileExists(const WideString& path) {
    const DWORD attributes = GetFileAttributesW(path.Text());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

WideString BackupPath(const WideString& output) {
    const WideString extension = output.Extension(true);
    WideString backup(output);
    if (extension.IsEmpty()) return backup.Append(L" (backup)");
    backup.DropRight(extension.Length());
    return backup.Append(L" (backup)", extension);
}

bool MoveAsideExisting(const WideString& output, WideString* item, WideString& backup) {
    backup = BackupPath(output);
    if (!FileExists(output)) return false;
    const bool itemIsOutput = item != nullptr && IsSameFile(*item, output);
    // The first backup is never replaced: an existing one already holds the file this job started from.
    if (GetFileAttributesW(backup.Text()) != INVALID_FILE_ATTRIBUTES) {
        if (itemIsOutput) *item = backup;
        return false;
    }
    if (!MoveFileExW(output.Text(), backup.Text(), 0)) return false;
    if (itemIsOutput) *item = backup;
    return true;
}

bool FinishOutput(const WideString& backup, const WideString& output, bool moved, bool succeeded) {
    if (moved && !succeeded) return MoveFileExW(backup.Text(), output.Text(), MOVEFILE_REPLACE_EXISTING) != 0;
    SHChangeNotify(moved ? SHCNE_UPDATEITEM : SHCNE_CREATE, SHCNF_PATHW, output.Text(), nullptr);
    return true;
}
